// The agent's host services in-process: the progress clock, the remote
// command runner and the batch messages (the Linux back end has its own test).
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "Agent.h"
#include "Progress.h"
#include "RemoteExec.h"
#include "ZqPlatformRegistry.h"
#include "ZqThread.h"

using namespace svcsnap;
namespace fs = std::filesystem;

namespace {

struct TempDir {
    TempDir() {
        char pattern[] = "/tmp/svcsnap-host-XXXXXX";
        path = mkdtemp(pattern);
    }
    ~TempDir() { fs::remove_all(path); }
    std::string path;
};

void write(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream(file) << text;
}

}  // namespace

TEST(ProgressClock, ReportsUnknownWaitsAsLoggedAndFoldsRepeats) {
    auto base = std::make_shared<zq::platform::VirtualClock>();
    auto board = std::make_shared<ActivityBoard>();
    std::vector<std::string> lines;
    ProgressClock clock(base, board, [&](const std::string& line) { lines.push_back(line); });

    const int64_t start = base->nowMs();
    clock.sleepMs(10000);
    board->note("/dev/sdb", "SMIS::WatchJob: job running");
    for (int i = 0; i < 5; ++i) clock.sleepMs(30000);
    board->note("/dev/sdc", "SMIS::WatchJob: job running");
    clock.sleepMs(1000);
    EXPECT_EQ(base->nowMs() - start, 10000 + 5 * 30000 + 1000) << "every sleep reaches the clock it wraps";
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0], "waiting 10 s");
    EXPECT_EQ(lines[1], "waiting 30 s for /dev/sdb: SMIS::WatchJob: job running");
    EXPECT_EQ(lines[2].rfind("still waiting after 30 s for /dev/sdb", 0), 0u) << lines[2];
    EXPECT_EQ(lines[3].rfind("still waiting after 1 min 30 s for /dev/sdb", 0), 0u) << lines[3];
    EXPECT_EQ(lines[4], "waiting 1 s for /dev/sdc: SMIS::WatchJob: job running");

    // Quiet: no reporter, the sleeps still happen.
    ProgressClock quiet(base, board, nullptr);
    quiet.sleepMs(5000);
    EXPECT_EQ(base->nowMs() - start, 166000);
    EXPECT_EQ(ProgressClock::duration(3725000), "1 h 2 min");
    EXPECT_EQ(ProgressClock::duration(120000), "2 min");
}

