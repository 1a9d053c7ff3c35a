#include "Commands.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <map>
#include <memory>

#include "ArrayCheck.h"
#include "Arrays.h"
#include "Failures.h"
#include "Flows.h"
#include "HostRecord.h"
#include "Jobs.h"
#include "LinuxHostBackend.h"
#include "Journal.h"
#include "RemoteExec.h"
#include "ScsiIdentity.h"
#include "SimHostBackend.h"
#include "StepSignals.h"
#include "ZQPlatformInfo.h"
#include "ZqPlatformVersion.h"
#include "zqso/ZqsoTypes.h"

namespace svcsnap {

using nlohmann::json;

namespace {

const char* kMasked = "********";

std::string readPassword(const ArrayAddOptions& o) {
    if (o.passwordStdin && !o.passwordEnv.empty()) throw UsageError("give either --password-stdin or --password-env");
    std::string password;
    if (o.passwordStdin) {
        if (!std::getline(std::cin, password)) throw UsageError("no password on standard input");
        if (!password.empty() && password.back() == '\r') password.pop_back();
    } else if (!o.passwordEnv.empty()) {
        const char* value = std::getenv(o.passwordEnv.c_str());
        if (!value) throw UsageError("the variable " + o.passwordEnv + " (--password-env) is not set");
        password = value;
    } else {
        throw UsageError("give the password with --password-stdin or --password-env VARIABLE");
    }
    if (password.empty()) throw UsageError("the password is empty");
    return password;
}

// ISO 8601 in UTC: 2026-12-08T09:30:00Z, with milliseconds when given.
std::string timeText(int64_t seconds, int milliseconds = -1) {
    if (seconds <= 0) return "";
    std::time_t t = std::time_t(seconds);
    std::tm parts{};
    gmtime_r(&t, &parts);
    char text[40];
    size_t n = std::strftime(text, sizeof(text), "%Y-%m-%dT%H:%M:%S", &parts);
    if (milliseconds >= 0) std::snprintf(text + n, sizeof(text) - n, ".%03d", milliseconds);
    return std::string(text) + "Z";
}

// An array id as the engine forms it: "0000" and 12 characters of the
// volume serial, upper-cased.
std::string checkedArrayId(const std::string& given) {
    std::string id = given;
    std::transform(id.begin(), id.end(), id.begin(), [](unsigned char c) { return char(std::toupper(c)); });
    const bool valid = id.size() == 16 && id.compare(0, 4, "0000") == 0 &&
                       std::all_of(id.begin() + 4, id.end(), [](unsigned char c) { return std::isalnum(c) != 0; });
    if (!valid)
        throw UsageError("\"" + given + "\" is not an array id: 0000 and 12 letters or digits (0000020060C14A2C)");
    return id;
}

// Jobs with a record on the array that holds a copy there or is still to
// be prepared.
std::vector<std::string> jobsUsingArray(Catalogue& catalogue, const std::string& arrayId) {
    Jobs jobs(catalogue);
    std::vector<std::string> names;
    for (const auto& job : jobs.list())
        for (const auto& r : jobs.records(job.id)) {
            auto uniqueId = r.metadata.find(ZQSO::SM_MDT_UNIQUE_ID);
            std::string onArray = r.arrayId;
            if (onArray.empty() && uniqueId != r.metadata.end())
                onArray = uniqueId->second.substr(0, uniqueId->second.find('*'));
            const bool done = r.status == ZQSO::SNAP_STATUS_PREPARE_FAILED || r.status == ZQSO::SNAP_STATUS_UNPREPARED ||
                              r.status == ZQSO::SNAP_STATUS_DELETED || r.status == ZQSO::SNAP_STATUS_DELETED_OUTSIDE;
            if (onArray == arrayId && !done) {
                names.push_back(job.name);
                break;
            }
        }
    return names;
}

std::string gib(uint64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof(text), "%.1f GiB", double(bytes) / double(1ull << 30));
    return text;
}

json arrayJson(const ArrayEntry& a) {
    return {{"arrayId", a.arrayId}, {"name", a.name},   {"address", a.address}, {"port", a.port},
            {"https", a.https},     {"user", a.user},   {"password", kMasked}};
}

json factsJson(const ClusterFacts& f) {
    json pools = json::array();
    for (const auto& p : f.pools)
        pools.push_back({{"name", p.name}, {"online", p.online}, {"totalBytes", p.totalBytes}, {"freeBytes", p.freeBytes}});
    return {{"clusterId", f.id}, {"clusterName", f.name}, {"firmware", f.firmware}, {"pools", pools}};
}

// The step's state as it stands: a step whose process is gone is interrupted.
std::string stepState(Catalogue& catalogue, const JobEntry& j) {
    return stepInterrupted(catalogue, j) ? "interrupted" : j.stepState;
}

std::string stepText(Catalogue& catalogue, const JobEntry& j) {
    if (j.step.empty()) return "";
    return j.step + " (" + stepState(catalogue, j) + ")";
}

std::string r0(const json& record, const char* key) { return record[key].get<std::string>(); }

json jobJson(Catalogue& catalogue, const JobEntry& j) {
    const JobOptions& o = j.options;
    json options = {{"kind", o.kind},           {"group", o.useGroup},          {"label", o.label},
                    {"labelOnly", o.labelOnly}, {"pool", o.pool},               {"incremental", o.incremental},
                    {"smartClone", o.smartClone}, {"proxy", o.proxy},           {"byUid", o.byUid}};
    options["copyRate"] = o.copyRate ? json(*o.copyRate) : json(nullptr);
    options["cleanRate"] = o.cleanRate ? json(*o.cleanRate) : json(nullptr);
    json step = nullptr;
    if (!j.step.empty()) {
        step = {{"name", j.step}, {"state", stepState(catalogue, j)}};
        step["result"] = j.stepResult ? json(*j.stepResult) : json(nullptr);
    }
    return {{"id", j.id},          {"name", j.name},
            {"state", j.state},    {"step", step},
            {"engineId", j.engineId}, {"controlHostId", j.controlHostId},
            {"options", options},  {"createdAt", timeText(j.createdAt)},
            {"updatedAt", timeText(j.updatedAt)}};
}

}  // namespace

