#include "ClusterState.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "SvcReturnCode.h"
#include "TextUtil.h"

namespace arraysim {

uint64_t Volume::allocatedBytes() const {
    if (!spaceEfficient) return sizeBytes();
    return sizeBytes() / 100 * realSizePercent;
}

// ---------------------------------------------------------------- lookups

namespace {
template <typename Map>
auto findIn(Map& map, uint32_t id) -> decltype(&map.begin()->second) {
    auto it = map.find(id);
    return it == map.end() ? nullptr : &it->second;
}

const uint32_t* findIndex(const std::unordered_map<std::string, uint32_t>& index, const std::string& key) {
    auto it = index.find(key);
    return it == index.end() ? nullptr : &it->second;
}

bool validWwpn(const std::string& s) {
    if (s.size() != 16) return false;
    return std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isxdigit(c) != 0; });
}

bool validIscsiName(const std::string& s) {
    if (s.size() < 5 || s.size() > 223) return false;
    std::string lower = toLower(s.substr(0, 4));
    if (lower != "iqn." && lower != "eui." && lower != "naa.") return false;
    return std::none_of(s.begin(), s.end(), [](unsigned char c) { return std::isspace(c) != 0 || c == ','; });
}
}  // namespace

const Volume* ClusterState::volumeByUid(const std::string& uid) const {
    auto id = findIndex(volumeByUid_, toUpper(uid));
    return id ? volume(*id) : nullptr;
}

const Volume* ClusterState::volumeByName(const std::string& name) const {
    auto id = findIndex(volumeByName_, name);
    return id ? volume(*id) : nullptr;
}

Volume* ClusterState::volume(uint32_t id) { return findIn(volumes, id); }
const Volume* ClusterState::volume(uint32_t id) const { return findIn(volumes, id); }

const Pool* ClusterState::poolByName(const std::string& name) const {
    for (auto& [id, p] : pools)
        if (equalsNoCase(p.name, name)) return &p;
    return nullptr;
}

const Host* ClusterState::hostByName(const std::string& name) const {
    auto id = findIndex(hostByName_, name);
    return id ? findIn(hosts, *id) : nullptr;
}

const HostPort* ClusterState::portByName(const std::string& name) const {
    auto id = findIndex(portByName_, normalisePortName(name));
    return id ? findIn(ports, *id) : nullptr;
}

FcMapping* ClusterState::mapping(uint32_t id) { return findIn(fcMappings, id); }
const FcMapping* ClusterState::mapping(uint32_t id) const { return findIn(fcMappings, id); }

const FcMapping* ClusterState::mappingByName(const std::string& name) const {
    auto id = findIndex(mappingByName_, name);
    return id ? mapping(*id) : nullptr;
}

const FcMapping* ClusterState::mappingByPair(uint32_t sourceId, uint32_t targetId) const {
    auto m = mappingOfTarget(targetId);
    return m && m->sourceId == sourceId ? m : nullptr;
}

const FcMapping* ClusterState::mappingOfTarget(uint32_t volumeId) const {
    auto it = mappingByTarget_.find(volumeId);
    return it == mappingByTarget_.end() ? nullptr : mapping(it->second);
}

std::vector<uint32_t> ClusterState::mappingsOfSource(uint32_t volumeId) const {
    std::vector<uint32_t> out;
    auto range = mappingsBySource_.equal_range(volumeId);
    for (auto it = range.first; it != range.second; ++it) out.push_back(it->second);
    std::sort(out.begin(), out.end());
    return out;
}

ConsistencyGroup* ClusterState::group(uint32_t id) { return findIn(groups, id); }

const ConsistencyGroup* ClusterState::groupByName(const std::string& name) const {
    auto id = findIndex(groupByName_, name);
    return id ? findIn(groups, *id) : nullptr;
}

std::vector<uint32_t> ClusterState::hostsOfVolume(uint32_t volumeId) const {
    std::vector<uint32_t> out;
    for (auto it = hostsByVolume_.lower_bound({volumeId, 0});
         it != hostsByVolume_.end() && it->first == volumeId; ++it)
        out.push_back(it->second);
    return out;
}

std::vector<uint32_t> ClusterState::volumesOfHost(uint32_t hostId) const {
    std::vector<uint32_t> out;
    for (auto it = hostMappings.lower_bound({hostId, 0}); it != hostMappings.end() && it->first.first == hostId;
         ++it)
        out.push_back(it->first.second);
    return out;
}

