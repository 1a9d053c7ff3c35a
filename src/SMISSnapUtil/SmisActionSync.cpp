// SmisAction: replica synchronization (FlashCopy mappings on IBM SVC):
// attaching a replica, modifying and detaching a synchronization.
#include <cstdlib>
#include <map>

#include "SmisAction.h"
#include "ZqSmisCopyType.h"
#include "ZqSmisExceptionTrace.h"
#include "ZqSmisJobState.h"
#include "ZqSmisReturnValue.h"
#include "ZqSmisSyncOperation.h"
#include "ZqSmisSyncState.h"

using Pegasus::CIMObjectPath;
using Pegasus::CIMValue;
using Pegasus::String;

namespace {

long DecimalPrefix(const std::string& text) { return std::strtol(text.c_str(), nullptr, 10); }

// A rate setting within 0 to 100, else the default 50.
bool ValidRate(int rate) { return rate >= 0 && rate <= 100; }
constexpr int kDefaultRate = 50;

// Copy type a caller asks for to restore a source from its target: a
// reverse mapping that deletes itself once copied.
constexpr long kReverseCopy = 6;

}  // namespace

int SmisAction::AttachModRep(ZqCimConnection& conn, std::vector<std::string>& args, std::string& syncPath) {
    static const char* const kLabel = "SMIS::AttachModRep";
    static const CatchFrame kCatch{kLabel, kLabel, CatchLine::NameColonLine, CatchLine::NameColonLine,
                                   UnknownLine::Named};
    if (args.size() < 4) {
        DEBUG_TRACE(kLabel, "atmodrep: insufficient args specified\n");
        DEBUG_TRACE(kLabel, "need: SystemName CopyType SrcVol RepVol\n");
        return ZQ_SMIS_INSUFFICIENT_PARAMS;
    }
    try {
        const std::string& systemName = args[0];
        MethodCall call{kLabel, nullptr, "AttachOrModifyReplica"};
        if (!FindConfigurationService(conn, kLabel, systemName, call.target)) return ZQ_SMIS_OBJECT_NOT_FOUND;

        const CIMObjectPath source = ResolveVolume(conn, kLabel, args[2], &systemName);
        if (source.getClassName().isNull()) {
            DEBUG_TRACE(kLabel, " LUN UUID %s not found", args[2].c_str());
            return ZQ_SMIS_OBJECT_NOT_FOUND;
        }
        const CIMObjectPath replica = ResolveVolume(conn, kLabel, args[3], &systemName);
        if (replica.getClassName().isNull()) {
            DEBUG_TRACE(kLabel, " LUN UUID %s not found", args[3].c_str());
            return ZQ_SMIS_OBJECT_NOT_FOUND;
        }
        DEBUG_TRACE_NORMAL(kLabel, "SrcVol: %s", GetObjectPathString(source).c_str());
        DEBUG_TRACE_NORMAL(kLabel, "RepVol: [%s]", GetObjectPathString(replica).c_str());
        DEBUG_TRACE_NORMAL(kLabel, "CopyType: [%s]", args[1].c_str());

        call.vendor = ZQProviderVendor::GetVendorId(call.target);
        call.serialized = SerializesInvocations(call.vendor);
        const long requested = DecimalPrefix(args[1]);
        long copyType = requested;
        call.Add("SourceElement", CIMValue(source));
        call.Add("TargetElement", CIMValue(replica));
        const bool attach = call.vendor == VENDOR_HPEVA || call.vendor == VENDOR_IBMSVC;
        call.method = attach ? "AttachReplica" : "AttachOrModifyReplica";

        if (call.vendor == VENDOR_IBMSVC) {
            if (requested == COPY_TYPE_UNSYNC_ASSOC) {
                call.Add("BackgroundCopyRate", CIMValue(Pegasus::Uint16(0)));
                call.Add("CleanRate", CIMValue(Pegasus::Uint16(0)));
                DEBUG_TRACE_NORMAL(kLabel, "Setting Background copy rate to [%d], Clean rate to [%d]", 0, 0);
            } else if (requested == COPY_TYPE_UNSYNC_UNASSOC) {
                static const char* const kCleanKey = "SMCONFIG_NAME_IBMSVC_CLEAN_RATE";
                static const char* const kCopyKey = "SMCONFIG_NAME_IBMSVC_BACKGROUND_COPY_RATE";
                int cleanRate = RecordInt(kCleanKey, kDefaultRate);
                DEBUG_TRACE_NORMAL(kLabel, "Array Config [%s : %d]", kCleanKey, cleanRate);
                if (!ValidRate(cleanRate)) {
                    DEBUG_TRACE_NORMAL(kLabel, "Invalid clean rate, setting to default rate 50");
                    cleanRate = kDefaultRate;
                }
                call.Add("CleanRate", CIMValue(Pegasus::Sint32(cleanRate)));
                int copyRate = RecordInt(kCopyKey, kDefaultRate);
                PlatformInt("IBMSVC_FC_BACKGROUNDCOPYRATE", copyRate);
                if (!ValidRate(copyRate)) {
                    DEBUG_TRACE_NORMAL(kLabel, "Invalid background rate, setting to default rate 50");
                    copyRate = kDefaultRate;
                } else {
                    DEBUG_TRACE_NORMAL(kLabel, "Array Config [%s : %d]", kCopyKey, copyRate);
                }
                call.Add("BackgroundCopyRate", CIMValue(Pegasus::Uint16(copyRate)));
            }
            if (requested == kReverseCopy) {
                DEBUG_TRACE_NORMAL(kLabel, "Reverse FlashCopy requested, enabling FlashCopy mapping autodelete");
                copyType = COPY_TYPE_UNSYNC_UNASSOC;
            } else {
                if (requested == COPY_TYPE_UNSYNC_UNASSOC) call.Add("Incremental", CIMValue(true));
                copyType = COPY_TYPE_UNSYNC_ASSOC;
            }
            call.Add("ElementName", CIMValue(String(GetCIMProp(conn, replica, "ElementName"))));
            if (const int grain = MapGrainSize(kLabel)) {
                DEBUG_TRACE_NORMAL(kLabel, "Setting the Map GrainSize = [%d]", grain);
                call.Add("GrainSize", CIMValue(Pegasus::Uint16(grain)));
            }
        }
        call.Add("CopyType", CIMValue(Pegasus::Uint16(copyType)));

        Invoke(conn, call, RetValLine::OutParams);
        if (const int result = CompleteCall(conn, call, 1500, 45)) return result;
        syncPath = GetObjectPathString(GetSyncPath(conn, conn.GetNameSpace().getString(), systemName, source, replica));
        return 0;
    } catch (...) {
        TraceCaught(kCatch, ZQ_SOURCE_FILE, __LINE__);
    }
    return 1;
}

