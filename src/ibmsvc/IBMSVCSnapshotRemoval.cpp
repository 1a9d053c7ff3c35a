// IBMSVCSnapshot: removing a dependent copy: the host-mapping check, the
// stop of its mapping, the wait for the stop, detach and delete, and the
// mark on a mapping that did not stop in time.
#include <cstdlib>

#include "EvDebug.h"
#include "IBMSVCSnapshot.h"
#include "ZqSmisExceptionTrace.h"
#include "ZqSmisSettings.h"
#include "ZqSmisSyncOperation.h"
#include "ZqSmisSyncState.h"

using zq::platform::formatText;

namespace {

// A mapping in one of these states needs no more stopping: stopped, copied
// to the end, or never started.
bool IsStopped(int state) {
    return state == SYNC_STATE_QUIESCED || state == SYNC_STATE_SYNCHRONIZED || state == SYNC_STATE_IDLE;
}

// Still on the way to stopped: copying or stopping.
bool IsStopping(int state) { return state == SYNC_STATE_RESYNC_IN_PROGRESS || state == SYNC_STATE_QUIESCE_IN_PROGRESS; }

bool ParseState(const std::string& text, int& state) {
    if (text.empty()) return false;
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (*end != '\0' || value < 0 || value > 0xFFFF) return false;
    state = int(value);
    return true;
}

constexpr int kDefaultWaitSeconds = 300;
constexpr int kDefaultIntervalSeconds = 10;

}  // namespace

int IBMSVCSnapshot::CountTargetHostMappings() {
    static const char* const kLabel = "IBMSVCSnapshot::CountTargetHostMappings";
    Session session(*this, kLabel);
    if (!session.connected()) return -1;
    std::string path = m_TargetDevPath;
    if (path.empty()) {
        const int found = FindIBMSVCVolObjPathByUUID(m_Conn, m_TargetDev, m_SystemName, path);
        // A target that is gone is seen by no host.
        if (found == 0) return 0;
        if (found < 0) return -1;
    }
    Pegasus::Array<Pegasus::CIMObjectPath> controllers;
    Pegasus::CIMObjectPath volume;
    if (path.empty() || !ParseInstancePath(path, volume) || !GetVolCtlrPaths(m_Conn, volume, controllers)) return -1;
    return int(controllers.size());
}

bool IBMSVCSnapshot::TargetHasNoHostMappings(const char* label) {
    const std::string shown = m_TargetDev.empty() ? m_TargetDevPath : m_TargetDev;
    const int mappings = CountTargetHostMappings();
    if (mappings < 0) {
        setErrorMsg(650006, formatText("%s: Device %s not deleted, its host mappings could not be checked\n", label,
                                       shown.c_str()));
        return false;
    }
    if (mappings > 0) {
        setErrorMsg(650006, formatText("%s: Device %s delete failed, Host mappings found\n", label, shown.c_str()));
        return false;
    }
    return true;
}

int IBMSVCSnapshot::StopWaitLimits::maxSleeps() const {
    if (totalSeconds < 1 || intervalSeconds < 1) return 0;
    return (totalSeconds + intervalSeconds - 1) / intervalSeconds;
}

IBMSVCSnapshot::StopWaitLimits IBMSVCSnapshot::DependentStopWait(bool wait) {
    StopWaitLimits limits;
    limits.totalSeconds =
        ZqSmisSettings::GetHostModuleInt("IBMSVC_DETACH_STOP_WAIT_SECS", wait ? kDefaultWaitSeconds : 0);
    limits.intervalSeconds =
        ZqSmisSettings::GetHostModuleInt("IBMSVC_DETACH_STOP_WAIT_INTERVAL", wait ? kDefaultIntervalSeconds : 0);
    // A positive wait never polls without pause.
    if (limits.totalSeconds > 0 && limits.intervalSeconds < 1) limits.intervalSeconds = kDefaultIntervalSeconds;
    return limits;
}

