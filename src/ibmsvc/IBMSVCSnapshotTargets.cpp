// IBMSVCSnapshot: targets and their reuse: what holds a new target's name,
// a target's pool, a target's mapping and source, the space-efficient and
// incremental copies of a source, and renaming a mapping.
#include <cstdlib>

#include "EvDebug.h"
#include "IBMSVCSnapshot.h"
#include "ZqSmisExceptionTrace.h"
#include "ZqSmisJobState.h"
#include "ZqSmisReturnValue.h"
#include "ZqSmisSyncState.h"
#include "cim/Exception.h"

using Pegasus::CIMObjectPath;
using Pegasus::String;
using zq::platform::formatText;

namespace {

// Disconnects a connection that is not the snapshot's own when the scope ends.
class Disconnect {
public:
    explicit Disconnect(ZqCimConnection& conn) : conn_(conn) {}
    ~Disconnect() { conn_.DisconnectCimom(); }
    Disconnect(const Disconnect&) = delete;
    Disconnect& operator=(const Disconnect&) = delete;

private:
    ZqCimConnection& conn_;
};

}  // namespace

int IBMSVCSnapshot::FindTargetLeftover(const std::string& name, const std::string& group, NameHolder& holder) {
    static const char* const kLabel = "IBMSVCSnapshot::FindTargetLeftover";
    holder = NameHolder();
    if (name.empty() || (m_SourceDevPath.empty() && m_SourceDev.empty())) {
        DEBUG_TRACE(kLabel, "Invalid Parameters\n");
        return -1;
    }
    Session session(*this, kLabel);
    if (!session.connected()) return -1;
    // Before the record's turn the source is known by its unique id only.
    if (m_SourceDevPath.empty() && FindIBMSVCVolObjPathByUUID(m_Conn, m_SourceDev, m_SystemName, m_SourceDevPath) != 1)
        return -1;
    try {
        const CIMObjectPath volume = GetObjPathByPropName(m_Conn, "IBMTSSVC_StorageVolume", "ElementName", String(name));
        if (volume.getClassName().isNull()) return 0;
        holder.volumePath = volume.toString().toStdString();
        std::map<std::string, std::string> found{{"Name", ""}, {"BlockSize", ""}, {"NumberOfBlocks", ""}};
        std::map<std::string, std::string> source{{"BlockSize", ""}, {"NumberOfBlocks", ""}};
        if (!GetCIMPropList(m_Conn, volume, found) || !GetCIMPropList(m_Conn, m_SourceDevPath, source)) return -1;
        holder.volumeId = found["Name"];

        Pegasus::Array<CIMObjectPath> hosts;
        if (!GetVolCtlrPaths(m_Conn, volume, hosts)) return -1;
        if (hosts.size() > 0) {
            holder.why = "a host maps it";
            return 2;
        }
        const uint64_t size = std::strtoull(found["BlockSize"].c_str(), nullptr, 10) *
                              std::strtoull(found["NumberOfBlocks"].c_str(), nullptr, 10);
        const uint64_t sourceSize = std::strtoull(source["BlockSize"].c_str(), nullptr, 10) *
                                    std::strtoull(source["NumberOfBlocks"].c_str(), nullptr, 10);
        if (size == 0 || size != sourceSize) {
            holder.why = formatText("its size (%llu bytes) is not the source's (%llu bytes)",
                                    static_cast<unsigned long long>(size),
                                    static_cast<unsigned long long>(sourceSize));
            return 2;
        }

        const Pegasus::Array<CIMObjectPath> mappings = m_Conn.GetClient().referenceNames(
            m_Conn.GetNameSpace(), volume, Pegasus::CIMName("CIM_StorageSynchronized"));
        if (mappings.size() == 0) return 1;
        if (mappings.size() > 1) {
            holder.why = formatText("it has %u FlashCopy mappings", unsigned(mappings.size()));
            return 2;
        }
        const CIMObjectPath& mapping = mappings[0];
        CIMObjectPath from, to, ours;
        if (!ParseInstancePath(GetPropByObjPath(mapping, "SystemElement"), from) ||
            !ParseInstancePath(GetPropByObjPath(mapping, "SyncedElement"), to) ||
            !ParseInstancePath(m_SourceDevPath, ours))
            return -1;
        if (GetPropByObjPath(to, "DeviceID") != GetPropByObjPath(volume, "DeviceID")) {
            holder.why = "it is the source of a FlashCopy mapping";
            return 2;
        }
        if (GetPropByObjPath(from, "DeviceID") != GetPropByObjPath(ours, "DeviceID")) {
            holder.why = "its FlashCopy mapping comes from another source";
            return 2;
        }
        std::map<std::string, std::string> state{{"SyncState", ""}, {"PercentSynced", ""}, {"SynchronizedSetName", ""}};
        if (!GetCIMPropList(m_Conn, mapping, state) || state["SyncState"].empty()) return -1;
        holder.mappingPath = mapping.toString().toStdString();
        holder.groupName = state["SynchronizedSetName"];
        holder.syncState = std::atoi(state["SyncState"].c_str());
        const bool neverStarted = (holder.syncState == SYNC_STATE_IDLE && std::atoi(state["PercentSynced"].c_str()) == 0) ||
                                  holder.syncState == SYNC_STATE_PREPARE_IN_PROGRESS ||
                                  holder.syncState == SYNC_STATE_PREPARED;
        if (!neverStarted) {
            holder.why = formatText("its FlashCopy mapping from this source was started (sync state %d)",
                                    holder.syncState);
            return 2;
        }
        if (!holder.groupName.empty() && !Pegasus::equalNoCaseAscii(holder.groupName, group)) {
            holder.why = "its FlashCopy mapping is in the consistency group [" + holder.groupName + "]";
            return 2;
        }
        return 1;
    } catch (...) {
        TraceCaughtException(*this, kLabel, ZQ_SOURCE_FILE, __LINE__);
    }
    return -1;
}

