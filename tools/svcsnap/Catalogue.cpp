#include "Catalogue.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iomanip>
#include <random>
#include <sstream>

namespace svcsnap {

namespace {

// Each entry takes the schema from version i to i + 1.
const char* const kMigrations[] = {
    R"SQL(
    CREATE TABLE arrays (
        id          INTEGER PRIMARY KEY,
        array_id    TEXT NOT NULL UNIQUE,      -- cluster id, "0000" + 12 characters
        address     TEXT NOT NULL,             -- provider host name or address
        port        INTEGER NOT NULL CHECK (port BETWEEN 1 AND 65535),
        https       INTEGER NOT NULL CHECK (https IN (0, 1)),
        user        TEXT NOT NULL,
        password    TEXT NOT NULL,
        name        TEXT NOT NULL DEFAULT '',  -- the cluster's own name, when known
        added_at    INTEGER NOT NULL
    );
    CREATE TABLE jobs (
        id                INTEGER PRIMARY KEY,
        name              TEXT NOT NULL UNIQUE,
        kind              TEXT NOT NULL CHECK (kind IN ('snapshot', 'clone')),
        use_group         INTEGER NOT NULL DEFAULT 0,
        label             TEXT NOT NULL DEFAULT '',
        label_only        INTEGER NOT NULL DEFAULT 0,
        pool              TEXT NOT NULL DEFAULT '',
        incremental       INTEGER NOT NULL DEFAULT 0,
        smart_clone       INTEGER NOT NULL DEFAULT 0,
        copy_rate         INTEGER,
        clean_rate        INTEGER,
        proxy             TEXT NOT NULL DEFAULT '',
        by_uid            INTEGER NOT NULL DEFAULT 0,
        engine_id         INTEGER NOT NULL,
        control_host_id   INTEGER NOT NULL,
        state             TEXT NOT NULL DEFAULT 'new',
        step              TEXT NOT NULL DEFAULT '',
        step_state        TEXT NOT NULL DEFAULT '',   -- running, done or failed
        step_result       INTEGER,
        created_at        INTEGER NOT NULL,
        updated_at        INTEGER NOT NULL
    );
    CREATE TABLE records (
        id               INTEGER PRIMARY KEY,
        job_id           INTEGER NOT NULL REFERENCES jobs(id) ON DELETE CASCADE,
        position         INTEGER NOT NULL,
        device           TEXT NOT NULL,
        status           INTEGER NOT NULL DEFAULT 0,
        error_code       INTEGER NOT NULL DEFAULT 0,
        error_text       TEXT NOT NULL DEFAULT '',
        snap_device_path TEXT NOT NULL DEFAULT '',
        array_id         TEXT NOT NULL DEFAULT '',
        lun_uid          TEXT NOT NULL DEFAULT '',
        flags            INTEGER NOT NULL DEFAULT 0,
        UNIQUE (job_id, position),
        UNIQUE (job_id, device)
    );
    CREATE TABLE record_metadata (
        record_id  INTEGER NOT NULL REFERENCES records(id) ON DELETE CASCADE,
        meta_id    INTEGER NOT NULL,
        value      TEXT NOT NULL,
        PRIMARY KEY (record_id, meta_id)
    );
    CREATE TABLE record_log (
        id         INTEGER PRIMARY KEY,
        record_id  INTEGER NOT NULL REFERENCES records(id) ON DELETE CASCADE,
        at_ms      INTEGER NOT NULL,
        level      INTEGER NOT NULL,
        function   TEXT NOT NULL DEFAULT '',
        text       TEXT NOT NULL
    );
    CREATE INDEX record_log_by_record ON record_log(record_id, id);
    CREATE TABLE known_copies (
        id               INTEGER PRIMARY KEY,
        engine_id        INTEGER NOT NULL,
        control_host_id  INTEGER NOT NULL,
        meta_type        INTEGER NOT NULL DEFAULT 1,
        value            TEXT NOT NULL,
        record_id        INTEGER REFERENCES records(id) ON DELETE SET NULL,
        UNIQUE (engine_id, control_host_id, meta_type, value)
    );
    )SQL",
    // The catalogue's own values (its tag), each record's snap name (jobs
    // made before keep the names they had), and the step journal.
    R"SQL(
    CREATE TABLE catalogue_info (
        key    TEXT PRIMARY KEY,
        value  TEXT NOT NULL
    );
    ALTER TABLE records ADD COLUMN snap_name TEXT NOT NULL DEFAULT '';
    UPDATE records SET snap_name = (SELECT name FROM jobs WHERE jobs.id = records.job_id) || '_' || (position + 1);
    CREATE TABLE journal (
        job_id         INTEGER PRIMARY KEY REFERENCES jobs(id) ON DELETE CASCADE,
        command        TEXT NOT NULL,
        options        TEXT NOT NULL DEFAULT '',
        step           TEXT NOT NULL DEFAULT '',
        pid            INTEGER NOT NULL,
        process_start  INTEGER NOT NULL,     -- clock ticks after boot
        boot_id        TEXT NOT NULL,
        started_at     INTEGER NOT NULL
    );
    )SQL",
    // The history of each job's steps, kept when the records change again:
    // each step with its outcome per record; the log lines name their step,
    // so that only the last steps' lines need be kept.
    R"SQL(
    CREATE TABLE steps (
        id          INTEGER PRIMARY KEY,
        job_id      INTEGER NOT NULL REFERENCES jobs(id) ON DELETE CASCADE,
        step        TEXT NOT NULL,
        state       TEXT NOT NULL DEFAULT 'running',  -- running, done or failed
        result      INTEGER,
        job_state   TEXT NOT NULL DEFAULT '',         -- the job's state after it
        started_ms  INTEGER NOT NULL,
        ended_ms    INTEGER
    );
    CREATE INDEX steps_by_job ON steps(job_id, id);
    CREATE TABLE step_records (
        step_id     INTEGER NOT NULL REFERENCES steps(id) ON DELETE CASCADE,
        record_id   INTEGER NOT NULL REFERENCES records(id) ON DELETE CASCADE,
        status      INTEGER NOT NULL,
        error_code  INTEGER NOT NULL DEFAULT 0,
        error_text  TEXT NOT NULL DEFAULT '',
        PRIMARY KEY (step_id, record_id)
    );
    ALTER TABLE record_log ADD COLUMN step_id INTEGER;
    )SQL",
};

