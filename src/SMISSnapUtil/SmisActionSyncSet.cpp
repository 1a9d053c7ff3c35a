// SmisAction: synchronized sets (IBM SVC FlashCopy consistency groups):
// creating a set, adding and removing mappings, deleting it.
#include "SmisAction.h"
#include "ZqSmisExceptionTrace.h"
#include "ZqSmisReturnValue.h"
#include "ZqSmisSyncOperation.h"

using Pegasus::CIMObjectPath;
using Pegasus::CIMValue;
using Pegasus::String;

int SmisAction::CreateSynchronizedSet(ZqCimConnection& conn, CreateSynchronizedSet_PARAMS& params) {
    static const char* const kLabel = "CreateSynchronizedSet";
    static const CatchFrame kCatch{kLabel, kLabel, CatchLine::NameFileLine, CatchLine::NameFileLine,
                                   UnknownLine::NamedLower};
    DEBUG_TRACE_NORMAL(kLabel, "%s: SystemName = %s", kLabel, params.SystemName.c_str());
    DEBUG_TRACE_NORMAL(kLabel, "SynchronizedSet name [%s]", params.SetName.c_str());
    DEBUG_TRACE_NORMAL(kLabel, "SynchronizedSet type [%d]", int(params.CopyType));
    if (params.SystemName.empty() || params.SetName.empty()) {
        DEBUG_TRACE(kLabel, "%s : createsyncset: insufficient args specified, need:", kLabel);
        DEBUG_TRACE(kLabel, "\tSystemName SetName CopyType");
        return ZQ_SMIS_INSUFFICIENT_PARAMS;
    }
    try {
        MethodCall call{kLabel, "CreateSynchronizedSet", kLabel};
        if (!FindConfigurationService(conn, kLabel, params.SystemName, call.target)) return ZQ_SMIS_OBJECT_NOT_FOUND;
        call.vendor = ZQProviderVendor::GetVendorId(call.target);
        call.Add("ElementName", CIMValue(String(params.SetName)));
        call.Add("CopyType", CIMValue(Pegasus::Uint16(params.CopyType)));
        const uint32_t retVal = InvokeSetMethod(conn, call, params.JobPath);
        if (retVal == SMIS_RET_SUCCESS) {
            for (Pegasus::Uint32 i = 0; i < call.out.size(); ++i) {
                const CIMValue& value = call.out[i].getValue();
                if (value.getType() != Pegasus::CIMTYPE_REFERENCE || value.isArray() ||
                    call.out[i].getParameterName() != "Set")
                    continue;
                params.SetPath = value.toString().toStdString();
                break;
            }
        }
        return int(retVal);
    } catch (...) {
        TraceCaught(kCatch, ZQ_SOURCE_FILE, __LINE__);
    }
    return 1;
}

bool SmisAction::FindSetAndService(ZqCimConnection& conn, MethodCall& call, const std::string& systemName,
                                   const std::string& setPath, const std::string& setName, const char* className,
                                   CIMObjectPath& set) {
    if (setPath.empty() || !ParseInstancePath(setPath, set)) {
        if (!setPath.empty())
            DEBUG_TRACE_NORMAL(call.label, "Supplied Synchronization Set is not an object path, assuming Name");
        set = GetObjPathByPropName(conn, className, "ElementName", String(setName));
    }
    // An empty reference would only earn the provider's refusal.
    if (set.getClassName().isNull()) {
        DEBUG_TRACE(call.label, "SynchronizedSet [%s] not found", setName.c_str());
        return false;
    }
    if (!FindConfigurationService(conn, call.label, systemName, call.target)) return false;
    call.vendor = ZQProviderVendor::GetVendorId(call.target);
    return true;
}

uint32_t SmisAction::InvokeSetMethod(ZqCimConnection& conn, MethodCall& call, std::string& jobPath) {
    jobPath.clear();
    const uint32_t retVal = Invoke(conn, call, RetValLine::OutParamsSpaced);
    if (retVal != SMIS_RET_SUCCESS && retVal != SMIS_RET_JOB_STARTED)
        ReportProviderError(call.label, call.vendor, retVal);
    if (retVal == SMIS_RET_JOB_STARTED) {
        const CIMObjectPath job = GetJobHandle(call.out);
        if (!job.getClassName().isNull()) jobPath = GetObjectPathString(job);
    }
    PrintParamSet(call.out, false);
    return retVal;
}

