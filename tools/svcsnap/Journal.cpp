#include "Journal.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>

#include "KnownCopies.h"
#include "zqso/ZqsoTypes.h"

namespace svcsnap {

namespace {

int64_t now() { return int64_t(std::time(nullptr)); }

std::string readBootId() {
    std::ifstream in("/proc/sys/kernel/random/boot_id");
    std::string id;
    std::getline(in, id);
    return id;
}

// Field 22 of /proc/PID/stat: the start time in clock ticks after boot;
// -1 when the process is not there.
int64_t startTicksOf(int64_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    if (!std::getline(in, text)) return -1;
    // The command name (field 2) is in parentheses and may hold anything.
    const size_t close = text.rfind(')');
    if (close == std::string::npos) return -1;
    std::istringstream fields(text.substr(close + 1));
    std::string field;
    // Fields 3 to 21, then 22.
    for (int i = 3; i <= 21; ++i)
        if (!(fields >> field)) return -1;
    int64_t ticks = -1;
    if (!(fields >> ticks)) return -1;
    return ticks;
}

// Statuses after which a record holds no copy any more.
bool copyGone(int status) {
    return status == ZQSO::SNAP_STATUS_UNPREPARED || status == ZQSO::SNAP_STATUS_DELETED ||
           status == ZQSO::SNAP_STATUS_DELETED_OUTSIDE;
}

LeaseHolder holderOf(const Statement& q) {
    LeaseHolder h;
    h.command = q.text(0);
    h.options = q.text(1);
    h.step = q.text(2);
    h.process.pid = q.integer(3);
    h.process.startTicks = q.integer(4);
    h.process.bootId = q.text(5);
    h.startedAt = q.integer(6);
    return h;
}

}  // namespace

ProcessId ProcessId::self() {
    static const ProcessId id = of(int64_t(::getpid()));
    return id;
}

ProcessId ProcessId::of(int64_t pid) {
    static const std::string boot = readBootId();
    ProcessId p;
    p.pid = pid;
    p.startTicks = startTicksOf(pid);
    p.bootId = boot;
    return p;
}

bool ProcessId::alive() const {
    if (pid <= 0 || bootId != ProcessId::self().bootId) return false;
    const int64_t ticks = startTicksOf(pid);
    if (ticks >= 0) return ticks == startTicks;
    // Without /proc: whether a process of that id exists.
    return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
}

std::optional<LeaseHolder> leaseOf(Catalogue& catalogue, int64_t jobId) {
    Statement q(catalogue,
                "SELECT command, options, step, pid, process_start, boot_id, started_at FROM journal WHERE job_id = ?1");
    q.bind(1, jobId);
    if (!q.step()) return std::nullopt;
    return holderOf(q);
}

JobLease::JobLease(Catalogue& catalogue, int64_t jobId, const std::string& command, const std::string& options)
    : catalogue_(catalogue), jobId_(jobId) {
    const ProcessId me = ProcessId::self();
    Transaction tx(catalogue_);
    std::optional<LeaseHolder> held = leaseOf(catalogue_, jobId_);
    if (held && held->process == me) return;  // this process holds it already
    if (held && held->process.alive()) {
        const std::string doing = held->step.empty() ? "" : " (step " + held->step + ")";
        throw JobBusy("the job is busy: svcsnap " + held->command + doing + " runs in process " +
                          std::to_string(held->process.pid) + "; try again when it has ended",
                      *held);
    }
    previous_ = held;
    Statement q(catalogue_,
                "INSERT OR REPLACE INTO journal (job_id, command, options, step, pid, process_start, boot_id, "
                "started_at) VALUES (?1, ?2, ?3, '', ?4, ?5, ?6, ?7)");
    q.bind(1, jobId_).bind(2, command).bind(3, options).bind(4, me.pid).bind(5, me.startTicks).bind(6, me.bootId);
    q.bind(7, now()).run();
    tx.commit();
    owner_ = true;
}

JobLease::~JobLease() {
    if (!owner_) return;
    try {
        Transaction tx(catalogue_);
        Statement q(catalogue_, "DELETE FROM journal WHERE job_id = ?1 AND pid = ?2 AND process_start = ?3");
        q.bind(1, jobId_).bind(2, ProcessId::self().pid).bind(3, ProcessId::self().startTicks).run();
        tx.commit();
    } catch (...) {
        // The row names this process: once it has ended, the lease is free.
    }
}

void JobLease::setStep(const std::string& step) {
    Transaction tx(catalogue_);
    Statement q(catalogue_, "UPDATE journal SET step = ?2 WHERE job_id = ?1 AND pid = ?3 AND process_start = ?4");
    q.bind(1, jobId_).bind(2, step).bind(3, ProcessId::self().pid).bind(4, ProcessId::self().startTicks).run();
    tx.commit();
}

void JobLease::setCommand(const std::string& command, const std::string& options) {
    Transaction tx(catalogue_);
    Statement q(catalogue_,
                "UPDATE journal SET command = ?2, options = ?3 WHERE job_id = ?1 AND pid = ?4 AND process_start = ?5");
    q.bind(1, jobId_).bind(2, command).bind(3, options).bind(4, ProcessId::self().pid);
    q.bind(5, ProcessId::self().startTicks).run();
    tx.commit();
}

bool stepInterrupted(Catalogue& catalogue, const JobEntry& job) {
    if (job.stepState != "running") return false;
    auto held = leaseOf(catalogue, job.id);
    return !held || !held->process.alive();
}

RecordEntry forCatalogue(RecordEntry record, int stored) {
    if (record.status == ZQSO::SNAP_STATUS_MAP_NOT_DETERMINED) record.status = stored;
    return record;
}

void rememberCopyOf(Catalogue& catalogue, int engineId, int controlHostId, const RecordEntry& r) {
    KnownCopies copies(catalogue);
    copies.forgetRecord(r.id);
    auto uniqueId = r.metadata.find(ZQSO::SM_MDT_UNIQUE_ID);
    if (!copyGone(r.status) && uniqueId != r.metadata.end() && !uniqueId->second.empty())
        copies.remember(engineId, controlHostId, uniqueId->second, r.id);
}

void RecordJournal::write(const RecordEntry& record, int stored) {
    const RecordEntry kept = forCatalogue(record, stored);
    std::lock_guard<std::mutex> lock(catalogue_.writeMutex());
    Transaction tx(catalogue_);
    Jobs(catalogue_).writeRecord(kept);
    rememberCopyOf(catalogue_, engineId_, controlHostId_, kept);
    tx.commit();
}

}  // namespace svcsnap