int IBMSVCSnapshot::DeleteDependentSnaps() {
    DependentRemoval removal;
    if (!BeginDependentRemoval(removal)) return 0;
    const StopWaitLimits limits = DependentStopWait(removal.waits);
    PollDependentRemoval(removal);
    for (int sleeps = 0; removal.seen == StopSeen::Stopping && !removal.failed && sleeps < limits.maxSleeps();
         ++sleeps) {
        TraceStopWaiting(limits.intervalSeconds);
        GotoSleep(limits.intervalSeconds * 1000);
        PollDependentRemoval(removal);
    }
    return FinishDependentRemoval(removal);
}

bool IBMSVCSnapshot::BeginDependentRemoval(DependentRemoval& removal) {
    static const char* const kLabel = "IBMSVCSnapshot::DeleteDependentSnaps";
    removal = DependentRemoval();
    ClearLastError();
    if (m_SystemName.empty() || m_SourceDev.empty() || m_SourceDevPath.empty() || m_SyncPath.empty() ||
        !HasTarget()) {
        DEBUG_TRACE(kLabel, "Invalid Parameters\n");
        DEBUG_TRACE(kLabel, "Dumping Parameters\n");
        DEBUG_TRACE(kLabel, "SystemName = %s, sourceDev = %s, sourceDevPath = %s, SyncPath = %s\n",
                    m_SystemName.c_str(), m_SourceDev.c_str(), m_SourceDevPath.c_str(), m_SyncPath.c_str());
        return false;
    }
    try {
        // A host disk whose data would no longer be valid: touch nothing.
        if (!TargetHasNoHostMappings(kLabel)) return false;

        removal.name = MappingProperty("ElementName");
        removal.marked = removal.name.find(kToBeDeleted) != std::string::npos;
        // A marked mapping that is prepared or copying was never stopped (the
        // job of its stop did not end): it is stopped again.
        int state = -1;
        const bool restop = removal.marked && ParseState(MappingProperty("SyncState"), state) &&
                            (state == SYNC_STATE_PREPARED || state == SYNC_STATE_RESYNC_IN_PROGRESS);
        if (!removal.marked || restop)
            removal.stopAccepted = SnapSyncOp(SYNC_OP_STOP, false, false, true) == ZQSO::SNAP_STATUS_SNAP_STARTED;
        removal.waits = !removal.marked || restop;
        removal.going = true;
    } catch (...) {
        TraceCaughtException(*this, kLabel, ZQ_SOURCE_FILE, __LINE__);
        m_Conn.DisconnectCimom();
    }
    return removal.going;
}

void IBMSVCSnapshot::PollDependentRemoval(DependentRemoval& removal) {
    static const char* const kLabel = "IBMSVCSnapshot::DeleteDependentSnaps";
    if (!removal.going || removal.failed) return;
    try {
        removal.seen = PollStop(*this);
    } catch (...) {
        TraceCaughtException(*this, kLabel, ZQ_SOURCE_FILE, __LINE__);
        m_Conn.DisconnectCimom();
        removal.failed = true;
    }
}

void IBMSVCSnapshot::TraceStopWaiting(int seconds) {
    DEBUG_TRACE("IBMSVCSnapshot::WaitDetachAndDelete", "Stop still in progress, waiting %d seconds", seconds);
}

