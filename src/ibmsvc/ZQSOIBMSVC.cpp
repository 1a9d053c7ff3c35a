// Exported entry points of the IBM SVC snapshot engine. Each one runs its
// flow through guardedEntry, so no exception crosses the C boundary.
#include <map>
#include <string>
#include <vector>

#include "DeleteSnaps.h"
#include "DeviceIdentification.h"
#include "EngineFrame.h"
#include "IBMSVCEngineRemoteHelper.h"
#include "IBMSVCRemoteMessages.h"
#include "IBMSVCUtility.h"
#include "MapSnaps.h"
#include "MappedState.h"
#include "PrepareDevices.h"
#include "ReconcileSnaps.h"
#include "RevertSnaps.h"
#include "SnapDevices.h"
#include "TargetDeviceList.h"
#include "UnmapSnaps.h"
#include "zqso/zqso.h"

using namespace ZQSOIBMSVCAPI;

namespace {

constexpr int kIdentifyMode = 3;

bool validBatch(ZQSO::SnapInfo** records, int16_t count) { return records && count > 0; }

std::string padded(std::string text, size_t width) {
    if (text.size() < width) text.resize(width, ' ');
    return text;
}

// Marks a record failed with 62005 and the given line as its message.
void failRecord(ZQSO::SnapInfo* record, const std::string& line) {
    setError(record, kErrorArrayInfo, line);
    record->setStatus(ZQSO::SNAP_STATUS_PREPARE_FAILED);
}

int processVPDInfo(ZQSO::SnapInfo** records, int16_t count, ZQSO::ZQOSUtil* os) {
    const char* fn = "zqso_processVPDInfo";
    if (!validBatch(records, count)) {
        engineLog(nullptr, 2, fn, "Called with no records");
        return 1;
    }
    engineLog(records[0], 1, fn, "Starting to process VPD for [%d] devices.", count);
    int done = 0;
    for (int i = 0; i < count; ++i) {
        ZQSO::SnapInfo* record = records[i];
        if (!record) continue;
        std::string path;
        if (!readSourceDevicePath(record, path)) {
            failRecord(record, engineLog(record, 2, fn, "%s: Failed to get the source device path", fn));
            continue;
        }
        engineLog(record, 1, fn, "%s: Attempting to get array info from host device path %s", fn, path.c_str());
        std::string vendor, product, arrayId, lunId;
        if (!getDevArrayInfo2(os, record, path.c_str(), vendor, product, arrayId, lunId, true)) {
            failRecord(record, engineLog(record, 2, fn, "%s: Failed to get IBMSVC Array name from host device name[%s]",
                                         fn, path.c_str()));
            continue;
        }
        if (!isConfiguredDevice(vendor, product)) {
            failRecord(record, engineLog(record, 2, fn, "Device [%s] does not belong to IBMSVC", path.c_str()));
            continue;
        }
        record->setArrayId(arrayId.c_str());
        record->setLunUniqueId(lunId.c_str());
        if (arrayId.empty()) {
            engineLog(record, 2, fn, "%s: Failed to get array info as arrayId is empty", fn);
            setError(record, kErrorArrayInfo, "Failed to get array info");
            record->setStatus(ZQSO::SNAP_STATUS_PREPARE_FAILED);
            continue;
        }
        if (record->selectArray(arrayId.c_str()) != 0) {
            failRecord(record, engineLog(record, 2, fn, "%s:  Unable to set the login credentials for SMIS provider",
                                         fn));
            continue;
        }
        ++done;
    }
    if (done == count) {
        engineLog(records[0], 1, fn, "Process VPD Info completed Successfully");
        return 0;
    }
    engineLog(records[0], 2, fn, "Process VPD Info Failed");
    return done > 0 ? 2 : 1;
}

int identifyDevices(ZQSO::SnapInfo** records, int16_t count, ZQSO::MountedDeviceMap* mounted, int mode,
                    ZQSO::ZQOSUtil* os) {
    const char* fn = "zqso_identifyDevices";
    if (mode != kIdentifyMode || !validBatch(records, count) || !mounted) return 0;
    std::string vendorName = configuredVendor(), productName = configuredProduct();
    std::string key = padded(vendorName, 8) + "|::|" + padded(productName, 16);
    ZQSO::SnapInfo* first = records[0];
    auto listed = mounted->find(key);
    if (listed == mounted->end()) {
        engineLog(first, 1, fn, "None of the mounted devices belongs to Vendor [%s] and product [%s]",
                  vendorName.c_str(), productName.c_str());
        return 0;
    }
    std::map<std::string, std::string> byLun;  // array id + "|::|" + LUN id -> device path
    for (const auto& device : listed->second) {
        std::string vendor, product, arrayId, lunId;
        if (!getDevArrayInfo(os, first, device.c_str(), vendor, product, arrayId, lunId, true, false)) {
            engineLog(first, 1, fn, "%s: Failed to get IBMSVC Array name from host device name[%s]", fn,
                      device.c_str());
            continue;
        }
        byLun.emplace(arrayId + "|::|" + lunId, device);
    }
    std::vector<std::string> found;
    for (int i = 0; i < count && found.empty(); ++i) {
        ZQSO::SnapInfo* record = records[i];
        if (!record) continue;
        std::string text;
        if (!readMetaData(record, ZQSO::SM_MDT_UNIQUE_ID, text)) {
            engineLog(record, 1, fn, "%s: Failed to get metadata [id : %d]", fn, int(ZQSO::SM_MDT_UNIQUE_ID));
            continue;
        }
        UniqueId fields;
        if (!parseUniqueId(record, text, fields)) {
            engineLog(record, 1, fn, "%s: Failed to parse unique identifier [%s]", fn, text.c_str());
            continue;
        }
        auto hit = byLun.find(fields.arrayId + "|::|" + fields.snapDev);
        if (hit != byLun.end()) {
            engineLog(record, 1, fn, "Found device [%s]", hit->second.c_str());
            found.push_back(hit->second);
        }
    }
    listed->second = found;
    return 0;
}

int isSupported(const char* deviceName, ZQSO::ZQOSUtil* os) {
    const char* fn = "zqso_isSupported";
    if (!deviceName || !*deviceName) {
        processLogger().DebugLvl(fn, 2, "Function called with NULL character device name");
        return 1;
    }
    std::string vendor, product, arrayId, lunId;
    if (!getDevArrayInfo(os, nullptr, deviceName, vendor, product, arrayId, lunId, false, false)) {
        processLogger().DebugLvl(fn, 2, "Failed to get the array info of device, device does not belong to IBMSVC");
        return 2;
    }
    processLogger().DebugLvl(fn, 1, "Device %s belong to array - %s vendor - %s product %s ", deviceName,
                             arrayId.c_str(), vendor.c_str(), product.c_str());
    return isConfiguredDevice(vendor, product) ? 0 : 2;
}

int unprepareDevices(ZQSO::SnapInfo** records, int16_t count) {
    if (validBatch(records, count)) {
        for (int i = 0; i < count; ++i) {
            if (!records[i]) continue;
            records[i]->setMetaData(ZQSO::SM_MDT_UNIQUE_ID, nullptr);
            records[i]->setStatus(ZQSO::SNAP_STATUS_UNPREPARED);
        }
    }
    targetDeviceList().markChanged();
    return 0;
}

int prepare(ZQSO::SnapInfo** records, int16_t count, ZQSO::ZQOSUtil* os) {
    const char* fn = "zqso_prepareDevices";
    if (!validBatch(records, count)) {
        engineLog(nullptr, 2, fn, "Called with no records");
        return 1;
    }
    std::vector<LocalDataPrepare> devices;
    if (prepareDevicesLocalOperation(records, count, os, devices)) return 1;
    std::string request, response;
    fillRequestPrepare(devices, request);
    IBMSVCEngineRemoteHelper helper(records, count, os);
    return int(runBatchFrame(fn, helper, records[0], REMOTE_OP_PREPARE, request, response,
                             [&] { return unsigned(prepareDevices(records, count, os, devices)); }));
}

int snap(ZQSO::SnapInfo** records, int16_t count, ZQSO::ZQOSUtil* os) {
    const char* fn = "zqso_snapDevices";
    if (!validBatch(records, count)) {
        engineLog(nullptr, 2, fn, "Called with no records");
        return 1;
    }
    std::string response;
    EngineRemoteHelper helper(records, count, os);
    return int(runBatchFrame(fn, helper, records[0], REMOTE_OP_SNAP, "", response,
                             [&] { return unsigned(snapDevices(records, count, os)); }));
}

// Records left out of a delete keep their copy: while the batch is deleted
// their unique identifier is hidden (a proxy gets the whole batch), then
// restored, and they end at 21.
class LeftOutOfDelete {
public:
    explicit LeftOutOfDelete(const std::vector<ZQSO::SnapInfo*>& records) {
        for (ZQSO::SnapInfo* record : records) {
            std::string text;
            record->getMetaDataText(ZQSO::SM_MDT_UNIQUE_ID, text);
            hidden_.emplace_back(record, text);
            record->setMetaData(ZQSO::SM_MDT_UNIQUE_ID, nullptr);
        }
    }
    ~LeftOutOfDelete() {
        for (auto& entry : hidden_) {
            entry.first->setMetaData(ZQSO::SM_MDT_UNIQUE_ID, entry.second.c_str());
            entry.first->setStatus(ZQSO::SNAP_STATUS_DELETE_FAILED);
        }
    }
    LeftOutOfDelete(const LeftOutOfDelete&) = delete;
    LeftOutOfDelete& operator=(const LeftOutOfDelete&) = delete;

private:
    std::vector<std::pair<ZQSO::SnapInfo*, std::string>> hidden_;
};

int deleteBatch(ZQSO::SnapInfo** records, int16_t count, ZQSO::ZQOSUtil* os) {
    const char* fn = "zqso_deleteSnaps";
    if (!validBatch(records, count)) {
        engineLog(nullptr, 2, fn, "Called with no records");
        return 1;
    }
    std::vector<ZQSO::SnapInfo*> leftOut;
    std::vector<ZQSO::SnapInfo*> remaining = unmapBeforeDelete(records, count, os, leftOut);
    if (leftOut.empty()) {
        std::string response;
        EngineRemoteHelper helper(records, count, os);
        return int(runBatchFrame(fn, helper, records[0], REMOTE_OP_DELETE, "", response,
                                 [&] { return unsigned(deleteSnaps(records, count, os)); }));
    }
    if (!remaining.empty()) {
        LeftOutOfDelete hidden(leftOut);
        std::string response;
        EngineRemoteHelper helper(records, count, os);
        runBatchFrame(fn, helper, records[0], REMOTE_OP_DELETE, "", response, [&] {
            return unsigned(deleteSnaps(remaining.data(), int16_t(remaining.size()), os));
        });
    }
    int deleted = 0;
    for (int i = 0; i < count; ++i)
        if (records[i] && records[i]->getStatus() == ZQSO::SNAP_STATUS_DELETED) ++deleted;
    return deleted == count ? 0 : deleted > 0 ? 2 : 1;
}

// The host-side batch entry points: a batch without records does nothing.
template <class Flow>
int hostBatch(const char* fn, ZQSO::SnapInfo** records, int16_t count, ZQSO::ZQOSUtil* os, Flow flow) {
    if (!validBatch(records, count)) {
        engineLog(nullptr, 2, fn, "Called with no records");
        return 1;
    }
    for (int i = 0; i < count; ++i)
        if (!records[i]) {
            engineLog(nullptr, 2, fn, "Called with a missing record [%d]", i);
            return 1;
        }
    return flow(records, count, os);
}

int execSnapEngineOp(ZQSO::SnapInfo** records, int16_t count, ZQSO::ZQOSUtil* os) {
    if (!validBatch(records, count)) {
        engineLog(nullptr, 2, "zqso_execSnapEngineOp", "Called with no records");
        return 1;
    }
    IBMSVCEngineRemoteHelper helper(records, count, os);
    return int(helper.performRequestedOperation());
}

}  // namespace

