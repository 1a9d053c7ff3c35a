// SmisAction: creating a volume like a source volume, and returning a
// volume to its pool.
#include <cerrno>
#include <cstdlib>
#include <map>

#include "SmisAction.h"
#include "ZQPlatformInfo.h"
#include "ZqSmisElementType.h"
#include "ZqSmisExceptionTrace.h"
#include "ZqSmisJobState.h"
#include "ZqSmisPoolStatus.h"
#include "ZqSmisReturnValue.h"
#include "cim/CIMPropertyList.h"
#include "cim/Exception.h"

using Pegasus::Array;
using Pegasus::CIMInstance;
using Pegasus::CIMObjectPath;
using Pegasus::CIMValue;
using Pegasus::String;

namespace {

// IBM SVC volume kinds of the creation list.
const char* const kKindSnapshot = "4";      // space-efficient snapshot target
const char* const kKindThick = "5";         // fully allocated target
const char* const kKindThinClone = "6";     // space-efficient clone target
const char* const kKindSnapshotOfSe = "7";  // snapshot target of a space-efficient source

bool IsSpaceEfficientKind(const std::string& kind) {
    return kind == kKindSnapshot || kind == kKindThinClone || kind == kKindSnapshotOfSe;
}

// A whole unsigned decimal text.
bool ParseUnsigned(const std::string& text, uint64_t& value) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
    errno = 0;
    value = std::strtoull(text.c_str(), nullptr, 10);
    return errno != ERANGE;
}

// Value text of a property of the instance; false when it has none.
bool PropertyText(const CIMInstance& instance, const char* name, std::string& text) {
    const Pegasus::Uint32 index = instance.findProperty(name);
    if (index == PEG_NOT_FOUND || instance.getProperty(index).getValue().isNull()) return false;
    text = instance.getProperty(index).getValue().toString().toStdString();
    return true;
}

}  // namespace

