#include "Flows.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <sstream>

#include "ArrayCheck.h"
#include "Arrays.h"
#include "Commands.h"
#include "Failures.h"
#include "Journal.h"
#include "Recovery.h"
#include "RemoteExec.h"
#include "ScsiIdentity.h"
#include "StepSignals.h"
#include "ZqDeviceTree.h"
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

json recordJson(const RecordEntry& r, bool succeeded, const json& copy) {
    json meta = json::object();
    for (const auto& [id, value] : r.metadata) meta[std::to_string(id)] = value;
    return {{"device", r.device},         {"status", r.status},           {"statusName", statusName(r.status)},
            {"succeeded", succeeded},     {"errorCode", r.errorCode},     {"errorText", r.errorText},
            {"snapDevicePath", r.snapDevicePath}, {"arrayId", r.arrayId}, {"lunUid", r.lunUid},
            {"snapName", r.snapName},     {"copy", copy},                 {"metadata", meta}};
}

void requireRecords(Agent& agent, const JobEntry& job) {
    if (Jobs(agent.catalogue()).records(job.id).empty()) throw CommandFailed("job " + job.name + " has no devices");
}

// The job's state after a step: a prepare that made nothing leaves the job
// failed, a delete that left copies leaves it partly deleted; otherwise a
// step with some success gives its state and a failed one keeps the job's.
StateAfter stateAfter(const std::string& step, const JobEntry& job) {
    const StepKind& kind = stepKind(step);
    return [step, job, &kind](int result, const std::vector<RecordEntry>& records) -> std::string {
        if (step == "prepare") return result == 1 ? "failed" : "prepared";
        if (step == "delete") {
            size_t deleted = 0;
            for (const auto& r : records)
                if (stepSucceeded(step, r)) ++deleted;
            if (deleted == records.size()) return "deleted";
            return deleted > 0 ? "partly-deleted" : job.state;
        }
        return result == 1 || !kind.stateAfter ? job.state : kind.stateAfter;
    };
}

bool oneOf(const std::string& value, std::initializer_list<const char*> set) {
    for (const char* v : set)
        if (value == v) return true;
    return false;
}