std::vector<uint32_t> ClusterState::portsOfHost(uint32_t hostId) const {
    std::vector<uint32_t> out;
    for (auto& [id, p] : ports)
        if (p.hostId == hostId) out.push_back(id);
    return out;
}

FcState ClusterState::groupState(const ConsistencyGroup& g) const {
    if (g.members.empty()) return FcState::Empty;
    // The group shows its busiest member's state.
    static const FcState order[] = {FcState::Suspended, FcState::Preparing, FcState::Stopping,    FcState::Copying,
                                    FcState::Prepared,  FcState::Stopped,   FcState::IdleOrCopied};
    for (FcState s : order)
        for (uint32_t id : g.members) {
            auto m = mapping(id);
            if (m && m->state == s) return s;
        }
    return FcState::IdleOrCopied;
}

// ---------------------------------------------------------------- inserts

void ClusterState::addIoGroup(IoGroup g) { ioGroups[g.id] = std::move(g); }
void ClusterState::addNode(Node n) { nodes[n.id] = std::move(n); }
void ClusterState::addPool(Pool p) { pools[p.id] = std::move(p); }

uint32_t ClusterState::insertVolume(Volume v) {
    if (volumes.count(v.id)) v.id = nextVolumeId_;
    while (volumes.count(v.id)) ++v.id;
    nextVolumeId_ = std::max(nextVolumeId_, v.id + 1);
    if (v.uid.empty()) v.uid = makeUid();
    v.uid = toUpper(v.uid);
    if (v.name.empty()) v.name = uniqueName("vdisk", volumeByName_);
    if (v.generation == 0) v.generation = nextGeneration();
    uint32_t id = v.id;
    volumeByUid_[v.uid] = id;
    volumeByName_[v.name] = id;
    poolUsed_[v.poolId] += v.allocatedBytes();
    volumes.emplace(id, std::move(v));
    return id;
}

uint32_t ClusterState::insertHost(const std::string& name) {
    uint32_t id = nextHostId_++;
    Host h;
    h.id = id;
    h.name = name.empty() ? uniqueName("host", hostByName_) : name;
    hostByName_[h.name] = id;
    hosts.emplace(id, std::move(h));
    return id;
}

uint32_t ClusterState::insertPort(uint32_t hostId, const std::string& name, bool iscsi) {
    uint32_t id = nextPortId_++;
    HostPort p;
    p.id = id;
    p.hostId = hostId;
    p.name = normalisePortName(name);
    p.iscsi = iscsi;
    portByName_[p.name] = id;
    ports.emplace(id, std::move(p));
    return id;
}

void ClusterState::insertHostMapping(HostMapping m) {
    hostsByVolume_.insert({m.volumeId, m.hostId});
    hostMappings[{m.hostId, m.volumeId}] = m;
}

uint32_t ClusterState::insertMapping(FcMapping m) {
    if (fcMappings.count(m.id)) m.id = nextMappingId_;
    while (fcMappings.count(m.id)) ++m.id;
    nextMappingId_ = std::max(nextMappingId_, m.id + 1);
    if (m.name.empty()) m.name = uniqueName("fcmap", mappingByName_);
    uint32_t id = m.id;
    indexMapping(m);
    fcMappings.emplace(id, std::move(m));
    return id;
}

uint32_t ClusterState::insertGroup(const std::string& name, uint32_t id) {
    if (id == kNoId || groups.count(id)) id = nextGroupId_++;
    nextGroupId_ = std::max(nextGroupId_, id + 1);
    ConsistencyGroup g;
    g.id = id;
    g.name = name.empty() ? uniqueName("fccstgrp", groupByName_) : name;
    groupByName_[g.name] = id;
    groups.emplace(id, std::move(g));
    return id;
}

void ClusterState::indexMapping(const FcMapping& m) {
    mappingByName_[m.name] = m.id;
    mappingByTarget_[m.targetId] = m.id;
    mappingsBySource_.insert({m.sourceId, m.id});
}

void ClusterState::unindexMapping(const FcMapping& m) {
    mappingByName_.erase(m.name);
    auto t = mappingByTarget_.find(m.targetId);
    if (t != mappingByTarget_.end() && t->second == m.id) mappingByTarget_.erase(t);
    auto range = mappingsBySource_.equal_range(m.sourceId);
    for (auto it = range.first; it != range.second; ++it)
        if (it->second == m.id) {
            mappingsBySource_.erase(it);
            break;
        }
}

