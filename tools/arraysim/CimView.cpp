#include "CimView.h"

#include <cmath>
#include <ctime>

#include "ClassCatalog.h"
#include "CopyType.h"
#include "JobState.h"
#include "TextUtil.h"

namespace arraysim {

namespace {
const char* const kClassNames[] = {
    "IBMTSSVC_Cluster",
    "IBMTSSVC_IOGroup",
    "IBMTSSVC_Node",
    "IBMTSSVC_ConcreteStoragePool",
    "IBMTSSVC_StorageVolume",
    "IBMTSSVC_ConciseVolume",
    "IBMTSSVC_StorageConfigurationService",
    "IBMTSSVC_ControllerConfigurationService",
    "IBMTSSVC_ProtocolController",
    "IBMTSSVC_StorageHardwareID",
    "IBMTSSVC_AuthorizedPrivilege",
    "IBMTSSVC_StorageVolumeSetting",
    "IBMTSSVC_ClusterSoftwareIdentity",
    "IBMTSSVC_StorageReplicationCapabilities",
    "IBMTSSVC_FlashCopyStorageSynchronizedSet",
    "IBMTSSVC_ConcreteJob",
    "IBMTSSVC_AllocatedFromStoragePool",
    "IBMTSSVC_ProtocolControllerForUnit",
    "IBMTSSVC_HostedService",
    "IBMTSSVC_AuthorizedSubject",
    "IBMTSSVC_AuthorizedTarget",
    "IBMTSSVC_LocalStorageSynchronized",
};
constexpr int kKinds = sizeof(kClassNames) / sizeof(kClassNames[0]);

const char* const kSettingNames[] = {"Standard", "Thin"};
const uint16_t kCapabilityTypes[] = {SupportedSynchronizationType::UnSyncUnAssoc,
                                     SupportedSynchronizationType::UnSyncAssocFull};
const char* const kServiceNames[] = {"StorageConfigurationService", "ControllerConfigurationService"};

SimValue u16(uint64_t v) { return SimValue::uint(SimType::Uint16, v); }
SimValue u32(uint64_t v) { return SimValue::uint(SimType::Uint32, v); }
SimValue u64(uint64_t v) { return SimValue::uint(SimType::Uint64, v); }
SimValue status(uint16_t s) { return SimValue::uintArray(SimType::Uint16, {s}); }

// Collects property values, keeping only those the filter wants.
class Out {
public:
    Out(const PropertyFilter& f, std::vector<SimProperty>& out) : f_(f), out_(out) {}
    Out& operator()(const char* name, SimValue v) {
        if (f_.wants(name)) out_.push_back({name, std::move(v)});
        return *this;
    }
    Out& str(const char* name, const std::string& s) { return (*this)(name, SimValue::str(s)); }
    bool wants(const char* name) const { return f_.wants(name); }

private:
    const PropertyFilter& f_;
    std::vector<SimProperty>& out_;
};
}  // namespace

PropertyFilter PropertyFilter::only(const std::vector<std::string>& names) {
    PropertyFilter f;
    f.all = false;
    for (auto& n : names) f.lowerNames.push_back(toLower(n));
    return f;
}

bool PropertyFilter::wants(const std::string& name) const {
    if (all) return true;
    for (auto& n : lowerNames)
        if (equalsNoCase(n, name)) return true;
    return false;
}

const char* CimView::className(ObjKind kind) { return kClassNames[static_cast<int>(kind)]; }

bool CimView::kindOfClass(const std::string& concreteClass, ObjKind& out) {
    for (int i = 0; i < kKinds; ++i)
        if (equalsNoCase(concreteClass, kClassNames[i])) {
            out = static_cast<ObjKind>(i);
            return true;
        }
    return false;
}

std::string CimView::volumeSystemName(const Volume& v) const {
    return s_.cluster.id + ":" + std::to_string(v.ioGroupId);
}

std::string CimView::cimDatetime(int64_t epochMs) {
    std::time_t secs = std::time_t(epochMs / 1000);
    std::tm tm{};
    gmtime_r(&secs, &tm);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d%02d%02d%02d%02d%02d.%06d+000", (tm.tm_year + 1900) % 10000,
                  (tm.tm_mon + 1) % 100, tm.tm_mday % 100, tm.tm_hour % 100, tm.tm_min % 100, tm.tm_sec % 100,
                  int(epochMs % 1000) * 1000 % 1000000);
    return buf;
}

