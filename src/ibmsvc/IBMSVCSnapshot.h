// The snapshot object the engine builds: a FlashCopy mapping between a source
// and a target volume of an IBM SVC cluster, optionally in a consistency
// group (a synchronized set of class "IBMTSSVC_SynchronizedSet").
//
// Files: IBMSVCSnapshot.cpp (construction, attach, synchronize, volume and
// array lookups), IBMSVCSnapshotGroups.cpp (consistency groups),
// IBMSVCSnapshotTargets.cpp (target details, reusable and incremental
// targets, renaming a mapping), IBMSVCSnapshotRemoval.cpp (stopping, waiting
// for the stop, detaching and deleting a dependent copy).
#pragma once

#include <map>
#include <string>
#include <vector>

#include "IBMSVCCimUtil.h"
#include "Snapshot.h"
#include "cim/String.h"

class IBMSVCSnapshot : public ZQ_SMIS_SNAP::Snapshot {
public:
    // Suffix of the element names of a mapping and target whose removal did
    // not finish; a later delete removes them without stopping again.
    static constexpr const char* kToBeDeleted = "_ZQ_TO_BE_DEL";

    IBMSVCSnapshot();

    void SetIBMSVCErrorTable(const ZQ_SMIS_SNAP::ZQ_SMIS_ERROR_MAP* map) { m_ErrorMap = map; }

    // --- the mapping
    // `mode`: the copy type in decimal (4 snapshot, 5 incremental clone, 6
    // reverse); anything else that is a number is a full copy. Sets m_SyncPath.
    // 1 attached, 0 failed.
    int AttachCloneVolume(std::string mode) override;
    using Snapshot::SnapSyncOp;
    // ModifySynchronization `operation` on the mapping (6 prepare, 4 start, 8
    // stop), with "Restore" for a start that restores. 5 done, 6 failed, 23
    // invalid. `knownState`: a stop decides whether to force from the
    // mapping as this turn read it (MappingRead) instead of reading it again.
    int SnapSyncOp(unsigned short operation, bool noWait, bool restore, bool knownState = false);
    int DetachSnap() override;
    // "SyncState" and "PercentSynced" of the mapping (m_SyncPath, else the
    // one between m_SourceDevPath and m_TargetDevPath). 0 read, 1 the mapping
    // does not exist, -1 failed; -1 stands for a value that is not given.
    int GetSyncState(int& state, int& percent);

    // --- what one record's turn has read of its copy
    // The target at m_TargetDevPath, checked against m_TargetDev: 0 it is
    // there (kept in m_TargetRead), 24 it is gone or the path holds another
    // volume, -1 it cannot be read. Without a path, as GetSnapStatus.
    int ReadTargetVolume();
    // The mapping m_SyncPath as last read through this object (GetSyncState,
    // GetSyncSetName, MappingProperty), until this object sends it a change.
    bool MappingRead() const { return !m_MappingReadPath.empty() && m_MappingReadPath == m_SyncPath; }
    // A property of the mapping m_SyncPath: as read (MappingRead), else read
    // now. Empty when it cannot be read.
    std::string MappingProperty(const std::string& name);
    // GetSyncState from the mapping as read (MappingRead), else read now.
    int ReadSyncState(int& state, int& percent);

    // --- consistency groups (m_SyncSetName, m_SyncSetPath)
    // 1 the group exists (made now, or found: m_SyncSetFound), 0 failed.
    int CreateSyncSet(bool& created, int copyType);
    // ModifySynchronizedSet `operation` (0 add m_SyncPath, 1 remove it, 4, 6, 8).
    // 0 done, 1 no such group, -1 failed.
    int ModifySyncSet(int operation);
    // The group `name`, or m_SyncSetName when empty. 0 deleted, 1 no such group, -1 failed.
    int DeleteSyncSet(std::string name);
    // m_SyncPath and m_SyncSetName of the source and target paths: 1 in a
    // group, 0 not, -1 failed.
    int GetSyncSetName();
    // 1 the group `name` exists, 0 it does not, -1 failed.
    int SyncSetExists(const std::string& name);
    // The target volume paths of the mappings in the group `name` (its name
    // compared ignoring case). 0 done (also for none), -1 failed.
    int GetSyncSetMembers(const std::string& name, std::vector<std::string>& targetPaths);

