// ZqCimUtil: synchronizations (on IBM SVC, FlashCopy mappings) between volumes.
#include "ZQProviderVendor.h"
#include "ZqCimUtil.h"
#include "ZqSmisExceptionTrace.h"

using namespace Pegasus;

namespace {

const char* const kSyncClass = "CIM_StorageSynchronized";

// Reads the path `text` and the "Name" of the volume there; false (traced)
// when the text is no instance path or the volume has no "Name".
bool ReadVolumeName(const ZqSmisTracer& tracer, ZqCimConnection& conn, const char* label, const std::string& text,
                    CIMObjectPath& path, std::string& name) {
    if (!ZqCimUtil::ParseInstancePath(text, path)) {
        tracer.DEBUG_TRACE(label, "[%s] is not an object path", text.c_str());
        return false;
    }
    CIMInstance instance = conn.GetInstance(path);
    Uint32 index = instance.findProperty("Name");
    if (index == PEG_NOT_FOUND) {
        tracer.DEBUG_TRACE(label, "Name property not found for object path [%s]", text.c_str());
        return false;
    }
    name = instance.getProperty(index).getValue().toString().toStdString();
    return true;
}

Array<CIMObjectPath> SyncReferences(ZqCimConnection& conn, const CIMObjectPath& volume) {
    return conn.GetClient().referenceNames(conn.GetNameSpace(), volume, kSyncClass, String());
}

}  // namespace

std::string ZqCimUtil::MakeAssnPath(CIMObjectPath& assnPath, const String& className, const String& firstRole,
                                    const CIMObjectPath& first, const String& secondRole,
                                    const CIMObjectPath& second) {
    Array<Pegasus::CIMKeyBinding> keys;
    keys.append(Pegasus::CIMKeyBinding(firstRole, first.toString(), Pegasus::CIMKeyBinding::REFERENCE));
    keys.append(Pegasus::CIMKeyBinding(secondRole, second.toString(), Pegasus::CIMKeyBinding::REFERENCE));
    assnPath.setClassName(className);
    assnPath.setKeyBindings(keys);
    return assnPath.toString().toStdString();
}

CIMObjectPath ZqCimUtil::GetSyncPath(ZqCimConnection& conn, String nameSpace, std::string systemName,
                                     CIMObjectPath source, CIMObjectPath target) {
    static const char* const kLabel = "SMIS::GetSyncPath";
    (void)systemName;
    try {
        const ZQ_PROVIDER_VENDOR vendor = ZQProviderVendor::GetVendorId(source);
        String pairClass;
        if (vendor == VENDOR_IBMSVC)
            pairClass = "IBMTSSVC_LocalStorageSynchronized";
        else if (vendor == VENDOR_3PAR)
            pairClass = "TPD_StorageSynchronized";
        else if (vendor == VENDOR_LSI || vendor == VENDOR_DCIM || vendor == VENDOR_NETAPP)
            pairClass = String(ZQProviderVendor::GetVendorPrefix(vendor) + "_VolumeCopySynchronized");
        if (pairClass.size() > 0) {
            CIMObjectPath sync;
            sync.setNameSpace(Pegasus::CIMNamespaceName(nameSpace));
            MakeAssnPath(sync, pairClass, "SystemElement", source, "SyncedElement", target);
            return sync;
        }
        Array<CIMObjectPath> refs = SyncReferences(conn, target);
        if (refs.size() > 1) {
            DEBUG_TRACE(kLabel, "Error: Multiple sync paths reported");
            return CIMObjectPath();
        }
        if (refs.size() == 1) {
            DEBUG_TRACE_NORMAL(kLabel, "Sync Path %s", refs[0].toString().c_str());
            return refs[0];
        }
    } catch (...) {
        TraceCaughtException(*this, kLabel, ZQ_SOURCE_FILE, __LINE__);
    }
    return CIMObjectPath();
}

int ZqCimUtil::SyncOfTarget(ZqCimConnection& conn, const char* label, const std::string& targetPath,
                            CIMObjectPath& sync, CIMObjectPath& source, std::string& sourceId,
                            const std::string* knownName) {
    CIMObjectPath target;
    std::string targetName;
    if (knownName && !knownName->empty()) {
        if (!ParseInstancePath(targetPath, target)) {
            DEBUG_TRACE(label, "[%s] is not an object path", targetPath.c_str());
            return -1;
        }
        targetName = *knownName;
    } else if (!ReadVolumeName(*this, conn, label, targetPath, target, targetName)) {
        return -1;
    }
    Array<CIMObjectPath> refs = SyncReferences(conn, target);
    DEBUG_TRACE_NORMAL(label, "Sync paths size [%d] for target dev [%s]", int(refs.size()), targetPath.c_str());
    if (refs.size() > 1) {
        DEBUG_TRACE(label, "More than one sync path reported for target [%s]", targetPath.c_str());
        return -1;
    }
    if (refs.size() == 0) {
        DEBUG_TRACE(label, "No sync paths [%s]", targetPath.c_str());
        return 1;
    }
    CIMObjectPath sourcePath;
    std::string sourceName;
    if (!ReadVolumeName(*this, conn, label, GetPropByObjPath(refs[0], "SystemElement"), sourcePath, sourceName))
        return -1;
    if (Pegasus::equalNoCaseAscii(sourceName, targetName)) {
        DEBUG_TRACE(label, "Returning empty sync path as It seems original sync path already deleted, the original "
                           "target now being used as source for another synchronization operation");
        return -1;
    }
    sync = refs[0];
    source = sourcePath;
    sourceId = sourceName;
    return 0;
}