void ClusterState::eraseMapping(uint32_t mappingId) {
    auto m = mapping(mappingId);
    if (!m) return;
    if (m->groupId != kNoId)
        if (auto g = group(m->groupId)) g->members.erase(mappingId);
    unindexMapping(*m);
    fcMappings.erase(mappingId);
}

// ---------------------------------------------------------------- rules

bool ClusterState::validObjectName(const std::string& name) {
    // 1 to 63 characters: letters, digits, '.', '-', '_' and inner blanks;
    // the first one a letter or '_'.
    if (name.empty() || name.size() > 63) return false;
    unsigned char first = name.front();
    if (!std::isalpha(first) && first != '_') return false;
    if (name.back() == ' ') return false;
    return std::all_of(name.begin(), name.end(), [](unsigned char c) {
        return std::isalnum(c) || c == '.' || c == '-' || c == '_' || c == ' ';
    });
}

std::string ClusterState::uniqueName(const std::string& prefix,
                                     const std::unordered_map<std::string, uint32_t>& index) const {
    for (uint64_t n = index.size();; ++n) {
        std::string candidate = prefix + std::to_string(n);
        if (!index.count(candidate)) return candidate;
    }
}

std::string ClusterState::makeUid() {
    // NAA 6 with IBM's OUI 005076: "600507681" + 7 hex digits of the cluster
    // id + "C" + a 15-digit serial.
    std::string tail = cluster.id.size() >= 7 ? cluster.id.substr(cluster.id.size() - 7) : "0000000";
    for (;;) {
        char serial[32];
        std::snprintf(serial, sizeof serial, "%015llX", static_cast<unsigned long long>(uidCounter_++));
        std::string uid = toUpper("600507681" + tail + "C" + serial);
        if (!volumeByUid_.count(uid)) return uid;
    }
}

RcResult ClusterState::createVolume(const VolumeSpec& spec, bool dryRun) {
    Volume v;
    if (!spec.name.empty()) {
        if (!validObjectName(spec.name)) return {Rc::InvalidObjectName};
        if (volumeByName_.count(spec.name)) return {Rc::VolumeNameExists};
        v.name = spec.name;
    }
    auto pit = pools.find(spec.poolId);
    if (pit == pools.end() || !pit->second.online) return {Rc::InvalidPool};
    if (spec.sizeBytes == 0 || spec.sizeBytes % 512 != 0) return {Rc::SizeNotSupported};
    if (spec.spaceEfficient) {
        if (spec.realSizePercent > 100) return {Rc::InvalidParameter};
        static const uint32_t grains[] = {32, 64, 128, 256};
        if (std::find(std::begin(grains), std::end(grains), spec.grainSizeKiB) == std::end(grains))
            return {Rc::InvalidParameter};
    }
    v.poolId = spec.poolId;
    v.blockSize = 512;
    v.blockCount = spec.sizeBytes / 512;
    v.spaceEfficient = spec.spaceEfficient;
    v.autoexpand = spec.spaceEfficient && spec.autoexpand;
    v.realSizePercent = spec.spaceEfficient ? spec.realSizePercent : 100;
    v.grainSizeKiB = spec.spaceEfficient ? spec.grainSizeKiB : 256;
    if (poolUsedBytes(v.poolId) + v.allocatedBytes() > pit->second.capacityBytes) return {Rc::SizeNotSupported};

    uint32_t io = spec.ioGroupId;
    if (io == kNoId) {
        if (ioGroups.empty()) return {Rc::InvalidIoGroup};
        io = ioGroups.begin()->first;
    } else if (!ioGroups.count(io)) {
        return {Rc::InvalidIoGroup};
    }
    v.ioGroupId = io;
    if (spec.preferredNodeId != kNoId) {
        auto n = nodes.find(spec.preferredNodeId);
        if (n == nodes.end() || n->second.ioGroupId != io) return {Rc::InvalidNode};
        v.preferredNodeId = spec.preferredNodeId;
    } else {
        std::vector<uint32_t> candidates;
        for (auto& [id, n] : nodes)
            if (n.ioGroupId == io) candidates.push_back(id);
        v.preferredNodeId = candidates.empty() ? 0 : candidates[volumes.size() % candidates.size()];
    }
    if (!spec.uid.empty()) {
        if (volumeByUid_.count(toUpper(spec.uid))) return {Rc::InvalidParameter};
        v.uid = spec.uid;
    }
    if (spec.id != kNoId && volumes.count(spec.id)) return {Rc::InvalidParameter};
    if (dryRun) return {Rc::Ok};
    v.id = spec.id != kNoId ? spec.id : nextVolumeId_;
    return {Rc::Ok, insertVolume(std::move(v))};
}