    // --- targets
    // What holds a name that a prepare would give its new target volume.
    struct NameHolder {
        std::string volumePath;   // the volume of that name
        std::string volumeId;     // its "Name"
        std::string mappingPath;  // its one FlashCopy mapping (from this source); empty when none
        std::string groupName;    // that mapping's consistency group; empty when none
        int syncState = -1;       // that mapping's "SyncState"
        std::string why;          // what makes the volume no leftover of this copy
    };
    // Whether the volume named `name` is what an unfinished prepare of this
    // copy (source m_SourceDevPath) left: no host maps it, it has the
    // source's size, and it has no FlashCopy mapping, or one only, from this
    // source, never started (idle without progress, preparing or prepared)
    // and outside any group but `group`. 0 no volume has the name, 1 a
    // leftover, 2 something else holds it (`why`), -1 it cannot be told.
    int FindTargetLeftover(const std::string& name, const std::string& group, NameHolder& holder);
    // The pool of the volume at `volumePath`: 0 found, -1 not.
    int GetTargetDGNameByVolName(Pegasus::String volumeName, std::string& poolName, std::string volumePath);
    // Takes the target and finds its mapping and source: 1 found, 0 not.
    int SetTargetDetailsUsingTargetName(Pegasus::String targetName, std::string targetPath);
    // Space-efficient copies of the source (copy and clean rate 0) whose
    // element name contains `namePart`, as "Name" -> path. 0 found, else failure.
    int GetSESyncPathFromSource(std::map<std::string, std::string>& targets, bool unused, std::string namePart);
    // Keeps the copies whose mapping is incremental with positive rates.
    // 1 done (also for none), 0 failed.
    int CheckForIncrementalMapping(std::map<std::string, std::string>& targets);
    // Volume path of a unique id; empty when not found or on error.
    std::string GetSVCVolObjectPathByUUID(std::string uuid);
    // The same telling the outcomes apart: 1 found, 0 not found, -1 error.
    int FindSVCVolObjectPathByUUID(const std::string& uuid, std::string& path);
    // 0 the source volume exists on the array, 2 it does not, 1 error.
    int CheckSVCArrayExistence();
    // SetElementName on the mapping args["syncPath"] with args["elementName"]
    // and args["force"] ("TRUE" or not). 0 done, -1 invalid or failed, or
    // the method's return value.
    int setElementNameForMapping(ZqCimConnection& conn, std::map<std::string, std::string>& args);

    // --- removal
    // Host mappings of the target (m_TargetDevPath, else looked up by
    // m_TargetDev): their number, 0 also for a target that is gone, -1 when
    // they cannot be read.
    int CountTargetHostMappings();
    // Stops the mapping m_SyncPath (unless marked), waits for the stop,
    // detaches and deletes the target. A target that a host sees is left
    // untouched (error 650006). 1 mapping and target are gone, 0 otherwise.
    int DeleteDependentSnaps();
    // Polls the mapping of snap's target until it is stopped (or gone),
    // then detaches and deletes the target. 0 deleted, 1 still not stopped,
    // 2 delete failed.
    int WaitDetachAndDelete(IBMSVCSnapshot& snap, bool wait);

    // DeleteDependentSnaps in its three steps, for a flow that waits for the
    // stops of several copies at once: Begin checks and stops, Poll reads
    // the mapping once (as often as the wait allows while it is stopping),
    // Finish detaches and deletes the target or marks the mapping.
    enum class StopSeen { Stopping, Stopped, Gone, Other };
    struct DependentRemoval {
        bool going = false;   // checks passed: to be polled, then finished
        bool marked = false;  // the mapping carries kToBeDeleted
        bool waits = false;   // its stop is waited for
        bool stopAccepted = false;
        bool failed = false;  // an error was raised on the way
        std::string name;     // the mapping's element name
        StopSeen seen = StopSeen::Stopping;
    };
    // The wait of WaitDetachAndDelete: seconds in all and between polls.
    struct StopWaitLimits {
        int totalSeconds = 0;
        int intervalSeconds = 0;
        int maxSleeps() const;
    };
    static StopWaitLimits DependentStopWait(bool wait);
    // True when the removal goes on (removal.going).
    bool BeginDependentRemoval(DependentRemoval& removal);
    void PollDependentRemoval(DependentRemoval& removal);
    // "Stop still in progress, waiting %d seconds".
    void TraceStopWaiting(int seconds);
    // 1 mapping and target are gone, 0 otherwise.
    int FinishDependentRemoval(DependentRemoval& removal);

    IBMSVCCimUtil m_SvcCimUtil;
    std::string m_SyncSetName;
    std::string m_SyncSetPath;
    bool m_SyncSetFound = false;  // CreateSyncSet found the group instead of making it

private:
    void KeepMapping(const std::string& path, const Pegasus::CIMInstance& mapping);
    void ForgetMapping() { m_MappingReadPath.clear(); m_Mapping.clear(); }
    // The consistency group of that name; empty when none.
    std::string FindSyncSet(const std::string& name);
    // A set method's answer: 4096 is followed to the job's end (7 counts as
    // success). 0 success, else the failure.
    int FinishSetMethod(const char* label, int retVal, const std::string& jobPath);
    // True when no host sees the target; otherwise reports 650006.
    bool TargetHasNoHostMappings(const char* label);
    // One read of the mapping of snap's target; traced on this object.
    StopSeen PollStop(IBMSVCSnapshot& snap);
    // After the polls: 0 deleted, 1 still not stopped, 2 delete failed.
    int DeleteAfterStop(IBMSVCSnapshot& snap, StopSeen seen);

    std::string m_MappingReadPath;
    std::map<std::string, std::string> m_Mapping;  // its properties as text
};
