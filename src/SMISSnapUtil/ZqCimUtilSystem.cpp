// ZqCimUtil: the array's system object, services, pools, host view
// controllers (with the shared hardware-id list) and cluster nodes.
#include <algorithm>
#include <cctype>

#include "ZQPlatformInfo.h"
#include "ZQProviderVendor.h"
#include "ZqCimUtil.h"
#include "ZqSmisExceptionTrace.h"
#include "ZqSmisSettings.h"

using namespace Pegasus;

namespace {

const char* const kControllerClass = "CIM_SCSIProtocolController";
const char* const kHardwareIdClass = "CIM_StorageHardwareID";

// Shared hardware-id list; used only under ZqCimUtil::m_CimUtilLock.
Array<CIMInstance>& SharedHardwareIds() {
    static Array<CIMInstance> list;
    return list;
}

std::string LowerCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

void AppendUnique(Array<CIMObjectPath>& list, const CIMObjectPath& path) {
    for (Uint32 i = 0; i < list.size(); ++i)
        if (list[i].identical(path)) return;
    list.append(path);
}

// Class names of a storage system object, by maker.
bool IsSystemClass(const String& className) {
    std::string lsiClass = "LSISSI_StorageSystem";
    if (auto info = zq::platform::platformInfo()) info->getString("HostModule", "LSI_OEM_CLASSNAME_PREFIX", &lsiClass);
    for (const char* known : {"IBMTSSVC_Cluster", "FUJITSU_StorageComputerSystem", "Symm_StorageSystem"})
        if (String::equalNoCase(className, known)) return true;
    return String::equalNoCase(className, String(lsiClass));
}

}  // namespace

void ZqCimUtil::ClearHardwareIdCache() { SharedHardwareIds().clear(); }

// ---------------------------------------------------------------- system and services

CIMObjectPath ZqCimUtil::FindSystem(ZqCimConnection& conn, const char* label, const std::string& systemName) {
    static const char* const kClass = "CIM_ComputerSystem";
    const std::string key = std::string(kClass) + "|" + systemName;
    CIMObjectPath known;
    if (conn.KnownPath(key, known)) return known;
    Array<CIMObjectPath> names = conn.GetInstanceNames(kClass);
    DEBUG_TRACE_NORMAL(label, "Class <%s> got %d instance names", kClass, int(names.size()));
    for (Uint32 i = 0; i < names.size(); ++i)
        if (GetPropByObjPath(names[i], "Name") == systemName && IsSystemClass(names[i].getClassName().getString())) {
            conn.RememberPath(key, names[i]);
            return names[i];
        }
    DEBUG_TRACE(label, "%s instance for systemName %s not found", kClass, systemName.c_str());
    return CIMObjectPath();
}

CIMObjectPath ZqCimUtil::GetSystemObjPathByNameProp(ZqCimConnection& conn, std::string systemName) {
    static const char* const kLabel = "SMIS::GetSystemObjPathByNameProp";
    try {
        return FindSystem(conn, kLabel, systemName);
    } catch (...) {
        TraceCaughtException(*this, kLabel, ZQ_SOURCE_FILE, __LINE__);
    }
    return CIMObjectPath();
}

std::string ZqCimUtil::GetSystemObjPathString(ZqCimConnection& conn, std::string systemName) {
    return GetSystemObjPathByNameProp(conn, systemName).toString().toStdString();
}

std::string ZqCimUtil::GetVendorByName(ZqCimConnection& conn, std::string systemName) {
    CIMObjectPath system = GetSystemObjPathByNameProp(conn, systemName);
    if (system.getClassName().isNull()) return std::string();
    return ZQProviderVendor::GetVendorPrefix(system);
}

std::string ZqCimUtil::GetVendorNamespaceByName(ZqCimConnection& conn, std::string systemName) {
    CIMObjectPath system = GetSystemObjPathByNameProp(conn, systemName);
    if (system.getClassName().isNull()) return std::string();
    return ZQProviderVendor::GetVendorNameSpace(system);
}

CIMObjectPath ZqCimUtil::FindBySystemName(ZqCimConnection& conn, const char* label, const std::string& systemName,
                                          const String& className) {
    const std::string key = className.toStdString() + "|" + systemName;
    CIMObjectPath known;
    if (conn.KnownPath(key, known)) return known;
    Array<CIMObjectPath> names = conn.GetInstanceNames(Pegasus::CIMName(className));
    DEBUG_TRACE_NORMAL(label, "Class <%s> got %d instance names", className.c_str(), int(names.size()));
    for (Uint32 i = 0; i < names.size(); ++i)
        if (GetPropByObjPath(names[i], "SystemName") == systemName) {
            conn.RememberPath(key, names[i]);
            return names[i];
        }
    return CIMObjectPath();
}

