// SIGINT and SIGTERM while a command runs a job's steps. The engine cannot
// be cancelled inside a call: the first signal says so once, and the step
// runs to its end and is recorded; the command then stops before its next
// step (caught() tells which signal came). A second signal ends the process
// at once; the step's journal row then shows it interrupted, for
// `svcsnap recover`.
#pragma once

#include <csignal>

namespace svcsnap {

class StepSignals {
public:
    // `announce`: print the line on the first signal (a proxy stays quiet).
    explicit StepSignals(bool announce = true);
    ~StepSignals();
    StepSignals(const StepSignals&) = delete;
    StepSignals& operator=(const StepSignals&) = delete;

    // The signal caught since the command began (SIGINT or SIGTERM), else 0.
    static int caught();
    // The exit status for it: 130 for SIGINT, 143 for SIGTERM.
    static int exitStatus(int signal);

private:
    struct sigaction oldInt_ {};
    struct sigaction oldTerm_ {};
};

}  // namespace svcsnap
