#include "EngineEnvironment.h"

namespace zqtest {

using namespace zq::platform;

EngineEnvironment::EngineEnvironment()
    : config_(std::make_shared<ZQPlatformInfo>()),
      disks_(std::make_shared<StaticDeviceSource>()),
      log_(std::make_shared<MemoryDebugLog>()),
      clock_(std::make_shared<VirtualClock>()),
      catalogue_(std::make_shared<TestSnapCatalogue>()),
      configSlot_(registry().platformInfo, config_),
      devicesSlot_(registry().devices, std::make_shared<SimulatedDeviceBackend>(disks_)),
      logSlot_(registry().debugLog, log_),
      clockSlot_(registry().clock, clock_),
      catalogueSlot_(registry().snapCatalogue, catalogue_) {}

EngineEnvironment::~EngineEnvironment() = default;

}  // namespace zqtest
