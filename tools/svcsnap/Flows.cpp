#include "Flows.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <set>

#include "Arrays.h"
#include "Commands.h"
#include "Failures.h"
#include "RemoteExec.h"
#include "zqso/ZqsoTypes.h"

namespace svcsnap {

using nlohmann::json;

namespace {

const StepKind kSteps[] = {
    {"prepare", "zqso_prepareDevices", "prepared", 0},
    {"snap", "zqso_snapDevices", "snapped", 0},
    {"status", "zqso_isMapped", nullptr, 0},
    {"map", "zqso_mapSnaps", "mapped", 0},
    {"unmap", "zqso_unmapSnaps", "unmapped", 0},
    {"revert", "zqso_revertSnaps", "reverted", 0},
    {"delete", "zqso_deleteSnaps", "deleted", ZQSO::ZQSO_OP_DELETE_WITH_UNMAP},
    {"reconcile", "zqso_reconcileSnaps", nullptr, 0},
};

// What a step that succeeded leaves, as words ("4 of 4 devices prepared").
const char* doneWords(const std::string& step) {
    if (step == "prepare") return "prepared";
    if (step == "snap") return "copies started";
    if (step == "status") return "with a known mapped state";
    if (step == "map") return "mapped and found as disks";
    if (step == "unmap") return "unmapped";
    if (step == "revert") return "restored from their copies";
    if (step == "delete") return "without a copy left";
    return "reconciled with the array";
}

json recordJson(const RecordEntry& r, bool succeeded) {
    json meta = json::object();
    for (const auto& [id, value] : r.metadata) meta[std::to_string(id)] = value;
    return {{"device", r.device},         {"status", r.status},           {"statusName", statusName(r.status)},
            {"succeeded", succeeded},     {"errorCode", r.errorCode},     {"errorText", r.errorText},
            {"snapDevicePath", r.snapDevicePath}, {"arrayId", r.arrayId}, {"lunUid", r.lunUid},
            {"metadata", meta}};
}

JobEntry findJob(Agent& agent, const std::string& name) {
    auto job = Jobs(agent.catalogue()).find(name);
    if (!job) throw ExitError(kExitNoInput, "no job " + name + " in the catalogue");
    return *job;
}

void requireRecords(Agent& agent, const JobEntry& job) {
    if (Jobs(agent.catalogue()).records(job.id).empty()) throw CommandFailed("job " + job.name + " has no devices");
}

int finishSteps(Agent& agent, Output& out, const std::string& jobName, const StepReport& last) {
    auto job = Jobs(agent.catalogue()).find(jobName);
    if (job) {
        json& j = out.doc()["job"];
        j["name"] = job->name;
        j["id"] = job->id;
        j["kind"] = job->options.kind;
        j["state"] = job->state;
    }
    const size_t total = last.outcome.records.size();
    int status = exitForRecords(last.succeeded, total);
    std::string reason;
    if (status != kExitOk) {
        const std::string step = out.doc()["steps"].back()["step"].get<std::string>();
        if (status == kExitFailed) {
            std::vector<ProviderError::Fault> faults;
            for (const auto& r : last.outcome.records)
                if (!stepSucceeded(step, r)) faults.push_back(faultOfRecordError(r.errorCode));
            status = providerFailureStatus(faults);
        }
        reason = step + ": " + std::to_string(last.succeeded) + " of " + std::to_string(total) + " devices " +
                 doneWords(step);
        for (const auto& r : last.outcome.records)
            if (!stepSucceeded(step, r) && r.errorCode) {
                reason += "; " + r.device + ": " + r.errorText;
                break;
            }
    }
    return out.finish(status, reason);
}

// 32 hexadecimal digits, with or without ':' between them.
bool isVolumeUniqueId(const std::string& text) {
    size_t digits = 0;
    for (char c : text) {
        if (c == ':') continue;
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
        ++digits;
    }
    return digits == 32;
}

// The array of devices named by unique id: the one given, else the only
// array of the catalogue.
std::string arrayOfUniqueIds(Agent& agent, const std::string& given) {
    Arrays arrays(agent.catalogue());
    if (!given.empty()) {
        std::string id = given;
        std::transform(id.begin(), id.end(), id.begin(), [](unsigned char c) { return char(std::toupper(c)); });
        if (!arrays.find(id)) throw ExitError(kExitNoInput, "no array " + given + " in the catalogue");
        return id;
    }
    auto all = arrays.list();
    if (all.empty()) throw ExitError(kExitNoInput, "no arrays in the catalogue; add one with svcsnap array add");
    if (all.size() > 1)
        throw UsageError("name the devices' array with --array (the catalogue holds " + std::to_string(all.size()) +
                         " arrays)");
    return all.front().arrayId;
}

}  // namespace

const StepKind& stepKind(const std::string& name) {
    for (const auto& s : kSteps)
        if (name == s.name) return s;
    throw UsageError("no step " + name);
}

bool stepSucceeded(const std::string& step, const RecordEntry& r) {
    using namespace ZQSO;
    const int s = r.status;
    if (step == "prepare") return s == SNAP_STATUS_PREPARED;
    if (step == "snap") return s == SNAP_STATUS_SNAP_STARTED;
    if (step == "status")
        return s == SNAP_STATUS_NOT_MAPPED || s == SNAP_STATUS_CLONE_NOT_MAPPED || s == SNAP_STATUS_MAPPED_THIS_HOST ||
               s == SNAP_STATUS_MAPPED_OTHER_HOST || s == SNAP_STATUS_MAPPED_VISIBLE;
    if (step == "map") return s == SNAP_STATUS_MAPPED_VISIBLE;
    if (step == "unmap") return s == SNAP_STATUS_NOT_MAPPED || s == SNAP_STATUS_CLONE_NOT_MAPPED;
    if (step == "revert") return s == SNAP_STATUS_RESTORED;
    if (step == "delete") return s == SNAP_STATUS_DELETED || s == SNAP_STATUS_DELETED_OUTSIDE;
    if (step == "reconcile") return r.errorCode == 0;
    return false;
}

StepReport runStep(Agent& agent, Output& out, const JobEntry& job, const std::string& step,
                   std::optional<uint16_t> operation) {
    const StepKind& kind = stepKind(step);
    JobRunner runner(agent.catalogue(), agent.plugin(), agent.host());
    StepReport report;
    report.outcome = runner.run(job, step, kind.entry, kind.stateAfter ? kind.stateAfter : job.state,
                                operation ? *operation : kind.operation);

    Table table{{"device", "status", "error", "snap device"}, {}, step};
    json records = json::array();
    for (const auto& r : report.outcome.records) {
        const bool ok = stepSucceeded(step, r);
        if (ok) ++report.succeeded;
        table.rows.push_back({r.device, std::to_string(r.status) + " " + statusName(r.status),
                              r.errorCode ? std::to_string(r.errorCode) + " " + r.errorText : "", r.snapDevicePath});
        records.push_back(recordJson(r, ok));
    }
    out.line(step + ": " + std::to_string(report.succeeded) + " of " + std::to_string(report.outcome.records.size()) +
             " devices " + doneWords(step) + " (engine result " + std::to_string(report.outcome.result) + ")");
    out.table(table);
    json& steps = out.doc()["steps"];
    if (!steps.is_array()) steps = json::array();
    steps.push_back({{"step", step},
                     {"result", report.outcome.result},
                     {"succeeded", report.succeeded},
                     {"devices", report.outcome.records.size()},
                     {"records", records}});
    return report;
}

int createJob(Agent& agent, Output& out, const std::string& command, NewJobOptions n) {
    if (n.devices.empty()) throw UsageError("name at least one device");
    if (n.devices.size() > 4096) throw UsageError("at most 4096 devices in one job");
    std::set<std::string> seen;
    for (const auto& d : n.devices) {
        if (d.empty()) throw UsageError("an empty device name");
        if (!seen.insert(d).second) throw UsageError("device " + d + " is named twice");
    }
    // The array names target volumes and groups after the job.
    auto nameChar = [](char c) { return std::isalnum((unsigned char)c) || c == '_' || c == '-' || c == '.'; };
    if (n.name.empty() || n.name.size() > 40 || !std::isalpha((unsigned char)n.name[0]) ||
        !std::all_of(n.name.begin(), n.name.end(), nameChar))
        throw UsageError("a job name is a letter then up to 39 letters, digits, '_', '-' or '.'");
    n.options.kind = command == "clone" ? "clone" : n.options.kind;
    if (n.options.kind != "clone") {
        if (n.options.incremental || n.options.copyRate || n.options.cleanRate || n.options.smartClone)
            throw UsageError("--incremental, --copy-rate, --clean-rate and --smart-clone are for clones");
    }
    for (const auto* rate : {&n.options.copyRate, &n.options.cleanRate})
        if (*rate && (**rate < 0 || **rate > 150)) throw UsageError("copy and clean rates are 0 to 150");
    if (!n.options.proxy.empty() && !RemoteExecutor::validHostName(n.options.proxy))
        throw UsageError("\"" + n.options.proxy + "\" is not a host name");

    if (n.options.byUid)
        for (const auto& d : n.devices)
            if (!isVolumeUniqueId(d))
                throw UsageError("with --by-uid a device is a volume unique id (32 hexadecimal digits, as host show "
                                 "prints it), not \"" + d + "\"");
    if (!n.array.empty() && !n.options.byUid)
        throw UsageError("--array is for devices named by unique id (--by-uid); a host device names its array");

    Jobs jobs(agent.catalogue());
    if (jobs.find(n.name)) throw CommandFailed("a job named " + n.name + " exists already");
    const std::string arrayId = n.options.byUid ? arrayOfUniqueIds(agent, n.array) : std::string();
    const int engineId = n.options.kind == "clone" ? 21 : 20;
    agent.plugin();  // refuses a missing plug-in before the job is written
    JobEntry job = jobs.create(n.name, n.options, engineId, agent.config().controlHostId(), n.devices, arrayId);

    out.line("job " + job.name + ": " + job.options.kind + " of " + std::to_string(n.devices.size()) + " device(s)" +
             (job.options.useGroup ? " in a consistency group" : ""));
    StepReport last = runStep(agent, out, job, "prepare");
    if (command != "prepare" && last.succeeded > 0) {
        job = findJob(agent, n.name);
        last = runStep(agent, out, job, "snap");
    }
    return finishSteps(agent, out, n.name, last);
}

int runFlow(Agent& agent, Output& out, const std::string& command, const std::string& name,
            const FlowOptions& options) {
    static const std::set<std::string> known{"snap", "status", "map", "unmap", "revert", "delete", "reconcile"};
    if (!known.count(command)) throw UsageError("no command " + command);
    JobEntry job = findJob(agent, name);
    requireRecords(agent, job);
    agent.plugin();
    out.line("job " + job.name + ": " + job.options.kind + ", state " + job.state);

    StepReport last;
    if (command == "map" || command == "revert") {
        last = runStep(agent, out, job, "status");
        job = findJob(agent, name);
    }
    const bool plainDelete = command == "delete" && !options.unmapFirst;
    last = runStep(agent, out, job, command, plainDelete ? std::optional<uint16_t>(0) : std::nullopt);
    if (command == "delete" && options.forget && last.succeeded == last.outcome.records.size()) {
        Jobs(agent.catalogue()).remove(job.id);
        out.doc()["forgotten"] = true;
        out.line("job " + name + " removed from the catalogue");
    }
    return finishSteps(agent, out, name, last);
}

}  // namespace svcsnap
