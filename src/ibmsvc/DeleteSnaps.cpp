// Delete, in the order of its steps: the settings; then record by record the
// unique identifier, the snapshot object, whether the copy still exists, its
// mapping and consistency group, and one of three paths (kept incremental
// clone, kept space-efficient target, physical deletion); last the groups the
// batch named.
//
// A consistency group is removed only while it holds nothing but this
// batch's mappings: group names repeat across batches. A mapping leaves its
// group only once stopped, and a group member stops through its group.
#include "DeleteSnaps.h"

#include <map>
#include <set>
#include <string>

#include "ArrayParams.h"
#include "EngineFrame.h"
#include "IBMSVCUtility.h"
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
    ZQSO::SnapInfo** records = nullptr;
    int16_t count = 0;
    DeleteSettings settings;
    std::set<std::string> targets;  // target volumes of the batch ("DeviceID" of their paths)
    std::map<std::string, BatchGroup> groups;
    std::set<std::string> namedGroups;  // groups named by the records (metadata 102)
    IBMSVCSnapshot groupSnap;          // endpoint for the groups' own operations
    bool haveGroupSnap = false;
    ZqCimConnection paths;             // the system and service paths the records found
};

// One record's copy as it stands on the array.
struct CopyOnArray {
    UniqueId fields;
    bool mapping = false;      // the FlashCopy mapping exists
    std::string group;         // its consistency group, if any
    bool leftGroup = false;    // taken out of its group by this call
};

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

// Takes the record's mapping out of its group, stopping it first (through
// the group when the group is the batch's own). False: the mapping is still
// in the group.
bool leaveGroup(DeleteBatch& batch, IBMSVCSnapshot& snap, ZQSO::SnapInfo* record, CopyOnArray& copy) {
    const char* fn = "deleteSnaps";
    auto it = batch.groups.find(copy.group);
    if (copy.group.empty() || copy.leftGroup || it == batch.groups.end() || !it->second.present) return true;
    BatchGroup& group = it->second;
    snap.m_SyncSetName = copy.group;
    snap.m_SyncSetPath.clear();
    int state = -1, percent = -1;
    const int r = snap.ReadSyncState(state, percent);
    if (r == 0 && !isStoppedState(state)) {
        if (group.ours && !group.stopped) {
            snap.ModifySyncSet(SET_OP_STOP);
            group.stopped = true;
        } else if (!group.ours) {
            snap.SnapSyncOp(SYNC_OP_STOP, false, false, true);
        }
        if (!waitMappingStopped(snap, false, batch.settings.wait)) {
            engineLog(record, 0, fn, "Failed to remove [%s] from CG [%s]", copy.fields.snapDev.c_str(),
                      copy.group.c_str());
            return false;
        }
    }
    const int removed = snap.ModifySyncSet(SET_OP_REMOVE);
    if (removed == 0) {
        engineLog(record, 0, fn, "Removed [%s] from CG [%s]", copy.fields.snapDev.c_str(), copy.group.c_str());
    } else if (removed == -1) {
        engineLog(record, 0, fn, "Failed to remove [%s] from CG [%s]", copy.fields.snapDev.c_str(),
                  copy.group.c_str());
        return false;
    } else {
        engineLog(record, 0, fn, "[%s] not found in CG [%s]", copy.fields.snapDev.c_str(), copy.group.c_str());
    }
    copy.leftGroup = true;
    return true;
}

