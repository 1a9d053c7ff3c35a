// Delete, in the order of its steps: the settings; each record's unique
// identifier and snapshot object; then phase by phase over the records:
// whether the copy still exists with its mapping and consistency group, the
// groups met (removed one after another), one of three paths (kept
// incremental clone, kept space-efficient target, physical deletion), and
// last the groups the batch named. In each phase the records' array work
// runs side by side (PhasePool); a wait for stopping mappings is one loop for
// all of them; a record that fails leaves the later phases.
//
// A consistency group is removed only while it holds nothing but this
// batch's mappings: group names repeat across batches. A mapping leaves its
// group only once stopped, and a group member stops through its group.
#include "DeleteSnaps.h"

#include <functional>
#include <map>
#include <set>
#include <string>

#include "ArrayParams.h"
#include "EngineFrame.h"
#include "IBMSVCUtility.h"
#include "PhasePool.h"
#include "SnapshotSteps.h"
#include "TargetDeviceList.h"
#include "UnmapSnaps.h"
#include "ZqSmisSyncOperation.h"
#include "zqso/ZqsoTypes.h"

namespace ZQSOIBMSVCAPI {

namespace {

const char* const kDefaultLabel = "_deleted";

struct DeleteSettings {
    bool incremental = false;
    bool stopWait = true;
    StopWait wait;
    std::string label;
    bool dependencyCheck = true;
};

// A consistency group met through a record's mapping.
struct BatchGroup {
    bool present = true;  // not removed by this call
    bool ours = false;    // holds only mappings of this batch
    bool stopped = false;  // a group stop was sent
};

struct DeleteBatch {
    explicit DeleteBatch(const PhasePool& pool) : pool(pool) {}

    ZQSO::SnapInfo** records = nullptr;
    int16_t count = 0;
    const PhasePool& pool;
    DeleteSettings settings;
    std::set<std::string> targets;  // target volumes of the batch ("DeviceID" of their paths)
    std::map<std::string, BatchGroup> groups;
    std::set<std::string> namedGroups;  // groups named by the records (metadata 102)
    IBMSVCSnapshot groupSnap;          // endpoint for the groups' own operations
    bool haveGroupSnap = false;
    ProviderPaths paths;               // the system and service paths the records found
};

// One record's copy as it stands on the array.
struct CopyOnArray {
    UniqueId fields;
    bool mapping = false;      // the FlashCopy mapping exists
    std::string group;         // its consistency group, if any
    bool leftGroup = false;    // taken out of its group by this call
};

// One record's turn through the phases.
struct Turn {
    ZQSO::SnapInfo* record = nullptr;
    IBMSVCSnapshot snap;
    CopyOnArray copy;
    bool done = false;
    ZQSO::SnapStatus status = ZQSO::SNAP_STATUS_DELETE_FAILED;
    bool keep = false;         // on a kept path (clone or target)
    bool keptClone = false;
    IBMSVCSnapshot::DependentRemoval removal;
    bool running = false;      // its mapping was prepared or copying when it was to leave its group
    bool stopped = false;      // its mapping stopped (or gone) within the stop wait

