// SmisAction: exposing volumes to host initiators, hiding them again, and
// asking whether a volume is exposed to a host.
#include <type_traits>

#include "SmisAction.h"
#include "ZqSmisExceptionTrace.h"
#include "ZqSmisReturnValue.h"
#include "ZqSmisSettings.h"
#include "cim/Exception.h"

using Pegasus::Array;
using Pegasus::CIMObjectPath;
using Pegasus::CIMValue;
using Pegasus::String;

namespace {

// Every element followed by one blank.
template <class T>
std::string ListText(const Array<T>& list) {
    std::string text;
    for (Pegasus::Uint32 i = 0; i < list.size(); ++i) {
        if constexpr (std::is_same<T, String>::value)
            text += list[i].toStdString();
        else
            text += std::to_string(list[i]);
        text += ' ';
    }
    return text;
}

CIMValue StringsOrNull(const Array<String>& list) {
    return list.size() > 0 ? CIMValue(list) : CIMValue(Pegasus::CIMTYPE_STRING, true);
}

CIMValue ReferencesOrNull(const Array<CIMObjectPath>& list) {
    return list.size() > 0 ? CIMValue(list) : CIMValue(Pegasus::CIMTYPE_REFERENCE, true);
}

// "Force" of an IBM SVC host mapping call: on unless `disableKey` says so.
CIMValue ForceValue(const char* disableKey) {
    return CIMValue(!(ZqSmisSettings::GetHostModuleInt(disableKey, 0) > 0));
}

// One controller of a list, as a list of its own.
Array<CIMObjectPath> Only(const CIMObjectPath& controller) {
    Array<CIMObjectPath> one;
    one.append(controller);
    return one;
}

}  // namespace