TEST(ProgressClock, TheEnginesWaitsAreWordedAndABatchIsCountedInOneLine) {
    // The engine's own wait texts, as records log them.
    struct Row {
        const char* text;
        WaitPhase::Kind kind;
        bool batch;
    } rows[] = {
        {"IBMSVCSnapshot::WaitDetachAndDelete: Stop still in progress, waiting 10 seconds", WaitPhase::Stop, false},
        {"Waiting [5] seconds for IBMSVC FlashCopy stop", WaitPhase::Stop, true},
        {"Waiting [5] seconds for IBMSVC FlashCopy to stop", WaitPhase::Stop, true},
        {"Waiting [5] seconds for IBMSVC FlashCopy preparation", WaitPhase::Prepare, true},
        {"Waiting [5] seconds for IBMSVC FlashCopy prepare", WaitPhase::Prepare, true},
        {"prepareDevices: Resync still in progress for FlashCopy [n_1], waiting 180 seconds", WaitPhase::Copy, false},
        {"processMapSnaps: Resync still in progress, waiting 30 seconds", WaitPhase::Copy, false},
        {" Volume [0] DeviceName [/dev/sdd]", WaitPhase::Rescan, true},
        {"prepareDevices: Resync completed", WaitPhase::Unknown, false},
    };
    for (const Row& r : rows) {
        const WaitPhase p = waitPhase(r.text);
        EXPECT_EQ(p.kind, r.kind) << r.text;
        EXPECT_EQ(p.wholeBatch, r.batch) << r.text;
    }
    const WaitPhase settle = waitPhase(
        "processMapSnaps: Going to remove consistency group [cg_7], waiting 30 seconds to settle it down");
    EXPECT_EQ(settle.kind, WaitPhase::Settle);
    EXPECT_EQ(phaseWords(settle, 1, "/dev/sdb", 30000, -1, -1, 0),
              "waiting 30 s for consistency group cg_7 to settle before it is removed");

    auto base = std::make_shared<zq::platform::VirtualClock>();
    auto board = std::make_shared<ActivityBoard>();
    std::vector<std::string> lines;
    std::vector<std::string> read;  // targets whose progress was asked
    ProgressClock::Sinks sinks;
    sinks.line = [&](const std::string& line) { lines.push_back(line); };
    sinks.percent = [&](const CopyRef& copy) {
        read.push_back(copy.targetPath);
        if (copy.targetPath == "t3") throw std::runtime_error("provider away");
        return copy.targetPath == "t1" ? 20 : 70;
    };
    ProgressClock clock(base, board, sinks);

    // A group prepared once for its 16 records.
    for (int i = 0; i < 16; ++i) board->note("/dev/sd" + std::string(1, char('b' + i)), "ConsistencyGroup add");
    board->note("/dev/sdb", "Waiting [5] seconds for IBMSVC FlashCopy prepare");
    clock.sleepMs(5000);
    // Three copies followed, one of them complete already.
    board->note("/dev/sdb", "prepareDevices: Resync still in progress for FlashCopy [n_1], waiting 180 seconds",
                CopyRef{"A", "s1", "t1"});
    board->note("/dev/sdc", "prepareDevices: Resync completed");
    board->note("/dev/sdd", "prepareDevices: Resync still in progress for FlashCopy [n_2], waiting 180 seconds",
                CopyRef{"A", "s2", "t2"});
    board->note("/dev/sde", "prepareDevices: Resync still in progress for FlashCopy [n_3], waiting 180 seconds",
                CopyRef{"A", "s3", "t3"});
    clock.sleepMs(180000);
    // The same copies again within the minute: no line and no read.
    board->note("/dev/sdb", "prepareDevices: Resync still in progress for FlashCopy [n_1], waiting 180 seconds",
                CopyRef{"A", "s1", "t1"});
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "waiting for 16 mappings to be prepared, 5 s left");
    EXPECT_EQ(lines[1], "3 clones copying, 20% to 70% copied") << "the array that cannot be read counts unread";
    EXPECT_EQ(read, (std::vector<std::string>{"t1", "t2", "t3"})) << "each copy read once for the line";

    // One copy left; then an array that cannot be read at all.
    read.clear();
    clock.sleepMs(180000);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[2], "clone 20% copied (/dev/sdb)");
    board->note("/dev/sde", "prepareDevices: Resync still in progress for FlashCopy [n_3], waiting 180 seconds",
                CopyRef{"A", "s3", "t3"});
    clock.sleepMs(180000);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[3], "waiting for 1 clone to be copied (/dev/sde), next look in 3 min");
    EXPECT_EQ(read, (std::vector<std::string>{"t1", "t3"}));
}

TEST(ProgressClock, TheLiveLineIsRewrittenAtMostOnceASecond) {
    auto base = std::make_shared<zq::platform::VirtualClock>();
    auto board = std::make_shared<ActivityBoard>();
    int64_t realMs = 0;
    std::vector<std::string> live, plain;
    ProgressClock::Sinks sinks;
    sinks.line = [&](const std::string& line) { plain.push_back(line); };
    sinks.live = [&](const std::string& line) { live.push_back(line); };
    sinks.realNowMs = [&] { return realMs; };
    ProgressClock clock(base, board, sinks);
    board->note("/dev/sdb", "IBMSVCSnapshot::WaitDetachAndDelete: Stop still in progress, waiting 10 seconds");
    clock.sleepMs(10000);
    realMs = 900;
    board->note("/dev/sdc", "IBMSVCSnapshot::WaitDetachAndDelete: Stop still in progress, waiting 10 seconds");
    clock.sleepMs(10000);
    realMs = 1000;
    clock.sleepMs(10000);
    EXPECT_TRUE(plain.empty()) << "a terminal has the live line only";
    ASSERT_EQ(live.size(), 2u);
    EXPECT_EQ(live[0], "waiting for 1 copy to stop (/dev/sdb), 10 s left");
    EXPECT_EQ(live[1], "waiting for 1 copy to stop (/dev/sdc), 10 s left, waited 10 s");

    std::ostringstream tty, pipe;
    Console terminal(tty, true), piped(pipe, false);
    for (Console* c : {&terminal, &piped}) {
        c->live("a");
        c->live("b");
        c->finish();
        c->line("c");
        c->live("d");
        c->line("e");
    }
    EXPECT_EQ(tty.str(), "\r\033[Ka\r\033[Kb\r\033[Kc\n\r\033[Kd\r\033[Ke\n");
    EXPECT_EQ(pipe.str(), "a\nb\nc\nd\ne\n");
}

