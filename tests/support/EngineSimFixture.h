// Engine tests against the in-process array simulator: the platform services
// of EngineEnvironment and the simulator of SimulatorFixture on ONE virtual
// clock (a sleep of the engine moves the simulator's state machines at once),
// a test host that knows the simulated array, records bound to it, seeding
// helpers and readers of what the array holds afterwards.
//
//   zqtest::EngineSimFixture fx;
//   auto src  = fx.addSource("db01");                  // a 1 GiB source volume
//   auto snap = fx.addSnapshot("db01", "db01_s0");     // space-efficient target, mapping started
//   auto cln  = fx.addClone("db01", "db01_c0");        // full copy, copying at rate 50
//   fx.addGroup("cg0", {cln.mapping});                 // consistency group with that mapping
//   ZQSO::SnapInfo* rec = &fx.record();                // array selected, endpoint keys set
//   ... run the engine ...
//   EXPECT_EQ(fx.volumeNames(), (std::set<std::string>{"db01"}));
//
// Records: record() and makeBatch() give records of host() with the
// simulator's array selected and the record keys of its endpoint set
// ("SMCONFIG_NAME_SMIS_SERVER_PORT", "SMCONFIG_NAME_USE_SECURE_CONNECTION_TO_SMIS_SERVER"),
// so the engine's array parameters lead to the simulator. cimomParams() gives
// the same endpoint for tests that build snapshot objects by hand.
//
// Host disks: the test host lists the disks of the volumes the array maps to
// its initiators (host().setInitiators), through hostDisks(): a mapped
// volume's disk shows from the next rescan (the engine's bus refresh, or
// hostDisks().rescan() in a test), a removed mapping's disk goes at the next
// rescan; setRescansToAppear makes disks wait for more rescans. Disks added by
// hand (env().disks()) are listed too and keep their names; the view skips
// them. addVirtualHost gives a hypervisor host with its own initiator and
// disks, listed as hypervisor descriptors.
//
// Time: the configuration sets "ZQ_SMIS_CLIENT_TIMEOUT_IN_SEC" so that client
// time-outs (scaled by the clock's time scale) stay long in real time on a
// loaded machine. Nothing here waits in real time.
//
// Against a real provider (ZQ_TEST_CIMOM_URL) these tests cannot seed: call
// ZQ_NEEDS_SIMULATOR() in SetUp, as the other simulator tests do.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "ArraySimulator.h"
#include "EngineEnvironment.h"
#include "RecordBatch.h"
#include "SimulatorFixture.h"
#include "TestOSUtil.h"
#include "TestSnapInfo.h"
#include "ZqHostDiskView.h"
#include "ZqCimomParams.h"

namespace zqtest {

class EngineSimFixture {
public:
    struct Options {
        arraysim::ClusterState cluster = arraysim::ArraySimulator::defaultCluster();
        // Scheme the records ask for; the simulator listens on both.
        bool https = false;
        std::string hostName = "testhost";
    };

    // A volume as the array holds it.
    struct Volume {
        std::string name;
        std::string uid;   // its "Name"
        std::string path;  // its object path as the provider writes it
    };
    // A FlashCopy mapping from source to target.
    struct Copy {
        Volume source;
        Volume target;
        std::string mapping;      // the mapping's name ("ElementName")
        std::string mappingPath;  // its synchronization path, as the engine builds it
    };
    // How far a seeded copy has come.
    enum class CopyStage { Idle, Prepared, Started };

    EngineSimFixture();
    explicit EngineSimFixture(Options options);
    ~EngineSimFixture();
    EngineSimFixture(const EngineSimFixture&) = delete;
    EngineSimFixture& operator=(const EngineSimFixture&) = delete;

