// Snapshot: operations on a copy that exists: its host mapping state,
// mapping and unmapping, existence, detach and delete, the synchronization
// lookups and single properties of any object.
#include "EvDebug.h"
#include "Snapshot.h"
#include "ZqSmisExceptionTrace.h"
#include "ZqSmisReturnValue.h"

using zq::platform::formatText;

namespace ZQ_SMIS_SNAP {

namespace {

bool Contains(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

}  // namespace

int Snapshot::IsSnapMapped() {
    static const char* const kLabel = "Snapshot::IsSnapMapped";
    ClearLastError();
    if (!HasTarget()) return 0;
    if (m_SystemName.empty() || m_InitiatorList.empty()) {
        DEBUG_TRACE(kLabel, "Invalid Parameters\n");
        return ZQSO::SNAP_STATUS_MAP_NOT_DETERMINED;
    }
    Session session(*this, kLabel);
    if (!session.connected()) return ZQSO::SNAP_STATUS_MAP_NOT_DETERMINED;
    const std::string notFound = formatText("%s: Device %s not found", kLabel, m_TargetDev.c_str());
    if (CheckInstanceExistence(m_Conn, m_SystemName, TargetRef(), m_TargetDev) == 0) {
        setErrorMsg(60542, notFound);
        return 0;
    }
    std::vector<std::string> args{m_SystemName, TargetRef(), m_InitiatorList};
    const int r = IsLunMapped(m_Conn, args);
    switch (r) {
        case 0:
            return ZQSO::SNAP_STATUS_MAPPED_THIS_HOST;
        case ZQ_SMIS_MAPPING_NOT_FOUND:
            DEBUG_TRACE(kLabel, "Device %s mapping not found\n", m_TargetDev.c_str());
            return ZQSO::SNAP_STATUS_NOT_MAPPED;
        case ZQ_SMIS_HOST_MAPPINGS_FOUND:
            DEBUG_TRACE_NORMAL(kLabel, "Device %s mapped to another host", m_TargetDev.c_str());
            return ZQSO::SNAP_STATUS_MAPPED_OTHER_HOST;
        case ZQ_SMIS_VOLUME_NOT_FOUND:
            setErrorMsg(60542, notFound);
            return 0;
        case 1:
            setErrorMsg(3, formatText("%s:SMIS API failure", kLabel));
            break;
        case ZQ_SMIS_OBJECT_NOT_FOUND:
            setErrorMsg(ZQ_SMIS_OBJECT_NOT_FOUND, "One or more parameter required by API is not found");
            break;
        default:
            DEBUG_TRACE(kLabel, "Device %s mapping state not known, answer %d", m_TargetDev.c_str(), r);
            break;
    }
    return ZQSO::SNAP_STATUS_MAP_NOT_DETERMINED;
}

int Snapshot::MapSnap() {
    static const char* const kLabel = "Snapshot::MapSnap";
    ClearLastError();
    if (m_SystemName.empty() || m_InitiatorList.empty() || m_MapParam == kUnset || !HasTarget()) {
        DEBUG_TRACE(kLabel, "Invalid Parameters\n");
        return 1;
    }
    Session session(*this, kLabel);
    if (!session.connected()) return 1;
    IdentifyTarget(kLabel);
    std::vector<std::string> args{m_SystemName, m_TargetDev, m_InitiatorList, "null", std::to_string(m_MapParam)};
    if (!m_MapExtra.empty()) args.push_back(m_MapExtra);
    if (FaultRetryEnabled()) {
        std::vector<std::string> marker = args;
        marker[4] = "23";
        ThrowAwayCall(kLabel, [&] { ExposePaths(m_Conn, marker); });
    }
    const int r = ExposePaths(m_Conn, args);
    if (r == 0) {
        DEBUG_TRACE_NORMAL(kLabel, "Device %s Mapping Success\n", m_TargetDev.c_str());
        return 0;
    }
    std::string message;
    if (r == int(SMIS_RET_EXPOSE_INVALID_INITIATOR)) {
        const bool iscsi =
            Contains(m_InitiatorList, "iqn") || Contains(m_InitiatorList, "eui") || Contains(m_InitiatorList, "naa");
        message = formatText(iscsi ? "Invalid Initiator port[s] %s supplied, please check iSCSI is supported with the "
                                     "Storage Array "
                                   : "Invalid Initiator port[s] %s supplied, please check FC is supported with the "
                                     "Storage Array ",
                             m_InitiatorList.c_str());
    } else if (r == int(SMIS_RET_INVALID_PARAMETER)) {
        message = "Invalid parameter supplied for SMIS operation";
    } else if (r == 4097) {
        message = formatText("Invalid LUN ID %s supplied", m_TargetDev.c_str());
    } else {
        message = "Error: mapping failed";
    }
    setErrorMsg(r, message);
    return 1;
}

int Snapshot::UnmapSnap() {
    static const char* const kLabel = "Snapshot::UnmapSnap";
    ClearLastError();
    if (m_SystemName.empty() || m_InitiatorList.empty() || !HasTarget()) {
        DEBUG_TRACE(kLabel, "Invalid Parameters\n");
        return 1;
    }
    Session session(*this, kLabel);
    if (!session.connected()) return 1;
    const std::string shown = IdentifyTarget(kLabel, &m_TargetFriendlyName);
    std::vector<std::string> args{m_SystemName, m_TargetDev, m_InitiatorList, "null", "null",
                                  m_TargetDevPath.empty() ? "null" : m_TargetDevPath};
    if (FaultRetryEnabled()) {
        std::vector<std::string> copy = args;
        ThrowAwayCall(kLabel, [&] { HidePaths(m_Conn, copy); });
    }
    const int r = HidePaths(m_Conn, args);
    if (r == ZQ_SMIS_MAPPING_NOT_FOUND) {
        DEBUG_TRACE(kLabel, "Device %s Unmapping Failed, Not Mapped to any Host\n", shown.c_str());
    } else if (r != 0) {
        DEBUG_TRACE(kLabel, "Device %s Unmapping Failed\n", shown.c_str());
        std::string text;
        const int code = GetVendorSmisErrorCode(r, &text);
        if (code != -1 && !text.empty()) DEBUG_SET_ERROR(code, text.c_str());
        return 1;
    }
    DEBUG_TRACE_NORMAL(kLabel, "Device %s Unmapping Success\n", shown.c_str());
    return 0;
}

int Snapshot::GetSnapStatus() {
    static const char* const kLabel = "Snapshot::GetSnapStatus";
    ClearLastError();
    if (m_SystemName.empty() || !HasTarget()) {
        DEBUG_TRACE(kLabel, "Invalid Parameters\n");
        return -1;
    }
    Session session(*this, kLabel);
    if (!session.connected()) return -1;
    switch (CheckInstanceExistence(m_Conn, m_SystemName, TargetRef(), m_TargetDev)) {
        case 0:
            return ZQSO::SNAP_STATUS_DELETED_OUTSIDE;
        case 1:
            return 0;
        default:
            return -1;
    }
}

int Snapshot::DetachSnap() {
    static const char* const kLabel = "Snapshot::DetachSnap";
    ClearLastError();
    if (m_SystemName.empty() || (m_SourceDev.empty() && m_SourceDevPath.empty()) || !HasTarget()) {
        DEBUG_TRACE(kLabel, "Invalid Parameters\n");
        DEBUG_TRACE(kLabel, "Dumping Parameters\n");
        DEBUG_TRACE(kLabel, "m_SystemName = %s, m_TargetDev = %s, m_TargetDevPath = %s, m_SourceDev = %s",
                    m_SystemName.c_str(), m_TargetDev.c_str(), m_TargetDevPath.c_str(), m_SourceDev.c_str());
        return ZQSO::SNAP_STATUS_DELETE_FAILED;
    }
    Session session(*this, kLabel);
    if (!session.connected()) return ZQSO::SNAP_STATUS_DELETE_FAILED;
    const std::string shown = IdentifyTarget(kLabel);
    if (m_SourceDevPath.empty()) DEBUG_TRACE_NORMAL(kLabel, "Source Device UUID %s\n", m_SourceDev.c_str());
    std::vector<std::string> args{m_SystemName, SourceRef(), TargetRef()};
    const int r = DetachVol(m_Conn, args);
    switch (r) {
        case 0:
            DEBUG_TRACE_NORMAL(kLabel, "Device %s detached\n", shown.c_str());
            return ZQSO::SNAP_STATUS_DELETED;
        case ZQ_SMIS_VOLUME_NOT_FOUND:
            setErrorMsg(ZQ_SMIS_VOLUME_NOT_FOUND, formatText("%s: Device %s not found", kLabel, m_TargetDev.c_str()));
            return 0;
        case ZQ_SMIS_HOST_MAPPINGS_FOUND:
            setErrorMsg(ZQ_SMIS_HOST_MAPPINGS_FOUND,
                        formatText("%s Device %s delete failed, Host mappings found\n", kLabel, shown.c_str()));
            return ZQSO::SNAP_STATUS_DELETE_FAILED;
        default:
            DEBUG_TRACE(kLabel, "Device %s delete failed\n", shown.c_str());
            return ZQSO::SNAP_STATUS_DELETE_FAILED;
    }
}

int Snapshot::SnapDelete() {
    static const char* const kLabel = "Snapshot::SnapDelete";
    ClearLastError();
    if (m_SystemName.empty() || !HasTarget()) {
        DEBUG_TRACE(kLabel, "Invalid Parameters\n");
        DEBUG_TRACE(kLabel, "Dumping Parameters\n");
        DEBUG_TRACE(kLabel, "m_SystemName = %s, m_TargetDev = %s, m_TargetDevPath = %s\n", m_SystemName.c_str(),
                    m_TargetDev.c_str(), m_TargetDevPath.c_str());
        return ZQSO::SNAP_STATUS_DELETE_FAILED;
    }
    Session session(*this, kLabel);
    if (!session.connected()) return ZQSO::SNAP_STATUS_DELETE_FAILED;
    const std::string vendor = GetVendorName();
    const std::string shown = IdentifyTarget(kLabel);
    if (m_TargetDev.empty()) {
        DEBUG_TRACE(kLabel, "Invalid Parameter\n");
        return ZQSO::SNAP_STATUS_DELETE_FAILED;
    }

    int r = 0;
    const bool detachInstead =
        m_SnapOp == 4 && (Contains(vendor, "LSI") || Contains(vendor, "DCIM") || Contains(vendor, "NETAPP"));
    if (detachInstead) {
        if (m_SourceDev.empty()) {
            DEBUG_TRACE(kLabel, "Can not perform delete Source Device UUID is empty\n");
            return ZQSO::SNAP_STATUS_DELETE_FAILED;
        }
        DEBUG_TRACE_NORMAL(kLabel, "Source Device UUID %s\n", m_SourceDev.c_str());
        std::vector<std::string> args{m_SystemName, m_SourceDev, m_TargetDev};
        r = DetachVol(m_Conn, args);
    } else {
        // The unique id goes along: a stored path that names another volume by now deletes nothing.
        const bool byPath = !m_TargetDevPath.empty() && !FaultRetryEnabled();
        std::vector<std::string> args{m_SystemName, byPath ? m_TargetDevPath : m_TargetDev, m_TargetDev};
        r = DeleteVol(m_Conn, args);
        if (r == ZQ_SMIS_VOLUME_NOT_FOUND && Contains(vendor, "IBMTSSVC")) {
            std::string found;
            const int lookup = FindIBMSVCVolObjPathByUUID(m_Conn, m_TargetDev, m_SystemName, found);
            if (lookup < 0) {
                DEBUG_TRACE(kLabel, "Device %s delete failed, the volume could not be looked up\n", shown.c_str());
                return ZQSO::SNAP_STATUS_DELETE_FAILED;
            }
            if (lookup == 1) {
                DEBUG_TRACE_NORMAL(kLabel, "Device %s found at [%s]\n", m_TargetDev.c_str(), found.c_str());
                std::vector<std::string> again{m_SystemName, found, m_TargetDev};
                r = DeleteVol(m_Conn, again);
            }
        }
    }
    switch (r) {
        case 0:
            DEBUG_TRACE_NORMAL(kLabel, "Device %s deleted\n", shown.c_str());
            return ZQSO::SNAP_STATUS_DELETED;
        case ZQ_SMIS_VOLUME_NOT_FOUND:
            DEBUG_TRACE_NORMAL(kLabel, "Device %s not found, already deleted\n", shown.c_str());
            return ZQSO::SNAP_STATUS_DELETED;
        case ZQ_SMIS_HOST_MAPPINGS_FOUND:
            setErrorMsg(ZQ_SMIS_HOST_MAPPINGS_FOUND,
                        formatText("%s Device %s delete failed, Host mappings found\n", kLabel, shown.c_str()));
            return ZQSO::SNAP_STATUS_DELETE_FAILED;
        default:
            DEBUG_TRACE(kLabel, "Device %s delete failed\n", shown.c_str());
            return ZQSO::SNAP_STATUS_DELETE_FAILED;
    }
}

// ---------------------------------------------------------- synchronizations

int Snapshot::GetSyncPathFromTarget() {
    static const char* const kLabel = "Snapshot::GetSyncPathFromTarget";
    if (m_SystemName.empty() || !HasTarget()) {
        DEBUG_TRACE(kLabel, "Invalid Parameters\n");
        return -1;
    }
    Session session(*this, kLabel);
    if (!session.connected()) return -1;
    return ZqCimUtil::GetSyncPathFromTarget(m_Conn, m_TargetDevPath, m_SyncPath, m_SourceDevPath, m_SourceDev,
                                            TargetReadHolds() ? &m_TargetRead.name : nullptr);
}

int Snapshot::GetSyncPathFromSource(std::map<std::string, std::string>& targets, bool, std::string namePart) {
    static const char* const kLabel = "Snapshot::GetSyncPathFromSource";
    if (m_SystemName.empty() || (m_SourceDev.empty() && m_SourceDevPath.empty())) {
        DEBUG_TRACE(kLabel, "Invalid Parameters\n");
        return -1;
    }
    Session session(*this, kLabel);
    if (!session.connected()) return -1;
    return GetAllSyncPathFromSource(m_Conn, m_SourceDevPath, namePart, targets);
}

int Snapshot::GetSyncPathFromTargetAndSource() {
    static const char* const kLabel = "Snapshot::GetSyncPathFromTargetAndSource";
    if (m_SystemName.empty() || m_TargetDevPath.empty() || m_SourceDevPath.empty()) {
        DEBUG_TRACE(kLabel, "Invalid Parameters\n");
        return -1;
    }
    Session session(*this, kLabel);
    if (!session.connected()) return -1;
    return ZqCimUtil::GetSyncPathFromTargetAndSource(m_Conn, m_TargetDevPath, m_SourceDevPath, m_SyncPath);
}

// ---------------------------------------------------------- single properties

std::string Snapshot::GetSnapObjectProperty(std::string objectPath, std::string property) {
    static const char* const kLabel = "Snapshot::GetSnapObjectProperty";
    if (m_SystemName.empty() || objectPath.empty() || property.empty()) {
        DEBUG_TRACE(kLabel, "Invalid Parameters\n");
        return std::string();
    }
    Session session(*this, kLabel);
    if (!session.connected()) return std::string();
    const std::string value = GetCIMProp(m_Conn, objectPath, Pegasus::String(property));
    DEBUG_TRACE_NORMAL(kLabel, "Property [%s], Value [%s]", property.c_str(),
                       property == "Secret" ? "" : value.c_str());
    return value;
}

int Snapshot::SetSnapObjectProperty(std::string objectPath, std::string property, std::string value) {
    static const char* const kLabel = "Snapshot::SetSnapObjectProperty";
    if (m_SystemName.empty() || objectPath.empty() || property.empty()) {
        DEBUG_TRACE(kLabel, "Invalid Parameters\n");
        return -1;
    }
    Session session(*this, kLabel);
    if (!session.connected()) return -1;
    const bool done = UpdateInstanceProp(m_Conn, objectPath, property, value);
    if (objectPath == m_TargetRead.path && property == "ElementName") {
        if (done)
            m_TargetRead.label = value;
        else
            m_TargetRead = TargetRead();
    }
    return done ? 0 : -1;
}

}  // namespace ZQ_SMIS_SNAP