// The mapping and target stay on the array under a name that carries the
// label, for a later prepare to take again. False: delete it instead.
bool keepForReuse(DeleteBatch& batch, IBMSVCSnapshot& snap, ZQSO::SnapInfo* record, CopyOnArray& copy,
                  bool incrementalClone) {
    const char* fn = "deleteSnaps";
    const std::string snapName = record->snapName();
    const std::string label = batch.settings.label.empty() ? kDefaultLabel : batch.settings.label;
    const std::string newName = batch.settings.label.empty() ? snapName + kDefaultLabel : snapName + "_" + label;
    if (incrementalClone) {
        engineLog(record, 0, fn,
                  "Incremental FlashCopy enabled, skipping physical deletion of FlashCopy mappings and targets if "
                  "FlashCopy created as incremental");
    } else {
        engineLog(record, 0, fn,
                  "Skipping physical deletion of FlashCopy mappings and space-efficient targets as the FlashCopy "
                  "created is pre-paired");
    }
    engineLog(record, 0, fn, "Renaming FlashCopy mapping and Target to [%s]", newName.c_str());
    if (!copy.mapping) {
        if (incrementalClone)
            engineLog(record, 2, fn,
                      "FlashCopy mapping deleted externally, deleting the FlashCopy target [%s] as incremetnal "
                      "FlashCopy is not possible",
                      copy.fields.snapDev.c_str());
        else
            engineLog(record, 2, fn, "FlashCopy mapping deleted externally, deleting the space-efficient FlashCopy target [%s]",
                      copy.fields.snapDev.c_str());
        return false;
    }
    if (!leaveGroup(batch, snap, record, copy)) return false;
    if (incrementalClone) {
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
                  incrementalClone
                      ? "Update Target instance failed, deleting mapping [%s] as it will not pick for incremental FlashCopy"
                      : "Update Target instance failed, deleting mapping [%s] as it will not pick for space-efficient "
                        "FlashCopy",
                  snap.m_SyncPath.c_str());
        return false;
    }
    engineLog(record, 0, fn, " Marking snap [%s] as deleted in DB", snapName.c_str());
    return true;
}

// Mapping and target leave the array. A target a host sees is left alone.
ZQSO::SnapStatus deletePhysically(DeleteBatch& batch, IBMSVCSnapshot& snap, ZQSO::SnapInfo* record,
                                  CopyOnArray& copy) {
    const char* fn = "deleteSnaps";
    const std::string& device = copy.fields.snapDev;
    if (copy.mapping && !leaveGroup(batch, snap, record, copy)) return ZQSO::SNAP_STATUS_DELETE_FAILED;
    if (copy.mapping && batch.settings.dependencyCheck) {
        if (snap.DeleteDependentSnaps()) {
            engineLog(record, 0, fn, "%s: Successfully deleted the device %s", fn, device.c_str());
            return ZQSO::SNAP_STATUS_DELETED;
        }
        engineLog(record, 2, fn, "%s: Failed to delete the device %s", fn, device.c_str());
        return ZQSO::SNAP_STATUS_DELETE_FAILED;
    }
    const int hostMappings = snap.CountTargetHostMappings();
    if (hostMappings != 0) {
        snap.setErrorMsg(650006, hostMappings < 0 ? fn + std::string(": Device ") + device +
                                                        " not deleted, its host mappings could not be checked\n"
                                                  : fn + std::string(": Device ") + device +
                                                        " delete failed, Host mappings found\n");
        engineLog(record, 2, fn, "%s: Failed to delete the device %s", fn, device.c_str());
        return ZQSO::SNAP_STATUS_DELETE_FAILED;
    }
    if (copy.mapping) {
        snap.SnapSyncOp(SYNC_OP_STOP, false, false, true);
        if (batch.settings.stopWait) {
            if (!waitMappingStopped(snap, false, batch.settings.wait)) {
                engineLog(record, 2, fn, "%s: Stop did not complete, the device %s is not deleted", fn, device.c_str());
                return ZQSO::SNAP_STATUS_DELETE_FAILED;
            }
            engineLog(record, 0, fn, "%s: Stop completed", fn);
        }
        snap.DetachSnap();
    }
    if (snap.SnapDelete() == ZQSO::SNAP_STATUS_DELETED) {
        engineLog(record, 0, fn, "%s: Successfully deleted the device %s", fn, device.c_str());
        return ZQSO::SNAP_STATUS_DELETED;
    }
    engineLog(record, 2, fn, "%s: Failed to delete the device %s", fn, device.c_str());
    return ZQSO::SNAP_STATUS_DELETE_FAILED;
}