json copyJson(const RecordEntry& r) {
    const CopyIdentity c = copyIdentity(r);
    if (!c.known()) return nullptr;
    auto group = r.metadata.find(ZQSO::SM_MDT_CONSISTENCY_GROUP);
    return {{"type", c.copyType},
            {"targetName", r.snapName},
            {"targetUid", c.targetUid},
            {"group", group == r.metadata.end() || group->second.empty() ? json(nullptr) : json(group->second)},
            {"mapping", nullptr},
            {"state", nullptr},
            {"progress", nullptr},
            {"fromArray", false}};
}

void readCopies(Agent& agent, Output& out, const std::vector<RecordEntry>& records, std::vector<json>& copies) {
    // A short time-out: the catalogue's view is shown at once when the array is away.
    constexpr uint32_t kReadTimeoutMs = 5000;
    ArraySessions sessions(Arrays(agent.catalogue()).list(), kReadTimeoutMs,
                           agent.config().get("HostModule", kCaFileKey));
    std::map<std::string, std::string> failed;
    for (size_t i = 0; i < records.size() && i < copies.size(); ++i) {
        const RecordEntry& r = records[i];
        const int s = r.status;
        if (copies[i].is_null() || s == ZQSO::SNAP_STATUS_DELETED || s == ZQSO::SNAP_STATUS_DELETED_OUTSIDE ||
            s == ZQSO::SNAP_STATUS_UNPREPARED)
            continue;
        const CopyIdentity c = copyIdentity(r);
        json& copy = copies[i];
        if (failed.count(c.arrayId)) {
            copy["arrayError"] = failed[c.arrayId];
            continue;
        }
        try {
            ArraySession& session = sessions.of(c.arrayId);
            const CopyState state = session.copy(c.sourcePath, c.targetPath);
            const std::string name = session.volumeName(c.targetPath);
            copy["fromArray"] = true;
            copy["mappedTo"] = name.empty() ? std::vector<std::string>() : session.hostsOf(c.targetPath);
            if (!name.empty()) copy["targetName"] = name;
            copy["targetOnArray"] = !name.empty();
            if (state.found) {
                copy["mapping"] = state.name;
                copy["state"] = syncStateName(state.syncState);
                copy["syncState"] = state.syncState;
                if (state.percent >= 0) copy["progress"] = state.percent;
                copy["group"] = state.group.empty() ? json(nullptr) : json(state.group);
            } else {
                copy["state"] = "no FlashCopy mapping";
            }
        } catch (const ProviderError& e) {
            failed[c.arrayId] = e.what();
            copy["arrayError"] = e.what();
            out.warn("array " + c.arrayId + " cannot be read, its copies are shown as the catalogue holds them: " +
                     e.what());
        }
    }
}

