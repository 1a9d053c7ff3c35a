#include "TestSnapInfo.h"

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <sstream>

#include "EvDebug.h"
#include "TestOSUtil.h"

namespace zqtest {

int copyOut(const std::string& text, char* buf, uint16_t* len) {
    if (!len) return 1;
    if (!buf || text.size() + 1 > *len) {
        *len = uint16_t(std::min<size_t>(text.size() + 1, UINT16_MAX));
        return 1;
    }
    std::memcpy(buf, text.c_str(), text.size() + 1);
    *len = uint16_t(text.size());
    return 0;
}

TestSnapInfo::TestSnapInfo(TestOSUtil* host) : host_(host) {}

RecordState TestSnapInfo::state() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return state_;
}

void TestSnapInfo::setState(const RecordState& state) {
    std::lock_guard<std::mutex> lock(mutex_);
    state_ = state;
}

void TestSnapInfo::setSourceDevicePath(const std::string& path) {
    edit([&](RecordState& s) { s.sourceDevicePath = path; });
}

void TestSnapInfo::setSnapName(const std::string& name) { edit([&](RecordState& s) { s.snapName = name; }); }

void TestSnapInfo::setFlags(uint32_t flags) { edit([&](RecordState& s) { s.flags = flags; }); }

void TestSnapInfo::setMeta(int id, const std::string& text) { edit([&](RecordState& s) { s.metadata[id] = text; }); }

void TestSnapInfo::setConfig(const std::string& key, int value) {
    edit([&](RecordState& s) { s.configInts[key] = value; });
}

void TestSnapInfo::setConfig(const std::string& key, const std::string& value) {
    edit([&](RecordState& s) { s.configStrings[key] = value; });
}

void TestSnapInfo::setHostValue(int id, const std::string& value) {
    edit([&](RecordState& s) { s.hostValues[id] = value; });
}

void TestSnapInfo::setControlHostId(int id) { edit([&](RecordState& s) { s.controlHostId = id; }); }

void TestSnapInfo::setVirtualHostName(const std::string& name) {
    edit([&](RecordState& s) { s.virtualHostName = name; });
}

void TestSnapInfo::setScsiPages(const zq::platform::SimulatedDisk& disk) {
    setScsiPage(ZQSO::SCSI_PAGE_STANDARD_INQUIRY, disk.standardInquiry);
    setScsiPage(ZQSO::SCSI_PAGE_SERIAL, disk.unitSerialPage);
    setScsiPage(ZQSO::SCSI_PAGE_DEVICE_ID, disk.deviceIdPage);
}

void TestSnapInfo::setScsiPage(int pageCode, std::vector<uint8_t> data) {
    data.resize(ZQSO::SCSI_PAGE_SIZE, 0);
    std::lock_guard<std::mutex> lock(mutex_);
    state_.scsiPages[pageCode] = std::move(data);
}

void TestSnapInfo::setFailMetaDataWrites(bool fail) { edit([&](RecordState& s) { s.failMetaDataWrites = fail; }); }

void TestSnapInfo::setMetaDataLimit(size_t bytes) { edit([&](RecordState& s) { s.metaDataLimit = bytes; }); }

void TestSnapInfo::selectArrayForTest(const std::string& arrayId) {
    edit([&](RecordState& s) { s.selectedArray = arrayId; });
}

ZQSO::SnapStatus TestSnapInfo::status() const { return read([](const RecordState& s) { return s.status; }); }

uint32_t TestSnapInfo::errorCode() const { return read([](const RecordState& s) { return s.errorCode; }); }

std::string TestSnapInfo::errorMessage() const { return read([](const RecordState& s) { return s.errorMessage; }); }

std::optional<std::string> TestSnapInfo::meta(int id) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = state_.metadata.find(id);
    if (it == state_.metadata.end()) return std::nullopt;
    return it->second;
}

std::string TestSnapInfo::arrayId() const { return read([](const RecordState& s) { return s.arrayId; }); }

std::string TestSnapInfo::lunUniqueId() const { return read([](const RecordState& s) { return s.lunUniqueId; }); }

std::vector<LogLine> TestSnapInfo::lines() const { return read([](const RecordState& s) { return s.log; }); }

size_t TestSnapInfo::countLines(const std::string& fragment, int level) const {
    std::lock_guard<std::mutex> lock(mutex_);
    size_t n = 0;
    for (const auto& line : state_.log)
        if ((level < 0 || line.level == level) && line.text.find(fragment) != std::string::npos) ++n;
    return n;
}

std::string TestSnapInfo::dump() const {
    std::ostringstream out;
    for (const auto& line : lines()) out << line.level << " " << line.function << ": " << line.text << "\n";
    return out.str();
}

// --- ZQSO::SnapInfo ---

int TestSnapInfo::getSnapName(char* buf, uint16_t* len) {
    std::lock_guard<std::mutex> lock(mutex_);
    return copyOut(state_.snapName, buf, len);
}

int TestSnapInfo::getArrayInfo(char* buf, uint16_t* len) {
    std::string selected;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        selected = state_.selectedArray;
    }
    auto info = host_ ? host_->arrayInfo(selected) : std::nullopt;
    if (selected.empty() || !info) return 1;
    return copyOut(*info, buf, len);
}