TEST(ProgressClock, ParallelWorkersStillOverlapAndReportTheirOwnDevice) {
    auto base = std::make_shared<zq::platform::VirtualClock>();
    auto board = std::make_shared<ActivityBoard>();
    std::mutex mutex;
    std::vector<std::string> lines;
    auto clock = std::make_shared<ProgressClock>(base, board, [&](const std::string& line) {
        std::lock_guard<std::mutex> lock(mutex);
        lines.push_back(line);
    });
    // Workers announce themselves to the process clock: the agent's clock.
    zq::platform::ScopedService<zq::platform::Clock> installed(zq::platform::registry().clock, clock);
    const int64_t start = base->nowMs();
    std::vector<std::unique_ptr<ZqThread>> workers;
    for (int i = 0; i < 4; ++i) {
        workers.push_back(std::make_unique<ZqThread>());
        std::string device = "/dev/sd" + std::string(1, char('b' + i));
        ASSERT_EQ(workers.back()->createThread([board, device] {
            board->note(device, "prepareDevices: waiting for the mapping to prepare");
            zq::platform::clock().sleepMs(30000);
            return 0;
        }), 0);
    }
    for (auto& w : workers) {
        int result = -1;
        EXPECT_EQ(w->joinThread(&result), 0);
    }
    EXPECT_EQ(base->nowMs() - start, 30000) << "four sleeps of 30 s side by side";
    std::sort(lines.begin(), lines.end());
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "waiting 30 s for /dev/sdb: prepareDevices: waiting for the mapping to prepare");
    EXPECT_EQ(lines[3].substr(0, 26), "waiting 30 s for /dev/sde:");
}

