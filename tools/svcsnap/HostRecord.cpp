#include "HostRecord.h"

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "EvDebug.h"
#include "HostOSUtil.h"
#include "Journal.h"
#include "ZqClock.h"
#include "ZqDeviceTree.h"
#include "zqso/ZqsoTypes.h"

namespace svcsnap {

std::string sourceVolumeGuid(const std::string& arrayId, const std::string& uniqueId) {
    static const char* kHex = "0123456789ABCDEF";
    std::string guid;
    for (size_t i = 4; i < arrayId.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(arrayId[i]);
        guid += kHex[c >> 4];
        guid += kHex[c & 0xf];
    }
    for (char c : uniqueId)
        if (c != ':') guid += char(std::toupper(static_cast<unsigned char>(c)));
    return guid;
}

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

std::map<std::string, std::string> recordSettings(const JobEntry& job) {
    const JobOptions& o = job.options;
    std::map<std::string, std::string> s;
    s["SMCONFIG_NAME_IBMSVC_CONSISTENCY_GROUP"] = o.useGroup ? "1" : "0";
    if (!o.label.empty()) s["SMCONFIG_NAME_TARGET_DEVICE_LABEL"] = o.label;
    s["SMCONFIG_NAME_USE_LABEL_DEVICE_ONLY"] = o.labelOnly ? "1" : "0";
    s["SMCONFIG_NAME_ENABLE_INCREMENTAL_RESYNC_FOR_FLASHCOPY"] = o.incremental ? "1" : "0";
    s["SMCONFIG_NAME_SMART_CLONE_OP"] = o.smartClone ? "1" : "0";
    if (!o.pool.empty()) {
        s["SMCONFIG_NAME_STORAGE_DEVICE_GROUP"] = o.pool;
        s["SMCONFIG_NAME_USE_DEVICES_ONLY_FROM_THIS_GROUP"] = "1";
    }
    if (o.copyRate) s["SMCONFIG_NAME_IBMSVC_BACKGROUND_COPY_RATE"] = std::to_string(*o.copyRate);
    if (o.cleanRate) s["SMCONFIG_NAME_IBMSVC_CLEAN_RATE"] = std::to_string(*o.cleanRate);
    if (!o.proxy.empty()) s["SMCONFIG_NAME_REMOTE_SNAP_PX"] = o.proxy;
    return s;
}

HostRecord::HostRecord(RecordEntry entry, const JobEntry& job, HostOSUtil& host,
                       std::map<std::string, std::string> settings)
    : storedStatus_(entry.status),
      entry_(std::move(entry)),
      snapName_(entry_.snapName.empty() ? job.name + "_" + std::to_string(entry_.position + 1) : entry_.snapName),
      engineId_(job.engineId),
      controlHostId_(job.controlHostId),
      byUid_(job.options.byUid),
      host_(host),
      settings_(std::move(settings)),
      selectedArray_(entry_.arrayId) {
    if (byUid_) entry_.flags |= ZQSO::SNAP_FLAG_DEVICE_BY_GUID;
    if (job.options.smartClone) entry_.flags |= ZQSO::SNAP_FLAG_SMART_CLONE;
}

RecordEntry HostRecord::entry() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return entry_;
}

void HostRecord::writeThrough() {
    if (!journal_) return;
    std::lock_guard<std::mutex> through(throughMutex_);
    RecordEntry now;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        now = entry_;
    }
    try {
        journal_->write(now, storedStatus_);
    } catch (const std::exception& e) {
        // The step goes on; its end writes the record again.
        EvDebug().DebugLvl("HostRecord::writeThrough", 2, "%s: %s", entry_.device.c_str(), e.what());
        return;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    entry_.newLines.erase(entry_.newLines.begin(), entry_.newLines.begin() + long(now.newLines.size()));
}

void HostRecord::applyRemote(const RecordEntry& answer) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        entry_.status = answer.status;
        entry_.errorCode = answer.errorCode;
        entry_.errorText = answer.errorText;
        entry_.snapDevicePath = answer.snapDevicePath;
        entry_.arrayId = answer.arrayId;
        entry_.lunUid = answer.lunUid;
        entry_.flags = answer.flags;
        entry_.metadata = answer.metadata;
        entry_.newLines.insert(entry_.newLines.end(), answer.newLines.begin(), answer.newLines.end());
    }
    writeThrough();
}