int SmisAction::CreateStorageVolParams(ZqCimConnection& conn, std::vector<std::string>& request,
                                       std::string sourceVolume, std::vector<std::string>& creation) {
    static const char* const kLabel = "SMIS::CreateStorageVolParams";
    static const CatchFrame kCatch{kLabel, kLabel, CatchLine::FileLine, CatchLine::FileLine, UnknownLine::FileLine};
    if (request.size() < 3) {
        DEBUG_TRACE(kLabel, "createvol: insufficient args specified\n");
        DEBUG_TRACE(kLabel, "need: SystemName NewVolName DGName\n");
        return ZQ_SMIS_INSUFFICIENT_PARAMS;
    }
    try {
        const std::string& systemName = request[0];
        const std::string& poolName = request[2];
        const CIMObjectPath source = ResolveVolume(conn, kLabel, sourceVolume, nullptr);
        if (source.getClassName().isNull()) {
            DEBUG_TRACE(kLabel, " LUN UUID %s not found", sourceVolume.c_str());
            return ZQ_SMIS_OBJECT_NOT_FOUND;
        }
        const ZQ_PROVIDER_VENDOR vendor = ZQProviderVendor::GetVendorId(source);
        DEBUG_TRACE_NORMAL(kLabel, "SrcVol: %s", GetObjectPathString(source).c_str());

        CIMObjectPath pool;
        // The pool is read once for its name and its status; a failed read leaves both empty.
        CIMInstance poolInstance;
        bool poolRead = false;
        auto poolProp = [&](const char* name) {
            if (!poolRead) {
                poolRead = true;
                try {
                    poolInstance = conn.GetInstance(pool);
                } catch (...) {
                    TraceCaughtException(*this, "SMIS::GetCIMProp", ZQ_SOURCE_FILE, __LINE__);
                }
            }
            return GetCIMProp(poolInstance, name);
        };
        std::string poolLabel = poolName;
        if (poolName == "null") {
            pool = PoolOfVolume(conn, kLabel, source);
            if (pool.getClassName().isNull()) return ZQ_SMIS_OBJECT_NOT_FOUND;
            poolLabel = poolProp("ElementName");
            DEBUG_TRACE_NORMAL(kLabel, "Source Volume Pool: [%s] FriendlyName [%s]\n",
                               GetObjectPathString(pool).c_str(), poolLabel.c_str());
            DEBUG_TRACE_NORMAL(kLabel,
                               " No Device Group specified, Going to use Source Volume's DG [%s] as Target Pool \n",
                               poolLabel.c_str());
        } else {
            pool = FindPool(conn, kLabel, vendor, systemName, poolName);
            if (pool.getClassName().isNull()) return ZQ_SMIS_OBJECT_NOT_FOUND;
            DEBUG_TRACE_NORMAL(kLabel, "Target Pool: %s FriendlyName %s\n", GetObjectPathString(pool).c_str(),
                               poolName.c_str());
        }

        int skipPoolCheck = 0;
        PlatformInt("nIBMSVCDisablePoolCheck", skipPoolCheck);
        if (skipPoolCheck != 0) {
            DEBUG_TRACE(kLabel, "Pool online check skipped due to registry override");
        } else if (vendor == VENDOR_IBMSVC) {
            const std::string status = poolProp("NativeStatus");
            if (status == POOL_NATIVE_STATUS_OFFLINE || status == POOL_NATIVE_STATUS_UNUSABLE) {
                DEBUG_TRACE(kLabel, "Source Volume Pool: [%s] is not online. Native Status is [%s].",
                            GetObjectPathString(pool).c_str(), status.c_str());
                return 1;
            }
        }

        const CIMInstance sourceInstance = conn.GetInstance(source);
        std::string blockSizeText;
        std::string blocksText;
        uint64_t blockSize = 0;
        uint64_t blocks = 0;
        if (!PropertyText(sourceInstance, "BlockSize", blockSizeText) || !ParseUnsigned(blockSizeText, blockSize)) {
            DEBUG_TRACE(kLabel, " Can not get BlockSize of source volume %s", GetObjectPathString(source).c_str());
            return ZQ_SMIS_OBJECT_NOT_FOUND;
        }
        if (!PropertyText(sourceInstance, "NumberOfBlocks", blocksText) || !ParseUnsigned(blocksText, blocks)) {
            DEBUG_TRACE(kLabel, " Can not get NumberOfBlocks source volume %s", GetObjectPathString(source).c_str());
            return ZQ_SMIS_OBJECT_NOT_FOUND;
        }
        if (blockSize == 0 || blocks == 0 || blocks > UINT64_MAX / blockSize) {
            DEBUG_TRACE(kLabel, " Source volume %s has no usable size: BlockSize [%s] NumberOfBlocks [%s]",
                        GetObjectPathString(source).c_str(), blockSizeText.c_str(), blocksText.c_str());
            return ZQ_SMIS_OBJECT_NOT_FOUND;
        }
        const std::string size = std::to_string(blockSize * blocks);

        bool sourceSpaceEfficient = false;
        if (vendor == VENDOR_IBMSVC) {
            std::string text;
            if (PropertyText(sourceInstance, "IsSpaceEfficient", text))
                sourceSpaceEfficient = Pegasus::equalNoCaseAscii(text, "TRUE");
            else
                DEBUG_TRACE(kLabel,
                            " Can not find IsSpaceEfficient property of source volume %s, going ahead with generic "
                            "volume",
                            GetObjectPathString(source).c_str());
        }

        DEBUG_TRACE_NORMAL(kLabel, " Going to create LUN [%s] of size [%s] Bytes in Disk Group [%s]",
                           request[1].c_str(), size.c_str(), poolLabel.c_str());
        // Handed out only when complete.
        std::vector<std::string> list{systemName, request[1], GetObjectPathString(pool), size, "null"};
        if (vendor != VENDOR_IBMSVC) {
            creation.insert(creation.end(), list.begin(), list.end());
            return 0;
        }

        // The kind is always appended, so the I/O group and node keep positions 6 and 7.
        std::string kind = "null";
        if (IsArgGiven(request, 3)) {
            int forced = 0;
            PlatformInt("IBMSVC_VDISK_TYPE", forced);
            static const char* const kThinKey = "SMCONFIG_NAME_ENABLE_THIN_PROVISIONING";
            const int thin = RecordInt(kThinKey, 0);
            DEBUG_TRACE_NORMAL(kLabel, "Array Config [%s : %d]", kThinKey, thin);
            kind = request[3];
            const bool keep = (!sourceSpaceEfficient || forced == 1) && forced != 2 && (thin == 0 || forced == 1);
            if (!keep) {
                if (kind == kKindThick)
                    kind = kKindThinClone;
                else if (kind == kKindSnapshot && sourceSpaceEfficient)
                    kind = kKindSnapshotOfSe;
                else
                    kind = kKindSnapshot;
            }
        }
        list.push_back(kind);
        AppendIOGroupAndNode(conn, sourceInstance, systemName, list);

        if (kind == kKindThick) {
            CIMObjectPath goal;
            if (CheckAndGetTargetGoal(conn, goal)) {
                DEBUG_TRACE_NORMAL(kLabel, "Using [%s] as target volume setting goal.",
                                   GetObjectPathString(goal).c_str());
                list[4] = GetObjectPathString(goal);
            } else if (!FirmwareAllowsThickWithoutGoal(conn, systemName)) {
                return 1;
            }
        }
        creation.insert(creation.end(), list.begin(), list.end());
        return 0;
    } catch (...) {
        TraceCaught(kCatch, ZQ_SOURCE_FILE, __LINE__);
    }
    return 1;
}