int IBMSVCSnapshot::FinishDependentRemoval(DependentRemoval& removal) {
    static const char* const kLabel = "IBMSVCSnapshot::DeleteDependentSnaps";
    if (!removal.going || removal.failed) return 0;
    try {
        const int r = DeleteAfterStop(*this, removal.seen);
        if (r == 0) return 1;
        if (r != 1 || removal.marked) return 0;
        const std::string& name = removal.name;
        if (!removal.stopAccepted || name.empty()) {
            // The next delete stops it again.
            DEBUG_TRACE(kLabel, "Mapping [%s] of the Source device [%s] was not stopped, left unmarked", name.c_str(),
                        m_SourceDev.c_str());
            return 0;
        }
        const std::string newName = name + kToBeDeleted;
        std::map<std::string, std::string> args{{"syncPath", m_SyncPath}, {"elementName", newName}, {"force", "FALSE"}};
        if (setElementNameForMapping(m_Conn, args) != 0) {
            DEBUG_TRACE_NORMAL(kLabel, "Failed to update the SyncPath Name to [%s]", newName.c_str());
            return 0;
        }
        DEBUG_TRACE_NORMAL(kLabel,
                           "Updated the SyncPath Name to [%s] as the mapping for the Source device [%s] is still in "
                           "stopping state.",
                           newName.c_str(), m_SourceDev.c_str());
        if (SetSnapObjectProperty(m_TargetDevPath, "ElementName", newName) != 0)
            DEBUG_TRACE_NORMAL(kLabel, "Failed to update the Target Device Label Name to [%s]", newName.c_str());
        else
            DEBUG_TRACE_NORMAL(kLabel,
                               "Updated the Target device Name to [%s] as the mapping for the Source device [%s] is "
                               "still in stopping state.",
                               newName.c_str(), m_SourceDev.c_str());
    } catch (...) {
        TraceCaughtException(*this, kLabel, ZQ_SOURCE_FILE, __LINE__);
        m_Conn.DisconnectCimom();
    }
    return 0;
}

IBMSVCSnapshot::StopSeen IBMSVCSnapshot::PollStop(IBMSVCSnapshot& snap) {
    static const char* const kLabel = "IBMSVCSnapshot::WaitDetachAndDelete";
    // The mapping is read through its path. Only when that fails does the
    // target's lookup tell whether the mapping is gone.
    int state = -1;
    int r = -1;
    if (!snap.m_SyncPath.empty()) {
        int percent = -1;
        r = snap.GetSyncState(state, percent);
    }
    if (r != 0) {
        r = snap.GetSyncPathFromTarget();
        if (r == 1) {
            DEBUG_TRACE(kLabel, "FlashCopy deleted as autodelete is enabled");
            return StopSeen::Gone;
        }
        // A state that cannot be read is no proof of anything: read it again.
        if (r != 0) {
            DEBUG_TRACE(kLabel, "Mapping of the target [%s] could not be read", snap.m_TargetDev.c_str());
            return StopSeen::Stopping;
        }
        if (!ParseState(snap.MappingProperty("SyncState"), state)) state = -1;
    }
    if (state < 0) {
        DEBUG_TRACE(kLabel, "Sync state of [%s] could not be read", snap.m_SyncPath.c_str());
        return StopSeen::Stopping;
    }
    DEBUG_TRACE(kLabel, "Sync state [%d]", state);
    if (IsStopped(state)) {
        DEBUG_TRACE(kLabel, "Stop completed");
        return StopSeen::Stopped;
    }
    if (IsStopping(state)) return StopSeen::Stopping;
    DEBUG_TRACE(kLabel, " Incorrect state [%d]", state);
    return StopSeen::Other;
}

int IBMSVCSnapshot::DeleteAfterStop(IBMSVCSnapshot& snap, StopSeen seen) {
    static const char* const kLabel = "IBMSVCSnapshot::WaitDetachAndDelete";
    if (seen == StopSeen::Stopping || seen == StopSeen::Other) return 1;
    // The mapping is gone with its autodelete: only the target is left.
    if (seen == StopSeen::Stopped) snap.DetachSnap();
    if (snap.SnapDelete() == ZQSO::SNAP_STATUS_DELETED) {
        DEBUG_TRACE(kLabel, "Successfully deleted the device %s", snap.m_TargetDev.c_str());
        return 0;
    }
    DEBUG_TRACE(kLabel, "Failed to delete the device %s", snap.m_TargetDev.c_str());
    return 2;
}

int IBMSVCSnapshot::WaitDetachAndDelete(IBMSVCSnapshot& snap, bool wait) {
    const StopWaitLimits limits = DependentStopWait(wait);
    StopSeen seen = PollStop(snap);
    for (int sleeps = 0; seen == StopSeen::Stopping && sleeps < limits.maxSleeps(); ++sleeps) {
        TraceStopWaiting(limits.intervalSeconds);
        GotoSleep(limits.intervalSeconds * 1000);
        seen = PollStop(snap);
    }
    return DeleteAfterStop(snap, seen);
}
