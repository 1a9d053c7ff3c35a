// Platform services for an engine test: an empty configuration, a debug log
// kept in memory, simulated disks, an empty snapshot catalogue and a virtual
// clock. Everything is put back when the environment goes.
//
// Disks: the engine opens the disks added by hand (disks()) and those of the
// sources added with addDeviceSource (a host's view of the array), looked up
// in that order.
#pragma once

#include <memory>

#include "ZQPlatformInfo.h"
#include "ZqClock.h"
#include "ZqDebugLogSink.h"
#include "ZqPlatformRegistry.h"
#include "ZqSimulatedDevices.h"
#include "TestSnapCatalogue.h"

namespace zqtest {

class EngineEnvironment {
public:
    EngineEnvironment();
    ~EngineEnvironment();
    EngineEnvironment(const EngineEnvironment&) = delete;
    EngineEnvironment& operator=(const EngineEnvironment&) = delete;

    // Values of the platform configuration ("HostModule", "Platform" sections).
    ZQPlatformInfo& config() { return *config_; }
    zq::platform::StaticDeviceSource& disks() { return *disks_; }
    std::shared_ptr<zq::platform::StaticDeviceSource> diskSource() { return disks_; }
    void addDeviceSource(std::shared_ptr<zq::platform::DeviceSource> source);
    // Every disk the engine can open, as one source.
    std::shared_ptr<zq::platform::DeviceSource> devices();
    zq::platform::MemoryDebugLog& debugLog() { return *log_; }
    zq::platform::VirtualClock& clock() { return *clock_; }
    TestSnapCatalogue& catalogue() { return *catalogue_; }
    std::shared_ptr<zq::platform::VirtualClock> sharedClock() { return clock_; }

private:
    class AllDevices;

    std::shared_ptr<ZQPlatformInfo> config_;
    std::shared_ptr<zq::platform::StaticDeviceSource> disks_;
    std::shared_ptr<AllDevices> all_;
    std::shared_ptr<zq::platform::MemoryDebugLog> log_;
    std::shared_ptr<zq::platform::VirtualClock> clock_;
    std::shared_ptr<TestSnapCatalogue> catalogue_;
    zq::platform::ScopedService<ZQPlatformInfo> configSlot_;
    zq::platform::ScopedService<zq::platform::DeviceBackend> devicesSlot_;
    zq::platform::ScopedService<zq::platform::DebugLogSink> logSlot_;
    zq::platform::ScopedService<zq::platform::Clock> clockSlot_;
    zq::platform::ScopedService<zq::platform::SnapCatalogue> catalogueSlot_;
};

}  // namespace zqtest
