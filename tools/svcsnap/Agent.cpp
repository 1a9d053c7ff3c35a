#include "Agent.h"

#include <filesystem>

#include "KnownCopies.h"
#include "ZQPlatformInfo.h"
#include "ZqDebugLogSink.h"
#include "ZqPlatformRegistry.h"

namespace svcsnap {

Agent::Agent(GlobalOptions options) : options_(std::move(options)) {}

Agent::~Agent() {
    if (!installed_) return;
    auto& r = zq::platform::registry();
    r.snapCatalogue.replace(previousSnapQuery_);
    r.platformInfo.replace(previousInfo_);
    r.debugLog.replace(previousLog_);
}

const AgentConfig& Agent::config() {
    if (!config_) config_ = std::make_unique<AgentConfig>(AgentConfig::load(options_.config));
    return *config_;
}

std::string Agent::cataloguePath() {
    return options_.catalogue.empty() ? config().cataloguePath() : options_.catalogue;
}

Catalogue& Agent::catalogue() {
    if (!catalogue_) catalogue_ = std::make_unique<Catalogue>(cataloguePath());
    return *catalogue_;
}

const Plugin& Agent::plugin() {
    if (!plugin_) {
        std::string given = options_.plugin.empty() ? config().pluginPath() : options_.plugin;
        plugin_ = std::make_unique<Plugin>(Plugin::locate(given));
        installPlatformServices();
    }
    return *plugin_;
}

std::shared_ptr<HostBackend> Agent::hostBackend() {
    config().devices();  // checks the setting
    return std::make_shared<LinuxHostBackend>();
}

void Agent::installPlatformServices() {
    auto& r = zq::platform::registry();
    previousInfo_ = r.platformInfo.replace(config().platformInfo());
    std::string logPath = config().debugLogPath();
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(logPath).parent_path(), ec);
    previousLog_ = r.debugLog.replace(std::make_shared<zq::platform::FileDebugLog>(logPath));
    snapQuery_ = std::make_shared<CatalogueSnapQuery>(catalogue());
    previousSnapQuery_ = r.snapCatalogue.replace(snapQuery_);
    installed_ = true;
}

}  // namespace svcsnap