int SmisAction::ModifySync(ZqCimConnection& conn, std::vector<std::string>& args, bool noWait,
                           const std::map<std::string, std::string>* known) {
    static const char* const kLabel = "SMIS::ModifySync";
    static const CatchFrame kCatch{kLabel, kLabel, CatchLine::FileLine, CatchLine::FileLine, UnknownLine::Named};
    if (args.size() < 4) {
        DEBUG_TRACE(kLabel, "modsync: Insufficient params specified");
        DEBUG_TRACE(kLabel, "    need: SystemName OpType SrcVol RepVol");
        return ZQ_SMIS_INSUFFICIENT_PARAMS;
    }
    try {
        const std::string& systemName = args[0];
        MethodCall call{kLabel, "ModifySynchronization", "ModifySync"};
        if (!FindConfigurationService(conn, kLabel, systemName, call.target)) return ZQ_SMIS_OBJECT_NOT_FOUND;
        call.vendor = ZQProviderVendor::GetVendorId(call.target);

        int tries = 60;
        int seconds = 10;
        if (call.vendor == VENDOR_3PAR) {
            tries = 720;
            seconds = 10;
            int value = 0;
            if (PlatformInt("n3PARJobRetryCount", value) && value != 0) tries = value;
            value = 0;
            if (PlatformInt("n3PARJobWaitSeconds", value) && value != 0) seconds = value;
        }

        const CIMObjectPath source = ResolveVolume(conn, kLabel, args[2], nullptr, true);
        if (source.getClassName().isNull()) {
            DEBUG_TRACE(kLabel, "Class %s: Instance not found for Source volume Name %s", "CIM_StorageVolume",
                        args[2].c_str());
            return ZQ_SMIS_OBJECT_NOT_FOUND;
        }
        DEBUG_TRACE_NORMAL(kLabel, "\tSourceVolume: %s", GetObjectPathString(source).c_str());
        const CIMObjectPath replica = ResolveVolume(conn, kLabel, args[3], nullptr);
        if (replica.getClassName().isNull()) {
            DEBUG_TRACE(kLabel, "Class %s: Instance not found for Replicated volume Name %s", "CIM_StorageVolume",
                        args[3].c_str());
            return ZQ_SMIS_OBJECT_NOT_FOUND;
        }
        DEBUG_TRACE_NORMAL(kLabel, "RepVol: %s", GetObjectPathString(replica).c_str());

        const CIMObjectPath sync = GetSyncPath(conn, conn.GetNameSpace().getString(), systemName, source, replica);
        if (sync.getClassName().isNull()) {
            DEBUG_TRACE(kLabel, "Modsync operation failed due to empty sync path");
            return ZQ_SMIS_OBJECT_NOT_FOUND;
        }
        DEBUG_TRACE_NORMAL(kLabel, "\tSync Path: %s", GetObjectPathString(sync).c_str());

        const Pegasus::Uint16 operation = Pegasus::Uint16(DecimalPrefix(args[1]));
        if (call.vendor == VENDOR_3PAR && operation == SYNC_OP_DETACH) {
            DEBUG_TRACE(kLabel, "Going to perform 3PAR ReSync peration");
            Pegasus::Array<Pegasus::CIMParamValue> resync;
            resync.append(Pegasus::CIMParamValue("Operation", CIMValue(Pegasus::Uint16(SYNC_OP_RESYNC)), true));
            resync.append(Pegasus::CIMParamValue("Synchronization", CIMValue(sync), true));
            if (const int result = ReSync(conn, conn.GetNameSpace(), call.target, resync)) return result;
        }

        DEBUG_TRACE_NORMAL(kLabel, "Going to perform ModSync [%s] operation", args[1].c_str());
        call.Add("Operation", CIMValue(operation));
        call.Add("Synchronization", CIMValue(sync));
        if (call.vendor == VENDOR_IBMSVC) {
            if (operation == SYNC_OP_DETACH || operation == SYNC_OP_IBMSVC_0X8001 || operation == SYNC_OP_STOP) {
                bool force = true;
                if (operation == SYNC_OP_STOP) {
                    std::map<std::string, std::string> props{{"SyncState", ""}, {"CopyRate", ""}};
                    if (known && known->count("SyncState") && known->count("CopyRate")) {
                        props["SyncState"] = known->at("SyncState");
                        props["CopyRate"] = known->at("CopyRate");
                    } else {
                        GetCIMPropList(conn, sync, props);
                    }
                    const std::string& stateText = props["SyncState"];
                    const std::string& rateText = props["CopyRate"];
                    const long state = DecimalPrefix(stateText);
                    const long rate = DecimalPrefix(rateText);
                    int enableSeStop = 0;
                    // A forced stop also stops the mappings that depend on this one: not
                    // unless configured.
                    int disableStop = 1;
                    PlatformInt("nIBMSVCEnableForceSEFCStop", enableSeStop);
                    PlatformInt("nIBMSVCDisableForceFCStop", disableStop);
                    DEBUG_TRACE_NORMAL(kLabel, "Background copy rate [%s] Sync state [%s] for [%s] ", rateText.c_str(),
                                       stateText.c_str(), GetObjectPathString(sync).c_str());
                    DEBUG_TRACE_NORMAL(
                        kLabel, "Regkeys nIBMSVCEnableForceSEFCStop [%lu] nIBMSVCDisableForceFCStop [%lu]",
                        static_cast<unsigned long>(enableSeStop), static_cast<unsigned long>(disableStop));
                    if (state == SYNC_STATE_IDLE || state == SYNC_STATE_SYNCHRONIZED ||
                        (enableSeStop == 0 && rate == 0) || (disableStop == 1 && rate > 0))
                        force = false;
                }
                call.Add("Force", CIMValue(force));
                DEBUG_TRACE_NORMAL(kLabel, "Option force [%d] selected for IBMSVC ModifySync opertion", int(force));
            }
            if (args.size() > 4 && args[4] == "Restore") call.Add("Restore", CIMValue(true));
        }

        DEBUG_TRACE_NORMAL(kLabel, "%s: [Method - %s] [Job retry count - %d] [Job wait seconds - %d]", kLabel,
                           "ModifySync", tries, seconds);
        PrintParamSet(call.in, false);

        Invoke(conn, call, RetValLine::OutParams);
        return CompleteCall(conn, call, noWait ? kNoWatch : tries, seconds);
    } catch (...) {
        TraceCaught(kCatch, ZQ_SOURCE_FILE, __LINE__);
    }
    return 1;
}

