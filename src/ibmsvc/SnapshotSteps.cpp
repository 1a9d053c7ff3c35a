#include "SnapshotSteps.h"

#include <algorithm>

#include "EngineFrame.h"
#include "ZqClock.h"
#include "ZqSmisSyncOperation.h"
#include "ZqSmisSyncState.h"

namespace ZQSOIBMSVCAPI {

namespace {

// Job limits of a synchronization operation.
constexpr int kStartPolls = 60;
constexpr int kStartPollSeconds = 10;

// The start was taken but the mapping is not copying yet.
bool startPending(int state) { return state == SYNC_STATE_PREPARED || state < 0; }

}  // namespace

bool readRecordUniqueId(ZQSO::SnapInfo* record, const char* fn, UniqueId& fields, bool& empty) {
    std::string text;
    empty = false;
    if (!record) return false;
    if (!record->getMetaDataText(ZQSO::SM_MDT_UNIQUE_ID, text) || text.empty()) {
        empty = true;
        return true;
    }
    if (!parseUniqueId(record, text, fields)) {
        engineLog(record, 2, fn, "%s: Failed to parse unique  identifier [%s]", fn, text.c_str());
        return false;
    }
    return true;
}

UniqueId uniqueIdOf(const std::string& arrayId, const IBMSVCSnapshot& snap, const std::string& targetSelMode) {
    UniqueId fields;
    fields.arrayId = arrayId;
    fields.snapOp = std::to_string(snap.m_SnapOp);
    fields.snapServicePath = snap.m_ServicePath;
    fields.srcDev = snap.m_SourceDev;
    fields.srcDevPath = snap.m_SourceDevPath;
    fields.carried = snap.m_DiskGroupName;
    fields.snapDev = snap.m_TargetDev;
    fields.snapDevPath = snap.m_TargetDevPath;
    fields.targetSelMode = targetSelMode;
    return fields;
}

std::string uniqueIdText(const UniqueId& f) {
    return f.arrayId + "*" + f.snapOp + "*" + f.snapServicePath + "*" + f.srcDev + "*" + f.srcDevPath + "*" +
           f.carried + "*" + f.snapDev + "*" + f.snapDevPath + "*" + f.targetSelMode;
}

bool writeUniqueId(ZQSO::SnapInfo* record, const char* fn, const UniqueId& fields) {
    const std::string text = uniqueIdText(fields);
    if (record->setMetaData(ZQSO::SM_MDT_UNIQUE_ID, text.c_str()) != 0) {
        engineLog(record, 2, fn, "Failed to set metadata [id : %d]", int(ZQSO::SM_MDT_UNIQUE_ID));
        return false;
    }
    engineLog(record, 0, fn, " Setting metadata type-[%d] value-[%s]", int(ZQSO::SM_MDT_UNIQUE_ID), text.c_str());
    return true;
}

void setSnapFromUniqueId(IBMSVCSnapshot& snap, ZQSO::SnapInfo* record, const UniqueId& fields) {
    ZQ_SMIS_SNAP::ZqSnapParams params;
    params.SnapName = record->snapName();
    params.SnapOp = fields.snapOp == "4" ? 4 : fields.snapOp == "5" ? 5 : ZQ_SMIS_SNAP::Snapshot::kUnset;
    params.ServicePath = fields.snapServicePath;
    params.SourceDev = fields.srcDev;
    params.SourceDevPath = fields.srcDevPath;
    params.DiskGroupName = fields.carried;
    params.TargetDev = fields.snapDev;
    params.TargetDevPath = fields.snapDevPath;
    snap.SetSnapInfo(params);
}

bool isStoppedState(int state) {
    return state == SYNC_STATE_SYNCHRONIZED || state == SYNC_STATE_QUIESCED || state == SYNC_STATE_IDLE;
}

bool isCompleteCopy(int state, int percent) {
    if (state == SYNC_STATE_SYNCHRONIZED) return true;
    return (state == SYNC_STATE_IDLE || state == SYNC_STATE_RESYNC_IN_PROGRESS) && percent == 100;
}

void sleepSeconds(int seconds) {
    if (seconds > 0) zq::platform::clock().sleepSeconds(unsigned(seconds));
}

StopWait StopWait::configured() {
    StopWait wait;
    GetRegInt(nullptr, "IBMSVC_DETACH_STOP_WAIT_SECS", &wait.totalSeconds);
    GetRegInt(nullptr, "IBMSVC_DETACH_STOP_WAIT_INTERVAL", &wait.intervalSeconds);
    if (wait.totalSeconds < 0) wait.totalSeconds = 0;
    if (wait.intervalSeconds < 1) wait.intervalSeconds = 10;
    return wait;
}

bool mappingStopped(IBMSVCSnapshot& snap) {
    int state = -1, percent = -1;
    const int r = snap.GetSyncState(state, percent);
    return r == 1 || (r == 0 && isStoppedState(state));
}

bool waitMappingStopped(IBMSVCSnapshot& snap, bool stop, const StopWait& wait) {
    bool stopSent = !stop;
    for (int remaining = wait.totalSeconds;;) {
        int state = -1, percent = -1;
        const int r = snap.GetSyncState(state, percent);
        if (r == 1) return true;
        if (r == 0 && isStoppedState(state)) return true;
        if (r == 0 && !stopSent && (state == SYNC_STATE_PREPARED || state == SYNC_STATE_RESYNC_IN_PROGRESS)) {
            stopSent = true;
            snap.SnapSyncOp(SYNC_OP_STOP, false, false);
            continue;
        }
        if (remaining < wait.intervalSeconds) return false;
        sleepSeconds(wait.intervalSeconds);
        remaining -= wait.intervalSeconds;
    }
}

namespace {

enum class Reached { Yes, Pending, No };

Reached started(int r, int state) {
    if (r == 0 && (state == SYNC_STATE_RESYNC_IN_PROGRESS || state == SYNC_STATE_SYNCHRONIZED)) return Reached::Yes;
    return r != 1 && startPending(state) ? Reached::Pending : Reached::No;
}

Reached prepared(int r, int state) {
    if (r == 0 && state == SYNC_STATE_PREPARED) return Reached::Yes;
    return r == -1 || (r == 0 && state == SYNC_STATE_PREPARE_IN_PROGRESS) ? Reached::Pending : Reached::No;
}

// Polls every pending mapping once per round, rounds 10 s apart, within the
// job limits; a mapping that does not get there fails its record.
std::vector<bool> confirmAll(std::vector<Confirm>& members, Reached (*check)(int, int), const char* what,
                             const char* fn, const PhasePool& pool) {
    std::vector<char> done(members.size(), 0);
    std::vector<int> states(members.size(), -1);
    std::vector<PhaseItem> items;
    for (size_t i = 0; i < members.size(); ++i) items.push_back({i, members[i].snap->m_SystemName});
    pollTogether(pool, items, kStartPollSeconds, kStartPolls - 1, [&](size_t i) {
        int percent = -1;
        const int r = members[i].snap->GetSyncState(states[i], percent);
        const Reached at = check(r, states[i]);
        done[i] = at == Reached::Yes;
        return at != Reached::Pending;
    });
    for (size_t i = 0; i < members.size(); ++i)
        if (!done[i])
            setError(members[i].record, kErrorStepFailed,
                     engineLog(members[i].record, 2, fn, "%s: FlashCopy [%s] %s, sync state [%d]", fn,
                               members[i].snap->m_TargetDev.c_str(), what, states[i]));
    return std::vector<bool>(done.begin(), done.end());
}

}  // namespace

std::vector<bool> confirmStarted(std::vector<Confirm>& members, const char* fn, const PhasePool& pool) {
    return confirmAll(members, started, "did not start", fn, pool);
}

std::vector<bool> confirmPrepared(std::vector<Confirm>& members, const char* fn, const PhasePool& pool) {
    return confirmAll(members, prepared, "is not prepared", fn, pool);
}

bool confirmStarted(IBMSVCSnapshot& snap, ZQSO::SnapInfo* record, const char* fn) {
    std::vector<Confirm> one{{&snap, record}};
    return confirmStarted(one, fn)[0];
}

}  // namespace ZQSOIBMSVCAPI