bool ZqCimUtil::ValidateSystemName(ZqCimConnection& conn, const std::string& systemName, const String& className,
                                   CIMObjectPath& path) {
    static const char* const kLabel = "SMIS::ValidateSystemName";
    if (systemName.empty()) {
        DEBUG_TRACE(kLabel, "No system name given for class %s", className.c_str());
        return false;
    }
    try {
        CIMObjectPath found = FindBySystemName(conn, kLabel, systemName, className);
        if (found.getClassName().isNull()) return false;
        path = found;
        return true;
    } catch (...) {
        TraceCaughtException(*this, kLabel, ZQ_SOURCE_FILE, __LINE__);
    }
    return false;
}

CIMObjectPath ZqCimUtil::GetCtlrservicePath(ZqCimConnection& conn, const CIMObjectPath& systemPath) {
    static const char* const kLabel = "SMIS::GetCtlrservicePath";
    static const char* const kClass = "CIM_ControllerConfigurationService";
    const std::string systemName = GetPropByObjPath(systemPath, "Name");
    if (systemName.empty()) {
        DEBUG_TRACE(kLabel, "System path [%s] has no Name", systemPath.toString().c_str());
        return CIMObjectPath();
    }
    try {
        CIMObjectPath service = FindBySystemName(conn, kLabel, systemName, kClass);
        if (service.getClassName().isNull())
            DEBUG_TRACE(kLabel, "Class %s for system %s not found", kClass, systemName.c_str());
        return service;
    } catch (...) {
        TraceCaughtException(*this, kLabel, ZQ_SOURCE_FILE, __LINE__);
    }
    return CIMObjectPath();
}

std::string ZqCimUtil::GetDGByName(ZqCimConnection& conn, std::string systemName, std::string poolName) {
    static const char* const kLabel = "SMIS::GetDGByName";
    if (poolName.empty()) return std::string();
    try {
        CIMObjectPath system = FindSystem(conn, kLabel, systemName);
        if (system.getClassName().isNull()) {
            DEBUG_TRACE(kLabel, "SystemName <%s> not found", systemName.c_str());
            return std::string();
        }
        DEBUG_TRACE(kLabel, "systemPath <%s>", system.toString().c_str());
        const ZQ_PROVIDER_VENDOR vendor = ZQProviderVendor::GetVendorId(system);
        const bool anyPool = vendor == VENDOR_IBMSVC || vendor == VENDOR_3PAR || vendor == VENDOR_FUJITSU;
        CIMObjectPath pool = FindByProperty(conn, kLabel, anyPool ? nullptr : &systemName, "CIM_StoragePool",
                                            "ElementName", String(poolName), true);
        return pool.toString().toStdString();
    } catch (...) {
        TraceCaughtException(*this, kLabel, ZQ_SOURCE_FILE, __LINE__);
    }
    return std::string();
}

// ---------------------------------------------------------------- host view controllers

