// The commands of svcsnap. Each fills the output model and returns its exit
// status; failures are raised as UsageError or CommandFailed.
#pragma once

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
int arrayRemove(Agent& agent, Output& out, const std::string& arrayId);
int arrayCheck(Agent& agent, Output& out, const std::string& arrayId, uint32_t timeoutMs);
int listJobs(Agent& agent, Output& out);
int showJob(Agent& agent, Output& out, const std::string& job, bool verbose);
int configShow(Agent& agent, Output& out);
int version(Agent& agent, Output& out);

// The name of a record status ("prepared", "snap failed", ...).
std::string statusName(int status);

}  // namespace svcsnap
