// Reconcile: each record's copy, its unique identifier and snapshot object
// read in the calling thread, then the copies asked for side by side
// (PhasePool): the volume by its stored path and, when that says "absent",
// by its unique id. Only two answers of "absent" mark a copy deleted: a copy
// must never leave the host's catalogue because the array could not be asked
// or its path changed.
#include "ReconcileSnaps.h"

#include <vector>

#include "EngineFrame.h"
#include "EngineRemoteHelper.h"
#include "HostCopySteps.h"
#include "IBMSVCSnapshot.h"
#include "PhasePool.h"

namespace ZQSOIBMSVCAPI {

namespace {

// One record's check.
struct Check {
    ZQSO::SnapInfo* record = nullptr;
    UniqueId fields;
    IBMSVCSnapshot snap;
    bool checked = false;  // the copy could be checked
};

// The record's unique identifier and the snapshot object of its copy. False
// when the record cannot be checked.
bool setUpCheck(Check& c, ZQSO::ZQOSUtil* os) {
    const char* fn = "reconcileSnaps";
    ZQSO::SnapInfo* record = c.record;
    std::string text;
    if (!readMetaData(record, ZQSO::SM_MDT_UNIQUE_ID, text)) {
        engineLog(record, 2, fn, "%s: Failed to get metadata [id : %d]", fn, int(ZQSO::SM_MDT_UNIQUE_ID));
        return false;
    }
    engineLog(record, 0, fn, "%s: received metadata id:%d, value:%s", fn, int(ZQSO::SM_MDT_UNIQUE_ID), text.c_str());
    if (text.empty()) {
        engineLog(record, 0, fn, "Nothing to check as unique identifier is empty.");
        return false;
    }
    UniqueId& fields = c.fields;
    if (!parseUniqueId(record, text, fields)) {
        engineLog(record, 2, fn, "%s: Failed to parse unique identifier [%s]", fn, text.c_str());
        return false;
    }
    refreshArrayId(os, record, fields);
    engineLog(record, 0, fn, "%s: Snap Device[%s] Source Device [%s] Snap Name [%s]", fn, fields.snapDev.c_str(),
              fields.srcDev.c_str(), record->snapName().c_str());
    return snapshotOfCopy(c.snap, record, fields, fn);
}

// Asks the array for the copy. True when it could be checked.
bool checkCopy(Check& c) {
    const char* fn = "reconcileSnaps";
    ZQSO::SnapInfo* record = c.record;
    UniqueId& fields = c.fields;
    IBMSVCSnapshot& snap = c.snap;
    refreshVolumePaths(snap, record, fields);
    setCopyView(snap, fields, std::string(), false);

    const int status = snap.GetSnapStatus();
    if (status < 0) {
        engineLog(record, 2, fn, "Operation Failed");
        return false;
    }
    if (status == ZQSO::SNAP_STATUS_DELETED_OUTSIDE) {
        // Without the copy's unique id its absence cannot be proved.
        if (fields.snapDev.empty()) {
            engineLog(record, 2, fn, "%s: The unique identifier names no snap device, its absence cannot be checked",
                      fn);
            return false;
        }
        std::string path;
        const int found = snap.FindSVCVolObjectPathByUUID(fields.snapDev, path);
        if (found < 0) {
            engineLog(record, 2, fn, "Operation Failed");
            return false;
        }
        if (found == 0) {
            engineLog(record, 0, fn, "%s: Snap device %s externally deleted from Storage Array [%s]", fn,
                      fields.snapDev.c_str(), fields.arrayId.c_str());
            record->setStatus(ZQSO::SNAP_STATUS_DELETED_OUTSIDE);
            return true;
        }
    }
    engineLog(record, 0, fn, "%s: Snap device %s exists or status unknown ", fn, fields.snapDev.c_str());
    return true;
}

}  // namespace

int reconcileSnaps(ZQSO::SnapInfo** records, int16_t count, ZQSO::ZQOSUtil* os) {
    const char* fn = "reconcileSnaps";
    engineLog(records[0], 0, fn, "Going to check [%d] snap / clone device{s] status on the Storage Array", int(count));
    std::vector<Check> checks(static_cast<size_t>(count));
    std::vector<PhaseItem> items;
    for (size_t i = 0; i < checks.size(); ++i) {
        Check& c = checks[i];
        c.record = records[i];
        if (c.record && setUpCheck(c, os)) items.push_back({i, c.snap.m_SystemName});
    }
    PhasePool::configured(records[0]).run(items, [&](size_t i) { checks[i].checked = checkCopy(checks[i]); });
    int failures = 0;
    for (const Check& c : checks)
        if (!c.checked) ++failures;
    engineLog(records[0], 0, fn, "reconcileSnaps operation Completed");
    if (failures == 0) return 0;
    return failures < count ? 2 : 1;
}

int reconcile(ZQSO::SnapInfo** records, int16_t count, ZQSO::ZQOSUtil* os) {
    std::string response;
    EngineRemoteHelper helper(records, count, os);
    return int(runBatchFrame("zqso_reconcileSnaps", helper, records[0], REMOTE_OP_RECONCILE, "", response,
                             [&] { return unsigned(reconcileSnaps(records, count, os)); }));
}

}  // namespace ZQSOIBMSVCAPI
