// Revert, in the order of its steps: host facts, the sources checked free on
// this host, the mapped-state query, a bus rescan, the array step (here or on
// the proxy), the restored sources' cached blocks dropped and a rescan again.
//
// The array step goes phase by phase over the batch, each phase's array work
// on a pool of workers: every record read (calling thread, in order); every
// copy checked (it must be unmapped, 14 or 7; the volume at its stored path
// must be the recorded copy, else it is looked up by its unique id; its
// mapping must lead from the recorded source and hold a whole image); the
// first copy found unfit ends the revert before any change. Then every
// reverse mapping is attached onto the source its mapping leads from, one
// wait, all prepared, one wait, all started with "Restore", the starts
// confirmed together. A record failing one of these steps fails alone: a
// reverse mapping that could not be prepared or started is stopped and
// detached again; one whose start was accepted but not confirmed is left as
// it is. Records of one source go in successive passes.
#include "RevertSnaps.h"

#include <strings.h>

#include <algorithm>
#include <vector>

#include "EngineFrame.h"
#include "HostCopySteps.h"
#include "HostDiscovery.h"
#include "IBMSVCEngineRemoteHelper.h"
#include "IBMSVCRemoteMessages.h"
#include "MappedState.h"
#include "PhasePool.h"
#include "SnapshotSteps.h"
#include "ZqSmisSyncOperation.h"
#include "ZqSmisSyncState.h"