int SmisAction::ExposePaths(ZqCimConnection& conn, std::vector<std::string>& args) {
    static const char* const kLabel = "SMIS::ExposePaths";
    static const char* const kMethod = "ExposePaths";
    static const CatchFrame kCatch{kLabel, kMethod, CatchLine::NameBlankLine, CatchLine::FileLine, UnknownLine::Named};
    // Without a volume there is nothing to expose.
    if (args.size() < 3 || Tokenize(args[1], ',').empty()) {
        DEBUG_TRACE(kLabel, "%s: lunmap: Insufficient params specified, need:", kMethod);
        DEBUG_TRACE(kLabel,
                    "\tSystemName LunNameList InitiatorPortList [DevNumList DevAccList TargetPortList "
                    "ViewCtlrList]");
        DEBUG_TRACE(kLabel, "\t\tDeviceAccess: 2 = rw, 3 = ro, 4 = none");
        DEBUG_TRACE(kLabel, "\t\t\tLists are comma-delimited");
        return ZQ_SMIS_INSUFFICIENT_PARAMS;
    }
    try {
        const std::string& systemName = args[0];
        const Array<String> volumes = InputToStringArray(args[1], ',');
        Array<String> initiators = IsArgGiven(args, 2) ? InputToStringArray(args[2], ',') : Array<String>();
        const bool hasNumbers = IsArgGiven(args, 3);
        const bool hasAccesses = IsArgGiven(args, 4);
        Array<String> numbers = hasNumbers ? InputToStringArray(args[3], ',') : Array<String>();
        const Array<Pegasus::Uint16> accesses = hasAccesses ? InputToIntArray(args[4], ',') : Array<Pegasus::Uint16>();
        Array<String> targetPorts = IsArgGiven(args, 5) ? InputToStringArray(args[5], ',') : Array<String>();
        // Argument problems never reach the provider.
        if (hasNumbers && numbers.size() != volumes.size()) {
            DEBUG_TRACE(kLabel, "%s array size mismatch with %s: %d not == %d", "DevNum", "Volume", int(numbers.size()),
                        int(volumes.size()));
            return SMIS_RET_INVALID_PARAMETER;
        }
        if (hasAccesses && accesses.size() != volumes.size()) {
            DEBUG_TRACE(kLabel, "%s array size mismatch with %s: %d not == %d", "DeviceAccess", "Volume",
                        int(accesses.size()), int(volumes.size()));
            return SMIS_RET_INVALID_PARAMETER;
        }

        MethodCall call{kLabel, kMethod, kMethod};
        const CIMObjectPath system = GetSystemObjPathByNameProp(conn, systemName);
        if (system.getClassName().isNull()) return ZQ_SMIS_OBJECT_NOT_FOUND;
        call.vendor = ZQProviderVendor::GetVendorId(system);

        Array<CIMObjectPath> controllers;
        if (!IsArgGiven(args, 6)) {
            if (call.vendor == VENDOR_IBMSVC) controllers = GetIBMSVCCtlrListByHwIDs(conn, system, initiators);
            DEBUG_TRACE_NORMAL(kLabel, "%s: ViewController List size [%d]", kMethod, int(controllers.size()));
            if (controllers.size() == 0)
                DEBUG_TRACE_NORMAL(kLabel,
                                   "No views found for the HBA port(s) [%s], going to create new view. This method "
                                   "may fail",
                                   args[2].c_str());
        }

        DEBUG_TRACE_NORMAL(kLabel, "%s: SystemName = %s", kMethod, systemName.c_str());
        DEBUG_TRACE_NORMAL(kLabel, "HBA ports: %s", ListText(initiators).c_str());
        DEBUG_TRACE_NORMAL(kLabel, "LUNs: %s", ListText(volumes).c_str());
        if (hasNumbers) DEBUG_TRACE_NORMAL(kLabel, "DevNums: %s", ListText(numbers).c_str());
        if (hasAccesses) DEBUG_TRACE_NORMAL(kLabel, "Device Access: %s", ListText(accesses).c_str());
        if (targetPorts.size() > 0) {
            DEBUG_TRACE_NORMAL(kLabel, "Target Ports: ");
            DEBUG_TRACE_NORMAL(kLabel, "Target Ports: %s", ListText(targetPorts).c_str());
        }

        call.target = GetCtlrservicePath(conn, system);
        if (call.target.getClassName().isNull()) return ZQ_SMIS_OBJECT_NOT_FOUND;

        if (args.size() > 6) {
            DEBUG_TRACE_NORMAL(kLabel, "Getting view controllers from the arguments passed in");
            controllers.clear();
            if (IsArgGiven(args, 6))
                controllers = GetSystemObjPathListByPropList(conn, system, StringToVector(args[6], ','));
        }
        if (controllers.size() > 0) {
            DEBUG_TRACE_NORMAL(kLabel, " Clearing initiator port list as requirement by %s", kMethod);
            initiators.clear();
            if (call.vendor == VENDOR_FUJITSU) {
                targetPorts.clear();
                numbers.clear();
            }
        }
        const bool newView = controllers.size() == 0;

        // The host's ports may sit in several host objects: the volume is
        // exposed through each of them, one call per controller.
        const Pegasus::Uint32 calls = newView ? 1 : controllers.size();
        if (calls > 1)
            DEBUG_TRACE_NORMAL(kLabel, "%s: exposing through each of [%d] view controllers", kMethod, int(calls));
        for (Pegasus::Uint32 c = 0; c < calls; ++c) {
            MethodCall each = call;
            each.Add("LUNames", CIMValue(volumes));
            each.Add("InitiatorPortIDs", StringsOrNull(initiators));
            each.Add("TargetPortIDs", StringsOrNull(targetPorts));
            each.Add("DeviceNumbers", StringsOrNull(numbers));
            each.Add("DeviceAccesses",
                     accesses.size() > 0 ? CIMValue(accesses) : MakeCimNullVal(Pegasus::CIMTYPE_UINT16, true));
            if (each.vendor == VENDOR_IBMSVC) each.Add("Force", ForceValue("IBMSVC_DISABLE_FORCE_MAP"));
            each.Add("ProtocolControllers", newView ? ReferencesOrNull(controllers) : CIMValue(Only(controllers[c])));

            const uint32_t retVal = Invoke(conn, each, RetValLine::OutParamsCapital);
            if (retVal != SMIS_RET_SUCCESS && retVal != SMIS_RET_JOB_STARTED && newView) {
                PrintParamSet(each.out, true);
                return SMIS_RET_EXPOSE_INVALID_INITIATOR;
            }
            if (retVal != SMIS_RET_SUCCESS) {
                DEBUG_TRACE(kLabel, "%s: Method failed, retVal = %u (0x%x)", kMethod, unsigned(retVal),
                            unsigned(retVal));
                PrintParamSet(each.out, true);
                return int(retVal);
            }
            PrintParamSet(each.out, false);
        }
        return 0;
    } catch (...) {
        TraceCaught(kCatch, ZQ_SOURCE_FILE, __LINE__);
    }
    return 1;
}

