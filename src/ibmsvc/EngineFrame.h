// What every flow of the engine uses: logging into a record or the process
// log, the first-error-wins error setter, the configuration readers, reading
// texts out of the host record, and the guard of the exported entry points.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <exception>
#include <utility>
#include <string>

#include "EvDebug.h"
#include "zqso/SnapInfo.h"

namespace ZQSOIBMSVCAPI {

// The process logger (used where no record is at hand).
EvDebug& processLogger();

// One line into the record (slot 27) or, without a record, into the process
// logger. The text is formatted here and handed on as it stands.
std::string engineLog(ZQSO::SnapInfo* record, int level, const char* function, const char* format, ...)
    __attribute__((format(printf, 4, 5)));

// The errors the flows set on a record.
constexpr uint32_t kErrorOtherArray = 60322;      // the device is on another array than the batch
constexpr uint32_t kErrorNoHostDisk = 60509;      // a mapped copy never showed up as a host disk
constexpr uint32_t kErrorRestore = 60513;         // a reverse copy refused or not started
constexpr uint32_t kErrorStepFailed = 60540;      // a step failed; the message says which
constexpr uint32_t kErrorStillMapped = 60551;     // the copy is mapped to a host (or cannot be told), or the source is in use
constexpr uint32_t kErrorNoSnapDevice = 60558;    // the copy cannot be exposed to the host
constexpr uint32_t kErrorHostIdentifier = 62002;  // the host cannot be identified
constexpr uint32_t kErrorInitiators = 62003;      // the host's initiators cannot be read
constexpr uint32_t kErrorArrayInfo = 62005;       // "Failed to get array info"

// Stores code and message as the record's error unless it already has one.
// Nothing happens for a null record or message.
void setError(ZQSO::SnapInfo* record, uint32_t code, const char* message);
inline void setError(ZQSO::SnapInfo* record, uint32_t code, const std::string& message) {
    setError(record, code, message.c_str());
}

// Platform integer under "~HostModule" (+ "/" + section). The value keeps the
// caller's initial value when the key is absent. Returns the platform's result.
int GetRegInt(const char* section, const char* key, int* value);
// Platform text of the section "HostModule", or `fallback` when absent.
std::string getPlatformString(const char* key, const std::string& fallback);
// Platform number of the section "HostModule", or `fallback` when absent.
int64_t getPlatformNumber(const char* key, int64_t fallback);

// Settings of a record (slots 39 and 41), logged " Array Config [key:value]"
// (at `level` for integers, else 0); `fallback` when the record does not hold the key.
int recordConfigInt(ZQSO::SnapInfo* record, const char* key, int fallback, int level = 0);
std::string recordConfigText(ZQSO::SnapInfo* record, const char* key, const std::string& fallback);
// `value` replaced by the platform integer `key` when that is present
// ("Registry Key [key] value [n] read" at level 0).
int registryOverride(ZQSO::SnapInfo* record, const char* key, int value);

// The configured IBM SVC vendor ("IBMSVC_VENDOR_NAME", default "IBM") and
// product ("IBMSVC_PRODUCT_ID", default "2145").
std::string configuredVendor();
std::string configuredProduct();
// True when the configured texts contain the device's vendor and product;
// a blank vendor or product never matches.
bool isConfiguredDevice(const std::string& vendor, const std::string& product);

// Record reads through the host's buffer operations; false when the host
// reports a failure.
bool readSourceDevicePath(ZQSO::SnapInfo* record, std::string& path);  // slot 16, 1024 bytes
bool readMetaData(ZQSO::SnapInfo* record, int id, std::string& text);    // slot 22, 4096 bytes
bool readArrayInfo(ZQSO::SnapInfo* record, std::string& text);           // slot 4, 4096 bytes
bool readConfigString(ZQSO::SnapInfo* record, const char* key, std::string& text);  // slot 41, 1024 bytes
bool readHostValue(ZQSO::SnapInfo* record, int id, std::string& text);   // slot 46, 1024 bytes

// Runs `body`; any exception becomes a process log line and `failure`.
template <class Body>
auto guardedEntry(const char* entry, decltype(std::declval<Body>()()) failure, Body&& body) noexcept
    -> decltype(body()) {
    try {
        return body();
    } catch (const std::exception& e) {
        try {
            processLogger().DebugLvl(entry, 2, "unexpected exception: %s", e.what());
        } catch (...) {
        }
    } catch (...) {
        try {
            processLogger().DebugLvl(entry, 2, "unexpected exception");
        } catch (...) {
        }
    }
    return failure;
}

// The same for entry points without a result.
template <class Body>
void guardedEntryVoid(const char* entry, Body&& body) noexcept {
    guardedEntry(entry, 0, [&] {
        body();
        return 0;
    });
}

}  // namespace ZQSOIBMSVCAPI