// Steps 1 to 7 for one record.
ZQSO::SnapStatus deleteRecord(DeleteBatch& batch, ZQSO::SnapInfo* record) {
    const char* fn = "deleteSnaps";
    CopyOnArray copy;
    bool empty = false;
    if (!readRecordUniqueId(record, fn, copy.fields, empty)) return ZQSO::SNAP_STATUS_DELETE_FAILED;
    std::string text;
    record->getMetaDataText(ZQSO::SM_MDT_UNIQUE_ID, text);
    engineLog(record, 0, fn, "%s: received metadata id:%d, value:%s", fn, int(ZQSO::SM_MDT_UNIQUE_ID), text.c_str());
    if (empty) {
        engineLog(record, 1, fn, "Nothing to delete as unique identifier is empty.");
        return ZQSO::SNAP_STATUS_DELETED;
    }
    const UniqueId& f = copy.fields;
    if (f.snapDev.empty()) {
        engineLog(record, 1, fn,
                  "Nothing to delete as snap device not created, reason could be snap create operation failed");
        return ZQSO::SNAP_STATUS_DELETED;
    }
    engineLog(record, 0, fn, "%s: Snap Device[%s] Source Device [%s] Snap Name [%s]", fn, f.snapDev.c_str(),
              f.srcDev.c_str(), record->snapName().c_str());

    IBMSVCSnapshot snap;
    // The paths of the system and its services this record finds serve the next one.
    struct KeepPaths {
        DeleteBatch& batch;
        IBMSVCSnapshot& snap;
        ~KeepPaths() { batch.paths = snap.m_Conn; }
    } keepPaths{batch, snap};
    ZQ_SMIS_SNAP::ZqSnapViewParams view;
    view.TargetDev = f.snapDev;
    view.TargetDevPath = f.snapDevPath;
    snap.SetSnapViewInfo(view);
    if (!initRecordSnapshot(snap, record, f.arrayId, false)) {
        engineLog(record, 2, fn, "%s: Failed to initialize the Array parameters", fn);
        return ZQSO::SNAP_STATUS_DELETE_FAILED;
    }
    setSnapFromUniqueId(snap, record, f);
    snap.m_Conn.TakeKnownPaths(batch.paths);
    if (!batch.haveGroupSnap) {
        batch.groupSnap = snap;
        batch.haveGroupSnap = true;
    }

    // Step 5: the copy may be gone already. The target read here serves the
    // rest of the record's turn.
    int status = snap.ReadTargetVolume();
    if (status == ZQSO::SNAP_STATUS_DELETED_OUTSIDE) {
        engineLog(record, 1, fn, "Got the status as snap device delete externally with object path, rechecking with uuid");
        std::string path;
        const int found = snap.FindSVCVolObjectPathByUUID(f.snapDev, path);
        if (found == 0) {
            engineLog(record, 1, fn, "Nothing to delete as snap device externally deleted from the Storage Array");
            return ZQSO::SNAP_STATUS_DELETED;
        }
        if (found < 0) {
            engineLog(record, 2, fn, "%s: The snap device %s could not be looked up", fn, f.snapDev.c_str());
            return ZQSO::SNAP_STATUS_DELETE_FAILED;
        }
        snap.m_TargetDevPath = path;
    } else if (status != 0) {
        engineLog(record, 2, fn, "%s: The state of the snap device %s could not be read", fn, f.snapDev.c_str());
        return ZQSO::SNAP_STATUS_DELETE_FAILED;
    }

    // Step 6: the mapping and its group.
    const int lookup = snap.GetSyncPathFromTarget();
    if (lookup < 0) {
        engineLog(record, 2, fn, "%s: The FlashCopy mapping of %s could not be read", fn, f.snapDev.c_str());
        return ZQSO::SNAP_STATUS_DELETE_FAILED;
    }
    copy.mapping = lookup == 0;
    if (copy.mapping) {
        const int inGroup = snap.GetSyncSetName();
        if (inGroup < 0) {
            engineLog(record, 2, fn, "%s: The consistency group of %s could not be read", fn, f.snapDev.c_str());
            return ZQSO::SNAP_STATUS_DELETE_FAILED;
        }
        if (inGroup == 1) {
            copy.group = snap.m_SyncSetName;
            meetGroup(batch, snap, record, copy.group);
        }
    }

    // Step 7: the path.
    const bool keptClone = batch.settings.incremental && f.snapOp == "5";
    const bool keptTarget = f.snapOp == "4" && f.targetSelMode == "2";
    if ((keptClone || keptTarget) && keepForReuse(batch, snap, record, copy, keptClone))
        return ZQSO::SNAP_STATUS_DELETED;
    return deletePhysically(batch, snap, record, copy);
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

    DeleteBatch batch;
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

    for (int i = 0; i < count; ++i) {
        ZQSO::SnapInfo* record = records[i];
        if (!record) continue;
        const ZQSO::SnapStatus status = deleteRecord(batch, record);
        record->setStatus(status);
        // a copy left on the array is always told, when no step set an error
        if (status == ZQSO::SNAP_STATUS_DELETE_FAILED)
            setError(record, kErrorStepFailed, "deleteSnaps: the copy was not deleted from the Storage Array");
        if (status == ZQSO::SNAP_STATUS_DELETED) {
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