void SmisAction::AppendIOGroupAndNode(ZqCimConnection& conn, const CIMInstance& source, const std::string& systemName,
                                      std::vector<std::string>& creation) {
    static const char* const kLabel = "SMIS::CreateStorageVolParams";
    std::string configured;
    bool hasConfigured = PlatformText("IBMSVC_IOGroup", configured);
    if (hasConfigured) {
        DEBUG_TRACE_NORMAL(kLabel, "IBMSVC_IOGroup registry key set to [%s]", configured.c_str());
    } else {
        static const char* const kKey = "SMCONFIG_NAME_IBMSVC_IOGROUP";
        configured = RecordText(kKey);
        hasConfigured = !configured.empty();
        if (hasConfigured) DEBUG_TRACE_NORMAL(kLabel, "Array Config [%s : %s]", kKey, configured.c_str());
    }

    Array<CIMInstance> groups = conn.GetInstances("IBMTSSVC_IOGroup", Pegasus::CIMPropertyList());
    DEBUG_TRACE_NORMAL(kLabel, "IOGroup count [%d]", int(groups.size()));
    const std::string wanted = hasConfigured ? configured : GetCIMProp(source, "GroupName");
    CIMObjectPath chosen;
    for (Pegasus::Uint32 i = 0; i < groups.size() && chosen.getClassName().isNull(); ++i) {
        std::string name;
        if (!PropertyText(groups[i], "ElementName", name)) {
            DEBUG_TRACE(kLabel, "Cannot get Name of IOGroup");
            continue;
        }
        if (name == wanted) chosen = groups[i].getPath();
    }
    if (!chosen.getClassName().isNull()) {
        if (hasConfigured)
            DEBUG_TRACE_NORMAL(kLabel, "IOGroup is set in registry/Snap Config. Using [%s]", configured.c_str());
        else
            DEBUG_TRACE_NORMAL(kLabel, "Source IOGroup [%s] going to be used as target", wanted.c_str());
        DEBUG_TRACE(kLabel, "Selecting %s as IOGroup", GetObjectPathString(chosen).c_str());
        creation.push_back(GetObjectPathString(chosen));
    } else {
        DEBUG_TRACE(kLabel, "Selecting default IOGroup");
        creation.push_back("null");
    }

    if (chosen.getClassName().isNull() || hasConfigured) {
        DEBUG_TRACE(kLabel, "The storage array will automatically set the preferred node for the target volume.");
        creation.push_back("null");
        return;
    }
    const std::string preferred = GetCIMProp(source, "PreferredNode");
    DEBUG_TRACE(kLabel, "Setting source preferred node [%s] to target volume", preferred.c_str());
    std::string nodePath;
    if (preferred.empty() || GetPreferredNodeForIBMSVC(conn, systemName, preferred, nodePath) != 1 ||
        nodePath.empty()) {
        DEBUG_TRACE(kLabel,
                    "Unable to fetch the preferred node path using source volume details. The storage array "
                    "will automatically set the preferred node for the target volume.");
        nodePath = "null";
    }
    creation.push_back(nodePath);
}

