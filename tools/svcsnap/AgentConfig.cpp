#include "AgentConfig.h"

#include <ini.h>
#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>

#include "ZQPlatformInfo.h"

namespace svcsnap {

namespace {

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return s;
}

std::string homeDir(const char* xdgVariable, const char* fallback) {
    const char* xdg = std::getenv(xdgVariable);
    if (xdg && *xdg) return xdg;
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : ".") + "/" + fallback;
}

// The sections the engine and the platform read; their keys are theirs.
const char* const kPlatformSections[] = {"HostModule", "Platform"};

// A key the agent does not know is a typo that would silently change
// nothing; it stops the command and names the key and the file.
void checkKnown(const std::vector<ConfigValue>& values, const std::string& path) {
    for (const auto& v : values) {
        if (strcasecmp(v.section.c_str(), "svcsnap") == 0) {
            const auto& keys = AgentConfig::agentKeys();
            const bool known = std::any_of(keys.begin(), keys.end(), [&](const ConfigKeyText& k) {
                return strcasecmp(k.key, v.key.c_str()) == 0;
            });
            if (!known) throw ConfigError("unknown key \"" + v.key + "\" in section [svcsnap] of " + path);
            continue;
        }
        const bool platform = std::any_of(std::begin(kPlatformSections), std::end(kPlatformSections),
                                          [&](const char* s) { return strcasecmp(s, v.section.c_str()) == 0; });
        if (v.section.empty())
            throw ConfigError("key \"" + v.key + "\" stands before any section in " + path);
        if (!platform)
            throw ConfigError("unknown section [" + v.section + "] (key \"" + v.key + "\") in " + path +
                              "; the sections are [svcsnap], [HostModule] and [Platform]");
    }
}

int collect(void* user, const char* section, const char* key, const char* value) {
    auto* values = static_cast<std::vector<ConfigValue>*>(user);
    values->push_back({section ? section : "", key ? key : "", value ? value : ""});
    return 1;
}

}  // namespace

AgentConfig AgentConfig::load(const std::string& explicitPath) {
    AgentConfig c;
    const char* fromEnv = std::getenv("SVCSNAP_CONFIG");
    if (!explicitPath.empty()) {
        c.path_ = explicitPath;
        c.origin_ = "--config";
    } else if (fromEnv && *fromEnv) {
        c.path_ = fromEnv;
        c.origin_ = "SVCSNAP_CONFIG";
    } else {
        c.path_ = homeDir("XDG_CONFIG_HOME", ".config") + "/svcsnap/svcsnap.ini";
        c.origin_ = "default";
    }
    std::error_code ec;
    if (!std::filesystem::exists(c.path_, ec)) {
        if (c.origin_ != "default") throw ConfigFileMissing("the configuration file " + c.path_ + " does not exist");
        return c;
    }
    int rc = ini_parse(c.path_.c_str(), collect, &c.values_);
    if (rc < 0) throw ConfigError("cannot read the configuration file " + c.path_);
    if (rc > 0) throw ConfigError("the configuration file " + c.path_ + " has an error at line " + std::to_string(rc));
    checkKnown(c.values_, c.path_);
    c.found_ = true;
    return c;
}

bool AgentConfig::has(const std::string& section, const std::string& key) const {
    for (const auto& v : values_)
        if (strcasecmp(v.section.c_str(), section.c_str()) == 0 && strcasecmp(v.key.c_str(), key.c_str()) == 0)
            return true;
    return false;
}

std::string AgentConfig::get(const std::string& section, const std::string& key) const {
    std::string found;
    for (const auto& v : values_)  // the last one wins, as in the platform reader
        if (strcasecmp(v.section.c_str(), section.c_str()) == 0 && strcasecmp(v.key.c_str(), key.c_str()) == 0)
            found = v.value;
    return found;
}

std::string AgentConfig::cataloguePath() const {
    std::string p = get("svcsnap", "catalogue");
    return p.empty() ? homeDir("XDG_DATA_HOME", ".local/share") + "/svcsnap/catalogue.db" : p;
}

std::string AgentConfig::pluginPath() const { return get("svcsnap", "plugin"); }

int AgentConfig::controlHostId() const {
    std::string v = get("svcsnap", "control_host_id");
    if (v.empty()) return 1;
    char* end = nullptr;
    long id = std::strtol(v.c_str(), &end, 10);
    if (*end != '\0' || id < 0 || id > 2147483647L)
        throw ConfigError("control_host_id in " + path_ + " must be a non-negative integer, not \"" + v + "\"");
    return int(id);
}

std::string AgentConfig::devices() const {
    std::string v = lower(get("svcsnap", "devices"));
    if (v.empty()) return "linux";
    if (v != "linux" && v != "simulated")
        throw ConfigError("devices in " + path_ + " must be linux or simulated, not \"" + v + "\"");
    return v;
}