[[noreturn]] void fail(int rc, const std::string& message) {
    const int primary = rc & 0xff;
    if (primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB) throw CatalogueCorrupt(message);
    throw CatalogueError(message);
}

std::string newTag() {
    static const char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device random;
    std::uniform_int_distribution<size_t> pick(0, sizeof(kAlphabet) - 2);
    std::string tag;
    for (size_t i = 0; i < Catalogue::kTagLength; ++i) tag += kAlphabet[pick(random)];
    return tag;
}

// An open file, closed when it goes.
struct OpenFile {
    explicit OpenFile(int fd) : fd(fd) {}
    ~OpenFile() {
        if (fd >= 0) ::close(fd);
    }
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;
    int fd;
};

// The file holds passwords: no one but its owner may read it. Made here,
// not by SQLite, so that it never exists with wider permissions; one that
// exists with them is made private. `create` false: a file that is not
// there is left so.
void keepPrivate(const std::string& path, bool create) {
    OpenFile file(::open(path.c_str(), O_RDWR | O_CLOEXEC | (create ? O_CREAT : O_NOFOLLOW), 0600));
    if (file.fd < 0) {
        if (!create && errno == ENOENT) return;
        throw CatalogueError("cannot open the catalogue " + path + ": " + std::strerror(errno));
    }
    struct stat st {};
    if (::fstat(file.fd, &st) != 0)
        throw CatalogueError("cannot read the mode of " + path + ": " + std::strerror(errno));
    if (!S_ISREG(st.st_mode)) throw CatalogueError(path + " is not a regular file");
    if ((st.st_mode & 077) == 0) return;
    if (::fchmod(file.fd, st.st_mode & 0700) != 0) {
        const int error = errno;
        std::ostringstream mode;
        mode << std::oct << std::setw(4) << std::setfill('0') << (st.st_mode & 07777);
        throw CatalogueError(path + " may be read by others (mode " + mode.str() + ") and cannot be made 0600: " +
                             std::strerror(error));
    }
}

void check(sqlite3* db, int rc, const std::string& what) {
    if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW)
        fail(rc, what + ": " + (db ? sqlite3_errmsg(db) : sqlite3_errstr(rc)));
}

}  // namespace

