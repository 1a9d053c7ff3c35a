#include "ZQPlatformInfo.h"

#include <INIReader.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "EvDebug.h"
#include "ZqPlatformRegistry.h"

namespace {

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return s;
}

std::string sectionName(const std::string& path) {
    return path.empty() || path[0] != '~' ? path : path.substr(1);
}

std::string overrideKey(const std::string& section, const std::string& key) {
    return lower(sectionName(section)) + "\n" + lower(key);
}

// Whole text as a number: optional sign, decimal or "0x" hexadecimal digits,
// blanks around allowed.
bool parseNumber(const std::string& text, int64_t* out) {
    const char* p = text.c_str();
    while (std::isspace(static_cast<unsigned char>(*p))) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = (*p++ == '-');
    int base = 10;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        base = 16;
        p += 2;
    }
    if (!std::isxdigit(static_cast<unsigned char>(*p))) return false;
    errno = 0;
    char* end = nullptr;
    unsigned long long magnitude = std::strtoull(p, &end, base);
    if (errno == ERANGE) return false;
    while (std::isspace(static_cast<unsigned char>(*end))) ++end;
    if (*end != '\0') return false;
    if (!negative && magnitude > uint64_t(INT64_MAX)) return false;
    if (negative && magnitude > uint64_t(INT64_MAX) + 1) return false;
    *out = negative ? int64_t(0 - magnitude) : int64_t(magnitude);
    return true;
}

void logLoadFailure(const std::string& what, int error) {
    EvDebug log;
    if (error < 0)
        log.DebugLvl("ZQPlatformInfo", 2, "Cannot read configuration file [%s]", what.c_str());
    else
        log.DebugLvl("ZQPlatformInfo", 2, "Configuration [%s] has a syntax error at line %d; ignored",
                     what.c_str(), error);
}

}  // namespace

ZQPlatformInfo::ZQPlatformInfo() = default;
ZQPlatformInfo::~ZQPlatformInfo() = default;

std::shared_ptr<ZQPlatformInfo> ZQPlatformInfo::fromIniFile(const std::string& path) {
    auto info = std::make_shared<ZQPlatformInfo>();
    auto reader = std::make_unique<INIReader>(path);
    if (reader->ParseError() != 0)
        logLoadFailure(path, reader->ParseError());
    else
        info->file_ = std::move(reader);
    return info;
}

std::shared_ptr<ZQPlatformInfo> ZQPlatformInfo::fromIniText(const std::string& text) {
    auto info = std::make_shared<ZQPlatformInfo>();
    auto reader = std::make_unique<INIReader>(text.data(), text.size());
    if (reader->ParseError() != 0)
        logLoadFailure("<text>", reader->ParseError());
    else
        info->file_ = std::move(reader);
    return info;
}

std::shared_ptr<ZQPlatformInfo> ZQPlatformInfo::fromEnvironment() {
    const char* path = std::getenv("ZQSO_CONFIG");
    if (!path || !*path) return std::make_shared<ZQPlatformInfo>();
    return fromIniFile(path);
}

void ZQPlatformInfo::set(const std::string& section, const std::string& key, const std::string& value) {
    std::lock_guard<std::mutex> lock(mutex_);
    overrides_[overrideKey(section, key)] = value;
}

void ZQPlatformInfo::unset(const std::string& section, const std::string& key) {
    std::lock_guard<std::mutex> lock(mutex_);
    overrides_.erase(overrideKey(section, key));
}

bool ZQPlatformInfo::lookup(const std::string& section, const std::string& key, std::string* value) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = overrides_.find(overrideKey(section, key));
    if (it != overrides_.end()) {
        *value = it->second;
        return true;
    }
    if (!file_) return false;
    std::string name = sectionName(section);
    if (!file_->HasValue(name, key)) return false;
    *value = file_->Get(name, key, "");
    return true;
}

int ZQPlatformInfo::getRegInt(const std::string& path, const std::string& key, int* value) const {
    int64_t number = 0;
    if (!value || getNumber(path, key, &number) == 0 || number < INT_MIN || number > INT_MAX) return 0;
    *value = int(number);
    return 1;
}

int ZQPlatformInfo::getNumber(const std::string& section, const std::string& key, int64_t* number) const {
    std::string text;
    int64_t parsed = 0;
    if (!number || !lookup(section, key, &text) || !parseNumber(text, &parsed)) return 0;
    *number = parsed;
    return 1;
}

int ZQPlatformInfo::getNumber(const std::string& section, const std::string& key, int* number) const {
    return getRegInt(section, key, number);
}

int ZQPlatformInfo::getString(const std::string& section, const std::string& key, std::string* text) const {
    std::string found;
    if (!text || !lookup(section, key, &found)) return 0;
    *text = found;
    return 1;
}

uint32_t ZQPlatformInfo::getZQPlatformType() const {
    int64_t type = 0;
    getNumber("Platform", "PlatformType", &type);
    return uint32_t(type);
}

int ZQPlatformInfo::getHubServerClientName(char* buf, size_t size) const {
    std::string name;
    if (!buf || size == 0) return 1;
    buf[0] = '\0';
    if (!getString("Platform", "ClientName", &name) || name.empty()) return 1;
    size_t n = std::min(name.size(), size - 1);
    std::memcpy(buf, name.data(), n);
    buf[n] = '\0';
    return 0;
}

std::string ZQPlatformInfo::getPhysicalMachine() const {
    std::string name;
    if (getString("Platform", "MachineName", &name) && !name.empty()) return name;
    char host[256] = {};
    if (gethostname(host, sizeof(host) - 1) != 0) return std::string();
    return host;
}

namespace zq {
namespace platform {
std::shared_ptr<ZQPlatformInfo> platformInfo() { return registry().platformInfo.get(); }
}  // namespace platform
}  // namespace zq