bool SmisAction::FirmwareAllowsThickWithoutGoal(ZqCimConnection& conn, const std::string& systemName) {
    static const char* const kLabel = "SMIS::CreateStorageVolParams";
    std::string version;
    unsigned short build = 0;
    GetVersionStrings(conn, systemName.c_str(), version, build);
    if (version.empty()) {
        DEBUG_TRACE_NORMAL(kLabel, "Unable to get the storage array-[%s] firmware details.", systemName.c_str());
        return false;
    }
    const std::vector<std::string> parts = Tokenize(version, '.');
    if (parts.size() < 2) {
        DEBUG_TRACE_NORMAL(kLabel, "Unable to split firmware string-[%s].", version.c_str());
        return false;
    }
    const unsigned major = unsigned(Pegasus::Uint16(std::strtoul(parts[0].c_str(), nullptr, 10)));
    const unsigned minor = unsigned(Pegasus::Uint16(std::strtoul(parts[1].c_str(), nullptr, 10)));
    if (major > 7 || (major == 7 && minor > 6)) {
        DEBUG_TRACE_NORMAL(kLabel, "Unable to get the standard goal setting for array-[%s] firmware-[%s]",
                           systemName.c_str(), version.c_str());
        DEBUG_TRACE_NORMAL(kLabel,
                           "Firmware revision [7.7.0] and higher requires standard goal to be set in order "
                           "to create thick target volumes.");
        return false;
    }
    return true;
}

bool SmisAction::CheckAndGetTargetGoal(ZqCimConnection& conn, CIMObjectPath& goal) {
    static const char* const kLabel = "CheckAndGetTargetGoal";
    static const CatchFrame kCatch{kLabel, kLabel, CatchLine::FileLine, CatchLine::FileLine, UnknownLine::Plain};
    static const char* const kStandard = "Standard";
    try {
        const std::string settingClass = ZQProviderVendor::GetVendorPrefix(VENDOR_IBMSVC) + "_StorageVolumeSetting";
        Array<CIMObjectPath> settings = conn.GetInstanceNames(String(settingClass));
        const unsigned count = settings.size();
        DEBUG_TRACE(kLabel, "Found [%u] storage goal%s defined for the array.", count, count >= 2 ? "s" : "");
        if (count == 0) return false;
        for (Pegasus::Uint32 i = 0; i < settings.size(); ++i) {
            const std::string id = GetPropByObjPath(settings[i], "InstanceID");
            const size_t colon = id.rfind(':');
            if (colon == std::string::npos) continue;
            if (Pegasus::equalNoCaseAscii(id.substr(colon + 1), kStandard)) {
                goal = settings[i];
                return true;
            }
        }
        DEBUG_TRACE(kLabel, "Unable to find storage setting goal-[%s].", kStandard);
    } catch (...) {
        TraceCaught(kCatch, ZQ_SOURCE_FILE, __LINE__);
    }
    return false;
}

