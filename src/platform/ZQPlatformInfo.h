// Host platform configuration and identity.
//
// Values come from an INI file (the file named by ZQSO_CONFIG for the process
// default). Section and key names are case-insensitive; a leading "~" of a
// section or path is ignored, so "~HostModule" and "HostModule" read the same
// section. Values set with `set` take precedence over the file.
//
// The host identity is read from the section [Platform]:
//   PlatformType  integer; bit 0 set means the client name below is used
//   ClientName    this host's client name registered with the central server
//   MachineName   overrides the machine name (default: gethostname)
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

class INIReader;

class ZQPlatformInfo {
public:
    // No values at all.
    ZQPlatformInfo();
    ~ZQPlatformInfo();
    ZQPlatformInfo(const ZQPlatformInfo&) = delete;
    ZQPlatformInfo& operator=(const ZQPlatformInfo&) = delete;

    // Reads an INI file; a missing or broken file gives no values and a line in
    // the debug log.
    static std::shared_ptr<ZQPlatformInfo> fromIniFile(const std::string& path);
    static std::shared_ptr<ZQPlatformInfo> fromIniText(const std::string& text);
    // The file named by ZQSO_CONFIG, or no values when it is unset.
    static std::shared_ptr<ZQPlatformInfo> fromEnvironment();

    // Sets (or overrides) a value.
    void set(const std::string& section, const std::string& key, const std::string& value);
    // Removes a value set with `set`; the file's value, if any, shows again.
    void unset(const std::string& section, const std::string& key);

    // Integer under `path` ("~HostModule" or "HostModule", optionally followed
    // by "/" and a subsection). Writes *value and returns 1 when the key holds
    // an integer (decimal, or hexadecimal with "0x"); else returns 0 and
    // leaves *value untouched.
    int getRegInt(const std::string& path, const std::string& key, int* value) const;
    // Same rule for 64-bit numbers: non-zero when the key exists and holds a number.
    int getNumber(const std::string& section, const std::string& key, int64_t* number) const;
    int getNumber(const std::string& section, const std::string& key, int* number) const;
    // Non-zero when the key exists; only then *text is written.
    int getString(const std::string& section, const std::string& key, std::string* text) const;

    uint32_t getZQPlatformType() const;
    // Copies the client name into buf (at most size-1 characters, always
    // terminated); returns 0 when a name is configured, 1 otherwise.
    int getHubServerClientName(char* buf, size_t size) const;
    std::string getPhysicalMachine() const;

private:
    bool lookup(const std::string& section, const std::string& key, std::string* value) const;

    mutable std::mutex mutex_;
    std::unique_ptr<INIReader> file_;
    std::map<std::string, std::string> overrides_;  // "section\nkey", lower case
};

namespace zq {
namespace platform {
// The process configuration (from the registry).
std::shared_ptr<ZQPlatformInfo> platformInfo();
}  // namespace platform
}  // namespace zq
