// Jobs and their records: a job is a named batch of devices with the options
// of its copies; each record is one device with its snap name, status,
// error, metadata and log lines. A step of a job (prepare, snap, map, ...) is
// marked as running in a transaction of its own before the engine is called,
// what the engine hands the records is written through while it runs
// (Journal.h), and the step's outcome is written in one transaction
// afterwards: a step killed half-way leaves every change the engine had
// made, and the job shows which step it was in.
//
// Snap names are "<job>_<catalogue tag>_<n>": unique to the catalogue, so
// that hosts with their own catalogues may give their jobs the same names.
// A job name has at most kMaxJobName characters, so that the names the
// array gets stay within its 63: the snap name, its group's name with
// "_CG", and a target marked with "_ZQ_TO_BE_DEL".
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "Catalogue.h"

namespace svcsnap {

struct JobOptions {
    std::string kind = "snapshot";  // snapshot or clone
    bool useGroup = false;
    std::string label;
    bool labelOnly = false;
    std::string pool;
    bool incremental = false;
    bool smartClone = false;
    std::optional<int> copyRate;
    std::optional<int> cleanRate;
    std::string proxy;
    bool byUid = false;
};

struct JobEntry {
    int64_t id = 0;
    std::string name;
    JobOptions options;
    int engineId = 20;  // 20 snapshot engine, 21 clone engine
    int controlHostId = 1;
    std::string state = "new";
    std::string step;
    std::string stepState;  // running, done, failed
    std::optional<int> stepResult;
    int64_t createdAt = 0;
    int64_t updatedAt = 0;
};

struct LogEntry {
    int64_t atMs = 0;
    int level = 0;
    std::string function;
    std::string text;
};

struct RecordEntry {
    int64_t id = 0;
    int64_t jobId = 0;
    int position = 0;
    std::string device;
    std::string snapName;  // the name the copy's target and group take on the array
    int status = 0;
    uint32_t errorCode = 0;
    std::string errorText;
    std::string snapDevicePath;
    std::string arrayId;
    std::string lunUid;
    uint32_t flags = 0;
    std::map<int, std::string> metadata;
    std::vector<LogEntry> newLines;  // lines to append when the record is written back
};

// The fields of a record's copy identifier (metadata 1), joined by '*' in
// this order: array id, snap operation (4 snapshot, 5 clone), snap service,
// source volume's unique id, source volume's object path, a carried field,
// target volume's unique id, target volume's object path, target selection
// mode. Empty when the record holds none.
std::vector<std::string> uniqueIdFields(const RecordEntry& record);

// The copy a record names, as its identifier tells it.
struct CopyIdentity {
    std::string arrayId;
    std::string copyType;  // snapshot or clone
    std::string sourceUid, sourcePath;
    std::string targetUid, targetPath;
    bool known() const { return !targetPath.empty(); }
};
CopyIdentity copyIdentity(const RecordEntry& record);

// One step of a job as its history keeps it.
struct StepEntry {
    struct Outcome {
        int64_t recordId = 0;
        std::string device;
        int status = 0;
        uint32_t errorCode = 0;
        std::string errorText;
    };
    int64_t id = 0;
    std::string step;
    std::string state;  // running, done or failed
    std::optional<int> result;
    std::string jobState;  // the job's state after it
    int64_t startedMs = 0;
    int64_t endedMs = 0;  // 0 while it runs
    std::vector<Outcome> records;
};

class Jobs {
public:
    static constexpr size_t kMaxJobName = 40;

    explicit Jobs(Catalogue& catalogue) : db_(catalogue) {}

    // Creates a job with one record per device, in one transaction; the
    // records name `arrayId` when given (devices named by unique id).
    JobEntry create(const std::string& name, const JobOptions& options, int engineId, int controlHostId,
                    const std::vector<std::string>& devices, const std::string& arrayId = std::string());
    std::optional<JobEntry> find(const std::string& nameOrId);
    std::vector<JobEntry> list();
    std::vector<RecordEntry> records(int64_t jobId);
    std::vector<LogEntry> logLines(int64_t recordId);
    // Record count per status of a job.
    std::map<int, int> statusCounts(int64_t jobId);

    void beginStep(int64_t jobId, const std::string& step);
    void setState(int64_t jobId, const std::string& state);
    // Writes every record (status, error, paths, metadata, new log lines),
    // whatever `alsoInside` writes (the known copies) and the step's end in
    // one transaction.
    void finishStep(int64_t jobId, const std::string& step, int result, const std::string& newState,
                    const std::vector<RecordEntry>& records, const std::function<void()>& alsoInside = {});
    void failStep(int64_t jobId, const std::string& step);
    // The job's steps, oldest first, each with its records' outcome.
    std::vector<StepEntry> history(int64_t jobId);
    // Inside the caller's transaction: drops the log lines of all but the
    // job's last `keepSteps` steps (lines older than the history too).
    void pruneLog(int64_t jobId, size_t keepSteps);
    bool remove(int64_t jobId);
    // Inside the caller's transaction: the record's status, error, paths,
    // ids, flags and metadata, and its new log lines appended.
    void writeRecord(const RecordEntry& record);

private:
    Catalogue& db_;
};

}  // namespace svcsnap