int SmisAction::GetVersionStrings(ZqCimConnection& conn, const char* systemName, std::string& version,
                                  unsigned short& build) {
    static const char* const kLabel = "SMIS::GetVersionStrings";
    static const CatchFrame kCatch{kLabel, kLabel, CatchLine::FileLine, CatchLine::FileLine, UnknownLine::Plain};
    static const char* const kClass = "CIM_SoftwareIdentity";
    version.clear();
    try {
        Array<Pegasus::CIMName> names;
        names.append("VersionString");
        names.append("BuildNumber");
        names.append("InstanceID");
        Array<CIMInstance> identities = conn.GetInstances(kClass, Pegasus::CIMPropertyList(names));
        DEBUG_TRACE(kLabel, "Class [%s] got %d instances", kClass, int(identities.size()));
        const std::string wanted = systemName ? systemName : "";
        for (Pegasus::Uint32 i = 0; i < identities.size(); ++i) {
            std::string id;
            if (!PropertyText(identities[i], "InstanceID", id))
                id = GetPropByObjPath(identities[i].getPath(), "InstanceID");
            if (id != wanted) continue;
            PropertyText(identities[i], "VersionString", version);
            std::string buildText;
            uint64_t number = 0;
            build = PropertyText(identities[i], "BuildNumber", buildText) && ParseUnsigned(buildText, number)
                        ? static_cast<unsigned short>(number)
                        : 0;
        }
    } catch (...) {
        TraceCaught(kCatch, ZQ_SOURCE_FILE, __LINE__);
    }
    return 0;
}

int SmisAction::CreateStorageVolume(ZqCimConnection& conn, std::vector<std::string>& creation, std::string& newVolume) {
    static const char* const kLabel = "SMIS::CreateStorageVolume";
    static const char* const kMethod = "CreateOrModifyElementFromStoragePool";
    static const CatchFrame kCatch{kLabel, kMethod, CatchLine::FileLine, CatchLine::FileLine, UnknownLine::Named};
    if (creation.size() < 4) {
        DEBUG_TRACE(kLabel, "createvol: insufficient args specified\n");
        DEBUG_TRACE(kLabel, "need: SystemName NewVolName PoolID Size(Bytes) [SettingID or \"null\"]\n");
        return ZQ_SMIS_INSUFFICIENT_PARAMS;
    }
    uint64_t size = 0;
    if (!ParseUnsigned(creation[3], size) || size == 0) {
        DEBUG_TRACE(kLabel, "Invalid volume size [%s]", creation[3].c_str());
        return ZQ_SMIS_INSUFFICIENT_PARAMS;
    }
    try {
        const std::string& systemName = creation[0];
        const CIMObjectPath pool{String(creation[2])};
        const bool hasGoal = IsArgGiven(creation, 4) && !creation[4].empty();
        Pegasus::Uint16 elementType = ELEMENT_TYPE_STORAGE_VOLUME;

        MethodCall call{kLabel, kMethod, kMethod};
        DEBUG_TRACE_NORMAL(kLabel, "%s: SystemName = %s", kMethod, systemName.c_str());
        if (!FindConfigurationService(conn, kLabel, systemName, call.target)) return ZQ_SMIS_OBJECT_NOT_FOUND;
        DEBUG_TRACE_NORMAL(kLabel, "Service: %s", GetObjectPathString(call.target).c_str());
        call.vendor = ZQProviderVendor::GetVendorId(call.target);
        call.serialized = SerializesInvocations(call.vendor);

        const std::string kind = creation.size() > 5 ? creation[5] : std::string();
        const bool spaceEfficient = call.vendor == VENDOR_IBMSVC && IsSpaceEfficientKind(kind);
        if ((call.vendor == VENDOR_3PAR && kind == "1") || (call.vendor == VENDOR_FUJITSU && kind == "1"))
            elementType = ELEMENT_TYPE_THIN_STORAGE_VOLUME;

        const std::string& name = creation[1];
        call.Add("ElementName", name.empty() ? MakeCimNullVal(Pegasus::CIMTYPE_STRING, false) : CIMValue(String(name)));
        call.Add("ElementType", CIMValue(elementType));
        call.Add("Goal", hasGoal ? CIMValue(CIMObjectPath(String(creation[4])))
                                 : MakeCimNullVal(Pegasus::CIMTYPE_REFERENCE, false));
        call.Add("Size", CIMValue(Pegasus::Uint64(size)));
        call.Add("InPool", CIMValue(pool));
        call.Add("TheElement", MakeCimNullVal(Pegasus::CIMTYPE_REFERENCE, false));
        if (spaceEfficient) AddSpaceEfficientParams(conn, call, kind);
        if (call.vendor == VENDOR_IBMSVC) {
            if (creation.size() > 6 && creation[6] != "null")
                call.Add("IOGroup", CIMValue(CIMObjectPath(String(creation[6]))));
            if (creation.size() > 7 && creation[7] != "null") {
                DEBUG_TRACE_NORMAL("CreateStorageVolume", "Setting the preferred node parameter as [%s]",
                                   creation[7].c_str());
                call.Add("PreferredNode", CIMValue(CIMObjectPath(String(creation[7]))));
            }
        }

        Invoke(conn, call, RetValLine::OutParams);
        const int result = CompleteCall(conn, call, 500, 15);
        if (call.Accepted()) newVolume = GetObjectPathString(GetTargetElementHandle(call.out));
        return result;
    } catch (...) {
        TraceCaught(kCatch, ZQ_SOURCE_FILE, __LINE__);
    }
    return 1;
}