int IBMSVCSnapshot::GetTargetDGNameByVolName(String volumeName, std::string& poolName, std::string volumePath) {
    static const char* const kLabel = "IBMSVCSnapshot::GetTargetDGNameByVolName";
    if (volumeName.size() == 0) {
        DEBUG_TRACE(kLabel, "Volume Name is not received");
        return -1;
    }
    Session session(*this, kLabel);
    if (!session.connected()) return -1;
    try {
        Pegasus::Array<CIMObjectPath> pools =
            m_Conn.GetAssociatorNames(CIMObjectPath(String(volumePath)), "CIM_AllocatedFromStoragePool",
                                      "CIM_StoragePool");
        if (pools.size() > 0) {
            poolName = GetCIMProp(m_Conn, pools[0], "ElementName");
            return 0;
        }
        DEBUG_TRACE(kLabel, "The StoragePool associated to [%s] volume is not got", volumeName.c_str());
    } catch (const Pegasus::CIMException& e) {
        DEBUG_TRACE(kLabel, "%s: %d: Caught CIMException: %s: %s", ZQ_SOURCE_FILE, __LINE__,
                    Pegasus::cimStatusCodeToString(e.getCode()).c_str(), e.getMessage().c_str());
    } catch (const Pegasus::Exception& e) {
        DEBUG_TRACE(kLabel, "%s: %d: Caught Exception: %s", ZQ_SOURCE_FILE, __LINE__, e.getMessage().c_str());
    } catch (...) {
        DEBUG_TRACE(kLabel, "%s: Caught unknown Exception", ZQ_SOURCE_FILE);
    }
    return -1;
}

int IBMSVCSnapshot::SetTargetDetailsUsingTargetName(String targetName, std::string targetPath) {
    static const char* const kLabel = "Snapshot::SetTargetDetailsUsingTargetName";
    ClearLastError();
    Session session(*this, kLabel);
    if (!session.connected()) return 0;
    m_TargetDevPath = targetPath;
    m_TargetDev = targetName.toStdString();
    // Only a found mapping counts: 1 is "none", -1 an error.
    if (ZqCimUtil::GetSyncPathFromTarget(m_Conn, m_TargetDevPath, m_SyncPath, m_SourceDevPath, m_SourceDev) != 0)
        return 0;
    DEBUG_TRACE_NORMAL(kLabel, "Target Device [%s], TargetPath [%s], SyncPath [%s]", m_TargetDev.c_str(),
                       m_TargetDevPath.c_str(), m_SyncPath.c_str());
    return 1;
}

int IBMSVCSnapshot::GetSESyncPathFromSource(std::map<std::string, std::string>& targets, bool,
                                            std::string namePart) {
    static const char* const kLabel = "Snapshot::GetSESyncPathFromSource";
    Session session(*this, kLabel);
    if (!session.connected()) return -1;
    const int r = GetAllSyncPathFromSource(m_Conn, m_SourceDevPath, namePart, targets);
    if (r != 0) {
        DEBUG_TRACE(kLabel, "Could not get sync paths for the source [%s]", m_SourceDev.c_str());
        return r;
    }
    try {
        const CIMObjectPath source{String(m_SourceDevPath)};
        const String nameSpace = m_Conn.GetNameSpace().getString();
        std::map<std::string, std::string> kept;
        for (const auto& entry : targets) {
            if (GetCIMProp(m_Conn, entry.second, "IsSpaceEfficient") != "TRUE") continue;
            const CIMObjectPath sync =
                GetSyncPath(m_Conn, nameSpace, m_SystemName, source, CIMObjectPath(String(entry.second)));
            std::map<std::string, std::string> rates{{"CleanRate", ""}, {"CopyRate", ""}};
            if (sync.getClassName().isNull() || !GetCIMPropList(m_Conn, sync, rates)) continue;
            if (rates["CleanRate"] == "0" && rates["CopyRate"] == "0") kept.insert(entry);
        }
        targets.swap(kept);
    } catch (...) {
        TraceCaughtException(*this, kLabel, ZQ_SOURCE_FILE, __LINE__);
        targets.clear();
        return -1;
    }
    DEBUG_TRACE_NORMAL(kLabel, "Found [%d] Space-Efficient target device for [%s]", int(targets.size()),
                       m_SourceDev.c_str());
    return 0;
}

