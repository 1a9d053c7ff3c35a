#include "ZqSmisSettings.h"

#include "ZQPlatformInfo.h"

namespace ZqSmisSettings {

int GetHostModuleInt(const char* key, int defaultValue) {
    int value = defaultValue;
    auto info = zq::platform::platformInfo();
    if (!info || !info->getRegInt("HostModule", key, &value)) return defaultValue;
    return value;
}

std::string GetHostModuleText(const char* key) {
    std::string value;
    auto info = zq::platform::platformInfo();
    if (!info || !info->getString("HostModule", key, &value)) return std::string();
    return value;
}

std::string ProviderCaFile() { return GetHostModuleText("IBMSVC_SMIS_CA_FILE"); }

unsigned short DefaultClientTimeoutSecs() {
    constexpr int kMinimum = 300;
    constexpr int kMaximum = 65535;
    int configured = GetHostModuleInt("ZQ_SMIS_CLIENT_TIMEOUT_IN_SEC", 0);
    if (configured <= kMinimum) return kMinimum;
    return static_cast<unsigned short>(configured > kMaximum ? kMaximum : configured);
}

bool VolumeCacheEnabled() { return GetHostModuleInt("ZQ_SMIS_CACHE_VOLUME_INSTANCES", 0) > 0; }

}  // namespace ZqSmisSettings
