// Fuzzes what svcsnap reads back from its catalogue: rows as a damaged or
// hand-edited file may hold them (any SQLite type in any column, texts with
// zero bytes, numbers out of range) are read as arrays, jobs, records,
// metadata and log lines, and the records are handed to the engine's readers
// through the host record, with buffers of every size. The SCSI pages are
// left out: the host record asks the device the row names for them.
#include <fuzzer/FuzzedDataProvider.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "Arrays.h"
#include "Catalogue.h"
#include "HostOSUtil.h"
#include "HostRecord.h"
#include "IBMSVCUtility.h"
#include "Jobs.h"

using namespace svcsnap;

namespace {

Catalogue& catalogue() {
    static std::unique_ptr<Catalogue> db = [] {
        std::string dir = "/tmp/fuzz_catalogue." + std::to_string(::getpid());
        return std::make_unique<Catalogue>(dir + "/catalogue.db");
    }();
    return *db;
}

// Binds a value of a type the input chooses.
void bindAny(FuzzedDataProvider& in, sqlite3_stmt* stmt, int index) {
    switch (in.ConsumeIntegralInRange<int>(0, 4)) {
        case 0: sqlite3_bind_null(stmt, index); break;
        case 1: sqlite3_bind_int64(stmt, index, in.ConsumeIntegral<int64_t>()); break;
        case 2: sqlite3_bind_double(stmt, index, in.ConsumeFloatingPoint<double>()); break;
        case 3: {
            std::string blob = in.ConsumeRandomLengthString(300);
            sqlite3_bind_blob(stmt, index, blob.data(), int(blob.size()), SQLITE_TRANSIENT);
            break;
        }
        default: {
            std::string text = in.ConsumeRandomLengthString(300);
            sqlite3_bind_text(stmt, index, text.data(), int(text.size()), SQLITE_TRANSIENT);
        }
    }
}

// Inserts one row; small ids keep the rows related. Constraint failures are
// part of the game.
void insertRow(FuzzedDataProvider& in, const char* sql, int columns) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(catalogue().handle(), sql, -1, &stmt, nullptr) != SQLITE_OK) __builtin_trap();
    for (int i = 1; i <= columns; ++i) {
        if (in.ConsumeBool())
            sqlite3_bind_int64(stmt, i, in.ConsumeIntegralInRange<int>(1, 3));
        else
            bindAny(in, stmt, i);
    }
    sqlite3_step(stmt);
    sqlite3_finalize(stmt);
}

// Every reader of a record with a buffer, at the size the input picks.
void readThrough(FuzzedDataProvider& in, HostRecord& record) {
    std::vector<char> buf(in.ConsumeIntegralInRange<size_t>(0, 300) + 1);
    auto len = [&] { return uint16_t(buf.size()); };
    uint16_t n = len();
    record.getSnapName(buf.data(), &n);
    n = len();
    record.getSourceDevicePath(buf.data(), &n);
    n = len();
    record.getSnapDevicePath(buf.data(), &n);
    for (int id : {1, 2, 60, 61, 91}) {
        n = len();
        if (record.getMetaData(id, buf.data(), &n) == 0 && (n >= buf.size() || buf[n] != '\0')) __builtin_trap();
        std::string text;
        record.getMetaDataText(id, text);
        record.getMetaDataString(id, text);
    }
    uint32_t code = 0;
    n = len();
    record.getError(&code, buf.data(), &n);
    n = len();
    record.getArrayInfo(buf.data(), &n);
    (void)ZQSOIBMSVCAPI::getSnapDeviceUUID(&record);
    (void)ZQSOIBMSVCAPI::getStorageArrayId(&record);
    (void)ZQSOIBMSVCAPI::getSnapEngineType(&record);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    Catalogue& db = catalogue();
    db.exec("PRAGMA foreign_keys = OFF; DELETE FROM record_log; DELETE FROM record_metadata; DELETE FROM records; "
            "DELETE FROM known_copies; DELETE FROM jobs; DELETE FROM arrays; PRAGMA ignore_check_constraints = "
            "ON;");
    int rows = in.ConsumeIntegralInRange<int>(1, 12);
    for (int i = 0; i < rows && in.remaining_bytes() > 0; ++i) {
        switch (in.ConsumeIntegralInRange<int>(0, 4)) {
            case 0:
                insertRow(in,
                          "INSERT INTO arrays (id, array_id, address, port, https, user, password, name, added_at) "
                          "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)",
                          9);
                break;
            case 1:
                insertRow(in,
                          "INSERT INTO jobs (id, name, kind, use_group, label, label_only, pool, incremental, "
                          "smart_clone, copy_rate, clean_rate, proxy, by_uid, engine_id, control_host_id, state, "
                          "step, step_state, step_result, created_at, updated_at) VALUES (?1, ?2, ?3, ?4, ?5, ?6, "
                          "?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, ?16, ?17, ?18, ?19, ?20, ?21)",
                          21);
                break;
            case 2:
                insertRow(in,
                          "INSERT INTO records (id, job_id, position, device, status, error_code, error_text, "
                          "snap_device_path, array_id, lun_uid, flags) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, "
                          "?10, ?11)",
                          11);
                break;
            case 3:
                insertRow(in, "INSERT INTO record_metadata (record_id, meta_id, value) VALUES (?1, ?2, ?3)", 3);
                break;
            default:
                insertRow(in,
                          "INSERT INTO record_log (record_id, at_ms, level, function, text) VALUES (?1, ?2, ?3, "
                          "?4, ?5)",
                          5);
        }
    }

    Arrays arrays(db);
    std::vector<ArrayEntry> known = arrays.list();
    for (const auto& a : known) (void)arrays.find(a.arrayId);
    Jobs jobs(db);
    for (const JobEntry& job : jobs.list()) {
        (void)jobs.find(job.name);
        (void)jobs.statusCounts(job.id);
        HostOSUtil host(known, job.engineId, nullptr);
        for (RecordEntry& entry : jobs.records(job.id)) {
            (void)jobs.logLines(entry.id);
            HostRecord record(entry, job, host, recordSettings(job));
            if (!known.empty()) record.selectArray(known.front().arrayId.c_str());
            readThrough(in, record);
            (void)record.entry();
        }
    }
    return 0;
}
