// SmisAction: replica creation through the storage configuration service.
#include <cstdint>
#include <cstdlib>

#include "SmisAction.h"
#include "ZqSmisExceptionTrace.h"
#include "ZqSmisJobState.h"
#include "ZqSmisReturnValue.h"
#include "cim/CIMPropertyList.h"

using Pegasus::Array;
using Pegasus::CIMInstance;
using Pegasus::CIMObjectPath;
using Pegasus::CIMValue;
using Pegasus::String;

namespace {

// Copy type for each value of "SupportedSynchronizationType" below 10.
constexpr unsigned char kCopyTypeOfSyncType[10] = {0, 0, 2, 2, 3, 3, 4, 4, 5, 6};

// Leading decimal number of a text, 0 when there is none.
long DecimalPrefix(const std::string& text) { return std::strtol(text.c_str(), nullptr, 10); }

// A number that tells the connection's client objects apart in the trace.
unsigned ConnectionNumber(ZqCimConnection& conn) {
    return conn.HasClient() ? unsigned(reinterpret_cast<uintptr_t>(&conn.GetClient())) : 0U;
}

}  // namespace

bool SmisAction::ValidateCreateReplica(ZqCimConnection& conn, std::vector<std::string>& request,
                                       CIMObjectPath& service) {
    static const char* const kLabel = "SMIS::ValidateCreateReplica";
    static const CatchFrame kCatch{kLabel, "ValidateCreateReplica", CatchLine::FileLine, CatchLine::FileLine,
                                   UnknownLine::Plain};
    if (request.size() < 4) {
        DEBUG_TRACE(kLabel, "create: insufficient params specified");
        DEBUG_TRACE(kLabel,
                    "\tneed: systemName NewElementName CopyType(2-5) SourceVolume [TargetSettingId] "
                    "[TargetPoolId]");
        return false;
    }
    try {
        return FindConfigurationService(conn, kLabel, request[0], service);
    } catch (...) {
        TraceCaught(kCatch, ZQ_SOURCE_FILE, __LINE__);
    }
    return false;
}

bool SmisAction::PrepareCreateReplica(ZqCimConnection& conn, std::vector<std::string>& request,
                                      std::vector<std::string>& resolved) {
    static const char* const kLabel = "SMIS::PrepareCreateReplica";
    static const CatchFrame kCatch{kLabel, "PrepareCreateReplica", CatchLine::FileLine, CatchLine::FileLine,
                                   UnknownLine::Plain};
    CIMObjectPath service;
    if (!ValidateCreateReplica(conn, request, service)) return false;
    try {
        const ZQ_PROVIDER_VENDOR vendor = ZQProviderVendor::GetVendorId(service);
        const std::string& systemName = request[0];
        const std::string settingId = request.size() > 4 ? request[4] : std::string();
        const std::string poolName = request.size() > 5 ? request[5] : std::string();

        CIMObjectPath source = ResolveVolume(conn, kLabel, request[3], nullptr);
        if (source.getClassName().isNull()) {
            DEBUG_TRACE(kLabel, " LUN UUID %s not found", request[3].c_str());
            return false;
        }
        DEBUG_TRACE_NORMAL(kLabel, "SrcVol: %s", GetObjectPathString(source).c_str());

        CIMObjectPath setting;
        if (!settingId.empty() && settingId.find("null") == std::string::npos) {
            setting = GetObjPathByProp(conn, "CIM_StorageSetting", "InstanceID", settingId, "");
            if (setting.getClassName().isNull()) {
                DEBUG_TRACE(kLabel, "Class %s: InstanceID %s not found", "CIM_StorageSetting", settingId.c_str());
                return false;
            }
            DEBUG_TRACE_NORMAL(kLabel, "Target Setting: %s", GetObjectPathString(setting).c_str());
        }

        CIMObjectPath pool;
        if (!poolName.empty() && poolName.find("null") == std::string::npos) {
            pool = FindPool(conn, kLabel, vendor, systemName, poolName);
            if (pool.getClassName().isNull()) return false;
            DEBUG_TRACE_NORMAL(kLabel, "Storage Pool: %s", GetObjectPathString(pool).c_str());
        } else {
            pool = PoolOfVolume(conn, kLabel, source);  // none is no failure
        }

        // These providers' paths carry another namespace than the one they serve.
        if (vendor == VENDOR_LSI || vendor == VENDOR_DCIM || vendor == VENDOR_NETAPP)
            service.setNameSpace(conn.GetNameSpace());

        resolved.push_back(GetObjectPathString(service));
        resolved.push_back(request[1]);
        resolved.push_back(request[2]);
        resolved.push_back(GetObjectPathString(source));
        resolved.push_back(setting.getClassName().isNull() ? "null" : GetObjectPathString(setting));
        resolved.push_back(pool.getClassName().isNull() ? "null" : GetObjectPathString(pool));
        return true;
    } catch (...) {
        TraceCaught(kCatch, ZQ_SOURCE_FILE, __LINE__);
    }
    return false;
}

