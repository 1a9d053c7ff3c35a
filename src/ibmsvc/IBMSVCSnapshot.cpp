// IBMSVCSnapshot: construction, attaching a target, synchronization
// operations, and the volume and array lookups.
#include "IBMSVCSnapshot.h"

#include <cctype>

#include "EvDebug.h"
#include "IBMSVCErrorMap.h"
#include "ZqSmisErrorTable.h"
#include "ZqSmisExceptionTrace.h"
#include "ZqSmisSettings.h"
#include "cim/Exception.h"

using zq::platform::formatText;

namespace {

bool IsDecimal(const std::string& text) {
    if (text.empty()) return false;
    for (char c : text)
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    return true;
}

}  // namespace

IBMSVCSnapshot::IBMSVCSnapshot() {
    SetIBMSVCErrorTable(IBMSVCSmisZqErrorMap);
    SetSMISErrorTable(ETable);
}

int IBMSVCSnapshot::AttachCloneVolume(std::string mode) {
    static const char* const kLabel = "Snapshot::AttachCloneVolume";
    ClearLastError();
    // A label read as a number would turn the copy into a full background copy.
    if (m_SystemName.empty() || m_SourceDev.empty() || !HasTarget() || !IsDecimal(mode)) {
        DEBUG_TRACE(kLabel, "Invalid Parameters\n");
        return 0;
    }
    Session session(*this, kLabel);
    if (!session.connected()) return 0;
    DEBUG_TRACE_NORMAL(kLabel, "Going to perform attach replica operation\n");
    std::vector<std::string> args{m_SystemName, mode, SourceRef(), TargetRef()};
    m_SyncPath.clear();
    const int r = AttachModRep(m_Conn, args, m_SyncPath);
    if (r != 0) {
        m_SyncPath.clear();
        const int code = GetVendorSmisErrorCode(r);
        setErrorMsg(code == -1 ? 650012 : code, formatText("%s: Failed to attach replica", kLabel));
        return 0;
    }
    DEBUG_TRACE_NORMAL(kLabel, "Attach Replica success");
    return 1;
}

int IBMSVCSnapshot::SnapSyncOp(unsigned short operation, bool noWait, bool restore) {
    static const char* const kLabel = "Snapshot::SnapSyncOp";
    ClearLastError();
    if ((m_SnapOp != 4 && m_SnapOp != 5) || m_SystemName.empty() || m_SourceDev.empty() || !HasTarget()) {
        DEBUG_TRACE(kLabel, "Invalid Parameters\n");
        m_SnapStatus = ZQSO::SNAP_STATUS_NOT_RESTORED;
        return m_SnapStatus;
    }
    m_SnapStatus = ZQSO::SNAP_STATUS_SNAP_FAILED;
    Session session(*this, kLabel, false);
    if (!session.connected()) {
        DEBUG_TRACE(kLabel, "Connection to CIMOM failed\n");
        return m_SnapStatus;
    }
    std::vector<std::string> args{m_SystemName, std::to_string(operation), SourceRef(), TargetRef()};
    if (restore) args.push_back("Restore");
    if (FaultRetryEnabled()) {
        std::vector<std::string> marker = args;
        marker[1] = "55";
        ThrowAwayCall(kLabel, [&] { ModifySync(m_Conn, marker, noWait); });
    }
    if (ModifySync(m_Conn, args, noWait) != 0) return m_SnapStatus;
    DEBUG_TRACE_NORMAL(kLabel, "Success\n");
    m_SnapStatus = ZQSO::SNAP_STATUS_SNAP_STARTED;
    return m_SnapStatus;
}

