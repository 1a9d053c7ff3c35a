// The commands of svcsnap. Each fills the output model and returns its exit
// status; failures are raised as UsageError or CommandFailed.
#pragma once

#include <istream>
#include <ostream>
#include <string>

#include "Agent.h"
#include "Jobs.h"
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
struct ShowOptions {
    bool verbose = false;  // with each record's log lines
    std::string level;     // only log lines of this level or above (0 detail, 1 info, 2 error)
    std::string device;    // this record alone, whole
};
int showJob(Agent& agent, Output& out, const std::string& job, const ShowOptions& options);
// The job's steps, oldest first, with their time, result and each record's outcome.
int showHistory(Agent& agent, Output& out, const std::string& job);
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

// The SCSI vendor of the arrays' disks ("IBM" unless configured).
std::string arrayVendor();

// The copy a record holds as the catalogue knows it (type, target volume's
// name and unique id, group); null when it holds none.
nlohmann::json copyJson(const RecordEntry& record);
// Adds what the arrays tell of each copy (its FlashCopy mapping, state and
// progress, the target's name and the hosts that map it) to `copies`, one
// per record. An array that cannot be read leaves its copies as they were,
// with a warning; nothing is raised.
void readCopies(Agent& agent, Output& out, const std::vector<RecordEntry>& records, std::vector<nlohmann::json>& copies);
// A copy in a table cell: "snapshot, copying 42%".
std::string copyCell(const nlohmann::json& copy);

// The name of a record status ("prepared", "snap failed", ...).
std::string statusName(int status);

}  // namespace svcsnap