int SmisAction::HidePaths(ZqCimConnection& conn, std::vector<std::string>& args) {
    static const char* const kLabel = "SMIS::HidePaths";
    static const char* const kMethod = "HidePaths";
    static const CatchFrame kCatch{kLabel, kMethod, CatchLine::NameFileLine, CatchLine::NameFileLine,
                                   UnknownLine::NamedLower};
    if (args.size() < 2 || Tokenize(args[1], ',').empty()) {
        DEBUG_TRACE(kLabel, "%s : unmaplun: insufficient args specified, need:", kMethod);
        DEBUG_TRACE(kLabel, "\tSystemName VolNameList [InitiatorPortList TargetPortList ViewCtlrList]");
        DEBUG_TRACE(kLabel, "\t\tLists are comma-delimited");
        return ZQ_SMIS_INSUFFICIENT_PARAMS;
    }
    try {
        const std::string& systemName = args[0];
        const Array<String> volumes = InputToStringArray(args[1], ',');
        Array<String> initiators = IsArgGiven(args, 2) ? InputToStringArray(args[2], ',') : Array<String>();
        Array<String> targetPorts = IsArgGiven(args, 3) ? InputToStringArray(args[3], ',') : Array<String>();
        const bool hasViewNames = IsArgGiven(args, 4);
        Array<CIMObjectPath> volumePaths;
        if (IsArgGiven(args, 5)) volumePaths.append(CIMObjectPath(String(args[5])));

        DEBUG_TRACE_NORMAL(kLabel, "%s: SystemName = %s", kMethod, systemName.c_str());
        DEBUG_TRACE_NORMAL(kLabel, "Volumes: size [%d] %s", int(volumes.size()), ListText(volumes).c_str());
        if (initiators.size() > 0)
            DEBUG_TRACE_NORMAL(kLabel, "HBA ports(%d): %s", int(initiators.size()), ListText(initiators).c_str());
        if (targetPorts.size() > 0) DEBUG_TRACE_NORMAL(kLabel, "Target Ports: %s", ListText(targetPorts).c_str());
        std::string pathsText;
        for (Pegasus::Uint32 i = 0; i < volumePaths.size(); ++i) pathsText += GetObjectPathString(volumePaths[i]) + " ";
        DEBUG_TRACE_NORMAL(kLabel, "Volume paths: size [%d] %s", int(volumePaths.size()), pathsText.c_str());

        MethodCall call{kLabel, kMethod, kMethod};
        const CIMObjectPath system = GetSystemObjPathByNameProp(conn, systemName);
        if (system.getClassName().isNull()) return ZQ_SMIS_OBJECT_NOT_FOUND;

        Array<CIMObjectPath> controllers;
        if (!hasViewNames) {
            bool asked = false;
            if (volumes.size() == 1 && volumePaths.size() == 1) {
                DEBUG_TRACE_NORMAL(kLabel, "Controller paths processing with volume path list");
                asked = GetCtlrPathList(conn, system, volumePaths, initiators, controllers);
            } else {
                DEBUG_TRACE_NORMAL(kLabel, "Controller paths processing with volume name list");
                asked = GetCtlrPathList(conn, system, volumes, initiators, controllers);
            }
            // Not knowing where the volume is mapped is no proof that it is not.
            if (!asked) return 1;
            DEBUG_TRACE_NORMAL(kLabel, "HidePaths : viewCtlrList size [%d]", int(controllers.size()));
            if (controllers.size() == 0) {
                DEBUG_TRACE(kLabel, "Can not unmap the volume, not mapped to the host");
                return ZQ_SMIS_MAPPING_NOT_FOUND;
            }
            DEBUG_TRACE_NORMAL(kLabel, "HidePaths : viewCtlr %s", GetObjectPathString(controllers[0]).c_str());
        }

        call.target = GetCtlrservicePath(conn, system);
        if (call.target.getClassName().isNull()) return ZQ_SMIS_OBJECT_NOT_FOUND;
        call.vendor = ZQProviderVendor::GetVendorId(call.target);

        if (controllers.size() > 0) initiators.clear();
        if (call.vendor == VENDOR_FUJITSU) {
            initiators.clear();
            targetPorts.clear();
        }

        // Every host object of this host's ports that maps the volume lets
        // it go, one call per controller; the first refusal ends the call.
        const Pegasus::Uint32 calls = controllers.size() > 0 ? controllers.size() : 1;
        if (calls > 1)
            DEBUG_TRACE_NORMAL(kLabel, "HidePaths : hiding through each of [%d] view controllers", int(calls));
        uint32_t retVal = SMIS_RET_SUCCESS;
        for (Pegasus::Uint32 c = 0; c < calls && retVal == SMIS_RET_SUCCESS; ++c) {
            MethodCall each = call;
            each.Add("LUNames", CIMValue(volumes));
            each.Add("InitiatorPortIDs", StringsOrNull(initiators));
            each.Add("TargetPortIDs", StringsOrNull(targetPorts));
            if (each.vendor == VENDOR_IBMSVC) each.Add("Force", ForceValue("IBMSVC_DISABLE_FORCE_UNMAP"));
            each.Add("ProtocolControllers",
                     controllers.size() > 0 ? CIMValue(Only(controllers[c])) : ReferencesOrNull(controllers));
            retVal = Invoke(conn, each, RetValLine::OutParamsSpaced);
            if (retVal == SMIS_RET_SUCCESS) {
                PrintParamSet(each.out, false);
            } else {
                DEBUG_TRACE(kLabel, "%s : Failed...", kMethod);
                PrintParamSet(each.out, true);
            }
        }
        return int(retVal);
    } catch (...) {
        TraceCaught(kCatch, ZQ_SOURCE_FILE, __LINE__);
    }
    return 1;
}

