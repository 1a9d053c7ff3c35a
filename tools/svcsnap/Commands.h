// The commands of svcsnap. Each fills the output model and returns its exit
// status; failures are raised as UsageError or CommandFailed.
#pragma once

#include <istream>
#include <ostream>
#include <string>

#include "Agent.h"
#include "Output.h"

namespace svcsnap {

struct ArrayAddOptions {
    std::string address;
    int port = 0;  // 0: 5989 with HTTPS, 5988 without
    bool http = false;
    std::string user;
    bool passwordStdin = false;
    std::string passwordEnv;
    std::string arrayId;  // asked of the provider when empty
    uint32_t timeoutMs = 20000;
};

int arrayAdd(Agent& agent, Output& out, const ArrayAddOptions& options);
int arrayList(Agent& agent, Output& out);
// Refuses, unless `force`, while jobs hold copies on the array.
int arrayRemove(Agent& agent, Output& out, const std::string& arrayId, bool force);
int arrayCheck(Agent& agent, Output& out, const std::string& arrayId, uint32_t timeoutMs);
int listJobs(Agent& agent, Output& out);
int showJob(Agent& agent, Output& out, const std::string& job, bool verbose);
int configShow(Agent& agent, Output& out);
// The host as the agent sees it: its back end, initiators and disks of the
// arrays' vendor, each with the LUN id it answers.
int hostShow(Agent& agent, Output& out);
int hostRescan(Agent& agent, Output& out);
// The proxy side of remote execution: reads a batch (JSON) from `in`, runs
// the plug-in's zqso_execSnapEngineOp on it, and writes the records back to
// `answer`. Failures are raised; nothing is then written to `answer`.
int proxyExec(Agent& agent, std::istream& in, std::ostream& answer);
int version(Agent& agent, Output& out);

// The name of a record status ("prepared", "snap failed", ...).
std::string statusName(int status);

}  // namespace svcsnap