Array<CIMObjectPath> ZqCimUtil::HardwareIdsOfInitiators(ZqCimConnection& conn, const std::string& clusterId,
                                                        const Array<String>& initiators) {
    static const char* const kLabel = "GetIBMSVCCtlrListByHwIDs";
    static const char* const kCacheKey = "ZQ_IBMSVC_CACHE_HBA_INSTANCES";

    auto fetch = [&] {
        Array<Pegasus::CIMName> names;
        names.append("portWWN");
        names.append("iSCSIName");
        Array<CIMInstance> list = conn.GetInstances(kHardwareIdClass, Pegasus::CIMPropertyList(names));
        DEBUG_TRACE_NORMAL(kLabel, "Fetched [%u] instances for storage hardware id class [%s]", list.size(),
                           kHardwareIdClass);
        return list;
    };
    auto match = [&](const Array<CIMInstance>& list) {
        Array<CIMObjectPath> found;
        for (Uint32 i = 0; i < list.size(); ++i) {
            const CIMObjectPath& path = list[i].getPath();
            if (GetPropByObjPath(path, "InstanceID").find(clusterId) == std::string::npos) continue;
            // A host may offer WWPNs and iSCSI names together: each port is
            // compared with both. The array keeps iSCSI names in lower case
            // and WWPNs in upper case.
            for (const char* property : {"portWWN", "iSCSIName"}) {
                Uint32 index = list[i].findProperty(property);
                if (index == PEG_NOT_FOUND) continue;
                const std::string value = LowerCase(list[i].getProperty(index).getValue().toString().toStdString());
                for (Uint32 k = 0; k < initiators.size(); ++k)
                    if (!value.empty() && value == LowerCase(initiators[k].toStdString())) {
                        AppendUnique(found, path);
                        break;
                    }
            }
        }
        return found;
    };

    const int caching = ZqSmisSettings::GetHostModuleInt(kCacheKey, 0);
    if (caching == 0) return match(fetch());
    DEBUG_TRACE_NORMAL(kLabel, "The setting-[%s] to cache storage hardware instances is enabled. Value-[%u]", kCacheKey,
                       unsigned(caching));
    ZqCriticalSectionLock lock(m_CimUtilLock);
    Array<CIMInstance>& shared = SharedHardwareIds();
    if (shared.size() == 0) {
        shared = fetch();
        return match(shared);
    }
    DEBUG_TRACE_NORMAL(kLabel, "Found [%s] cache with [%u] instances. Trying to search the initiators within the cache",
                       kHardwareIdClass, shared.size());
    Array<CIMObjectPath> found = match(shared);
    if (found.size() > 0) return found;
    shared = fetch();
    DEBUG_TRACE_NORMAL(kLabel, "HBA not found in the old list. Refreshed the cached storage hardware id list and going "
                               "to check in the new list.");
    found = match(shared);
    for (Uint32 i = 0; i < found.size(); ++i)
        DEBUG_TRACE_NORMAL(kLabel, "Found storage hardware id path-[%s] in refreshed list", found[i].toString().c_str());
    return found;
}

Array<CIMObjectPath> ZqCimUtil::InitiatorControllers(ZqCimConnection& conn, const CIMObjectPath& systemPath,
                                                     const Array<String>& initiators) {
    static const char* const kLabel = "GetIBMSVCCtlrListByHwIDs";
    Array<CIMObjectPath> controllers;
    if (initiators.size() == 0) {
        DEBUG_TRACE(kLabel, "The initiator port list provided is empty. The view controllers cannot be fetched without "
                            "it.");
        return controllers;
    }
    std::string clusterId = GetPropByObjPath(systemPath, "Name");
    clusterId = clusterId.substr(0, clusterId.find(':'));
    DEBUG_TRACE_NORMAL(kLabel, "Got system name-[%s] from system path-[%s]", clusterId.c_str(),
                       systemPath.toString().c_str());
    if (clusterId.empty()) return controllers;
    for (Uint32 i = 0; i < initiators.size(); ++i)
        DEBUG_TRACE_NORMAL(kLabel, "HBA port %u - [%s]", i + 1, initiators[i].c_str());

    Array<CIMObjectPath> hardwareIds = HardwareIdsOfInitiators(conn, clusterId, initiators);
    for (Uint32 i = 0; i < hardwareIds.size(); ++i) {
        DEBUG_TRACE_NORMAL(kLabel, "Using storage hardware path-[%s] to find the view controller.",
                           hardwareIds[i].toString().c_str());
        Array<CIMObjectPath> privileges =
            conn.GetAssociatorNames(hardwareIds[i], "CIM_AuthorizedSubject", "CIM_AuthorizedPrivilege");
        DEBUG_TRACE(kLabel, "Found [%u] authorization privilege (%s) for the storage hardware path.", privileges.size(),
                    "CIM_AuthorizedPrivilege");
        for (Uint32 p = 0; p < privileges.size(); ++p) {
            Array<CIMObjectPath> views = conn.GetAssociatorNames(privileges[p], "CIM_AuthorizedTarget", kControllerClass);
            DEBUG_TRACE(kLabel, "Found [%u] view controllers (%s) available for the storage hardware path.",
                        views.size(), kControllerClass);
            for (Uint32 v = 0; v < views.size(); ++v) AppendUnique(controllers, views[v]);
        }
    }
    return controllers;
}

Array<CIMObjectPath> ZqCimUtil::VolumeControllersOf(ZqCimConnection& conn, const CIMObjectPath& volume) {
    return conn.GetAssociatorNames(volume, "CIM_ProtocolControllerForUnit", kControllerClass);
}

