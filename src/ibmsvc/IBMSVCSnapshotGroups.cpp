// IBMSVCSnapshot: consistency groups (FlashCopy consistency groups, shown as
// synchronized sets): creating or finding one, adding and removing mappings,
// preparing, starting and stopping it, deleting it, and a copy's group.
#include "EvDebug.h"
#include "IBMSVCSnapshot.h"
#include "ZqSmisExceptionTrace.h"
#include "ZqSmisJobState.h"
#include "ZqSmisReturnValue.h"
#include "ZqSmisSyncOperation.h"

using zq::platform::formatText;

namespace {

const char* const kSetClass = "IBMTSSVC_SynchronizedSet";
const char* const kMappingClass = "IBMTSSVC_LocalStorageSynchronized";

// Job limits of the set methods.
constexpr int kJobTries = 60;
constexpr int kJobIntervalSeconds = 10;

Pegasus::Array<Pegasus::CIMName> NameList(const char* name) {
    Pegasus::Array<Pegasus::CIMName> names;
    names.append(Pegasus::CIMName(name));
    return names;
}

}  // namespace

std::string IBMSVCSnapshot::FindSyncSet(const std::string& name) {
    Pegasus::CIMObjectPath set = GetObjPathByPropName(m_Conn, kSetClass, "ElementName", Pegasus::String(name));
    return set.getClassName().isNull() ? std::string() : set.toString().toStdString();
}

int IBMSVCSnapshot::FinishSetMethod(const char* label, int retVal, const std::string& jobPath) {
    if (retVal != int(SMIS_RET_JOB_STARTED)) return retVal;
    DEBUG_TRACE_NORMAL(label, "%s: Job started", label);
    try {
        Pegasus::CIMObjectPath job;
        if (!jobPath.empty()) job = Pegasus::CIMObjectPath(Pegasus::String(jobPath));
        const int state = WatchJob(job, m_Conn, kJobTries, kJobIntervalSeconds);
        if (state == JOB_STATE_COMPLETED) return 0;
        DEBUG_TRACE(label, "Job [%s] ended in state [%d]", jobPath.c_str(), state);
        return state;
    } catch (...) {
        TraceCaughtException(*this, label, ZQ_SOURCE_FILE, __LINE__);
    }
    return JOB_STATE_EXCEPTION;
}

int IBMSVCSnapshot::CreateSyncSet(bool& created, int copyType) {
    static const char* const kLabel = "CreateSyncSet";
    ClearLastError();
    m_SyncSetFound = false;
    if (m_SystemName.empty() || m_SyncSetName.empty()) {
        DEBUG_TRACE(kLabel, "Invalid Parameters\n");
        return 0;
    }
    if (created) {
        DEBUG_TRACE_NORMAL(kLabel, "SyncSet [%s] already created, skipping the creation", m_SyncSetName.c_str());
        return 1;
    }
    Session session(*this, kLabel);
    if (!session.connected()) return 0;
    std::string path = FindSyncSet(m_SyncSetName);
    if (!path.empty()) {
        DEBUG_TRACE_NORMAL(kLabel, "SyncSet Path [%s] already created, skipping the creation", path.c_str());
        m_SyncSetPath = path;
        m_SyncSetFound = true;
        created = true;
        return 1;
    }
    CreateSynchronizedSet_PARAMS params;
    params.SystemName = m_SystemName;
    params.SetName = m_SyncSetName;
    params.CopyType = uint16_t(copyType);
    const int r = FinishSetMethod(kLabel, CreateSynchronizedSet(m_Conn, params), params.JobPath);
    if (r != 0) {
        setErrorMsg(4, formatText("Consistency Group [%s] creation failure, could be maximum number reached or "
                                  "SetName already exists\n",
                                  m_SyncSetName.c_str()));
        return 0;
    }
    path = params.SetPath.empty() ? FindSyncSet(m_SyncSetName) : params.SetPath;
    if (path.empty()) {
        setErrorMsg(0, formatText("Consistency Group [%s] not found", m_SyncSetName.c_str()));
        return 0;
    }
    DEBUG_TRACE_NORMAL(kLabel, "ConsistencyGroup [%s] SyncSet Path [%s]", m_SyncSetName.c_str(), path.c_str());
    m_SyncSetPath = path;
    created = true;
    return 1;
}

int IBMSVCSnapshot::ModifySyncSet(int operation) {
    static const char* const kLabel = "ModifySyncSet";
    ClearLastError();
    ForgetMapping();
    if (m_SystemName.empty() || m_SyncSetName.empty()) {
        DEBUG_TRACE(kLabel, "Invalid Parameters\n");
        return -1;
    }
    Session session(*this, kLabel);
    if (!session.connected()) return -1;
    const std::string path = m_SyncSetPath.empty() ? FindSyncSet(m_SyncSetName) : m_SyncSetPath;
    if (path.empty()) {
        DEBUG_TRACE_NORMAL(kLabel, "Consistency Group [%s] not found", m_SyncSetName.c_str());
        return 1;
    }
    ModifySynchronizedSet_PARAMS params;
    params.Operation = uint16_t(operation);
    params.SystemName = m_SystemName;
    params.SetName = m_SyncSetName;
    params.SetPath = path;
    if (operation == SET_OP_ADD || operation == SET_OP_REMOVE) params.SynchronizationPath = m_SyncPath;
    if (FinishSetMethod(kLabel, ModifySynchronizedSet(m_Conn, params), params.JobPath) != 0) {
        setErrorMsg(4, formatText("Consistency Group [%s] Modify operation [%d] failure\n", m_SyncSetName.c_str(),
                                  operation));
        return -1;
    }
    return 0;
}