void HostRecord::addLine(int level, const std::string& function, const std::string& text) {
    LogEntry line{zq::platform::clock().nowMs(), level, function, text};
    std::lock_guard<std::mutex> lock(mutex_);
    // A copy being waited on names its mapping, for the progress line to read.
    CopyRef copy;
    if (waitPhase(text).kind == WaitPhase::Copy) {
        const CopyIdentity c = copyIdentity(entry_);
        copy = CopyRef{c.arrayId, c.sourcePath, c.targetPath};
    }
    host_.noteActivity(entry_.device, text, copy);
    entry_.newLines.push_back(std::move(line));
}

int HostRecord::getSnapName(char* buf, uint16_t* len) { return copyOut(snapName_, buf, len); }

std::string HostRecord::arrayOfRecord() const {
    // The array chosen for the record, else the one its copy lives on (the
    // first field of the copy's unique identifier).
    std::lock_guard<std::mutex> lock(mutex_);
    if (!selectedArray_.empty()) return selectedArray_;
    auto uniqueId = entry_.metadata.find(ZQSO::SM_MDT_UNIQUE_ID);
    if (uniqueId != entry_.metadata.end()) return uniqueId->second.substr(0, uniqueId->second.find('*'));
    return std::string();
}

int HostRecord::getArrayInfo(char* buf, uint16_t* len) {
    const std::string selected = arrayOfRecord();
    std::string info;
    if (selected.empty() || !host_.arrayInfo(selected, engineId_, &info)) return 1;
    return copyOut(info, buf, len);
}

int HostRecord::selectArray(const char* arrayId) {
    std::string info;
    if (!arrayId || !host_.arrayInfo(arrayId, engineId_, &info)) return 1;
    std::lock_guard<std::mutex> lock(mutex_);
    selectedArray_ = arrayId;
    entry_.arrayId = arrayId;  // kept for the job's later steps
    return 0;
}

int HostRecord::getVirtualHostName(char*, uint16_t*) { return 1; }

void HostRecord::mark(uint32_t value) {
    std::lock_guard<std::mutex> lock(mutex_);
    entry_.flags |= value;
}

uint32_t HostRecord::getFlags() {
    std::lock_guard<std::mutex> lock(mutex_);
    return entry_.flags;
}

ZQSO::SnapStatus HostRecord::getStatus() {
    std::lock_guard<std::mutex> lock(mutex_);
    return ZQSO::SnapStatus(entry_.status);
}

void HostRecord::setStatus(ZQSO::SnapStatus status) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        entry_.status = int(status);
    }
    writeThrough();
}

int HostRecord::getSourceDevicePath(char* buf, uint16_t* len) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (entry_.device.empty()) return 1;
    return copyOut(entry_.device, buf, len);
}

int HostRecord::getSnapDevicePath(char* buf, uint16_t* len) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (entry_.snapDevicePath.empty()) return 1;
    return copyOut(entry_.snapDevicePath, buf, len);
}

int HostRecord::setSnapDevicePath(const char* path) {
    std::lock_guard<std::mutex> lock(mutex_);
    entry_.snapDevicePath = path ? path : "";
    return 0;
}

int HostRecord::getMetaData(int id, char* buf, uint16_t* len) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = entry_.metadata.find(id);
    if (it == entry_.metadata.end()) return 1;
    return copyOut(it->second, buf, len);
}

int HostRecord::writeMeta(int id, const char* text) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (text)
            entry_.metadata[id] = text;
        else
            entry_.metadata.erase(id);
    }
    writeThrough();
    return 0;
}

int HostRecord::setMetaData(int id, const char* text) { return writeMeta(id, text); }

int HostRecord::updateMetaData(int id, const char* text) { return writeMeta(id, text); }

void HostRecord::setError(uint32_t code, const char* message) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        entry_.errorCode = code;
        entry_.errorText = message ? message : "";
    }
    writeThrough();
}

int HostRecord::getError(uint32_t* code, char* buf, uint16_t* len) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (code) *code = entry_.errorCode;
    if (buf && len) return copyOut(entry_.errorText, buf, len);
    return 0;
}

void HostRecord::log(int level, const char* text) { addLine(level, std::string(), text ? text : ""); }

