#include "EngineFrame.h"

#include <vector>

#include "ZQPlatformInfo.h"

namespace ZQSOIBMSVCAPI {

namespace {

constexpr uint16_t kTextBuffer = 1024;
constexpr uint16_t kLongTextBuffer = 4096;

// Reads a text through a host buffer operation of the given capacity.
template <class Read>
bool readText(uint16_t capacity, std::string& out, Read&& read) {
    std::vector<char> buf(capacity, '\0');
    uint16_t len = capacity;
    if (read(buf.data(), &len) != 0) return false;
    buf.back() = '\0';
    out.assign(buf.data());
    return true;
}

}  // namespace

EvDebug& processLogger() {
    static EvDebug logger;
    return logger;
}

std::string engineLog(ZQSO::SnapInfo* record, int level, const char* function, const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = zq::platform::formatText(format, args);
    va_end(args);
    if (record)
        record->logFormatted(level, function, "%s", text.c_str());
    else
        processLogger().DebugText(function, level, text);
    return text;
}

void setError(ZQSO::SnapInfo* record, uint32_t code, const char* message) {
    if (!record || !message) return;
    uint32_t current = 0;
    std::vector<char> buf(kTextBuffer, '\0');
    uint16_t len = kTextBuffer;
    record->getError(&current, buf.data(), &len);
    if (current != 0) return;
    record->log(2, message);
    record->setError(code, message);
}

int GetRegInt(const char* section, const char* key, int* value) {
    std::string path = "~HostModule";
    if (section && *section) path += std::string("/") + section;
    return zq::platform::platformInfo()->getRegInt(path, key ? key : "", value);
}

std::string getPlatformString(const char* key, const std::string& fallback) {
    std::string value;
    if (zq::platform::platformInfo()->getString("HostModule", key, &value) == 0) return fallback;
    return value;
}

int64_t getPlatformNumber(const char* key, int64_t fallback) {
    int64_t value = fallback;
    zq::platform::platformInfo()->getNumber("HostModule", key, &value);
    return value;
}

int recordConfigInt(ZQSO::SnapInfo* record, const char* key, int fallback, int level) {
    int value = fallback;
    if (record && record->getConfigInt(key, &value) != 0) value = fallback;
    engineLog(record, level, "ArrayConfig", " Array Config [%s:%d]", key, value);
    return value;
}

std::string recordConfigText(ZQSO::SnapInfo* record, const char* key, const std::string& fallback) {
    std::string value;
    if (!readConfigString(record, key, value)) value = fallback;
    engineLog(record, 0, "ArrayConfig", " Array Config [%s:%s]", key, value.c_str());
    return value;
}

int registryOverride(ZQSO::SnapInfo* record, const char* key, int value) {
    int configured = value;
    if (GetRegInt(nullptr, key, &configured) != 0) {
        engineLog(record, 0, "RegistryConfig", "Registry Key [%s] value [%d] read", key, configured);
        return configured;
    }
    return value;
}

std::string configuredVendor() { return getPlatformString("IBMSVC_VENDOR_NAME", "IBM"); }

std::string configuredProduct() { return getPlatformString("IBMSVC_PRODUCT_ID", "2145"); }

bool isConfiguredDevice(const std::string& vendor, const std::string& product) {
    if (vendor.empty() || product.empty()) return false;
    return configuredVendor().find(vendor) != std::string::npos &&
           configuredProduct().find(product) != std::string::npos;
}

bool readSourceDevicePath(ZQSO::SnapInfo* record, std::string& path) {
    return record && readText(kTextBuffer, path, [&](char* b, uint16_t* l) { return record->getSourceDevicePath(b, l); });
}

bool readMetaData(ZQSO::SnapInfo* record, int id, std::string& text) {
    return record && readText(kLongTextBuffer, text, [&](char* b, uint16_t* l) { return record->getMetaData(id, b, l); });
}

bool readArrayInfo(ZQSO::SnapInfo* record, std::string& text) {
    return record && readText(kLongTextBuffer, text, [&](char* b, uint16_t* l) { return record->getArrayInfo(b, l); });
}

bool readConfigString(ZQSO::SnapInfo* record, const char* key, std::string& text) {
    return record &&
           readText(kTextBuffer, text, [&](char* b, uint16_t* l) { return record->getConfigString(key, b, l); });
}

bool readHostValue(ZQSO::SnapInfo* record, int id, std::string& text) {
    return record && readText(kTextBuffer, text, [&](char* b, uint16_t* l) { return record->getHostValue(id, b, l); });
}

}  // namespace ZQSOIBMSVCAPI
