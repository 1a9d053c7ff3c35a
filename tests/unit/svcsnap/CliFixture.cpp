#include "CliFixture.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <httplib.h>

namespace fs = std::filesystem;

namespace clitest {

const char* const kPassword = "Sim-s3cr3t-pw";

namespace {

using Clock = std::chrono::steady_clock;

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> words(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string w; in >> w;) out.push_back(w);
    return out;
}

// How long a svcsnap command may take before the test gives up on it.
constexpr auto kCommandBound = std::chrono::seconds(120);

}  // namespace

Svcsim::Svcsim(const std::string& timeScale) {
    int out[2];
    if (pipe(out) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
        dup2(out[1], 1);
        close(out[0]);
        int devnull = open("/dev/null", O_WRONLY);
        dup2(devnull, 2);
        execl(SVCSIM_PATH, SVCSIM_PATH, "--http-port", "0", "--https-port", "0", "--password", kPassword,
              "--time-scale", timeScale.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    std::string line;
    auto until = Clock::now() + std::chrono::seconds(20);
    while (line.find('\n') == std::string::npos && Clock::now() < until) {
        pollfd p{out[0], POLLIN, 0};
        if (poll(&p, 1, 200) <= 0) continue;
        char buf[128];
        ssize_t n = read(out[0], buf, sizeof(buf));
        if (n <= 0) break;
        line.append(buf, size_t(n));
    }
    close(out[0]);
    std::sscanf(line.c_str(), "http=%d https=%d", &http_, &https_);
}

Svcsim::~Svcsim() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
}

Background::Background(Background&& other) noexcept
    : pid_(other.pid_),
      outFile_(std::move(other.outFile_)),
      errFile_(std::move(other.errFile_)),
      reaped_(other.reaped_),
      rawStatus_(other.rawStatus_) {
    other.pid_ = -1;
}

Background::~Background() {
    if (pid_ > 0 && !reaped_) {
        ::kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

bool Background::ended() {
    if (reaped_) return true;
    if (pid_ <= 0) return true;
    if (waitpid(pid_, &rawStatus_, WNOHANG) == pid_) reaped_ = true;
    return reaped_;
}

void Background::signal(int sig) {
    if (!ended()) ::kill(pid_, sig);
}

std::string Background::errorsSoFar() const { return readFile(errFile_); }

CliRun Background::wait() {
    const auto until = Clock::now() + kCommandBound;
    while (!ended() && Clock::now() < until) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    if (!ended()) {
        ADD_FAILURE() << "svcsnap process " << pid_ << " did not end within the bound";
        ::kill(pid_, SIGKILL);
        waitpid(pid_, &rawStatus_, 0);
        reaped_ = true;
    }
    CliRun r;
    if (WIFEXITED(rawStatus_)) r.status = WEXITSTATUS(rawStatus_);
    if (WIFSIGNALED(rawStatus_)) r.signal = WTERMSIG(rawStatus_);
    r.out = readFile(outFile_);
    r.err = readFile(errFile_);
    return r;
}

Svcsim* SvcsnapCli::sim_ = nullptr;
std::string SvcsnapCli::timeScale_ = "0.01";

void SvcsnapCli::startSimulator(const std::string& timeScale) {
    timeScale_ = timeScale;
    sim_ = new Svcsim(timeScale);
}

void SvcsnapCli::TearDownTestSuite() {
    delete sim_;
    sim_ = nullptr;
}

void SvcsnapCli::SetUp() {
    ASSERT_GT(sim_->https(), 0) << "svcsim did not start";
    char pattern[] = "/tmp/svcsnap-cli-XXXXXX";
    dir_ = mkdtemp(pattern);
    config_ = dir_ + "/svcsnap.ini";
    std::ofstream(config_) << "[svcsnap]\ncatalogue = " << dir_ << "/data/catalogue.db\n";
}

void SvcsnapCli::TearDown() { fs::remove_all(dir_); }

CliRun SvcsnapCli::onTerminal(const std::string& args, const std::string& input) {
    const std::string inFile = dir_ + "/tty-in";
    std::ofstream(inFile) << input;
    const std::string command = "env SVCSNAP_CONFIG='" + config_ + "' ZQ_TIME_SCALE=" + timeScale_ + " script -qec '" +
                                SVCSNAP_PATH + " " + args + "' /dev/null <'" + inFile + "'";
    CliRun r;
    FILE* p = popen(command.c_str(), "r");
    char buf[4096];
    size_t n;
    while (p && (n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
    const int status = p ? pclose(p) : -1;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

CliRun SvcsnapCli::svcsnap(const std::string& args, const std::string& input, const std::string& env) {
    std::string inFile = dir_ + "/stdin", errFile = dir_ + "/stderr";
    std::ofstream(inFile) << input;
    std::string command = "env SVCSNAP_CONFIG='" + config_ + "' " + env + " " + SVCSNAP_PATH + " " + args + " <'" +
                          inFile + "' 2>'" + errFile + "'";
    CliRun r;
    FILE* p = popen(command.c_str(), "r");
    char buf[4096];
    size_t n;
    while (p && (n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
    int status = p ? pclose(p) : -1;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.err = readFile(errFile);
    EXPECT_EQ(r.out.find(kPassword), std::string::npos) << r.out;
    EXPECT_EQ(r.err.find(kPassword), std::string::npos) << r.err;
    return r;
}

Background SvcsnapCli::start(const std::string& args) {
    static int started = 0;
    const std::string tag = std::to_string(++started);
    const std::string outFile = dir_ + "/bg" + tag + ".out", errFile = dir_ + "/bg" + tag + ".err";
    std::vector<std::string> argv{SVCSNAP_PATH};
    for (auto& w : words(args)) argv.push_back(w);
    const std::string configEnv = "SVCSNAP_CONFIG=" + config_, scaleEnv = "ZQ_TIME_SCALE=" + timeScale_;
    pid_t pid = fork();
    if (pid == 0) {
        putenv(const_cast<char*>(configEnv.c_str()));
        putenv(const_cast<char*>(scaleEnv.c_str()));
        int in = open("/dev/null", O_RDONLY);
        int out = open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int err = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        std::vector<char*> raw;
        for (auto& a : argv) raw.push_back(const_cast<char*>(a.c_str()));
        raw.push_back(nullptr);
        execv(SVCSNAP_PATH, raw.data());
        _exit(127);
    }
    return Background(pid, outFile, errFile);
}

std::string SvcsnapCli::addHttps() const {
    return "array add 127.0.0.1 --port " + std::to_string(sim_->https()) + " --user admin --password-stdin";
}

std::string SvcsnapCli::addHttp() const {
    return "array add 127.0.0.1 --http --port " + std::to_string(sim_->http()) + " --user admin --password-stdin";
}

json SvcsnapCli::simCall(const std::string& path, const json* body, const char* method) {
    httplib::Client c("https://127.0.0.1:" + std::to_string(sim_->https()));
    c.enable_server_certificate_verification(false);
    c.set_basic_auth("admin", kPassword);
    const std::string target = "/sim/" + path;
    httplib::Result r = method && std::string(method) == "DELETE" ? c.Delete(target.c_str())
                        : body ? c.Post(target.c_str(), body->dump(), "application/json")
                               : c.Get(target.c_str());
    EXPECT_TRUE(r && r->status == 200) << path;
    return r ? json::parse(r->body, nullptr, false) : json();
}

uint64_t SvcsnapCli::holdFrom(int skip, const std::string& key) {
    return simPost("faults", {{"kind", "hold"}, {"key", key}, {"skip", skip}})["id"].get<uint64_t>();
}

int SvcsnapCli::holdHits(uint64_t id) {
    for (const auto& f : simCall("faults", nullptr))
        if (f["id"].get<uint64_t>() == id) return f["hits"].get<int>();
    return -1;
}

void SvcsnapCli::release(uint64_t id) { simCall("faults/" + std::to_string(id), nullptr, "DELETE"); }

bool SvcsnapCli::waitForHold(uint64_t id, Background& process) {
    const auto until = Clock::now() + kCommandBound;
    while (Clock::now() < until) {
        if (holdHits(id) > 0) return true;
        if (process.ended()) return holdHits(id) > 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ADD_FAILURE() << "the hold held nothing and the process did not end within the bound";
    return false;
}

void SvcsnapCli::simulatedHost(const std::string& prefix, const std::string& wwpn, int n, int sizeMiB,
                               bool https) {
    std::ofstream(config_, std::ios::app) << "devices = simulated\nsim_initiators = " << wwpn << "\n";
    CliRun add = svcsnap(https ? addHttps() : addHttp(), std::string(kPassword) + "\n");
    ASSERT_EQ(add.status, 0) << add.err;
    ASSERT_EQ(simPost("hosts", {{"name", prefix + "host"}, {"ports", {wwpn}}})["returnValue"], 0);
    for (int i = 0; i < n; ++i) {
        const std::string name = prefix + std::to_string(i);
        ASSERT_EQ(simPost("volumes", {{"name", name}, {"sizeMiB", sizeMiB}})["returnValue"], 0);
        ASSERT_EQ(simPost("hostmappings", {{"host", prefix + "host"}, {"volume", name}})["returnValue"], 0);
        ASSERT_TRUE(simPost("write", {{"volume", name}, {"percent", 100}})["generation"].is_number());
    }
    ASSERT_EQ(svcsnap("host rescan").status, 0);
}

std::vector<json> SvcsnapCli::copiesOf(const std::string& prefix) {
    std::vector<json> out;
    const json state = simState();
    for (const auto& m : state["fcMappings"])
        if (m["source"].get<std::string>().rfind(prefix, 0) == 0) out.push_back(m);
    return out;
}

std::set<std::string> SvcsnapCli::hostsOfVolume(const std::string& volume) {
    std::set<std::string> out;
    const json state = simState();
    for (const auto& m : state["hostMappings"])
        if (m["volume"] == volume) out.insert(m["host"].get<std::string>());
    return out;
}

uint64_t SvcsnapCli::generationOf(const std::string& volume) {
    const json state = simState();
    for (const auto& v : state["volumes"])
        if (v["name"] == volume) return v["generation"].get<uint64_t>();
    return 0;
}

std::vector<int> SvcsnapCli::statuses(const json& records) {
    std::vector<int> out;
    for (const auto& r : records) out.push_back(r["status"].get<int>());
    return out;
}

}  // namespace clitest