void HostRecord::logFormatted(int level, const char* function, const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = zq::platform::formatText(format, args);
    va_end(args);
    addLine(level, function ? function : "", text);
}

int HostRecord::getConfigInt(const char* key, int* value) {
    // The provider's port and scheme are the record's array's.
    if (key && value &&
        (std::strcmp(key, "SMCONFIG_NAME_SMIS_SERVER_PORT") == 0 ||
         std::strcmp(key, "SMCONFIG_NAME_USE_SECURE_CONNECTION_TO_SMIS_SERVER") == 0)) {
        const std::string id = arrayOfRecord();
        auto array = id.empty() ? std::nullopt : host_.array(id);
        if (!array) return 1;
        *value = std::strcmp(key, "SMCONFIG_NAME_SMIS_SERVER_PORT") == 0 ? array->port : (array->https ? 1 : 0);
        return 0;
    }
    auto it = key ? settings_.find(key) : settings_.end();
    if (it == settings_.end() || !value) return 1;
    char* end = nullptr;
    long v = std::strtol(it->second.c_str(), &end, 10);
    if (end == it->second.c_str() || *end != '\0') return 1;
    *value = int(v);
    return 0;
}

int HostRecord::getConfigString(const char* key, char* buf, uint16_t* len) {
    auto it = key ? settings_.find(key) : settings_.end();
    if (it == settings_.end()) return 1;
    return copyOut(it->second, buf, len);
}

int HostRecord::getHostValue(int id, char* buf, uint16_t* len) {
    // A device given by its unique id: the source volume's GUID, whose
    // leading bytes are the characters of the array id after "0000".
    if (id != ZQSO::GET_VALUE_VOL_SOURCE_GUID || !byUid_) return 1;
    const std::string arrayId = arrayOfRecord();
    if (arrayId.size() != 16) return 1;
    std::string device;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        device = entry_.device;
    }
    return copyOut(sourceVolumeGuid(arrayId, device), buf, len);
}

int HostRecord::getControlHostId() { return controlHostId_; }

std::string HostRecord::snapName() { return snapName_; }

bool HostRecord::sourceDevicePath(std::string& out) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (entry_.device.empty()) return false;
    out = entry_.device;
    return true;
}

bool HostRecord::getMetaDataText(int id, std::string& out) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = entry_.metadata.find(id);
    if (it == entry_.metadata.end()) return false;
    out = it->second;
    return true;
}

bool HostRecord::getMetaDataString(int id, std::string& out) { return getMetaDataText(id, out); }

const unsigned char* HostRecord::getScsiPage(int pageCode) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = pages_.find(pageCode);
    if (found != pages_.end()) return found->second.data();
    if (pageCode != ZQSO::SCSI_PAGE_STANDARD_INQUIRY && pageCode != ZQSO::SCSI_PAGE_SERIAL &&
        pageCode != ZQSO::SCSI_PAGE_DEVICE_ID)
        return nullptr;
    // Asked of the device itself, once per record.
    try {
        CUxError error;
        auto device = ZqDeviceTree::getDevice(entry_.device, &error);
        ZqDeviceScsiIface* scsi = device ? device->scsiIface() : nullptr;
        if (!scsi) return nullptr;
        std::vector<unsigned char> page(ZQSO::SCSI_PAGE_SIZE, 0);
        uint8_t cdb[6] = {0x12, uint8_t(pageCode ? 1 : 0), uint8_t(pageCode), 0, ZQSO::SCSI_PAGE_SIZE, 0};
        scsi->sendCdb(cdb, sizeof(cdb), page.data(), page.size(), 10);
        return pages_.emplace(pageCode, std::move(page)).first->second.data();
    } catch (const std::exception& e) {
        EvDebug().DebugLvl("HostRecord::getScsiPage", 2, "%s: page %d: %s", entry_.device.c_str(), pageCode,
                           e.what());
        return nullptr;
    }
}

void HostRecord::setArrayId(const char* arrayId) {
    std::lock_guard<std::mutex> lock(mutex_);
    entry_.arrayId = arrayId ? arrayId : "";
}

void HostRecord::setLunUniqueId(const char* lunId) {
    std::lock_guard<std::mutex> lock(mutex_);
    entry_.lunUid = lunId ? lunId : "";
}

}  // namespace svcsnap