// Why the job's state does not allow the command; empty when it does.
std::string stateRefusal(const std::string& command, const JobEntry& job, const FlowOptions& o) {
    const std::string& state = job.state;
    const bool noCopy = oneOf(state, {"new", "failed"});
    const bool started = oneOf(state, {"snapped", "mapped", "unmapped", "reverted"});
    if (state == "deleted") {
        if (command == "delete" && o.forget) return "";
        return "its copies are deleted (svcsnap delete " + job.name + " --forget removes it from the catalogue)";
    }
    if (command == "snap") {
        if (state == "prepared") return "";
        if (noCopy) return "nothing is prepared (its prepare failed)";
        if (started) return "its copies were started already, and snap would mark them failed; take a new copy with a new job";
        return "some of its copies are deleted (svcsnap delete " + job.name + " removes the rest)";
    }
    if (command == "map" || command == "revert") {
        if (started) return "";
        if (noCopy) return "it has no copy to " + command + " (its prepare failed)";
        if (state == "prepared") return "its copies are prepared but not started (svcsnap snap " + job.name + " starts them)";
        return "some of its copies are deleted (svcsnap delete " + job.name + " removes the rest)";
    }
    if (command == "unmap" && noCopy) return "it has no copy to unmap (its prepare failed)";
    return "";
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

constexpr uint32_t kArrayTimeoutMs = 20000;

// A volume unique id in one form: upper case, no ':'.
std::string plainUid(const std::string& uid) {
    std::string out;
    for (char c : uid)
        if (c != ':') out += char(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

// What stands against rewriting one source: the hosts that map it, what
// holds it on this host, or why neither could be told.
struct SourceHazard {
    std::string device;
    std::vector<std::string> hosts;
    std::string inUse;
    std::string unknown;
    bool any() const { return !hosts.empty() || !inUse.empty() || !unknown.empty(); }
};

// Asks the arrays which hosts map each source, and this host whether
// something holds it; nothing is changed.
std::vector<SourceHazard> revertHazards(Agent& agent, const JobEntry& job) {
    ArraySessions sessions(Arrays(agent.catalogue()).list(), kArrayTimeoutMs,
                           agent.config().get("HostModule", kCaFileKey));
    // This host's disks by the unique id of their volume.
    agent.plugin();
    std::multimap<std::string, std::string> disks;
    for (const auto& device : agent.host().backend->devices(arrayVendor())) {
        const DiskIdentity id = inquireDisk(device, true);
        if (!id.naa.empty()) disks.emplace(plainUid(id.naa), device);
    }
    std::vector<SourceHazard> out;
    for (const auto& r : Jobs(agent.catalogue()).records(job.id)) {
        const CopyIdentity copy = copyIdentity(r);
        if (!copy.known()) continue;
        SourceHazard h;
        h.device = r.device;
        try {
            h.hosts = sessions.of(copy.arrayId).hostsOf(copy.sourcePath);
        } catch (const ProviderError& e) {
            h.unknown = std::string("its host mappings cannot be read: ") + e.what();
        }
        auto [from, to] = disks.equal_range(plainUid(copy.sourceUid));
        for (auto d = from; d != to && h.inUse.empty(); ++d) {
            CUxError error;
            std::shared_ptr<ZqDevice> device;
            try {
                device = ZqDeviceTree::getDevice(d->second, &error);
            } catch (const std::exception& e) {
                h.inUse = d->second + " cannot be opened: " + e.what();
                break;
            }
            std::string why;
            if (!device)
                h.inUse = d->second + " cannot be opened: " + error.AsString();
            else if (device->inUse(&why))
                h.inUse = d->second + " is in use on this host" + (why.empty() ? "" : " (" + why + ")");
        }
        out.push_back(h);
    }
    return out;
}

// A revert rewrites the sources: it is confirmed (--yes, or asked on the
// terminal), and refused while a host may read a source, unless --force.
void checkRevert(Agent& agent, Output& out, const JobEntry& job, const FlowOptions& o) {
    const bool terminal = isatty(STDIN_FILENO) == 1;
    if (!o.yes && !terminal)
        throw UsageError("revert rewrites the source devices of job " + job.name +
                         " with their copies' data; give --yes to confirm it (standard input is not a terminal "
                         "to ask on)");
    if (!o.force) {
        json sources = json::array();
        std::string reasons;
        for (const auto& h : revertHazards(agent, job)) {
            json entry = {{"device", h.device}, {"mappedTo", h.hosts}};
            if (!h.inUse.empty()) entry["inUse"] = h.inUse;
            if (!h.unknown.empty()) entry["error"] = h.unknown;
            sources.push_back(entry);
            if (!h.any()) continue;
            std::string why;
            if (!h.hosts.empty()) {
                why = "mapped to host";
                if (h.hosts.size() > 1) why += "s";
                for (size_t i = 0; i < h.hosts.size(); ++i) why += (i ? ", " : " ") + h.hosts[i];
            }
            if (!h.inUse.empty()) why += (why.empty() ? "" : "; ") + h.inUse;
            if (!h.unknown.empty()) why += (why.empty() ? "" : "; ") + h.unknown;
            reasons += (reasons.empty() ? "" : "; ") + h.device + " is " + why;
        }
        out.doc()["sources"] = sources;
        if (!reasons.empty())
            throw CommandFailed("revert refused, a host may read a source it would rewrite: " + reasons +
                                " (unmap the sources from every host and release them first, or give --force)");
    }
    if (o.yes) return;
    const size_t n = Jobs(agent.catalogue()).records(job.id).size();
    std::cerr << "svcsnap: revert job " << job.name << ": rewrite its " << n
              << " source device(s) with the data of their copies? What they hold now is lost. [y/N] "
              << std::flush;
    std::string answer;
    std::getline(std::cin, answer);
    for (auto& c : answer) c = char(std::tolower(static_cast<unsigned char>(c)));
    while (!answer.empty() && std::isspace(static_cast<unsigned char>(answer.back()))) answer.pop_back();
    if (answer != "y" && answer != "yes") throw CommandFailed("the revert was not confirmed; nothing was changed");
}

const char* signalName(int signal) { return signal == SIGTERM ? "SIGTERM" : "SIGINT"; }

}  // namespace

JobEntry findJob(Agent& agent, const std::string& name) {
    auto job = Jobs(agent.catalogue()).find(name);
    if (!job) throw ExitError(kExitNoInput, "no job " + name + " in the catalogue");
    return *job;
}

void refuseBusy(const std::string& job, const std::exception& busy) {
    throw ExitError(kExitTempFail, "job " + job + ": " + busy.what());
}

void stopIfSignalled(const std::string& step, const std::string& next) {
    const int signal = StepSignals::caught();
    if (!signal) return;
    throw ExitError(StepSignals::exitStatus(signal), std::string("interrupted by ") + signalName(signal) + ": the " +
                                                         step + " step ended and is recorded" +
                                                         (next.empty() ? "" : "; " + next + " did not run"));
}

std::string journalOptions(const FlowOptions& o) {
    std::string text;
    if (!o.unmapFirst) text += " --no-unmap";
    if (o.forget) text += " --forget";
    if (o.force) text += " --force";
    return text.empty() ? text : text.substr(1);
}

FlowOptions flowOptionsOf(const std::string& text) {
    FlowOptions o;
    std::istringstream words(text);
    for (std::string w; words >> w;) {
        if (w == "--no-unmap") o.unmapFirst = false;
        if (w == "--forget") o.forget = true;
        if (w == "--force") o.force = true;
    }
    return o;
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
    // The engine's own verdict is never made better.
    if (status == kExitOk && last.outcome.result != 0) status = last.outcome.result == 2 ? kExitPartial : kExitFailed;
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
        if (last.succeeded == total) reason += ", but the engine's result was " + std::to_string(last.outcome.result);
        for (const auto& r : last.outcome.records)
            if (!stepSucceeded(step, r) && r.errorCode) {
                reason += "; " + r.device + ": " + r.errorText;
                break;
            }
    }
    return out.finish(status, reason);
}

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
    runner.keepLogSteps(size_t(agent.config().logSteps()));
    StepReport report;
    try {
        report.outcome = runner.run(job, step, kind.entry, stateAfter(step, job), operation ? *operation : kind.operation);
    } catch (const JobBusy& busy) {
        refuseBusy(job.name, busy);
    }

    Table table{{"device", "status", "error", "target", "copy", "snap device"}, {}, step};
    json records = json::array();
    size_t undetermined = 0;
    std::vector<json> copies;
    for (const auto& r : report.outcome.records) copies.push_back(copyJson(r));
    // status is where a script asks how far the copies are (not the status
    // step that map and revert take first).
    if (step == "status" && out.command() == "status") readCopies(agent, out, report.outcome.records, copies);
    for (size_t i = 0; i < report.outcome.records.size(); ++i) {
        const RecordEntry& r = report.outcome.records[i];
        const bool ok = stepSucceeded(step, r);
        if (ok) ++report.succeeded;
        if (r.status == ZQSO::SNAP_STATUS_MAP_NOT_DETERMINED) ++undetermined;
        const std::string target = copies[i].is_object() ? copies[i]["targetName"].get<std::string>() : "";
        table.rows.push_back({r.device, std::to_string(r.status) + " " + statusName(r.status),
                              r.errorCode ? std::to_string(r.errorCode) + " " + r.errorText : "", target,
                              copyCell(copies[i]), r.snapDevicePath});
        records.push_back(recordJson(r, ok, copies[i]));
    }
    out.line(step + ": " + std::to_string(report.succeeded) + " of " + std::to_string(report.outcome.records.size()) +
             " devices " + doneWords(step) + " (engine result " + std::to_string(report.outcome.result) + ")");
    out.table(table);
    if (undetermined)
        out.line(step + ": the state of " + std::to_string(undetermined) +
                 " device(s) could not be told; the catalogue keeps their last known status");
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
    if (n.name.empty() || n.name.size() > Jobs::kMaxJobName || !std::isalpha((unsigned char)n.name[0]) ||
        !std::all_of(n.name.begin(), n.name.end(), nameChar))
        throw UsageError("a job name is a letter then up to " + std::to_string(Jobs::kMaxJobName - 1) +
                         " letters, digits, '_', '-' or '.'");
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
    if (auto existing = jobs.find(n.name)) {
        std::string reason = "a job named " + n.name + " exists already";
        if (stepInterrupted(agent.catalogue(), *existing))
            reason += "; its " + existing->step + " step was interrupted (svcsnap recover " + n.name + ")";
        throw CommandFailed(reason);
    }
    const std::string arrayId = n.options.byUid ? arrayOfUniqueIds(agent, n.array) : std::string();
    const int engineId = n.options.kind == "clone" ? 21 : 20;
    agent.plugin();  // refuses a missing plug-in before the job is written
    JobEntry job = jobs.create(n.name, n.options, engineId, agent.config().controlHostId(), n.devices, arrayId);
    std::optional<JobLease> lease;
    try {
        lease.emplace(agent.catalogue(), job.id, command);
    } catch (const JobBusy& busy) {
        refuseBusy(job.name, busy);
    }
    StepSignals signals;

    out.line("job " + job.name + ": " + job.options.kind + " of " + std::to_string(n.devices.size()) + " device(s)" +
             (job.options.useGroup ? " in a consistency group" : ""));
    StepReport last = runStep(agent, out, job, "prepare");
    std::string lastStep = "prepare";
    if (command != "prepare" && last.succeeded > 0) {
        stopIfSignalled("prepare", "snap (svcsnap snap " + job.name + " starts the copies)");
        job = findJob(agent, n.name);
        last = runStep(agent, out, job, "snap");
        lastStep = "snap";
    }
    stopIfSignalled(lastStep, "");
    return finishSteps(agent, out, n.name, last);
}

