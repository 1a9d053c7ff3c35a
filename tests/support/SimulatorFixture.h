// Starts the array simulator in-process for a test: its own cluster state,
// HTTP and HTTPS listeners on free loopback ports, and a VirtualClock that
// becomes the process clock, so the engine and the simulator share time.
//
//   zqtest::SimulatorFixture sim;                   // default cluster
//   sim.sim().addVolume("db01", "Pool0", 1 << 30);  // seed through the control API
//   auto client = sim.client();                     // connected Pegasus::CIMClient
//   sim.clock().advanceMs(5000);                    // or let the engine sleep
//   sim.sim().faults().add(arraysim::Fault::http("GetInstance", 500));
//   auto log = sim.sim().requestLog().find("ModifySynchronization");
//
// The clock is restored when the fixture goes away. MODEL.md describes the
// cluster, the control API and the faults.
#pragma once

#include <memory>
#include <string>

#include "ArraySimulator.h"
#include "SimHttpServer.h"
#include "ZqClock.h"
#include "cim/CIMClient.h"
#include "cim/CIMObjectPath.h"

namespace zqtest {

class SimulatorFixture {
public:
    struct Options {
        arraysim::ClusterState cluster = arraysim::ArraySimulator::defaultCluster();
        arraysim::Credentials credentials;  // admin/admin
        bool https = true;
        // Make the fixture's VirtualClock the process clock (zq::platform::setClock).
        bool installClock = true;
        // The clock to read; none: the fixture makes its own.
        std::shared_ptr<zq::platform::VirtualClock> clock;
        // Real time-out of the clients client() makes (network time-outs are
        // scaled by the clock's time scale; this is before scaling).
        uint32_t clientTimeoutRealMs = 20000;
    };

    SimulatorFixture();
    explicit SimulatorFixture(Options options);
    ~SimulatorFixture();
    SimulatorFixture(const SimulatorFixture&) = delete;
    SimulatorFixture& operator=(const SimulatorFixture&) = delete;

    arraysim::ArraySimulator& sim() { return *sim_; }
    zq::platform::VirtualClock& clock() { return *clock_; }
    std::shared_ptr<zq::platform::VirtualClock> sharedClock() { return clock_; }

    std::string host() const { return "127.0.0.1"; }
    int httpPort() const { return server_->httpPort(); }
    int httpsPort() const { return server_->httpsPort(); }
    const std::string& user() const { return credentials_.user; }
    const std::string& password() const { return credentials_.password; }
    static const char* nameSpace() { return "root/ibm"; }

    // A client connected over HTTP, or over HTTPS accepting the self-signed
    // certificate, with a time-out of Options::clientTimeoutRealMs of real time.
    std::unique_ptr<Pegasus::CIMClient> client(bool https = false) const;
    // The same with other credentials.
    std::unique_ptr<Pegasus::CIMClient> clientAs(const std::string& user, const std::string& password,
                                                 bool https = false) const;

    // Paths of the cluster's objects, as the provider writes them.
    Pegasus::CIMObjectPath configurationService();
    Pegasus::CIMObjectPath controllerService();
    Pegasus::CIMObjectPath volumePath(const std::string& nameOrUid);
    Pegasus::CIMObjectPath mappingPath(const std::string& source, const std::string& target);
    std::string volumeUid(const std::string& name);

private:
    std::shared_ptr<zq::platform::VirtualClock> clock_;
    std::shared_ptr<zq::platform::Clock> previousClock_;
    bool installedClock_ = false;
    uint32_t clientTimeoutRealMs_ = 20000;
    arraysim::Credentials credentials_;
    std::unique_ptr<arraysim::ArraySimulator> sim_;
    std::unique_ptr<arraysim::SimHttpServer> server_;
};

// Whether `text` is a path of the same object as `expected`: class and keys,
// whatever the host and namespace (an empty text or one that does not parse
// is not).
bool sameObject(const std::string& text, Pegasus::CIMObjectPath expected);

}  // namespace zqtest