// ---------------------------------------------------------------- enumerate

void CimView::enumerate(ObjKind kind, const std::function<void(const ObjRef&)>& fn) const {
    auto one = [&](uint64_t a, uint64_t b = 0) { fn(ObjRef{kind, a, b}); };
    switch (kind) {
        case ObjKind::Cluster: one(0); break;
        case ObjKind::IoGroup: for (auto& [id, g] : s_.ioGroups) one(id); break;
        case ObjKind::Node: for (auto& [id, n] : s_.nodes) one(id); break;
        case ObjKind::Pool: for (auto& [id, p] : s_.pools) one(id); break;
        case ObjKind::Volume:
        case ObjKind::ConciseVolume:
        case ObjKind::AllocatedFromPool:
            for (auto& [id, v] : s_.volumes) one(id);
            break;
        case ObjKind::ConfigService:
        case ObjKind::ControllerService: one(0); break;
        case ObjKind::HostedService: one(0); one(1); break;
        case ObjKind::Host:
        case ObjKind::Privilege:
        case ObjKind::AuthorizedTarget:
            for (auto& [id, h] : s_.hosts) one(id);
            break;
        case ObjKind::HardwareId:
        case ObjKind::AuthorizedSubject:
            for (auto& [id, p] : s_.ports) one(id);
            break;
        case ObjKind::VolumeSetting:
            if (s_.limits.standardGoal) one(0);
            one(1);
            break;
        case ObjKind::SoftwareIdentity: one(0); break;
        case ObjKind::ReplicationCapabilities: one(0); one(1); break;
        case ObjKind::Group: for (auto& [id, g] : s_.groups) one(id); break;
        case ObjKind::Job: for (auto id : jobs_.ids()) one(id); break;
        case ObjKind::HostMapping:
            for (auto& [key, m] : s_.hostMappings) one(key.first, key.second);
            break;
        case ObjKind::Mapping: for (auto& [id, m] : s_.fcMappings) one(id); break;
    }
}

bool CimView::exists(const ObjRef& r) const {
    switch (r.kind) {
        case ObjKind::Cluster:
        case ObjKind::ConfigService:
        case ObjKind::ControllerService:
        case ObjKind::SoftwareIdentity: return r.a == 0;
        case ObjKind::HostedService:
        case ObjKind::ReplicationCapabilities: return r.a <= 1;
        case ObjKind::IoGroup: return s_.ioGroups.count(uint32_t(r.a)) > 0;
        case ObjKind::Node: return s_.nodes.count(uint32_t(r.a)) > 0;
        case ObjKind::Pool: return s_.pools.count(uint32_t(r.a)) > 0;
        case ObjKind::Volume:
        case ObjKind::ConciseVolume:
        case ObjKind::AllocatedFromPool: return s_.volume(uint32_t(r.a)) != nullptr;
        case ObjKind::Host:
        case ObjKind::Privilege:
        case ObjKind::AuthorizedTarget: return s_.hosts.count(uint32_t(r.a)) > 0;
        case ObjKind::HardwareId:
        case ObjKind::AuthorizedSubject: return s_.ports.count(uint32_t(r.a)) > 0;
        case ObjKind::VolumeSetting: return r.a == 1 || (r.a == 0 && s_.limits.standardGoal);
        case ObjKind::Group: return s_.groups.count(uint32_t(r.a)) > 0;
        case ObjKind::Job: return jobs_.find(r.a) != nullptr;
        case ObjKind::HostMapping: return s_.hostMappings.count({uint32_t(r.a), uint32_t(r.b)}) > 0;
        case ObjKind::Mapping: return s_.mapping(uint32_t(r.a)) != nullptr;
    }
    return false;
}

// ---------------------------------------------------------------- paths

