// Platform settings of the section "HostModule" for the length of a test:
// installs an empty configuration and puts the previous one back.
#pragma once

#include <memory>
#include <string>

#include "ZQPlatformInfo.h"
#include "ZqPlatformRegistry.h"

namespace zqtest {

class ScopedHostSettings {
public:
    ScopedHostSettings() = default;
    ScopedHostSettings(const ScopedHostSettings&) = delete;
    ScopedHostSettings& operator=(const ScopedHostSettings&) = delete;

    void set(const std::string& key, const std::string& value) { info_->set("HostModule", key, value); }
    void set(const std::string& key, int value) { set(key, std::to_string(value)); }
    void unset(const std::string& key) { info_->unset("HostModule", key); }

private:
    std::shared_ptr<ZQPlatformInfo> info_ = std::make_shared<ZQPlatformInfo>();
    zq::platform::ScopedService<ZQPlatformInfo> scope_{zq::platform::registry().platformInfo, info_};
};

}  // namespace zqtest
