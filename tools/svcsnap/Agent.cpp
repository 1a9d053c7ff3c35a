#include "Agent.h"

#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <iostream>
#include <mutex>

#include "ArrayCheck.h"
#include "Arrays.h"
#include "KnownCopies.h"
#include "LinuxHostBackend.h"
#include "Output.h"
#include "Progress.h"
#include "RemoteExec.h"
#include "SimHostBackend.h"
#include "ZQPlatformInfo.h"
#include "ZqClock.h"
#include "ZqDebugLogSink.h"
#include "ZqPlatformRegistry.h"

namespace svcsnap {

namespace {

constexpr uint32_t kSideChannelTimeoutMs = 20000;

// The host's device back end, made when the engine first opens a device, so
// that commands that never do need no working host configuration.
class HostDevices : public zq::platform::DeviceBackend {
public:
    explicit HostDevices(Agent& agent) : agent_(agent) {}
    std::shared_ptr<ZqDevice> open(const std::string& name, CUxError* error) override {
        std::shared_ptr<zq::platform::DeviceBackend> backend;
        try {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!backend_) backend_ = agent_.host().backend->deviceBackend();
            backend = backend_;
        } catch (const std::exception& e) {
            if (error) error->set(ENODEV, std::string("no host devices: ") + e.what());
            return nullptr;
        }
        if (!backend) {
            if (error) error->set(ENODEV, "no host devices");
            return nullptr;
        }
        return backend->open(name, error);
    }

private:
    Agent& agent_;
    std::mutex mutex_;
    std::shared_ptr<zq::platform::DeviceBackend> backend_;
};

// The debug log file, made (with its directory) when the first line comes:
// commands that log nothing leave nothing behind.
class LazyDebugLog : public zq::platform::DebugLogSink {
public:
    explicit LazyDebugLog(std::string path) : path_(std::move(path)) {}
    void write(int level, const std::string& function, const std::string& text) override {
        std::shared_ptr<zq::platform::DebugLogSink> file;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!file_) {
                std::error_code ec;
                std::filesystem::create_directories(std::filesystem::path(path_).parent_path(), ec);
                file_ = std::make_shared<zq::platform::FileDebugLog>(path_);
            }
            file = file_;
        }
        file->write(level, function, text);
    }

private:
    std::string path_;
    std::mutex mutex_;
    std::shared_ptr<zq::platform::DebugLogSink> file_;
};

std::string selfPath() {
    std::error_code ec;
    auto path = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string("svcsnap") : path.string();
}

}  // namespace

Agent::Agent(GlobalOptions options)
    : options_(std::move(options)), activity_(std::make_shared<ActivityBoard>()) {}

Agent::~Agent() {
    if (!installed_) return;
    finishLiveLine();
    Console::install(nullptr);
    auto& r = zq::platform::registry();
    r.snapCatalogue.replace(previousSnapQuery_);
    r.platformInfo.replace(previousInfo_);
    r.debugLog.replace(previousLog_);
    r.clock.replace(previousClock_);
    if (installedDevices_) r.devices.replace(previousDevices_);
}

const AgentConfig& Agent::config() {
    if (!config_) config_ = std::make_unique<AgentConfig>(AgentConfig::load(options_.config));
    return *config_;
}

std::string Agent::cataloguePath() {
    return options_.catalogue.empty() ? config().cataloguePath() : options_.catalogue;
}

