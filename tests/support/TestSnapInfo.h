// In-memory host record for tests. Every operation of ZQSO::SnapInfo works on
// a RecordState that a test fills before a call and inspects after it. Safe to
// use from the engine's worker threads.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "ZqSimulatedDevices.h"
#include "zqso/SnapInfo.h"

namespace zqtest {

class TestOSUtil;

struct LogLine {
    int level = 0;
    std::string function;  // empty for plain lines (slot 26)
    std::string text;
};

// Everything a record holds; copied to a proxy and back by remote execution.
struct RecordState {
    std::string snapName;
    std::string virtualHostName;
    std::string sourceDevicePath;
    std::string snapDevicePath;
    uint32_t flags = 0;
    std::vector<uint32_t> marks;
    ZQSO::SnapStatus status = ZQSO::SNAP_STATUS_NONE;
    uint32_t errorCode = 0;
    std::string errorMessage;
    std::map<int, std::string> metadata;
    std::map<std::string, int> configInts;
    std::map<std::string, std::string> configStrings;
    std::map<int, std::string> hostValues;
    int controlHostId = 0;
    std::map<int, std::vector<uint8_t>> scsiPages;  // page code 0, 128, 131; 255 bytes each
    std::string selectedArray;
    std::string arrayId;      // slot 92
    std::string lunUniqueId;  // slot 93
    std::vector<LogLine> log;
    bool failMetaDataWrites = false;
    size_t metaDataLimit = 0;  // longest text a metadata slot takes; 0: no limit
};

class TestSnapInfo : public ZQSO::SnapInfo {
public:
    // `host` answers the array selection and array information (may be null).
    explicit TestSnapInfo(TestOSUtil* host = nullptr);

    // Whole-state access.
    RecordState state() const;
    void setState(const RecordState& state);
    TestOSUtil* host() const { return host_; }

    // Scripting helpers.
    void setSourceDevicePath(const std::string& path);
    void setSnapName(const std::string& name);
    void setFlags(uint32_t flags);
    void setMeta(int id, const std::string& text);
    void setConfig(const std::string& key, int value);
    void setConfig(const std::string& key, const std::string& value);
    void setHostValue(int id, const std::string& value);
    void setControlHostId(int id);
    void setVirtualHostName(const std::string& name);
    // Stores the disk's pages for slot 91 (each zero-padded to 255 bytes).
    void setScsiPages(const zq::platform::SimulatedDisk& disk);
    void setScsiPage(int pageCode, std::vector<uint8_t> data);
    void setFailMetaDataWrites(bool fail);
    // Metadata writes of longer texts fail (as a host with fixed-size slots).
    void setMetaDataLimit(size_t bytes);
    // Called after every line the record receives, on the logging thread
    // (outside the record's lock): lets a test act at a given step of a flow.
    void setLineHook(std::function<void(const LogLine&)> hook);
    void selectArrayForTest(const std::string& arrayId);

    // Inspection helpers.
    ZQSO::SnapStatus status() const;
    uint32_t errorCode() const;
    std::string errorMessage() const;
    std::optional<std::string> meta(int id) const;
    std::string arrayId() const;
    std::string lunUniqueId() const;
    std::vector<LogLine> lines() const;
    // Lines whose text contains `fragment` (at `level`, or any level when -1).
    size_t countLines(const std::string& fragment, int level = -1) const;
    bool hasLine(const std::string& fragment, int level = -1) const { return countLines(fragment, level) > 0; }
    // Every line as "level function: text", one per line, for failure messages.
    std::string dump() const;

    // ZQSO::SnapInfo
    int getSnapName(char* buf, uint16_t* len) override;
    int getArrayInfo(char* buf, uint16_t* len) override;
    int selectArray(const char* arrayId) override;
    int getVirtualHostName(char* buf, uint16_t* len) override;
    void mark(uint32_t value) override;
    uint32_t getFlags() override;
    ZQSO::SnapStatus getStatus() override;
    void setStatus(ZQSO::SnapStatus status) override;
    int getSourceDevicePath(char* buf, uint16_t* len) override;
    int getSnapDevicePath(char* buf, uint16_t* len) override;
    int setSnapDevicePath(const char* path) override;
    int getMetaData(int id, char* buf, uint16_t* len) override;
    int setMetaData(int id, const char* text) override;
    void setError(uint32_t code, const char* message) override;
    int getError(uint32_t* code, char* buf, uint16_t* len) override;
    void log(int level, const char* text) override;
    void logFormatted(int level, const char* function, const char* format, ...) override
        __attribute__((format(printf, 4, 5)));
    int getConfigInt(const char* key, int* value) override;
    int getConfigString(const char* key, char* buf, uint16_t* len) override;
    int updateMetaData(int id, const char* text) override;
    int getHostValue(int id, char* buf, uint16_t* len) override;
    int getControlHostId() override;
    std::string snapName() override;
    bool sourceDevicePath(std::string& out) override;
    bool getMetaDataText(int id, std::string& out) override;
    bool getMetaDataString(int id, std::string& out) override;
    const unsigned char* getScsiPage(int pageCode) override;
    void setArrayId(const char* arrayId) override;
    void setLunUniqueId(const char* lunId) override;

private:
    // Runs `f` on the state under the record's lock.
    template <class F>
    auto edit(F f) {
        std::lock_guard<std::mutex> lock(mutex_);
        return f(state_);
    }
    template <class F>
    auto read(F f) const {
        std::lock_guard<std::mutex> lock(mutex_);
        return f(state_);
    }
    int writeMeta(int id, const char* text);

    void appendLine(LogLine line);

    TestOSUtil* host_;
    mutable std::mutex mutex_;
    RecordState state_;
    std::function<void(const LogLine&)> lineHook_;
};

// Copies `text` into a caller-owned buffer of *len bytes. Too small: *len
// becomes the size needed and the result is 1; else *len is the text length
// and the result 0.
int copyOut(const std::string& text, char* buf, uint16_t* len);

}  // namespace zqtest
