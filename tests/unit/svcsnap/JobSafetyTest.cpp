// Jobs that survive their host, each command a process of its own against
// svcsim as a process: one command at a time per job, steps only where the
// job's state allows them, SIGINT and SIGTERM that let the engine's call
// end, snap names unique per catalogue, and the catalogue file kept private.
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <thread>

#include "CliFixture.h"

using namespace clitest;
namespace fs = std::filesystem;

namespace {

// The job's entry of `list --json`.
json listed(const CliRun& list, const std::string& job) {
    const json doc = list.doc();
    for (const auto& j : doc["jobs"])
        if (j["name"] == job) return j;
    return json();
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Waits, bounded, until the process has written `part` on standard error.
bool saysSoon(Background& process, const std::string& part) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < until) {
        if (contains(process.errorsSoFar(), part)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
}

const char* const kInterruptedLine = "the step ends after the current engine call";

class JobSafety : public SvcsnapCli {
protected:
    // Starts `args`; once the hold holds its request, sends `sig` and waits
    // until the process says it stops after the engine's call.
    Background interruptAt(const std::string& args, uint64_t hold, int sig) {
        Background process = start(args);
        EXPECT_TRUE(waitForHold(hold, process));
        process.signal(sig);
        EXPECT_TRUE(saysSoon(process, kInterruptedLine)) << process.errorsSoFar();
        return process;
    }
};

}  // namespace

TEST_F(JobSafety, ASecondCommandOnABusyJobExits75WhileOtherJobsRunSideBySide) {
    simulatedHost("ls_db", "21000024FF4AF101", 2);
    ASSERT_EQ(flow("prepare busy /dev/sdb --quiet").status, 0);
    ASSERT_EQ(flow("snapshot other /dev/sdc --quiet").status, 0);
    // The snap holds at its start of the copy.
    const uint64_t hold = holdFrom(0, "ModifySynchronization");
    Background snap = start("snap busy --quiet");
    ASSERT_TRUE(waitForHold(hold, snap));
    EXPECT_EQ(listed(svcsnap("list --json"), "busy")["step"]["state"], "running");

    for (const std::string& second : {std::string("map busy"), std::string("delete busy"), std::string("recover busy")}) {
        CliRun refused = flow(second + " --quiet");
        EXPECT_EQ(refused.status, 75) << second << "\n" << refused.out << refused.err;
        EXPECT_TRUE(contains(refused.err, "busy")) << refused.err;
        EXPECT_TRUE(contains(refused.err, std::to_string(snap.pid()))) << refused.err;
    }
    CliRun side = flow("status other --quiet");
    EXPECT_EQ(side.status, 0) << side.out << side.err;

    release(hold);
    CliRun ended = snap.wait();
    EXPECT_EQ(ended.status, 0) << ended.out << ended.err;
    EXPECT_EQ(copiesOf("ls_db0").at(0)["state"], "copying");
    CliRun map = flow("map busy --quiet");
    EXPECT_EQ(map.status, 0) << map.out << map.err;
    EXPECT_EQ(flow("delete busy --quiet").status, 0);
    EXPECT_EQ(flow("delete other --quiet").status, 0);
}

TEST_F(JobSafety, StepsTheJobsStateDoesNotAllowAreRefusedBeforeAnyRequest) {
    simulatedHost("st_db", "21000024FF4AF102", 2);
    ASSERT_EQ(flow("prepare st /dev/sdb /dev/sdc --quiet").status, 0);
    auto requests = [] { return simCall("requests", nullptr).size(); };
    simCall("requests", nullptr, "DELETE");
    for (const char* early : {"map st", "revert st"}) {
        CliRun refused = flow(std::string(early) + " --quiet");
        EXPECT_EQ(refused.status, 1) << early;
        EXPECT_TRUE(contains(refused.err, "is prepared: its copies are prepared but not started")) << refused.err;
        EXPECT_TRUE(contains(refused.err, "--force")) << refused.err;
    }
    EXPECT_EQ(requests(), 0u) << "nothing was asked of the array";

    ASSERT_EQ(flow("snap st --quiet").status, 0);
    simCall("requests", nullptr, "DELETE");
    CliRun again = flow("snap st --quiet");
    EXPECT_EQ(again.status, 1);
    EXPECT_TRUE(contains(again.err, "started already")) << again.err;
    EXPECT_EQ(requests(), 0u);
    for (const auto& c : copiesOf("st_db")) EXPECT_EQ(c["state"], "copying") << c.dump();

    // The stored outcome stays when status cannot tell; reconcile fails with the engine.
    ASSERT_EQ(flow("map st --quiet").status, 0);
    simPost("faults", {{"kind", "http"}, {"key", "*"}, {"status", 500}, {"count", -1}});
    CliRun blind = flow("status st --json --quiet");
    EXPECT_NE(blind.status, 0) << blind.out;
    CliRun failing = flow("reconcile st --quiet");
    EXPECT_EQ(failing.status, 1) << failing.out << failing.err;
    simCall("faults", nullptr, "DELETE");
    const json kept = svcsnap("show st --json").doc()["job"]["records"];
    for (const auto& r : kept) EXPECT_EQ(r["status"], 12) << r.dump();
    ASSERT_EQ(flow("unmap st --quiet").status, 0);

    // A copy another host sees cannot go: the delete is partial and says so.
    const std::string seen = copiesOf("st_db1").at(0)["target"];
    ASSERT_EQ(simPost("hosts", {{"name", "st_other"}, {"ports", {"21000024FF4AF1FF"}}})["returnValue"], 0);
    ASSERT_EQ(simPost("hostmappings", {{"host", "st_other"}, {"volume", seen}})["returnValue"], 0);
    CliRun partial = flow("delete st --quiet");
    EXPECT_EQ(partial.status, 2) << partial.out << partial.err;
    EXPECT_EQ(svcsnap("show st --json").doc()["job"]["state"], "partly-deleted");
    CliRun noMap = flow("map st --quiet");
    EXPECT_EQ(noMap.status, 1);
    EXPECT_TRUE(contains(noMap.err, "some of its copies are deleted")) << noMap.err;
    ASSERT_EQ(simPost("vanish", {{"kind", "host"}, {"name", "st_other"}})["vanished"], true);
    EXPECT_EQ(flow("delete st --quiet").status, 0);
    EXPECT_EQ(svcsnap("show st --json").doc()["job"]["state"], "deleted");
    EXPECT_TRUE(copiesOf("st_db").empty());

    CliRun gone = flow("unmap st --quiet");
    EXPECT_EQ(gone.status, 1);
    EXPECT_TRUE(contains(gone.err, "--forget removes it")) << gone.err;
    // --force runs it anyway; delete --forget only forgets.
    CliRun forced = flow("status st --force");
    EXPECT_TRUE(contains(forced.out, "status: ")) << forced.out << forced.err;
    EXPECT_FALSE(contains(forced.err, "--forget removes it")) << forced.err;
    EXPECT_EQ(flow("delete st --forget --quiet").status, 0);
    EXPECT_EQ(svcsnap("show st").status, 66);  // no such job
}

TEST_F(JobSafety, SigintOrSigtermLetsTheStepEndRecordsItAndRunsNoFurtherStep) {
    simulatedHost("sg_db", "21000024FF4AF103", 1);
    const uint64_t hold = holdFrom(4);
    Background snapshot = interruptAt("snapshot sg /dev/sdb", hold, SIGINT);
    EXPECT_FALSE(snapshot.ended()) << "the engine's call goes on";
    release(hold);
    CliRun interrupted = snapshot.wait();
    EXPECT_EQ(interrupted.status, 130) << interrupted.out << interrupted.err;
    EXPECT_EQ(interrupted.err.find(kInterruptedLine), interrupted.err.rfind(kInterruptedLine)) << "said once";
    EXPECT_TRUE(contains(interrupted.err, "the prepare step ended and is recorded; snap")) << interrupted.err;
    json job = svcsnap("show sg --json").doc()["job"];
    EXPECT_EQ(job["state"], "prepared");
    EXPECT_EQ(job["step"]["state"], "done");
    EXPECT_EQ(job["records"][0]["status"], 1);
    EXPECT_EQ(copiesOf("sg_db0").at(0)["state"], "prepared") << "not started";

    const uint64_t second = holdFrom(0, "ModifySynchronization");
    Background snap = interruptAt("snap sg", second, SIGTERM);
    release(second);
    EXPECT_EQ(snap.wait().status, 143);
    EXPECT_EQ(svcsnap("show sg --json").doc()["job"]["records"][0]["status"], 5);
    EXPECT_EQ(copiesOf("sg_db0").at(0)["state"], "copying");
    EXPECT_EQ(flow("delete sg --quiet").status, 0);
}

TEST_F(JobSafety, ASecondSigintEndsAtOnceAndRecoverRollsTheStepBack) {
    simulatedHost("sx_db", "21000024FF4AF104", 2);
    const uint64_t hold = holdFrom(12);
    Background snapshot = interruptAt("snapshot sx /dev/sdb /dev/sdc --group", hold, SIGINT);
    snapshot.signal(SIGINT);
    CliRun stopped = snapshot.wait();
    EXPECT_EQ(stopped.status, 130);
    EXPECT_GE(holdHits(hold), 1) << "it ended while its requests were held";
    release(hold);

    EXPECT_EQ(listed(svcsnap("list --json"), "sx")["step"]["state"], "interrupted");
    CliRun shown = svcsnap("show sx");
    EXPECT_TRUE(contains(shown.out, "prepare (interrupted)")) << shown.out;
    EXPECT_TRUE(contains(shown.out, "svcsnap recover sx")) << shown.out;
    for (const char* next : {"delete sx", "snap sx"}) {
        CliRun refused = flow(std::string(next) + " --quiet");
        EXPECT_EQ(refused.status, 1) << next;
        EXPECT_TRUE(contains(refused.err, "interrupted; run svcsnap recover sx")) << refused.err;
    }
    CliRun again = flow("snapshot sx /dev/sdb --quiet");
    EXPECT_TRUE(contains(again.err, "recover sx")) << again.err;

    CliRun recovered = flow("recover sx --json --quiet");
    EXPECT_EQ(recovered.status, 0) << recovered.out << recovered.err;
    EXPECT_EQ(recovered.doc()["interrupted"]["step"], "prepare");
    EXPECT_EQ(recovered.doc()["job"]["state"], "failed");
    const std::string prefix = svcsnap("show sx --json").doc()["job"]["records"][0]["snapName"];
    const json state = simState();
    for (const auto& v : state["volumes"]) EXPECT_NE(v["name"].get<std::string>().rfind(prefix.substr(0, 8), 0), 0u) << v;
    for (const auto& g : state["consistencyGroups"]) EXPECT_NE(g["name"], prefix + "_CG");
    EXPECT_TRUE(copiesOf("sx_db").empty());
    CliRun nothing = flow("recover sx --quiet");
    EXPECT_EQ(nothing.status, 0);
    EXPECT_TRUE(contains(nothing.out, "nothing to recover")) << nothing.out;
}

TEST_F(JobSafety, TwoCataloguesOnOneArrayGiveTheSameJobNameTheirOwnNames) {
    simulatedHost("tc_db", "21000024FF4AF105", 2);
    const std::string other = dir_ + "/other.ini";
    std::ofstream(other) << "[svcsnap]\ncatalogue = " << dir_ << "/other/catalogue.db\ndevices = simulated\n"
                         << "sim_initiators = 21000024FF4AF105\n";
    auto otherHost = [&](const std::string& args, const std::string& input = "") {
        return svcsnap(args, input, "SVCSNAP_CONFIG=" + other + " ZQ_TIME_SCALE=" + timeScale_);
    };
    ASSERT_EQ(otherHost(addHttps(), std::string(kPassword) + "\n").status, 0);
    ASSERT_EQ(otherHost("host rescan").status, 0);

    CliRun first = flow("snapshot nightly /dev/sdb /dev/sdc --group --quiet");
    ASSERT_EQ(first.status, 0) << first.out << first.err;
    CliRun second = otherHost("snapshot nightly /dev/sdb /dev/sdc --group --quiet");
    ASSERT_EQ(second.status, 0) << second.out << second.err;
    std::set<std::string> targets, groups;
    for (const auto& c : copiesOf("tc_db")) {
        targets.insert(c["target"].get<std::string>());
        groups.insert(c["group"].get<std::string>());
        EXPECT_EQ(c["state"], "copying");
        EXPECT_LE(c["group"].get<std::string>().size(), 63u);
    }
    EXPECT_EQ(targets.size(), 4u);
    EXPECT_EQ(groups.size(), 2u);
    EXPECT_EQ(flow("delete nightly --quiet").status, 0);
    EXPECT_EQ(copiesOf("tc_db").size(), 2u) << "the other catalogue's copies stay";
    EXPECT_EQ(otherHost("delete nightly --quiet").status, 0);
    EXPECT_TRUE(copiesOf("tc_db").empty());
}

TEST_F(JobSafety, TheCatalogueIsPrivateANamedDirectoryMustExistAndVersionMakesNothing) {
    EXPECT_EQ(svcsnap("version").status, 0);
    EXPECT_EQ(svcsnap("--help").status, 0);
    EXPECT_EQ(svcsnap("list --help").status, 0);
    EXPECT_FALSE(fs::exists(dir_ + "/data")) << "neither catalogue nor log made";

    CliRun missing = svcsnap("--catalogue " + dir_ + "/nowhere/catalogue.db list");
    EXPECT_EQ(missing.status, 1);
    EXPECT_TRUE(contains(missing.err, "does not exist")) << missing.err;
    EXPECT_FALSE(fs::exists(dir_ + "/nowhere"));

    const std::string given = dir_ + "/given.db";
    std::ofstream(given) << "";
    ASSERT_EQ(chmod(given.c_str(), 0644), 0);
    ASSERT_EQ(svcsnap("--catalogue " + given + " " + addHttps(), std::string(kPassword) + "\n").status, 0);
    struct stat st {};
    ASSERT_EQ(stat(given.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << "it holds the array's password now";
}
