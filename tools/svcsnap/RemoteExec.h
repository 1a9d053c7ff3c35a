// Remote execution: the engine asks the host to run the first record's
// request on a proxy host. The agent runs a command (by default this binary
// as a subprocess posing as the proxy: "svcsnap proxy-exec --as-host HOST";
// in production for example "ssh {host} svcsnap proxy-exec --as-host
// {host}") with the batch (the job's options and its records) as JSON on
// standard input, and reads the records back as JSON from its standard
// output. Passwords never travel: the proxy uses its own catalogue's arrays.
#pragma once

#include <chrono>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "Jobs.h"

namespace svcsnap {

struct RemoteError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// What a proxy receives: the job (its name, ids and options) and the records.
struct RemoteBatch {
    JobEntry job;
    std::vector<RecordEntry> records;
};

// The batch message (protocol 1). The records' log lines are not sent.
nlohmann::json batchToJson(const JobEntry& job, const std::vector<RecordEntry>& records);
// Raises std::invalid_argument naming what is wrong.
RemoteBatch batchFromJson(const nlohmann::json& j);

// The proxy's answer: the engine's result and the records with the lines
// logged there.
nlohmann::json answerToJson(int result, const std::vector<RecordEntry>& records);
// Raises std::invalid_argument; the records must be the ones sent, in order.
std::vector<RecordEntry> answerFromJson(const nlohmann::json& j, const std::vector<RecordEntry>& sent, int* result);

// Runs `args` (the program, looked up on PATH, and its arguments; no shell)
// with `input` on its standard input and returns its standard output.
// RemoteError when it cannot be started, fails, or outlives `timeout` (it is
// then killed); `what` names the command in the message.
std::string runCommand(const std::vector<std::string>& args, const std::string& input,
                       std::chrono::milliseconds timeout, const std::string& what);

class RemoteExecutor {
public:
    // `command`: the program and its arguments; "{host}" in any of them
    // becomes the proxy's name. No shell is involved.
    RemoteExecutor(std::vector<std::string> command, std::chrono::milliseconds timeout);

    // Splits a configured command line at blanks.
    static std::vector<std::string> split(const std::string& commandLine);
    // A proxy name that may be put on a command line: letters, digits, ".",
    // "-" and "_", not starting with "-".
    static bool validHostName(const std::string& host);

    const std::vector<std::string>& command() const { return command_; }
    // Runs the command for `host` with `input` on its standard input and
    // returns its standard output; RemoteError when it cannot be started,
    // fails, or outlives the time-out (it is then killed).
    std::string run(const std::string& host, const std::string& input) const;

private:
    std::vector<std::string> command_;
    std::chrono::milliseconds timeout_;
};

}  // namespace svcsnap