int AgentConfig::positive(const std::string& key, int fallback, int maximum) const {
    std::string v = get("svcsnap", key);
    if (v.empty()) return fallback;
    char* end = nullptr;
    long n = std::strtol(v.c_str(), &end, 10);
    if (*end != '\0' || n < 1 || n > maximum)
        throw ConfigError(key + " in " + path_ + " must be a number from 1 to " + std::to_string(maximum) + ", not \"" +
                          v + "\"");
    return int(n);
}

std::string AgentConfig::remoteCommand() const { return get("svcsnap", "remote_command"); }

int AgentConfig::remoteTimeoutSeconds() const { return positive("remote_timeout", 7200, 7 * 24 * 3600); }

int AgentConfig::scanTimeoutSeconds() const { return positive("scan_timeout", 5, 3600); }

int AgentConfig::logSteps() const { return positive("log_steps", 20, 100000); }

std::vector<AgentConfig::Initiator> AgentConfig::simInitiators() const {
    std::vector<Initiator> out;
    std::string list = get("svcsnap", "sim_initiators");
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(',', start);
        std::string name = list.substr(start, end == std::string::npos ? std::string::npos : end - start);
        while (!name.empty() && std::isspace(static_cast<unsigned char>(name.back()))) name.pop_back();
        while (!name.empty() && std::isspace(static_cast<unsigned char>(name.front()))) name.erase(0, 1);
        if (!name.empty()) {
            std::string l = lower(name);
            bool iscsi = l.rfind("iqn.", 0) == 0 || l.rfind("eui.", 0) == 0 || l.rfind("naa.", 0) == 0;
            if (!iscsi) {
                std::string digits;
                for (char c : name)
                    if (c != ':') digits += c;
                bool wwpn = digits.size() == 16 &&
                            std::all_of(digits.begin(), digits.end(), [](unsigned char c) { return std::isxdigit(c); });
                if (!wwpn)
                    throw ConfigError("sim_initiators in " + path_ + ": \"" + name +
                                      "\" is neither a WWPN (16 hexadecimal digits) nor an iSCSI name");
            }
            out.push_back({name, iscsi});
        }
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return out;
}

std::string AgentConfig::simArray() const { return get("svcsnap", "sim_array"); }

unsigned AgentConfig::simRescans() const { return unsigned(positive("sim_rescans", 1, 1000)); }

std::string AgentConfig::simStatePath(const std::string& cataloguePath) const {
    std::string p = get("svcsnap", "sim_state");
    if (!p.empty()) return p;
    return (std::filesystem::path(cataloguePath).parent_path() / "hostdisks.json").string();
}

std::string AgentConfig::debugLogPath() const {
    std::string p = get("svcsnap", "debug_log");
    if (!p.empty()) return p;
    return (std::filesystem::path(cataloguePath()).parent_path() / "debug.log").string();
}

std::shared_ptr<ZQPlatformInfo> AgentConfig::platformInfo() const {
    if (!found_) return std::make_shared<ZQPlatformInfo>();
    return ZQPlatformInfo::fromIniFile(path_);
}

const std::vector<ConfigKeyText>& AgentConfig::agentKeys() {
    static const std::vector<ConfigKeyText> keys = {
        {"catalogue", "path of the catalogue (default $XDG_DATA_HOME/svcsnap/catalogue.db)"},
        {"devices",
         "host back end: linux (default: this host's disks, by SCSI inquiry; needs root) or simulated (the "
         "disks svcsim maps to sim_initiators)"},
        {"plugin", "path of libzqsoibmsvc.so"},
        {"control_host_id", "this host's id in the catalogue (default 1)"},
        {"debug_log", "the engine's debug log (default debug.log beside the catalogue)"},
        {"remote_command", "how the engine runs on a proxy host, {host} standing for it (default: this binary, "
                           "proxy-exec --as-host {host})"},
        {"remote_timeout", "seconds a proxy run may take (default 7200)"},
        {"scan_timeout", "devices = linux: seconds one SCSI host's rescan may take before it is skipped (default 5)"},
        {"log_steps", "the steps of a job whose log lines the catalogue keeps, per job (default 20)"},
        {"sim_initiators", "devices = simulated: this host's initiators, separated by commas"},
        {"sim_array", "devices = simulated: the simulator's array (default: the only one)"},
        {"sim_rescans", "devices = simulated: rescans a new disk needs to appear (default 1)"},
        {"sim_state", "devices = simulated: the host's memory of its disks (default hostdisks.json beside the "
                      "catalogue)"},
    };
    return keys;
}

bool AgentConfig::isSecret(const std::string& key) {
    std::string k = lower(key);
    for (const char* word : {"password", "passwd", "secret", "token", "credential"})
        if (k.find(word) != std::string::npos) return true;
    return k.size() >= 3 && k.compare(k.size() - 3, 3, "key") == 0;
}

}  // namespace svcsnap
