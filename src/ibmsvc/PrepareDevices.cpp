// Prepare, in the order of its steps: the calling host checks the batch's
// devices (prepareDevicesLocalOperation); the calling thread builds one
// snapshot object per record and the batch's consistency group
// (prepareDevices); workers choose or create the targets, attach them and
// prepare them (createAttachVdiskThread); the calling thread then prepares
// and starts the group and follows the copies of normal clones.
//
// Whatever fails after a target was taken is taken back (discardRecord): a
// target made for the record is detached and deleted, a reused target gets
// its old name back, so a failed record leaves nothing half-built.
//
// The copy's unique identifier (metadata 1) is written as soon as the record
// has a target and a mapping, so that a host that loses the process knows
// the copy. What a prepare that ended before it got there left under the
// record's name (a target, perhaps with a mapping from this source that was
// never started, or the batch's group holding only such) is taken over by
// the next prepare of the same copy: removed, and made again.
#include "PrepareDevices.h"

#include <algorithm>
#include <atomic>
#include <map>
#include <memory>

#include "ArrayParams.h"
#include "DeviceIdentification.h"
#include "EngineFrame.h"
#include "IBMSVCUtility.h"
#include "SnapshotSteps.h"
#include "TargetDeviceList.h"
#include "ZqClock.h"
#include "ZqSmisReturnValue.h"
#include "ZqSmisSyncOperation.h"
#include "ZqSmisSyncState.h"
#include "ZqThread.h"

namespace ZQSOIBMSVCAPI {

namespace {

constexpr int kEngineSnapshot = 20;
constexpr int kEngineClone = 21;
constexpr int kGroupCopyType = 4;
constexpr int kDefaultMaxThreads = 16;
constexpr int kMaxWaitSeconds = 300;
constexpr int kResyncWaitSeconds = 180;
const char* const kDefaultLabel = "_deleted";
const char* const kGroupFailureText = "Consistency Group creation failed";

// One record's turn: the worker's argument and what the worker left on the array.
struct PrepareJob {
    enum class Target { None, Created, Reused };

    ZQSO::SnapInfo* record = nullptr;
    IBMSVCSnapshot snap;
    const char* caller = "prepareDevices";
    std::string arrayId;
    int16_t count = 0;
    int engineType = 0;
    bool ready = false;         // passed the calling thread's checks
    bool groupCreated = false;  // the batch's group exists
    bool useGroup = false;

    Target target = Target::None;
    bool attached = false;  // the mapping exists
    bool inGroup = false;   // the mapping was added to the batch's group
    std::string reusedTargetName;
    std::string reusedMappingName;
    std::string targetSelMode;

