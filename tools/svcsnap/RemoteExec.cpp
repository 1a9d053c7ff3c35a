#include "RemoteExec.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <pthread.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <ctime>
#include <cstring>
#include <sstream>

extern char** environ;

namespace svcsnap {

using nlohmann::json;

namespace {

constexpr int kProtocol = 1;
constexpr size_t kMaxAnswerBytes = 64u << 20;

[[noreturn]] void bad(const std::string& what) { throw std::invalid_argument(what); }

const json& member(const json& j, const char* key, json::value_t type) {
    auto it = j.find(key);
    if (it == j.end()) bad(std::string("'") + key + "' is missing");
    bool fits = it->type() == type ||
                (type == json::value_t::number_integer && it->type() == json::value_t::number_unsigned);
    if (!fits) bad(std::string("'") + key + "' has the wrong type");
    return *it;
}

std::string text(const json& j, const char* key) { return member(j, key, json::value_t::string).get<std::string>(); }
int64_t integer(const json& j, const char* key) { return member(j, key, json::value_t::number_integer).get<int64_t>(); }
bool flag(const json& j, const char* key) { return member(j, key, json::value_t::boolean).get<bool>(); }

std::optional<int> optionalInt(const json& j, const char* key) {
    if (!j.contains(key) || j[key].is_null()) return std::nullopt;
    return int(integer(j, key));
}

json recordToJson(const RecordEntry& r, bool withLines) {
    json meta = json::object();
    for (const auto& [id, value] : r.metadata) meta[std::to_string(id)] = value;
    json j = {{"id", r.id},
              {"position", r.position},
              {"device", r.device},
              {"snapName", r.snapName},
              {"status", r.status},
              {"errorCode", r.errorCode},
              {"errorText", r.errorText},
              {"snapDevicePath", r.snapDevicePath},
              {"arrayId", r.arrayId},
              {"lunUid", r.lunUid},
              {"flags", r.flags},
              {"metadata", meta}};
    if (withLines) {
        json lines = json::array();
        for (const auto& l : r.newLines)
            lines.push_back({{"atMs", l.atMs}, {"level", l.level}, {"function", l.function}, {"text", l.text}});
        j["lines"] = lines;
    }
    return j;
}

RecordEntry recordFromJson(const json& j) {
    if (!j.is_object()) bad("a record must be an object");
    RecordEntry r;
    r.id = integer(j, "id");
    r.position = int(integer(j, "position"));
    r.device = text(j, "device");
    if (j.contains("snapName")) r.snapName = text(j, "snapName");
    r.status = int(integer(j, "status"));
    r.errorCode = uint32_t(integer(j, "errorCode"));
    r.errorText = text(j, "errorText");
    r.snapDevicePath = text(j, "snapDevicePath");
    r.arrayId = text(j, "arrayId");
    r.lunUid = text(j, "lunUid");
    r.flags = uint32_t(integer(j, "flags"));
    for (const auto& [key, value] : member(j, "metadata", json::value_t::object).items()) {
        if (!value.is_string()) bad("metadata " + key + " is not a text");
        char* end = nullptr;
        long id = std::strtol(key.c_str(), &end, 10);
        if (key.empty() || *end != '\0' || id < 0 || id > 65535) bad("metadata id " + key + " is not a number");
        r.metadata[int(id)] = value.get<std::string>();
    }
    if (j.contains("lines"))
        for (const auto& l : member(j, "lines", json::value_t::array)) {
            if (!l.is_object()) bad("a log line must be an object");
            r.newLines.push_back({integer(l, "atMs"), int(integer(l, "level")), text(l, "function"), text(l, "text")});
        }
    return r;
}

}  // namespace

json batchToJson(const JobEntry& job, const std::vector<RecordEntry>& records) {
    const JobOptions& o = job.options;
    json options = {{"kind", o.kind},     {"group", o.useGroup},        {"label", o.label},
                    {"labelOnly", o.labelOnly}, {"pool", o.pool},        {"incremental", o.incremental},
                    {"smartClone", o.smartClone}, {"proxy", o.proxy},    {"byUid", o.byUid},
                    {"copyRate", o.copyRate ? json(*o.copyRate) : json(nullptr)},
                    {"cleanRate", o.cleanRate ? json(*o.cleanRate) : json(nullptr)}};
    json list = json::array();
    for (const auto& r : records) list.push_back(recordToJson(r, false));
    return {{"protocol", kProtocol},
            {"job", {{"id", job.id}, {"name", job.name}, {"engineId", job.engineId},
                     {"controlHostId", job.controlHostId}, {"options", options}}},
            {"records", list}};
}

RemoteBatch batchFromJson(const json& j) {
    if (!j.is_object()) bad("the batch must be an object");
    if (integer(j, "protocol") != kProtocol) bad("protocol " + std::to_string(integer(j, "protocol")) + " is not 1");
    const json& job = member(j, "job", json::value_t::object);
    RemoteBatch b;
    b.job.id = integer(job, "id");
    b.job.name = text(job, "name");
    b.job.engineId = int(integer(job, "engineId"));
    b.job.controlHostId = int(integer(job, "controlHostId"));
    const json& o = member(job, "options", json::value_t::object);
    b.job.options.kind = text(o, "kind");
    b.job.options.useGroup = flag(o, "group");
    b.job.options.label = text(o, "label");
    b.job.options.labelOnly = flag(o, "labelOnly");
    b.job.options.pool = text(o, "pool");
    b.job.options.incremental = flag(o, "incremental");
    b.job.options.smartClone = flag(o, "smartClone");
    b.job.options.proxy = text(o, "proxy");
    b.job.options.byUid = flag(o, "byUid");
    b.job.options.copyRate = optionalInt(o, "copyRate");
    b.job.options.cleanRate = optionalInt(o, "cleanRate");
    for (const auto& r : member(j, "records", json::value_t::array)) b.records.push_back(recordFromJson(r));
    if (b.records.empty()) bad("the batch has no records");
    if (b.records.size() > 32767) bad("the batch has too many records");
    return b;
}

json answerToJson(int result, const std::vector<RecordEntry>& records) {
    json list = json::array();
    for (const auto& r : records) list.push_back(recordToJson(r, true));
    return {{"protocol", kProtocol}, {"result", result}, {"records", list}};
}

std::vector<RecordEntry> answerFromJson(const json& j, const std::vector<RecordEntry>& sent, int* result) {
    if (!j.is_object()) bad("the answer must be an object");
    if (integer(j, "protocol") != kProtocol) bad("the answer is not of protocol 1");
    int r = int(integer(j, "result"));
    std::vector<RecordEntry> records;
    for (const auto& rec : member(j, "records", json::value_t::array)) records.push_back(recordFromJson(rec));
    if (records.size() != sent.size()) bad("the answer holds " + std::to_string(records.size()) + " records, not " +
                                           std::to_string(sent.size()));
    for (size_t i = 0; i < records.size(); ++i)
        if (records[i].id != sent[i].id || records[i].device != sent[i].device)
            bad("record " + std::to_string(i) + " of the answer is not the one sent");
    if (result) *result = r;
    return records;
}

RemoteExecutor::RemoteExecutor(std::vector<std::string> command, std::chrono::milliseconds timeout)
    : command_(std::move(command)), timeout_(timeout) {}

std::vector<std::string> RemoteExecutor::split(const std::string& commandLine) {
    std::vector<std::string> out;
    std::istringstream in(commandLine);
    std::string word;
    while (in >> word) out.push_back(word);
    return out;
}

bool RemoteExecutor::validHostName(const std::string& host) {
    if (host.empty() || host.size() > 253 || host[0] == '-') return false;
    for (unsigned char c : host)
        if (!std::isalnum(c) && c != '.' && c != '-' && c != '_') return false;
    return true;
}

namespace {

// Pipes closed on every path.
struct Fd {
    int fd = -1;
    ~Fd() { reset(); }
    void reset() {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
};

// A command that stops reading its input must not kill the caller: SIGPIPE
// is blocked in this thread while it lives, and a pending one is taken.
class NoSigpipe {
public:
    NoSigpipe() {
        sigemptyset(&pipe_);
        sigaddset(&pipe_, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe_, &old_);
    }
    ~NoSigpipe() {
        timespec zero{0, 0};
        while (sigtimedwait(&pipe_, nullptr, &zero) > 0) {
        }
        pthread_sigmask(SIG_SETMASK, &old_, nullptr);
    }
    NoSigpipe(const NoSigpipe&) = delete;
    NoSigpipe& operator=(const NoSigpipe&) = delete;

private:
    sigset_t pipe_;
    sigset_t old_;
};

}  // namespace

std::string RemoteExecutor::run(const std::string& host, const std::string& input) const {
    if (!validHostName(host)) throw RemoteError("\"" + host + "\" is not a host name");
    if (command_.empty()) throw RemoteError("no remote command is configured");
    std::vector<std::string> args;
    for (std::string a : command_) {
        for (size_t at = a.find("{host}"); at != std::string::npos; at = a.find("{host}", at + host.size()))
            a.replace(at, 6, host);
        args.push_back(a);
    }
    return runCommand(args, input, timeout_, args[0] + " for " + host);
}

std::string runCommand(const std::vector<std::string>& command, const std::string& input,
                       std::chrono::milliseconds timeout, const std::string& what) {
    if (command.empty()) throw RemoteError("no command to run");
    std::vector<std::string> args = command;
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0) throw RemoteError(std::string("pipe: ") + std::strerror(errno));
    Fd inRead{in[0]}, inWrite{in[1]};
    if (::pipe2(out, O_CLOEXEC) != 0) throw RemoteError(std::string("pipe: ") + std::strerror(errno));
    Fd outRead{out[0]}, outWrite{out[1]};

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, inRead.fd, 0);
    posix_spawn_file_actions_adddup2(&actions, outWrite.fd, 1);
    // The command starts with SIGPIPE as the default and nothing blocked.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, pipeOnly;
    sigemptyset(&none);
    sigemptyset(&pipeOnly);
    sigaddset(&pipeOnly, SIGPIPE);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &pipeOnly);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t pid = -1;
    int rc = posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (rc != 0) throw RemoteError("cannot run " + args[0] + ": " + std::strerror(rc));
    inRead.reset();
    outWrite.reset();
    NoSigpipe noSigpipe;
    ::fcntl(inWrite.fd, F_SETFL, O_NONBLOCK);

    auto deadline = std::chrono::steady_clock::now() + timeout;
    std::string answer;
    size_t written = 0;
    bool timedOut = false, tooLarge = false;
    if (input.empty()) inWrite.reset();
    while (outRead.fd >= 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            timedOut = true;
            break;
        }
        pollfd fds[2] = {{outRead.fd, POLLIN, 0}, {inWrite.fd, POLLOUT, 0}};
        int n = ::poll(fds, inWrite.fd >= 0 ? 2 : 1, int(std::min<int64_t>(left.count(), 1000)));
        if (n < 0 && errno != EINTR) break;
        if (n <= 0) continue;
        if (inWrite.fd >= 0 && (fds[1].revents & (POLLOUT | POLLERR | POLLHUP))) {
            ssize_t w = ::write(inWrite.fd, input.data() + written, input.size() - written);
            if (w > 0) written += size_t(w);
            if (w < 0 && errno != EAGAIN && errno != EINTR) inWrite.reset();  // the command stopped reading
            if (written == input.size()) inWrite.reset();
        }
        if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            char buf[65536];
            ssize_t r = ::read(outRead.fd, buf, sizeof(buf));
            if (r < 0 && errno == EINTR) continue;
            if (r <= 0) {
                outRead.reset();
                break;
            }
            answer.append(buf, size_t(r));
            if (answer.size() > kMaxAnswerBytes) {
                tooLarge = true;
                break;
            }
        }
    }
    inWrite.reset();
    outRead.reset();
    if (timedOut || tooLarge) ::kill(pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (timedOut)
        throw RemoteError(what + " did not finish within " + std::to_string(timeout.count() / 1000) +
                          " s and was stopped");
    if (tooLarge) throw RemoteError(what + " answered more than 64 MiB");
    if (WIFSIGNALED(status)) throw RemoteError(what + " was killed by signal " + std::to_string(WTERMSIG(status)));
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw RemoteError(what + " failed with exit status " + std::to_string(WEXITSTATUS(status)));
    return answer;
}

}  // namespace svcsnap
