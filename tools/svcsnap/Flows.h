// The flow commands: each runs one or two steps of a job through the job
// runner and reports every device's outcome. A step succeeds for a record
// when the record ends in the step's good statuses; the exit status follows
// from how many did (0 all, 2 some, 1 none).
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

}  // namespace svcsnap
