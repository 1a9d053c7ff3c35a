// Snapshot: the operations that make and restore copies: preparing a
// replica, creating and attaching a clone volume, creating a snapshot,
// restoring and synchronizing, and the support and array checks.
#include <cctype>

#include "EvDebug.h"
#include "Snapshot.h"
#include "ZqSmisExceptionTrace.h"

using zq::platform::formatText;

namespace ZQ_SMIS_SNAP {

namespace {

bool Contains(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

bool IsCopyOperation(int op) { return op == 4 || op == 5; }

bool IsDecimal(const std::string& text) {
    if (text.empty()) return false;
    for (char c : text)
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    return true;
}

// Failure messages of volume creation are cut at this length.
constexpr size_t kMaxMessage = 511;

}  // namespace

int Snapshot::UnprepareSnap() { return 0; }

int Snapshot::PrepareSnap() {
    static const char* const kLabel = "Snapshot::PrepareSnap";
    ClearLastError();
    m_PrepareResult.clear();
    if (m_SystemName.empty() || m_SnapName.empty() || m_SourceDev.empty() || !IsCopyOperation(m_SnapOp)) {
        DEBUG_TRACE(kLabel, "Invalid Parameters\n");
        DEBUG_TRACE(kLabel, "Dumping Parameters\n");
        DEBUG_TRACE(kLabel, "systemName = %s, snapName = %s, sourceDev = %s,\t\t\tsnapOp = %d\n", m_SystemName.c_str(),
                    m_SnapName.c_str(), m_SourceDev.c_str(), m_SnapOp);
        m_SnapStatus = ZQSO::SNAP_STATUS_PREPARE_FAILED;
        return m_SnapStatus;
    }
    m_SnapStatus = ZQSO::SNAP_STATUS_PREPARE_FAILED;
    Session session(*this, kLabel);
    if (!session.connected()) return m_SnapStatus;
    try {
        std::string pool;
        if (!m_DiskGroupName.empty()) pool = GetDGByName(m_Conn, m_SystemName, m_DiskGroupName);
        const std::string vendor = GetVendorName();
        const bool svc = Contains(vendor, "IBMTSSVC");
        const bool poolChecked = m_SnapOp == 5 || svc || Contains(vendor, "LSI") || Contains(vendor, "DCIM");
        if (poolChecked && m_DiskGroupRequired && !m_DiskGroupName.empty() && pool.empty()) {
            setErrorMsg(650013, formatText("%s: Can not find Disk Group [%s] for Snap/Clone operation", kLabel,
                                           m_DiskGroupName.c_str()));
            return m_SnapStatus;
        }

        if (svc) {
            m_SourceDevPath = GetIBMSVCVolObjPathByUUID(m_Conn, m_SourceDev, m_SystemName);
            if (!m_SourceDevPath.empty()) {
                DEBUG_TRACE_NORMAL(kLabel, "Found source volume [%s] using optmized IBMTSSVC_ConciseVolume",
                                   m_SourceDev.c_str());
            } else {
                DEBUG_TRACE(kLabel,
                            "Can not find source volume [%s] using optmized IBMTSSVC_ConciseVolume, falling back to "
                            "regular",
                            m_SourceDev.c_str());
                m_SourceDevPath = GetVolObjPathByUUID(m_Conn, m_SourceDev, m_SystemName);
            }
        } else {
            m_SourceDevPath = GetVolObjPathByUUID(m_Conn, m_SourceDev, Contains(vendor, "HPEVA") ? m_SystemName : "");
        }
        if (m_SourceDevPath.empty()) {
            const std::string message = formatText("%s: Can not find source volume %s\n", kLabel, m_SourceDev.c_str());
            if (m_Conn.IsErrorReported())
                DEBUG_TRACE(kLabel, "%s", message.c_str());
            else
                setErrorMsg(650008, message);
            return m_SnapStatus;
        }
        m_SourceFriendlyName = GetCIMProp(m_Conn, m_SourceDevPath, "ElementName");
        DEBUG_TRACE_NORMAL(kLabel, "Source Device friendly name: %s\n", m_SourceFriendlyName.c_str());

        std::vector<std::string> request{m_SystemName, m_SnapName, std::to_string(m_SnapOp), m_SourceDevPath,
                                         m_PrepareOption.empty() ? "null" : m_PrepareOption};
        const bool clone = m_SnapOp == 5;
        if (m_DiskGroupName.empty()) {
            request.push_back("null");
            if (clone || svc) DEBUG_TRACE_NORMAL(kLabel, "Going to use Default Disk Group for snap/clone operation");
        } else if (!pool.empty()) {
            request.push_back(m_DiskGroupName);
            if (clone)
                DEBUG_TRACE_NORMAL(kLabel, "Going to use Disk Group [%s] for clone operation", m_DiskGroupName.c_str());
            else
                DEBUG_TRACE_NORMAL(kLabel, "Uses Disk Group [%s] for snap operation, if applicable",
                                   m_DiskGroupName.c_str());
        } else {
            request.push_back("null");
            DEBUG_TRACE_NORMAL(kLabel, "Supplied DiskGroup [%s] not found, Going to use Default Disk Group for %s",
                               m_DiskGroupName.c_str(), clone ? "clone operation" : "Snap operation");
        }

        if (!PrepareCreateReplica(m_Conn, request, m_PrepareResult) || m_PrepareResult.empty()) {
            DEBUG_TRACE(kLabel, "Failed\n");
            return m_SnapStatus;
        }
        DEBUG_TRACE_NORMAL(kLabel, "Success\n");
        m_ServicePath = m_PrepareResult[0];
        if (m_PrepareResult.size() > 4 && !Contains(m_PrepareResult[4], "null"))
            m_TargetSettingPath = m_PrepareResult[4];
        if (m_PrepareResult.size() > 5 && !Contains(m_PrepareResult[5], "null")) m_TargetDGPath = m_PrepareResult[5];
        m_SnapStatus = ZQSO::SNAP_STATUS_PREPARED;
    } catch (...) {
        TraceCaughtException(*this, kLabel, ZQ_SOURCE_FILE, __LINE__);
    }
    return m_SnapStatus;
}

int Snapshot::CreateCloneVolume() {
    static const char* const kLabel = "Snapshot::CreateCloneVolume";
    ClearLastError();
    m_CreateVolumeRetVal = 0;
    if (m_SystemName.empty() || m_SnapName.empty() || m_SourceDev.empty()) {
        DEBUG_TRACE(kLabel, "Invalid Parameters\n");
        DEBUG_TRACE(kLabel, "Dumping Parameters\n");
        DEBUG_TRACE(kLabel, "systemName = %s, NewVolName = %s, sourceDev = %s", m_SystemName.c_str(),
                    m_SnapName.c_str(), m_SourceDev.c_str());
        return 0;
    }
    Session session(*this, kLabel);
    if (!session.connected()) return 0;
    try {
        std::string pool;
        if (!m_DiskGroupName.empty()) {
            pool = GetDGByName(m_Conn, m_SystemName, m_DiskGroupName);
            if (pool.empty() && m_DiskGroupRequired) {
                setErrorMsg(5, formatText("%s: Can not find Disk Group [%s] for Snap/Clone operation", kLabel,
                                          m_DiskGroupName.c_str()));
                return 0;
            }
            if (pool.empty())
                DEBUG_TRACE_NORMAL(kLabel,
                                   "Supplied DiskGroup [%s] not found, Going to use Default Disk Group for Snap/Clone "
                                   "operation",
                                   m_DiskGroupName.c_str());
        }
        DEBUG_TRACE_NORMAL(kLabel, "Going to create new volume to perform clone operation\n");
        const bool svc = Contains(GetVendorName(), "IBMTSSVC");
        std::vector<std::string> request{m_SystemName, m_SnapName, pool.empty() ? "null" : m_DiskGroupName,
                                         svc ? std::to_string(m_SnapOp) : "0"};
        std::vector<std::string> creation;
        if (CreateStorageVolParams(m_Conn, request, SourceRef(), creation) != 0) {
            setErrorMsg(650011, formatText("%s: Failed to create new storage volume parameters\n", kLabel));
            return 0;
        }

        // The new volume is this operation's result alone.
        m_TargetDevPath.clear();
        m_TargetDev.clear();
        if (FaultRetryEnabled()) {
            std::vector<std::string> marker = creation;
            if (marker.size() > 1) marker[1].clear();
            if (marker.size() > 3) marker[3] = "0";
            std::string ignored;
            ThrowAwayCall(kLabel, [&] { CreateStorageVolume(m_Conn, marker, ignored); });
        }
        const int r = CreateStorageVolume(m_Conn, creation, m_TargetDevPath);
        m_CreateVolumeRetVal = uint32_t(r);
        if (r != 0) {
            std::string message;
            if (svc) {
                const std::string text = GetErrorMessage(unsigned(r), "CreateOrModifyElementFromStoragePool");
                message = formatText("%s: Failed to create new storage volume[%u: %s]\n", kLabel, unsigned(r),
                                     text.c_str());
            } else {
                message = formatText("%s: Failed to create new storage volume\n", kLabel);
            }
            if (message.size() > kMaxMessage) message.resize(kMaxMessage);
            m_TargetDevPath.clear();
            setErrorMsg(650011, message);
            return 0;
        }
        if (!m_TargetDevPath.empty()) m_TargetDev = GetCIMProp(m_Conn, m_TargetDevPath, "Name");
        if (m_TargetDevPath.empty() || m_TargetDev.empty()) {
            // A success without the volume is a job counted as done while it was not.
            setErrorMsg(650011,
                        formatText("%s: Failed to create new storage volume, no volume was returned\n", kLabel));
            return 0;
        }
        return 1;
    } catch (...) {
        TraceCaughtException(*this, kLabel, ZQ_SOURCE_FILE, __LINE__);
    }
    return 0;
}

int Snapshot::AttachCloneVolume(std::string mode) {
    static const char* const kLabel = "Snapshot::AttachCloneVolume";
    ClearLastError();
    if (m_SystemName.empty() || m_SourceDev.empty() || !HasTarget() || !IsDecimal(mode)) {
        DEBUG_TRACE(kLabel, "Invalid Parameters\n");
        return 0;
    }
    DEBUG_TRACE_NORMAL(kLabel, "Going to perform attach replica operation\n");
    Session session(*this, kLabel);
    if (!session.connected()) return 0;
    std::vector<std::string> args{m_SystemName, mode, m_SourceDev, m_TargetDev.empty() ? m_TargetDevPath : m_TargetDev};
    if (FaultRetryEnabled()) {
        std::vector<std::string> marker = args;
        marker[1] = "55";
        marker[3] = marker[2];
        std::string ignored;
        ThrowAwayCall(kLabel, [&] { AttachModRep(m_Conn, marker, ignored); });
    }
    m_SyncPath.clear();
    const int r = AttachModRep(m_Conn, args, m_SyncPath);
    if (r != 0) {
        m_SyncPath.clear();
        const int code = GetVendorSmisErrorCode(r);
        setErrorMsg(code == -1 ? 650012 : code, formatText("%s: Failed to attach replica", kLabel));
        return 0;
    }
    DEBUG_TRACE_NORMAL(kLabel, "Attach Replica success[%s]", m_SyncPath.c_str());
    return 1;
}

int Snapshot::SnapCreate() {
    static const char* const kLabel = "Snapshot::SnapCreate";
    ClearLastError();
    if (m_SnapStatus != ZQSO::SNAP_STATUS_PREPARED) {
        DEBUG_TRACE(kLabel, "Device not ready for snapshot\n");
        m_SnapStatus = ZQSO::SNAP_STATUS_SNAP_FAILED;
        return m_SnapStatus;
    }
    DEBUG_TRACE_NORMAL(kLabel, "Creating snapshot\n");
    static const char* const kDump =
        "servicePath = %s, snapName = %s, sourceDevPath = %s,\t\t\tTargetDG = %s, snapOp = %d\n";
    m_SnapStatus = ZQSO::SNAP_STATUS_SNAP_FAILED;
    if (m_ServicePath.empty() || m_SnapName.empty() || m_SourceDevPath.empty() || !IsCopyOperation(m_SnapOp)) {
        DEBUG_TRACE(kLabel, "Invalid Parameters\n");
        DEBUG_TRACE(kLabel, "Dumping Parameters\n");
        DEBUG_TRACE(kLabel, kDump, m_ServicePath.c_str(), m_SnapName.c_str(), m_SourceDevPath.c_str(),
                    m_TargetDGPath.c_str(), m_SnapOp);
        return m_SnapStatus;
    }
    DEBUG_TRACE_NORMAL(kLabel, kDump, m_ServicePath.c_str(), m_SnapName.c_str(), m_SourceDevPath.c_str(),
                       m_TargetDGPath.c_str(), m_SnapOp);
    Session session(*this, kLabel);
    if (!session.connected()) return m_SnapStatus;
    if (!m_SourceFriendlyName.empty())
        DEBUG_TRACE_NORMAL(kLabel, "Source Device friendly name: %s\n", m_SourceFriendlyName.c_str());

    std::vector<std::string> resolved{m_ServicePath, m_SnapName, std::to_string(m_SnapOp), m_SourceDevPath};
    if (m_TargetSettingPath.empty()) {
        resolved.push_back("null");
    } else {
        DEBUG_TRACE_NORMAL(kLabel, "pushing m_TargetSettingPath=  %s\n", m_TargetSettingPath.c_str());
        resolved.push_back(m_TargetSettingPath);
    }
    if (!m_TargetDGPath.empty()) {
        DEBUG_TRACE_NORMAL(kLabel, "pushing m_TargetDGPath=  %s\n", m_TargetDGPath.c_str());
        resolved.push_back(m_TargetDGPath);
    }
    if (FaultRetryEnabled()) {
        std::vector<std::string> marker = resolved;
        marker[2] = "15";
        std::string ignored;
        ThrowAwayCall(kLabel, [&] { CreateReplica(m_Conn, marker, ignored); });
    }
    // The new target is this operation's result alone.
    m_TargetDevPath.clear();
    m_TargetDev.clear();
    int r = int(CreateReplica(m_Conn, resolved, m_TargetDevPath));
    m_TargetFriendlyName.clear();
    if (!m_TargetDevPath.empty()) {
        if (ZQProviderVendor::GetVendorIdByClassName(GetVendorName()) == VENDOR_3PAR) {
            Pegasus::CIMObjectPath target;
            if (ParseInstancePath(m_TargetDevPath, target)) m_TargetDev = GetPropByObjPath(target, "DeviceID");
        } else {
            m_TargetDev = GetCIMProp(m_Conn, m_TargetDevPath, "Name");
        }
        DEBUG_TRACE_NORMAL(kLabel, "Target Device UUID %s\n", m_TargetDev.c_str());
    }
    if (r != 0) {
        r = GetVendorSmisErrorCode(r);
        m_ErrorCode = r;
    }
    if (r == 0) {
        DEBUG_TRACE_NORMAL(kLabel, "Success\n");
        m_SnapStatus = ZQSO::SNAP_STATUS_SNAP_STARTED;
        return m_SnapStatus;
    }
    const std::string label = kLabel;
    if (m_SnapOp == 5 && (r == 650003 || r == 650005))
        setErrorMsg(650005, label + ": Clone Failed, previous clone still in progress or Snapshot may exist for the "
                                    "source lun");
    else if (r == 650002)
        setErrorMsg(650002, label + ": Snap Failed, snapshot/clone name already exists");
    else if ((m_SnapOp == 4 && r == 650010) || r == 650003)
        setErrorMsg(650010, label + ": Snap Failed, maximum number of snaps reached");
    else if (r == 650004)
        setErrorMsg(650004, label + ": Snap Failed, snapshot disk used as source disk");
    DEBUG_TRACE(kLabel, "Failed\n");
    return m_SnapStatus;
}

int Snapshot::SnapRestore(short) {
    static const char* const kLabel = "Snapshot::SnapRestore";
    ClearLastError();
    m_SnapStatus = ZQSO::SNAP_STATUS_NOT_RESTORED;
    if (m_SnapOp != 6 || m_SystemName.empty() || m_SourceDev.empty() || !HasTarget()) {
        DEBUG_TRACE(kLabel, "Invalid Parameters\n");
        return m_SnapStatus;
    }
    Session session(*this, kLabel);
    if (!session.connected()) return m_SnapStatus;
    const std::string sourceName = m_SourceDevPath.empty() ? "" : GetCIMProp(m_Conn, m_SourceDevPath, "ElementName");
    const std::string targetName = m_TargetDevPath.empty() ? "" : GetCIMProp(m_Conn, m_TargetDevPath, "ElementName");
    DEBUG_TRACE_NORMAL(kLabel, "source Device friendly name: %s\n", sourceName.c_str());
    DEBUG_TRACE_NORMAL(kLabel, "Target Device friendly name: %s\n", targetName.c_str());
    std::vector<std::string> args{m_SystemName, "5", SourceRef(), TargetRef()};
    if (FaultRetryEnabled()) {
        std::vector<std::string> marker = args;
        marker[1] = "55";
        ThrowAwayCall(kLabel, [&] { ModifySync(m_Conn, marker, false); });
    }
    if (ModifySync(m_Conn, args, false) != 0) return m_SnapStatus;
    DEBUG_TRACE_NORMAL(kLabel, "Success\n");
    m_SnapStatus = ZQSO::SNAP_STATUS_RESTORED;
    return m_SnapStatus;
}

int Snapshot::SnapSyncOp(unsigned short operation, bool noWait) {
    static const char* const kLabel = "Snapshot::SnapSyncOp";
    ClearLastError();
    if (!IsCopyOperation(m_SnapOp) || m_SystemName.empty() || m_SourceDev.empty() || !HasTarget()) {
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
    if (ZQProviderVendor::GetVendorIdByClassName(GetVendorName()) == VENDOR_3PAR) {
        DEBUG_TRACE(kLabel, "[3PAR Sync path] %s", m_SyncPath.c_str());
        args.push_back(m_SyncPath);
    }
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

int Snapshot::IsSupported(ZQSO::SNAP_TYPE type) {
    static const char* const kLabel = "Snapshot::IsSupported";
    ClearLastError();
    if (m_SystemName.empty()) {
        DEBUG_TRACE(kLabel, "Invalid Parameters\n");
        return 0;
    }
    const bool clone = type == ZQSO::SNAP_TYPE_CLONE;
    if (!clone && type != ZQSO::SNAP_TYPE_SNAPSHOT) return 0;
    Session session(*this, kLabel);
    if (!session.connected()) return 0;
    std::vector<std::string> args{m_SystemName, clone ? "5" : "4"};
    if (IsCopyTypeSupported(m_Conn, args) == 0) {
        DEBUG_TRACE_NORMAL(kLabel, clone ? "Copy type CLONE supported\n" : "Copy type SNAPSHOT supported\n");
        return 1;
    }
    DEBUG_TRACE_NORMAL(kLabel, clone ? "Copy type Clone NOT supported\n" : "Copy type Snapshot NOT supported\n");
    return 0;
}

int Snapshot::CheckArrayExistence() {
    static const char* const kLabel = "Snapshot::CheckArrayExistence";
    ClearLastError();
    if (m_SystemName.empty() || m_SourceDev.empty()) return 1;
    Session session(*this, kLabel);
    if (!session.connected()) return 1;
    if (GetSystemObjPathString(m_Conn, m_SystemName).empty()) return 1;
    // A path carries no unique id to compare with.
    Pegasus::CIMObjectPath path;
    const std::string verify = ParseInstancePath(m_SourceDev, path) ? std::string() : m_SourceDev;
    switch (CheckInstanceExistence(m_Conn, m_SystemName, m_SourceDev, verify)) {
        case 1:
            return 0;
        case 0:
            return 2;
        default:
            return 1;
    }
}

}  // namespace ZQ_SMIS_SNAP