int SmisAction::IsLunMapped(ZqCimConnection& conn, std::vector<std::string>& args) {
    static const char* const kLabel = "SMIS::IsLunMapped";
    static const CatchFrame kCatch{kLabel, "IsLunMapped", CatchLine::FileLine, CatchLine::FileLine, UnknownLine::Plain};
    if (args.size() < 3) {
        DEBUG_TRACE(kLabel, "chklunmap: Insufficient params specified");
        DEBUG_TRACE(kLabel, "    need: SystemName volName initiatorPortsList");
        DEBUG_TRACE(kLabel, "\t List is comma delimited");
        return ZQ_SMIS_INSUFFICIENT_PARAMS;
    }
    try {
        const CIMObjectPath system = GetSystemObjPathByNameProp(conn, args[0]);
        if (system.getClassName().isNull()) {
            DEBUG_TRACE(kLabel, "SystemName <%s> not found", args[0].c_str());
            return ZQ_SMIS_OBJECT_NOT_FOUND;
        }
        const CIMObjectPath volume = ResolveVolume(conn, kLabel, args[1], nullptr);
        std::string name;
        bool found = !volume.getClassName().isNull();
        if (found) {
            try {
                name = GetCIMProp(conn.GetInstance(volume), "ElementName");
            } catch (const Pegasus::CIMException& e) {
                if (e.getCode() != Pegasus::CIM_ERR_NOT_FOUND) throw;
                found = false;
            }
        }
        if (!found) {
            DEBUG_TRACE(kLabel, "Storage Volume <%s> not found", args[1].c_str());
            return ZQ_SMIS_VOLUME_NOT_FOUND;
        }
        DEBUG_TRACE_NORMAL(kLabel, "vols : %s", GetObjectPathString(volume).c_str());
        const Array<String> initiators = IsArgGiven(args, 2) ? InputToStringArray(args[2], ',') : Array<String>();
        DEBUG_TRACE_NORMAL(kLabel, "HBA ports : %s", ListText(initiators).c_str());

        Array<CIMObjectPath> volumes;
        volumes.append(volume);
        Array<CIMObjectPath> anyHost;
        if (!GetCtlrPathList(conn, system, volumes, Array<String>(), anyHost)) return 1;
        if (initiators.size() == 0) {
            if (anyHost.size() == 0) {
                DEBUG_TRACE_NORMAL(kLabel, "No mapping found for StorageVolume <%s>", name.c_str());
                return ZQ_SMIS_MAPPING_NOT_FOUND;
            }
        } else {
            Array<CIMObjectPath> thisHost;
            if (!GetCtlrPathList(conn, system, volumes, initiators, thisHost)) return 1;
            if (anyHost.size() == 0 && thisHost.size() == 0) {
                DEBUG_TRACE_NORMAL(kLabel, "Storage Volume <%s> not mapped to any host", name.c_str());
                return ZQ_SMIS_MAPPING_NOT_FOUND;
            }
            if (thisHost.size() == 0) {
                DEBUG_TRACE(kLabel, "Storage Volume <%s> mapped to another host", name.c_str());
                return ZQ_SMIS_HOST_MAPPINGS_FOUND;
            }
        }
        DEBUG_TRACE_NORMAL(kLabel, "Storage Volume <%s> found mappings for the Host", name.c_str());
        return 0;
    } catch (...) {
        TraceCaught(kCatch, ZQ_SOURCE_FILE, __LINE__);
    }
    return 1;
}
