#include "Inventory.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <set>

#include "ArrayCheck.h"
#include "Arrays.h"
#include "Commands.h"
#include "Failures.h"
#include "Jobs.h"
#include "zqso/ZqsoTypes.h"

namespace svcsnap {

using nlohmann::json;

namespace {

// The record that names an object, and whether it says the copy is there.
struct Owner {
    std::string job;
    std::string device;
    int status = 0;
    bool live() const {
        using namespace ZQSO;
        return status != SNAP_STATUS_PREPARE_FAILED && status != SNAP_STATUS_UNPREPARED &&
               status != SNAP_STATUS_DELETED && status != SNAP_STATUS_DELETED_OUTSIDE;
    }
};

struct Owners {
    std::map<std::string, Owner> bySnapName;
    std::map<std::string, std::vector<Owner>> byGroup;

    explicit Owners(Catalogue& catalogue) {
        Jobs jobs(catalogue);
        for (const auto& job : jobs.list())
            for (const auto& r : jobs.records(job.id)) {
                Owner o{job.name, r.device, r.status};
                if (!r.snapName.empty()) bySnapName[r.snapName] = o;
                auto group = r.metadata.find(ZQSO::SM_MDT_CONSISTENCY_GROUP);
                if (group != r.metadata.end() && !group->second.empty()) byGroup[group->second].push_back(o);
            }
    }