StepReport runCommandSteps(Agent& agent, Output& out, JobEntry job, const std::string& command,
                           const FlowOptions& options) {
    StepReport last;
    if (command == "delete" && job.state == "deleted" && options.forget) {
        // Nothing is left on the array: the job only leaves the catalogue.
        last.outcome.result = 0;
        last.outcome.records = Jobs(agent.catalogue()).records(job.id);
        last.succeeded = last.outcome.records.size();
        out.doc()["steps"] = json::array({{{"step", "delete"}, {"result", 0}, {"succeeded", last.succeeded},
                                           {"devices", last.succeeded}, {"records", json::array()}}});
    } else {
        if (command == "map" || command == "revert") {
            last = runStep(agent, out, job, "status");
            stopIfSignalled("status", command);
            job = findJob(agent, job.name);
        }
        const bool plainDelete = command == "delete" && !options.unmapFirst;
        last = runStep(agent, out, job, command, plainDelete ? std::optional<uint16_t>(0) : std::nullopt);
        if (command == "snap" && last.succeeded < last.outcome.records.size()) keepStartedCopies(agent, out, last);
        stopIfSignalled(command, "");
    }
    if (command == "delete" && options.forget && last.succeeded == last.outcome.records.size()) {
        Jobs(agent.catalogue()).remove(job.id);
        out.doc()["forgotten"] = true;
        out.line("job " + job.name + " removed from the catalogue");
    }
    return last;
}