std::string copyCell(const json& copy) {
    if (!copy.is_object()) return "";
    std::string cell = copy["type"].get<std::string>();
    if (copy["state"].is_string()) cell += ", " + copy["state"].get<std::string>();
    if (copy["progress"].is_number()) cell += " " + std::to_string(copy["progress"].get<int>()) + "%";
    return cell;
}

std::string statusName(int status) {
    switch (status) {
        case 0: return "new";
        case 1: return "prepared";
        case 2: return "preparation failed";
        case 3: return "unprepared";
        case 5: return "copy started";
        case 6: return "snap failed";
        case 7: return "clone without mapping";
        case 9: return "mapped to this host";
        case 10: return "mapped to another host";
        case 11: return "not determined";
        case 12: return "mapped and visible";
        case 14: return "not mapped";
        case 15: return "unmapping not done";
        case 20: return "deleted";
        case 21: return "deletion failed";
        case 22: return "restored";
        case 23: return "not restored";
        case 24: return "deleted outside";
        default: return "status " + std::to_string(status);
    }
}

int arrayAdd(Agent& agent, Output& out, const ArrayAddOptions& o) {
    ArrayEntry a;
    a.address = o.address;
    a.https = !o.http;
    a.port = o.port ? o.port : (a.https ? 5989 : 5988);
    if (a.port < 1 || a.port > 65535) throw UsageError("the port must be 1 to 65535");
    a.user = o.user;
    if (a.user.empty()) throw UsageError("give the provider's user with --user");
    if (!o.arrayId.empty()) a.arrayId = checkedArrayId(o.arrayId);
    a.password = readPassword(o);
    const std::string caFile = agent.config().get("HostModule", kCaFileKey);
    if (a.https && caFile.empty())
        out.warn("the provider's certificate is not verified: anyone who can intercept or redirect the connection "
                 "can pose as the provider and receive the password; set " + std::string(kCaFileKey) +
                 " in [HostModule] of " + agent.config().path());
    if (a.arrayId.empty()) {
        ClusterFacts facts;
        try {
            facts = queryCluster(a, o.timeoutMs, caFile);
        } catch (const ProviderError& e) {
            // Without an answer the array may still be added by its id; a
            // refused password is never stored unchecked.
            if (e.fault == ProviderError::Fault::Refused)
                throw ProviderError(e.fault, std::string(e.what()) + "; check the user and the password");
            if (e.fault != ProviderError::Fault::Unreachable) throw;
            throw ProviderError(e.fault, std::string(e.what()) +
                                             "; give --id to add the array without asking it (the password is then "
                                             "not checked)");
        }
        a.arrayId = facts.id;
        a.name = facts.name;
    }
    bool added = Arrays(agent.catalogue()).put(a);
    out.doc()["array"] = arrayJson(a);
    out.doc()["added"] = added;
    out.line(std::string(added ? "added" : "updated") + " array " + a.arrayId + (a.name.empty() ? "" : " (" + a.name + ")") +
             " at " + a.address + ":" + std::to_string(a.port) + (a.https ? " over https" : " over http"));
    return out.finish(kExitOk);
}

