// svcsnap end to end: svcsim started as a separate process on ephemeral
// ports (once per test suite), every svcsnap command run as its own
// process with the test's configuration and catalogue, its side channel
// for seeding and reading the array, and svcsnap processes started in the
// background to be stopped at a request the simulator holds.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <cstdint>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

namespace clitest {

using nlohmann::json;

extern const char* const kPassword;

// svcsim as a child process; the ports come from its first line.
class Svcsim {
public:
    explicit Svcsim(const std::string& timeScale = "0.01");
    ~Svcsim();
    Svcsim(const Svcsim&) = delete;
    Svcsim& operator=(const Svcsim&) = delete;
    int http() const { return http_; }
    int https() const { return https_; }

private:
    pid_t pid_ = -1;
    int http_ = -1, https_ = -1;
};

struct CliRun {
    int status = -1;  // exit status; -1 when it did not exit
    int signal = 0;   // the signal that ended it
    std::string out;
    std::string err;
    json doc() const { return json::parse(out); }
};

// A svcsnap process running in the background.
class Background {
public:
    Background(pid_t pid, std::string outFile, std::string errFile)
        : pid_(pid), outFile_(std::move(outFile)), errFile_(std::move(errFile)) {}
    Background(Background&& other) noexcept;
    ~Background();
    Background(const Background&) = delete;
    Background& operator=(const Background&) = delete;

    pid_t pid() const { return pid_; }
    // Whether it has ended (and is reaped); never blocks.
    bool ended();
    void signal(int sig);
    // Waits for its end (bounded) and reads what it wrote.
    CliRun wait();
    // What it wrote on standard error so far.
    std::string errorsSoFar() const;

private:
    pid_t pid_;
    std::string outFile_, errFile_;
    bool reaped_ = false;
    int rawStatus_ = 0;
};

class SvcsnapCli : public ::testing::Test {
protected:
    // Suites of their own time scale override this.
    static void SetUpTestSuite() { startSimulator("0.01"); }
    static void TearDownTestSuite();
    static void startSimulator(const std::string& timeScale);

    void SetUp() override;
    void TearDown() override;

    // Runs svcsnap with the test's configuration; `input` goes to its standard input.
    CliRun svcsnap(const std::string& args, const std::string& input = "", const std::string& env = "");
    // A command that runs the engine, at the suite's time scale (the CIM
    // client's time-outs shrink with it, down to one second).
    CliRun flow(const std::string& args) { return svcsnap(args, "", "ZQ_TIME_SCALE=" + timeScale_); }
    // The same command started in the background.
    Background start(const std::string& args);
    // The command run on a pseudo-terminal (script(1)) at the suite's time
    // scale, `input` typed on it; `out` is what the terminal showed.
    CliRun onTerminal(const std::string& args, const std::string& input = "");

    std::string addHttps() const;
    // The same array over plain HTTP (no handshake per connection).
    std::string addHttp() const;

    // A request to the simulator's side channel (a GET without a body); its JSON answer.
    static json simCall(const std::string& path, const json* body, const char* method = nullptr);
    static json simPost(const std::string& path, const json& body) { return simCall(path, &body); }
    static json simState() { return simCall("state", nullptr); }

    // A hold of the simulator on its CIM requests (of the operation or
    // method `key`) from the (skip+1)-th on; its id.
    static uint64_t holdFrom(int skip, const std::string& key = "*");
    // How many requests the hold holds (or held); -1 when it is gone.
    static int holdHits(uint64_t id);
    // Lets the held requests go on (they are served).
    static void release(uint64_t id);
    // Waits, bounded, until the hold holds a request of `process` or the
    // process has ended; true when the hold holds one.
    bool waitForHold(uint64_t id, Background& process);

    // A simulated host of its own with `n` source volumes "<prefix>0".. mapped
    // to it, the array added, and the host rescanned: the sources are
    // /dev/sdb, /dev/sdc, ...
    void simulatedHost(const std::string& prefix, const std::string& wwpn, int n, int sizeMiB = 1024,
                       bool https = true);
    // The FlashCopy mappings on the array whose source starts with `prefix`.
    static std::vector<json> copiesOf(const std::string& prefix);
    static std::set<std::string> hostsOfVolume(const std::string& volume);
    static uint64_t generationOf(const std::string& volume);
    // The records of the last step of a flow command's JSON.
    static json lastRecords(const CliRun& run) { return run.doc()["steps"].back()["records"]; }
    static std::vector<int> statuses(const json& records);

    static Svcsim* sim_;
    static std::string timeScale_;
    std::string dir_, config_;
};

}  // namespace clitest
