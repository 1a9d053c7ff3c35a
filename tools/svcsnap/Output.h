// One model of a command's result, shown as human text and tables by default,
// as one JSON document with --json, or as the tables' rows alone with their
// cells joined by a separator (--terse). Exit statuses: 0 every record (or
// the command) succeeded, 2 some records did, 1 none did or the command
// failed, 64 a usage error, and the sysexits codes below for what a script
// must tell apart; a failing status comes with a one-line reason on standard
// error.
#pragma once

#include <nlohmann/json.hpp>

#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace svcsnap {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitPartial = 2;
constexpr int kExitUsage = 64;        // EX_USAGE
constexpr int kExitDataErr = 65;      // EX_DATAERR: the catalogue is corrupt
constexpr int kExitNoInput = 66;      // EX_NOINPUT: unknown job or file
constexpr int kExitUnavailable = 69;  // EX_UNAVAILABLE: the provider cannot be reached
constexpr int kExitTempFail = 75;     // EX_TEMPFAIL: the job is busy with another step
constexpr int kExitNoPerm = 77;       // EX_NOPERM: the provider refused the credentials
constexpr int kExitConfig = 78;       // EX_CONFIG: configuration error
constexpr int kExitSigInt = 130;      // interrupted by SIGINT
constexpr int kExitSigTerm = 143;     // interrupted by SIGTERM

// A command line that cannot be carried out as written.
struct UsageError : std::invalid_argument {
    using std::invalid_argument::invalid_argument;
};

// A command that failed; the text is the one-line reason.
struct CommandFailed : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A failure a script must tell apart: it carries its own exit status.
struct ExitError : CommandFailed {
    ExitError(int status, const std::string& reason) : CommandFailed(reason), status(status) {}
    int status;
};

struct Table {
    std::vector<std::string> columns;
    std::vector<std::vector<std::string>> rows;
    // With --terse, the first cell of every row (a flow's step, as a
    // command may print the tables of several).
    std::string label = std::string();
};

// Columns padded to their widest cell, headers in upper case.
void printTable(std::ostream& out, const Table& table);
// The rows alone (each after the table's label, when it has one), cells
// joined by `separator`.
void printTerse(std::ostream& out, const Table& table, const std::string& separator);

// Every exit status with what it means, in the order of their numbers.
struct ExitStatusText {
    int status;
    const char* meaning;
};
const std::vector<ExitStatusText>& exitStatusTexts();

// JSON text that never fails: bytes that are not UTF-8 become U+FFFD.
std::string jsonText(const nlohmann::json& value, int indent = -1);

// 0, 2 or 1 from the records that succeeded out of `total`.
int exitForRecords(size_t succeeded, size_t total);

class Output {
public:
    Output(std::string command, bool json, bool quiet);

    const std::string& command() const { return command_; }
    bool json() const { return json_; }
    bool quiet() const { return quiet_; }
    // Tables without their headers, cells joined by `separator`; no other lines.
    void setTerse(std::string separator) { terse_ = std::move(separator); }
    bool terse() const { return !terse_.empty(); }
    // A line on standard error now, and in the JSON document's "warnings".
    void warn(const std::string& text);
    // Human form only.
    void line(const std::string& text);
    void table(const Table& table);
    // The JSON document (always built; printed with --json).
    nlohmann::json& doc() { return doc_; }

    // Human form: prints what was given so far (long commands show their
    // steps as they end). Nothing with --json.
    void flush();
    // Prints the result (standard output) and the reason of a failure
    // (standard error); returns `exitStatus`.
    int finish(int exitStatus, const std::string& reason = std::string());

private:
    std::string command_;
    bool json_;
    bool quiet_;
    std::string terse_;
    std::vector<std::string> lines_;
    std::vector<Table> tables_;
    std::vector<size_t> order_;  // 0 line, 1 table, in the order given
    nlohmann::json doc_ = nlohmann::json::object();
};

}  // namespace svcsnap