Catalogue::Catalogue(const std::string& path, bool createDirectory) : path_(path) {
    std::filesystem::path file(path);
    std::error_code ec;
    const std::filesystem::path directory = file.has_parent_path() ? file.parent_path() : ".";
    if (createDirectory) {
        std::filesystem::create_directories(directory, ec);
        if (ec) throw CatalogueError("cannot create the directory of the catalogue " + path + ": " + ec.message());
    } else if (!std::filesystem::is_directory(directory, ec)) {
        throw CatalogueError("the directory of the catalogue " + path + " does not exist");
    }
    keepPrivate(path, true);
    // SQLite gives the WAL and shared-memory files the mode of the database
    // file; ones left by an earlier open keep theirs.
    keepPrivate(path + "-wal", false);
    keepPrivate(path + "-shm", false);
    int rc = sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        std::string message = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
        sqlite3_close(db_);
        db_ = nullptr;
        throw CatalogueError("cannot open the catalogue " + path + ": " + message);
    }
    try {
        sqlite3_busy_timeout(db_, 10000);
        exec("PRAGMA journal_mode = WAL; PRAGMA foreign_keys = ON; PRAGMA synchronous = NORMAL;");
        migrate();
    } catch (...) {
        sqlite3_close_v2(db_);
        db_ = nullptr;
        throw;
    }
}

Catalogue::~Catalogue() {
    if (db_) sqlite3_close_v2(db_);
}

void Catalogue::exec(const std::string& sql) {
    char* error = nullptr;
    int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error);
    if (rc != SQLITE_OK) {
        std::string message = error ? error : sqlite3_errstr(rc);
        sqlite3_free(error);
        fail(rc, "the catalogue " + path_ + ": " + message);
    }
}

int Catalogue::schemaVersion() {
    Statement q(*this, "PRAGMA user_version");
    return q.step() ? int(q.integer(0)) : 0;
}

void Catalogue::migrate() {
    const int known = int(sizeof(kMigrations) / sizeof(kMigrations[0]));
    Transaction tx(*this);
    int version = schemaVersion();
    if (version > known)
        throw CatalogueError("the catalogue " + path_ + " has schema version " + std::to_string(version) +
                             ", newer than this svcsnap knows (" + std::to_string(known) + ")");
    for (; version < known; ++version) {
        exec(kMigrations[version]);
        exec("PRAGMA user_version = " + std::to_string(version + 1));
    }
    Statement make(*this, "INSERT OR IGNORE INTO catalogue_info (key, value) VALUES ('tag', ?1)");
    make.bind(1, newTag()).run();
    Statement read(*this, "SELECT value FROM catalogue_info WHERE key = 'tag'");
    if (read.step()) tag_ = read.text(0);
    tx.commit();
}

int64_t Catalogue::lastInsertId() const { return sqlite3_last_insert_rowid(db_); }

int Catalogue::changes() const { return sqlite3_changes(db_); }

Transaction::Transaction(Catalogue& catalogue) : catalogue_(catalogue) { catalogue_.exec("BEGIN IMMEDIATE"); }

Transaction::~Transaction() {
    if (!done_) {
        try {
            catalogue_.exec("ROLLBACK");
        } catch (...) {
            // Nothing more can be done; SQLite rolls back on close.
        }
    }
}

void Transaction::commit() {
    catalogue_.exec("COMMIT");
    done_ = true;
}

Statement::Statement(Catalogue& catalogue, const std::string& sql) : db_(catalogue.handle()), sql_(sql) {
    check(db_, sqlite3_prepare_v2(db_, sql.c_str(), int(sql.size()), &stmt_, nullptr), "catalogue");
}

Statement::~Statement() { sqlite3_finalize(stmt_); }

Statement& Statement::bind(int index, const std::string& value) {
    check(db_, sqlite3_bind_text(stmt_, index, value.data(), int(value.size()), SQLITE_TRANSIENT), "catalogue");
    return *this;
}

Statement& Statement::bind(int index, int64_t value) {
    check(db_, sqlite3_bind_int64(stmt_, index, value), "catalogue");
    return *this;
}

Statement& Statement::bind(int index, const std::optional<std::string>& value) {
    return value ? bind(index, *value) : bindNull(index);
}

Statement& Statement::bindNull(int index) {
    check(db_, sqlite3_bind_null(stmt_, index), "catalogue");
    return *this;
}

bool Statement::step() {
    int rc = sqlite3_step(stmt_);
    check(db_, rc, "catalogue");
    return rc == SQLITE_ROW;
}

void Statement::run() {
    while (step()) {
    }
}

void Statement::reset() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
}

std::string Statement::text(int column) const {
    const unsigned char* p = sqlite3_column_text(stmt_, column);
    return p ? std::string(reinterpret_cast<const char*>(p), size_t(sqlite3_column_bytes(stmt_, column)))
             : std::string();
}

int64_t Statement::integer(int column) const { return sqlite3_column_int64(stmt_, column); }

bool Statement::isNull(int column) const { return sqlite3_column_type(stmt_, column) == SQLITE_NULL; }

}  // namespace svcsnap
