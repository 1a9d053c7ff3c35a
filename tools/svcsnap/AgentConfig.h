// The agent's configuration: one INI file, from --config, else
// $SVCSNAP_CONFIG, else $XDG_CONFIG_HOME/svcsnap/svcsnap.ini (by default
// ~/.config/svcsnap/svcsnap.ini). Its sections [HostModule] and [Platform]
// are the platform values the engine reads; [svcsnap] holds the agent's own
// settings (a key or section not listed here is an error):
//   catalogue        path of the catalogue file
//                    (default $XDG_DATA_HOME/svcsnap/catalogue.db)
//   plugin           path of libzqsoibmsvc.so
//   control_host_id  this host's id in the catalogue (default 1)
//   devices          host back end: linux (default) or simulated
//   debug_log        the engine's process debug log
//                    (default debug.log beside the catalogue)
//   remote_command   how the engine runs on a proxy host: a command line
//                    split at blanks, "{host}" standing for the proxy
//                    (default: this binary, "proxy-exec --as-host {host}")
//   remote_timeout   seconds a remote run may take (default 7200)
//   scan_timeout     seconds one SCSI host's rescan may take before it is
//                    reported dead and skipped (default 5; linux devices)
//   log_steps        the steps of a job whose log lines are kept (default 20)
// With devices = simulated, the host is the simulator's host object(s):
//   sim_initiators   this host's initiators, separated by commas (WWPNs,
//                    or iSCSI names beginning with iqn., eui. or naa.)
//   sim_array        the catalogue's array whose provider is the simulator
//                    (default: the only array of the catalogue)
//   sim_rescans      rescans a new mapping needs before its disk is
//                    listed (default 1)
//   sim_state        the host's memory of its disks
//                    (default hostdisks.json beside the catalogue)
#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

class ZQPlatformInfo;

namespace svcsnap {

struct ConfigError : std::runtime_error {
    using std::runtime_error::runtime_error;
};
// The file named by --config or $SVCSNAP_CONFIG does not exist.
struct ConfigFileMissing : ConfigError {
    using ConfigError::ConfigError;
};

struct ConfigValue {
    std::string section;
    std::string key;
    std::string value;
};

// A key of [svcsnap] and what it sets.
struct ConfigKeyText {
    const char* key;
    const char* meaning;
};

class AgentConfig {
public:
    // Reads the file chosen by the rule above. A file named by --config or
    // $SVCSNAP_CONFIG must exist; the per-user default may be missing.
    static AgentConfig load(const std::string& explicitPath);

    const std::string& path() const { return path_; }
    bool fileFound() const { return found_; }
    const std::vector<ConfigValue>& values() const { return values_; }
    // Where the file path came from: "--config", "SVCSNAP_CONFIG" or "default".
    const std::string& origin() const { return origin_; }

    // A value of [section]; empty when absent.
    std::string get(const std::string& section, const std::string& key) const;
    bool has(const std::string& section, const std::string& key) const;

    std::string cataloguePath() const;
    std::string pluginPath() const;
    int controlHostId() const;
    std::string devices() const;
    std::string debugLogPath() const;
    std::string remoteCommand() const;
    int remoteTimeoutSeconds() const;
    int scanTimeoutSeconds() const;
    int logSteps() const;

    struct Initiator {
        std::string name;
        bool iscsi = false;
    };
    std::vector<Initiator> simInitiators() const;
    std::string simArray() const;
    unsigned simRescans() const;
    // The state file, by default beside the catalogue in use.
    std::string simStatePath(const std::string& cataloguePath) const;

    // The platform configuration the engine reads (the same file).
    std::shared_ptr<ZQPlatformInfo> platformInfo() const;

    // True for keys whose values are secrets (passwords and the like).
    static bool isSecret(const std::string& key);
    // The keys of [svcsnap], in the order the help lists them.
    static const std::vector<ConfigKeyText>& agentKeys();

private:
    int positive(const std::string& key, int fallback, int maximum) const;

    std::string path_;
    std::string origin_;
    bool found_ = false;
    std::vector<ConfigValue> values_;
};

}  // namespace svcsnap
