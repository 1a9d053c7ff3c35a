#include "ZqPlatformRegistry.h"

#include "EvDebug.h"
#include "ZQMMSnapAPI.h"
#include "ZQPlatformInfo.h"
#include "ZqClock.h"
#include "ZqDebugLogSink.h"
#include "ZqLinuxDevices.h"

namespace zq {
namespace platform {

namespace {

class NoSnapCatalogue : public SnapCatalogue {
public:
    int getVolumeSnaps(int, SMVolSnapInfo&) override {
        EvDebug().DebugLvl("ZQMMSnapAPI::getVolumeSnaps", 2, "no snapshot catalogue is configured");
        return 1;
    }
};

}  // namespace

Registry::Registry()
    : clock([] { return std::shared_ptr<Clock>(std::make_shared<ScaledClock>(timeScaleFromEnvironment())); }),
      platformInfo([] { return ZQPlatformInfo::fromEnvironment(); }),
      debugLog([] { return FileDebugLog::fromEnvironment(); }),
      devices([] { return std::shared_ptr<DeviceBackend>(std::make_shared<LinuxDeviceBackend>()); }),
      snapCatalogue([] { return std::shared_ptr<SnapCatalogue>(std::make_shared<NoSnapCatalogue>()); }) {}

Registry& registry() {
    static Registry instance;
    return instance;
}

}  // namespace platform
}  // namespace zq
