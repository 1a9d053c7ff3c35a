#include "Recovery.h"

#include <chrono>
#include <optional>

#include "ArrayCheck.h"
#include "Arrays.h"
#include "Commands.h"
#include "Flows.h"
#include "Journal.h"
#include "StepSignals.h"
#include "zqso/ZqsoTypes.h"

namespace svcsnap {

using nlohmann::json;

namespace {

constexpr uint32_t kArrayTimeoutMs = 20000;

std::string copyStateText(const CopyState& c) {
    if (!c.found) return "no reverse copy";
    switch (c.syncState) {
        case 3: return "reverse copy preparing, not started";
        case 4: return "reverse copy prepared, not started";
        case 5: return "reverse copy restoring, " + std::to_string(c.percent) + "%";
        case 6: return "reverse copy done";
        case 8: return "reverse copy stopping";
        case 9: return "reverse copy stopped";
        case 11: return c.percent > 0 ? "reverse copy idle at " + std::to_string(c.percent) + "%"
                                      : "reverse copy made, not started";
        default: return "reverse copy in sync state " + std::to_string(c.syncState);
    }
}

int recoverPrepare(Agent& agent, Output& out, JobEntry job, const std::string& command, bool resume) {
    Jobs jobs(agent.catalogue());
    bool known = false;
    for (const auto& r : jobs.records(job.id))
        if (!uniqueIdFields(r).empty()) known = true;
    StepReport last;
    if (known) {
        out.line("the copies the interrupted prepare had recorded are deleted first");
        last = runStep(agent, out, job, "delete");
        stopIfSignalled("delete", "the rest of the recovery (svcsnap recover " + job.name + " again)");
        if (last.succeeded != last.outcome.records.size()) {
            jobs.setState(job.id, "partly-deleted");
            return finishSteps(agent, out, job.name, last);
        }
        job = findJob(agent, job.name);
    }
    out.line("prepare runs again; what the interrupted one left under the job's names is taken over");
    last = runStep(agent, out, job, "prepare");
    job = findJob(agent, job.name);
    if (resume) {
        if ((command == "snapshot" || command == "clone") && last.succeeded > 0) {
            stopIfSignalled("prepare", "snap (svcsnap snap " + job.name + " starts the copies)");
            last = runStep(agent, out, job, "snap");
            stopIfSignalled("snap", "");
        } else {
            stopIfSignalled("prepare", "");
        }
        return finishSteps(agent, out, job.name, last);
    }
    stopIfSignalled("prepare", "the roll back (svcsnap delete " + job.name + " deletes the copies)");
    out.line("the prepare is rolled back: its copies are deleted");
    last = runStep(agent, out, job, "delete");
    stopIfSignalled("delete", "");
    if (last.succeeded == last.outcome.records.size()) {
        jobs.setState(job.id, "failed");
        out.line("job " + job.name + " is rolled back: nothing of it is left on the array; it stays in the catalogue "
                 "as failed (svcsnap delete " + job.name + " --forget removes it)");
    }
    return finishSteps(agent, out, job.name, last);
}

// A mapping the array has started: copying, or copied already.
bool started(const CopyState& c) { return c.found && (c.syncState == 5 || c.syncState == 6); }

}  // namespace

size_t keepStartedCopies(Agent& agent, Output& out, StepReport& last) {
    Arrays arrays(agent.catalogue());
    Jobs jobs(agent.catalogue());
    const std::string caFile = agent.config().get("HostModule", kCaFileKey);
    const int64_t nowMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                              std::chrono::system_clock::now().time_since_epoch())
                              .count();
    size_t kept = 0;
    for (RecordEntry& r : last.outcome.records) {
        if (r.status == ZQSO::SNAP_STATUS_SNAP_STARTED) continue;
        const std::vector<std::string> f = uniqueIdFields(r);
        auto array = f.size() >= 8 ? arrays.find(f[0]) : std::nullopt;
        if (!array) continue;
        try {
            if (!started(queryCopy(*array, f[4], f[7], kArrayTimeoutMs, caFile))) continue;
        } catch (const ProviderError& e) {
            out.line(r.device + ": the state of its copy cannot be read (" + e.what() + "); it keeps status " +
                     std::to_string(r.status));
            continue;
        }
        r.status = ZQSO::SNAP_STATUS_SNAP_STARTED;
        r.errorCode = 0;
        r.errorText.clear();
        r.newLines = {{nowMs, 0, "recover", "The array shows this copy started already (by a snap that did not end); kept as started"}};
        Transaction tx(agent.catalogue());
        jobs.writeRecord(r);
        tx.commit();
        r.newLines.clear();
        for (json& shown : out.doc()["steps"].back()["records"])
            if (shown["device"] == r.device)
                shown.update({{"status", r.status}, {"statusName", statusName(r.status)}, {"succeeded", true},
                              {"errorCode", 0}, {"errorText", ""}});
        ++kept;
    }
    if (kept == 0) return 0;
    last.succeeded += kept;
    Jobs(agent.catalogue()).setState(last.outcome.records.front().jobId, "snapped");
    json& step = out.doc()["steps"].back();
    last.outcome.result = last.succeeded == last.outcome.records.size() ? 0 : 2;
    step["result"] = last.outcome.result;
    step["succeeded"] = last.succeeded;
    out.line("snap: " + std::to_string(kept) + " device(s) whose copy the array had started already are kept as "
             "started");
    return kept;
}