int runFlow(Agent& agent, Output& out, const std::string& command, const std::string& name,
            const FlowOptions& options) {
    static const std::set<std::string> known{"snap", "status", "map", "unmap", "revert", "delete", "reconcile"};
    if (!known.count(command)) throw UsageError("no command " + command);
    JobEntry job = findJob(agent, name);
    requireRecords(agent, job);
    agent.plugin();
    std::optional<JobLease> lease;
    try {
        lease.emplace(agent.catalogue(), job.id, command, journalOptions(options));
    } catch (const JobBusy& busy) {
        refuseBusy(job.name, busy);
    }
    // With the lease held, a step that shows running is one whose process is gone.
    job = findJob(agent, name);
    out.line("job " + job.name + ": " + job.options.kind + ", state " + job.state);
    if (job.stepState == "running") {
        const bool needsRecovery = job.step == "prepare" || job.step == "revert";
        if (needsRecovery && !options.force)
            throw CommandFailed("job " + job.name + ": its " + job.step + " step was interrupted; run svcsnap recover " +
                                job.name + " first (--force runs " + command + " anyway)");
        out.line("job " + job.name + ": its " + job.step +
                 " step was interrupted; the catalogue holds what the engine had recorded" +
                 (job.step == command ? ", and " + command + " runs again" : ""));
    }
    const std::string refused = stateRefusal(command, job, options);
    if (!refused.empty() && !options.force)
        throw CommandFailed("job " + job.name + " is " + job.state + ": " + refused + " (--force runs " + command +
                            " anyway)");
    if (command == "revert") checkRevert(agent, out, job, options);
    StepSignals signals;
    StepReport last = runCommandSteps(agent, out, job, command, options);
    return finishSteps(agent, out, name, last);
}

}  // namespace svcsnap