int arrayList(Agent& agent, Output& out) {
    Table t{{"array id", "name", "address", "port", "https", "user", "password"}, {}};
    json list = json::array();
    for (const auto& a : Arrays(agent.catalogue()).list()) {
        t.rows.push_back({a.arrayId, a.name, a.address, std::to_string(a.port), a.https ? "yes" : "no", a.user, kMasked});
        list.push_back(arrayJson(a));
    }
    out.doc()["arrays"] = list;
    if (t.rows.empty())
        out.line("no arrays; add one with: svcsnap array add ADDRESS --user USER --password-stdin");
    else
        out.table(t);
    return out.finish(kExitOk);
}

int arrayRemove(Agent& agent, Output& out, const std::string& arrayId, bool force) {
    Arrays arrays(agent.catalogue());
    if (!arrays.find(arrayId)) throw ExitError(kExitNoInput, "no array " + arrayId + " in the catalogue");
    std::vector<std::string> users = jobsUsingArray(agent.catalogue(), arrayId);
    out.doc()["jobs"] = users;
    if (!users.empty()) {
        std::string names;
        for (const auto& n : users) names += (names.empty() ? "" : ", ") + n;
        if (!force)
            throw CommandFailed("jobs use array " + arrayId + " (" + names +
                                "); delete their copies first, or give --force to remove it anyway");
        out.warn("removed while jobs use it: " + names);
    }
    arrays.remove(arrayId);
    out.doc()["removed"] = arrayId;
    out.line("removed array " + arrayId);
    return out.finish(kExitOk);
}

int arrayCheck(Agent& agent, Output& out, const std::string& arrayId, uint32_t timeoutMs) {
    Arrays arrays(agent.catalogue());
    std::vector<ArrayEntry> chosen;
    if (arrayId.empty()) {
        chosen = arrays.list();
        if (chosen.empty()) throw ExitError(kExitNoInput, "no arrays in the catalogue");
    } else {
        auto a = arrays.find(arrayId);
        if (!a) throw ExitError(kExitNoInput, "no array " + arrayId + " in the catalogue");
        chosen.push_back(*a);
    }
    const std::string caFile = agent.config().get("HostModule", kCaFileKey);
    json results = json::array();
    size_t good = 0;
    std::string firstError;
    std::vector<ProviderError::Fault> faults;
    for (const auto& a : chosen) {
        json entry = {{"arrayId", a.arrayId}, {"address", a.address}, {"port", a.port}, {"https", a.https}};
        try {
            ClusterFacts f = queryCluster(a, timeoutMs, caFile);
            entry.update(factsJson(f));
            bool same = f.id == a.arrayId;
            entry["ok"] = same;
            if (!same) {
                entry["error"] = "the provider serves cluster " + f.id + ", not " + a.arrayId;
                if (firstError.empty()) firstError = a.arrayId + ": " + entry["error"].get<std::string>();
                out.line(a.arrayId + ": " + entry["error"].get<std::string>());
            } else {
                ++good;
                out.line(a.arrayId + ": cluster " + f.name + ", firmware " + f.firmware + ", " +
                         std::to_string(f.pools.size()) + " pools");
                Table pools{{"pool", "state", "capacity", "free"}, {}, a.arrayId};
                for (const auto& p : f.pools)
                    pools.rows.push_back({p.name, p.online ? "online" : "offline", gib(p.totalBytes), gib(p.freeBytes)});
                out.table(pools);
            }
        } catch (const ProviderError& e) {
            faults.push_back(e.fault);
            entry["ok"] = false;
            entry["error"] = e.what();
            if (firstError.empty()) firstError = a.arrayId + ": " + e.what();
            out.line(a.arrayId + ": " + e.what());
        }
        results.push_back(entry);
    }
    out.doc()["arrays"] = results;
    int status = exitForRecords(good, chosen.size());
    if (status == kExitFailed) status = providerFailureStatus(faults);
    return out.finish(status, status == kExitOk ? "" : firstError);
}

