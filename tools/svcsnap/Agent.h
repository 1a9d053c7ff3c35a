// What the commands share: the global options, the configuration, the
// catalogue and the plug-in, each made when a command first needs it. Before
// the plug-in is first called, the agent installs its platform services in
// the platform library's registry: configuration, catalogue query and debug log.
#pragma once

#include <memory>
#include <string>

#include "AgentConfig.h"
#include "Catalogue.h"
#include "HostOSUtil.h"
#include "PluginLoader.h"

namespace zq {
namespace platform {
class SnapCatalogue;
class DebugLogSink;
}  // namespace platform
}  // namespace zq
class ZQPlatformInfo;

namespace svcsnap {

struct GlobalOptions {
    std::string config;
    std::string catalogue;
    std::string plugin;
    bool json = false;
    bool quiet = false;
};

class Agent {
public:
    explicit Agent(GlobalOptions options);
    ~Agent();
    Agent(const Agent&) = delete;
    Agent& operator=(const Agent&) = delete;

    const GlobalOptions& options() const { return options_; }
    const AgentConfig& config();
    std::string cataloguePath();
    Catalogue& catalogue();
    // Loads the plug-in and installs the platform services (once).
    const Plugin& plugin();
    std::shared_ptr<HostBackend> hostBackend();

private:
    void installPlatformServices();

    GlobalOptions options_;
    std::unique_ptr<AgentConfig> config_;
    std::unique_ptr<Catalogue> catalogue_;
    std::unique_ptr<Plugin> plugin_;
    std::shared_ptr<zq::platform::SnapCatalogue> snapQuery_;
    std::shared_ptr<zq::platform::SnapCatalogue> previousSnapQuery_;
    std::shared_ptr<ZQPlatformInfo> previousInfo_;
    std::shared_ptr<zq::platform::DebugLogSink> previousLog_;
    bool installed_ = false;
};

}  // namespace svcsnap
