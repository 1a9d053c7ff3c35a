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
    ForgetMapping();
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

int IBMSVCSnapshot::SnapSyncOp(unsigned short operation, bool noWait, bool restore, bool knownState) {
    static const char* const kLabel = "Snapshot::SnapSyncOp";
    ClearLastError();
    std::map<std::string, std::string> known;
    if (knownState && MappingRead()) known = m_Mapping;
    ForgetMapping();
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
    if (ModifySync(m_Conn, args, noWait, known.empty() ? nullptr : &known) != 0) return m_SnapStatus;
    DEBUG_TRACE_NORMAL(kLabel, "Success\n");
    m_SnapStatus = ZQSO::SNAP_STATUS_SNAP_STARTED;
    return m_SnapStatus;
}

int IBMSVCSnapshot::DetachSnap() {
    ForgetMapping();
    return Snapshot::DetachSnap();
}

void IBMSVCSnapshot::KeepMapping(const std::string& path, const Pegasus::CIMInstance& mapping) {
    m_Mapping.clear();
    for (Pegasus::Uint32 i = 0; i < mapping.getPropertyCount(); ++i) {
        const Pegasus::CIMProperty property = mapping.getProperty(i);
        m_Mapping[property.getName().getString().toStdString()] = property.getValue().toString().toStdString();
    }
    m_MappingReadPath = path;
}

std::string IBMSVCSnapshot::MappingProperty(const std::string& name) {
    static const char* const kLabel = "IBMSVCSnapshot::MappingProperty";
    if (!MappingRead()) {
        if (m_SystemName.empty() || m_SyncPath.empty()) {
            DEBUG_TRACE(kLabel, "Invalid Parameters\n");
            return std::string();
        }
        Session session(*this, kLabel);
        if (!session.connected()) return std::string();
        try {
            KeepMapping(m_SyncPath, m_Conn.GetInstance(Pegasus::CIMObjectPath(Pegasus::String(m_SyncPath))));
        } catch (...) {
            TraceCaughtException(*this, kLabel, ZQ_SOURCE_FILE, __LINE__);
            return std::string();
        }
    }
    auto it = m_Mapping.find(name);
    const std::string value = it == m_Mapping.end() ? std::string() : it->second;
    DEBUG_TRACE_NORMAL(kLabel, "Property [%s], Value [%s]", name.c_str(), value.c_str());
    return value;
}

int IBMSVCSnapshot::ReadSyncState(int& state, int& percent) {
    if (!MappingRead()) return GetSyncState(state, percent);
    auto number = [this](const char* name) {
        auto it = m_Mapping.find(name);
        return it != m_Mapping.end() && IsDecimal(it->second) && it->second.size() < 6 ? std::stoi(it->second) : -1;
    };
    state = number("SyncState");
    percent = number("PercentSynced");
    return 0;
}

int IBMSVCSnapshot::ReadTargetVolume() {
    static const char* const kLabel = "IBMSVCSnapshot::ReadTargetVolume";
    ClearLastError();
    m_TargetRead = TargetRead();
    if (m_TargetDevPath.empty()) return GetSnapStatus();
    if (m_SystemName.empty()) {
        DEBUG_TRACE(kLabel, "Invalid Parameters\n");
        return -1;
    }
    Pegasus::CIMObjectPath path;
    if (!ParseInstancePath(m_TargetDevPath, path)) return GetSnapStatus();
    Session session(*this, kLabel);
    if (!session.connected()) return -1;
    try {
        const Pegasus::CIMInstance volume = m_Conn.GetInstance(path);
        const std::string name = GetCIMProp(volume, "Name");
        if (name.empty() && !m_TargetDev.empty()) {
            DEBUG_TRACE(kLabel, "Name property not found for object path [%s]", m_TargetDevPath.c_str());
            return -1;
        }
        if (!m_TargetDev.empty() && !Pegasus::equalNoCaseAscii(name, m_TargetDev)) {
            DEBUG_TRACE(kLabel, "Object path [%s] holds the volume [%s], not [%s]", m_TargetDevPath.c_str(),
                        name.c_str(), m_TargetDev.c_str());
            return ZQSO::SNAP_STATUS_DELETED_OUTSIDE;
        }
        m_TargetRead.path = m_TargetDevPath;
        m_TargetRead.name = name;
        m_TargetRead.label = GetCIMProp(volume, "ElementName");
        return 0;
    } catch (const Pegasus::CIMException& e) {
        if (e.getCode() == Pegasus::CIM_ERR_NOT_FOUND ||
            e.getMessage().find("CIM_ERR_NOT_FOUND") != PEG_NOT_FOUND) {
            DEBUG_TRACE_NORMAL(kLabel, "Volume [%s] not found", m_TargetDevPath.c_str());
            return ZQSO::SNAP_STATUS_DELETED_OUTSIDE;
        }
        TraceCaughtException(*this, kLabel, ZQ_SOURCE_FILE, __LINE__);
    } catch (...) {
        TraceCaughtException(*this, kLabel, ZQ_SOURCE_FILE, __LINE__);
    }
    return -1;
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
        if (!m_SyncPath.empty()) KeepMapping(m_SyncPath, mapping);
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