int IBMSVCSnapshot::GetSyncState(int& state, int& percent) {
    static const char* const kLabel = "IBMSVCSnapshot::GetSyncState";
    state = -1;
    percent = -1;
    Pegasus::CIMObjectPath sync;
    if (!m_SyncPath.empty()) {
        if (!ParseInstancePath(m_SyncPath, sync)) return -1;
    } else {
        Pegasus::CIMObjectPath source, target;
        if (!ParseInstancePath(m_SourceDevPath, source) || !ParseInstancePath(m_TargetDevPath, target)) {
            DEBUG_TRACE(kLabel, "Invalid Parameters\n");
            return -1;
        }
        sync = GetSyncPath(m_Conn, m_Conn.GetNameSpace().getString(), m_SystemName, source, target);
        if (sync.getClassName().isNull()) return -1;
    }
    Session session(*this, kLabel);
    if (!session.connected()) return -1;
    try {
        const Pegasus::CIMInstance mapping = m_Conn.GetInstance(sync);
        std::string text = GetCIMProp(mapping, "SyncState");
        if (IsDecimal(text) && text.size() < 6) state = std::stoi(text);
        text = GetCIMProp(mapping, "PercentSynced");
        if (IsDecimal(text) && text.size() < 6) percent = std::stoi(text);
        DEBUG_TRACE_NORMAL(kLabel, "Sync state [%d] PercentSynced [%d] of [%s]", state, percent,
                           sync.toString().c_str());
        return 0;
    } catch (const Pegasus::CIMException& e) {
        if (e.getCode() == Pegasus::CIM_ERR_NOT_FOUND) {
            DEBUG_TRACE_NORMAL(kLabel, "Mapping [%s] not found", sync.toString().c_str());
            return 1;
        }
        TraceCaughtException(*this, kLabel, ZQ_SOURCE_FILE, __LINE__);
    } catch (...) {
        TraceCaughtException(*this, kLabel, ZQ_SOURCE_FILE, __LINE__);
    }
    return -1;
}

std::string IBMSVCSnapshot::GetSVCVolObjectPathByUUID(std::string uuid) {
    std::string path;
    FindSVCVolObjectPathByUUID(uuid, path);
    return path;
}

int IBMSVCSnapshot::FindSVCVolObjectPathByUUID(const std::string& uuid, std::string& path) {
    static const char* const kLabel = "IBMSVCSnapshot::GetSVCVolObjectPathByUUID";
    path.clear();
    if (m_SystemName.empty() || uuid.empty()) {
        DEBUG_TRACE(kLabel, "Invalid Parameters\n");
        return -1;
    }
    Session session(*this, kLabel);
    if (!session.connected()) return -1;
    return FindIBMSVCVolObjPathByUUID(m_Conn, uuid, m_SystemName, path);
}

int IBMSVCSnapshot::CheckSVCArrayExistence() {
    static const char* const kLabel = "IBMSVCSnapshot::CheckSVCArrayExistence";
    ClearLastError();
    if (m_SystemName.empty() || m_SourceDev.empty()) return 1;
    Session session(*this, kLabel);
    if (!session.connected()) return 1;
    if (GetSystemObjPathString(m_Conn, m_SystemName).empty()) return 1;

    int exists = -1;
    if (m_SourceDev.find("IBMTSSVC") != std::string::npos) {
        // A path carries no unique id to compare with.
        exists = CheckInstanceExistence(m_Conn, m_SystemName, m_SourceDev, std::string());
    } else {
        const bool cached = ZqSmisSettings::VolumeCacheEnabled();
        std::string path;
        if (!cached) {
            path = GetIBMSVCVolObjPathByUUID(m_Conn, m_SourceDev, m_SystemName);
            if (!path.empty()) {
                DEBUG_TRACE_NORMAL(kLabel, "Found source volume [%s] using optmized IBMTSSVC_ConciseVolume",
                                   m_SourceDev.c_str());
            } else {
                DEBUG_TRACE_NORMAL(kLabel,
                                   "Can not find source volume [%s] using optmized IBMTSSVC_ConciseVolume, falling "
                                   "back to regular",
                                   m_SourceDev.c_str());
            }
        }
        if (path.empty()) path = GetVolObjPathByUUID(m_Conn, m_SourceDev, "");
        if (path.empty())
            DEBUG_TRACE(kLabel, "Can not find source volume [%s] on system [%s]", m_SourceDev.c_str(),
                        m_SystemName.c_str());
        exists = path.empty() ? 0 : 1;
    }
    switch (exists) {
        case 1:
            return 0;
        case 0:
            return 2;
        default:
            return 1;
    }
}