int listJobs(Agent& agent, Output& out) {
    Jobs jobs(agent.catalogue());
    Table t{{"job", "kind", "devices", "state", "step", "result", "updated"}, {}};
    json list = json::array();
    for (const auto& j : jobs.list()) {
        auto counts = jobs.statusCounts(j.id);
        int devices = 0;
        json byStatus = json::object();
        for (const auto& [status, n] : counts) {
            devices += n;
            byStatus[statusName(status)] = n;
        }
        t.rows.push_back({j.name, j.options.kind, std::to_string(devices), j.state, stepText(agent.catalogue(), j),
                          j.stepResult ? std::to_string(*j.stepResult) : "", timeText(j.updatedAt)});
        json entry = jobJson(agent.catalogue(), j);
        entry["devices"] = devices;
        entry["statuses"] = byStatus;
        list.push_back(entry);
    }
    out.doc()["jobs"] = list;
    if (t.rows.empty())
        out.line("no jobs");
    else
        out.table(t);
    return out.finish(kExitOk);
}

std::string levelName(int level) {
    switch (level) {
        case 0: return "detail";
        case 1: return "info";
        case 2: return "error";
        default: return "level " + std::to_string(level);
    }
}

int logLevel(const std::string& text) {
    for (int level = 0; level <= 2; ++level)
        if (text == levelName(level) || text == std::to_string(level)) return level;
    throw UsageError("--level is 0 (detail), 1 (info) or 2 (error), not \"" + text + "\"");
}

int showJob(Agent& agent, Output& out, const std::string& name, const ShowOptions& o) {
    Jobs jobs(agent.catalogue());
    auto job = jobs.find(name);
    if (!job) throw ExitError(kExitNoInput, "no job " + name + " in the catalogue");
    const int minLevel = o.level.empty() ? 0 : logLevel(o.level);
    const bool withLog = o.verbose || !o.level.empty() || !o.device.empty();
    std::vector<RecordEntry> entries = jobs.records(job->id);
    if (!o.device.empty()) {
        auto one = std::find_if(entries.begin(), entries.end(), [&](const RecordEntry& r) { return r.device == o.device; });
        if (one == entries.end()) throw ExitError(kExitNoInput, "job " + job->name + " has no device " + o.device);
        entries = {*one};
    }
    json doc = jobJson(agent.catalogue(), *job);
    out.line("job " + job->name + ": " + job->options.kind + ", state " + job->state +
             (job->step.empty() ? "" : ", step " + stepText(agent.catalogue(), *job)));
    if (stepInterrupted(agent.catalogue(), *job))
        out.line("its " + job->step + " step was interrupted: the catalogue holds what the engine had recorded; "
                 "svcsnap recover " + job->name + " finishes it");
    std::vector<json> copies;
    for (const auto& r : entries) copies.push_back(copyJson(r));
    readCopies(agent, out, entries, copies);
    Table t{{"device", "status", "error", "target", "target uid", "group", "copy", "snap device"}, {}};
    json records = json::array();
    for (size_t i = 0; i < entries.size(); ++i) {
        const RecordEntry& r = entries[i];
        const json& copy = copies[i];
        std::string error = r.errorCode ? std::to_string(r.errorCode) + " " + r.errorText : "";
        auto text = [&](const char* key) { return copy.is_object() && copy[key].is_string() ? copy[key].get<std::string>() : ""; };
        t.rows.push_back({r.device, std::to_string(r.status) + " " + statusName(r.status), error, text("targetName"),
                          text("targetUid"), text("group"), copyCell(copy), r.snapDevicePath});
        json rec = {{"device", r.device},          {"snapName", r.snapName}, {"status", r.status},
                    {"statusName", statusName(r.status)},
                    {"errorCode", r.errorCode},    {"errorText", r.errorText}, {"snapDevicePath", r.snapDevicePath},
                    {"arrayId", r.arrayId},        {"lunUid", r.lunUid},       {"copy", copy}};
        json meta = json::object();
        for (const auto& [id, value] : r.metadata) meta[std::to_string(id)] = value;
        rec["metadata"] = meta;
        if (withLog) {
            json lines = json::array();
            for (const auto& l : jobs.logLines(r.id)) {
                if (l.level < minLevel) continue;
                lines.push_back({{"at", timeText(l.atMs / 1000, int(l.atMs % 1000))},
                                 {"atMs", l.atMs},
                                 {"level", l.level},
                                 {"levelName", levelName(l.level)},
                                 {"function", l.function},
                                 {"text", l.text}});
            }
            rec["log"] = lines;
        }
        records.push_back(rec);
    }
    if (!o.device.empty()) {
        // One record whole: every field on its own line.
        const json& rec = records[0];
        const json& copy = rec["copy"];
        Table one{{"field", "value"}, {}, "record"};
        one.rows = {{"device", r0(rec, "device")},
                    {"snap name", r0(rec, "snapName")},
                    {"status", std::to_string(rec["status"].get<int>()) + " " + r0(rec, "statusName")},
                    {"error", rec["errorCode"].get<uint32_t>() ? std::to_string(rec["errorCode"].get<uint32_t>()) + " " +
                                                                     r0(rec, "errorText")
                                                               : ""},
                    {"array", r0(rec, "arrayId")},
                    {"snap device", r0(rec, "snapDevicePath")}};
        if (copy.is_object())
            for (const auto& [key, value] : copy.items())
                one.rows.push_back({"copy " + key, value.is_string() ? value.get<std::string>()
                                                   : value.is_null() ? std::string() : value.dump()});
        for (const auto& [id, value] : rec["metadata"].items()) one.rows.push_back({"metadata " + id, value.get<std::string>()});
        out.table(one);
    } else {
        out.table(t);
    }
    if (withLog)
        for (const auto& rec : records) {
            out.line("");
            out.line("log of " + rec["device"].get<std::string>() + ":");
            for (const auto& l : rec["log"])
                out.line("  " + l["at"].get<std::string>() + " " + l["levelName"].get<std::string>() + " " +
                         (l["function"].get<std::string>().empty() ? "" : l["function"].get<std::string>() + ": ") +
                         l["text"].get<std::string>());
        }
    doc["records"] = records;
    out.doc()["job"] = doc;
    return out.finish(kExitOk);
}