int ZqCimUtil::GetSyncPathFromTarget(ZqCimConnection& conn, std::string targetPath, std::string& syncPath,
                                     std::string& sourcePath, std::string& sourceId, const std::string* targetName) {
    static const char* const kLabel = "SMIS::GetSyncPathFromTarget";
    try {
        CIMObjectPath sync, source;
        std::string id;
        int result = SyncOfTarget(conn, kLabel, targetPath, sync, source, id, targetName);
        if (result != 0) return result;
        syncPath = sync.toString().toStdString();
        sourcePath = source.toString().toStdString();
        sourceId = id;
        DEBUG_TRACE_NORMAL(kLabel, "Sync Path [%s]", syncPath.c_str());
        return 0;
    } catch (...) {
        TraceCaughtException(*this, kLabel, ZQ_SOURCE_FILE, __LINE__);
    }
    return -1;
}

int ZqCimUtil::GetSyncPathFromTargetAndSource(ZqCimConnection& conn, const std::string& targetPath,
                                              const std::string& sourcePath, std::string& syncPath) {
    static const char* const kLabel = "SMIS::GetSyncPathFromTargetAndSource";
    try {
        CIMObjectPath given;
        std::string givenName;
        if (!ReadVolumeName(*this, conn, kLabel, sourcePath, given, givenName)) return -1;
        CIMObjectPath sync, source;
        std::string id;
        int result = SyncOfTarget(conn, kLabel, targetPath, sync, source, id);
        if (result != 0) return result;
        if (!Pegasus::equalNoCaseAscii(id, givenName)) {
            DEBUG_TRACE(kLabel, "Sync path [%s] of target [%s] has another source [%s]", sync.toString().c_str(),
                        targetPath.c_str(), id.c_str());
            return -1;
        }
        syncPath = sync.toString().toStdString();
        DEBUG_TRACE_NORMAL(kLabel, "Sync Path [%s]", syncPath.c_str());
        return 0;
    } catch (...) {
        TraceCaughtException(*this, kLabel, ZQ_SOURCE_FILE, __LINE__);
    }
    return -1;
}

int ZqCimUtil::GetAllSyncPathFromSource(ZqCimConnection& conn, std::string sourcePath, std::string namePart,
                                        std::map<std::string, std::string>& targets) {
    static const char* const kLabel = "SMIS::GetAllSyncPathFromSource";
    try {
        CIMObjectPath source;
        std::string sourceName;
        if (!ReadVolumeName(*this, conn, kLabel, sourcePath, source, sourceName)) return -1;
        Array<CIMObjectPath> refs = SyncReferences(conn, source);
        DEBUG_TRACE_NORMAL(kLabel, "Sync paths size [%d] for source dev [%s]", int(refs.size()), sourcePath.c_str());
        if (refs.size() == 0) {
            DEBUG_TRACE(kLabel, "No sync paths reported for source [%s]", sourcePath.c_str());
            return -1;
        }
        std::map<std::string, std::string> found;
        for (Uint32 i = 0; i < refs.size(); ++i) {
            CIMObjectPath copy;
            if (!ParseInstancePath(GetPropByObjPath(refs[i], "SyncedElement"), copy)) {
                DEBUG_TRACE(kLabel, "Sync path [%s] has no usable SyncedElement", refs[i].toString().c_str());
                continue;
            }
            CIMInstance instance = conn.GetInstance(copy);
            const std::string copyName = GetCIMProp(instance, "Name");
            // The source's own synchronization from an older source is no copy of it.
            if (copyName.empty() || Pegasus::equalNoCaseAscii(copyName, sourceName)) continue;
            if (GetCIMProp(instance, "ElementName").find(namePart) == std::string::npos) continue;
            found[copyName] = copy.toString().toStdString();
        }
        DEBUG_TRACE(kLabel, "%d targets found with label [%s]", int(found.size()), namePart.c_str());
        for (auto& entry : found) targets[entry.first] = entry.second;
        return 0;
    } catch (...) {
        TraceCaughtException(*this, kLabel, ZQ_SOURCE_FILE, __LINE__);
    }
    return -1;
}