namespace {

// Each source with the state of its reverse copy; the array is only read.
void reportRevert(Agent& agent, Output& out, const JobEntry& job) {
    Arrays arrays(agent.catalogue());
    Table t{{"device", "status", "reverse copy"}, {}};
    json list = json::array();
    for (const auto& r : Jobs(agent.catalogue()).records(job.id)) {
        const std::vector<std::string> f = uniqueIdFields(r);
        std::string state = "no copy";
        json entry = {{"device", r.device}, {"status", r.status}, {"statusName", statusName(r.status)}};
        if (f.size() >= 8) {
            auto array = arrays.find(f[0]);
            try {
                if (!array) throw ProviderError("array " + f[0] + " is not in the catalogue");
                const CopyState c = queryCopy(*array, f[7], f[4], kArrayTimeoutMs,
                                              agent.config().get("HostModule", kCaFileKey));
                state = copyStateText(c);
                entry["reverseCopy"] = {{"found", c.found}, {"syncState", c.syncState}, {"percent", c.percent}};
            } catch (const ProviderError& e) {
                state = std::string("cannot be read: ") + e.what();
                entry["reverseCopy"] = {{"error", e.what()}};
            }
        }
        entry["reverseCopyText"] = state;
        t.rows.push_back({r.device, std::to_string(r.status) + " " + statusName(r.status), state});
        list.push_back(entry);
    }
    out.doc()["revert"] = list;
    out.table(t);
}

}  // namespace

int recoverJob(Agent& agent, Output& out, const std::string& name, const RecoverOptions& recover) {
    const bool resume = recover.resume;
    JobEntry job = findJob(agent, name);
    agent.plugin();
    std::optional<JobLease> lease;
    try {
        lease.emplace(agent.catalogue(), job.id, "recover", resume ? "--resume" : "");
    } catch (const JobBusy& busy) {
        refuseBusy(job.name, busy);
    }
    job = findJob(agent, name);
    if (job.stepState != "running") {
        out.doc()["interrupted"] = nullptr;
        out.line("job " + job.name + ": no step was interrupted" +
                 (job.step.empty() ? "" : " (its last step, " + job.step + ", is " + job.stepState + ")") +
                 "; nothing to recover");
        return out.finish(kExitOk);
    }
    const std::optional<LeaseHolder>& before = lease->previous();
    std::string command = before ? before->command : job.step;
    std::string options = before ? before->options : "";
    std::string step = job.step;
    // A recovery that was interrupted itself: what it was recovering.
    const std::string kOf = "recovering=";
    if (command == "recover" && options.find(kOf) != std::string::npos) {
        const std::string of = options.substr(options.find(kOf) + kOf.size());
        const size_t space = of.find(' ');
        const std::string what = of.substr(0, space);
        step = what.substr(0, what.find(':'));
        command = what.substr(what.find(':') + 1);
        options = space == std::string::npos ? std::string() : of.substr(space + 1);
    }
    lease->setCommand("recover", (resume ? "--resume " : "") + kOf + step + ":" + command + " " + options);
    FlowOptions flowOptions = flowOptionsOf(options);
    out.doc()["interrupted"] = {{"step", job.step}, {"command", command}};
    if (before) out.doc()["interrupted"]["pid"] = before->process.pid;
    out.line("job " + job.name + ": the " + job.step + " step of svcsnap " + command + " was interrupted" +
             (before ? " (process " + std::to_string(before->process.pid) + ")" : ""));

    StepSignals signals;
    if (step == "prepare") return recoverPrepare(agent, out, job, command, resume);
    if (step == "revert" || command == "revert") {
        reportRevert(agent, out, job);
        if (!resume) {
            out.line("nothing was changed; svcsnap recover " + job.name + " --resume runs the revert again");
            return out.finish(kExitOk);
        }
        return finishSteps(agent, out, job.name, runCommandSteps(agent, out, job, "revert", flowOptions));
    }
    // snap, map, unmap, delete, status, reconcile: each is safe to run again.
    std::string again = step;
    if (command == "map" || command == "delete") again = command;
    out.line(again + " runs again");
    return finishSteps(agent, out, job.name, runCommandSteps(agent, out, job, again, flowOptions));
}

}  // namespace svcsnap