void SmisAction::AddSpaceEfficientParams(ZqCimConnection& conn, MethodCall& call, const std::string& kind) {
    static const char* const kLabel = "SMIS::CreateStorageVolume";
    DEBUG_TRACE_NORMAL(kLabel, "Going to create Space-efficient vdisk");
    call.Add("isSpaceEfficient", CIMValue(true));
    call.Add("Autoexpand", CIMValue(true));

    int percent = 0;
    int configured = 0;
    if (kind == kKindThinClone) {
        percent = 20;
        if (PlatformInt("nIBMSVCFCRealAllocPerc", configured) && configured >= 1 && configured <= 100) {
            percent = configured;
            DEBUG_TRACE_NORMAL(kLabel, "Clone RealSizePercent [%d] read from registry nIBMSVCFCRealAllocPerc", percent);
        }
    } else if (PlatformInt("nIBMSVCSEFCRealAllocPerc", configured) && configured >= 1 && configured <= 100) {
        percent = configured;
        DEBUG_TRACE_NORMAL(kLabel, "snapshot RealSizePercent [%d] read from registry nIBMSVCSEFCRealAllocPerc",
                           percent);
    }
    DEBUG_TRACE_NORMAL(kLabel, "RealSizePercent [%d]", percent);

    static const char* const kVersionClass = "IBMTSSVC_ClusterSoftwareIdentity";
    Array<Pegasus::CIMName> names;
    names.append("VersionString");
    Array<CIMInstance> identities = conn.GetInstances(kVersionClass, Pegasus::CIMPropertyList(names));
    DEBUG_TRACE_NORMAL(kLabel, "IBMTSSVC_ClusterSoftwareIdentity got  [%d] instances", int(identities.size()));
    std::string version = "0.0";
    if (identities.size() > 0 && PropertyText(identities[0], "VersionString", version)) {
        DEBUG_TRACE_NORMAL(kLabel, "Detected version string [%s] from IBMTSSVC_ClusterSoftwareIdentity",
                           version.c_str());
        version = version.substr(0, 4);
    }
    int skip = -1;
    if (auto info = zq::platform::platformInfo()) info->getRegInt("~HostModule", "nIBMSVCSkipRealAllocPerc", &skip);
    if ((skip == -1 && version.find("7.6.") == std::string::npos) || skip == 0)
        call.Add("RealSizePercent", CIMValue(Pegasus::Uint64(percent)));
    else
        DEBUG_TRACE_NORMAL(kLabel,
                           "Skipping RealSizePercent as registry key nIBMSVCSkipRealAllocPerc has been set or "
                           "firmware vesrion 7.6.x");

    const int mapGrain = MapGrainSize(kLabel);
    int volumeGrain = 0;
    int grain = mapGrain > 0 ? mapGrain : 256;
    if (PlatformInt("IBMSVC_THIN_VOLUME_GRAIN_SIZE", volumeGrain) && volumeGrain > 0) {
        DEBUG_TRACE(kLabel, "Registry Key [IBMSVC_THIN_VOLUME_GRAIN_SIZE], value = [%d].", volumeGrain);
        if (volumeGrain == 32 || volumeGrain == 64 || volumeGrain == 128 || volumeGrain == 256) {
            grain = volumeGrain;
        } else {
            DEBUG_TRACE(kLabel, "Invalid Volume Grain Size [%d] provided. Setting the default value 256", volumeGrain);
            grain = 256;
        }
    } else {
        volumeGrain = 0;
    }
    if (mapGrain == 0 && volumeGrain == 0) return;
    if (mapGrain > 0 && volumeGrain > 0 && mapGrain < grain)
        DEBUG_TRACE_NORMAL(kLabel,
                           "IBM Recommends to use same volume grain size as the map grain size for best "
                           "performance.");
    DEBUG_TRACE_NORMAL(kLabel, "Setting the Thin-Volume Grainsize = [%d]", grain);
    call.Add("Grainsize", CIMValue(Pegasus::Uint32(grain)));
}

