// Snap, in the order of its steps: the first record tells whether the batch
// is in a consistency group; every record is read and checked in turn; a
// record outside a group is started at once (snapDeviceThread), the group is
// started once after every record was read.
#include "SnapDevices.h"

#include <string>
#include <vector>

#include "ArrayParams.h"
#include "EngineFrame.h"
#include "IBMSVCUtility.h"
#include "SnapshotSteps.h"
#include "ZqSmisSyncOperation.h"

namespace ZQSOIBMSVCAPI {

namespace {

constexpr int kEngineSnapshot = 20;
constexpr int kEngineClone = 21;

// The worker argument of one record.
struct SnapJob {
    ZQSO::SnapInfo* record = nullptr;
    IBMSVCSnapshot snap;
    std::string label;  // calling function "*" target selection mode
};

// Reads the record's unique identifier and builds its snapshot object. False
// after logging; the record is then failed by the caller.
bool buildSnapshot(ZQSO::SnapInfo* record, const char* fn, UniqueId& fields, IBMSVCSnapshot& snap) {
    bool empty = false;
    if (!readRecordUniqueId(record, fn, fields, empty)) return false;
    if (empty) {
        engineLog(record, 2, fn, "Failed to get metadata [id : %d]", int(ZQSO::SM_MDT_UNIQUE_ID));
        return false;
    }
    snap.SetSnapStatus(record->getStatus());
    if (!initRecordSnapshot(snap, record, fields.arrayId, false)) {
        engineLog(record, 2, fn, "%s Failed to initialize the Array parameters", fn);
        return false;
    }
    setSnapFromUniqueId(snap, record, fields);
    return true;
}

// Starts one record's mapping and writes its unique identifier anew.
int snapDeviceThread(SnapJob& job) {
    const size_t star = job.label.find('*');
    const std::string fn = job.label.substr(0, star);
    const std::string mode = star == std::string::npos ? std::string() : job.label.substr(star + 1);
    ZQSO::SnapInfo* record = job.record;
    IBMSVCSnapshot& snap = job.snap;
    const int engine = getSnapEngineType(record);
    const std::string arrayId = getStorageArrayId(record);

    bool started = false;
    if (engine == kEngineSnapshot || engine == kEngineClone) {
        started = snap.SnapSyncOp(SYNC_OP_RESYNC, true, false) == ZQSO::SNAP_STATUS_SNAP_STARTED &&
                  confirmStarted(snap, record, fn.c_str());
        if (!started) engineLog(record, 2, fn.c_str(), "Starting FlashCopy failed, going to delete FlashCopy");
    }
    if (!started) {
        engineLog(record, 2, fn.c_str(), engine == kEngineSnapshot ? "%s: Snap Creation failed" : "%s: Clone Creation failed",
                  fn.c_str());
        record->setStatus(ZQSO::SNAP_STATUS_SNAP_FAILED);
        return 0;
    }
    engineLog(record, 0, fn.c_str(), "Successfully created snap/clone");
    writeUniqueId(record, fn.c_str(), uniqueIdOf(arrayId, snap, mode));
    record->setStatus(ZQSO::SNAP_STATUS_SNAP_STARTED);
    return 0;
}

}  // namespace

int snapDevices(ZQSO::SnapInfo** records, int16_t count, ZQSO::ZQOSUtil*) {
    const char* fn = "snapDevices";
    if (!records || count <= 0 || !records[0]) return 1;
    ZQSO::SnapInfo* first = records[0];
    engineLog(first, 0, fn, " Starting snap/clone operation");

    // The first record with a copy tells whether the batch is one group (a
    // record whose prepare failed has none).
    std::string groupName;
    for (int i = 0; i < count; ++i) {
        UniqueId fields;
        IBMSVCSnapshot firstSnap;
        if (!records[i] || !buildSnapshot(records[i], fn, fields, firstSnap)) continue;
        if (firstSnap.GetSyncSetName() == 1) groupName = firstSnap.m_SyncSetName;
        break;
    }
    const bool groupMode = !groupName.empty();

    std::vector<SnapJob> members;  // group records that were read
    IBMSVCSnapshot groupSnap;
    for (int i = 0; i < count; ++i) {
        ZQSO::SnapInfo* record = records[i];
        if (!record) continue;
        UniqueId fields;
        SnapJob job;
        job.record = record;
        if (!buildSnapshot(record, fn, fields, job.snap)) {
            record->setStatus(ZQSO::SNAP_STATUS_SNAP_FAILED);
            continue;
        }
        const int engine = getSnapEngineType(record);
        engineLog(record, 0, fn, "%s: Source Device [%s] Snap Name %s ", fn, fields.srcDev.c_str(),
                  record->snapName().c_str());
        std::string info;
        if (!readArrayInfo(record, info)) {
            engineLog(record, 2, fn, "%s: Failed to get array info for array id [%s]", fn, fields.arrayId.c_str());
            setError(record, kErrorArrayInfo, "Failed to get array info");
        }
        const std::string deviceGroup = recordConfigText(record, "SMCONFIG_NAME_STORAGE_DEVICE_GROUP", "");
        if (!deviceGroup.empty())
            engineLog(record, 0, fn, "%s: Source Device [%s] Device Group [%s]", fn, fields.srcDev.c_str(),
                      deviceGroup.c_str());
        if (engine != kEngineSnapshot && engine != kEngineClone) {
            engineLog(record, 2, fn, "%s: Failed : snapDevices received unknown snap operation [%d]", fn, engine);
            record->setStatus(ZQSO::SNAP_STATUS_SNAP_FAILED);
            continue;
        }
        job.snap.m_SnapOp = engine == kEngineSnapshot ? 4 : 5;
        record->mark(ZQSO::SNAP_MARK_BEFORE_SNAP);

        if (!groupMode) {
            job.label = std::string(fn) + "*" + fields.targetSelMode;
            engineLog(record, 0, fn, "Function Name appended with targetSelMode = %s", job.label.c_str());
            snapDeviceThread(job);
            continue;
        }
        std::string recordGroup;
        if (!record->getMetaDataText(ZQSO::SM_MDT_CONSISTENCY_GROUP, recordGroup) || recordGroup.empty())
            recordGroup = groupName;
        job.snap.m_SyncSetName = recordGroup;
        if (members.empty()) groupSnap = job.snap;
        members.push_back(job);
    }

    // The group starts once, after every record was read.
    if (groupMode && !members.empty()) {
        ZQSO::SnapInfo* last = members.back().record;
        groupSnap.m_SyncSetName = groupName;
        if (groupSnap.ModifySyncSet(SET_OP_START) != 0) {
            const std::string why = engineLog(last, 2, fn, "ConsistencyGroup Resync failed ");
            for (SnapJob& member : members) {
                setError(member.record, kErrorStepFailed, why);
                member.record->setStatus(ZQSO::SNAP_STATUS_SNAP_FAILED);
            }
        } else {
            // The group's answer covers the group: each member's mapping must
            // copy (one that left the group did not start).
            std::vector<Confirm> mappings;
            for (SnapJob& member : members) mappings.push_back({&member.snap, member.record});
            const std::vector<bool> copying = confirmStarted(mappings, fn);
            for (size_t i = 0; i < members.size(); ++i)
                members[i].record->setStatus(copying[i] ? ZQSO::SNAP_STATUS_SNAP_STARTED : ZQSO::SNAP_STATUS_SNAP_FAILED);
            engineLog(last, 0, fn, "Successfully Started FlashCopy mapping");
        }
    }

    engineLog(first, 0, fn, "Snap/Clone operation completed");
    int started = 0;
    for (int i = 0; i < count; ++i)
        if (records[i] && records[i]->getStatus() == ZQSO::SNAP_STATUS_SNAP_STARTED) ++started;
    if (started == count) return 0;
    return started > 0 ? 2 : 1;
}

}  // namespace ZQSOIBMSVCAPI