    bool prepared() const { return record->getStatus() == ZQSO::SNAP_STATUS_PREPARED; }
};

// The worker's settings of its record.
struct WorkerSettings {
    bool incremental = false;
    int wait = 1;
    std::string label;
    bool labelConfigured = false;
    bool labelOnly = false;
    bool smartClone = false;
};

// A wait interval not above 0 or above 300 seconds becomes 1.
int clampWait(int seconds) { return seconds <= 0 || seconds > kMaxWaitSeconds ? 1 : seconds; }

int readWaitInterval(ZQSO::SnapInfo* record) {
    const int configured =
        recordConfigInt(record, "SMCONFIG_NAME_SYNCHRONOUS_FLASHCOPY_OPERATION_WAIT_INTERVAL_IN_SEC", 0);
    return clampWait(registryOverride(record, "IBMSVC_PREPARE_WAIT", configured));
}

WorkerSettings readWorkerSettings(ZQSO::SnapInfo* record) {
    WorkerSettings s;
    const int incremental = recordConfigInt(record, "SMCONFIG_NAME_ENABLE_INCREMENTAL_RESYNC_FOR_FLASHCOPY", 0);
    s.incremental = registryOverride(record, "IBMSVC_INCREMENTAL_FLASHCOPY", incremental) >= 1;
    s.wait = readWaitInterval(record);
    const std::string label = recordConfigText(record, "SMCONFIG_NAME_TARGET_DEVICE_LABEL", "");
    s.labelConfigured = !label.empty();
    s.label = label.empty() ? kDefaultLabel : label;
    s.labelOnly = recordConfigInt(record, "SMCONFIG_NAME_USE_LABEL_DEVICE_ONLY", 0) >= 1;
    s.smartClone = (record->getFlags() & ZQSO::SNAP_FLAG_SMART_CLONE) != 0;
    engineLog(record, 0, "createAttachVdiskThread", "Smart Clone Enabled: %d", int(s.smartClone));
    return s;
}

// The copy type of a new mapping: 4 a snapshot, 5 an incremental clone, 0 a
// full copy at the provider's rates.
std::string attachCopyType(const PrepareJob& job, const WorkerSettings& s) {
    if (job.engineType == kEngineSnapshot) return "4";
    return s.incremental ? "5" : "0";
}

// A failed record always carries an error: the line, when no step set one.
void fail(PrepareJob& job, const char* fn) {
    setError(job.record, kErrorStepFailed,
             engineLog(job.record, 2, fn, " Prepare snapshot failed for the source device %s", job.snap.m_SourceDev.c_str()));
    job.record->setStatus(ZQSO::SNAP_STATUS_PREPARE_FAILED);
}

// Takes back what was made for a record that failed and sets its status 2.
// A mapping in the batch's group must have been stopped through the group.
void discardRecord(PrepareJob& job, const char* fn) {
    IBMSVCSnapshot& snap = job.snap;
    ZQSO::SnapInfo* record = job.record;
    const StopWait wait = StopWait::configured();
    bool left = false;  // the copy is still on the array: its identifier stays
    if (job.target == PrepareJob::Target::Created) {
        bool detachable = true;
        if (job.attached) {
            detachable = waitMappingStopped(snap, !job.inGroup, wait);
            if (detachable) snap.DetachSnap();
        }
        if (detachable && snap.SnapDelete() == ZQSO::SNAP_STATUS_DELETED) {
            engineLog(record, 1, fn, "%s: Removed the target [%s] made for this record", fn, snap.m_TargetDev.c_str());
        } else {
            engineLog(record, 2, fn, "%s: Failed to remove the target [%s] made for this record", fn,
                      snap.m_TargetDev.c_str());
            left = job.attached;
        }
    } else if (job.target == PrepareJob::Target::Reused) {
        if (job.inGroup && (!waitMappingStopped(snap, false, wait) || snap.ModifySyncSet(SET_OP_REMOVE) != 0))
            engineLog(record, 2, fn, "%s: Failed to remove [%s] from CG [%s]", fn, snap.m_SyncPath.c_str(),
                      snap.m_SyncSetName.c_str());
        if (!job.reusedMappingName.empty())
            snap.SetSnapObjectProperty(snap.m_SyncPath, "ElementName", job.reusedMappingName);
        if (snap.SetSnapObjectProperty(snap.m_TargetDevPath, "ElementName", job.reusedTargetName) == 0)
            engineLog(record, 1, fn, "%s: Target [%s] kept for reuse as [%s]", fn, snap.m_TargetDev.c_str(),
                      job.reusedTargetName.c_str());
        else
            engineLog(record, 2, fn, "%s: Failed to give target [%s] its name [%s] back", fn,
                      snap.m_TargetDev.c_str(), job.reusedTargetName.c_str());
        targetDeviceList().release(snap.m_TargetDev);
    }
    job.target = PrepareJob::Target::None;
    job.attached = false;
    job.inGroup = false;
    if (!left) record->setMetaData(ZQSO::SM_MDT_UNIQUE_ID, nullptr);
    fail(job, fn);
}

// Metadata 1 of the copy as it stands; false after logging the failure.
bool recordCopy(PrepareJob& job, const char* fn) {
    return writeUniqueId(job.record, fn, uniqueIdOf(job.arrayId, job.snap, job.targetSelMode));
}

// Removes what an unfinished prepare of this copy left under the name of
// its new target (mapping first). The mapping is outside any group: the
// batch's group is taken over before the workers start.
bool removeLeftover(IBMSVCSnapshot& snap, ZQSO::SnapInfo* record, const IBMSVCSnapshot::NameHolder& holder,
                    const char* fn) {
    IBMSVCSnapshot leftover = snap;
    leftover.m_TargetDev = holder.volumeId;
    leftover.m_TargetDevPath = holder.volumePath;
    leftover.m_SyncPath = holder.mappingPath;
    if (!holder.mappingPath.empty()) {
        if (!waitMappingStopped(leftover, holder.groupName.empty(), StopWait::configured()) ||
            leftover.DetachSnap() != ZQSO::SNAP_STATUS_DELETED)
            return false;
    }
    if (leftover.SnapDelete() != ZQSO::SNAP_STATUS_DELETED) return false;
    engineLog(record, 1, fn, "%s: Removed [%s]%s, left by an unfinished prepare of this copy", fn,
              snap.m_SnapName.c_str(), holder.mappingPath.empty() ? "" : " and its FlashCopy mapping");
    return true;
}

// The new target's name is taken. What an unfinished prepare of this copy
// left is removed (true: create again); anything else is refused with an
// error that names the name.
bool takeOverTargetName(PrepareJob& job, const char* fn) {
    IBMSVCSnapshot& snap = job.snap;
    ZQSO::SnapInfo* record = job.record;
    IBMSVCSnapshot::NameHolder holder;
    IBMSVCSnapshot probe = snap;
    const int found = probe.FindTargetLeftover(snap.m_SnapName, std::string(), holder);
    std::string why;
    if (found == 1 && removeLeftover(snap, record, holder, fn)) return true;
    if (found == 1)
        why = "is left by an unfinished prepare of this copy, and could not be removed";
    else if (found == 2)
        why = "is taken by a volume that is not this copy's: " + holder.why;
    else if (found == 0)
        why = "was taken, and no volume of that name is found now";
    else
        why = "is taken, and what holds it cannot be read";
    uint32_t code = 0;
    record->getError(&code, nullptr, nullptr);
    const std::string line =
        engineLog(record, 2, fn, "%s: The target name [%s] %s", fn, snap.m_SnapName.c_str(), why.c_str());
    record->setError(code ? code : kErrorStepFailed, line.c_str());
    return false;
}

// --------------------------------------------------------------- device checks

}  // namespace

bool prepareDevicesLocalOperation(ZQSO::SnapInfo** records, int16_t count, ZQSO::ZQOSUtil* os,
                                  std::vector<LocalDataPrepare>& data) {
    const char* fn = "prepareDevicesLocalOperation";
    data.clear();
    if (!records || count <= 0 || !records[0]) return true;
    ZQSO::SnapInfo* first = records[0];
    engineLog(first, 1, fn, "Starting to prepare [%d] snapshot(s)/clone(s).", int(count));
    const bool byGuid = (first->getFlags() & ZQSO::SNAP_FLAG_DEVICE_BY_GUID) != 0;
    for (int i = 0; i < count; ++i) {
        ZQSO::SnapInfo* record = records[i];
        if (!record) return true;
        record->setStatus(ZQSO::SNAP_STATUS_PREPARE_FAILED);
        std::string path;
        if (!record->sourceDevicePath(path) || path.empty()) {
            setError(record, kErrorArrayInfo,
                     engineLog(record, 2, fn, "Failed in getting the source device name for snap #[%d]", int(count)));
            return true;
        }
        engineLog(record, 0, fn, "%s: Attempting to get array info from host device path %s", fn, path.c_str());
        LocalDataPrepare device;
        device.skipPhyicalQuery = byGuid;
        if (!getDevArrayInfo(os, record, path.c_str(), device.vendorId, device.productId, device.arrayName,
                             device.uuidLun, true, byGuid)) {
            setError(record, kErrorArrayInfo,
                     engineLog(record, 2, fn, "%s: Failed to get IBMSVC Array name from host device name[%s]", fn,
                               path.c_str()));
            return true;
        }
        if (!isConfiguredDevice(device.vendorId, device.productId)) {
            setError(record, kErrorArrayInfo,
                     engineLog(record, 2, fn, "Device [%s] does not belong to IBMSVC", path.c_str()));
            return true;
        }
        if (i > 0 && device.arrayName != data[0].arrayName) {
            setError(record, kErrorOtherArray,
                     engineLog(record, 2, fn, "Device [%s] belongs to different IBMSVC Array [%s], Expected [%s]",
                               path.c_str(), device.arrayName.c_str(), data[0].arrayName.c_str()));
            return true;
        }
        data.push_back(device);
    }
    if (first->selectArray(data[0].arrayName.c_str()) != 0) {
        setError(first, kErrorArrayInfo,
                 engineLog(first, 2, fn, " Unable to set the array id [%s] on the snap device",
                           data[0].arrayName.c_str()));
        return true;
    }
    return false;
}

namespace {

// ------------------------------------------------------------ the worker

// Steps 5 to 7: a target with the label that no known copy uses, on the
// configured device group, seen by no host. Chosen and claimed in one step.
void chooseReusableTarget(PrepareJob& job, const WorkerSettings& s, const std::string& deviceGroup,
                          bool onlyFromGroup) {
    const char* fn = "createAttachVdiskThread";
    ZQSO::SnapInfo* record = job.record;
    IBMSVCSnapshot& snap = job.snap;
    const bool clone = job.engineType == kEngineClone;
    std::map<std::string, std::string> candidates;  // target UID -> path
    bool listed = false;
    if (clone && s.incremental) {
        listed = snap.GetSyncPathFromSource(candidates, true, s.label) == 0;
        if (listed && !snap.CheckForIncrementalMapping(candidates)) {
            engineLog(record, 2, fn, "Could not check for incremental mappings for target devices");
            candidates.clear();
        }
    } else if (!clone && s.labelConfigured) {
        listed = snap.GetSESyncPathFromSource(candidates, true, s.label) == 0;
    }
    if (!listed) {
        engineLog(record, 1, fn, "Could not return target device list. No existing FlashCopy selected.");
        return;
    }
    if (candidates.empty()) {
        engineLog(record, 0, fn, "No target device[%d] with label [%s] found for source [%s]", 0, s.label.c_str(),
                  snap.m_SourceDev.c_str());
        return;
    }
    // Without the list of targets in use no target is safe to take.
    if (!GetExcludedVolList(record, job.count, job.arrayId)) {
        engineLog(record, 2, fn, "The targets in use are not known, no existing FlashCopy selected");
        return;
    }
    for (auto it = candidates.begin(); it != candidates.end();) {
        if (targetDeviceList().contains(it->first) || targetDeviceList().claimed(it->first)) {
            engineLog(record, 0, fn, "Removing [%s] target device as it is currently in use", it->first.c_str());
            it = candidates.erase(it);
        } else {
            ++it;
        }
    }
    if (candidates.empty()) {
        engineLog(record, 2, fn, "No target device with [%s]label is available", s.label.c_str());
        return;
    }
    if (onlyFromGroup) {
        for (auto it = candidates.begin(); it != candidates.end();) {
            std::string pool;
            if (snap.GetTargetDGNameByVolName(Pegasus::String(it->first), pool, it->second) != 0 ||
                pool != deviceGroup) {
                engineLog(record, 0, fn, "Removing [%s] target device as it don't belong to [%s] DG Group",
                          it->first.c_str(), deviceGroup.c_str());
                it = candidates.erase(it);
            } else {
                ++it;
            }
        }
        if (candidates.empty()) {
            engineLog(record, 0, fn, "No target devices with label [%s] are available in DG Group [%s]",
                      s.label.c_str(), deviceGroup.c_str());
            return;
        }
    }

    std::string uid, path;
    for (const auto& candidate : candidates) {
        if (!targetDeviceList().claim(candidate.first)) {
            engineLog(record, 0, fn, "Removing [%s] target device as it is currently in use", candidate.first.c_str());
            continue;
        }
        // A kept target that a host still sees would be overwritten under a mounted disk.
        IBMSVCSnapshot probe = snap;
        probe.m_TargetDev = candidate.first;
        probe.m_TargetDevPath = candidate.second;
        if (probe.CountTargetHostMappings() != 0) {
            engineLog(record, 0, fn, "Removing [%s] target device as it is mapped to a host or its mappings cannot be read",
                      candidate.first.c_str());
            targetDeviceList().release(candidate.first);
            continue;
        }
        uid = candidate.first;
        path = candidate.second;
        break;
    }
    if (uid.empty()) {
        engineLog(record, 2, fn, "No target device with [%s]label is available", s.label.c_str());
        return;
    }

    if (snap.SetTargetDetailsUsingTargetName(Pegasus::String(uid), path) != 1) {
        engineLog(record, 2, fn, "Error during setting of Target device path");
        targetDeviceList().release(uid);
        return;
    }
    engineLog(record, 1, fn, "Target device[%s] path is set", uid.c_str());
    engineLog(record, 1, fn, "%s is selected as target device", uid.c_str());
    if (clone && s.incremental)
        engineLog(record, 1, fn, "Picked FlashCopy target [%s] for Incremental FlashCopy", uid.c_str());
    else if (!clone)
        engineLog(record, 1, fn, "Picked FlashCopy target [%s] for Space-Efficient FlashCopy", uid.c_str());
    else
        engineLog(record, 1, fn, "Picked FlashCopy  target [%s] for normal FlashCopy", uid.c_str());

    job.reusedTargetName = snap.GetSnapObjectProperty(path, "ElementName");
    job.reusedMappingName = snap.GetSnapObjectProperty(snap.m_SyncPath, "ElementName");
    if (job.reusedTargetName.empty() || snap.SetSnapObjectProperty(path, "ElementName", snap.m_SnapName) != 0) {
        engineLog(record, 2, fn, "Update Target instance failed, going to create new FlashCopy mapping");
        targetDeviceList().release(uid);
        return;
    }
    job.target = PrepareJob::Target::Reused;
    job.attached = true;
    job.targetSelMode = clone ? (s.incremental ? "1" : "3") : "2";
    recordCopy(job, fn);
    if (snap.SetSnapObjectProperty(snap.m_SyncPath, "ElementName", snap.m_SnapName) != 0)
        engineLog(record, 0, fn, "%s: Mapping [%s] keeps its name [%s]", fn, snap.m_SyncPath.c_str(),
                  job.reusedMappingName.c_str());

    // The old relation stops before the mapping is prepared again.
    snap.SnapSyncOp(SYNC_OP_STOP, false, false);
    engineLog(record, 0, fn, "Waiting [%d] seconds for IBMSVC FlashCopy stop", s.wait);
    sleepSeconds(s.wait);
    if (!waitMappingStopped(snap, false, StopWait::configured())) {
        engineLog(record, 2, fn, "%s: FlashCopy [%s] did not stop, going to create new FlashCopy mapping", fn,
                  snap.m_SyncPath.c_str());
        snap.SetSnapObjectProperty(snap.m_SyncPath, "ElementName", job.reusedMappingName);
        snap.SetSnapObjectProperty(snap.m_TargetDevPath, "ElementName", job.reusedTargetName);
        targetDeviceList().release(uid);
        record->setMetaData(ZQSO::SM_MDT_UNIQUE_ID, nullptr);
        job.target = PrepareJob::Target::None;
        job.attached = false;
        job.targetSelMode.clear();
        snap.m_TargetDev.clear();
        snap.m_TargetDevPath.clear();
        snap.m_SyncPath.clear();
        return;
    }
}

}  // namespace

// One record: its target, mapping, place in the group and preparation.
int createAttachVdiskThread(void* argument) {
    PrepareJob& job = *static_cast<PrepareJob*>(argument);
    const char* fn = "createAttachVdiskThread";
    ZQSO::SnapInfo* record = job.record;
    IBMSVCSnapshot& snap = job.snap;
    const WorkerSettings s = readWorkerSettings(record);
    const bool clone = job.engineType == kEngineClone;
    const std::string deviceGroup = snap.m_DiskGroupName;
    const bool onlyFromGroup = snap.m_DiskGroupRequired;

    if (snap.PrepareSnap() == ZQSO::SNAP_STATUS_PREPARE_FAILED) {
        fail(job, fn);
        return 0;
    }

    if (job.useGroup) {
        if (record->updateMetaData(ZQSO::SM_MDT_CONSISTENCY_GROUP, snap.m_SyncSetName.c_str()) != 0)
            engineLog(record, 2, fn, "Unable to set the consistency group info in metadata [type:%d]",
                      int(ZQSO::SM_MDT_CONSISTENCY_GROUP));
        else
            engineLog(record, 0, fn, " Setting metadata type-[%d] value-[%s]", int(ZQSO::SM_MDT_CONSISTENCY_GROUP),
                      snap.m_SyncSetName.c_str());
    }

    chooseReusableTarget(job, s, deviceGroup, onlyFromGroup);

    if (job.target == PrepareJob::Target::None) {
        if (s.labelOnly) {
            engineLog(record, 0, fn, "Disallowing the Volume Creation as use[%s] is forced", s.label.c_str());
            fail(job, fn);
            return 0;
        }
        engineLog(record, 0, fn, "Going to create a new volume");
        uint32_t errorBefore = 0;
        record->getError(&errorBefore, nullptr, nullptr);
        bool created = snap.CreateCloneVolume() != 0;
        if (!created && snap.m_CreateVolumeRetVal == SMIS_RET_SVC_VOLUME_NAME_EXISTS && takeOverTargetName(job, fn)) {
            // The refusal is answered: its error is not the record's.
            if (errorBefore == 0) record->setError(0, "");
            created = snap.CreateCloneVolume() != 0;
        }
        if (!created) {
            engineLog(record, 2, fn, "FlashCopy volume creation failed");
            fail(job, fn);
            return 0;
        }
        job.target = PrepareJob::Target::Created;
        job.targetSelMode.clear();
        engineLog(record, 2, fn, "FlashCopy volume creation successful, going to attach the volume to source volume");
        if (!snap.AttachCloneVolume(attachCopyType(job, s))) {
            engineLog(record, 2, fn, "Attach of FlashCopy volume failed, going to delete FlashCopy volume");
            discardRecord(job, fn);
            return 0;
        }
        job.attached = true;
        recordCopy(job, fn);
    }

    if (job.useGroup) {
        engineLog(record, 0, fn, "Going to add the mapping to synchronization set [%s]", snap.m_SyncSetName.c_str());
        if (snap.ModifySyncSet(SET_OP_ADD) != 0) {
            engineLog(record, 2, fn, "Failed to add mapping to synchronization set");
            discardRecord(job, fn);
            return 0;
        }
        job.inGroup = true;
        if (clone)
            engineLog(record, 0, fn, s.smartClone ? "Received smart clone flag, copy will not be monitored"
                                                  : "Received normal clone flag, copy will be monitored");
    } else {
        if (snap.SnapSyncOp(SYNC_OP_PREPARE, false, false) != ZQSO::SNAP_STATUS_SNAP_STARTED) {
            engineLog(record, 2, fn, "FlashCopy preparation failed, going to delete the volume");
            discardRecord(job, fn);
            return 0;
        }
        if (clone) {
            engineLog(record, 0, fn, s.smartClone ? "Received smart clone flag, copy will not be monitored"
                                                  : "Received normal clone flag, copy will be monitored");
            if (!s.smartClone) {
                engineLog(record, 0, fn, "Waiting [%d] seconds for IBMSVC FlashCopy preparation", s.wait);
                sleepSeconds(s.wait);
                if (snap.SnapSyncOp(SYNC_OP_RESYNC, true, false) != ZQSO::SNAP_STATUS_SNAP_STARTED ||
                    !confirmStarted(snap, record, fn)) {
                    engineLog(record, 2, fn, "Starting FlashCopy failed, going to delete FlashCopy");
                    discardRecord(job, fn);
                    return 0;
                }
            }
        }
    }

    if (!recordCopy(job, fn)) {
        discardRecord(job, fn);
        return 0;
    }
    engineLog(record, 1, fn, " Prepare snapshot success for the source device %s", snap.m_SourceDev.c_str());
    record->setStatus(ZQSO::SNAP_STATUS_PREPARED);
    targetDeviceList().markChanged();
    return 0;
}

namespace {

// ------------------------------------------------------------ calling thread

// Step 4 to 7 for one record: its snapshot object and parameters. False
// leaves the record failed (status 2, or 6 for an unknown engine type).
bool setUpRecord(PrepareJob& job, ZQSO::SnapInfo* record, const LocalDataPrepare& device, int16_t count) {
    const char* fn = "prepareDevices";
    job.record = record;
    job.arrayId = device.arrayName;
    job.count = count;
    if (!initRecordSnapshot(job.snap, record, device.arrayName, true)) {
        engineLog(record, 2, fn, "%s: Failed to initialize the Array parameters", fn);
        record->setStatus(ZQSO::SNAP_STATUS_PREPARE_FAILED);
        return false;
    }
    std::string path;
    record->sourceDevicePath(path);
    engineLog(record, 1, fn, "%s: Device path %s belongs to Array %s", fn, path.c_str(), device.arrayName.c_str());
    std::string info;
    if (!readArrayInfo(record, info)) {
        engineLog(record, 2, fn, "%s: Failed to get array info for array id [%s]", fn, device.arrayName.c_str());
        setError(record, kErrorArrayInfo, "Failed to get array info");
        record->setStatus(ZQSO::SNAP_STATUS_PREPARE_FAILED);
        return false;
    }
    int print = 0;
    GetRegInt(nullptr, "PRINT_IBMSVC_INFO_FROM_DB", &print);
    if (print > 0)
        engineLog(record, 1, fn, "%s: Array info received from DB [%s]", fn, maskPassword(info).c_str());

    job.engineType = getSnapEngineType(record);
    if (job.engineType != kEngineSnapshot && job.engineType != kEngineClone) {
        engineLog(record, 2, fn, "%s: Failed : prepareDevices received unknown snap operation [%d]", fn,
                  job.engineType);
        record->setStatus(ZQSO::SNAP_STATUS_SNAP_FAILED);
        return false;
    }
    const std::string deviceGroup = recordConfigText(record, "SMCONFIG_NAME_STORAGE_DEVICE_GROUP", "");
    const bool onlyFromGroup = recordConfigInt(record, "SMCONFIG_NAME_USE_DEVICES_ONLY_FROM_THIS_GROUP", 0) == 1;
    if (onlyFromGroup) engineLog(record, 0, fn, "%s: Device Group option selected", fn);
    if (recordConfigInt(record, "SMCONFIG_NAME_SMART_CLONE_OP", 0) > 0) record->mark(ZQSO::SNAP_FLAG_SMART_CLONE);

    ZQ_SMIS_SNAP::ZqSnapParams params;
    params.SnapName = record->snapName();
    params.SnapOp = job.engineType == kEngineSnapshot ? 4 : 5;
    params.SourceDev = device.uuidLun;
    params.DiskGroupName = deviceGroup;
    params.DiskGroupRequired = onlyFromGroup && !deviceGroup.empty();
    job.snap.SetSnapInfo(params);
    job.ready = true;
    return true;
}

// The batch's group name: the first record's snap name, optionally with the
// time, and "_CG" unless trimmed.
std::string batchGroupName(ZQSO::SnapInfo* first) {
    std::string name = first->snapName();
    int addTime = 0, trim = 0;
    GetRegInt(nullptr, "IBMSVC_CG_ADD_TIMESTAMP", &addTime);
    GetRegInt(nullptr, "IBMSVC_TRIM_CG_SUFFIX", &trim);
    if (addTime != 0) {
        const size_t cut = name.rfind('_');
        if (cut != std::string::npos) name.resize(cut);
        name += "_" + std::to_string(static_cast<long long>(zq::platform::clock().nowSeconds()));
    }
    if (trim == 0) name += "_CG";
    engineLog(first, 2, "prepareDevices", "syncset name [%s]", name.c_str());
    return name;
}

struct SyncRead {
    int r = -1;
    int state = -1;
    int percent = -1;
};

// One read of each mapping, the reads side by side on the pool.
std::vector<SyncRead> readStates(const PhasePool& pool, const std::vector<IBMSVCSnapshot*>& snaps) {
    std::vector<SyncRead> reads(snaps.size());
    std::vector<PhaseItem> items;
    for (size_t i = 0; i < snaps.size(); ++i) items.push_back({i, snaps[i]->m_SystemName});
    pool.run(items, [&](size_t i) { reads[i].r = snaps[i]->GetSyncState(reads[i].state, reads[i].percent); });
    return reads;
}

// Stops the group and waits, within the stop wait, until every member has
// stopped (or is gone).
bool stopGroupMembers(IBMSVCSnapshot& groupSnap, const std::vector<IBMSVCSnapshot*>& members,
                      const PhasePool& pool) {
    const StopWait wait = StopWait::configured();
    bool stopSent = false;
    for (int remaining = wait.totalSeconds;;) {
        bool allStopped = true, needsStop = false;
        for (const SyncRead& read : readStates(pool, members)) {
            if (read.r == 1 || (read.r == 0 && isStoppedState(read.state))) continue;
            allStopped = false;
            if (read.r == 0 && (read.state == SYNC_STATE_PREPARED || read.state == SYNC_STATE_RESYNC_IN_PROGRESS))
                needsStop = true;
        }
        if (allStopped) return true;
        if (needsStop && !stopSent) {
            groupSnap.ModifySyncSet(SET_OP_STOP);
            stopSent = true;
            continue;
        }
        if (remaining < wait.intervalSeconds) return false;
        sleepSeconds(wait.intervalSeconds);
        remaining -= wait.intervalSeconds;
        stopSent = false;
    }
}

// A group of the batch's name that holds mappings: taken over when each of
// them is what an unfinished prepare of one of the batch's copies left (the
// mapping and its target are removed); refused otherwise, naming the group.
bool takeOverBatchGroup(IBMSVCSnapshot& groupSnap, const std::string& name, const std::vector<std::string>& members,
                        std::vector<PrepareJob>& jobs, const PhasePool& pool) {
    const char* fn = "prepareDevices";
    ZQSO::SnapInfo* first = groupSnap.m_SnapInfo;
    struct Leftover {
        PrepareJob* job;
        IBMSVCSnapshot snap;
        IBMSVCSnapshot::NameHolder holder;
    };
    std::vector<Leftover> leftovers;
    for (const std::string& target : members) {
        const std::string targetName = groupSnap.GetSnapObjectProperty(target, "ElementName");
        auto owner = std::find_if(jobs.begin(), jobs.end(), [&](const PrepareJob& j) {
            return j.ready && !targetName.empty() && j.snap.m_SnapName == targetName;
        });
        std::string why;
        if (owner == jobs.end()) {
            why = "[" + (targetName.empty() ? target : targetName) + "] is no target of this batch";
        } else {
            Leftover l{&*owner, owner->snap, {}};
            const int found = l.snap.FindTargetLeftover(targetName, name, l.holder);
            if (found == 1 && l.holder.groupName == name) {
                l.snap.m_TargetDev = l.holder.volumeId;
                l.snap.m_TargetDevPath = l.holder.volumePath;
                l.snap.m_SyncPath = l.holder.mappingPath;
                leftovers.push_back(std::move(l));
                continue;
            }
            why = "[" + targetName + "] " + (found == 2 ? l.holder.why : std::string("cannot be read"));
        }
        engineLog(first, 2, fn, "%s: Consistency Group [%s] already holds [%d] mappings: %s", fn, name.c_str(),
                  int(members.size()), why.c_str());
        return false;
    }
    std::vector<IBMSVCSnapshot*> snaps;
    for (auto& l : leftovers) snaps.push_back(&l.snap);
    if (!stopGroupMembers(groupSnap, snaps, pool)) {
        engineLog(first, 2, fn, "%s: Consistency Group [%s] left by an unfinished prepare did not stop", fn,
                  name.c_str());
        return false;
    }
    for (auto& l : leftovers) {
        if (l.snap.DetachSnap() != ZQSO::SNAP_STATUS_DELETED || l.snap.SnapDelete() != ZQSO::SNAP_STATUS_DELETED) {
            engineLog(first, 2, fn, "%s: Failed to remove [%s] of Consistency Group [%s]", fn,
                      l.job->snap.m_SnapName.c_str(), name.c_str());
            return false;
        }
        engineLog(l.job->record, 1, fn, "%s: Removed [%s] and its FlashCopy mapping in Consistency Group [%s], left by "
                  "an unfinished prepare of this copy", fn, l.job->snap.m_SnapName.c_str(), name.c_str());
    }
    return true;
}

// Creates the batch's group, or takes an empty one of that name, or one that
// an unfinished prepare of this batch left. A group that holds anything else
// is not used.
bool makeBatchGroup(IBMSVCSnapshot& groupSnap, const std::string& name, std::vector<PrepareJob>& jobs,
                    bool& madeHere, const PhasePool& pool) {
    const char* fn = "prepareDevices";
    groupSnap.m_SyncSetName = name;
    groupSnap.m_SyncSetPath.clear();
    bool created = false;
    if (groupSnap.CreateSyncSet(created, kGroupCopyType) != 1) return false;
    madeHere = !groupSnap.m_SyncSetFound;
    if (madeHere) return true;
    std::vector<std::string> members;
    if (groupSnap.GetSyncSetMembers(name, members) != 0) return false;
    if (members.empty()) return true;
    if (!takeOverBatchGroup(groupSnap, name, members, jobs, pool)) return false;
    engineLog(groupSnap.m_SnapInfo, 1, fn, "%s: Consistency Group [%s] left by an unfinished prepare of this batch "
              "is taken over", fn, name.c_str());
    madeHere = true;
    return true;
}

// Runs the workers: at most "IBMSVC_PREPARE_MAX_THREADS" threads at once, or
// the calling thread alone with "IBMSVC_SNAP_NO_PARALLEL".
void runWorkers(std::vector<PrepareJob>& jobs, bool sequential, ZQSO::SnapInfo* first) {
    const char* fn = "prepareDevices";
    std::atomic<size_t> next{0};
    auto work = [&jobs, &next]() {
        for (size_t i = next++; i < jobs.size(); i = next++)
            if (jobs[i].ready) createAttachVdiskThread(&jobs[i]);
        return 0;
    };
    if (sequential) {
        engineLog(first, 0, fn, "Going to start FlashCopy attach");
        work();
        return;
    }
    int maxThreads = kDefaultMaxThreads;
    GetRegInt(nullptr, "IBMSVC_PREPARE_MAX_THREADS", &maxThreads);
    const size_t ready = size_t(std::count_if(jobs.begin(), jobs.end(), [](const PrepareJob& j) { return j.ready; }));
    const size_t wanted = std::min(ready, size_t(std::max(maxThreads, 1)));
    std::vector<std::unique_ptr<ZqThread>> threads;
    for (size_t i = 0; i < wanted; ++i) {
        auto thread = std::make_unique<ZqThread>();
        if (thread->createThread(std::function<int()>(work)) != 0) {
            engineLog(first, 2, fn, "%s: Unable to create thread", fn);
            break;
        }
        engineLog(first, 0, fn, "PrepareSnap Thread created");
        threads.push_back(std::move(thread));
    }
    for (auto& thread : threads) {
        int result = 0;
        thread->joinThread(&result);
        engineLog(first, 0, fn, "PrepareSnap Thread Joined");
    }
    // Records no thread took (a thread that could not be made).
    work();
}

std::vector<PrepareJob*> groupMembers(std::vector<PrepareJob>& jobs) {
    std::vector<PrepareJob*> members;
    for (auto& job : jobs)
        if (job.inGroup && job.prepared()) members.push_back(&job);
    return members;
}

// Stops the batch's group and waits, within the stop wait, until every
// member has stopped.
bool stopGroup(IBMSVCSnapshot& groupSnap, const std::vector<PrepareJob*>& members, const PhasePool& pool) {
    std::vector<IBMSVCSnapshot*> snaps;
    for (PrepareJob* member : members) snaps.push_back(&member->snap);
    return stopGroupMembers(groupSnap, snaps, pool);
}

// A failed group operation fails every member: the group is stopped and each
// member's target taken back.
void failGroup(IBMSVCSnapshot& groupSnap, const std::vector<PrepareJob*>& members, const char* fn,
               const char* why, const PhasePool& pool) {
    stopGroup(groupSnap, members, pool);
    for (PrepareJob* member : members) {
        setError(member->record, kErrorStepFailed, why);
        discardRecord(*member, fn);
    }
}

// Step 11: the group is prepared, and started for normal clones.
void prepareGroup(IBMSVCSnapshot& groupSnap, std::vector<PrepareJob>& jobs, ZQSO::SnapInfo* first, int wait,
                  bool startIt, const PhasePool& pool) {
    const char* fn = "prepareDevices";
    const std::vector<PrepareJob*> members = groupMembers(jobs);
    if (members.empty()) return;
    if (groupSnap.ModifySyncSet(SET_OP_PREPARE) != 0) {
        failGroup(groupSnap, members, fn, engineLog(first, 2, fn, "ConsistencyGroup preparation failed ").c_str(), pool);
        return;
    }
    engineLog(first, 1, fn, "ConsistencyGroup preparation success ");
    engineLog(first, 0, fn, "Waiting [%d] seconds for IBMSVC FlashCopy prepare", wait);
    sleepSeconds(wait);
    if (startIt && groupSnap.ModifySyncSet(SET_OP_START) != 0) {
        failGroup(groupSnap, members, fn, engineLog(first, 2, fn, "ConsistencyGroup resync failed ").c_str(), pool);
    }
}

int resyncAttempts() {
    int attempts = 0;
    GetRegInt(nullptr, "IBMSVC_RESYNC_FAILURE_RETRY", &attempts);
    if (attempts < 5) return 10;
    return std::min(attempts, 30);
}

// Steps 14 and 15: the copies of normal clones are followed together until
// each is complete, then stopped and prepared again, so that snap starts a
// copy of that moment.
void followClones(std::vector<PrepareJob>& jobs, IBMSVCSnapshot* groupSnap, ZQSO::SnapInfo* first, int wait,
                  const PhasePool& pool) {
    const char* fn = "prepareDevices";
    std::vector<PrepareJob*> pending, completed, failed;
    for (auto& job : jobs)
        if (job.ready && job.prepared()) {
            engineLog(job.record, 0, fn, "%s: Smart clone not enabled, monitoring the incremental copy after prepare",
                      fn);
            pending.push_back(&job);
        }
    if (pending.empty()) return;

    const int attempts = resyncAttempts();
    for (int attempt = 1;; ++attempt) {
        bool copying = false;
        std::vector<PrepareJob*> still;
        std::vector<IBMSVCSnapshot*> snaps;
        for (PrepareJob* job : pending) snaps.push_back(&job->snap);
        const std::vector<SyncRead> reads = readStates(pool, snaps);
        for (size_t i = 0; i < pending.size(); ++i) {
            PrepareJob* job = pending[i];
            const int r = reads[i].r, state = reads[i].state, percent = reads[i].percent;
            const char* name = job->snap.m_SnapName.c_str();
            if (r == 1) {
                engineLog(job->record, 0, fn, "%s: FlashCopy deleted as autodelete is enabled", fn);
                completed.push_back(job);
            } else if (r == 0 && isCompleteCopy(state, percent)) {
                engineLog(job->record, 0, fn, "%s: Resync completed", fn);
                completed.push_back(job);
            } else if (r == 0 && state == SYNC_STATE_RESYNC_IN_PROGRESS) {
                engineLog(job->record, 0, fn, "%s: Resync still in progress for FlashCopy [%s], waiting 180 seconds",
                          fn, name);
                copying = true;
                still.push_back(job);
            } else if (r == 0 && (state == SYNC_STATE_PREPARED || state == SYNC_STATE_QUIESCE_IN_PROGRESS ||
                                  state == SYNC_STATE_QUIESCED)) {
                engineLog(job->record, 2, fn, "%s: Resync failed for FlashCopy [%s], sync state [%d]", fn, name,
                          state);
                failed.push_back(job);
            } else {
                engineLog(job->record, 0, fn, "%s: Unknown state [%d], continue with retry [%d]", fn, state, attempt);
                still.push_back(job);
            }
        }
        pending.swap(still);
        if (pending.empty() || attempt >= attempts) break;
        sleepSeconds(copying ? kResyncWaitSeconds : std::min(90 + 10 * attempt, kResyncWaitSeconds));
    }
    for (PrepareJob* job : pending) {
        engineLog(job->record, 2, fn, "%s: Resync failed for FlashCopy [%s]", fn, job->snap.m_SnapName.c_str());
        failed.push_back(job);
    }

    if (!groupSnap) {
        for (PrepareJob* job : failed) discardRecord(*job, fn);
        if (completed.empty()) return;
        std::vector<PhaseItem> items;
        for (size_t i = 0; i < completed.size(); ++i) items.push_back({i, completed[i]->snap.m_SystemName});
        pool.run(items, [&](size_t i) { completed[i]->snap.SnapSyncOp(SYNC_OP_STOP, false, false); });
        engineLog(first, 0, fn, "Waiting [%d] seconds for IBMSVC FlashCopy stop", wait);
        sleepSeconds(wait);
        const StopWait stopWait = StopWait::configured();
        std::vector<char> stuck(completed.size(), 0);
        for (const PhaseItem& item :
             pollTogether(pool, items, stopWait.intervalSeconds, stopWait.totalSeconds / stopWait.intervalSeconds,
                          [&](size_t i) { return mappingStopped(completed[i]->snap); }))
            stuck[item.index] = 1;
        pool.run(items, [&](size_t i) {
            PrepareJob* job = completed[i];
            if (stuck[i] || job->snap.SnapSyncOp(SYNC_OP_PREPARE, false, false) != ZQSO::SNAP_STATUS_SNAP_STARTED) {
                engineLog(job->record, 2, fn, "%s: prepare failed for FlashCopy [%s]", fn,
                          job->snap.m_SnapName.c_str());
                discardRecord(*job, fn);
            }
        });
        return;
    }

    // Group: the members stop together; the failed ones leave; the rest is prepared again.
    std::vector<PrepareJob*> members = groupMembers(jobs);
    groupSnap->ModifySyncSet(SET_OP_STOP);
    engineLog(first, 0, fn, "Waiting [%d] seconds for IBMSVC FlashCopy to stop", wait);
    sleepSeconds(wait);
    stopGroup(*groupSnap, members, pool);
    for (PrepareJob* job : failed) discardRecord(*job, fn);
    members = groupMembers(jobs);
    if (members.empty()) return;
    if (groupSnap->ModifySyncSet(SET_OP_PREPARE) != 0) {
        failGroup(*groupSnap, members, fn, engineLog(first, 2, fn, "%s: prepare failed for FlashCopy syncset", fn).c_str(), pool);
    }
}

}  // namespace

int prepareDevices(ZQSO::SnapInfo** records, int16_t count, ZQSO::ZQOSUtil*,
                   const std::vector<LocalDataPrepare>& data) {
    const char* fn = "prepareDevices";
    if (!records || count <= 0 || !records[0]) return 1;
    ZQSO::SnapInfo* first = records[0];
    engineLog(first, 1, fn, "Starting to prepare [%d] snapshot{s]/clone(s).", int(count));
    for (int i = 0; i < count; ++i)
        if (records[i]) records[i]->setStatus(ZQSO::SNAP_STATUS_PREPARE_FAILED);
    if (data.size() != size_t(count)) {
        setError(first, kErrorStepFailed,
                 engineLog(first, 2, fn, "%s: Device data for [%d] records received for a batch of [%d]", fn,
                           int(data.size()), int(count)));
        return 1;
    }
    int noParallel = 0;
    GetRegInt(nullptr, "IBMSVC_SNAP_NO_PARALLEL", &noParallel);
    if (noParallel != 0) engineLog(first, 1, fn, "Performing non-concurrent snap creation");
    const PhasePool pool = PhasePool::configured(first);

    IBMSVCSnapshot firstSnap;
    if (!initRecordSnapshot(firstSnap, first, data[0].arrayName, true)) {
        engineLog(first, 2, fn, "%s: Failed to initialize the Array parameters", fn);
        return 1;
    }
    const int groupSetting = registryOverride(
        first, "IBMSVC_USE_CG", recordConfigInt(first, "SMCONFIG_NAME_IBMSVC_CONSISTENCY_GROUP", 0));
    const bool useGroup = groupSetting > 0 && count >= 2;

    std::vector<PrepareJob> jobs(static_cast<size_t>(count));
    std::string groupName;
    if (useGroup) groupName = batchGroupName(first);
    for (int i = 0; i < count; ++i) {
        if (!records[i] || !setUpRecord(jobs[size_t(i)], records[i], data[size_t(i)], count)) continue;
        jobs[size_t(i)].useGroup = useGroup;
        jobs[size_t(i)].snap.m_SyncSetName = groupName;
    }

    // One group per batch, made before any worker starts.
    bool groupMadeHere = false;
    const auto firstReady = std::find_if(jobs.begin(), jobs.end(), [](const PrepareJob& j) { return j.ready; });
    IBMSVCSnapshot groupSnap = firstReady != jobs.end() ? firstReady->snap : firstSnap;
    if (useGroup && firstReady != jobs.end()) {
        if (!makeBatchGroup(groupSnap, groupName, jobs, groupMadeHere, pool)) {
            for (auto& job : jobs) {
                if (!job.ready) continue;
                engineLog(job.record, 2, fn, "%s", kGroupFailureText);
                setError(job.record, kErrorStepFailed, kGroupFailureText);
                job.ready = false;
            }
        } else {
            for (auto& job : jobs) {
                job.groupCreated = true;
                job.snap.m_SyncSetPath = groupSnap.m_SyncSetPath;
            }
        }
    }

    runWorkers(jobs, noParallel != 0, first);

    const int wait = readWaitInterval(first);
    const bool clone = firstReady != jobs.end() && firstReady->engineType == kEngineClone;
    const bool smartClone = firstReady != jobs.end() && (firstReady->record->getFlags() & ZQSO::SNAP_FLAG_SMART_CLONE);
    if (useGroup) prepareGroup(groupSnap, jobs, first, wait, clone && !smartClone, pool);

    const bool anyPrepared = std::any_of(jobs.begin(), jobs.end(), [](const PrepareJob& j) { return j.ready && j.prepared(); });
    engineLog(first, 0, fn, "Smart Clone Enabled: %d", int(smartClone));
    if (clone)
        engineLog(first, 0, fn, smartClone ? "Received smart clone flag, copy will not be monitored"
                                           : "Received normal clone flag, copy will be monitored");
    if (anyPrepared && clone && !smartClone) followClones(jobs, useGroup ? &groupSnap : nullptr, first, wait, pool);

    auto countPrepared = [&] {
        int n = 0;
        for (int i = 0; i < count; ++i)
            if (records[i] && records[i]->getStatus() == ZQSO::SNAP_STATUS_PREPARED) ++n;
        return n;
    };
    int prepared = countPrepared();
    // The last prepare (of the group, or of each clone once copied) has its
    // time too before snap may start the copies.
    if (prepared > 0) {
        engineLog(first, 0, fn, "Waiting [%d] seconds for IBMSVC FlashCopy preparation", wait);
        sleepSeconds(wait);
    }
    // The group's answer covers the group: a member whose mapping left it (or
    // never joined) is not prepared, whatever the group says.
    if (useGroup && prepared > 0) {
        const std::vector<PrepareJob*> members = groupMembers(jobs);
        std::vector<Confirm> mappings;
        for (PrepareJob* member : members) mappings.push_back({&member->snap, member->record});
        const std::vector<bool> ready = confirmPrepared(mappings, fn, pool);
        for (size_t i = 0; i < members.size(); ++i)
            if (!ready[i]) discardRecord(*members[i], fn);
        prepared = countPrepared();
    }
    // A group this call made and no record uses is not left behind.
    if (groupMadeHere && prepared == 0) {
        if (groupSnap.DeleteSyncSet(groupName) == -1)
            engineLog(first, 2, fn, "ConsistencyGroup [%s] deletion failed", groupName.c_str());
    }
    engineLog(first, 1, fn, "Prepare snapshot/clone completed");
    if (prepared == count) return 0;
    return prepared > 0 ? 2 : 1;
}

}  // namespace ZQSOIBMSVCAPI
