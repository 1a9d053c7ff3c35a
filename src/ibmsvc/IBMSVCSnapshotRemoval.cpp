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

int IBMSVCSnapshot::DeleteDependentSnaps() {
    static const char* const kLabel = "IBMSVCSnapshot::DeleteDependentSnaps";
    ClearLastError();
    if (m_SystemName.empty() || m_SourceDev.empty() || m_SourceDevPath.empty() || m_SyncPath.empty() ||
        !HasTarget()) {
        DEBUG_TRACE(kLabel, "Invalid Parameters\n");
        DEBUG_TRACE(kLabel, "Dumping Parameters\n");
        DEBUG_TRACE(kLabel, "SystemName = %s, sourceDev = %s, sourceDevPath = %s, SyncPath = %s\n",
                    m_SystemName.c_str(), m_SourceDev.c_str(), m_SourceDevPath.c_str(), m_SyncPath.c_str());
        return 0;
    }
    try {
        // A host disk whose data would no longer be valid: touch nothing.
        if (!TargetHasNoHostMappings(kLabel)) return 0;

        const std::string name = MappingProperty("ElementName");
        const bool marked = name.find(kToBeDeleted) != std::string::npos;
        // A marked mapping that is prepared or copying was never stopped (the
        // job of its stop did not end): it is stopped again.
        int state = -1;
        const bool restop = marked && ParseState(MappingProperty("SyncState"), state) &&
                            (state == SYNC_STATE_PREPARED || state == SYNC_STATE_RESYNC_IN_PROGRESS);
        bool stopAccepted = false;
        if (!marked || restop)
            stopAccepted = SnapSyncOp(SYNC_OP_STOP, false, false, true) == ZQSO::SNAP_STATUS_SNAP_STARTED;

        const int r = WaitDetachAndDelete(*this, !marked || restop);
        if (r == 0) return 1;
        if (r != 1 || marked) return 0;
        if (!stopAccepted || name.empty()) {
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

int IBMSVCSnapshot::WaitDetachAndDelete(IBMSVCSnapshot& snap, bool wait) {
    static const char* const kLabel = "IBMSVCSnapshot::WaitDetachAndDelete";
    int total = ZqSmisSettings::GetHostModuleInt("IBMSVC_DETACH_STOP_WAIT_SECS", wait ? kDefaultWaitSeconds : 0);
    int interval =
        ZqSmisSettings::GetHostModuleInt("IBMSVC_DETACH_STOP_WAIT_INTERVAL", wait ? kDefaultIntervalSeconds : 0);
    // A positive wait never polls without pause.
    if (total > 0 && interval < 1) interval = kDefaultIntervalSeconds;

    enum class Seen { Stopping, Stopped, Gone, Other };
    int state = -1;
    auto poll = [&]() {
        // The mapping is read through its path. Only when that fails does
        // the target's lookup tell whether the mapping is gone.
        int r = -1;
        if (!snap.m_SyncPath.empty()) {
            int percent = -1;
            r = snap.GetSyncState(state, percent);
        }
        if (r != 0) {
            r = snap.GetSyncPathFromTarget();
            if (r == 1) {
                DEBUG_TRACE(kLabel, "FlashCopy deleted as autodelete is enabled");
                return Seen::Gone;
            }
            // A state that cannot be read is no proof of anything: read it again.
            if (r != 0) {
                DEBUG_TRACE(kLabel, "Mapping of the target [%s] could not be read", snap.m_TargetDev.c_str());
                return Seen::Stopping;
            }
            if (!ParseState(snap.MappingProperty("SyncState"), state)) state = -1;
        }
        if (state < 0) {
            DEBUG_TRACE(kLabel, "Sync state of [%s] could not be read", snap.m_SyncPath.c_str());
            return Seen::Stopping;
        }
        DEBUG_TRACE(kLabel, "Sync state [%d]", state);
        if (IsStopped(state)) {
            DEBUG_TRACE(kLabel, "Stop completed");
            return Seen::Stopped;
        }
        if (IsStopping(state)) return Seen::Stopping;
        DEBUG_TRACE(kLabel, " Incorrect state [%d]", state);
        return Seen::Other;
    };

    Seen seen = poll();
    for (int remaining = total; seen == Seen::Stopping && remaining >= 1 && interval >= 1; remaining -= interval) {
        DEBUG_TRACE(kLabel, "Stop still in progress, waiting %d seconds", interval);
        GotoSleep(interval * 1000);
        seen = poll();
    }
    if (seen == Seen::Stopping || seen == Seen::Other) return 1;

    // The mapping is gone with its autodelete: only the target is left.
    if (seen == Seen::Stopped) snap.DetachSnap();
    if (snap.SnapDelete() == ZQSO::SNAP_STATUS_DELETED) {
        DEBUG_TRACE(kLabel, "Successfully deleted the device %s", snap.m_TargetDev.c_str());
        return 0;
    }
    DEBUG_TRACE(kLabel, "Failed to delete the device %s", snap.m_TargetDev.c_str());
    return 2;
}
