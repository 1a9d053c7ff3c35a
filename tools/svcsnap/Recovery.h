// svcsnap recover JOB: the job's interrupted step, finished. An interrupted
// prepare is completed and rolled back: the copies it had recorded are
// deleted, prepare runs again (taking over what the interrupted one left
// under the job's names) and its copies are deleted, leaving the job failed;
// with --resume the prepare completes and the job goes on (a snapshot or
// clone command also starts the copies). An interrupted snap, map, unmap,
// delete, status or reconcile runs again. An interrupted revert is reported
// (each source with the state of its reverse copy on the array) and changed
// only with --resume, which runs the revert again. Afterwards nothing of the
// job is on the array that the catalogue does not name.
#pragma once

#include <string>

#include "Agent.h"
#include "Output.h"

namespace svcsnap {

struct RecoverOptions {
    bool resume = false;
};

// After a snap: the records that did not start whose copies the array shows
// started (a snap interrupted after the array had started them) are kept as
// started, each with a line that says why, and the job is snapped; a snap run
// again is refused by the array for them, yet their copies are sound.
// Returns how many were kept.
struct StepReport;
size_t keepStartedCopies(Agent& agent, Output& out, StepReport& last);

int recoverJob(Agent& agent, Output& out, const std::string& job, const RecoverOptions& options);

}  // namespace svcsnap