    // --- services
    EngineEnvironment& env() { return *env_; }
    // Platform configuration: set("HostModule", key, value).
    ZQPlatformInfo& config() { return env_->config(); }
    SimulatorFixture& simulator() { return *sim_; }
    arraysim::ArraySimulator& sim() { return sim_->sim(); }
    // The one clock of engine and simulator.
    zq::platform::VirtualClock& clock() { return env_->clock(); }
    TestOSUtil& host() { return *host_; }
    // The test host's disks of the array's mappings.
    zq::platform::HostDiskView& hostDisks() { return *hostDisks_; }
    // A hypervisor host named `name` (a record's virtual host name).
    zq::platform::HostDiskView& addVirtualHost(const std::string& name, const TestOSUtil::Initiator& initiator);
    // The simulated cluster's id: the array id and CIM system name.
    const std::string& arrayId() const { return arrayId_; }

    // --- records
    // The fixture's first record, bound (made on first use).
    TestSnapInfo& record();
    // Selects the simulator's array on `r` and sets its endpoint keys.
    void bind(TestSnapInfo& r);
    // A batch of `count` bound records; it is the host's current batch while it lives.
    std::unique_ptr<RecordBatch> makeBatch(size_t count);
    // The provider endpoint of the simulator (namespace "root/ibm").
    ZqCimomParams cimomParams() const;

    // --- seeding, through the array's rules: a refusal throws
    // std::runtime_error naming the array's return value
    Volume addSource(const std::string& name, uint64_t sizeBytes = kGiB, const std::string& pool = "Pool0");
    // Snapshot: a space-efficient target of the source's size and a mapping
    // with copy and clean rate 0.
    Copy addSnapshot(const std::string& source, const std::string& target, CopyStage stage = CopyStage::Started);
    // Clone: a thick target and a mapping at copy and clean rate 50.
    Copy addClone(const std::string& source, const std::string& target, bool incremental = false,
                  CopyStage stage = CopyStage::Started);
    // A consistency group holding the named mappings (idle or stopped ones).
    void addGroup(const std::string& name, const std::vector<std::string>& mappings = {});
    // The test host sees the volume as the disk `device`, with the inquiry
    // data the array answers (vendor "IBM", product "2145", page 0x80 serial
    // of the cluster, page 0x83 the volume's UID). Returns `device`.
    std::string addHostDisk(const std::string& volume, const std::string& device);
    // The engine id the host's array information names: 20 snapshot engine,
    // 21 clone engine (the fixture starts with 1).
    void setEngineId(int engineId);
    // `other` knows the simulated array as this fixture's host does, with the
    // same engine id (a proxy host).
    void shareArrayWith(TestOSUtil& other);

    // A host object with the given initiator ports, and a volume mapped to it.
    void addHost(const std::string& name, const std::vector<std::string>& ports);
    void mapToHost(const std::string& host, const std::string& volume);
    void unmapFromHost(const std::string& host, const std::string& volume);

    // --- what the array holds
    std::optional<Volume> volume(const std::string& nameOrUid);
    std::optional<arraysim::FcMapping> mapping(const std::string& name);
    std::optional<arraysim::FcMapping> mappingOfTarget(const std::string& volumeName);
    // SyncState of the named mapping as the provider shows it; -1 when absent.
    int syncState(const std::string& mapping);
    std::optional<std::set<std::string>> groupMembers(const std::string& group);
    std::set<std::string> volumeNames();
    std::set<std::string> mappingNames();
    std::set<std::string> groupNames();
    std::set<std::string> hostsOfVolume(const std::string& volumeName);

    static constexpr uint64_t kGiB = uint64_t(1) << 30;

private:
    zq::platform::HostDiskView::Feed arrayFeed();
    Copy addCopy(const std::string& source, const std::string& target, bool snapshot, bool incremental,
                 CopyStage stage);

    std::unique_ptr<EngineEnvironment> env_;
    std::unique_ptr<SimulatorFixture> sim_;
    std::unique_ptr<TestOSUtil> host_;
    std::shared_ptr<zq::platform::HostDiskView> hostDisks_;
    std::vector<std::shared_ptr<zq::platform::HostDiskView>> virtualHosts_;
    std::unique_ptr<TestSnapInfo> record_;
    bool https_ = false;
    std::string arrayId_;
    int engineId_ = 1;
};

}  // namespace zqtest