uint32_t SmisAction::CreateReplica(ZqCimConnection& conn, std::vector<std::string>& resolved, std::string& target) {
    static const char* const kLabel = "SMIS::CreateReplica";
    static const char* const kMethod = "CreateReplica";
    static const CatchFrame kCatch{kLabel, kMethod, CatchLine::FileLine, CatchLine::FileLine, UnknownLine::Named};
    // Service, element name, copy type and source are needed before any position is read.
    if (resolved.size() < 4) {
        DEBUG_TRACE(kLabel, "%s: Validation Failed: Invalid Parameters", kMethod);
        return SMIS_RET_INVALID_PARAMETER;
    }
    try {
        MethodCall call{kLabel, kMethod, kMethod};
        call.target = CIMObjectPath(String(resolved[0]));
        call.vendor = ZQProviderVendor::GetVendorId(call.target);
        call.serialized = SerializesInvocations(call.vendor);
        const std::string& elementName = resolved[1];
        const long copyType = DecimalPrefix(resolved[2]);
        const CIMObjectPath source{String(resolved[3])};
        const bool hasGoal = IsArgGiven(resolved, 4) && !resolved[4].empty();
        const bool hasPool = IsArgGiven(resolved, 5) && !resolved[5].empty();
        const CIMObjectPath goal = hasGoal ? CIMObjectPath(String(resolved[4])) : CIMObjectPath();
        const CIMObjectPath pool = hasPool ? CIMObjectPath(String(resolved[5])) : CIMObjectPath();

        DEBUG_TRACE_NORMAL(kLabel, "CreateReplica Parameters");
        DEBUG_TRACE_NORMAL(kLabel, "ElementName   - %s:", elementName.c_str());
        DEBUG_TRACE_NORMAL(kLabel, "Copy Type     - %d:", int(copyType));
        DEBUG_TRACE_NORMAL(kLabel, "Source Volume - %s:", GetObjectPathString(source).c_str());
        DEBUG_TRACE_NORMAL(kLabel, "Target Goal   - %s:", hasGoal ? GetObjectPathString(goal).c_str() : "None");
        DEBUG_TRACE_NORMAL(kLabel, "Target Pool   - %s:", hasPool ? GetObjectPathString(pool).c_str() : "None");
        DEBUG_TRACE_NORMAL(kLabel, "host = %s, userName = %s , conn = %u", conn.GetCimom().GetAddress().c_str(),
                           conn.GetCimom().GetUserName().c_str(), ConnectionNumber(conn));

        call.Add("ElementName",
                 elementName.empty() ? MakeCimNullVal(Pegasus::CIMTYPE_STRING, false) : CIMValue(String(elementName)));
        call.Add("CopyType", CIMValue(Pegasus::Uint16(copyType)));
        call.Add("SourceElement", CIMValue(source));
        call.Add("TargetSettingGoal", hasGoal ? CIMValue(goal) : MakeCimNullVal(Pegasus::CIMTYPE_REFERENCE, false));
        call.Add("TargetPool", hasPool ? CIMValue(pool) : MakeCimNullVal(Pegasus::CIMTYPE_REFERENCE, false));

        Invoke(conn, call, RetValLine::Method);
        const int result = CompleteCall(conn, call, 60, 10);
        if (!call.Accepted()) return call.retVal;
        target = GetObjectPathString(GetTargetElementHandle(call.out));
        return result == 0 ? 0 : 1;  // a job that did not complete
    } catch (...) {
        TraceCaught(kCatch, ZQ_SOURCE_FILE, __LINE__);
    }
    return 1;
}

int SmisAction::IsCopyTypeSupported(ZqCimConnection& conn, std::vector<std::string>& args) {
    static const char* const kLabel = "SMIS::IsCopyTypeSupported";
    static const CatchFrame kCatch{kLabel, "IsCopyTypeSupported", CatchLine::FileLine, CatchLine::FileLine,
                                   UnknownLine::Plain};
    if (args.size() < 2) {
        DEBUG_TRACE(kLabel, "chkcopysup: Insufficient params specified");
        DEBUG_TRACE(kLabel, "    need: SystemName CopyType");
        return ZQ_SMIS_INSUFFICIENT_PARAMS;
    }
    try {
        const long copyType = DecimalPrefix(args[1]);
        const CIMObjectPath system = GetSystemObjPathByNameProp(conn, args[0]);
        if (system.getClassName().isNull()) {
            DEBUG_TRACE(kLabel, "SystemName <%s> not found", args[0].c_str());
            return ZQ_SMIS_OBJECT_NOT_FOUND;
        }
        static const char* const kClass = "CIM_StorageReplicationCapabilities";
        Array<Pegasus::CIMName> names;
        names.append("SupportedSynchronizationType");
        Array<CIMInstance> capabilities = conn.GetInstances(kClass, Pegasus::CIMPropertyList(names));
        DEBUG_TRACE_NORMAL(kLabel, "Class [%s] got %d instances", kClass, int(capabilities.size()));
        for (Pegasus::Uint32 i = 0; i < capabilities.size(); ++i) {
            const Pegasus::Uint32 index = capabilities[i].findProperty("SupportedSynchronizationType");
            if (index == PEG_NOT_FOUND) {
                DEBUG_TRACE(kLabel, "Property SupportedSynchronizationType missing in %s",
                            GetObjectPathString(capabilities[i].getPath()).c_str());
                return 1;
            }
            Pegasus::Uint16 syncType = 0;
            capabilities[i].getProperty(index).getValue().get(syncType);
            if (syncType < sizeof(kCopyTypeOfSyncType) && kCopyTypeOfSyncType[syncType] == copyType) {
                DEBUG_TRACE(kLabel, "Copy type <%d> is supported by the system <%s>", int(copyType), args[0].c_str());
                return 0;
            }
        }
        DEBUG_TRACE(kLabel, "Copy type <%d> is not supported by the system <%s>", int(copyType), args[0].c_str());
    } catch (...) {
        TraceCaught(kCatch, ZQ_SOURCE_FILE, __LINE__);
    }
    return 1;
}