int showHistory(Agent& agent, Output& out, const std::string& name) {
    Jobs jobs(agent.catalogue());
    auto job = jobs.find(name);
    if (!job) throw ExitError(kExitNoInput, "no job " + name + " in the catalogue");
    const bool interrupted = stepInterrupted(agent.catalogue(), *job);
    const std::vector<StepEntry> steps = jobs.history(job->id);
    Table t{{"#", "step", "started", "ended", "result", "job state", "device", "outcome"}, {}};
    json list = json::array();
    for (size_t i = 0; i < steps.size(); ++i) {
        const StepEntry& s = steps[i];
        std::string state = s.state;
        if (state == "running" && (i + 1 < steps.size() || interrupted)) state = "interrupted";
        const std::string started = timeText(s.startedMs / 1000, int(s.startedMs % 1000));
        const std::string ended = s.endedMs ? timeText(s.endedMs / 1000, int(s.endedMs % 1000)) : "";
        const std::string result = s.result ? std::to_string(*s.result) : state;
        json records = json::array();
        size_t succeeded = 0;
        for (const auto& o : s.records) {
            RecordEntry r;
            r.status = o.status;
            r.errorCode = o.errorCode;
            const bool ok = stepSucceeded(s.step, r);
            if (ok) ++succeeded;
            std::string outcome = std::to_string(o.status) + " " + statusName(o.status);
            if (o.errorCode) outcome += ", " + std::to_string(o.errorCode) + " " + o.errorText;
            t.rows.push_back({std::to_string(i + 1), s.step, started, ended, result, s.jobState, o.device, outcome});
            records.push_back({{"device", o.device},     {"status", o.status}, {"statusName", statusName(o.status)},
                               {"succeeded", ok},        {"errorCode", o.errorCode},
                               {"errorText", o.errorText}});
        }
        if (s.records.empty()) t.rows.push_back({std::to_string(i + 1), s.step, started, ended, result, s.jobState, "", ""});
        json entry = {{"number", i + 1},       {"step", s.step},          {"state", state},
                      {"startedAt", started},  {"endedAt", ended.empty() ? json(nullptr) : json(ended)},
                      {"jobState", s.jobState.empty() ? json(nullptr) : json(s.jobState)},
                      {"succeeded", succeeded}, {"records", records}};
        entry["result"] = s.result ? json(*s.result) : json(nullptr);
        list.push_back(entry);
    }
    out.doc()["job"] = {{"id", job->id}, {"name", job->name}, {"state", job->state}};
    out.doc()["steps"] = list;
    out.line("job " + job->name + ": " + std::to_string(steps.size()) + " step(s)");
    if (!t.rows.empty()) out.table(t);
    return out.finish(kExitOk);
}