namespace ZQSOIBMSVCAPI {

namespace {

constexpr int kShortestPrepareWait = 20;
const char* const kReverseCopyType = "6";
constexpr uint32_t kDeviceByUid = ZQSO::SNAP_FLAG_DEVICE_BY_GUID;

enum class Outcome { Restored, Skipped, Failed };

// Whether the copy may be reverted: only copies mapped to no host. False
// after the record's error is set.
bool unmappedCopy(ZQSO::SnapInfo* record, const UniqueId& fields) {
    const char* fn = "processRevert";
    switch (record->getStatus()) {
        case ZQSO::SNAP_STATUS_NOT_MAPPED:
        case ZQSO::SNAP_STATUS_CLONE_NOT_MAPPED:
            return true;
        case ZQSO::SNAP_STATUS_NONE:
            setError(record, kErrorStepFailed, engineLog(record, 2, fn, "%s: Failed, could not find snap device", fn));
            return false;
        case ZQSO::SNAP_STATUS_NOT_RESTORED:
            // Refused on the calling host (its source is in use).
            engineLog(record, 0, fn, "%s: Snap Device[%s] not attempted, refused on the calling host", fn,
                      fields.snapDev.c_str());
            return false;
        case ZQSO::SNAP_STATUS_MAPPED_THIS_HOST:
        case ZQSO::SNAP_STATUS_MAPPED_OTHER_HOST:
        case ZQSO::SNAP_STATUS_MAPPED_VISIBLE:
            setError(record, kErrorStillMapped,
                     engineLog(record, 2, fn, "%s: Snap Device[%s] has host mappings, Can not perform revert", fn,
                               fields.snapDev.c_str()));
            return false;
        default:
            setError(record, kErrorStillMapped,
                     engineLog(record, 2, fn, "%s: Snap Device[%s] mapped state unknown, Can not perform revert", fn,
                               fields.snapDev.c_str()));
            return false;
    }
}

int prepareWait(ZQSO::SnapInfo* record) {
    const char* key = "SMCONFIG_NAME_SYNCHRONOUS_FLASHCOPY_OPERATION_WAIT_INTERVAL_IN_SEC";
    int wait = 0;
    record->getConfigInt(key, &wait);
    engineLog(record, 0, "processRevert", " Array Config [%s:%d]", key, wait);
    GetRegInt(nullptr, "IBMSVC_PREPARE_WAIT", &wait);
    return wait < kShortestPrepareWait ? kShortestPrepareWait : wait;
}

// A reverse mapping that did not start goes again: stopped, then detached.
void takeBack(IBMSVCSnapshot& snap) {
    waitMappingStopped(snap, true, StopWait::configured());
    snap.DetachSnap();
}

// The volume at the stored snapshot path must be the recorded copy; a path
// that names another volume (or none) is replaced by the copy's path found by
// its unique id. False after error 60513: the copy is not where it was and
// cannot be found.
bool copyAtItsPath(IBMSVCSnapshot& snap, ZQSO::SnapInfo* record, UniqueId& fields) {
    const char* fn = "processRevert";
    const std::string name = snap.GetSnapObjectProperty(fields.snapDevPath, "Name");
    if (!name.empty() && strcasecmp(name.c_str(), fields.snapDev.c_str()) == 0) return true;
    std::string path;
    const int found = fields.snapDev.empty() ? 0 : snap.FindSVCVolObjectPathByUUID(fields.snapDev, path);
    if (found == 1) {
        engineLog(record, 1, fn, "%s: Snap Device[%s] is no longer at its stored path, found by its UUID", fn,
                  fields.snapDev.c_str());
        fields.snapDevPath = path;
        snap.m_TargetDevPath = path;
        snap.m_SyncPath.clear();
        return true;
    }
    setError(record, kErrorRestore,
             engineLog(record, 2, fn,
                       found < 0 ? "%s: Source Device [%s] FAILED to restore from Snap Device[%s] as the snap device "
                                   "could not be looked up by its UUID"
                                 : "%s: Source Device [%s] FAILED to restore from Snap Device[%s] as the snap device "
                                   "is no longer on the array",
                       fn, fields.srcDev.c_str(), fields.snapDev.c_str()));
    return false;
}

// The copy's mapping could not be told: a reverse mapping that an unfinished
// revert of this copy made and never started (from the copy's target back
// to its source) is taken back. True when one was.
bool takeBackLeftReverse(const IBMSVCSnapshot& snap, ZQSO::SnapInfo* record, const UniqueId& fields) {
    const char* fn = "processRevert";
    IBMSVCSnapshot reverse = snap;
    reverse.m_SourceDev = fields.snapDev;
    reverse.m_SourceDevPath = fields.snapDevPath;
    reverse.m_TargetDev = fields.srcDev;
    reverse.m_TargetDevPath = fields.srcDevPath;
    reverse.m_SyncPath.clear();  // the pair's own mapping
    int state = -1, percent = -1;
    if (reverse.GetSyncState(state, percent) != 0) return false;
    const bool neverStarted = (state == SYNC_STATE_IDLE && percent == 0) || state == SYNC_STATE_PREPARE_IN_PROGRESS ||
                              state == SYNC_STATE_PREPARED;
    if (!neverStarted) return false;
    engineLog(record, 1, fn,
              "%s: Taking back the reverse FlashCopy from [%s] to [%s], left by an unfinished revert of this copy", fn,
              fields.snapDev.c_str(), fields.srcDev.c_str());
    takeBack(reverse);
    return true;
}

// One record's turn through the revert's phases.
struct Turn : CopyTurn {
    std::string sourceName, targetName;  // element names, for the messages
    int wait = 0;                        // its wait before prepare and before start
    bool going = false;                  // still on its way to the start
    Outcome outcome = Outcome::Skipped;
};

// Steps 1 to 6: the copy read from the record and refused when it is mapped
// or unknown. True when the turn goes on to the array.
bool setUpTurn(Turn& t, ZQSO::ZQOSUtil* os) {
    const char* fn = "processRevert";
    ZQSO::SnapInfo* record = t.record;
    UniqueId& fields = t.fields;
    if (!readCopyUniqueId(record, fn, fields)) {
        record->setStatus(ZQSO::SNAP_STATUS_NOT_RESTORED);
        return false;
    }
    const ZQSO::SnapStatus status = record->getStatus();
    if (!unmappedCopy(record, fields)) {
        // A copy that is not found keeps its status.
        if (status != ZQSO::SNAP_STATUS_NONE) record->setStatus(ZQSO::SNAP_STATUS_NOT_RESTORED);
        return false;
    }
    record->setStatus(ZQSO::SNAP_STATUS_NOT_RESTORED);
    refreshArrayId(os, record, fields);
    engineLog(record, 0, fn, "%s: Snap Device[%s] Source Device [%s]", fn, fields.snapDev.c_str(),
              fields.srcDev.c_str());
    return snapshotOfCopy(t.snap, record, fields, fn);
}

// Steps 7 to 10, reads only: the copy, its mapping, the source it leads from
// and the state of its image; then the snapshot is given the reverse
// relationship. False after the record's error is set.
bool checkTurn(Turn& t) {
    const char* fn = "processRevert";
    IBMSVCSnapshot& snap = t.snap;
    ZQSO::SnapInfo* record = t.record;
    UniqueId& fields = t.fields;
    refreshVolumePaths(snap, record, fields);
    if (!copyAtItsPath(snap, record, fields)) return false;
    int lookup = snap.GetSyncPathFromTarget();
    if (lookup == -1 && takeBackLeftReverse(snap, record, fields)) lookup = snap.GetSyncPathFromTarget();
    t.targetName = snap.GetSnapObjectProperty(fields.snapDevPath, "ElementName");
    if (lookup != 0) {
        const std::string sourceName = snap.GetSnapObjectProperty(fields.srcDevPath, "ElementName");
        setError(record, kErrorRestore,
                 engineLog(record, 2, fn,
                           lookup == 1 ? "%s: Source Device [%s] FAILED to restore from Snap Device[%s] as FlashCopy "
                                         "mapping deleted externally "
                                       : "%s: Source Device [%s] FAILED to restore from Snap Device[%s] as its "
                                         "FlashCopy mapping could not be read",
                           fn, sourceName.c_str(), t.targetName.c_str()));
        return false;
    }
    // The mapping names the source it copies: by its unique id it must be the
    // recorded one, and the restore writes onto that volume, never onto a
    // stored path alone.
    const std::string sourcePath = snap.m_SourceDevPath;
    t.sourceName = snap.GetSnapObjectProperty(sourcePath, "ElementName");
    if (strcasecmp(snap.m_SourceDev.c_str(), fields.srcDev.c_str()) != 0 || sourcePath.empty()) {
        setError(record, kErrorRestore,
                 engineLog(record, 2, fn,
                           "%s: Source Device [%s] FAILED to restore from Snap Device[%s] as its FlashCopy mapping "
                           "leads from another volume [%s]",
                           fn, fields.srcDev.c_str(), t.targetName.c_str(), snap.m_SourceDev.c_str()));
        return false;
    }
    int state = -1, percent = -1;
    snap.GetSyncState(state, percent);
    // A copying mapping's target presents its point in time; an idle one
    // holds an image only when its copy completed.
    if (state != SYNC_STATE_RESYNC_IN_PROGRESS && !isCompleteCopy(state, percent)) {
        setError(record, kErrorRestore,
                 engineLog(record, 2, fn,
                           "%s: Source Device [%s] FAILED to restore from Snap Device[%s] as FlashCopy [%s] state "
                           "[%d] is not good",
                           fn, t.sourceName.c_str(), t.targetName.c_str(), t.targetName.c_str(), state));
        return false;
    }

    // The reverse relationship.
    snap.m_SyncPath.clear();
    ZQ_SMIS_SNAP::ZqSnapParams reverse;
    reverse.SnapName = record->snapName();
    reverse.SnapOp = 5;
    reverse.ServicePath = fields.snapServicePath;
    reverse.SourceDev = fields.snapDev;
    reverse.SourceDevPath = fields.snapDevPath;
    reverse.TargetDev = fields.srcDev;
    reverse.TargetDevPath = sourcePath;
    snap.SetSnapInfo(reverse);
    return true;
}

// The turn drops out of the later phases with error 60513 and `why`.
void dropOut(Turn& t, const char* why) {
    const char* fn = "processRevert";
    setError(t.record, kErrorRestore,
             engineLog(t.record, 2, fn, why, fn, t.sourceName.c_str(), t.targetName.c_str()));
    t.going = false;
    t.outcome = Outcome::Failed;
}

// The turns still going, as the items of a phase.
std::vector<PhaseItem> goingItems(const std::vector<Turn>& turns, const std::vector<size_t>& which) {
    std::vector<PhaseItem> items;
    for (size_t i : which)
        if (turns[i].going) items.push_back({i, turns[i].snap.m_SystemName});
    return items;
}

// Each turn logs its wait; the batch sleeps the longest once.
void waitForPreparation(std::vector<Turn>& turns, const std::vector<size_t>& which) {
    int longest = 0;
    for (size_t i : which) {
        Turn& t = turns[i];
        if (!t.going) continue;
        engineLog(t.record, 0, "processRevert", "Waiting [%d] seconds for IBMSVC FlashCopy preparation", t.wait);
        longest = std::max(longest, t.wait);
    }
    if (longest > 0) sleepSeconds(longest);
}

// Steps 11 to 13 over the checked turns, each step for all of them: every
// reverse mapping attached, one wait, every one prepared, one wait, every
// one started, the starts confirmed together. A turn that fails a step
// keeps its error and drops out of the later steps; the others go on.
void restoreTogether(std::vector<Turn>& turns, const std::vector<size_t>& which, const PhasePool& pool) {
    const char* fn = "processRevert";
    pool.run(goingItems(turns, which), [&](size_t i) {
        Turn& t = turns[i];
        if (t.snap.AttachCloneVolume(kReverseCopyType) != 1) {
            engineLog(t.record, 2, fn, "Attach of FlashCopy volume failed");
            dropOut(t, "%s: Source Device [%s] FAILED to restore from Snap Device[%s] as FlashCopy Prepare failed");
            return;
        }
        engineLog(t.record, 0, fn, "Attach of FlashCopy success, going to prepare FlashCopy");
        t.wait = prepareWait(t.record);
    });
    waitForPreparation(turns, which);
    pool.run(goingItems(turns, which), [&](size_t i) {
        Turn& t = turns[i];
        if (t.snap.SnapSyncOp(SYNC_OP_PREPARE, false, true) == ZQSO::SNAP_STATUS_SNAP_STARTED) return;
        takeBack(t.snap);
        dropOut(t, "%s: Source Device [%s] FAILED to restore from Snap Device[%s] as FlashCopy Prepare failed");
    });
    waitForPreparation(turns, which);
    pool.run(goingItems(turns, which), [&](size_t i) {
        Turn& t = turns[i];
        if (t.snap.SnapSyncOp(SYNC_OP_RESYNC, true, true) == ZQSO::SNAP_STATUS_SNAP_STARTED) return;
        engineLog(t.record, 2, fn, "Starting FlashCopy failed, going to delete FlashCopy");
        takeBack(t.snap);
        dropOut(t, "%s: Source Device [%s] FAILED to restore from Snap Device[%s] ");
    });
    // The array took the starts: a source may already be partly rewritten,
    // so a copy that cannot be confirmed is left to run, never stopped.
    std::vector<Confirm> sent;
    std::vector<size_t> sentTurns;
    for (size_t i : which)
        if (turns[i].going) {
            sent.push_back({&turns[i].snap, nullptr});
            sentTurns.push_back(i);
        }
    const std::vector<bool> copying = confirmStarted(sent, fn, pool);
    for (size_t k = 0; k < sentTurns.size(); ++k) {
        Turn& t = turns[sentTurns[k]];
        if (!copying[k]) {
            dropOut(t,
                    "%s: Source Device [%s] restore from Snap Device[%s]: restore started, not confirmed; the "
                    "reverse FlashCopy is left as it is");
            continue;
        }
        engineLog(t.record, 1, fn, "%s: Source Device [%s] RESTORED from Snap Device[%s] ", fn,
                  t.fields.srcDev.c_str(), t.fields.snapDev.c_str());
        t.record->setStatus(ZQSO::SNAP_STATUS_RESTORED);
        t.outcome = Outcome::Restored;
    }
}

// The disks of this host that show a record's source: the device the record
// names, and every listed device whose LUN id is the source's.
std::vector<std::string> sourceDisks(ZQSO::SnapInfo* record, DeviceLuns& luns, const std::vector<std::string>& devices) {
    std::vector<std::string> disks;
    std::string path;
    if (!(record->getFlags() & kDeviceByUid) && readSourceDevicePath(record, path) && !path.empty())
        disks.push_back(path);
    UniqueId fields;
    std::string text;
    if (readMetaData(record, ZQSO::SM_MDT_UNIQUE_ID, text) && parseUniqueId(nullptr, text, fields) &&
        !fields.srcDev.empty())
        for (const std::string& device : devices)
            if (device != path && luns.lunOf(device) == fields.srcDev) disks.push_back(device);
    return disks;
}

// A source that something on this host holds (a mounted file system, a
// device-mapper or md device) is never rewritten under it: the record is
// refused (60551, status 23) before any array step. Fills each record's
// source disks and whether it was refused.
void refuseSourcesInUse(ZQSO::SnapInfo** records, int16_t count, ZQSO::ZQOSUtil* os, const std::string& hostId,
                        std::vector<std::vector<std::string>>& all, std::vector<bool>& refused) {
    const char* fn = "zqso_revertSnaps";
    std::vector<std::string> devices;
    queryDeviceList(records[0], os, hostId, devices);
    DeviceLuns luns(os, records[0]);
    for (int i = 0; i < count; ++i) {
        ZQSO::SnapInfo* record = records[i];
        if (!record) continue;
        all[size_t(i)] = sourceDisks(record, luns, devices);
        for (const std::string& disk : all[size_t(i)]) {
            std::string why;
            if (hostDiskHeld(disk, why) != HostDiskHeld::Yes) continue;
            setError(record, kErrorStillMapped,
                     engineLog(record, 2, fn,
                               "%s: Source Device [%s] is in use on this host (%s), Can not perform revert", fn,
                               disk.c_str(), why.c_str()));
            record->setStatus(ZQSO::SNAP_STATUS_NOT_RESTORED);
            refused[size_t(i)] = true;
            break;
        }
    }
}

}  // namespace

int processRevert(ZQSO::SnapInfo** records, int16_t count, ZQSO::ZQOSUtil* os, int32_t& revertCount) {
    const char* fn = "processRevert";
    if (!records || count <= 0) return 0;
    std::vector<Turn> turns(static_cast<size_t>(count));
    std::vector<size_t> set;
    for (size_t i = 0; i < turns.size(); ++i) {
        turns[i].record = records[i];
        if (turns[i].record && setUpTurn(turns[i], os)) set.push_back(i);
    }
    const PhasePool pool = PhasePool::configured(records[0]);
    // The checks may take back a reverse mapping an unfinished revert left:
    // records of one source are checked in successive passes.
    std::vector<char> fit(turns.size(), 0);
    std::vector<std::string> setSources;
    for (size_t i : set) setSources.push_back(turns[i].fields.srcDev);
    for (const std::vector<size_t>& pass : passesByCopy(setSources)) {
        std::vector<PhaseItem> items;
        for (size_t k : pass) items.push_back({set[k], turns[set[k]].snap.m_SystemName});
        pool.run(items, [&](size_t i) { fit[i] = checkTurn(turns[i]) ? 1 : 0; });
    }

    // The first copy found unfit ends the revert before any array change:
    // the records after it are not attempted.
    size_t stoppedAt = turns.size();
    for (size_t i : set) {
        if (fit[i]) continue;
        turns[i].outcome = Outcome::Failed;
        stoppedAt = i;
        break;
    }
    std::vector<std::string> sources;  // a source takes one reverse copy at a time
    std::vector<size_t> going;
    for (size_t i = stoppedAt + 1; i < turns.size(); ++i) {
        ZQSO::SnapInfo* record = turns[i].record;
        if (!record) continue;
        record->setStatus(ZQSO::SNAP_STATUS_NOT_RESTORED);
        setError(record, kErrorRestore,
                 engineLog(record, 2, fn, "%s: Not attempted, the revert stopped at the earlier record [%d]", fn,
                           int(stoppedAt + 1)));
    }
    for (size_t i : set)
        if (i < stoppedAt && fit[i]) {
            turns[i].going = true;
            going.push_back(i);
            sources.push_back(turns[i].fields.srcDev);
        }
    for (const std::vector<size_t>& pass : passesByCopy(sources)) {
        std::vector<size_t> which;
        for (size_t k : pass) which.push_back(going[k]);
        restoreTogether(turns, which, pool);
    }
    for (const Turn& t : turns)
        if (t.outcome == Outcome::Restored) ++revertCount;
    return 0;
}

int revertSnaps(ZQSO::SnapInfo** records, int16_t count, ZQSO::ZQOSUtil* os) {
    const char* fn = "zqso_revertSnaps";
    ZQSO::SnapInfo* first = records[0];
    ZQSO::SnapInfo* last = records[count - 1];
    engineLog(first, 1, fn,
              "Going to restore/reverse sync snap/clone device. If the operation fails, please check IBMSVC provider "
              "capability");
    if (!checkBatchHosts(records, count, fn)) return 1;
    std::string hostId;
    if (!getHostIdentifier(last, hostId)) {
        setError(last, kErrorHostIdentifier, engineLog(last, 2, fn, "%s: Failed to get host identifier", fn));
        return 1;
    }
    const std::string arrayId = getStorageArrayId(first);
    std::vector<std::string> initiators;
    bool isSCSI = false;
    const bool isVM = isVirtualMachineRecord(first);
    if (!detectHbalist(first, os, hostId, arrayId, initiators, isSCSI) || initiators.empty()) {
        if (isVM) {
            engineLog(last, 2, fn, "%s: Unable to detect initiator info.", fn);
        } else {
            setError(first, kErrorInitiators, engineLog(first, 2, fn, "%s: Unable to detect initiator info.", fn));
            return 1;
        }
    }
    // This host's sources: held ones are refused, the others' disks are
    // remembered to drop their cached blocks once restored.
    std::vector<std::vector<std::string>> disks(static_cast<size_t>(count));
    std::vector<bool> refused(static_cast<size_t>(count), false);
    if (!isVM) refuseSourcesInUse(records, count, os, hostId, disks, refused);
    // A copy is reverted only when it is known to be mapped to no host.
    if (queryMappedState(records, count, os) != MappedStateResult::Answered) return 1;
    for (int i = 0; i < count; ++i)
        if (refused[size_t(i)]) records[i]->setStatus(ZQSO::SNAP_STATUS_NOT_RESTORED);
    refreshSystemBus(first, os, initiators, {}, hostId);

    int32_t revertCount = 0;
    std::string response;
    bool local = false;
    IBMSVCEngineRemoteHelper helper(records, count, os);
    const unsigned result = runBatchFrame(fn, helper, first, REMOTE_OP_REVERT, "", response, [&] {
        local = true;
        return unsigned(processRevert(records, count, os, revertCount));
    });
    if (result != 0) return 1;
    int restored = 0;
    for (int i = 0; i < count; ++i) {
        ZQSO::SnapInfo* record = records[i];
        if (!record || record->getStatus() != ZQSO::SNAP_STATUS_RESTORED) continue;
        ++restored;
        // The host must not serve the old blocks of a restored source.
        for (const std::string& disk : disks[size_t(i)]) {
            std::string error;
            if (!flushHostDisk(disk, error))
                engineLog(record, 2, fn, "%s: The cached blocks of Source Device [%s] could not be dropped: %s", fn,
                          disk.c_str(), error.c_str());
        }
    }
    if (!local) {
        int32_t answered = -1;
        getResponseRevert(response, answered);
        if (answered != restored)
            engineLog(first, 1, fn, "%s: [%d] device(s) restored, the proxy counted [%d]", fn, restored, int(answered));
    }
    if (restored > 0) refreshSystemBus(first, os, initiators, {}, hostId);
    if (restored == 0) return 1;
    return restored < count ? 2 : 0;
}

}  // namespace ZQSOIBMSVCAPI