SimPath CimView::pathOf(const ObjRef& r) const {
    SimPath p;
    p.className = className(r.kind);
    const std::string& cl = s_.cluster.id;
    auto systemKeys = [&](const std::string& ccn, const std::string& name) {
        p.addKey("CreationClassName", ccn).addKey("Name", name);
    };
    auto deviceKeys = [&](const std::string& sccn, const std::string& sysName, const std::string& deviceId) {
        p.addKey("CreationClassName", p.className)
            .addKey("DeviceID", deviceId)
            .addKey("SystemCreationClassName", sccn)
            .addKey("SystemName", sysName);
    };
    switch (r.kind) {
        case ObjKind::Cluster: systemKeys(p.className, cl); break;
        case ObjKind::IoGroup:
        case ObjKind::Node: systemKeys(p.className, cl + ":" + std::to_string(r.a)); break;
        case ObjKind::Pool: p.addKey("InstanceID", cl + ":" + std::to_string(r.a)); break;
        case ObjKind::Volume: {
            auto v = s_.volume(uint32_t(r.a));
            deviceKeys("IBMTSSVC_IOGroup", v ? volumeSystemName(*v) : cl + ":0", std::to_string(r.a));
            break;
        }
        case ObjKind::ConciseVolume: {
            auto v = s_.volume(uint32_t(r.a));
            p.addKey("Cluster", cl).addKey("DeviceID", std::to_string(r.a)).addKey("UniqueID", v ? v->uid : "");
            break;
        }
        case ObjKind::ConfigService:
        case ObjKind::ControllerService:
            p.addKey("CreationClassName", p.className)
                .addKey("Name", kServiceNames[r.kind == ObjKind::ConfigService ? 0 : 1])
                .addKey("SystemCreationClassName", "IBMTSSVC_Cluster")
                .addKey("SystemName", cl);
            break;
        case ObjKind::Host: deviceKeys("IBMTSSVC_Cluster", cl, std::to_string(r.a)); break;
        case ObjKind::HardwareId: {
            auto it = s_.ports.find(uint32_t(r.a));
            std::string id = it == s_.ports.end()
                                 ? cl
                                 : cl + ":" + std::to_string(it->second.hostId) + ":" + it->second.name;
            p.addKey("InstanceID", id);
            break;
        }
        case ObjKind::Privilege: p.addKey("InstanceID", cl + ":PRIV:" + std::to_string(r.a)); break;
        case ObjKind::VolumeSetting: p.addKey("InstanceID", cl + ":" + kSettingNames[r.a % 2]); break;
        case ObjKind::SoftwareIdentity: p.addKey("InstanceID", cl); break;
        case ObjKind::ReplicationCapabilities: p.addKey("InstanceID", cl + ":RC:" + std::to_string(r.a)); break;
        case ObjKind::Group: p.addKey("InstanceID", cl + ":FCCG:" + std::to_string(r.a)); break;
        case ObjKind::Job: p.addKey("InstanceID", cl + ":JOB:" + std::to_string(r.a)); break;
        case ObjKind::AllocatedFromPool: {
            auto v = s_.volume(uint32_t(r.a));
            p.addRef("Antecedent", pathOf({ObjKind::Pool, v ? v->poolId : 0u}))
                .addRef("Dependent", pathOf({ObjKind::Volume, r.a}));
            break;
        }
        case ObjKind::HostMapping:
            p.addRef("Antecedent", pathOf({ObjKind::Host, r.a})).addRef("Dependent", pathOf({ObjKind::Volume, r.b}));
            break;
        case ObjKind::HostedService:
            p.addRef("Antecedent", pathOf({ObjKind::Cluster, 0}))
                .addRef("Dependent", pathOf({r.a == 0 ? ObjKind::ConfigService : ObjKind::ControllerService, 0}));
            break;
        case ObjKind::AuthorizedSubject: {
            auto it = s_.ports.find(uint32_t(r.a));
            uint32_t host = it == s_.ports.end() ? 0 : it->second.hostId;
            p.addRef("Privilege", pathOf({ObjKind::Privilege, host}))
                .addRef("PrivilegedElement", pathOf({ObjKind::HardwareId, r.a}));
            break;
        }
        case ObjKind::AuthorizedTarget:
            p.addRef("Privilege", pathOf({ObjKind::Privilege, r.a})).addRef("TargetElement", pathOf({ObjKind::Host, r.a}));
            break;
        case ObjKind::Mapping: {
            auto m = s_.mapping(uint32_t(r.a));
            p.addRef("SystemElement", pathOf({ObjKind::Volume, m ? m->sourceId : 0u}))
                .addRef("SyncedElement", pathOf({ObjKind::Volume, m ? m->targetId : 0u}));
            break;
        }
    }
    return p;
}