uint32_t ClusterState::deleteVolume(uint32_t volumeId) {
    auto v = volume(volumeId);
    if (!v) return Rc::InvalidParameter;
    if (mappingOfTarget(volumeId) || mappingsBySource_.count(volumeId) || !hostsOfVolume(volumeId).empty())
        return Rc::VolumeInUse;
    vanishVolume(volumeId);
    return Rc::Ok;
}

uint32_t ClusterState::renameVolume(uint32_t volumeId, const std::string& name) {
    auto v = volume(volumeId);
    if (!v) return Rc::InvalidParameter;
    if (v->name == name) return Rc::Ok;
    if (!validObjectName(name)) return Rc::InvalidObjectName;
    if (volumeByName_.count(name)) return Rc::VolumeNameExists;
    volumeByName_.erase(v->name);
    v->name = name;
    volumeByName_[name] = volumeId;
    return Rc::Ok;
}

RcResult ClusterState::createHost(const std::string& name, const std::vector<std::string>& portNames, bool dryRun) {
    if (!name.empty()) {
        if (!validObjectName(name)) return {Rc::InvalidObjectName};
        if (hostByName_.count(name)) return {Rc::ObjectNameExists};
    }
    if (portNames.empty()) return {Rc::InvalidInitiator};
    std::vector<std::pair<std::string, bool>> checked;
    for (auto& raw : portNames) {
        std::string port = normalisePortName(raw);
        bool iscsi = validIscsiName(port);
        if (!iscsi && !validWwpn(port)) return {Rc::InvalidInitiator};
        if (portByName_.count(port)) return {Rc::HostPortInUse};
        for (auto& c : checked)
            if (c.first == port) return {Rc::InvalidInitiator};
        checked.push_back({port, iscsi});
    }
    if (dryRun) return {Rc::Ok};
    uint32_t hostId = insertHost(name);
    for (auto& c : checked) insertPort(hostId, c.first, c.second);
    return {Rc::Ok, hostId};
}

uint32_t ClusterState::mapVolume(uint32_t hostId, uint32_t volumeId, uint32_t scsiId, bool force) {
    if (!hosts.count(hostId)) return Rc::InvalidTarget;
    if (!volumes.count(volumeId)) return Rc::InvalidLogicalUnit;
    if (hostMappings.count({hostId, volumeId})) return Rc::AlreadyMappedToHost;
    if (!force && !hostsOfVolume(volumeId).empty()) return Rc::MappedToOtherHost;
    std::set<uint32_t> used;
    for (auto it = hostMappings.lower_bound({hostId, 0}); it != hostMappings.end() && it->first.first == hostId;
         ++it)
        used.insert(it->second.scsiId);
    if (scsiId == kNoId) {
        scsiId = 0;
        while (used.count(scsiId)) ++scsiId;
    } else if (used.count(scsiId)) {
        return Rc::ScsiIdInUse;
    }
    if (scsiId > 2047) return Rc::ScsiIdInUse;
    insertHostMapping({hostId, volumeId, scsiId});
    return Rc::Ok;
}

uint32_t ClusterState::unmapVolume(uint32_t hostId, uint32_t volumeId) {
    auto it = hostMappings.find({hostId, volumeId});
    if (it == hostMappings.end()) return Rc::NotMappedToHost;
    hostMappings.erase(it);
    hostsByVolume_.erase({volumeId, hostId});
    return Rc::Ok;
}

// ---------------------------------------------------------------- data

uint64_t ClusterState::writeVolume(uint32_t volumeId, double percent) {
    auto v = volume(volumeId);
    if (!v) return 0;
    percent = std::clamp(percent, 0.0, 100.0);
    v->generation = nextGeneration();
    v->writes.push_back({nextChangeSeq(), percent});
    // Keep the record short: fold the two oldest entries together.
    if (v->writes.size() > 512) {
        v->writes[1].percent = std::min(100.0, v->writes[0].percent + v->writes[1].percent);
        v->writes.erase(v->writes.begin());
    }
    return v->generation;
}