Array<CIMObjectPath> ZqCimUtil::ExposedControllers(ZqCimConnection& conn, const CIMObjectPath& systemPath,
                                                   const Array<CIMObjectPath>& volumes,
                                                   const Array<String>& initiators) {
    static const char* const kLabel = "GetIBMSVCCtlrListByHwIDs";
    Array<CIMObjectPath> result;
    Array<CIMObjectPath> hostControllers = InitiatorControllers(conn, systemPath, initiators);
    if (hostControllers.size() == 0) {
        DEBUG_TRACE(kLabel, "Not able to derive protocol controllers from the initiator ports");
        return result;
    }
    for (Uint32 i = 0; i < hostControllers.size(); ++i)
        DEBUG_TRACE_NORMAL(kLabel, "Port associated Protocol Controller [%s]", hostControllers[i].toString().c_str());
    for (Uint32 v = 0; v < volumes.size(); ++v) {
        Array<CIMObjectPath> exposed = VolumeControllersOf(conn, volumes[v]);
        DEBUG_TRACE_NORMAL(kLabel, "Storage volume [%s] associated with [%d] protocol controller(s)",
                           volumes[v].toString().c_str(), int(exposed.size()));
        for (Uint32 e = 0; e < exposed.size(); ++e) {
            DEBUG_TRACE_NORMAL(kLabel, "Volume associated Protocol Controller [%s]", exposed[e].toString().c_str());
            const std::string deviceId = GetPropByObjPath(exposed[e], "DeviceID");
            for (Uint32 h = 0; h < hostControllers.size(); ++h)
                if (!deviceId.empty() && GetPropByObjPath(hostControllers[h], "DeviceID") == deviceId) {
                    AppendUnique(result, exposed[e]);
                    break;
                }
        }
    }
    return result;
}

Array<CIMObjectPath> ZqCimUtil::GetIBMSVCCtlrListByHwIDs(ZqCimConnection& conn, const CIMObjectPath& systemPath,
                                                         const Array<String>& initiators) {
    try {
        return InitiatorControllers(conn, systemPath, initiators);
    } catch (...) {
        TraceCaughtException(*this, "GetIBMSVCCtlrListByHwIDs", ZQ_SOURCE_FILE, __LINE__);
    }
    return Array<CIMObjectPath>();
}

Array<CIMObjectPath> ZqCimUtil::GetIBMSVCCtlrListByHwIDs(ZqCimConnection& conn, const CIMObjectPath& systemPath,
                                                         const Array<CIMObjectPath>& volumes,
                                                         const Array<String>& initiators) {
    try {
        return ExposedControllers(conn, systemPath, volumes, initiators);
    } catch (...) {
        TraceCaughtException(*this, "GetIBMSVCCtlrListByHwIDs", ZQ_SOURCE_FILE, __LINE__);
    }
    return Array<CIMObjectPath>();
}

bool ZqCimUtil::GetVolCtlrPaths(ZqCimConnection& conn, const CIMObjectPath& volume,
                                Array<CIMObjectPath>& controllers) {
    Array<CIMObjectPath> volumes;
    volumes.append(volume);
    return GetCtlrPathList(conn, CIMObjectPath(), volumes, Array<String>(), controllers);
}

bool ZqCimUtil::GetCtlrPathList(ZqCimConnection& conn, const CIMObjectPath& systemPath,
                                const Array<CIMObjectPath>& volumes, const Array<String>& initiators,
                                Array<CIMObjectPath>& controllers) {
    static const char* const kLabel = "SMIS::GetCtlrPathList";
    try {
        Array<CIMObjectPath> found;
        if (initiators.size() > 0) {
            found = ExposedControllers(conn, systemPath, volumes, initiators);
        } else {
            for (Uint32 v = 0; v < volumes.size(); ++v) {
                Array<CIMObjectPath> exposed = VolumeControllersOf(conn, volumes[v]);
                for (Uint32 e = 0; e < exposed.size(); ++e) AppendUnique(found, exposed[e]);
            }
        }
        DEBUG_TRACE_NORMAL(kLabel, "Found [%d] protocol controller(s) for [%d] volume(s)", int(found.size()),
                           int(volumes.size()));
        controllers = found;
        return true;
    } catch (...) {
        TraceCaughtException(*this, kLabel, ZQ_SOURCE_FILE, __LINE__);
    }
    controllers.clear();
    return false;
}