int SmisAction::ReSync(ZqCimConnection& conn, const Pegasus::CIMNamespaceName& ns, const CIMObjectPath& service,
                       const Pegasus::Array<Pegasus::CIMParamValue>& inParams) {
    static const char* const kLabel = "SMIS::ReSync";
    MethodCall call{kLabel, "ModifySynchronization", "Resync"};
    call.target = service;
    call.nameSpace = ns;
    call.in = inParams;
    const uint32_t retVal = Invoke(conn, call, RetValLine::OutParams);
    if (retVal == SMIS_RET_JOB_STARTED) DEBUG_TRACE(kLabel, "%s: Job started", call.shown);
    PrintParamSet(call.out, false);
    if (retVal == SMIS_RET_SUCCESS) return 0;
    if (retVal != SMIS_RET_JOB_STARTED) return int(retVal);
    const int state = FollowJob(conn, call, 60, 1);
    return state == JOB_STATE_COMPLETED ? 0 : state;
}

int SmisAction::DetachVol(ZqCimConnection& conn, std::vector<std::string>& args) {
    static const char* const kLabel = "SMIS::DetachVol";
    static const CatchFrame kCatch{kLabel, kLabel, CatchLine::FileLine, CatchLine::FileLine, UnknownLine::Named};
    if (args.size() < 3) {
        DEBUG_TRACE(kLabel, "detachvol: Insufficient params specified");
        DEBUG_TRACE(kLabel, "    need: SystemName SrcVolumeID RepVolumeID");
        return ZQ_SMIS_INSUFFICIENT_PARAMS;
    }
    try {
        std::vector<std::string> modify{args[0], std::to_string(SYNC_OP_DETACH), args[1], args[2]};
        return ModifySync(conn, modify, false);
    } catch (...) {
        TraceCaught(kCatch, ZQ_SOURCE_FILE, __LINE__);
    }
    return 1;
}
