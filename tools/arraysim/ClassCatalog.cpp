#include "ClassCatalog.h"

#include "TextUtil.h"

namespace arraysim {

namespace {
using T = SimType;

PropertyDecl P(const char* n, T t) { return {n, t, false, false, ""}; }
PropertyDecl K(const char* n) { return {n, T::String, false, true, ""}; }
PropertyDecl A(const char* n, T t) { return {n, t, true, false, ""}; }
PropertyDecl RK(const char* n, const char* cls) { return {n, T::Reference, false, true, cls}; }

ParamDecl In(const char* n, T t) { return {n, t, false, true, false, ""}; }
ParamDecl InA(const char* n, T t) { return {n, t, true, true, false, ""}; }
ParamDecl InRef(const char* n, const char* cls) { return {n, T::Reference, false, true, false, cls}; }
ParamDecl InOutRef(const char* n, const char* cls) { return {n, T::Reference, false, true, true, cls}; }
ParamDecl InOutRefA(const char* n, const char* cls) { return {n, T::Reference, true, true, true, cls}; }
ParamDecl OutRef(const char* n, const char* cls) { return {n, T::Reference, false, false, true, cls}; }
ParamDecl JobOut() { return OutRef("Job", "CIM_ConcreteJob"); }

ClassDecl C(const char* name, const char* super, std::vector<PropertyDecl> props = {}, bool concrete = false) {
    ClassDecl c;
    c.name = name;
    c.superclass = super;
    c.properties = std::move(props);
    c.concrete = concrete;
    return c;
}

ClassDecl Assoc(const char* name, const char* super, std::vector<PropertyDecl> props = {}, bool concrete = false) {
    ClassDecl c = C(name, super, std::move(props), concrete);
    c.association = true;
    return c;
}

std::vector<ClassDecl> declarations() {
    std::vector<ClassDecl> v;
    // Core hierarchy.
    v.push_back(C("CIM_ManagedElement", "", {P("Caption", T::String), P("Description", T::String), P("ElementName", T::String)}));
    v.push_back(C("CIM_ManagedSystemElement", "CIM_ManagedElement",
                  {P("Name", T::String), A("OperationalStatus", T::Uint16), A("StatusDescriptions", T::String),
                   P("Status", T::String)}));
    v.push_back(C("CIM_LogicalElement", "CIM_ManagedSystemElement"));
    v.push_back(C("CIM_EnabledLogicalElement", "CIM_LogicalElement", {P("EnabledState", T::Uint16)}));
    v.push_back(C("CIM_System", "CIM_EnabledLogicalElement", {K("CreationClassName"), K("Name")}));
    v.push_back(C("CIM_ComputerSystem", "CIM_System"));
    v.push_back(C("IBMTSSVC_Cluster", "CIM_ComputerSystem", {}, true));
    v.push_back(C("IBMTSSVC_IOGroup", "CIM_ComputerSystem", {}, true));
    v.push_back(C("IBMTSSVC_Node", "CIM_ComputerSystem", {P("IOGroupID", T::String)}, true));

    // Pools and volumes.
    v.push_back(C("CIM_ResourcePool", "CIM_LogicalElement", {{"InstanceID", T::String, false, true, ""},
                                                              P("PoolID", T::String), P("Primordial", T::Boolean)}));
    v.push_back(C("CIM_StoragePool", "CIM_ResourcePool",
                  {P("TotalManagedSpace", T::Uint64), P("RemainingManagedSpace", T::Uint64)}));
    v.push_back(C("IBMTSSVC_ConcreteStoragePool", "CIM_StoragePool", {P("NativeStatus", T::Uint16)}, true));
    v.push_back(C("CIM_LogicalDevice", "CIM_EnabledLogicalElement",
                  {K("SystemCreationClassName"), K("SystemName"), K("CreationClassName"), K("DeviceID")}));
    v.push_back(C("CIM_StorageExtent", "CIM_LogicalDevice",
                  {P("BlockSize", T::Uint64), P("NumberOfBlocks", T::Uint64), P("ConsumableBlocks", T::Uint64),
                   P("Primordial", T::Boolean)}));
    v.push_back(C("CIM_StorageVolume", "CIM_StorageExtent"));
    v.push_back(C("IBMTSSVC_StorageVolume", "CIM_StorageVolume",
                  {P("IsSpaceEfficient", T::Boolean), P("GroupName", T::String), P("PreferredNode", T::String),
                   P("PoolName", T::String), P("VolumeId", T::String), P("UncompressedUsedCapacity", T::Uint64)},
                  true));
    v.push_back(C("IBMTSSVC_ConciseVolume", "CIM_ManagedElement",
                  {K("UniqueID"), K("Cluster"), K("DeviceID"), P("IOGroupID", T::String)}, true));

    // Services.
    v.push_back(C("CIM_Service", "CIM_EnabledLogicalElement",
                  {K("SystemCreationClassName"), K("SystemName"), K("CreationClassName"), K("Name"),
                   P("Started", T::Boolean)}));
    v.push_back(C("CIM_StorageConfigurationService", "CIM_Service"));
    v.push_back(C("CIM_ControllerConfigurationService", "CIM_Service"));
    {
        ClassDecl c = C("IBMTSSVC_StorageConfigurationService", "CIM_StorageConfigurationService", {}, true);
        const char* lav = "CIM_LogicalElement";
        c.methods.push_back({"CreateOrModifyElementFromStoragePool", T::Uint32,
                             {In("ElementName", T::String), In("ElementType", T::Uint16), JobOut(),
                              InRef("Goal", "CIM_StorageSetting"), {"Size", T::Uint64, false, true, true, ""},
                              InRef("InPool", "CIM_StoragePool"), InOutRef("TheElement", lav),
                              In("isSpaceEfficient", T::Boolean), In("Autoexpand", T::Boolean),
                              In("RealSizePercent", T::Uint64), In("Grainsize", T::Uint32),
                              InRef("IOGroup", "IBMTSSVC_IOGroup"), InRef("PreferredNode", "IBMTSSVC_Node")}});
        c.methods.push_back({"ReturnToStoragePool", T::Uint32, {JobOut(), InRef("TheElement", lav)}});
        c.methods.push_back({"AttachReplica", T::Uint32,
                             {JobOut(), InRef("SourceElement", lav), InRef("TargetElement", lav),
                              In("CopyType", T::Uint16), In("BackgroundCopyRate", T::Uint16),
                              In("CleanRate", T::Uint16), In("Incremental", T::Boolean), In("ElementName", T::String),
                              In("GrainSize", T::Uint16)}});
        c.methods.push_back({"ModifySynchronization", T::Uint32,
                             {JobOut(), In("Operation", T::Uint16),
                              InRef("Synchronization", "CIM_StorageSynchronized"), In("Force", T::Boolean),
                              In("Restore", T::Boolean)}});
        c.methods.push_back({"CreateReplica", T::Uint32,
                             {In("ElementName", T::String), JobOut(), InRef("SourceElement", lav),
                              OutRef("TargetElement", lav), InRef("TargetSettingGoal", "CIM_StorageSetting"),
                              InRef("TargetPool", "CIM_StoragePool"), In("CopyType", T::Uint16)}});
        c.methods.push_back({"CreateSynchronizedSet", T::Uint32,
                             {In("ElementName", T::String), In("CopyType", T::Uint16),
                              OutRef("Set", "IBMTSSVC_SynchronizedSet"), JobOut()}});
        c.methods.push_back({"ModifySynchronizedSet", T::Uint32,
                             {InRef("SynchronizedSet", "IBMTSSVC_SynchronizedSet"), In("Operation", T::Uint16),
                              InRef("Synchronization", "CIM_StorageSynchronized"), JobOut()}});
        c.methods.push_back({"DeleteSynchronizedSet", T::Uint32,
                             {InRef("Set", "IBMTSSVC_SynchronizedSet"), In("Force", T::Boolean), JobOut()}});
        v.push_back(std::move(c));
    }
    {
        ClassDecl c = C("IBMTSSVC_ControllerConfigurationService", "CIM_ControllerConfigurationService", {}, true);
        c.methods.push_back({"ExposePaths", T::Uint32,
                             {JobOut(), InA("LUNames", T::String), InA("InitiatorPortIDs", T::String),
                              InA("TargetPortIDs", T::String), InA("DeviceNumbers", T::String),
                              InA("DeviceAccesses", T::Uint16), In("Force", T::Boolean),
                              InOutRefA("ProtocolControllers", "CIM_SCSIProtocolController")}});
        c.methods.push_back({"HidePaths", T::Uint32,
                             {JobOut(), InA("LUNames", T::String), InA("InitiatorPortIDs", T::String),
                              InA("TargetPortIDs", T::String), In("Force", T::Boolean),
                              InOutRefA("ProtocolControllers", "CIM_SCSIProtocolController")}});
        v.push_back(std::move(c));
    }

    // Hosts and masking.
    v.push_back(C("CIM_ProtocolController", "CIM_LogicalDevice", {P("MaxUnitsControlled", T::Uint32)}));
    v.push_back(C("CIM_SCSIProtocolController", "CIM_ProtocolController"));
    v.push_back(C("IBMTSSVC_ProtocolController", "CIM_SCSIProtocolController", {P("PortCount", T::Uint32)}, true));
    v.push_back(C("CIM_Identity", "CIM_ManagedElement", {{"InstanceID", T::String, false, true, ""}}));
    v.push_back(C("CIM_StorageHardwareID", "CIM_Identity", {P("StorageID", T::String), P("IDType", T::Uint16)}));
    v.push_back(C("IBMTSSVC_StorageHardwareID", "CIM_StorageHardwareID",
                  {P("portWWN", T::String), P("iSCSIName", T::String), P("HostName", T::String)}, true));
    v.push_back(C("CIM_Privilege", "CIM_ManagedElement",
                  {{"InstanceID", T::String, false, true, ""}, P("PrivilegeGranted", T::Boolean),
                   A("Activities", T::Uint16)}));
    v.push_back(C("CIM_AuthorizedPrivilege", "CIM_Privilege"));
    v.push_back(C("IBMTSSVC_AuthorizedPrivilege", "CIM_AuthorizedPrivilege", {}, true));

    // Consistency groups, settings, software, capabilities, jobs.
    v.push_back(C("CIM_Collection", "CIM_ManagedElement"));
    v.push_back(C("CIM_SystemSpecificCollection", "CIM_Collection", {{"InstanceID", T::String, false, true, ""}}));
    v.push_back(C("IBMTSSVC_SynchronizedSet", "CIM_SystemSpecificCollection",
                  {P("CopyType", T::Uint16), P("SyncState", T::Uint16)}));
    v.push_back(C("IBMTSSVC_FlashCopyStorageSynchronizedSet", "IBMTSSVC_SynchronizedSet",
                  {P("ConsistencyGroupID", T::String), P("NumberOfMembers", T::Uint32), P("AutoDelete", T::Boolean)},
                  true));
    v.push_back(C("CIM_SettingData", "CIM_ManagedElement", {{"InstanceID", T::String, false, true, ""}}));
    v.push_back(C("CIM_StorageSetting", "CIM_SettingData"));
    v.push_back(C("IBMTSSVC_StorageVolumeSetting", "CIM_StorageSetting", {P("SpaceEfficient", T::Boolean)}, true));
    v.push_back(C("CIM_SoftwareIdentity", "CIM_LogicalElement",
                  {{"InstanceID", T::String, false, true, ""}, P("VersionString", T::String),
                   P("MajorVersion", T::Uint16), P("MinorVersion", T::Uint16), P("RevisionNumber", T::Uint16),
                   P("BuildNumber", T::Uint16), P("Manufacturer", T::String)}));
    v.push_back(C("IBMTSSVC_ClusterSoftwareIdentity", "CIM_SoftwareIdentity", {}, true));
    v.push_back(C("CIM_Capabilities", "CIM_ManagedElement", {{"InstanceID", T::String, false, true, ""}}));
    v.push_back(C("CIM_StorageReplicationCapabilities", "CIM_Capabilities",
                  {P("SupportedSynchronizationType", T::Uint16)}));
    v.push_back(C("IBMTSSVC_StorageReplicationCapabilities", "CIM_StorageReplicationCapabilities", {}, true));
    v.push_back(C("CIM_Job", "CIM_LogicalElement",
                  {P("JobStatus", T::String), P("TimeSubmitted", T::Datetime), P("TimeBeforeRemoval", T::Datetime),
                   P("DeleteOnCompletion", T::Boolean), P("PercentComplete", T::Uint16),
                   P("ErrorDescription", T::String)}));
    v.push_back(C("CIM_ConcreteJob", "CIM_Job", {{"InstanceID", T::String, false, true, ""}, P("JobState", T::Uint16)}));
    v.push_back(C("IBMTSSVC_ConcreteJob", "CIM_ConcreteJob", {P("MethodName", T::String)}, true));

    // Associations.
    v.push_back(Assoc("CIM_Dependency", "", {RK("Antecedent", "CIM_ManagedElement"), RK("Dependent", "CIM_ManagedElement")}));
    v.push_back(Assoc("CIM_AllocatedFromStoragePool", "CIM_Dependency", {P("SpaceConsumed", T::Uint64)}));
    v.push_back(Assoc("IBMTSSVC_AllocatedFromStoragePool", "CIM_AllocatedFromStoragePool", {}, true));
    v.push_back(Assoc("CIM_ProtocolControllerForDevice", "CIM_Dependency", {P("DeviceNumber", T::String)}));
    v.push_back(Assoc("CIM_ProtocolControllerForUnit", "CIM_ProtocolControllerForDevice", {P("DeviceAccess", T::Uint16)}));
    v.push_back(Assoc("IBMTSSVC_ProtocolControllerForUnit", "CIM_ProtocolControllerForUnit", {}, true));
    v.push_back(Assoc("CIM_HostedDependency", "CIM_Dependency"));
    v.push_back(Assoc("CIM_HostedService", "CIM_HostedDependency"));
    v.push_back(Assoc("IBMTSSVC_HostedService", "CIM_HostedService", {}, true));
    v.push_back(Assoc("CIM_AuthorizedSubject", "",
                      {RK("Privilege", "CIM_Privilege"), RK("PrivilegedElement", "CIM_ManagedElement")}));
    v.push_back(Assoc("IBMTSSVC_AuthorizedSubject", "CIM_AuthorizedSubject", {}, true));
    v.push_back(Assoc("CIM_AuthorizedTarget", "",
                      {RK("Privilege", "CIM_Privilege"), RK("TargetElement", "CIM_ManagedElement")}));
    v.push_back(Assoc("IBMTSSVC_AuthorizedTarget", "CIM_AuthorizedTarget", {}, true));
    v.push_back(Assoc("CIM_Synchronized", "",
                      {RK("SystemElement", "CIM_ManagedElement"), RK("SyncedElement", "CIM_ManagedElement"),
                       P("SyncMaintained", T::Boolean)}));
    v.push_back(Assoc("CIM_StorageSynchronized", "CIM_Synchronized",
                      {P("CopyType", T::Uint16), P("SyncState", T::Uint16), P("SyncType", T::Uint16),
                       P("PercentSynced", T::Uint16)}));
    {
        ClassDecl c = Assoc("IBMTSSVC_LocalStorageSynchronized", "CIM_StorageSynchronized",
                            {P("ElementName", T::String), P("FCMapID", T::String), P("CopyRate", T::Uint16),
                             P("CleanRate", T::Uint16), P("Incremental", T::Boolean), P("AutoDelete", T::Boolean),
                             P("SynchronizedSetName", T::String), P("GrainSize", T::Uint32)},
                            true);
        c.methods.push_back({"SetElementName", T::Uint32,
                             {In("elementName", T::String), In("force", T::Boolean), JobOut()}});
        v.push_back(std::move(c));
    }
    return v;
}
}  // namespace

const ParamDecl* MethodDecl::param(const std::string& n) const {
    for (auto& p : params)
        if (equalsNoCase(p.name, n)) return &p;
    return nullptr;
}

const ClassCatalog& ClassCatalog::instance() {
    static const ClassCatalog catalog;
    return catalog;
}

ClassCatalog::ClassCatalog() : classes_(declarations()) {
    for (size_t i = 0; i < classes_.size(); ++i) byLowerName_[toLower(classes_[i].name)] = i;
    allProps_.resize(classes_.size());
    for (size_t i = 0; i < classes_.size(); ++i) {
        std::vector<const ClassDecl*> chain;
        for (const ClassDecl* c = &classes_[i]; c; c = c->superclass.empty() ? nullptr : find(c->superclass))
            chain.insert(chain.begin(), c);
        for (const ClassDecl* c : chain)
            for (auto& p : c->properties) {
                bool overridden = false;
                for (auto& existing : allProps_[i])
                    if (equalsNoCase(existing->name, p.name)) {
                        existing = &p;
                        overridden = true;
                    }
                if (!overridden) allProps_[i].push_back(&p);
            }
    }
}

const ClassDecl* ClassCatalog::find(const std::string& name) const {
    auto it = byLowerName_.find(toLower(name));
    return it == byLowerName_.end() ? nullptr : &classes_[it->second];
}

bool ClassCatalog::isA(const std::string& className, const std::string& ancestor) const {
    for (const ClassDecl* c = find(className); c; c = c->superclass.empty() ? nullptr : find(c->superclass))
        if (equalsNoCase(c->name, ancestor)) return true;
    return false;
}

std::vector<const ClassDecl*> ClassCatalog::concreteUnder(const std::string& name) const {
    std::vector<const ClassDecl*> out;
    for (auto& c : classes_)
        if (c.concrete && isA(c.name, name)) out.push_back(&c);
    return out;
}

const std::vector<const PropertyDecl*>& ClassCatalog::allProperties(const ClassDecl& c) const {
    return allProps_[size_t(&c - classes_.data())];
}

const PropertyDecl* ClassCatalog::property(const std::string& className, const std::string& name) const {
    auto c = find(className);
    if (!c) return nullptr;
    for (auto p : allProperties(*c))
        if (equalsNoCase(p->name, name)) return p;
    return nullptr;
}

const MethodDecl* ClassCatalog::method(const std::string& className, const std::string& name) const {
    for (const ClassDecl* c = find(className); c; c = c->superclass.empty() ? nullptr : find(c->superclass))
        for (auto& m : c->methods)
            if (equalsNoCase(m.name, name)) return &m;
    return nullptr;
}

std::vector<const MethodDecl*> ClassCatalog::allMethods(const ClassDecl& c) const {
    std::vector<const MethodDecl*> out;
    for (const ClassDecl* k = &c; k; k = k->superclass.empty() ? nullptr : find(k->superclass))
        for (auto& m : k->methods) out.push_back(&m);
    return out;
}

}  // namespace arraysim