int configShow(Agent& agent, Output& out) {
    const AgentConfig& c = agent.config();
    json values = json::object();
    Table t{{"section", "key", "value"}, {}, "file"};
    for (const auto& v : c.values()) {
        std::string shown = AgentConfig::isSecret(v.key) ? kMasked : v.value;
        values[v.section][v.key] = shown;
        t.rows.push_back({v.section, v.key, shown});
    }
    json effective = {{"catalogue", agent.cataloguePath()},
                      {"plugin", agent.options().plugin.empty() ? c.pluginPath() : agent.options().plugin},
                      {"controlHostId", c.controlHostId()},
                      {"devices", c.devices()},
                      {"debugLog", c.debugLogPath()},
                      {"remoteCommand", c.remoteCommand().empty() ? "svcsnap proxy-exec --as-host {host}"
                                                                  : c.remoteCommand()},
                      {"remoteTimeout", c.remoteTimeoutSeconds()}};
    if (c.devices() == "simulated") {
        std::string initiators;
        for (const auto& i : c.simInitiators()) initiators += (initiators.empty() ? "" : ",") + i.name;
        effective["simInitiators"] = initiators;
        effective["simArray"] = c.simArray().empty() ? "(the only array)" : c.simArray();
        effective["simRescans"] = c.simRescans();
        effective["simState"] = c.simStatePath(agent.cataloguePath());
    }
    out.doc()["file"] = c.path();
    out.doc()["fileFound"] = c.fileFound();
    out.doc()["origin"] = c.origin();
    out.doc()["values"] = values;
    out.doc()["agent"] = effective;
    out.line("configuration: " + c.path() + " (" + c.origin() + (c.fileFound() ? "" : ", not present") + ")");
    if (!t.rows.empty()) out.table(t);
    out.line("");
    Table agentTable{{"setting", "in force"}, {}, "agent"};
    for (const auto& [key, value] : effective.items())
        agentTable.rows.push_back({key, value.is_string() ? value.get<std::string>() : value.dump()});
    out.table(agentTable);
    return out.finish(kExitOk);
}

int version(Agent& agent, Output& out) {
    const Plugin& p = agent.plugin();
    uint16_t major = 0, minor = 0;
    zqplatform_version(&major, &minor);
    out.doc()["plugin"] = {{"path", p.path()}, {"version", p.version()}, {"entryPoints", p.entryPoints()}};
    out.doc()["platform"] = std::to_string(major) + "." + std::to_string(minor);
    out.line("plug-in " + p.path() + " version " + p.version());
    out.line("platform library version " + std::to_string(major) + "." + std::to_string(minor));
    std::string entries;
    for (const auto& e : p.entryPoints()) entries += (entries.empty() ? "" : " ") + e;
    out.line("entry points: " + entries);
    return out.finish(kExitOk);
}

std::string arrayVendor() {
    std::string vendor = "IBM";
    zq::platform::platformInfo()->getString("HostModule", "IBMSVC_VENDOR_NAME", &vendor);
    return vendor;
}