extern "C" {

void zqso_version(uint16_t* major, uint16_t* minor, uint16_t* patch) {
    guardedEntryVoid("zqso_version", [&] {
        if (!major || !minor || !patch) return;
        *major = 1;
        *minor = 0;
        *patch = 0;
    });
}

int zqso_isSupported(const char* deviceName, int, ZQSO::ZQOSUtil* os, void*, void*) {
    return guardedEntry("zqso_isSupported", 2, [&] { return isSupported(deviceName, os); });
}

int zqso_processVPDInfo(ZQSO::SnapInfo** records, int16_t count, ZQSO::ZQOSUtil* os) {
    return guardedEntry("zqso_processVPDInfo", 1, [&] { return processVPDInfo(records, count, os); });
}

int zqso_identifyDevices(ZQSO::SnapInfo** records, int16_t count, ZQSO::MountedDeviceMap* mounted, int mode,
                         void*, ZQSO::ZQOSUtil* os) {
    return guardedEntry("zqso_identifyDevices", 1,
                        [&] { return identifyDevices(records, count, mounted, mode, os); });
}

int zqso_prepareDevices(ZQSO::SnapInfo** records, int16_t count, ZQSO::ZQOSUtil* os) {
    return guardedEntry("zqso_prepareDevices", 1, [&] { return prepare(records, count, os); });
}

int zqso_snapDevices(ZQSO::SnapInfo** records, int16_t count, ZQSO::ZQOSUtil* os) {
    return guardedEntry("zqso_snapDevices", 1, [&] { return snap(records, count, os); });
}

int zqso_deleteSnaps(ZQSO::SnapInfo** records, int16_t count, ZQSO::ZQOSUtil* os) {
    return guardedEntry("zqso_deleteSnaps", 1, [&] { return deleteBatch(records, count, os); });
}

int zqso_unprepareDevices(ZQSO::SnapInfo** records, int16_t count, ZQSO::ZQOSUtil*) {
    return guardedEntry("zqso_unprepareDevices", 1, [&] { return unprepareDevices(records, count); });
}

int zqso_isMapped(ZQSO::SnapInfo** records, int16_t count, ZQSO::ZQOSUtil* os) {
    return guardedEntry("zqso_isMapped", 1, [&] { return hostBatch("zqso_isMapped", records, count, os, isMapped); });
}

int zqso_mapSnaps(ZQSO::SnapInfo** records, int16_t count, ZQSO::ZQOSUtil* os) {
    return guardedEntry("zqso_mapSnaps", 1, [&] { return hostBatch("zqso_mapSnaps", records, count, os, mapSnaps); });
}

int zqso_unmapSnaps(ZQSO::SnapInfo** records, int16_t count, ZQSO::ZQOSUtil* os) {
    return guardedEntry("zqso_unmapSnaps", 1,
                        [&] { return hostBatch("zqso_unmapSnaps", records, count, os, unmapSnaps); });
}

int zqso_revertSnaps(ZQSO::SnapInfo** records, int16_t count, ZQSO::ZQOSUtil* os) {
    return guardedEntry("zqso_revertSnaps", 1,
                        [&] { return hostBatch("zqso_revertSnaps", records, count, os, revertSnaps); });
}

int zqso_reconcileSnaps(ZQSO::SnapInfo** records, int16_t count, ZQSO::ZQOSUtil* os) {
    return guardedEntry("zqso_reconcileSnaps", 1,
                        [&] { return hostBatch("zqso_reconcileSnaps", records, count, os, reconcile); });
}

int zqso_execSnapEngineOp(ZQSO::SnapInfo** records, int16_t count, ZQSO::ZQOSUtil* os) {
    return guardedEntry("zqso_execSnapEngineOp", 1, [&] { return execSnapEngineOp(records, count, os); });
}

}  // extern "C"