bool CimView::keyIs(const SimPath& p, const char* name, const std::string& value, bool noCase) const {
    auto k = p.key(name);
    if (!k || k->kind == SimKey::Kind::Reference) return false;
    return noCase ? equalsNoCase(k->text, value) : k->text == value;
}

bool CimView::refKey(const SimPath& p, const char* name, ObjKind kind, ObjRef& out) const {
    auto k = p.key(name);
    if (!k || k->kind != SimKey::Kind::Reference || !k->ref) return false;
    return resolve(*k->ref, out) && out.kind == kind;
}

bool CimView::idAfter(const std::string& text, const std::string& prefix, uint64_t& id) const {
    if (text.size() <= prefix.size() || !equalsNoCase(text.substr(0, prefix.size()), prefix)) return false;
    unsigned long long v = 0;
    std::string digits = text.substr(prefix.size());
    if (digits.find_first_not_of("0123456789") != std::string::npos || !parseUint64(digits, v)) return false;
    id = v;
    return true;
}

bool CimView::resolve(const SimPath& path, ObjRef& out) const {
    const auto& catalog = ClassCatalog::instance();
    if (!catalog.find(path.className)) return false;
    for (const ClassDecl* c : catalog.concreteUnder(path.className)) {
        ObjKind kind;
        if (!kindOfClass(c->name, kind)) continue;
        // The key names must be exactly the class's keys.
        size_t keyCount = 0;
        bool namesOk = true;
        for (auto pd : catalog.allProperties(*c))
            if (pd->key) {
                ++keyCount;
                if (!path.key(pd->name)) namesOk = false;
            }
        if (!namesOk || keyCount != path.keys.size()) continue;
        if (auto ccn = path.key("CreationClassName"))
            if (!equalsNoCase(ccn->text, c->name)) continue;
        if (resolveAs(kind, path, out)) return true;
    }
    return false;
}

