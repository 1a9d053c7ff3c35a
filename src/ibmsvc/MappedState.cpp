// The mapped-state query, in the order of its steps: host facts on the
// calling host, the array step here or on the proxy (the records' copies
// asked for side by side), then the host's own disks matched against the
// copies the array says are mapped here.
#include "MappedState.h"

#include "EngineFrame.h"
#include "HostCopySteps.h"
#include "HostDiscovery.h"
#include "IBMSVCEngineRemoteHelper.h"
#include "IBMSVCRemoteMessages.h"
#include "IBMSVCSnapshot.h"
#include "IBMSVCUtility.h"
#include "PhasePool.h"

namespace ZQSOIBMSVCAPI {

namespace {

void setAll(ZQSO::SnapInfo** records, int16_t count, ZQSO::SnapStatus status) {
    for (int i = 0; i < count; ++i)
        if (records[i]) records[i]->setStatus(status);
}

// One record's question to the array.
struct Ask : CopyTurn {
    ZQSO::SnapStatus status = ZQSO::SNAP_STATUS_MAP_NOT_DETERMINED;
};

// The record's copy and its snapshot object, in the calling thread. False
// leaves the record's answer at 11.
bool setUpAsk(Ask& a, ZQSO::ZQOSUtil* os) {
    const char* fn = "processIsMapped";
    ZQSO::SnapInfo* record = a.record;
    std::string text;
    if (!readMetaData(record, ZQSO::SM_MDT_UNIQUE_ID, text))
        engineLog(record, 2, fn, "Failed to get metadata [id : %d]", int(ZQSO::SM_MDT_UNIQUE_ID));
    if (!parseUniqueId(record, text, a.fields)) {
        engineLog(record, 2, fn, "%s: Failed to parse unique identifier [%s]", fn, text.c_str());
        return false;
    }
    refreshArrayId(os, record, a.fields);
    engineLog(record, 0, fn, "%s: Snap Device[%s] Source Device [%s] Snap Name [%s]", fn, a.fields.snapDev.c_str(),
              a.fields.srcDev.c_str(), record->snapName().c_str());
    return snapshotOfCopy(a.snap, record, a.fields, fn);
}

// The array's answer for one record.
ZQSO::SnapStatus askArray(Ask& a, const std::string& initiators) {
    const char* fn = "processIsMapped";
    ZQSO::SnapInfo* record = a.record;
    UniqueId& fields = a.fields;
    IBMSVCSnapshot& snap = a.snap;
    setCopyView(snap, fields, initiators, false);
    int status = snap.IsSnapMapped();
    if (status == ZQSO::SNAP_STATUS_NONE && !fields.snapDev.empty()) {
        engineLog(record, 1, fn, "Got the status as snap device delete externally with object path, rechecking with uuid");
        std::string path;
        const int found = snap.FindSVCVolObjectPathByUUID(fields.snapDev, path);
        if (found < 0) {
            engineLog(record, 2, fn, "%s: The snap device %s could not be looked up by its UUID", fn,
                      fields.snapDev.c_str());
            return ZQSO::SNAP_STATUS_MAP_NOT_DETERMINED;
        }
        if (found == 1) {
            fields.snapDevPath = path;
            setCopyView(snap, fields, initiators, false);
            status = snap.IsSnapMapped();
        }
    }
    if (status == ZQSO::SNAP_STATUS_NOT_MAPPED) {
        engineLog(record, 0, fn, "%s No mapping found for LUN UUID [%s]", fn, fields.snapDev.c_str());
        if (fields.snapOp == "5") {
            engineLog(record, 0, fn, "%s: CLONED device, no mapping found for LUN UUID [%s]", fn,
                      fields.snapDev.c_str());
            status = ZQSO::SNAP_STATUS_CLONE_NOT_MAPPED;
        }
    }
    return ZQSO::SnapStatus(status);
}

// Records the array says are mapped here and whose disk the host lists.
void matchHostDisks(ZQSO::SnapInfo** records, int16_t count, ZQSO::ZQOSUtil* os,
                    const std::vector<std::string>& devices) {
    const char* fn = "zqso_isMapped";
    DeviceLuns luns(os, records[0]);
    for (int i = 0; i < count; ++i) {
        ZQSO::SnapInfo* record = records[i];
        // Only a copy mapped to this host counts: a disk left from an
        // earlier mapping answers inquiries until the host rescans.
        if (!record || record->getStatus() != ZQSO::SNAP_STATUS_MAPPED_THIS_HOST) continue;
        std::string text;
        if (!readMetaData(record, ZQSO::SM_MDT_UNIQUE_ID, text)) {
            engineLog(record, 2, fn, "Failed to get metadata [id : %d]", int(ZQSO::SM_MDT_UNIQUE_ID));
            continue;
        }
        UniqueId fields;
        if (!parseUniqueId(record, text, fields)) {
            engineLog(record, 2, fn, "%s: Failed to parse unique identifier [%s]", fn, text.c_str());
            continue;
        }
        const std::string path = luns.find(devices, fields.snapDev);
        if (path.empty()) continue;
        record->setStatus(ZQSO::SNAP_STATUS_MAPPED_VISIBLE);
        record->setSnapDevicePath(path.c_str());
        engineLog(record, 0, fn, "%s: Device Path [%s] found on host matching UUID [%s]", fn, path.c_str(),
                  fields.snapDev.c_str());
    }
}

}  // namespace

int isMappedLocalProcessing(ZQSO::SnapInfo** records, int16_t count, ZQSO::ZQOSUtil* os, LocalDataIsMapped& data) {
    const char* fn = "isMappedLocalProcessing";
    data = LocalDataIsMapped();
    ZQSO::SnapInfo* first = records[0];
    engineLog(first, 0, fn, "Going to check if snap/clone device is mapped");
    if (!checkBatchHosts(records, count, fn)) return 1;
    ZQSO::SnapInfo* last = records[count - 1];
    if (!getHostIdentifier(last, data.hostIdentifier)) {
        setError(last, kErrorHostIdentifier, engineLog(last, 2, fn, "%s: Failed to get host identifier", fn));
        return 1;
    }
    const std::string arrayId = getStorageArrayId(first);
    data.isVM = isVirtualMachineRecord(first);
    if (data.isVM) {
        std::string initiator;
        if (!detectHBA(first, arrayId, os, data.hostIdentifier, initiator, data.isSCSI) || initiator.empty()) {
            setError(first, kErrorInitiators, engineLog(first, 2, fn, "%s: Unable to detect initiator info.", fn));
            return 1;
        }
        data.initiatorIds = {initiator};
    } else if (!detectHbalist(first, os, data.hostIdentifier, arrayId, data.initiatorIds, data.isSCSI) ||
               data.initiatorIds.empty()) {
        setError(first, kErrorInitiators, engineLog(first, 2, fn, "%s: Unable to detect initiator info.", fn));
        return 1;
    }
    getDeviceList(first, os, data.hostIdentifier, data.isVM, data.hostDevPathList);
    return 0;
}

int processIsMapped(ZQSO::SnapInfo** records, int16_t count, ZQSO::ZQOSUtil* os, const LocalDataIsMapped& data) {
    setAll(records, count, ZQSO::SNAP_STATUS_MAP_NOT_DETERMINED);
    const std::string initiators = convertHbaList(records[0], data.initiatorIds, data.isSCSI);
    // Each record read in turn here, the array asked for all of them on the
    // pool; every status is written once all have answered.
    std::vector<Ask> asks(static_cast<size_t>(count));
    std::vector<PhaseItem> items;
    for (size_t i = 0; i < asks.size(); ++i) {
        asks[i].record = records[i];
        if (asks[i].record && setUpAsk(asks[i], os)) items.push_back({i, asks[i].snap.m_SystemName});
    }
    PhasePool::configured(records[0]).run(items, [&](size_t i) { asks[i].status = askArray(asks[i], initiators); });
    for (const Ask& a : asks)
        if (a.record) a.record->setStatus(a.status);
    return 0;
}

MappedStateResult queryMappedState(ZQSO::SnapInfo** records, int16_t count, ZQSO::ZQOSUtil* os) {
    const char* fn = "zqso_isMapped";
    setAll(records, count, ZQSO::SNAP_STATUS_MAP_NOT_DETERMINED);
    LocalDataIsMapped data;
    if (isMappedLocalProcessing(records, count, os, data) != 0) return MappedStateResult::NoHostFacts;
    std::string request, response;
    fillRequestIsMapped(data, request);
    IBMSVCEngineRemoteHelper helper(records, count, os);
    const unsigned result = runBatchFrame(fn, helper, records[0], REMOTE_OP_ISMAPPED, request, response,
                                          [&] { return unsigned(processIsMapped(records, count, os, data)); });
    if (result != 0) {
        // What came back from a failed run says nothing reliable.
        setAll(records, count, ZQSO::SNAP_STATUS_MAP_NOT_DETERMINED);
        engineLog(records[0], 2, fn, "%s: The mapped state could not be asked of the array", fn);
        return MappedStateResult::RemoteFailed;
    }
    matchHostDisks(records, count, os, data.hostDevPathList);
    return MappedStateResult::Answered;
}

int isMapped(ZQSO::SnapInfo** records, int16_t count, ZQSO::ZQOSUtil* os) {
    return queryMappedState(records, count, os) == MappedStateResult::NoHostFacts ? 1 : 0;
}

}  // namespace ZQSOIBMSVCAPI