TEST(RemoteExecutor, RunsTheCommandBoundedAndRefusesBadHosts) {
    using std::chrono::milliseconds;
    EXPECT_EQ(RemoteExecutor({"cat"}, milliseconds(5000)).run("px1", "{\"a\":1}"), "{\"a\":1}");
    EXPECT_EQ(RemoteExecutor({"echo", "to={host}", "{host}.lab"}, milliseconds(5000)).run("px1", ""),
              "to=px1 px1.lab\n");
    // A command that reads nothing of a large input does not hurt the caller.
    EXPECT_EQ(RemoteExecutor({"true"}, milliseconds(5000)).run("px1", std::string(1 << 20, 'x')), "");
    EXPECT_THROW(RemoteExecutor({"false"}, milliseconds(5000)).run("px1", ""), RemoteError);
    EXPECT_THROW(RemoteExecutor({"/nonexistent/svcsnap"}, milliseconds(5000)).run("px1", ""), RemoteError);
    auto start = std::chrono::steady_clock::now();
    try {
        RemoteExecutor({"sleep", "5"}, milliseconds(200)).run("px1", "");
        FAIL() << "a command past its time-out";
    } catch (const RemoteError& e) {
        EXPECT_NE(std::string(e.what()).find("was stopped"), std::string::npos) << e.what();
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    // A name that would be an option of the command is never run.
    TempDir dir;
    std::string marker = dir.path + "/ran";
    RemoteExecutor touch({"touch", marker + "{host}"}, milliseconds(5000));
    EXPECT_THROW(touch.run("-oProxyCommand=x", ""), RemoteError);
    EXPECT_THROW(touch.run("a b", ""), RemoteError);
    EXPECT_THROW(touch.run("", ""), RemoteError);
    EXPECT_FALSE(fs::exists(marker + "-oProxyCommand=x"));
    EXPECT_EQ(RemoteExecutor::split("  ssh  {host}\tsvcsnap proxy-exec "),
              (std::vector<std::string>{"ssh", "{host}", "svcsnap", "proxy-exec"}));
}

TEST(RemoteBatch, RoundTripAndRefusals) {
    JobEntry job;
    job.id = 7;
    job.name = "nightly";
    job.engineId = 21;
    job.controlHostId = 3;
    job.options.kind = "clone";
    job.options.copyRate = 80;
    job.options.proxy = "px1";
    RecordEntry r;
    r.id = 41;
    r.device = "/dev/sdb";
    r.status = 9;
    r.flags = 8192;
    r.metadata = {{1, "0000AA*5*svc*src*p*x*UID*tp*2"}, {61, "5"}};
    r.newLines = {{1, 1, "f", "not sent"}};
    nlohmann::json message = batchToJson(job, {r});
    EXPECT_FALSE(message["records"][0].contains("lines"));
    RemoteBatch b = batchFromJson(nlohmann::json::parse(message.dump()));
    EXPECT_EQ(b.job.name, "nightly");
    EXPECT_EQ(b.job.engineId, 21);
    EXPECT_EQ(b.job.options.kind, "clone");
    EXPECT_EQ(*b.job.options.copyRate, 80);
    EXPECT_FALSE(b.job.options.cleanRate);
    ASSERT_EQ(b.records.size(), 1u);
    EXPECT_EQ(b.records[0].metadata, r.metadata);
    EXPECT_EQ(b.records[0].flags, 8192u);
    EXPECT_TRUE(b.records[0].newLines.empty());

    // The answer must hold the records sent, in order, with their lines.
    RecordEntry done = b.records[0];
    done.status = 12;
    done.newLines = {{5, 2, "processMapSnaps", "mapped"}};
    int result = -1;
    auto back = answerFromJson(answerToJson(2, {done}), {r}, &result);
    EXPECT_EQ(result, 2);
    EXPECT_EQ(back[0].status, 12);
    ASSERT_EQ(back[0].newLines.size(), 1u);
    EXPECT_EQ(back[0].newLines[0].text, "mapped");
    RecordEntry other = done;
    other.id = 42;
    EXPECT_THROW(answerFromJson(answerToJson(0, {other}), {r}, nullptr), std::invalid_argument);
    EXPECT_THROW(answerFromJson(answerToJson(0, {}), {r}, nullptr), std::invalid_argument);

    for (const char* broken : {R"({"protocol":2})", R"([])",
                               R"({"protocol":1,"job":{"id":1},"records":[]})"}) {
        EXPECT_THROW(batchFromJson(nlohmann::json::parse(broken)), std::invalid_argument) << broken;
    }
    nlohmann::json wrongType = message;
    wrongType["records"][0]["metadata"]["1"] = 5;
    EXPECT_THROW(batchFromJson(wrongType), std::invalid_argument);
    wrongType = message;
    wrongType["records"][0]["status"] = "9";
    EXPECT_THROW(batchFromJson(wrongType), std::invalid_argument);
    wrongType = message;
    wrongType["records"] = nlohmann::json::array();
    EXPECT_THROW(batchFromJson(wrongType), std::invalid_argument);
}

TEST(AgentHost, TheDefaultRemoteCommandRunsThisBinaryAsTheProxy) {
    TempDir dir;
    std::string config = dir.path + "/svcsnap.ini";
    write(config, "[svcsnap]\ncatalogue = " + dir.path + "/catalogue.db\n");
    GlobalOptions options;
    options.config = config;
    options.quiet = true;
    Agent agent(options);
    std::vector<std::string> command = agent.defaultRemoteCommand();
    ASSERT_GE(command.size(), 4u);
    EXPECT_EQ(command.front(), fs::read_symlink("/proc/self/exe").string());
    std::vector<std::string> tail(command.end() - 3, command.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"proxy-exec", "--as-host", "{host}"}));
    auto after = [&](const std::string& option) {
        auto it = std::find(command.begin(), command.end(), option);
        return it == command.end() || it + 1 == command.end() ? std::string() : *(it + 1);
    };
    EXPECT_EQ(after("--config"), config);
    EXPECT_EQ(after("--catalogue"), dir.path + "/catalogue.db");
    EXPECT_FALSE(after("--plugin").empty());
    EXPECT_NE(std::find(command.begin(), command.end(), "--quiet"), command.end());
    EXPECT_EQ(agent.host().backend->kind(), "linux");
    EXPECT_EQ(agent.host().remote->command(), command);
}
