// SmisAction: the extrinsic call pattern shared by every operation, volume
// resolution and configuration reading.
#include "SmisAction.h"

#include <optional>

#include "ZQPlatformInfo.h"
#include "ZqSmisExceptionTrace.h"
#include "ZqSmisJobState.h"
#include "ZqSmisReturnValue.h"
#include "cim/Exception.h"

using Pegasus::CIMObjectPath;
using Pegasus::String;

ZqCriticalSection SmisAction::m_Lock;

bool IsArgGiven(const std::vector<std::string>& args, size_t pos) {
    return pos < args.size() && args[pos].find("null") == std::string::npos;
}

bool SerializesInvocations(ZQ_PROVIDER_VENDOR vendor) {
    return vendor == VENDOR_LSI || vendor == VENDOR_DCIM || vendor == VENDOR_NETAPP;
}

void SmisAction::MethodCall::Add(const char* name, const Pegasus::CIMValue& value) {
    in.append(Pegasus::CIMParamValue(name, value, true));
}

uint32_t SmisAction::Invoke(ZqCimConnection& conn, MethodCall& call, RetValLine line) {
    {
        std::optional<ZqCriticalSectionLock> serialize;
        if (call.serialized) serialize.emplace(m_Lock);
        const Pegasus::CIMNamespaceName nameSpace = call.nameSpace.isNull() ? conn.GetNameSpace() : call.nameSpace;
        Pegasus::CIMValue value = conn.GetClient().invokeMethod(nameSpace, call.target, call.method, call.in, call.out);
        call.retVal = static_cast<uint32_t>(GetRetVal(value));
    }
    const unsigned v = call.retVal;
    const unsigned n = call.out.size();
    switch (line) {
        case RetValLine::Method:
            DEBUG_TRACE(call.label, "%s: Method, retVal = %u (0x%x)", call.shown, v, v);
            break;
        case RetValLine::OutParams:
            DEBUG_TRACE(call.label, "%s: RetVal = %u (0x%x),  outParams size = %u", call.shown, v, v, n);
            break;
        case RetValLine::OutParamsSpaced:
            DEBUG_TRACE(call.label, "%s : RetVal = %u (0x%x),  OutParams size = %u", call.shown, v, v, n);
            break;
        case RetValLine::OutParamsCapital:
            DEBUG_TRACE(call.label, "%s: RetVal = %u (0x%x),  OutParams size = %u", call.shown, v, v, n);
            break;
    }
    return call.retVal;
}

void SmisAction::ReportProviderError(const char* label, ZQ_PROVIDER_VENDOR vendor, uint32_t retVal) {
    if (vendor != VENDOR_IBMSVC) return;
    const std::string text = GetErrorMessage(retVal, "default");
    DEBUG_TRACE(label, "Error: %s", text.c_str());
    if (logger) logger->setError(retVal, text.c_str());
}

void SmisAction::TraceMethodFailure(const MethodCall& call) {
    DEBUG_TRACE(call.label, "%s: Method failed, retVal = %u (0x%x)", call.shown, unsigned(call.retVal),
                unsigned(call.retVal));
    ReportProviderError(call.label, call.vendor, call.retVal);
    PrintParamSet(call.out, true);
}

int SmisAction::FollowJob(ZqCimConnection& conn, const MethodCall& call, int maxTries, int intervalSeconds) {
    CIMObjectPath job = GetJobHandle(call.out);
    return WatchJob(job, conn, maxTries, intervalSeconds);
}

int SmisAction::CompleteCall(ZqCimConnection& conn, MethodCall& call, int maxTries, int intervalSeconds) {
    if (!call.Accepted()) {
        TraceMethodFailure(call);
        return int(call.retVal);
    }
    if (call.retVal == SMIS_RET_JOB_STARTED) DEBUG_TRACE_NORMAL(call.label, "%s: Job started", call.shown);
    PrintParamSet(call.out, false);
    if (call.retVal == SMIS_RET_SUCCESS || maxTries == kNoWatch) return 0;
    const int state = FollowJob(conn, call, maxTries, intervalSeconds);
    return state == JOB_STATE_COMPLETED ? 0 : state;
}