bool ZqCimUtil::GetCtlrPathList(ZqCimConnection& conn, const CIMObjectPath& systemPath,
                                const Array<String>& volumeNames, const Array<String>& initiators,
                                Array<CIMObjectPath>& controllers) {
    static const char* const kLabel = "SMIS::GetCtlrPathList";
    Array<CIMObjectPath> volumes;
    try {
        const std::string clusterId = GetPropByObjPath(systemPath, "Name");
        Array<Pegasus::CIMName> names;
        names.append("Name");
        Array<CIMInstance> all = conn.GetInstances("CIM_StorageVolume", Pegasus::CIMPropertyList(names));
        for (Uint32 n = 0; n < volumeNames.size(); ++n) {
            bool found = false;
            for (Uint32 i = 0; i < all.size() && !found; ++i) {
                const CIMObjectPath& path = all[i].getPath();
                if (GetCIMProp(all[i], "Name") != volumeNames[n].toStdString()) continue;
                if (GetPropByObjPath(path, "SystemName").find(clusterId) == std::string::npos) continue;
                AppendUnique(volumes, path);
                found = true;
            }
            if (!found) DEBUG_TRACE(kLabel, "Storage volume [%s] not found", volumeNames[n].c_str());
        }
        if (volumes.size() == 0) {
            controllers.clear();
            return true;
        }
    } catch (...) {
        TraceCaughtException(*this, kLabel, ZQ_SOURCE_FILE, __LINE__);
        controllers.clear();
        return false;
    }
    return GetCtlrPathList(conn, systemPath, volumes, initiators, controllers);
}

Array<CIMObjectPath> ZqCimUtil::GetSystemObjPathListByPropList(ZqCimConnection& conn, const CIMObjectPath& systemPath,
                                                               const std::vector<std::string>& deviceIds) {
    static const char* const kLabel = "SMIS::GetSystemObjPathListByPropList";
    Array<CIMObjectPath> result;
    try {
        const std::string systemName = GetPropByObjPath(systemPath, "Name");
        Array<CIMObjectPath> names = conn.GetInstanceNames(kControllerClass);
        DEBUG_TRACE_NORMAL(kLabel, "Class <%s> got %d instance names", kControllerClass, int(names.size()));
        for (Uint32 i = 0; i < names.size(); ++i) {
            if (GetPropByObjPath(names[i], "SystemName") != systemName) continue;
            const std::string deviceId = GetPropByObjPath(names[i], "DeviceID");
            if (std::find(deviceIds.begin(), deviceIds.end(), deviceId) != deviceIds.end()) result.append(names[i]);
        }
    } catch (...) {
        TraceCaughtException(*this, kLabel, ZQ_SOURCE_FILE, __LINE__);
        result.clear();
    }
    return result;
}

// ---------------------------------------------------------------- cluster node

int ZqCimUtil::GetPreferredNodeForIBMSVC(ZqCimConnection& conn, const std::string& systemId, std::string& nodePath) {
    return GetPreferredNodeForIBMSVC(conn, systemId, std::string(), nodePath);
}

int ZqCimUtil::GetPreferredNodeForIBMSVC(ZqCimConnection& conn, const std::string& systemId, const std::string& nodeId,
                                         std::string& nodePath) {
    static const char* const kLabel = "SMIS::GetPreferredNodeForIBMSVC";
    try {
        const std::string nodeClass = ZQProviderVendor::GetVendorPrefix(VENDOR_IBMSVC) + "_Node";
        Array<CIMObjectPath> nodes = conn.GetInstanceNames(String(nodeClass));
        if (nodes.size() == 0) {
            DEBUG_TRACE(kLabel, "Empty list was returned for [%s] class.", nodeClass.c_str());
            return 0;
        }
        for (Uint32 i = 0; i < nodes.size(); ++i) {
            const std::string name = GetPropByObjPath(nodes[i], "Name");
            const size_t colon = name.find(':');
            if (colon == std::string::npos) {
                DEBUG_TRACE(kLabel, "Invalid path-[%s]. Expected the path to contain '<SystemId>:<NodeId>'",
                            nodes[i].toString().c_str());
                continue;
            }
            if (name.substr(0, colon) != systemId) continue;
            if (!nodeId.empty() && name.substr(colon + 1) != nodeId) continue;
            nodePath = nodes[i].toString().toStdString();
            return 1;
        }
        DEBUG_TRACE(kLabel, "No node [%s] found for system [%s]", nodeId.c_str(), systemId.c_str());
    } catch (...) {
        TraceCaughtException(*this, kLabel, ZQ_SOURCE_FILE, __LINE__);
    }
    return 0;
}