int TestSnapInfo::selectArray(const char* arrayId) {
    if (!arrayId || !host_ || !host_->arrayInfo(arrayId)) return 1;
    std::lock_guard<std::mutex> lock(mutex_);
    state_.selectedArray = arrayId;
    return 0;
}

int TestSnapInfo::getVirtualHostName(char* buf, uint16_t* len) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (state_.virtualHostName.empty()) return 1;
    return copyOut(state_.virtualHostName, buf, len);
}

void TestSnapInfo::mark(uint32_t value) {
    std::lock_guard<std::mutex> lock(mutex_);
    state_.flags |= value;
    state_.marks.push_back(value);
}

uint32_t TestSnapInfo::getFlags() { return read([](const RecordState& s) { return s.flags; }); }

ZQSO::SnapStatus TestSnapInfo::getStatus() { return status(); }

void TestSnapInfo::setStatus(ZQSO::SnapStatus status) { edit([&](RecordState& s) { s.status = status; }); }

int TestSnapInfo::getSourceDevicePath(char* buf, uint16_t* len) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (state_.sourceDevicePath.empty()) return 1;
    return copyOut(state_.sourceDevicePath, buf, len);
}

int TestSnapInfo::getSnapDevicePath(char* buf, uint16_t* len) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (state_.snapDevicePath.empty()) return 1;
    return copyOut(state_.snapDevicePath, buf, len);
}

int TestSnapInfo::setSnapDevicePath(const char* path) {
    std::lock_guard<std::mutex> lock(mutex_);
    state_.snapDevicePath = path ? path : "";
    return 0;
}

int TestSnapInfo::getMetaData(int id, char* buf, uint16_t* len) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = state_.metadata.find(id);
    if (it == state_.metadata.end()) return 1;
    return copyOut(it->second, buf, len);
}

int TestSnapInfo::writeMeta(int id, const char* text) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (state_.failMetaDataWrites) return 1;
    if (text && state_.metaDataLimit > 0 && std::strlen(text) > state_.metaDataLimit) return 1;
    if (text)
        state_.metadata[id] = text;
    else
        state_.metadata.erase(id);
    return 0;
}

int TestSnapInfo::setMetaData(int id, const char* text) { return writeMeta(id, text); }

int TestSnapInfo::updateMetaData(int id, const char* text) { return writeMeta(id, text); }

void TestSnapInfo::setError(uint32_t code, const char* message) {
    std::lock_guard<std::mutex> lock(mutex_);
    state_.errorCode = code;
    state_.errorMessage = message ? message : "";
}

int TestSnapInfo::getError(uint32_t* code, char* buf, uint16_t* len) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (code) *code = state_.errorCode;
    if (buf && len) return copyOut(state_.errorMessage, buf, len);
    return 0;
}

void TestSnapInfo::setLineHook(std::function<void(const LogLine&)> hook) {
    std::lock_guard<std::mutex> lock(mutex_);
    lineHook_ = std::move(hook);
}

void TestSnapInfo::appendLine(LogLine line) {
    std::function<void(const LogLine&)> hook;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        state_.log.push_back(line);
        hook = lineHook_;
    }
    if (hook) hook(line);
}

void TestSnapInfo::log(int level, const char* text) { appendLine({level, std::string(), text ? text : ""}); }

void TestSnapInfo::logFormatted(int level, const char* function, const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = zq::platform::formatText(format, args);
    va_end(args);
    appendLine({level, function ? function : "", std::move(text)});
}

int TestSnapInfo::getConfigInt(const char* key, int* value) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = key ? state_.configInts.find(key) : state_.configInts.end();
    if (it == state_.configInts.end() || !value) return 1;
    *value = it->second;
    return 0;
}

int TestSnapInfo::getConfigString(const char* key, char* buf, uint16_t* len) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = key ? state_.configStrings.find(key) : state_.configStrings.end();
    if (it == state_.configStrings.end()) return 1;
    return copyOut(it->second, buf, len);
}

int TestSnapInfo::getHostValue(int id, char* buf, uint16_t* len) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = state_.hostValues.find(id);
    if (it == state_.hostValues.end()) return 1;
    return copyOut(it->second, buf, len);
}

int TestSnapInfo::getControlHostId() { return read([](const RecordState& s) { return s.controlHostId; }); }

std::string TestSnapInfo::snapName() { return read([](const RecordState& s) { return s.snapName; }); }

bool TestSnapInfo::sourceDevicePath(std::string& out) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (state_.sourceDevicePath.empty()) return false;
    out = state_.sourceDevicePath;
    return true;
}

bool TestSnapInfo::getMetaDataText(int id, std::string& out) {
    auto text = meta(id);
    if (!text) return false;
    out = *text;
    return true;
}

bool TestSnapInfo::getMetaDataString(int id, std::string& out) { return getMetaDataText(id, out); }

const unsigned char* TestSnapInfo::getScsiPage(int pageCode) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = state_.scsiPages.find(pageCode);
    return it == state_.scsiPages.end() ? nullptr : it->second.data();
}

void TestSnapInfo::setArrayId(const char* arrayId) {
    edit([&](RecordState& s) { s.arrayId = arrayId ? arrayId : ""; });
}

void TestSnapInfo::setLunUniqueId(const char* lunId) {
    edit([&](RecordState& s) { s.lunUniqueId = lunId ? lunId : ""; });
}

}  // namespace zqtest
