// The host agent's catalogue: one SQLite file holding the arrays, the jobs
// with their records (metadata and log lines), the step journal, and the
// copies known per engine id and control host. The file holds the arrays'
// passwords: it is created with mode 0600, and an existing one with wider
// permissions is made 0600 (or refused). It runs in WAL mode with foreign
// keys on, and is brought to the current schema version by numbered
// migrations when it is opened. Each catalogue has a short random tag of
// its own, which the snap names of its jobs carry.
//
// Every change a command makes in one step happens inside one Transaction:
// a failure (or a killed process) leaves the catalogue as it was before.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace svcsnap {

struct CatalogueError : std::runtime_error {
    using std::runtime_error::runtime_error;
};
// The file is not an SQLite database, or SQLite found it damaged.
struct CatalogueCorrupt : CatalogueError {
    using CatalogueError::CatalogueError;
};

class Statement;

class Catalogue {
public:
    static constexpr int kSchemaVersion = 3;
    static constexpr size_t kTagLength = 4;

    // Opens the catalogue file, creating it when needed, and its directory
    // too with `createDirectory` (else a missing directory is an error).
    explicit Catalogue(const std::string& path, bool createDirectory = true);
    ~Catalogue();
    Catalogue(const Catalogue&) = delete;
    Catalogue& operator=(const Catalogue&) = delete;

    const std::string& path() const { return path_; }
    int schemaVersion();
    // Runs SQL without results (several statements allowed).
    void exec(const std::string& sql);
    sqlite3* handle() { return db_; }
    int64_t lastInsertId() const;
    int changes() const;
    // The catalogue's tag: kTagLength lower-case letters and digits.
    const std::string& tag() const { return tag_; }
    // Held by writers from several threads of one step (one connection
    // takes one transaction at a time).
    std::mutex& writeMutex() { return writeMutex_; }

    // Called at named points inside the stores' multi-row writes; a test
    // makes it throw to fail a step half-way.
    using FaultHook = std::function<void(const std::string& point)>;
    void setFaultHook(FaultHook hook) { faultHook_ = std::move(hook); }
    void faultPoint(const std::string& point) {
        if (faultHook_) faultHook_(point);
    }

private:
    void migrate();

    std::string path_;
    sqlite3* db_ = nullptr;
    FaultHook faultHook_;
    std::string tag_;
    std::mutex writeMutex_;
};

// BEGIN IMMEDIATE ... COMMIT; rolled back unless committed.
class Transaction {
public:
    explicit Transaction(Catalogue& catalogue);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    void commit();

private:
    Catalogue& catalogue_;
    bool done_ = false;
};

// A prepared statement with positional parameters (1-based) and typed columns.
class Statement {
public:
    Statement(Catalogue& catalogue, const std::string& sql);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& bind(int index, const std::string& value);
    Statement& bind(int index, int64_t value);
    Statement& bind(int index, int value) { return bind(index, int64_t(value)); }
    Statement& bind(int index, const std::optional<std::string>& value);
    Statement& bindNull(int index);
    // True while a row is there.
    bool step();
    // Runs a statement that returns no rows.
    void run();
    void reset();

    std::string text(int column) const;
    int64_t integer(int column) const;
    bool isNull(int column) const;

private:
    sqlite3* db_;
    sqlite3_stmt* stmt_ = nullptr;
    std::string sql_;
};

}  // namespace svcsnap
