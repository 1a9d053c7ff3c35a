// The step journal of the catalogue. A command that runs steps of a job
// holds the job's lease: the job's row in the table "journal", naming the
// command, its current step and the process (id, start time, boot id). A
// second command on a job whose lease a live process holds is refused; a
// lease whose process is gone (ended, killed, or of an earlier boot) is
// taken over. A step whose lease is gone while the job still shows it
// running was interrupted.
//
// While a step runs, what the engine hands a record (status, error,
// metadata) is written through to the catalogue in a transaction of its
// own (RecordJournal), so that a step killed at any point leaves the
// catalogue knowing every copy the engine had recorded.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "Catalogue.h"
#include "Jobs.h"

namespace svcsnap {

// A process as the journal names it.
struct ProcessId {
    int64_t pid = 0;
    int64_t startTicks = 0;  // its start, in clock ticks after boot
    std::string bootId;      // /proc/sys/kernel/random/boot_id

    static ProcessId self();
    // The running process of that id (startTicks -1 when there is none).
    static ProcessId of(int64_t pid);
    // Running now, on this boot, and the same process (not a reused pid).
    bool alive() const;
    bool operator==(const ProcessId& other) const {
        return pid == other.pid && startTicks == other.startTicks && bootId == other.bootId;
    }
};

// The journal row of a job.
struct LeaseHolder {
    ProcessId process;
    std::string command;  // the command that holds it ("snapshot", "map", "recover", ...)
    std::string options;  // its options that matter to a recovery ("--no-unmap")
    std::string step;     // the step it runs, empty between steps
    int64_t startedAt = 0;
};

// The job's journal row, if any.
std::optional<LeaseHolder> leaseOf(Catalogue& catalogue, int64_t jobId);

// A live process of another command holds the job.
struct JobBusy : CatalogueError {
    JobBusy(const std::string& reason, LeaseHolder holder) : CatalogueError(reason), holder(std::move(holder)) {}
    LeaseHolder holder;
};

// The lease of one job for this process, released when it goes. A lease
// this process holds already is shared (a command's steps take it again).
class JobLease {
public:
    // Throws JobBusy when a live process of another command holds the job.
    JobLease(Catalogue& catalogue, int64_t jobId, const std::string& command, const std::string& options = "");
    ~JobLease();
    JobLease(const JobLease&) = delete;
    JobLease& operator=(const JobLease&) = delete;

    // The row of the process that held the job before, when it was gone.
    const std::optional<LeaseHolder>& previous() const { return previous_; }
    // Names the step the command runs now.
    void setStep(const std::string& step);
    // Names the command anew (a recovery keeps what it recovers there).
    void setCommand(const std::string& command, const std::string& options);

private:
    Catalogue& catalogue_;
    int64_t jobId_;
    bool owner_ = false;  // this object made the row (and removes it)
    std::optional<LeaseHolder> previous_;
};

// Whether the job's step was interrupted: it shows running and no live
// process holds the job.
bool stepInterrupted(Catalogue& catalogue, const JobEntry& job);

// Writes a record through to the catalogue while its step runs.
class RecordJournal {
public:
    RecordJournal(Catalogue& catalogue, const JobEntry& job)
        : catalogue_(catalogue), engineId_(job.engineId), controlHostId_(job.controlHostId) {}

    // One transaction: the record's status (`stored` when the engine could
    // not tell it, see forCatalogue), error, paths, ids, flags, metadata and
    // the copy it names, and the record's new log lines.
    void write(const RecordEntry& record, int stored);

private:
    Catalogue& catalogue_;
    int engineId_;
    int controlHostId_;
};

// The record as the catalogue keeps it: a status the engine could not tell
// (11, not determined) leaves `stored` in place.
RecordEntry forCatalogue(RecordEntry record, int stored);

// Inside the caller's transaction: the copy a record names (metadata 1) is
// known for the job's engine and host unless its status says it is gone.
void rememberCopyOf(Catalogue& catalogue, int engineId, int controlHostId, const RecordEntry& record);

}  // namespace svcsnap