int SmisAction::ModifySynchronizedSet(ZqCimConnection& conn, ModifySynchronizedSet_PARAMS& params) {
    static const char* const kLabel = "ModifySynchronizedSet";
    static const CatchFrame kCatch{kLabel, kLabel, CatchLine::NameFileLine, CatchLine::NameFileLine,
                                   UnknownLine::NamedLower};
    DEBUG_TRACE_NORMAL(kLabel, "%s: SystemName = %s", kLabel, params.SystemName.c_str());
    DEBUG_TRACE_NORMAL(kLabel, "SynchronizedSet name [%s]", params.SetName.c_str());
    DEBUG_TRACE_NORMAL(kLabel, "Operation [%d]", int(params.Operation));
    DEBUG_TRACE_NORMAL(kLabel, "SyncPath [%s]", params.SetPath.c_str());
    if (params.SystemName.empty() || params.SetName.empty()) {
        DEBUG_TRACE(kLabel, "%s : modsyncset: insufficient args specified, need:", kLabel);
        DEBUG_TRACE(kLabel, "\tSystemName SetName operation");
        return ZQ_SMIS_INSUFFICIENT_PARAMS;
    }
    try {
        MethodCall call{kLabel, "ModifySynchronizedSet", kLabel};
        CIMObjectPath set;
        if (!FindSetAndService(conn, call, params.SystemName, params.SetPath, params.SetName,
                               "IBMTSSVC_SynchronizedSet", set))
            return ZQ_SMIS_OBJECT_NOT_FOUND;

        const bool withMapping = params.Operation == SET_OP_ADD || params.Operation == SET_OP_REMOVE;
        CIMObjectPath mapping;
        if (withMapping) {
            if (params.SynchronizationPath.empty()) {
                DEBUG_TRACE(kLabel, "FC Mapping parameter not found to add to Consistency Group");
                return ZQ_SMIS_OBJECT_NOT_FOUND;
            }
            DEBUG_TRACE_NORMAL(kLabel, "%s FC mapping [%s] to ConsistencyGroup [%s]",
                               params.Operation == SET_OP_ADD ? "Adding" : "Removing",
                               params.SynchronizationPath.c_str(), params.SetName.c_str());
            mapping = CIMObjectPath(String(params.SynchronizationPath));
        }
        call.Add("SynchronizedSet", CIMValue(set));
        call.Add("Operation", CIMValue(Pegasus::Uint16(params.Operation)));
        if (withMapping) call.Add("Synchronization", CIMValue(mapping));
        return int(InvokeSetMethod(conn, call, params.JobPath));
    } catch (...) {
        TraceCaught(kCatch, ZQ_SOURCE_FILE, __LINE__);
    }
    return 1;
}

int SmisAction::DeleteSynchronizedSet(ZqCimConnection& conn, DeleteSynchronizedSet_PARAMS& params) {
    static const char* const kLabel = "DeleteSynchronizedSet";
    static const CatchFrame kCatch{kLabel, kLabel, CatchLine::NameFileLine, CatchLine::NameFileLine,
                                   UnknownLine::NamedLower};
    if (params.SystemName.empty() || params.SetName.empty()) {
        DEBUG_TRACE(kLabel, "%s : insufficient args specified, need:", kLabel);
        DEBUG_TRACE(kLabel, "\tSystemName SetName");
        return ZQ_SMIS_INSUFFICIENT_PARAMS;
    }
    try {
        MethodCall call{kLabel, "DeleteSynchronizedSet", kLabel};
        CIMObjectPath set;
        if (!FindSetAndService(conn, call, params.SystemName, params.SetPath, params.SetName,
                               "IBMTSSVC_FlashCopyStorageSynchronizedSet", set))
            return ZQ_SMIS_OBJECT_NOT_FOUND;
        DEBUG_TRACE_NORMAL(kLabel, "%s: SystemName = %s", kLabel, params.SystemName.c_str());
        DEBUG_TRACE_NORMAL(kLabel, "SynchronizedSet name [%s]", params.SetName.c_str());
        DEBUG_TRACE_NORMAL(kLabel, "SynchronizedSet Path [%s]", GetObjectPathString(set).c_str());
        DEBUG_TRACE_NORMAL(kLabel, "Force [%d]", 1);
        call.Add("Set", CIMValue(set));
        call.Add("Force", CIMValue(true));
        return int(InvokeSetMethod(conn, call, params.JobPath));
    } catch (...) {
        TraceCaught(kCatch, ZQ_SOURCE_FILE, __LINE__);
    }
    return 1;
}