int hostShow(Agent& agent, Output& out) {
    agent.plugin();  // the platform services, the device back end among them
    const HostContext& host = agent.host();
    json initiators = json::array();
    Table ports{{"initiator", "protocol"}, {}, "initiator"};
    for (const auto& i : host.backend->initiators()) {
        initiators.push_back({{"name", i.name}, {"iscsi", i.iscsi}});
        ports.rows.push_back({i.name, i.iscsi ? "iSCSI" : "FC"});
    }
    std::string vendor = arrayVendor();
    json disks = json::array();
    Table table{{"device", "vendor", "product", "lun id", "paths"}, {}, "disk"};
    for (const auto& device : host.backend->devices(vendor)) {
        DiskIdentity id = inquireDisk(device, true);
        const StandardInquiry& standard = id.standard;
        // A multipath device's SCSI disks; a plain disk is its own path.
        const std::vector<std::string> paths = host.backend->paths(device);
        std::string pathText;
        for (const auto& p : paths) pathText += (pathText.empty() ? "" : " ") + p;
        json d = {{"device", device},   {"vendor", standard.vendor}, {"product", standard.product},
                  {"lunUid", id.naa},   {"paths", paths}};
        if (!id.error.empty()) d["error"] = id.error;
        disks.push_back(d);
        table.rows.push_back({device, standard.vendor, standard.product,
                              id.error.empty() ? id.naa : "(" + id.error + ")", pathText});
    }
    out.doc()["backend"] = host.backend->kind();
    out.doc()["initiators"] = initiators;
    out.doc()["disks"] = disks;
    out.line("host back end: " + host.backend->kind());
    if (ports.rows.empty())
        out.line("no initiators");
    else
        out.table(ports);
    out.line("");
    if (table.rows.empty())
        out.line("no disks of vendor " + vendor);
    else
        out.table(table);
    return out.finish(kExitOk);
}

int hostRescan(Agent& agent, Output& out) {
    agent.plugin();
    const HostContext& host = agent.host();
    if (!host.backend->rescan({})) {
        std::string reason = "the rescan failed";
        if (auto* sim = dynamic_cast<SimHostBackend*>(host.backend.get())) reason += ": " + sim->lastError();
        else if (auto* real = dynamic_cast<LinuxHostBackend*>(host.backend.get()))
            reason += ": " + real->lastError() + " (it needs root; see the debug log)";
        else reason += " (it needs root; see the debug log)";
        throw CommandFailed(reason);
    }
    std::vector<std::string> devices = host.backend->devices(arrayVendor());
    out.doc()["devices"] = devices;
    out.line("rescanned; " + std::to_string(devices.size()) + " disk(s) of vendor " + arrayVendor());
    for (const auto& d : devices) out.line("  " + d);
    return out.finish(kExitOk);
}

int proxyExec(Agent& agent, std::istream& in, std::ostream& answer) {
    constexpr size_t kMaxBatchBytes = 64u << 20;
    std::string text;
    char buf[65536];
    while (in.read(buf, sizeof buf) || in.gcount() > 0) {
        text.append(buf, size_t(in.gcount()));
        if (text.size() > kMaxBatchBytes) throw CommandFailed("the batch on standard input is larger than 64 MiB");
    }
    json request = json::parse(text, nullptr, false);
    if (request.is_discarded()) throw CommandFailed("the batch on standard input is not JSON");
    RemoteBatch batch;
    try {
        batch = batchFromJson(request);
    } catch (const std::invalid_argument& e) {
        throw CommandFailed(std::string("the batch on standard input cannot be used: ") + e.what());
    }

    const Plugin& plugin = agent.plugin();
    BatchEntry run = plugin.batch("zqso_execSnapEngineOp");
    // An interrupt of the terminal reaches the proxy too: its call ends and
    // answers, and the host decides.
    StepSignals signals(false);
    // The proxy runs what it was sent and forwards nothing again.
    HostContext host = agent.host();
    host.remote = nullptr;
    HostOSUtil os(Arrays(agent.catalogue()).list(), batch.job.engineId, host);
    auto settings = recordSettings(batch.job);
    std::vector<std::unique_ptr<HostRecord>> records;
    std::vector<ZQSO::SnapInfo*> pointers;
    std::vector<HostRecord*> own;
    for (auto& r : batch.records) {
        records.push_back(std::make_unique<HostRecord>(std::move(r), batch.job, os, settings));
        pointers.push_back(records.back().get());
        own.push_back(records.back().get());
    }
    os.setBatch(batch.job, own);
    int result = run(pointers.data(), int16_t(pointers.size()), &os);
    std::vector<RecordEntry> entries;
    for (const auto& r : records) entries.push_back(r->entry());
    answer << jsonText(answerToJson(result, entries)) << "\n";
    answer.flush();
    if (!answer) throw CommandFailed("cannot write the answer to standard output");
    return kExitOk;
}

}  // namespace svcsnap