    // Fills the object's owner and whether it is an orphan.
    void judge(json& object, const std::string& snapName, const std::string& groupName = std::string()) const {
        const Owner* owner = nullptr;
        if (!groupName.empty()) {
            auto g = byGroup.find(groupName);
            if (g != byGroup.end()) {
                auto live = std::find_if(g->second.begin(), g->second.end(), [](const Owner& o) { return o.live(); });
                owner = live != g->second.end() ? &*live : &g->second.front();
            }
        }
        if (!owner) {
            auto s = bySnapName.find(snapName);
            if (s != bySnapName.end()) owner = &s->second;
        }
        object["job"] = owner ? json(owner->job) : json(nullptr);
        object["device"] = owner ? json(owner->device) : json(nullptr);
        object["recordStatus"] = owner ? json(owner->status) : json(nullptr);
        const bool markedForRemoval = object["name"].get<std::string>().size() > snapName.size() &&
                                      object["name"].get<std::string>().find("_ZQ_TO_BE_DEL") != std::string::npos;
        std::string why;
        if (!owner)
            why = "no job names it";
        else if (!owner->live())
            why = "job " + owner->job + " says the copy of " + owner->device + " is " + statusName(owner->status);
        else if (markedForRemoval)
            why = "marked for removal";
        object["orphan"] = !why.empty();
        object["why"] = why.empty() ? json(nullptr) : json(why);
    }
};

std::string cell(const json& value) {
    if (value.is_string()) return value.get<std::string>();
    if (value.is_null()) return "";
    return value.dump();
}

}  // namespace

std::string snapNameIn(const std::string& name, const std::string& tag) {
    if (tag.empty()) return std::string();
    const std::string key = "_" + tag + "_";
    const size_t at = name.rfind(key);
    if (at == std::string::npos || at == 0) return std::string();
    size_t end = at + key.size();
    while (end < name.size() && std::isdigit(static_cast<unsigned char>(name[end]))) ++end;
    if (end == at + key.size()) return std::string();
    const std::string rest = name.substr(end);
    if (!rest.empty() && rest != "_CG" && rest != "_ZQ_TO_BE_DEL" && rest != "_CG_ZQ_TO_BE_DEL") return std::string();
    return name.substr(0, end);
}

int arrayShow(Agent& agent, Output& out, const std::string& given, uint32_t timeoutMs) {
    Arrays arrays(agent.catalogue());
    std::string upper = given;
    std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return char(std::toupper(c)); });
    std::optional<ArrayEntry> array = arrays.find(upper);
    if (!array)
        for (const auto& a : arrays.list())
            if (!a.name.empty() && a.name == given) array = a;
    if (!array) throw ExitError(kExitNoInput, "no array " + given + " in the catalogue");

    const std::string tag = agent.catalogue().tag();
    ArraySession session(*array, timeoutMs, agent.config().get("HostModule", kCaFileKey));
    const std::vector<ArrayVolume> volumes = session.volumes();
    const std::vector<ArrayMapping> mappings = session.mappings();
    const std::vector<std::string> groups = session.groups();
    const std::vector<ArrayHostMapping> hostMappings = session.hostMappings();
    const Owners owners(agent.catalogue());

    std::map<std::string, std::string> volumeNames;  // by DeviceID
    for (const auto& v : volumes) volumeNames[v.deviceId] = v.name;
    json objects = json::array();
    std::set<std::string> ourTargets;  // DeviceIDs
    for (const auto& v : volumes) {
        const std::string snap = snapNameIn(v.name, tag);
        if (snap.empty()) continue;
        ourTargets.insert(v.deviceId);
        json o = {{"kind", "target"}, {"name", v.name}, {"uid", v.uid}};
        std::vector<std::string> hosts;
        for (const auto& h : hostMappings)
            if (h.volumeId == v.deviceId) hosts.push_back(h.host);
        o["mappedTo"] = hosts;
        o["state"] = hosts.empty() ? "not mapped" : "mapped";
        owners.judge(o, snap);
        objects.push_back(o);
    }
    for (const auto& m : mappings) {
        std::string snap = snapNameIn(m.name, tag);
        if (snap.empty() && ourTargets.count(m.targetId)) snap = snapNameIn(volumeNames[m.targetId], tag);
        if (snap.empty()) continue;
        json o = {{"kind", "mapping"},
                  {"name", m.name},
                  {"source", volumeNames[m.sourceId]},
                  {"target", volumeNames[m.targetId]},
                  {"state", syncStateName(m.syncState)},
                  {"group", m.group.empty() ? json(nullptr) : json(m.group)}};
        o["progress"] = m.percent >= 0 ? json(m.percent) : json(nullptr);
        owners.judge(o, snap);
        objects.push_back(o);
    }
    for (const auto& g : groups) {
        const std::string snap = snapNameIn(g, tag);
        if (snap.empty()) continue;
        size_t members = 0;
        for (const auto& m : mappings) members += m.group == g;
        json o = {{"kind", "group"}, {"name", g}, {"members", members}};
        o["state"] = std::to_string(members) + " mapping(s)";
        owners.judge(o, snap, g);
        objects.push_back(o);
    }

    Table t{{"kind", "name", "job", "device", "state", "orphan"}, {}};
    size_t orphans = 0;
    for (const auto& o : objects) {
        std::string state = cell(o["state"]);
        if (o.contains("progress") && o["progress"].is_number()) state += " " + cell(o["progress"]) + "%";
        if (o["kind"] == "target" && !o["mappedTo"].empty()) {
            state += " to";
            for (const auto& h : o["mappedTo"]) state += " " + h.get<std::string>();
        }
        const bool orphan = o["orphan"].get<bool>();
        orphans += orphan;
        t.rows.push_back({cell(o["kind"]), cell(o["name"]), cell(o["job"]), cell(o["device"]), state,
                          orphan ? "yes: " + cell(o["why"]) : ""});
    }
    out.doc()["array"] = {{"arrayId", array->arrayId}, {"name", array->name}};
    out.doc()["tag"] = tag;
    out.doc()["objects"] = objects;
    out.doc()["orphans"] = orphans;
    out.line("array " + array->arrayId + (array->name.empty() ? "" : " (" + array->name + ")") + ": " +
             std::to_string(objects.size()) + " object(s) of this catalogue (tag " + tag + "), " +
             std::to_string(orphans) + " orphan(s)");
    if (!t.rows.empty()) out.table(t);
    return out.finish(kExitOk);
}

}  // namespace svcsnap