Catalogue& Agent::catalogue() {
    // A catalogue named on the command line is a file in a directory that exists.
    if (!catalogue_) catalogue_ = std::make_unique<Catalogue>(cataloguePath(), options_.catalogue.empty());
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

void Agent::poseAs(const std::string& name) {
    if (!RemoteExecutor::validHostName(name)) throw UsageError("\"" + name + "\" is not a host name");
    posingAs_ = name;
}

std::vector<std::string> Agent::defaultRemoteCommand() {
    std::vector<std::string> command{selfPath()};
    if (config().fileFound()) command.insert(command.end(), {"--config", config().path()});
    command.insert(command.end(), {"--catalogue", cataloguePath()});
    command.insert(command.end(),
                   {"--plugin", Plugin::locate(options_.plugin.empty() ? config().pluginPath() : options_.plugin)});
    if (options_.quiet) command.push_back("--quiet");
    command.insert(command.end(), {"proxy-exec", "--as-host", "{host}"});
    return command;
}

std::shared_ptr<HostBackend> Agent::makeBackend() {
    if (config().devices() == "linux") {
        LinuxHostBackend::Settings settings;
        settings.scanTimeout = std::chrono::seconds(config().scanTimeoutSeconds());
        return std::make_shared<LinuxHostBackend>(settings);
    }
    SimHostBackend::Settings settings;
    for (const auto& i : config().simInitiators()) settings.initiators.push_back({i.name, i.iscsi});
    if (settings.initiators.empty())
        throw ConfigError("devices = simulated needs sim_initiators (this host's initiators) in " + config().path());
    settings.rescansToAppear = config().simRescans();
    settings.statePath = config().simStatePath(cataloguePath());
    Arrays arrays(catalogue());
    std::optional<ArrayEntry> array;
    std::string wanted = config().simArray();
    if (!wanted.empty()) {
        array = arrays.find(wanted);
        if (!array) throw ConfigError("sim_array " + wanted + " is not in the catalogue (svcsnap array add)");
    } else {
        auto all = arrays.list();
        if (all.size() != 1)
            throw ConfigError("devices = simulated: name the simulator's array with sim_array (the catalogue holds " +
                              std::to_string(all.size()) + " arrays)");
        array = all.front();
    }
    return std::make_shared<SimHostBackend>(settings, sideChannelFeed(*array, kSideChannelTimeoutMs));
}

const HostContext& Agent::host() {
    if (!host_) {
        auto context = std::make_unique<HostContext>();
        context->backend = makeBackend();
        context->activity = activity_;
        std::string configured = config().remoteCommand();
        std::vector<std::string> command =
            configured.empty() ? defaultRemoteCommand() : RemoteExecutor::split(configured);
        context->remote = std::make_shared<RemoteExecutor>(
            command, std::chrono::seconds(config().remoteTimeoutSeconds()));
        host_ = std::move(context);
    }
    return *host_;
}

ProgressClock::PercentReader Agent::copyProgressReader() {
    // One session per array for the step, opened at the first copy read; an
    // array that cannot be read gives no percentage, the step goes on.
    struct Reader {
        std::mutex mutex;
        std::unique_ptr<ArraySessions> sessions;
    };
    auto reader = std::make_shared<Reader>();
    return [this, reader](const CopyRef& copy) {
        constexpr uint32_t kReadTimeoutMs = 5000;
        std::lock_guard<std::mutex> lock(reader->mutex);
        try {
            if (!reader->sessions)
                reader->sessions = std::make_unique<ArraySessions>(Arrays(catalogue()).list(), kReadTimeoutMs,
                                                                   config().get("HostModule", kCaFileKey));
            const CopyState state = reader->sessions->of(copy.arrayId).copy(copy.sourcePath, copy.targetPath);
            return state.found ? state.percent : -1;
        } catch (const std::exception&) {
            return -1;
        }
    };
}

void Agent::installPlatformServices() {
    auto& r = zq::platform::registry();
    std::shared_ptr<ZQPlatformInfo> info = config().platformInfo();
    if (!posingAs_.empty()) {
        info->set("Platform", "PlatformType", "1");
        info->set("Platform", "ClientName", posingAs_);
    }
    previousInfo_ = r.platformInfo.replace(info);
    previousLog_ = r.debugLog.replace(std::make_shared<LazyDebugLog>(config().debugLogPath()));
    snapQuery_ = std::make_shared<CatalogueSnapQuery>([this]() -> Catalogue& { return catalogue(); });
    previousSnapQuery_ = r.snapCatalogue.replace(snapQuery_);
    installed_ = true;

    if (config().devices() != "linux") {
        previousDevices_ = r.devices.replace(std::make_shared<HostDevices>(*this));
        installedDevices_ = true;
    }
    ProgressClock::Sinks sinks;
    if (!options_.quiet) {
        std::string prefix = posingAs_.empty() ? "svcsnap: " : "svcsnap (proxy " + posingAs_ + "): ";
        auto console = std::make_shared<Console>(std::cerr, isatty(STDERR_FILENO) == 1);
        Console::install(console);
        sinks.line = [prefix, console](const std::string& line) { console->line(prefix + line); };
        if (console->terminal())
            sinks.live = [prefix, console](const std::string& line) { console->live(prefix + line); };
        sinks.percent = copyProgressReader();
    }
    auto base = r.clock.get();
    previousClock_ = r.clock.replace(std::make_shared<ProgressClock>(base, activity_, std::move(sinks)));
}

}  // namespace svcsnap
