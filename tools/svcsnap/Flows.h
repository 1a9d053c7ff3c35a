// The flow commands: each runs one or two steps of a job through the job
// runner and reports every device's outcome. A step succeeds for a record
// when the record ends in the step's good statuses; the exit status follows
// from how many did (0 all, 2 some, 1 none), and is never better than the
// engine's own result.
//
// A command holds the job's lease while it runs (a second command on the
// job exits 75), runs only the steps the job's state allows (--force
// overrides), and after a SIGINT or SIGTERM ends once the current step is
// recorded (130, 143). A job whose last step was interrupted takes only
// that step again (when it is safe to repeat) or `svcsnap recover`.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "Agent.h"
#include "Jobs.h"
#include "JobRunner.h"
#include "Output.h"

namespace svcsnap {

// One step of a job as the agent runs it.
struct StepKind {
    const char* name;        // prepare, snap, status, ...
    const char* entry;       // the plug-in's entry point
    const char* stateAfter;  // the job's state when some record succeeded; null keeps it
    uint16_t operation;      // the OS utility's current operation code
};

const StepKind& stepKind(const std::string& name);
// Whether a record ended the step as it should.
bool stepSucceeded(const std::string& step, const RecordEntry& record);

struct NewJobOptions {
    std::string name;
    std::vector<std::string> devices;
    JobOptions options;
    std::string array;  // with --by-uid: the devices' array (default: the only one)
};

// snapshot and clone: a new job, prepared and snapped; prepare: a new job,
// prepared only. `kind` is "snapshot" or "clone".
int createJob(Agent& agent, Output& out, const std::string& command, NewJobOptions job);

// snap, status, map, unmap, revert, delete, reconcile on an existing job.
// map and revert ask the mapped state first, as the engine needs it.
struct FlowOptions {
    bool unmapFirst = true;  // delete: unmap the copies from this host first
    bool forget = false;     // delete: drop the job from the catalogue once no copy is left
    bool force = false;      // run the step whatever the job's state
    bool yes = false;        // revert: confirmed on the command line
};
int runFlow(Agent& agent, Output& out, const std::string& command, const std::string& job,
            const FlowOptions& options = FlowOptions());

// Runs one step and adds its outcome to the output; returns the records
// that succeeded.
struct StepReport {
    StepOutcome outcome;
    size_t succeeded = 0;
};
// `operation` overrides the step's operation code.
StepReport runStep(Agent& agent, Output& out, const JobEntry& job, const std::string& step,
                   std::optional<uint16_t> operation = std::nullopt);

// --- shared with recovery
JobEntry findJob(Agent& agent, const std::string& name);
// The steps of a flow command on a job whose lease is held (map and revert
// ask the mapped state first); ends the command after a signal.
StepReport runCommandSteps(Agent& agent, Output& out, JobEntry job, const std::string& command,
                           const FlowOptions& options);
// After a step: a SIGINT or SIGTERM that came ends the command (130, 143)
// with the step recorded; `next` says what did not run.
void stopIfSignalled(const std::string& step, const std::string& next);
// The options text a journal row keeps for a flow command, and back.
std::string journalOptions(const FlowOptions& options);
FlowOptions flowOptionsOf(const std::string& journalOptions);
// The job's result, the reason of a failure, and the exit status.
int finishSteps(Agent& agent, Output& out, const std::string& jobName, const StepReport& last);
// A JobBusy as the command's failure (75).
[[noreturn]] void refuseBusy(const std::string& job, const std::exception& busy);

}  // namespace svcsnap
