#include "Jobs.h"

#include <chrono>
#include <cstdlib>
#include <ctime>

namespace svcsnap {

std::vector<std::string> uniqueIdFields(const RecordEntry& r) {
    std::vector<std::string> fields;
    auto id = r.metadata.find(1);
    if (id == r.metadata.end() || id->second.empty()) return fields;
    for (size_t at = 0;;) {
        const size_t star = id->second.find('*', at);
        fields.push_back(id->second.substr(at, star == std::string::npos ? std::string::npos : star - at));
        if (star == std::string::npos) break;
        at = star + 1;
    }
    return fields;
}

CopyIdentity copyIdentity(const RecordEntry& r) {
    CopyIdentity c;
    const std::vector<std::string> f = uniqueIdFields(r);
    if (f.size() < 8) return c;
    c.arrayId = f[0];
    c.copyType = f[1] == "5" ? "clone" : f[1] == "4" ? "snapshot" : f[1];
    c.sourceUid = f[3];
    c.sourcePath = f[4];
    c.targetUid = f[6];
    c.targetPath = f[7];
    return c;
}

namespace {

const char* kJobColumns =
    "id, name, kind, use_group, label, label_only, pool, incremental, smart_clone, copy_rate, clean_rate, proxy, "
    "by_uid, engine_id, control_host_id, state, step, step_state, step_result, created_at, updated_at";

std::optional<int> optionalInt(const Statement& q, int column) {
    if (q.isNull(column)) return std::nullopt;
    return int(q.integer(column));
}

JobEntry jobOf(const Statement& q) {
    JobEntry j;
    j.id = q.integer(0);
    j.name = q.text(1);
    j.options.kind = q.text(2);
    j.options.useGroup = q.integer(3) != 0;
    j.options.label = q.text(4);
    j.options.labelOnly = q.integer(5) != 0;
    j.options.pool = q.text(6);
    j.options.incremental = q.integer(7) != 0;
    j.options.smartClone = q.integer(8) != 0;
    j.options.copyRate = optionalInt(q, 9);
    j.options.cleanRate = optionalInt(q, 10);
    j.options.proxy = q.text(11);
    j.options.byUid = q.integer(12) != 0;
    j.engineId = int(q.integer(13));
    j.controlHostId = int(q.integer(14));
    j.state = q.text(15);
    j.step = q.text(16);
    j.stepState = q.text(17);
    j.stepResult = optionalInt(q, 18);
    j.createdAt = q.integer(19);
    j.updatedAt = q.integer(20);
    return j;
}

void bindOptional(Statement& q, int index, const std::optional<int>& value) {
    if (value)
        q.bind(index, *value);
    else
        q.bindNull(index);
}

int64_t now() { return int64_t(std::time(nullptr)); }

int64_t nowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

}  // namespace

JobEntry Jobs::create(const std::string& name, const JobOptions& o, int engineId, int controlHostId,
                      const std::vector<std::string>& devices, const std::string& arrayId) {
    Transaction tx(db_);
    Statement q(db_,
                "INSERT INTO jobs (name, kind, use_group, label, label_only, pool, incremental, smart_clone, "
                "copy_rate, clean_rate, proxy, by_uid, engine_id, control_host_id, created_at, updated_at) "
                "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, ?15)");
    q.bind(1, name).bind(2, o.kind).bind(3, o.useGroup ? 1 : 0).bind(4, o.label).bind(5, o.labelOnly ? 1 : 0);
    q.bind(6, o.pool).bind(7, o.incremental ? 1 : 0).bind(8, o.smartClone ? 1 : 0);
    bindOptional(q, 9, o.copyRate);
    bindOptional(q, 10, o.cleanRate);
    q.bind(11, o.proxy).bind(12, o.byUid ? 1 : 0).bind(13, engineId).bind(14, controlHostId).bind(15, now());
    q.run();
    int64_t jobId = db_.lastInsertId();
    Statement r(db_, "INSERT INTO records (job_id, position, device, array_id, snap_name) VALUES (?1, ?2, ?3, ?4, ?5)");
    for (size_t i = 0; i < devices.size(); ++i) {
        db_.faultPoint("create-record");
        r.reset();
        r.bind(1, jobId).bind(2, int(i)).bind(3, devices[i]).bind(4, arrayId);
        r.bind(5, name + "_" + db_.tag() + "_" + std::to_string(i + 1)).run();
    }
    tx.commit();
    return *find(std::to_string(jobId));
}

std::optional<JobEntry> Jobs::find(const std::string& nameOrId) {
    Statement byName(db_, std::string("SELECT ") + kJobColumns + " FROM jobs WHERE name = ?1");
    byName.bind(1, nameOrId);
    if (byName.step()) return jobOf(byName);
    char* end = nullptr;
    long long id = std::strtoll(nameOrId.c_str(), &end, 10);
    if (nameOrId.empty() || *end != '\0') return std::nullopt;
    Statement byId(db_, std::string("SELECT ") + kJobColumns + " FROM jobs WHERE id = ?1");
    byId.bind(1, int64_t(id));
    if (byId.step()) return jobOf(byId);
    return std::nullopt;
}

std::vector<JobEntry> Jobs::list() {
    Statement q(db_, std::string("SELECT ") + kJobColumns + " FROM jobs ORDER BY id");
    std::vector<JobEntry> out;
    while (q.step()) out.push_back(jobOf(q));
    return out;
}

std::vector<RecordEntry> Jobs::records(int64_t jobId) {
    Statement q(db_,
                "SELECT id, job_id, position, device, status, error_code, error_text, snap_device_path, array_id, "
                "lun_uid, flags, snap_name FROM records WHERE job_id = ?1 ORDER BY position");
    q.bind(1, jobId);
    std::vector<RecordEntry> out;
    while (q.step()) {
        RecordEntry r;
        r.id = q.integer(0);
        r.jobId = q.integer(1);
        r.position = int(q.integer(2));
        r.device = q.text(3);
        r.status = int(q.integer(4));
        r.errorCode = uint32_t(q.integer(5));
        r.errorText = q.text(6);
        r.snapDevicePath = q.text(7);
        r.arrayId = q.text(8);
        r.lunUid = q.text(9);
        r.flags = uint32_t(q.integer(10));
        r.snapName = q.text(11);
        out.push_back(std::move(r));
    }
    Statement m(db_, "SELECT meta_id, value FROM record_metadata WHERE record_id = ?1");
    for (auto& r : out) {
        m.reset();
        m.bind(1, r.id);
        while (m.step()) r.metadata[int(m.integer(0))] = m.text(1);
    }
    return out;
}

std::vector<LogEntry> Jobs::logLines(int64_t recordId) {
    Statement q(db_, "SELECT at_ms, level, function, text FROM record_log WHERE record_id = ?1 ORDER BY id");
    q.bind(1, recordId);
    std::vector<LogEntry> out;
    while (q.step()) out.push_back({q.integer(0), int(q.integer(1)), q.text(2), q.text(3)});
    return out;
}

std::map<int, int> Jobs::statusCounts(int64_t jobId) {
    Statement q(db_, "SELECT status, count(*) FROM records WHERE job_id = ?1 GROUP BY status");
    q.bind(1, jobId);
    std::map<int, int> out;
    while (q.step()) out[int(q.integer(0))] = int(q.integer(1));
    return out;
}

void Jobs::beginStep(int64_t jobId, const std::string& step) {
    Transaction tx(db_);
    Statement q(db_,
                "UPDATE jobs SET step = ?2, step_state = 'running', step_result = NULL, updated_at = ?3 "
                "WHERE id = ?1");
    q.bind(1, jobId).bind(2, step).bind(3, now()).run();
    Statement row(db_, "INSERT INTO steps (job_id, step, started_ms) VALUES (?1, ?2, ?3)");
    row.bind(1, jobId).bind(2, step).bind(3, nowMs()).run();
    tx.commit();
}

void Jobs::setState(int64_t jobId, const std::string& state) {
    Transaction tx(db_);
    Statement q(db_, "UPDATE jobs SET state = ?2, updated_at = ?3 WHERE id = ?1");
    q.bind(1, jobId).bind(2, state).bind(3, now()).run();
    tx.commit();
}

void Jobs::writeRecord(const RecordEntry& r) {
    Statement q(db_,
                "UPDATE records SET status = ?2, error_code = ?3, error_text = ?4, snap_device_path = ?5, "
                "array_id = ?6, lun_uid = ?7, flags = ?8 WHERE id = ?1");
    q.bind(1, r.id).bind(2, r.status).bind(3, int64_t(r.errorCode)).bind(4, r.errorText).bind(5, r.snapDevicePath);
    q.bind(6, r.arrayId).bind(7, r.lunUid).bind(8, int64_t(r.flags)).run();
    Statement clear(db_, "DELETE FROM record_metadata WHERE record_id = ?1");
    clear.bind(1, r.id).run();
    Statement meta(db_, "INSERT INTO record_metadata (record_id, meta_id, value) VALUES (?1, ?2, ?3)");
    for (const auto& [id, value] : r.metadata) {
        meta.reset();
        meta.bind(1, r.id).bind(2, id).bind(3, value).run();
    }
    // A line belongs to the job's step that runs (its last).
    Statement line(db_,
                   "INSERT INTO record_log (record_id, at_ms, level, function, text, step_id) VALUES (?1, ?2, ?3, ?4, "
                   "?5, (SELECT max(s.id) FROM steps s JOIN records r ON r.job_id = s.job_id WHERE r.id = ?1))");
    for (const auto& l : r.newLines) {
        line.reset();
        line.bind(1, r.id).bind(2, l.atMs).bind(3, l.level).bind(4, l.function).bind(5, l.text).run();
    }
}

void Jobs::finishStep(int64_t jobId, const std::string& step, int result, const std::string& newState,
                      const std::vector<RecordEntry>& records, const std::function<void()>& alsoInside) {
    Transaction tx(db_);
    for (const auto& r : records) {
        db_.faultPoint("write-record");
        writeRecord(r);
    }
    if (alsoInside) alsoInside();
    Statement q(db_,
                "UPDATE jobs SET state = ?2, step = ?3, step_state = 'done', step_result = ?4, updated_at = ?5 "
                "WHERE id = ?1");
    q.bind(1, jobId).bind(2, newState).bind(3, step).bind(4, result).bind(5, now()).run();
    Statement last(db_, "SELECT max(id) FROM steps WHERE job_id = ?1");
    last.bind(1, jobId);
    if (last.step() && !last.isNull(0)) {
        const int64_t stepId = last.integer(0);
        Statement row(db_, "UPDATE steps SET state = 'done', result = ?2, job_state = ?3, ended_ms = ?4 WHERE id = ?1");
        row.bind(1, stepId).bind(2, result).bind(3, newState).bind(4, nowMs()).run();
        Statement outcome(db_,
                          "INSERT OR REPLACE INTO step_records (step_id, record_id, status, error_code, error_text) "
                          "VALUES (?1, ?2, ?3, ?4, ?5)");
        for (const auto& r : records) {
            outcome.reset();
            outcome.bind(1, stepId).bind(2, r.id).bind(3, r.status).bind(4, int64_t(r.errorCode)).bind(5, r.errorText);
            outcome.run();
        }
    }
    tx.commit();
}

void Jobs::failStep(int64_t jobId, const std::string& step) {
    Transaction tx(db_);
    Statement q(db_, "UPDATE jobs SET step = ?2, step_state = 'failed', updated_at = ?3 WHERE id = ?1");
    q.bind(1, jobId).bind(2, step).bind(3, now()).run();
    Statement row(db_,
                  "UPDATE steps SET state = 'failed', ended_ms = ?2 WHERE id = (SELECT max(id) FROM steps WHERE "
                  "job_id = ?1) AND state = 'running'");
    row.bind(1, jobId).bind(2, nowMs()).run();
    tx.commit();
}

std::vector<StepEntry> Jobs::history(int64_t jobId) {
    std::vector<StepEntry> out;
    Statement q(db_,
                "SELECT id, step, state, result, job_state, started_ms, ended_ms FROM steps WHERE job_id = ?1 "
                "ORDER BY id");
    q.bind(1, jobId);
    while (q.step()) {
        StepEntry s;
        s.id = q.integer(0);
        s.step = q.text(1);
        s.state = q.text(2);
        if (!q.isNull(3)) s.result = int(q.integer(3));
        s.jobState = q.text(4);
        s.startedMs = q.integer(5);
        s.endedMs = q.isNull(6) ? 0 : q.integer(6);
        out.push_back(std::move(s));
    }
    Statement r(db_,
                "SELECT o.record_id, r.device, o.status, o.error_code, o.error_text FROM step_records o "
                "JOIN records r ON r.id = o.record_id WHERE o.step_id = ?1 ORDER BY r.position");
    for (auto& s : out) {
        r.reset();
        r.bind(1, s.id);
        while (r.step())
            s.records.push_back({r.integer(0), r.text(1), int(r.integer(2)), uint32_t(r.integer(3)), r.text(4)});
    }
    return out;
}

void Jobs::pruneLog(int64_t jobId, size_t keepSteps) {
    Statement q(db_,
                "DELETE FROM record_log WHERE record_id IN (SELECT id FROM records WHERE job_id = ?1) AND "
                "(SELECT count(*) FROM steps WHERE job_id = ?1) >= ?2 AND (step_id IS NULL OR step_id < "
                "(SELECT min(id) FROM (SELECT id FROM steps WHERE job_id = ?1 ORDER BY id DESC LIMIT ?2)))");
    q.bind(1, jobId).bind(2, int64_t(keepSteps)).run();
}

bool Jobs::remove(int64_t jobId) {
    Transaction tx(db_);
    Statement q(db_, "DELETE FROM jobs WHERE id = ?1");
    q.bind(1, jobId).run();
    bool removed = db_.changes() > 0;
    tx.commit();
    return removed;
}

}  // namespace svcsnap