bool CimView::resolveAs(ObjKind kind, const SimPath& p, ObjRef& out) const {
    const std::string& cl = s_.cluster.id;
    out = ObjRef{kind, 0, 0};
    auto instanceId = [&]() -> std::string {
        auto k = p.key("InstanceID");
        return k ? k->text : std::string();
    };
    switch (kind) {
        case ObjKind::Cluster: return keyIs(p, "Name", cl);
        case ObjKind::IoGroup:
        case ObjKind::Node: {
            auto k = p.key("Name");
            return k && idAfter(k->text, cl + ":", out.a) && exists(out);
        }
        case ObjKind::Pool: return idAfter(instanceId(), cl + ":", out.a) && exists(out);
        case ObjKind::Volume: {
            auto k = p.key("DeviceID");
            unsigned long long id = 0;
            if (!k || k->text.find_first_not_of("0123456789") != std::string::npos || !parseUint64(k->text, id))
                return false;
            auto v = s_.volume(uint32_t(id));
            out.a = id;
            return v && keyIs(p, "SystemCreationClassName", "IBMTSSVC_IOGroup") &&
                   keyIs(p, "SystemName", volumeSystemName(*v));
        }
        case ObjKind::ConciseVolume: {
            auto k = p.key("DeviceID");
            unsigned long long id = 0;
            if (!k || !parseUint64(k->text, id)) return false;
            auto v = s_.volume(uint32_t(id));
            out.a = id;
            return v && keyIs(p, "UniqueID", v->uid) && keyIs(p, "Cluster", cl);
        }
        case ObjKind::ConfigService:
        case ObjKind::ControllerService:
            return keyIs(p, "Name", kServiceNames[kind == ObjKind::ConfigService ? 0 : 1]) &&
                   keyIs(p, "SystemCreationClassName", "IBMTSSVC_Cluster") && keyIs(p, "SystemName", cl);
        case ObjKind::Host: {
            auto k = p.key("DeviceID");
            unsigned long long id = 0;
            if (!k || !parseUint64(k->text, id)) return false;
            out.a = id;
            return exists(out) && keyIs(p, "SystemCreationClassName", "IBMTSSVC_Cluster") &&
                   keyIs(p, "SystemName", cl);
        }
        case ObjKind::HardwareId: {
            std::string id = instanceId();
            std::string prefix = cl + ":";
            if (!equalsNoCase(id.substr(0, prefix.size()), prefix)) return false;
            size_t colon = id.find(':', prefix.size());
            if (colon == std::string::npos) return false;
            auto port = s_.portByName(id.substr(colon + 1));
            if (!port || std::to_string(port->hostId) != id.substr(prefix.size(), colon - prefix.size())) return false;
            out.a = port->id;
            return true;
        }
        case ObjKind::Privilege: return idAfter(instanceId(), cl + ":PRIV:", out.a) && exists(out);
        case ObjKind::VolumeSetting:
            for (uint64_t i = 0; i < 2; ++i)
                if (equalsNoCase(instanceId(), cl + ":" + kSettingNames[i])) {
                    out.a = i;
                    return exists(out);
                }
            return false;
        case ObjKind::SoftwareIdentity: return equalsNoCase(instanceId(), cl);
        case ObjKind::ReplicationCapabilities: return idAfter(instanceId(), cl + ":RC:", out.a) && exists(out);
        case ObjKind::Group: return idAfter(instanceId(), cl + ":FCCG:", out.a) && exists(out);
        case ObjKind::Job: return idAfter(instanceId(), cl + ":JOB:", out.a) && exists(out);
        case ObjKind::AllocatedFromPool: {
            ObjRef pool, vol;
            if (!refKey(p, "Antecedent", ObjKind::Pool, pool) || !refKey(p, "Dependent", ObjKind::Volume, vol))
                return false;
            out.a = vol.a;
            return s_.volume(uint32_t(vol.a))->poolId == pool.a;
        }
        case ObjKind::HostMapping: {
            ObjRef host, vol;
            if (!refKey(p, "Antecedent", ObjKind::Host, host) || !refKey(p, "Dependent", ObjKind::Volume, vol))
                return false;
            out.a = host.a;
            out.b = vol.a;
            return exists(out);
        }
        case ObjKind::HostedService: {
            ObjRef sys, svc;
            if (!refKey(p, "Antecedent", ObjKind::Cluster, sys)) return false;
            if (refKey(p, "Dependent", ObjKind::ConfigService, svc)) return true;
            out.a = 1;
            return refKey(p, "Dependent", ObjKind::ControllerService, svc);
        }
        case ObjKind::AuthorizedSubject: {
            ObjRef priv, hw;
            if (!refKey(p, "Privilege", ObjKind::Privilege, priv) ||
                !refKey(p, "PrivilegedElement", ObjKind::HardwareId, hw))
                return false;
            out.a = hw.a;
            return s_.ports.at(uint32_t(hw.a)).hostId == priv.a;
        }
        case ObjKind::AuthorizedTarget: {
            ObjRef priv, host;
            if (!refKey(p, "Privilege", ObjKind::Privilege, priv) || !refKey(p, "TargetElement", ObjKind::Host, host))
                return false;
            out.a = host.a;
            return priv.a == host.a;
        }
        case ObjKind::Mapping: {
            ObjRef src, tgt;
            if (!refKey(p, "SystemElement", ObjKind::Volume, src) || !refKey(p, "SyncedElement", ObjKind::Volume, tgt))
                return false;
            auto m = s_.mappingByPair(uint32_t(src.a), uint32_t(tgt.a));
            if (!m) return false;
            out.a = m->id;
            return true;
        }
    }
    return false;
}

// ---------------------------------------------------------------- properties