int IBMSVCSnapshot::CheckForIncrementalMapping(std::map<std::string, std::string>& targets) {
    static const char* const kLabel = "CheckForIncrementalMapping";
    if (targets.empty()) {
        DEBUG_TRACE(kLabel, "Empty list received. Nothing to check.");
        return 1;
    }
    Session session(*this, kLabel);
    if (!session.connected()) return 0;
    try {
        const CIMObjectPath source{String(m_SourceDevPath)};
        const String nameSpace = m_Conn.GetNameSpace().getString();
        std::map<std::string, std::string> kept;
        for (const auto& entry : targets) {
            const CIMObjectPath sync =
                GetSyncPath(m_Conn, nameSpace, m_SystemName, source, CIMObjectPath(String(entry.second)));
            std::map<std::string, std::string> props{{"Incremental", ""}, {"CleanRate", ""}, {"CopyRate", ""}};
            if (sync.getClassName().isNull() || !GetCIMPropList(m_Conn, sync, props)) continue;
            if (props["Incremental"] == "TRUE" && props["CleanRate"] != "0" && props["CopyRate"] != "0")
                kept.insert(entry);
        }
        targets.swap(kept);
    } catch (...) {
        TraceCaughtException(*this, kLabel, ZQ_SOURCE_FILE, __LINE__);
        return 0;
    }
    DEBUG_TRACE(kLabel, "Got [%d] targets device with Incremental Mapping", int(targets.size()));
    return 1;
}

int IBMSVCSnapshot::setElementNameForMapping(ZqCimConnection& conn, std::map<std::string, std::string>& args) {
    static const char* const kLabel = "IBMSVCSnapshot::setElementNameForMapping";
    static const char* const kMethod = "SetElementName";
    ForgetMapping();
    if (args.size() < 3) {
        DEBUG_TRACE(kLabel, "%s: Validation Failed: Insufficient Parameters", kMethod);
        return -1;
    }
    auto given = [&](const char* key) {
        auto it = args.find(key);
        return it != args.end() && !it->second.empty();
    };
    if (!given("syncPath")) {
        DEBUG_TRACE(kLabel, "SynPath is not provided.");
        return -1;
    }
    if (!given("elementName")) {
        DEBUG_TRACE(kLabel, "ElementName parameter is not provided.");
        return -1;
    }
    if (args.find("force") == args.end()) {
        DEBUG_TRACE(kLabel, "force setting parameter is not provided.");
        return -1;
    }
    const bool force = args["force"] == "TRUE";
    if (conn.ConnectCimom() != 0) {
        conn.DisconnectCimom();
        setErrorMsg(3, std::string(kLabel) + ": Connection to CIMOM failed");
        return -1;
    }
    Disconnect disconnect(conn);
    try {
        MethodCall call{kLabel, kMethod, kMethod};
        call.target = CIMObjectPath(String(args["syncPath"]));
        call.vendor = VENDOR_IBMSVC;
        call.Add("elementName", Pegasus::CIMValue(String(args["elementName"])));
        call.Add("force", Pegasus::CIMValue(force));
        DEBUG_TRACE_NORMAL(kLabel, "SetElementName Parameters");
        DEBUG_TRACE_NORMAL(kLabel, "SyncPath   - %s", args["syncPath"].c_str());
        DEBUG_TRACE_NORMAL(kLabel, "elementName   - %s", args["elementName"].c_str());
        DEBUG_TRACE_NORMAL(kLabel, "force     - %s", force ? "TRUE" : "FALSE");
        Pegasus::CIMValue value =
            conn.GetClient().invokeMethod(conn.GetNameSpace(), call.target, call.method, call.in, call.out);
        const unsigned r = unsigned(GetRetVal(value));
        if (r == SMIS_RET_JOB_STARTED) {
            DEBUG_TRACE_NORMAL(kLabel, "%s: Job started", kMethod);
            PrintParamSet(call.out, false);
            const int state = WatchJob(GetJobHandle(call.out), conn, 60, 10);
            return state == JOB_STATE_COMPLETED ? 0 : -1;
        }
        if (r == SMIS_RET_SUCCESS) {
            DEBUG_TRACE_NORMAL(kLabel, "%s method Return Value = %u (0x%x)", kMethod, r, r);
            PrintParamSet(call.out, false);
            return 0;
        }
        DEBUG_TRACE(kLabel, "%s: Method failed, retVal = %u (0x%x)", kMethod, r, r);
        PrintParamSet(call.out, true);
        return int(r);
    } catch (...) {
        TraceCaughtException(*this, kLabel, ZQ_SOURCE_FILE, __LINE__);
    }
    return -1;
}
