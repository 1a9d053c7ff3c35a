// The cluster as CIM objects: which instances each IBMTSSVC_ class has, their
// object paths, properties and associations, and the way back from a path
// (as any client may write it) to the object.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "ClusterState.h"
#include "CopyServices.h"
#include "JobTable.h"
#include "SimValue.h"

namespace arraysim {

enum class ObjKind : uint8_t {
    Cluster, IoGroup, Node, Pool, Volume, ConciseVolume, ConfigService, ControllerService, Host, HardwareId,
    Privilege, VolumeSetting, SoftwareIdentity, ReplicationCapabilities, Group, Job,
    // associations
    AllocatedFromPool, HostMapping, HostedService, AuthorizedSubject, AuthorizedTarget, Mapping,
};

struct ObjRef {
    ObjKind kind = ObjKind::Cluster;
    uint64_t a = 0;  // the object's id; associations: first end
    uint64_t b = 0;  // associations: second end
    bool operator==(const ObjRef& o) const { return kind == o.kind && a == o.a && b == o.b; }
};

// Which properties a client asked for (PropertyList); all when `all`.
struct PropertyFilter {
    bool all = true;
    std::vector<std::string> lowerNames;
    static PropertyFilter only(const std::vector<std::string>& names);
    bool wants(const std::string& name) const;
};

class CimView {
public:
    CimView(const ClusterState& state, const CopyServices& copies, JobTable& jobs, int64_t nowMs)
        : s_(state), copies_(copies), jobs_(jobs), now_(nowMs) {}

    static const char* className(ObjKind kind);
    static bool kindOfClass(const std::string& concreteClass, ObjKind& out);

    void enumerate(ObjKind kind, const std::function<void(const ObjRef&)>& fn) const;
    bool exists(const ObjRef& ref) const;
    SimPath pathOf(const ObjRef& ref) const;
    // The object a path names: class and key names case-insensitive, keys in
    // any order, host and namespace ignored, reference keys resolved in turn.
    bool resolve(const SimPath& path, ObjRef& out) const;
    // The properties the filter wants that have a value, keys first.
    // `path`, when given, is pathOf(ref) already made.
    void render(const ObjRef& ref, const PropertyFilter& filter, std::vector<SimProperty>& out,
                const SimPath* path = nullptr) const;
    // Association objects that refer to `ref`, with the role it plays there.
    void referencesOf(const ObjRef& ref, std::vector<std::pair<ObjRef, std::string>>& out) const;
    // The ends of an association object: role and object.
    void endsOf(const ObjRef& assoc, std::vector<std::pair<std::string, ObjRef>>& out) const;

    // Text forms used in keys.
    std::string volumeSystemName(const Volume& v) const;
    static std::string cimDatetime(int64_t epochMs);

private:
    bool resolveAs(ObjKind kind, const SimPath& path, ObjRef& out) const;
    bool keyIs(const SimPath& p, const char* name, const std::string& value, bool noCase = true) const;
    bool refKey(const SimPath& p, const char* name, ObjKind kind, ObjRef& out) const;
    bool idAfter(const std::string& text, const std::string& prefix, uint64_t& id) const;

    const ClusterState& s_;
    const CopyServices& copies_;
    JobTable& jobs_;
    int64_t now_;
};

}  // namespace arraysim