int SmisAction::DeleteVol(ZqCimConnection& conn, std::vector<std::string>& args) {
    static const char* const kLabel = "SMIS::DeleteVol";
    static const char* const kMethod = "ReturnToStoragePool";
    static const CatchFrame kCatch{kLabel, kMethod, CatchLine::NameFileLine, CatchLine::NameFileLine,
                                   UnknownLine::Named};
    if (args.size() < 2) {
        DEBUG_TRACE(kLabel, "delvol: Insufficient params specified");
        DEBUG_TRACE(kLabel, "    need: SystemName VolumeID");
        return ZQ_SMIS_INSUFFICIENT_PARAMS;
    }
    try {
        MethodCall call{kLabel, kMethod, kMethod};
        if (!FindConfigurationService(conn, kLabel, args[0], call.target)) return ZQ_SMIS_OBJECT_NOT_FOUND;
        DEBUG_TRACE_NORMAL(kLabel, "Service: %s", GetObjectPathString(call.target).c_str());
        call.vendor = ZQProviderVendor::GetVendorId(call.target);

        const CIMObjectPath volume = ResolveVolume(conn, kLabel, args[1], nullptr);
        if (volume.getClassName().isNull()) {
            DEBUG_TRACE(kLabel, "Class %s: Lun UUID %s not found", "CIM_StorageVolume", args[1].c_str());
            return ZQ_SMIS_VOLUME_NOT_FOUND;
        }
        // A stored path may name a newer volume by now: only the expected one goes back to the pool.
        if (IsArgGiven(args, 2) && !args[2].empty()) {
            const int exists = CheckInstanceExistence(conn, args[0], GetObjectPathString(volume), args[2]);
            if (exists != 1) {
                DEBUG_TRACE(kLabel, "Volume %s with UID %s not found, nothing deleted",
                            GetObjectPathString(volume).c_str(), args[2].c_str());
                return exists == 0 ? ZQ_SMIS_VOLUME_NOT_FOUND : 1;
            }
        }
        Array<CIMObjectPath> controllers;
        if (!GetVolCtlrPaths(conn, volume, controllers)) return 1;
        if (controllers.size() > 0) {
            DEBUG_TRACE(kLabel, "Can not delete, Volume found %d Host mappings", int(controllers.size()));
            return ZQ_SMIS_HOST_MAPPINGS_FOUND;
        }

        DEBUG_TRACE_NORMAL(kLabel, "Volume %s, Deleting ....", GetObjectPathString(volume).c_str());
        call.Add("TheElement", CIMValue(volume));
        Invoke(conn, call, RetValLine::OutParams);
        return CompleteCall(conn, call, 60, 10);
    } catch (...) {
        TraceCaught(kCatch, ZQ_SOURCE_FILE, __LINE__);
    }
    return 1;
}
