// What the commands share: the global options, the configuration, the
// catalogue, the plug-in and the host (its back end, the board of what each
// record last logged, and remote execution), each made when a command first
// needs it. Before the plug-in is first called, the agent installs its
// platform services in the platform library's registry: configuration,
// catalogue query, debug log, the host's device back end and the clock that
// reports the engine's waits on standard error (unless --quiet).
#pragma once

#include <memory>
#include <string>

#include "AgentConfig.h"
#include "Catalogue.h"
#include "HostOSUtil.h"
#include "PluginLoader.h"

namespace zq {
namespace platform {
class Clock;
class DebugLogSink;
class DeviceBackend;
class SnapCatalogue;
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
    // The host back end chosen by the configuration, the activity board and
    // remote execution.
    const HostContext& host();
    std::shared_ptr<HostBackend> hostBackend() { return host().backend; }

    // This process stands for the host `name` (a proxy): the engine's client
    // name becomes `name`. Call before the plug-in is loaded.
    void poseAs(const std::string& name);
    const std::string& posingAs() const { return posingAs_; }

    // The command line that runs this binary as the proxy (remote_command unset).
    std::vector<std::string> defaultRemoteCommand();

private:
    void installPlatformServices();
    std::shared_ptr<HostBackend> makeBackend();
    // PercentSynced of a copy, read with our own client; -1 when it cannot be.
    ProgressClock::PercentReader copyProgressReader();

    GlobalOptions options_;
    std::string posingAs_;
    std::unique_ptr<AgentConfig> config_;
    std::unique_ptr<Catalogue> catalogue_;
    std::unique_ptr<Plugin> plugin_;
    std::shared_ptr<ActivityBoard> activity_;
    std::unique_ptr<HostContext> host_;
    std::shared_ptr<zq::platform::SnapCatalogue> snapQuery_;
    std::shared_ptr<zq::platform::SnapCatalogue> previousSnapQuery_;
    std::shared_ptr<ZQPlatformInfo> previousInfo_;
    std::shared_ptr<zq::platform::DebugLogSink> previousLog_;
    std::shared_ptr<zq::platform::Clock> previousClock_;
    std::shared_ptr<zq::platform::DeviceBackend> previousDevices_;
    bool installedDevices_ = false;
    bool installed_ = false;
};

}  // namespace svcsnap