void CimView::render(const ObjRef& r, const PropertyFilter& filter, std::vector<SimProperty>& props,
                     const SimPath* path) const {
    Out out(filter, props);
    auto keys = [&]() {
        SimPath own;
        if (!path) own = pathOf(r);
        const SimPath& p = path ? *path : own;
        for (auto& k : p.keys) {
            if (!out.wants(k.name.c_str())) continue;
            if (k.kind == SimKey::Kind::Reference)
                out(k.name.c_str(), SimValue::ref(*k.ref));
            else
                out.str(k.name.c_str(), k.text);
        }
    };
    keys();
    switch (r.kind) {
        case ObjKind::Cluster:
            out.str("ElementName", s_.cluster.name)("OperationalStatus", status(2))("EnabledState", u16(2));
            break;
        case ObjKind::IoGroup:
            out.str("ElementName", s_.ioGroups.at(uint32_t(r.a)).name)("OperationalStatus", status(2));
            break;
        case ObjKind::Node: {
            auto& n = s_.nodes.at(uint32_t(r.a));
            out.str("ElementName", n.name)("OperationalStatus", status(2)).str("IOGroupID", std::to_string(n.ioGroupId));
            break;
        }
        case ObjKind::Pool: {
            auto& pool = s_.pools.at(uint32_t(r.a));
            uint64_t used = s_.poolUsedBytes(pool.id);
            out.str("ElementName", pool.name)("OperationalStatus", status(pool.online ? 2 : 10))
                .str("PoolID", std::to_string(pool.id))("Primordial", SimValue::boolean(false))(
                    "TotalManagedSpace", u64(pool.capacityBytes))(
                    "RemainingManagedSpace", u64(pool.capacityBytes > used ? pool.capacityBytes - used : 0))(
                    "NativeStatus", u16(pool.online ? 1 : 0));
            break;
        }
        case ObjKind::Volume: {
            auto& v = *s_.volume(uint32_t(r.a));
            uint16_t st = s_.volumeStatus(v);
            auto io = s_.ioGroups.find(v.ioGroupId);
            auto pool = s_.pools.find(v.poolId);
            out.str("ElementName", v.name)
                .str("Name", v.uid)("OperationalStatus", status(st))("EnabledState", u16(st == 2 || st == 3 ? 2 : 3))(
                    "BlockSize", u64(v.blockSize))("NumberOfBlocks", u64(v.blockCount))(
                    "ConsumableBlocks", u64(v.blockCount))("Primordial", SimValue::boolean(false))(
                    "IsSpaceEfficient", SimValue::boolean(v.spaceEfficient))
                .str("GroupName", io == s_.ioGroups.end() ? "" : io->second.name)
                .str("PreferredNode", std::to_string(v.preferredNodeId))
                .str("PoolName", pool == s_.pools.end() ? "" : pool->second.name)
                .str("VolumeId", std::to_string(v.id))("UncompressedUsedCapacity", u64(v.allocatedBytes()));
            break;
        }
        case ObjKind::ConciseVolume: {
            auto& v = *s_.volume(uint32_t(r.a));
            out.str("ElementName", v.name).str("IOGroupID", std::to_string(v.ioGroupId));
            break;
        }
        case ObjKind::ConfigService:
        case ObjKind::ControllerService:
            out.str("ElementName", kServiceNames[r.kind == ObjKind::ConfigService ? 0 : 1])(
                "OperationalStatus", status(2))("EnabledState", u16(2))("Started", SimValue::boolean(true));
            break;
        case ObjKind::Host: {
            auto& h = s_.hosts.at(uint32_t(r.a));
            out.str("ElementName", h.name).str("Name", h.name)("OperationalStatus", status(2))(
                "EnabledState", u16(2))("MaxUnitsControlled", u32(2048))(
                "PortCount", u32(s_.portsOfHost(h.id).size()));
            break;
        }
        case ObjKind::HardwareId: {
            auto& port = s_.ports.at(uint32_t(r.a));
            auto host = s_.hosts.find(port.hostId);
            out.str("ElementName", port.name).str("StorageID", port.name)("IDType", u16(port.iscsi ? 5 : 2));
            if (port.iscsi)
                out.str("iSCSIName", port.name);
            else
                out.str("portWWN", port.name);
            out.str("HostName", host == s_.hosts.end() ? "" : host->second.name);
            break;
        }
        case ObjKind::Privilege:
            out.str("ElementName", "host access")("PrivilegeGranted", SimValue::boolean(true))(
                "Activities", SimValue::uintArray(SimType::Uint16, {5, 6}));
            break;
        case ObjKind::VolumeSetting:
            out.str("ElementName", kSettingNames[r.a % 2])("SpaceEfficient", SimValue::boolean(r.a == 1));
            break;
        case ObjKind::SoftwareIdentity: {
            auto parts = splitText(s_.cluster.firmware, '.');
            auto part = [&](size_t i) { return u16(i < parts.size() ? std::strtoul(parts[i].c_str(), nullptr, 10) : 0); };
            out.str("ElementName", "IBM SAN Volume Controller")
                .str("VersionString", s_.cluster.firmware)("MajorVersion", part(0))("MinorVersion", part(1))(
                    "RevisionNumber", part(2))("BuildNumber", u16(s_.cluster.build))
                .str("Manufacturer", "IBM");
            break;
        }
        case ObjKind::ReplicationCapabilities:
            out.str("ElementName", r.a == 0 ? "FlashCopy snapshot" : "FlashCopy clone")(
                "SupportedSynchronizationType", u16(kCapabilityTypes[r.a % 2]));
            break;
        case ObjKind::Group: {
            auto& g = s_.groups.at(uint32_t(r.a));
            FcState st = s_.groupState(g);
            out.str("ElementName", g.name)("CopyType", u16(CopyType::UnSyncAssoc))("SyncState", u16(copies_.shownSyncState(st, false)))
                .str("ConsistencyGroupID", std::to_string(g.id))("NumberOfMembers", u32(g.members.size()))(
                    "AutoDelete", SimValue::boolean(false));
            break;
        }
        case ObjKind::Job: {
            Job* job = jobs_.find(r.a);
            if (!job) break;
            uint16_t st = job->state();
            bool failed = st == JobState::Terminated || st == JobState::Killed || st == JobState::Exception;
            out.str("ElementName", job->method)
                .str("Name", job->method)
                .str("MethodName", job->method)("JobState", u16(st))
                .str("JobStatus", JobState::name(st))("PercentComplete", u16(job->percent()))(
                    "OperationalStatus",
                    st == JobState::Completed ? SimValue::uintArray(SimType::Uint16, {2, 17}) : status(failed ? 6 : 2))
                .str("Status", failed ? (st == JobState::Exception ? "Error" : "Stopped") : "OK")(
                    "StatusDescriptions",
                    SimValue::strArray({failed ? job->errorDescription : std::string(JobState::name(st))}))(
                    "TimeSubmitted", SimValue::datetime(cimDatetime(job->submittedMs)))(
                    "TimeBeforeRemoval", SimValue::datetime("00000000000500.000000:000"))(
                    "DeleteOnCompletion", SimValue::boolean(false));
            if (failed) out.str("ErrorDescription", job->errorDescription);
            break;
        }
        case ObjKind::AllocatedFromPool:
            out("SpaceConsumed", u64(s_.volume(uint32_t(r.a))->allocatedBytes()));
            break;
        case ObjKind::HostMapping: {
            auto& m = s_.hostMappings.at({uint32_t(r.a), uint32_t(r.b)});
            out.str("DeviceNumber", std::to_string(m.scsiId))("DeviceAccess", u16(2));
            break;
        }
        case ObjKind::Mapping: {
            auto& m = *s_.mapping(uint32_t(r.a));
            auto grp = m.groupId == kNoId ? s_.groups.end() : s_.groups.find(m.groupId);
            out.str("ElementName", m.name)
                .str("FCMapID", std::to_string(m.id))("SyncState", u16(copies_.syncState(m)))(
                    "CopyType", u16(m.autoDelete ? CopyType::UnSyncUnAssoc : CopyType::UnSyncAssoc))(
                    "SyncType", u16(m.copyRate == 0 ? SyncType::Snapshot : SyncType::Clone))(
                    "PercentSynced", u16(uint64_t(std::floor(copies_.progressAt(m, now_)))))(
                    "CopyRate", u16(m.copyRate))("CleanRate", u16(m.cleanRate))(
                    "Incremental", SimValue::boolean(m.incremental))("AutoDelete", SimValue::boolean(m.autoDelete))(
                    "SynchronizedSetName",
                    grp == s_.groups.end() ? SimValue::null(SimType::String) : SimValue::str(grp->second.name))(
                    "GrainSize", u32(m.grainSizeKiB))("SyncMaintained", SimValue::boolean(false));
            break;
        }
        case ObjKind::HostedService:
        case ObjKind::AuthorizedSubject:
        case ObjKind::AuthorizedTarget: break;
    }
}