double ClusterState::changedSince(uint32_t volumeId, uint64_t sinceSeq) const {
    auto v = volume(volumeId);
    if (!v) return 0;
    double sum = 0;
    for (auto& w : v->writes)
        if (w.seq > sinceSeq) sum += w.percent;
    return std::min(100.0, sum);
}

// ---------------------------------------------------------------- vanish

bool ClusterState::vanishVolume(uint32_t volumeId) {
    auto v = volume(volumeId);
    if (!v) return false;
    for (uint32_t host : hostsOfVolume(volumeId)) unmapVolume(host, volumeId);
    if (auto m = mappingOfTarget(volumeId)) eraseMapping(m->id);
    for (uint32_t id : mappingsOfSource(volumeId)) eraseMapping(id);
    poolUsed_[v->poolId] -= std::min(poolUsed_[v->poolId], v->allocatedBytes());
    volumeByUid_.erase(v->uid);
    volumeByName_.erase(v->name);
    volumes.erase(volumeId);
    return true;
}

bool ClusterState::vanishHost(uint32_t hostId) {
    auto h = hosts.find(hostId);
    if (h == hosts.end()) return false;
    for (uint32_t vol : volumesOfHost(hostId)) unmapVolume(hostId, vol);
    for (uint32_t port : portsOfHost(hostId)) {
        portByName_.erase(ports[port].name);
        ports.erase(port);
    }
    hostByName_.erase(h->second.name);
    hosts.erase(h);
    return true;
}

bool ClusterState::vanishMapping(uint32_t mappingId) {
    if (!mapping(mappingId)) return false;
    eraseMapping(mappingId);
    return true;
}

bool ClusterState::vanishGroup(uint32_t groupId) {
    auto g = group(groupId);
    if (!g) return false;
    for (uint32_t id : g->members)
        if (auto m = mapping(id)) m->groupId = kNoId;
    groupByName_.erase(g->name);
    groups.erase(groupId);
    return true;
}

uint16_t ClusterState::volumeStatus(const Volume& v) const {
    if (v.statusOverride >= 0) return uint16_t(v.statusOverride);
    auto p = pools.find(v.poolId);
    if (p != pools.end() && !p->second.online) return 10;
    // A target is offline while its mapping is stopped, suspended, or
    // stopping an unfinished copy; a suspended mapping takes its source too.
    if (auto m = mappingOfTarget(v.id)) {
        if (m->state == FcState::Stopped || m->state == FcState::Suspended) return 10;
        if (m->state == FcState::Stopping && !m->copied) return 10;
    }
    auto range = mappingsBySource_.equal_range(v.id);
    for (auto it = range.first; it != range.second; ++it)
        if (auto m = mapping(it->second); m && m->state == FcState::Suspended) return 10;
    return 2;
}

uint64_t ClusterState::poolUsedBytes(uint32_t poolId) const {
    auto it = poolUsed_.find(poolId);
    return it == poolUsed_.end() ? 0 : it->second;
}

}  // namespace arraysim

namespace arraysim {

uint32_t ClusterState::renameMapping(uint32_t mappingId, const std::string& name) {
    auto m = mapping(mappingId);
    if (!m) return Rc::InvalidParameter;
    if (m->name == name) return Rc::Ok;
    if (!validObjectName(name)) return Rc::InvalidObjectName;
    if (mappingByName_.count(name)) return Rc::ObjectNameExists;
    mappingByName_.erase(m->name);
    m->name = name;
    mappingByName_[name] = mappingId;
    return Rc::Ok;
}

uint32_t ClusterState::renameHost(uint32_t hostId, const std::string& name) {
    auto h = hosts.find(hostId);
    if (h == hosts.end()) return Rc::InvalidParameter;
    if (h->second.name == name) return Rc::Ok;
    if (!validObjectName(name)) return Rc::InvalidObjectName;
    if (hostByName_.count(name)) return Rc::ObjectNameExists;
    hostByName_.erase(h->second.name);
    h->second.name = name;
    hostByName_[name] = hostId;
    return Rc::Ok;
}

RcResult ClusterState::createGroup(const std::string& name, uint32_t id, bool dryRun) {
    if (!name.empty()) {
        if (!validObjectName(name)) return {Rc::InvalidObjectName};
        if (groupByName_.count(name)) return {Rc::GroupExists};
    }
    if (groups.size() >= limits.maxGroups) return {Rc::Failed};
    if (dryRun) return {Rc::Ok};
    return {Rc::Ok, insertGroup(name, id)};
}

}  // namespace arraysim