    void end(ZQSO::SnapStatus s) {
        status = s;
        done = true;
    }
};

// A phase over the turns given: `step` runs with the paths the provider's
// turns have found, and what it finds is kept for the next ones.
void runPhase(DeleteBatch& batch, std::vector<Turn>& turns, const std::vector<size_t>& which,
              const std::function<void(Turn&)>& step) {
    std::vector<PhaseItem> items;
    for (size_t i : which) items.push_back({i, turns[i].snap.m_SystemName});
    batch.pool.run(
        items,
        [&](size_t i) {
            Turn& t = turns[i];
            batch.paths.lend(t.snap.m_Conn);
            step(t);
            batch.paths.keep(t.snap.m_Conn);
        });
}

// The turns still going that `test` picks, in record order.
std::vector<size_t> going(const std::vector<Turn>& turns, const std::vector<size_t>& pass,
                          const std::function<bool(const Turn&)>& test = {}) {
    std::vector<size_t> which;
    for (size_t i : pass)
        if (!turns[i].done && (!test || test(turns[i]))) which.push_back(i);
    return which;
}

DeleteSettings readSettings(ZQSO::SnapInfo* first) {
    DeleteSettings s;
    const int incremental = recordConfigInt(first, "SMCONFIG_NAME_ENABLE_INCREMENTAL_RESYNC_FOR_FLASHCOPY", 0);
    int configured = incremental;
    if (GetRegInt(nullptr, "IBMSVC_INCREMENTAL_FLASHCOPY", &configured) != 0)
        engineLog(first, 0, "deleteSnaps", "Registry Key [IBMSVC_INCREMENTAL_FLASHCOPY] Value [%d]", configured);
    s.incremental = configured > 0;
    if (s.incremental) engineLog(first, 0, "deleteSnaps", "Incremental FlashCopy enabled");
    int stopWait = 1;
    GetRegInt(nullptr, "IBMSVC_DETACH_STOP_WAIT", &stopWait);
    s.stopWait = stopWait != 0;
    s.wait = StopWait::configured();
    s.label = recordConfigText(first, "SMCONFIG_NAME_TARGET_DEVICE_LABEL", "");
    if (s.label.size() > 511) s.label.resize(511);
    int dependencyCheck = 1;
    GetRegInt(nullptr, "IBMSVC_ENABLE_DEPENDENCY_CHECK_BEFORE_DELETION", &dependencyCheck);
    s.dependencyCheck = dependencyCheck > 0;
    return s;
}

std::string volumeKey(IBMSVCSnapshot& snap, const std::string& path) {
    Pegasus::CIMObjectPath parsed;
    if (path.empty() || !ZqCimUtil::ParseInstancePath(path, parsed)) return std::string();
    return snap.GetPropByObjPath(parsed, "DeviceID");
}

// Whether the group holds nothing but mappings of this batch.
bool groupIsOurs(DeleteBatch& batch, IBMSVCSnapshot& snap, const std::string& name) {
    std::vector<std::string> members;
    if (snap.GetSyncSetMembers(name, members) != 0) return false;
    for (const std::string& member : members)
        if (batch.targets.count(volumeKey(snap, member)) == 0) return false;
    return true;
}

// Group removal: 0 removed, 1 not found, -1 failed.
int removeGroup(IBMSVCSnapshot& snap, ZQSO::SnapInfo* record, const std::string& name, const char* failure) {
    const char* fn = "deleteSnaps";
    const int r = snap.DeleteSyncSet(name);
    if (r == 0)
        engineLog(record, 0, fn, "Successfully deleted Consistency Group [%s]", name.c_str());
    else if (r == 1)
        engineLog(record, 0, fn, "ConsistencyGroup [%s] not found/already deleted, returning success", name.c_str());
    else
        engineLog(record, 0, fn, failure, name.c_str());
    return r;
}

// Step 6 for a group met the first time: removed at once when it is the
// batch's own, else left in place and handled per mapping.
void meetGroup(DeleteBatch& batch, IBMSVCSnapshot& snap, ZQSO::SnapInfo* record, const std::string& name) {
    if (batch.groups.count(name) != 0) return;
    BatchGroup group;
    group.ours = groupIsOurs(batch, snap, name);
    if (!group.ours) {
        engineLog(record, 1, "deleteSnaps", "ConsistencyGroup [%s] holds mappings of other copies, it is left in place",
                  name.c_str());
    } else if (removeGroup(snap, record, name, "ConsistencyGroup [%s] deletion failed") >= 0) {
        engineLog(record, 0, "deleteSnaps", "Resetting the CG parameters as CG deleted successfully");
        group.present = false;
    }
    batch.groups[name] = group;
}

// Takes the turns' mappings out of their groups, stopping them first
// (through the group when the group is the batch's own, once): the states
// read, the stops sent, one wait for all, then each mapping removed. A turn
// whose mapping is still in its group after this has `leftGroup` unset.
void leaveGroups(DeleteBatch& batch, std::vector<Turn>& turns, const std::vector<size_t>& which) {
    const char* fn = "deleteSnaps";
    std::vector<size_t> leaving;
    for (size_t i : which) {
        CopyOnArray& copy = turns[i].copy;
        auto it = batch.groups.find(copy.group);
        if (copy.group.empty() || copy.leftGroup || it == batch.groups.end() || !it->second.present) {
            copy.leftGroup = true;  // nothing to leave
            continue;
        }
        turns[i].snap.m_SyncSetName = copy.group;
        turns[i].snap.m_SyncSetPath.clear();
        leaving.push_back(i);
    }
    runPhase(batch, turns, leaving, [](Turn& t) {
        int state = -1, percent = -1;
        t.running = t.snap.ReadSyncState(state, percent) == 0 && !isStoppedState(state);
    });
    // A group of the batch's own stops once, through the first of its members.
    std::vector<size_t> forced, stopping;
    for (size_t i : leaving) {
        if (!turns[i].running) continue;
        stopping.push_back(i);
        BatchGroup& group = batch.groups[turns[i].copy.group];
        if (group.ours && !group.stopped) {
            batch.paths.lend(turns[i].snap.m_Conn);
            turns[i].snap.ModifySyncSet(SET_OP_STOP);
            batch.paths.keep(turns[i].snap.m_Conn);
            group.stopped = true;
        } else if (!group.ours) {
            forced.push_back(i);
        }
    }
    runPhase(batch, turns, forced, [](Turn& t) { t.snap.SnapSyncOp(SYNC_OP_STOP, false, false, true); });
    std::vector<PhaseItem> items;
    for (size_t i : stopping) items.push_back({i, turns[i].snap.m_SystemName});
    const StopWait& wait = batch.settings.wait;
    std::set<size_t> stuck;
    for (const PhaseItem& item : pollTogether(batch.pool, items, wait.intervalSeconds,
                                              wait.totalSeconds / wait.intervalSeconds,
                                              [&](size_t i) { return mappingStopped(turns[i].snap); })) {
        Turn& t = turns[item.index];
        engineLog(t.record, 0, fn, "Failed to remove [%s] from CG [%s]", t.copy.fields.snapDev.c_str(),
                  t.copy.group.c_str());
        stuck.insert(item.index);
    }
    std::vector<size_t> removing;
    for (size_t i : leaving)
        if (stuck.count(i) == 0) removing.push_back(i);
    runPhase(batch, turns, removing, [&](Turn& t) {
        const int removed = t.snap.ModifySyncSet(SET_OP_REMOVE);
        const char* device = t.copy.fields.snapDev.c_str();
        const char* group = t.copy.group.c_str();
        if (removed == 0) {
            engineLog(t.record, 0, fn, "Removed [%s] from CG [%s]", device, group);
        } else if (removed == -1) {
            engineLog(t.record, 0, fn, "Failed to remove [%s] from CG [%s]", device, group);
            return;
        } else {
            engineLog(t.record, 0, fn, "[%s] not found in CG [%s]", device, group);
        }
        t.copy.leftGroup = true;
    });
}

// The name a kept mapping and target carry: the snap name and the label.
std::string keptName(const DeleteBatch& batch, ZQSO::SnapInfo* record) {
    const std::string snapName = record->snapName();
    return batch.settings.label.empty() ? snapName + kDefaultLabel : snapName + "_" + batch.settings.label;
}

// The first steps of a kept path, before the mapping leaves its group. False:
// delete it instead.
bool startKeeping(DeleteBatch& batch, Turn& t) {
    const char* fn = "deleteSnaps";
    ZQSO::SnapInfo* record = t.record;
    const std::string newName = keptName(batch, record);
    if (t.keptClone) {
        engineLog(record, 0, fn,
                  "Incremental FlashCopy enabled, skipping physical deletion of FlashCopy mappings and targets if "
                  "FlashCopy created as incremental");
    } else {
        engineLog(record, 0, fn,
                  "Skipping physical deletion of FlashCopy mappings and space-efficient targets as the FlashCopy "
                  "created is pre-paired");
    }
    engineLog(record, 0, fn, "Renaming FlashCopy mapping and Target to [%s]", newName.c_str());
    if (t.copy.mapping) return true;
    if (t.keptClone)
        engineLog(record, 2, fn,
                  "FlashCopy mapping deleted externally, deleting the FlashCopy target [%s] as incremetnal "
                  "FlashCopy is not possible",
                  t.copy.fields.snapDev.c_str());
    else
        engineLog(record, 2, fn, "FlashCopy mapping deleted externally, deleting the space-efficient FlashCopy target [%s]",
                  t.copy.fields.snapDev.c_str());
    return false;
}

// The mapping and target stay on the array under a name that carries the
// label, for a later prepare to take again (the mapping has left its group).
// False: delete it instead.
bool finishKeeping(DeleteBatch& batch, Turn& t) {
    const char* fn = "deleteSnaps";
    ZQSO::SnapInfo* record = t.record;
    IBMSVCSnapshot& snap = t.snap;
    const std::string newName = keptName(batch, record);
    if (t.keptClone) {
        const std::string incremental = snap.MappingProperty("Incremental");
        const std::string copyRate = snap.MappingProperty("CopyRate");
        const std::string cleanRate = snap.MappingProperty("CleanRate");
        // A mapping that a later prepare would not take as incremental is no use kept.
        if (incremental != "TRUE" || copyRate.empty() || copyRate == "0" || cleanRate.empty() || cleanRate == "0") {
            engineLog(record, 2, fn, "Deleting FlashCopy as it was not created as incremental");
            return false;
        }
    }
    if (snap.SetSnapObjectProperty(snap.m_SyncPath, "ElementName", newName) != 0 ||
        snap.SetSnapObjectProperty(snap.m_TargetDevPath, "ElementName", newName) != 0) {
        engineLog(record, 2, fn,
                  t.keptClone
                      ? "Update Target instance failed, deleting mapping [%s] as it will not pick for incremental FlashCopy"
                      : "Update Target instance failed, deleting mapping [%s] as it will not pick for space-efficient "
                        "FlashCopy",
                  snap.m_SyncPath.c_str());
        return false;
    }
    engineLog(record, 0, fn, " Marking snap [%s] as deleted in DB", record->snapName().c_str());
    return true;
}

void endPhysical(Turn& t, bool deleted) {
    const char* fn = "deleteSnaps";
    const char* device = t.copy.fields.snapDev.c_str();
    if (deleted)
        engineLog(t.record, 0, fn, "%s: Successfully deleted the device %s", fn, device);
    else
        engineLog(t.record, 2, fn, "%s: Failed to delete the device %s", fn, device);
    t.end(deleted ? ZQSO::SNAP_STATUS_DELETED : ZQSO::SNAP_STATUS_DELETE_FAILED);
}

// Physical deletion through the dependency check: every mapping stopped, one
// wait for all, then each target detached and deleted (or its mapping marked).
void deleteDependents(DeleteBatch& batch, std::vector<Turn>& turns, const std::vector<size_t>& which) {
    runPhase(batch, turns, which, [](Turn& t) {
        if (!t.snap.BeginDependentRemoval(t.removal)) endPhysical(t, false);
    });
    std::vector<PhaseItem> items;
    for (size_t i : going(turns, which)) items.push_back({i, turns[i].snap.m_SystemName});
    const IBMSVCSnapshot::StopWaitLimits limits = IBMSVCSnapshot::DependentStopWait(true);
    pollTogether(
        batch.pool, items, limits.intervalSeconds, limits.maxSleeps(),
        [&](size_t i) {
            IBMSVCSnapshot::DependentRemoval& removal = turns[i].removal;
            turns[i].snap.PollDependentRemoval(removal);
            return !removal.waits || removal.failed || removal.seen != IBMSVCSnapshot::StopSeen::Stopping;
        },
        [&](size_t i) { turns[i].snap.TraceStopWaiting(limits.intervalSeconds); });
    runPhase(batch, turns, going(turns, which),
             [](Turn& t) { endPhysical(t, t.snap.FinishDependentRemoval(t.removal) == 1); });
}

// Physical deletion without it: a target a host sees is left alone; every
// mapping stopped, one wait for all, then each detached and its target deleted.
void deletePlainly(DeleteBatch& batch, std::vector<Turn>& turns, const std::vector<size_t>& which) {
    const char* fn = "deleteSnaps";
    runPhase(batch, turns, which, [&](Turn& t) {
        const int hostMappings = t.snap.CountTargetHostMappings();
        if (hostMappings != 0) {
            const std::string& device = t.copy.fields.snapDev;
            t.snap.setErrorMsg(650006, hostMappings < 0 ? fn + std::string(": Device ") + device +
                                                              " not deleted, its host mappings could not be checked\n"
                                                        : fn + std::string(": Device ") + device +
                                                              " delete failed, Host mappings found\n");
            endPhysical(t, false);
            return;
        }
        t.stopped = true;
        if (t.copy.mapping) {
            t.snap.SnapSyncOp(SYNC_OP_STOP, false, false, true);
            t.stopped = !batch.settings.stopWait;
        }
    });
    std::vector<PhaseItem> items;
    for (size_t i : going(turns, which, [](const Turn& t) { return !t.stopped; }))
        items.push_back({i, turns[i].snap.m_SystemName});
    const StopWait& wait = batch.settings.wait;
    pollTogether(batch.pool, items, wait.intervalSeconds, wait.totalSeconds / wait.intervalSeconds,
                 [&](size_t i) {
                     turns[i].stopped = mappingStopped(turns[i].snap);
                     return turns[i].stopped;
                 });
    runPhase(batch, turns, going(turns, which), [&](Turn& t) {
        if (t.copy.mapping) {
            if (!t.stopped) {
                engineLog(t.record, 2, fn, "%s: Stop did not complete, the device %s is not deleted", fn,
                          t.copy.fields.snapDev.c_str());
                t.end(ZQSO::SNAP_STATUS_DELETE_FAILED);
                return;
            }
            if (batch.settings.stopWait) engineLog(t.record, 0, fn, "%s: Stop completed", fn);
            t.snap.DetachSnap();
        }
        endPhysical(t, t.snap.SnapDelete() == ZQSO::SNAP_STATUS_DELETED);
    });
}

// Steps 1 to 4 for one record, in the calling thread: its unique identifier
// and snapshot object. False: the turn has ended.
bool setUpTurn(DeleteBatch& batch, Turn& t) {
    const char* fn = "deleteSnaps";
    ZQSO::SnapInfo* record = t.record;
    bool empty = false;
    if (!readRecordUniqueId(record, fn, t.copy.fields, empty)) {
        t.end(ZQSO::SNAP_STATUS_DELETE_FAILED);
        return false;
    }
    std::string text;
    record->getMetaDataText(ZQSO::SM_MDT_UNIQUE_ID, text);
    engineLog(record, 0, fn, "%s: received metadata id:%d, value:%s", fn, int(ZQSO::SM_MDT_UNIQUE_ID), text.c_str());
    if (empty) {
        engineLog(record, 1, fn, "Nothing to delete as unique identifier is empty.");
        t.end(ZQSO::SNAP_STATUS_DELETED);
        return false;
    }
    const UniqueId& f = t.copy.fields;
    if (f.snapDev.empty()) {
        engineLog(record, 1, fn,
                  "Nothing to delete as snap device not created, reason could be snap create operation failed");
        t.end(ZQSO::SNAP_STATUS_DELETED);
        return false;
    }
    engineLog(record, 0, fn, "%s: Snap Device[%s] Source Device [%s] Snap Name [%s]", fn, f.snapDev.c_str(),
              f.srcDev.c_str(), record->snapName().c_str());
    IBMSVCSnapshot& snap = t.snap;
    ZQ_SMIS_SNAP::ZqSnapViewParams view;
    view.TargetDev = f.snapDev;
    view.TargetDevPath = f.snapDevPath;
    snap.SetSnapViewInfo(view);
    if (!initRecordSnapshot(snap, record, f.arrayId, false)) {
        engineLog(record, 2, fn, "%s: Failed to initialize the Array parameters", fn);
        t.end(ZQSO::SNAP_STATUS_DELETE_FAILED);
        return false;
    }
    setSnapFromUniqueId(snap, record, f);
    if (!batch.haveGroupSnap) {
        batch.groupSnap = snap;
        batch.haveGroupSnap = true;
    }
    return true;
}

// Steps 5 and 6 up to the group, for one record: the copy may be gone
// already; its mapping and the mapping's group. The target read here serves
// the rest of the record's turn.
void lookAtCopy(Turn& t) {
    const char* fn = "deleteSnaps";
    ZQSO::SnapInfo* record = t.record;
    IBMSVCSnapshot& snap = t.snap;
    const UniqueId& f = t.copy.fields;
    const int status = snap.ReadTargetVolume();
    if (status == ZQSO::SNAP_STATUS_DELETED_OUTSIDE) {
        engineLog(record, 1, fn, "Got the status as snap device delete externally with object path, rechecking with uuid");
        std::string path;
        const int found = snap.FindSVCVolObjectPathByUUID(f.snapDev, path);
        if (found == 0) {
            engineLog(record, 1, fn, "Nothing to delete as snap device externally deleted from the Storage Array");
            t.end(ZQSO::SNAP_STATUS_DELETED);
            return;
        }
        if (found < 0) {
            engineLog(record, 2, fn, "%s: The snap device %s could not be looked up", fn, f.snapDev.c_str());
            t.end(ZQSO::SNAP_STATUS_DELETE_FAILED);
            return;
        }
        snap.m_TargetDevPath = path;
    } else if (status != 0) {
        engineLog(record, 2, fn, "%s: The state of the snap device %s could not be read", fn, f.snapDev.c_str());
        t.end(ZQSO::SNAP_STATUS_DELETE_FAILED);
        return;
    }

    const int lookup = snap.GetSyncPathFromTarget();
    if (lookup < 0) {
        engineLog(record, 2, fn, "%s: The FlashCopy mapping of %s could not be read", fn, f.snapDev.c_str());
        t.end(ZQSO::SNAP_STATUS_DELETE_FAILED);
        return;
    }
    t.copy.mapping = lookup == 0;
    if (!t.copy.mapping) return;
    const int inGroup = snap.GetSyncSetName();
    if (inGroup < 0) {
        engineLog(record, 2, fn, "%s: The consistency group of %s could not be read", fn, f.snapDev.c_str());
        t.end(ZQSO::SNAP_STATUS_DELETE_FAILED);
        return;
    }
    if (inGroup == 1) t.copy.group = snap.m_SyncSetName;
}

// Steps 5 to 7 and the paths for the turns of one pass, phase by phase.
void deleteTurns(DeleteBatch& batch, std::vector<Turn>& turns, const std::vector<size_t>& pass) {
    runPhase(batch, turns, going(turns, pass), lookAtCopy);

    // The groups met, in record order, each once.
    for (size_t i : going(turns, pass, [](const Turn& t) { return !t.copy.group.empty(); })) {
        Turn& t = turns[i];
        batch.paths.lend(t.snap.m_Conn);
        meetGroup(batch, t.snap, t.record, t.copy.group);
        batch.paths.keep(t.snap.m_Conn);
    }

    // Step 7: the path.
    for (size_t i : going(turns, pass)) {
        Turn& t = turns[i];
        const UniqueId& f = t.copy.fields;
        t.keptClone = batch.settings.incremental && f.snapOp == "5";
        t.keep = (t.keptClone || (f.snapOp == "4" && f.targetSelMode == "2")) && startKeeping(batch, t);
    }
    leaveGroups(batch, turns, going(turns, pass, [](const Turn& t) { return t.copy.mapping; }));
    std::vector<size_t> keeping = going(turns, pass, [](const Turn& t) { return t.keep; });
    for (size_t i : keeping)
        if (!turns[i].copy.leftGroup) turns[i].keep = false;
    runPhase(batch, turns, going(turns, pass, [](const Turn& t) { return t.keep; }), [&](Turn& t) {
        if (finishKeeping(batch, t))
            t.end(ZQSO::SNAP_STATUS_DELETED);
        else
            t.keep = false;
    });

    // Physical deletion: a mapping that is still in its group (a kept path
    // that fell back tries once more) is not deleted.
    std::vector<size_t> fellBack;
    for (size_t i : keeping)
        if (!turns[i].done && !turns[i].copy.leftGroup) fellBack.push_back(i);
    leaveGroups(batch, turns, fellBack);
    for (size_t i : going(turns, pass, [](const Turn& t) { return t.copy.mapping && !t.copy.leftGroup; }))
        turns[i].end(ZQSO::SNAP_STATUS_DELETE_FAILED);
    if (batch.settings.dependencyCheck) {
        deleteDependents(batch, turns, going(turns, pass, [](const Turn& t) { return t.copy.mapping; }));
        deletePlainly(batch, turns, going(turns, pass));
    } else {
        deletePlainly(batch, turns, going(turns, pass));
    }
}

// After the loop: a group the batch named that is still there goes, unless
// it holds other copies' mappings.
void removeNamedGroups(DeleteBatch& batch, ZQSO::SnapInfo* last) {
    if (!batch.haveGroupSnap) return;
    for (const std::string& name : batch.namedGroups) {
        auto met = batch.groups.find(name);
        if (met != batch.groups.end() && !met->second.present) continue;
        const int exists = batch.groupSnap.SyncSetExists(name);
        if (exists == 0) continue;
        if (exists < 0 || !groupIsOurs(batch, batch.groupSnap, name)) {
            engineLog(last, 1, "deleteSnaps", "ConsistencyGroup [%s] holds mappings of other copies, it is left in place",
                      name.c_str());
            continue;
        }
        removeGroup(batch.groupSnap, last, name, "ConsistencyGroup [%s] failed to be deleted");
    }
}

}  // namespace

int deleteSnaps(ZQSO::SnapInfo** records, int16_t count, ZQSO::ZQOSUtil*) {
    const char* fn = "deleteSnaps";
    if (!records || count <= 0 || !records[0]) return 1;
    ZQSO::SnapInfo* first = records[0];
    engineLog(first, 0, fn, "Going to delete [%d] snap / clone device{s]", int(count));

    const PhasePool pool = PhasePool::configured(first);
    DeleteBatch batch(pool);
    batch.records = records;
    batch.count = count;
    batch.settings = readSettings(first);
    for (int i = 0; i < count; ++i) {
        if (!records[i]) continue;
        std::string text, group;
        UniqueId fields;
        if (records[i]->getMetaDataText(ZQSO::SM_MDT_UNIQUE_ID, text) && parseUniqueId(nullptr, text, fields))
            batch.targets.insert(volumeKey(batch.groupSnap, fields.snapDevPath));
        if (records[i]->getMetaDataText(ZQSO::SM_MDT_CONSISTENCY_GROUP, group) && !group.empty())
            batch.namedGroups.insert(group);
    }
    batch.targets.erase(std::string());

    std::vector<Turn> turns;
    for (int i = 0; i < count; ++i) {
        if (!records[i]) continue;
        turns.emplace_back();
        turns.back().record = records[i];
    }
    std::vector<std::string> copies;
    for (Turn& t : turns) copies.push_back(setUpTurn(batch, t) ? t.copy.fields.snapDev : std::string());
    // Records of one copy in later passes: each finds the copy as the one before left it.
    for (const std::vector<size_t>& pass : passesByCopy(copies)) deleteTurns(batch, turns, pass);

    for (Turn& t : turns) {
        ZQSO::SnapInfo* record = t.record;
        record->setStatus(t.status);
        // a copy left on the array is always told, when no step set an error
        if (t.status == ZQSO::SNAP_STATUS_DELETE_FAILED)
            setError(record, kErrorStepFailed, "deleteSnaps: the copy was not deleted from the Storage Array");
        if (t.status == ZQSO::SNAP_STATUS_DELETED) {
            UniqueId fields;
            std::string text;
            if (record->getMetaDataText(ZQSO::SM_MDT_UNIQUE_ID, text) && parseUniqueId(nullptr, text, fields))
                targetDeviceList().release(fields.snapDev);
        }
    }
    for (const auto& met : batch.groups)
        if (met.second.present) batch.namedGroups.insert(met.first);
    removeNamedGroups(batch, records[count - 1] ? records[count - 1] : first);

    targetDeviceList().markChanged();
    engineLog(first, 0, fn, "delete snaps operation Completed");
    int deleted = 0;
    for (int i = 0; i < count; ++i)
        if (records[i] && records[i]->getStatus() == ZQSO::SNAP_STATUS_DELETED) ++deleted;
    if (deleted == count) return 0;
    return deleted > 0 ? 2 : 1;
}

std::vector<ZQSO::SnapInfo*> unmapBeforeDelete(ZQSO::SnapInfo** records, int16_t count, ZQSO::ZQOSUtil* os,
                                               std::vector<ZQSO::SnapInfo*>& leftOut) {
    const char* fn = "zqso_deleteSnaps";
    leftOut.clear();
    std::vector<ZQSO::SnapInfo*> all(records, records + count);
    if (!os || os->getCurrentOperation() != ZQSO::ZQSO_OP_DELETE_WITH_UNMAP) return all;
    engineLog(records[0], 0, fn, "Removing mappings if any exists");
    std::vector<ZQSO::SnapInfo*> mapped;  // records with a copy to unmap
    for (ZQSO::SnapInfo* record : all) {
        UniqueId fields;
        bool empty = false;
        if (record && readRecordUniqueId(record, fn, fields, empty) && !empty && !fields.snapDev.empty())
            mapped.push_back(record);
    }
    if (mapped.empty()) return all;
    const int result = unmapSnaps(mapped.data(), int16_t(mapped.size()), os);
    std::set<ZQSO::SnapInfo*> out;
    for (ZQSO::SnapInfo* record : mapped) {
        const ZQSO::SnapStatus status = record->getStatus();
        if (result != 1 && (status == ZQSO::SNAP_STATUS_NOT_MAPPED || status == ZQSO::SNAP_STATUS_CLONE_NOT_MAPPED))
            continue;
        setError(record, kErrorStillMapped,
                 engineLog(record, 2, fn, "%s: Not deleted, the copy could not be unmapped from this host", fn));
        record->setStatus(ZQSO::SNAP_STATUS_DELETE_FAILED);
        leftOut.push_back(record);
        out.insert(record);
    }
    std::vector<ZQSO::SnapInfo*> kept;
    for (ZQSO::SnapInfo* record : all)
        if (out.count(record) == 0) kept.push_back(record);
    return kept;
}

}  // namespace ZQSOIBMSVCAPI