// ---------------------------------------------------------------- associations

void CimView::referencesOf(const ObjRef& r, std::vector<std::pair<ObjRef, std::string>>& out) const {
    switch (r.kind) {
        case ObjKind::Volume: {
            auto id = uint32_t(r.a);
            out.push_back({{ObjKind::AllocatedFromPool, r.a, 0}, "Dependent"});
            for (uint32_t host : s_.hostsOfVolume(id)) out.push_back({{ObjKind::HostMapping, host, r.a}, "Dependent"});
            for (uint32_t m : s_.mappingsOfSource(id)) out.push_back({{ObjKind::Mapping, m, 0}, "SystemElement"});
            if (auto m = s_.mappingOfTarget(id)) out.push_back({{ObjKind::Mapping, m->id, 0}, "SyncedElement"});
            break;
        }
        case ObjKind::Pool:
            for (auto& [id, v] : s_.volumes)
                if (v.poolId == r.a) out.push_back({{ObjKind::AllocatedFromPool, id, 0}, "Antecedent"});
            break;
        case ObjKind::Host:
            for (uint32_t vol : s_.volumesOfHost(uint32_t(r.a)))
                out.push_back({{ObjKind::HostMapping, r.a, vol}, "Antecedent"});
            out.push_back({{ObjKind::AuthorizedTarget, r.a, 0}, "TargetElement"});
            break;
        case ObjKind::HardwareId: out.push_back({{ObjKind::AuthorizedSubject, r.a, 0}, "PrivilegedElement"}); break;
        case ObjKind::Privilege:
            for (uint32_t port : s_.portsOfHost(uint32_t(r.a)))
                out.push_back({{ObjKind::AuthorizedSubject, port, 0}, "Privilege"});
            out.push_back({{ObjKind::AuthorizedTarget, r.a, 0}, "Privilege"});
            break;
        case ObjKind::Cluster:
            out.push_back({{ObjKind::HostedService, 0, 0}, "Antecedent"});
            out.push_back({{ObjKind::HostedService, 1, 0}, "Antecedent"});
            break;
        case ObjKind::ConfigService: out.push_back({{ObjKind::HostedService, 0, 0}, "Dependent"}); break;
        case ObjKind::ControllerService: out.push_back({{ObjKind::HostedService, 1, 0}, "Dependent"}); break;
        default: break;
    }
}

