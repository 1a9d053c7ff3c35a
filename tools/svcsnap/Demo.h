// svcsnap demo: the main job against a simulator started in this process.
// A cluster with a host and four source volumes is seeded; the agent then
// takes snapshots in a consistency group, asks their mapped state, maps and
// unmaps them, reverts the sources after a write, reconciles after a copy is
// deleted on the array behind its back, and deletes the rest. After each
// step the array's own state is compared with what the step should leave.
#pragma once

#include "Agent.h"
#include "Output.h"

namespace svcsnap {

struct DemoOptions {
    double timeScale = 0.002;  // real seconds per engine second
    bool keep = false;         // keep the working directory (catalogue, debug log)
};

// 0 when every step did what it should, else 1.
int runDemo(const GlobalOptions& global, Output& out, const DemoOptions& options);

}  // namespace svcsnap