int IBMSVCSnapshot::DeleteSyncSet(std::string name) {
    static const char* const kLabel = "DeleteSyncSet";
    ClearLastError();
    ForgetMapping();
    const std::string group = name.empty() ? m_SyncSetName : name;
    if (m_SystemName.empty() || group.empty()) {
        DEBUG_TRACE(kLabel, "Invalid Parameters\n");
        return -1;
    }
    Session session(*this, kLabel);
    if (!session.connected()) return -1;
    const std::string path = FindSyncSet(group);
    if (path.empty()) {
        DEBUG_TRACE(kLabel, "Set name CG [%s] was not found\n", group.c_str());
        return 1;
    }
    DeleteSynchronizedSet_PARAMS params;
    params.SystemName = m_SystemName;
    params.SetName = group;
    params.SetPath = path;
    if (FinishSetMethod(kLabel, DeleteSynchronizedSet(m_Conn, params), params.JobPath) != 0) {
        setErrorMsg(4, formatText("Consistency Group [%s] deletion failure\n", group.c_str()));
        return -1;
    }
    return 0;
}

int IBMSVCSnapshot::SyncSetExists(const std::string& name) {
    static const char* const kLabel = "IBMSVCSnapshot::SyncSetExists";
    if (name.empty()) {
        DEBUG_TRACE(kLabel, "Invalid Parameters\n");
        return -1;
    }
    Session session(*this, kLabel);
    if (!session.connected()) return -1;
    try {
        const Pegasus::Array<Pegasus::CIMInstance> sets =
            m_Conn.GetInstances(kSetClass, Pegasus::CIMPropertyList(NameList("ElementName")));
        for (Pegasus::Uint32 i = 0; i < sets.size(); ++i)
            if (Pegasus::equalNoCaseAscii(GetCIMProp(sets[i], "ElementName"), name)) return 1;
        return 0;
    } catch (...) {
        TraceCaughtException(*this, kLabel, ZQ_SOURCE_FILE, __LINE__);
    }
    return -1;
}

int IBMSVCSnapshot::GetSyncSetMembers(const std::string& name, std::vector<std::string>& targetPaths) {
    static const char* const kLabel = "IBMSVCSnapshot::GetSyncSetMembers";
    targetPaths.clear();
    if (name.empty()) {
        DEBUG_TRACE(kLabel, "Invalid Parameters\n");
        return -1;
    }
    Session session(*this, kLabel);
    if (!session.connected()) return -1;
    try {
        const Pegasus::Array<Pegasus::CIMInstance> mappings =
            m_Conn.GetInstances(kMappingClass, Pegasus::CIMPropertyList(NameList("SynchronizedSetName")));
        for (Pegasus::Uint32 i = 0; i < mappings.size(); ++i) {
            if (!Pegasus::equalNoCaseAscii(GetCIMProp(mappings[i], "SynchronizedSetName"), name)) continue;
            targetPaths.push_back(GetPropByObjPath(mappings[i].getPath(), "SyncedElement"));
        }
        DEBUG_TRACE_NORMAL(kLabel, "Consistency Group [%s] holds [%d] mappings", name.c_str(),
                           int(targetPaths.size()));
        return 0;
    } catch (...) {
        TraceCaughtException(*this, kLabel, ZQ_SOURCE_FILE, __LINE__);
    }
    targetPaths.clear();
    return -1;
}

int IBMSVCSnapshot::GetSyncSetName() {
    static const char* const kLabel = "IBMSVCSnapshot::GetSyncSetInfo";
    ClearLastError();
    if (m_SourceDevPath.empty() || m_TargetDevPath.empty()) {
        DEBUG_TRACE(kLabel, "Invalid Parameters\n");
        return -1;
    }
    Session session(*this, kLabel);
    if (!session.connected()) return -1;
    Pegasus::CIMObjectPath source, target;
    if (!ParseInstancePath(m_SourceDevPath, source) || !ParseInstancePath(m_TargetDevPath, target)) {
        DEBUG_TRACE(kLabel, "Source [%s] or target [%s] is not an object path", m_SourceDevPath.c_str(),
                    m_TargetDevPath.c_str());
        return -1;
    }
    const Pegasus::CIMObjectPath sync =
        GetSyncPath(m_Conn, m_Conn.GetNameSpace().getString(), m_SystemName, source, target);
    m_SyncPath = sync.getClassName().isNull() ? std::string() : sync.toString().toStdString();
    m_SyncSetName.clear();
    if (m_SyncPath.empty()) return 0;
    try {
        const Pegasus::CIMInstance mapping = m_Conn.GetInstance(sync);
        KeepMapping(m_SyncPath, mapping);
        m_SyncSetName = GetCIMProp(mapping, "SynchronizedSetName");
    } catch (...) {
        TraceCaughtException(*this, "SMIS::GetCIMProp", ZQ_SOURCE_FILE, __LINE__);
    }
    return m_SyncSetName.empty() ? 0 : 1;
}
