// Snap, in the order of its steps: the first record tells whether the batch
// is in a consistency group; every record is read and checked in turn; the
// records outside a group are started together (every start sent, the starts
// confirmed in shared rounds, then each record's outcome: snapDeviceThread's
// steps), the group is started once after every record was read.
#include "SnapDevices.h"

#include <string>
#include <vector>

#include "ArrayParams.h"
#include "EngineFrame.h"
#include "IBMSVCUtility.h"
#include "PhasePool.h"
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

// Starts the records' mappings and writes their unique identifiers anew:
// snapDeviceThread's steps, each over all of them. Records of one copy go in
// passes one after another, as they would record after record.
void snapDeviceThreads(std::vector<SnapJob>& jobs, const PhasePool& pool) {
    struct Turn {
        std::string fn, mode, arrayId;
        int engine = 0;
        bool started = false;
    };
    std::vector<Turn> turns(jobs.size());
    std::vector<std::string> copies;
    for (size_t i = 0; i < jobs.size(); ++i) {
        const size_t star = jobs[i].label.find('*');
        turns[i].fn = jobs[i].label.substr(0, star);
        turns[i].mode = star == std::string::npos ? std::string() : jobs[i].label.substr(star + 1);
        turns[i].engine = getSnapEngineType(jobs[i].record);
        turns[i].arrayId = getStorageArrayId(jobs[i].record);
        copies.push_back(jobs[i].snap.m_TargetDev);
    }
    for (const std::vector<size_t>& pass : passesByCopy(copies)) {
        std::vector<PhaseItem> items;
        for (size_t i : pass)
            if (turns[i].engine == kEngineSnapshot || turns[i].engine == kEngineClone)
                items.push_back({i, jobs[i].snap.m_SystemName});
        pool.run(items, [&](size_t i) {
            turns[i].started = jobs[i].snap.SnapSyncOp(SYNC_OP_RESYNC, true, false) == ZQSO::SNAP_STATUS_SNAP_STARTED;
        });
        std::vector<Confirm> sent;
        std::vector<size_t> sentTurns;
        for (const PhaseItem& item : items)
            if (turns[item.index].started) {
                sent.push_back({&jobs[item.index].snap, jobs[item.index].record});
                sentTurns.push_back(item.index);
            }
        // the starts' polls share their rounds; each record's failure line is its own
        const std::vector<bool> copying = confirmStarted(sent, turns[pass.front()].fn.c_str(), pool);
        for (size_t k = 0; k < sentTurns.size(); ++k) turns[sentTurns[k]].started = copying[k];
        for (size_t i : pass) {
            ZQSO::SnapInfo* record = jobs[i].record;
            const Turn& t = turns[i];
            if (!t.started) {
                if (t.engine == kEngineSnapshot || t.engine == kEngineClone)
                    engineLog(record, 2, t.fn.c_str(), "Starting FlashCopy failed, going to delete FlashCopy");
                engineLog(record, 2, t.fn.c_str(),
                          t.engine == kEngineSnapshot ? "%s: Snap Creation failed" : "%s: Clone Creation failed",
                          t.fn.c_str());
                record->setStatus(ZQSO::SNAP_STATUS_SNAP_FAILED);
                continue;
            }
            engineLog(record, 0, t.fn.c_str(), "Successfully created snap/clone");
            writeUniqueId(record, t.fn.c_str(), uniqueIdOf(t.arrayId, jobs[i].snap, t.mode));
            record->setStatus(ZQSO::SNAP_STATUS_SNAP_STARTED);
        }
    }
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

    const PhasePool pool = PhasePool::configured(first);
    std::vector<SnapJob> singles;  // records outside a group that were read
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
            singles.push_back(job);
            continue;
        }
        std::string recordGroup;
        if (!record->getMetaDataText(ZQSO::SM_MDT_CONSISTENCY_GROUP, recordGroup) || recordGroup.empty())
            recordGroup = groupName;
        job.snap.m_SyncSetName = recordGroup;
        if (members.empty()) groupSnap = job.snap;
        members.push_back(job);
    }

    snapDeviceThreads(singles, pool);

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
            const std::vector<bool> copying = confirmStarted(mappings, fn, pool);
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