void CimView::endsOf(const ObjRef& a, std::vector<std::pair<std::string, ObjRef>>& out) const {
    switch (a.kind) {
        case ObjKind::AllocatedFromPool: {
            auto v = s_.volume(uint32_t(a.a));
            if (!v) return;
            out.push_back({"Antecedent", {ObjKind::Pool, v->poolId, 0}});
            out.push_back({"Dependent", {ObjKind::Volume, a.a, 0}});
            break;
        }
        case ObjKind::HostMapping:
            out.push_back({"Antecedent", {ObjKind::Host, a.a, 0}});
            out.push_back({"Dependent", {ObjKind::Volume, a.b, 0}});
            break;
        case ObjKind::HostedService:
            out.push_back({"Antecedent", {ObjKind::Cluster, 0, 0}});
            out.push_back({"Dependent", {a.a == 0 ? ObjKind::ConfigService : ObjKind::ControllerService, 0, 0}});
            break;
        case ObjKind::AuthorizedSubject: {
            auto it = s_.ports.find(uint32_t(a.a));
            if (it == s_.ports.end()) return;
            out.push_back({"Privilege", {ObjKind::Privilege, it->second.hostId, 0}});
            out.push_back({"PrivilegedElement", {ObjKind::HardwareId, a.a, 0}});
            break;
        }
        case ObjKind::AuthorizedTarget:
            out.push_back({"Privilege", {ObjKind::Privilege, a.a, 0}});
            out.push_back({"TargetElement", {ObjKind::Host, a.a, 0}});
            break;
        case ObjKind::Mapping: {
            auto m = s_.mapping(uint32_t(a.a));
            if (!m) return;
            out.push_back({"SystemElement", {ObjKind::Volume, m->sourceId, 0}});
            out.push_back({"SyncedElement", {ObjKind::Volume, m->targetId, 0}});
            break;
        }
        default: break;
    }
}

}  // namespace arraysim