void SmisAction::TraceCaught(const CatchFrame& frame, const char* file, int line) const {
    auto prefix = [&](CatchLine style) {
        const std::string at =
            std::string(file) + (style == CatchLine::NameColonLine ? ":" : ": ") + std::to_string(line) + ": ";
        switch (style) {
            case CatchLine::FileLine:
                return at;
            case CatchLine::NameFileLine:
                return std::string(frame.name) + ": " + at;
            case CatchLine::NameColonLine:
                return std::string(frame.name) + ":" + at;
            case CatchLine::NameBlankLine:
                return std::string(frame.name) + " " + at;
        }
        return at;
    };
    try {
        throw;
    } catch (const Pegasus::CIMException& e) {
        DEBUG_TRACE(frame.label, "%sCaught CIMException: %s: %s", prefix(frame.cimLine).c_str(),
                    Pegasus::cimStatusCodeToString(e.getCode()).c_str(), e.getMessage().c_str());
    } catch (const Pegasus::Exception& e) {
        DEBUG_TRACE(frame.label, "%sCaught Exception: %s", prefix(frame.otherLine).c_str(), e.getMessage().c_str());
    } catch (const std::exception& e) {
        DEBUG_TRACE(frame.label, "%sCaught Exception: %s", prefix(frame.otherLine).c_str(), e.what());
    } catch (...) {
        switch (frame.unknownLine) {
            case UnknownLine::Plain:
                DEBUG_TRACE(frame.label, "Caught unknown Exception");
                break;
            case UnknownLine::Named:
                DEBUG_TRACE(frame.label, "%s: Caught unknown Exception", frame.name);
                break;
            case UnknownLine::NamedLower:
                DEBUG_TRACE(frame.label, "%s : Caught unknown exception", frame.name);
                break;
            case UnknownLine::FileLine:
                DEBUG_TRACE(frame.label, "%s: %d: Caught unknown Exception", file, line);
                break;
        }
    }
}

CIMObjectPath SmisAction::ResolveVolume(ZqCimConnection& conn, const char* label, const std::string& text,
                                        const std::string* systemName, bool nameInTrace) {
    CIMObjectPath path;
    if (ParseInstancePath(text, path)) return path;
    if (nameInTrace)
        DEBUG_TRACE_NORMAL(label, "Supplied source volume is not a object path, assuming UUID(Name: %s)", text.c_str());
    else
        DEBUG_TRACE_NORMAL(label, "Supplied source volume is not a object path, assuming UUID(Name)");
    // An empty name would match any volume in a substring search.
    if (text.empty()) return CIMObjectPath();
    if (systemName) return GetObjPathByPropName(conn, *systemName, "CIM_StorageVolume", "Name", String(text), true);
    return GetObjPathByPropName(conn, "CIM_StorageVolume", "Name", String(text));
}

CIMObjectPath SmisAction::FindPool(ZqCimConnection& conn, const char* label, ZQ_PROVIDER_VENDOR vendor,
                                   const std::string& systemName, const std::string& poolName) {
    CIMObjectPath pool;
    if (vendor == VENDOR_IBMSVC || vendor == VENDOR_3PAR)
        pool = GetObjPathByPropName(conn, "CIM_StoragePool", "ElementName", String(poolName));
    else
        pool = GetObjPathByPropName(conn, systemName, "CIM_StoragePool", "ElementName", String(poolName), false);
    if (pool.getClassName().isNull())
        DEBUG_TRACE(label, "Class %s: name %s not found", "CIM_StoragePool", poolName.c_str());
    return pool;
}

CIMObjectPath SmisAction::PoolOfVolume(ZqCimConnection& conn, const char* label, const CIMObjectPath& volume) {
    CIMObjectPath pool =
        GetObjPathByAssnProp(conn, volume, "CIM_StoragePool", "CIM_AllocatedFromStoragePool", "InstanceID", "");
    if (pool.getClassName().isNull())
        DEBUG_TRACE(label, "Pool %s: not found for Storage Volume %s", "CIM_StoragePool",
                    GetObjectPathString(volume).c_str());
    return pool;
}

bool SmisAction::FindConfigurationService(ZqCimConnection& conn, const char* label, const std::string& systemName,
                                          CIMObjectPath& service) {
    static const char* const kClass = "CIM_StorageConfigurationService";
    if (ValidateSystemName(conn, systemName, kClass, service)) return true;
    DEBUG_TRACE(label, "Class %s for system %s not found", kClass, systemName.c_str());
    return false;
}

bool SmisAction::PlatformInt(const char* key, int& value) {
    auto info = zq::platform::platformInfo();
    return info && info->getRegInt("HostModule", key, &value) != 0;
}

bool SmisAction::PlatformText(const char* key, std::string& value) {
    auto info = zq::platform::platformInfo();
    return info && info->getString("HostModule", key, &value) != 0;
}

int SmisAction::RecordInt(const char* key, int defaultValue) const {
    int value = defaultValue;
    if (logger) logger->getConfigInt(key, &value);
    return value;
}

std::string SmisAction::RecordText(const char* key) const {
    if (!logger) return std::string();
    char buffer[64] = {};  // the record's text values are names of at most 63 characters
    uint16_t length = sizeof(buffer);
    if (logger->getConfigString(key, buffer, &length) != 0) return std::string();
    return std::string(buffer, std::min<size_t>(length, sizeof(buffer) - 1));
}

int SmisAction::MapGrainSize(const char* label) const {
    int grain = 0;
    if (!PlatformInt("IBMSVC_MAP_GRAIN_SIZE", grain) || grain <= 0) return 0;
    DEBUG_TRACE(label, "Registry Key [IBMSVC_MAP_GRAIN_SIZE], value = [%d].", grain);
    if (grain == 64 || grain == 256) return grain;
    DEBUG_TRACE(label, "Invalid Map Grain Size [%d] provided. Setting the default value 256", grain);
    return 256;
}
