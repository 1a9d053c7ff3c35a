#include "SeedFile.h"

#include <algorithm>
#include <fstream>
#include <stdexcept>

#include "SvcReturnCode.h"
#include "TextUtil.h"

namespace arraysim {

using nlohmann::json;

namespace {
[[noreturn]] void fail(const std::string& what) { throw std::invalid_argument("seed: " + what); }

template <typename T>
T get(const json& j, const char* key, T fallback) {
    if (!j.contains(key) || j[key].is_null()) return fallback;
    try {
        return j[key].get<T>();
    } catch (const json::exception&) {
        fail(std::string("item '") + key + "' has the wrong type");
    }
}

uint64_t sizeOf(const json& j, const char* what, uint64_t fallback) {
    if (j.contains("sizeBytes")) return get<uint64_t>(j, "sizeBytes", 0);
    if (j.contains("sizeMiB")) return get<uint64_t>(j, "sizeMiB", 0) << 20;
    if (j.contains("sizeGiB")) return get<uint64_t>(j, "sizeGiB", 0) << 30;
    if (j.contains("capacityBytes")) return get<uint64_t>(j, "capacityBytes", 0);
    if (j.contains("capacityGiB")) return get<uint64_t>(j, "capacityGiB", 0) << 30;
    if (j.contains("capacityTiB")) return get<uint64_t>(j, "capacityTiB", 0) << 40;
    if (fallback) return fallback;
    fail(std::string(what) + " needs a size");
}

const json& list(const json& doc, const char* key) {
    static const json empty = json::array();
    if (!doc.contains(key)) return empty;
    if (!doc[key].is_array()) fail(std::string("'") + key + "' must be a list");
    return doc[key];
}

uint32_t volumeId(const ClusterState& s, const std::string& name) {
    auto v = s.volumeByName(name) ? s.volumeByName(name) : s.volumeByUid(name);
    if (!v) fail("unknown volume '" + name + "'");
    return v->id;
}

std::string rcText(uint32_t rc) { return "refused with return value " + std::to_string(rc); }
}  // namespace

Seed seedFromJson(const json& doc) {
    if (!doc.is_object()) fail("the document must be an object");
    Seed seed;
    ClusterState& s = seed.state;
    if (doc.contains("cluster")) {
        auto& c = doc["cluster"];
        s.cluster.id = toUpper(get<std::string>(c, "id", s.cluster.id));
        if (s.cluster.id.size() != 16 || s.cluster.id.compare(0, 4, "0000") != 0 ||
            s.cluster.id.find_first_not_of("0123456789ABCDEF") != std::string::npos)
            fail("cluster id must be 16 hex digits beginning with 0000");
        s.cluster.name = get<std::string>(c, "name", s.cluster.name);
        s.cluster.firmware = get<std::string>(c, "firmware", s.cluster.firmware);
        s.cluster.build = get<uint16_t>(c, "build", s.cluster.build);
    }
    if (doc.contains("credentials")) {
        seed.credentials.user = get<std::string>(doc["credentials"], "user", seed.credentials.user);
        seed.credentials.password = get<std::string>(doc["credentials"], "password", seed.credentials.password);
    }
    if (doc.contains("timing")) {
        auto& t = doc["timing"];
        s.timing.prepareMs = get<int64_t>(t, "prepareMs", s.timing.prepareMs);
        s.timing.stopMs = get<int64_t>(t, "stopMs", s.timing.stopMs);
        s.timing.jobStepMs = get<int64_t>(t, "jobStepMs", s.timing.jobStepMs);
        s.timing.jobRetentionMs = get<int64_t>(t, "jobRetentionMs", s.timing.jobRetentionMs);
    }
    if (doc.contains("limits")) {
        auto& l = doc["limits"];
        s.limits.maxMappingsPerGroup = get<uint32_t>(l, "maxMappingsPerGroup", s.limits.maxMappingsPerGroup);
        s.limits.maxTargetsPerSource = get<uint32_t>(l, "maxTargetsPerSource", s.limits.maxTargetsPerSource);
        s.limits.maxMappings = get<uint32_t>(l, "maxMappings", s.limits.maxMappings);
        s.limits.maxConnectedMappings = get<uint32_t>(l, "maxConnectedMappings", s.limits.maxConnectedMappings);
        s.limits.maxGroups = get<uint32_t>(l, "maxGroups", s.limits.maxGroups);
        s.limits.standardGoal = get<bool>(l, "standardGoal", s.limits.standardGoal);
    }
    if (doc.contains("flashCopy")) {
        s.suspendedSyncState = get<uint16_t>(doc["flashCopy"], "suspendedSyncState", s.suspendedSyncState);
    }
    if (doc.contains("lenient")) {
        auto& l = doc["lenient"];
        if (!l.is_object()) fail("'lenient' must be an object");
        static const char* known[] = {"deleteAnyState", "stopGroupMember", "stopPreparing", "prepareWithoutRestore",
                                      "completeBeforeDependents"};
        for (auto& item : l.items())
            if (std::find_if(std::begin(known), std::end(known), [&](const char* k) { return item.key() == k; }) ==
                std::end(known))
                fail("unknown lenient rule '" + item.key() + "'");
        s.lenient.deleteAnyState = get<bool>(l, "deleteAnyState", false);
        s.lenient.stopGroupMember = get<bool>(l, "stopGroupMember", false);
        s.lenient.stopPreparing = get<bool>(l, "stopPreparing", false);
        s.lenient.prepareWithoutRestore = get<bool>(l, "prepareWithoutRestore", false);
        s.lenient.completeBeforeDependents = get<bool>(l, "completeBeforeDependents", false);
    }

    ClusterState defaults = ArraySimulator::defaultCluster();
    if (doc.contains("ioGroups")) {
        for (auto& g : list(doc, "ioGroups")) {
            uint32_t id = get<uint32_t>(g, "id", uint32_t(s.ioGroups.size()));
            s.addIoGroup({id, get<std::string>(g, "name", "io_grp" + std::to_string(id))});
        }
    } else {
        s.ioGroups = defaults.ioGroups;
    }
    if (doc.contains("nodes")) {
        for (auto& n : list(doc, "nodes")) {
            uint32_t id = get<uint32_t>(n, "id", uint32_t(s.nodes.size() + 1));
            uint32_t io = get<uint32_t>(n, "ioGroup", 0);
            if (!s.ioGroups.count(io)) fail("node " + std::to_string(id) + " names unknown I/O group " + std::to_string(io));
            s.addNode({id, get<std::string>(n, "name", "node" + std::to_string(id)), io});
        }
    } else {
        for (auto& [id, n] : defaults.nodes)
            if (s.ioGroups.count(n.ioGroupId)) s.addNode(n);
    }
    if (doc.contains("pools")) {
        for (auto& p : list(doc, "pools")) {
            uint32_t id = get<uint32_t>(p, "id", uint32_t(s.pools.size()));
            std::string name = get<std::string>(p, "name", "Pool" + std::to_string(id));
            s.addPool({id, name, sizeOf(p, "pool", uint64_t(10) << 40), get<bool>(p, "online", true)});
        }
    } else {
        s.pools = defaults.pools;
    }
    for (auto& v : list(doc, "volumes")) {
        std::string poolName = get<std::string>(v, "pool", s.pools.empty() ? "" : s.pools.begin()->second.name);
        auto pool = s.poolByName(poolName);
        if (!pool) fail("volume names unknown pool '" + poolName + "'");
        VolumeSpec spec;
        spec.name = get<std::string>(v, "name", "");
        spec.poolId = pool->id;
        spec.sizeBytes = sizeOf(v, "a volume", 0);
        spec.spaceEfficient = get<bool>(v, "spaceEfficient", false);
        spec.autoexpand = spec.spaceEfficient;
        spec.realSizePercent = get<uint16_t>(v, "realSizePercent", spec.spaceEfficient ? 2 : 100);
        spec.ioGroupId = get<uint32_t>(v, "ioGroup", kNoId);
        spec.preferredNodeId = get<uint32_t>(v, "preferredNode", kNoId);
        spec.uid = get<std::string>(v, "uid", "");
        if (!spec.uid.empty() &&
            (spec.uid.size() != 32 || spec.uid.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos))
            fail("volume '" + spec.name + "': uid must be 32 hex digits");
        if (v.contains("id")) spec.id = get<uint32_t>(v, "id", kNoId);
        RcResult r = s.createVolume(spec);
        if (!r.ok()) fail("volume '" + spec.name + "' " + rcText(r.rc));
    }
    for (auto& h : list(doc, "hosts")) {
        std::vector<std::string> ports = get<std::vector<std::string>>(h, "wwpns", {});
        for (auto& i : get<std::vector<std::string>>(h, "iqns", {})) ports.push_back(i);
        std::string name = get<std::string>(h, "name", "");
        RcResult r = s.createHost(name, ports);
        if (!r.ok()) fail("host '" + name + "' " + rcText(r.rc));
    }
    for (auto& m : list(doc, "hostMappings")) {
        std::string hostName = get<std::string>(m, "host", "");
        auto host = s.hostByName(hostName);
        if (!host) fail("host mapping names unknown host '" + hostName + "'");
        uint32_t rc = s.mapVolume(host->id, volumeId(s, get<std::string>(m, "volume", "")),
                                  get<uint32_t>(m, "lun", kNoId), true);
        if (rc != Rc::Ok) fail("host mapping to '" + hostName + "' " + rcText(rc));
    }
    CopyServices copies(s);
    for (auto& m : list(doc, "fcMappings")) {
        MappingSpec spec;
        spec.name = get<std::string>(m, "name", "");
        spec.sourceId = volumeId(s, get<std::string>(m, "source", ""));
        spec.targetId = volumeId(s, get<std::string>(m, "target", ""));
        spec.copyRate = get<uint16_t>(m, "copyRate", 50);
        spec.cleanRate = get<uint16_t>(m, "cleanRate", 50);
        spec.incremental = get<bool>(m, "incremental", false);
        spec.autoDelete = get<bool>(m, "autoDelete", false);
        spec.grainSizeKiB = get<uint32_t>(m, "grainSizeKiB", 256);
        RcResult r = copies.createMapping(spec);
        if (!r.ok()) fail("FlashCopy mapping '" + spec.name + "' " + rcText(r.rc));
    }
    for (auto& g : list(doc, "consistencyGroups")) {
        std::string name = get<std::string>(g, "name", "");
        RcResult r = s.createGroup(name);
        if (!r.ok()) fail("consistency group '" + name + "' " + rcText(r.rc));
        for (auto& member : get<std::vector<std::string>>(g, "mappings", {})) {
            auto mp = s.mappingByName(member);
            if (!mp) fail("consistency group '" + name + "' names unknown mapping '" + member + "'");
            uint32_t rc = copies.addToGroup(r.id, mp->id);
            if (rc != Rc::Ok) fail("consistency group '" + name + "' " + rcText(rc));
        }
    }
    return seed;
}

Seed seedFromFile(const std::string& path) {
    std::ifstream in(path);
    if (!in) throw std::invalid_argument("seed: cannot read " + path);
    json doc;
    try {
        in >> doc;
    } catch (const json::exception& e) {
        throw std::invalid_argument("seed: " + path + " is not valid JSON: " + e.what());
    }
    return seedFromJson(doc);
}

json stateToJson(const ClusterState& s, const CopyServices& copies, int64_t nowMs) {
    json doc;
    doc["cluster"] = {{"id", s.cluster.id}, {"name", s.cluster.name}, {"firmware", s.cluster.firmware},
                      {"build", s.cluster.build}};
    doc["nowMs"] = nowMs;
    doc["ioGroups"] = json::array();
    for (auto& [id, g] : s.ioGroups) doc["ioGroups"].push_back({{"id", id}, {"name", g.name}});
    doc["nodes"] = json::array();
    for (auto& [id, n] : s.nodes) doc["nodes"].push_back({{"id", id}, {"name", n.name}, {"ioGroup", n.ioGroupId}});
    doc["pools"] = json::array();
    for (auto& [id, p] : s.pools)
        doc["pools"].push_back({{"id", id}, {"name", p.name}, {"capacityBytes", p.capacityBytes},
                                {"usedBytes", s.poolUsedBytes(id)}, {"online", p.online}});
    doc["volumes"] = json::array();
    for (auto& [id, v] : s.volumes)
        doc["volumes"].push_back({{"id", id}, {"name", v.name}, {"uid", v.uid}, {"pool", s.pools.at(v.poolId).name},
                                  {"sizeBytes", v.sizeBytes()}, {"spaceEfficient", v.spaceEfficient},
                                  {"ioGroup", v.ioGroupId}, {"preferredNode", v.preferredNodeId},
                                  {"generation", v.generation}, {"dataValid", v.dataValid},
                                  {"operationalStatus", s.volumeStatus(v)}});
    doc["hosts"] = json::array();
    for (auto& [id, h] : s.hosts) {
        json ports = json::array();
        for (uint32_t p : s.portsOfHost(id)) ports.push_back(s.ports.at(p).name);
        doc["hosts"].push_back({{"id", id}, {"name", h.name}, {"ports", ports}});
    }
    doc["hostMappings"] = json::array();
    for (auto& [key, m] : s.hostMappings)
        doc["hostMappings"].push_back({{"host", s.hosts.at(key.first).name},
                                       {"volume", s.volume(key.second)->name},
                                       {"lun", m.scsiId}});
    doc["fcMappings"] = json::array();
    for (auto& [id, m] : s.fcMappings) {
        json j = {{"id", id},
                  {"name", m.name},
                  {"source", s.volume(m.sourceId)->name},
                  {"target", s.volume(m.targetId)->name},
                  {"state", fcStateName(m.state)},
                  {"syncState", copies.syncState(m)},
                  {"progress", copies.progressAt(m, nowMs)},
                  {"copyRate", m.copyRate},
                  {"cleanRate", m.cleanRate},
                  {"incremental", m.incremental},
                  {"autoDelete", m.autoDelete},
                  {"stuckStopping", m.stuckStopping},
                  {"prepareFails", m.prepareFails}};
        if (m.groupId != kNoId) j["group"] = s.groups.at(m.groupId).name;
        doc["fcMappings"].push_back(j);
    }
    doc["consistencyGroups"] = json::array();
    for (auto& [id, g] : s.groups) {
        json members = json::array();
        for (uint32_t m : g.members) members.push_back(s.mapping(m)->name);
        doc["consistencyGroups"].push_back(
            {{"id", id}, {"name", g.name}, {"state", fcStateName(s.groupState(g))}, {"mappings", members}});
    }
    return doc;
}

}  // namespace arraysim
