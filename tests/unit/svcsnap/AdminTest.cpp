// svcsnap for the storage administrator, each command a process of its own
// against svcsim as a process: a revert that is confirmed and refused while
// a host may read a source, the copies as the array holds them, a job's
// steps kept as its history, the log lines of its last steps only, and what
// the array holds of the catalogue's jobs.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "Catalogue.h"
#include "CliFixture.h"
#include "Jobs.h"

using namespace clitest;
namespace fs = std::filesystem;

namespace {

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class Admin : public SvcsnapCli {
protected:
    // A disk of the simulated host held as a mounted file system is.
    void holdDisk(const std::string& device, const std::string& holder) {
        const std::string path = svcsnap("config show --json").doc()["agent"]["simState"];
        json state = json::parse(std::ifstream(path));
        state["holders"][device] = holder;
        std::ofstream(path) << state.dump();
    }

    static json volumeNamed(const std::string& name) {
        const json state = simState();
        for (const auto& v : state["volumes"])
            if (v["name"] == name) return v;
        return json();
    }
};

}  // namespace

TEST_F(Admin, RevertIsConfirmedAndRefusedWhileAHostMayReadASource) {
    simulatedHost("rs_db", "21000024FF4AF201", 2, 16, false);
    ASSERT_EQ(flow("snapshot before /dev/sdb /dev/sdc --quiet").status, 0);
    const uint64_t snapped = generationOf("rs_db0");
    ASSERT_TRUE(simPost("write", {{"volume", "rs_db0"}, {"percent", 30}})["generation"].is_number());
    const uint64_t written = generationOf("rs_db0");
    ASSERT_NE(written, snapped);

    // Not a terminal and no --yes: a usage error, in JSON too.
    CliRun unasked = flow("revert before --json");
    EXPECT_EQ(unasked.status, 64) << unasked.err;
    EXPECT_EQ(unasked.doc()["exitStatus"], 64);
    EXPECT_TRUE(contains(unasked.doc()["error"], "--yes")) << unasked.out;

    // Both sources are mapped to the host, the second is mounted too.
    holdDisk("/dev/sdc", "mounted on /srv");
    CliRun refused = flow("revert before --yes --json");
    EXPECT_EQ(refused.status, 1) << refused.out;
    const json sources = refused.doc()["sources"];
    ASSERT_EQ(sources.size(), 2u) << refused.out;
    EXPECT_EQ(sources[0]["mappedTo"], json::array({"rs_dbhost"}));
    EXPECT_FALSE(sources[0].contains("inUse"));
    EXPECT_TRUE(contains(sources[1].value("inUse", ""), "mounted on /srv")) << sources[1];
    EXPECT_TRUE(contains(refused.err, "/dev/sdb is mapped to host rs_dbhost")) << refused.err;
    EXPECT_TRUE(contains(refused.err, "--force")) << refused.err;

    // On a terminal it asks; anything but yes changes nothing.
    CliRun declined = onTerminal("revert before --force", "n\n");
    EXPECT_EQ(declined.status, 1) << declined.out;
    EXPECT_TRUE(contains(declined.out, "[y/N]")) << declined.out;
    EXPECT_TRUE(contains(declined.out, "not confirmed")) << declined.out;
    EXPECT_EQ(generationOf("rs_db0"), written);
    json steps = svcsnap("history before --json").doc()["steps"];
    ASSERT_EQ(steps.size(), 2u) << "no step ran: " << steps;

    // Confirmed with --force: the free source is restored, the engine
    // still refuses the mounted one.
    CliRun confirmed = onTerminal("revert before --force", "y\n");
    EXPECT_EQ(confirmed.status, 2) << confirmed.out;
    EXPECT_EQ(generationOf("rs_db0"), snapped);
    steps = svcsnap("history before --json").doc()["steps"];
    ASSERT_EQ(steps.size(), 4u) << steps;
    EXPECT_EQ(steps[3]["step"], "revert");
    EXPECT_EQ(steps[3]["records"][0]["status"], 22);
    EXPECT_EQ(steps[3]["records"][1]["errorCode"], 60551);
    EXPECT_EQ(steps[3]["records"][1]["succeeded"], false);
    EXPECT_EQ(steps[3]["succeeded"], 1);
}

TEST_F(Admin, CopiesShowTheirTargetMappingGroupAndProgressAndEveryStepIsKept) {
    simulatedHost("cv_db", "21000024FF4AF202", 2, 1024, false);
    CliRun clone = flow("clone cl /dev/sdb /dev/sdc --group --copy-rate 50 --json --quiet");
    ASSERT_EQ(clone.status, 0) << clone.out << clone.err;
    std::map<std::string, json> onArray;  // the array's mapping per source
    for (const auto& m : copiesOf("cv_db")) onArray[m["source"].get<std::string>()] = m;
    ASSERT_EQ(onArray.size(), 2u);
    const json m0 = onArray["cv_db0"];
    json copy = lastRecords(clone)[0]["copy"];
    EXPECT_EQ(copy["type"], "clone");
    EXPECT_EQ(copy["targetName"], m0["target"]);
    EXPECT_EQ(copy["targetUid"], volumeNamed(m0["target"])["uid"]);
    EXPECT_EQ(copy["group"], m0["group"]);

    // status reads the array: the mapping, its state and how far it copied.
    CliRun status = flow("status cl --json --quiet");
    ASSERT_EQ(status.status, 0) << status.err;
    copy = lastRecords(status)[0]["copy"];
    EXPECT_EQ(copy["fromArray"], true);
    EXPECT_EQ(copy["mapping"], m0["name"]);
    EXPECT_EQ(copy["state"], "copying");
    ASSERT_TRUE(copy["progress"].is_number()) << copy;
    EXPECT_GE(copy["progress"].get<int>(), 0);
    EXPECT_LE(copy["progress"].get<int>(), 100);
    EXPECT_EQ(copy["mappedTo"], json::array());

    // show gives the same; one device whole; the log by level, with names.
    CliRun shown = svcsnap("show cl --json");
    ASSERT_EQ(shown.status, 0) << shown.err;
    EXPECT_EQ(shown.doc()["job"]["records"][1]["copy"]["mapping"], onArray["cv_db1"]["name"]);
    CliRun one = svcsnap("show cl --device /dev/sdc --json");
    ASSERT_EQ(one.status, 0) << one.err;
    ASSERT_EQ(one.doc()["job"]["records"].size(), 1u);
    const json record = one.doc()["job"]["records"][0];
    EXPECT_EQ(record["device"], "/dev/sdc");
    EXPECT_FALSE(record["log"].empty());
    EXPECT_TRUE(contains(svcsnap("show cl --device /dev/sdc").out, onArray["cv_db1"]["target"]));
    EXPECT_EQ(svcsnap("show cl --device /dev/sdz").status, 66);
    EXPECT_EQ(svcsnap("show cl --level 7").status, 64);
    size_t all = 0, errors = 0;
    const json everyLine = svcsnap("show cl -v --json").doc()["job"]["records"][0]["log"];
    for (const auto& l : everyLine) all += l["level"] == 0;
    const json errorLines = svcsnap("show cl -v --level error --json").doc()["job"]["records"][0]["log"];
    for (const auto& l : errorLines) {
        EXPECT_EQ(l["level"], 2) << l;
        EXPECT_EQ(l["levelName"], "error");
        ++errors;
    }
    EXPECT_GT(all, 0u) << "detail lines without a filter";
    EXPECT_GT(errors, 0u);
    EXPECT_FALSE(contains(svcsnap("show cl -v --level 1").out, " detail ")) << "a filtered log has no detail line";

    // An array that cannot be reached never fails show.
    const std::string id = "0000020060C14A2C";
    ASSERT_EQ(svcsnap("array add 127.0.0.1 --http --port 1 --user admin --password-stdin --id " + id,
                      std::string(kPassword) + "\n")
                  .status,
              0);
    CliRun away = svcsnap("show cl --json");
    EXPECT_EQ(away.status, 0) << away.err;
    EXPECT_FALSE(away.doc()["warnings"].empty());
    copy = away.doc()["job"]["records"][0]["copy"];
    EXPECT_TRUE(copy.contains("arrayError")) << copy;
    EXPECT_EQ(copy["targetName"], m0["target"]);
    ASSERT_EQ(svcsnap(addHttp(), std::string(kPassword) + "\n").status, 0);

    // Each step is kept with its outcome per device, not overwritten.
    CliRun history = svcsnap("history cl --json");
    ASSERT_EQ(history.status, 0) << history.err;
    const json steps = history.doc()["steps"];
    ASSERT_EQ(steps.size(), 3u) << steps;
    EXPECT_EQ(steps[0]["step"], "prepare");
    EXPECT_EQ(steps[0]["records"][1]["status"], 1);
    EXPECT_EQ(steps[1]["step"], "snap");
    EXPECT_EQ(steps[1]["records"][1]["status"], 5);
    EXPECT_EQ(steps[2]["step"], "status");
    for (const auto& s : steps) {
        EXPECT_EQ(s["result"], 0);
        EXPECT_EQ(s["state"], "done");
        EXPECT_EQ(s["succeeded"], 2);
        EXPECT_EQ(s["startedAt"].get<std::string>().find('T'), 10u) << s;
    }
    EXPECT_EQ(svcsnap("history nosuchjob").status, 66);

    // The log keeps the last log_steps steps: prepare's lines go.
    EXPECT_TRUE(contains(svcsnap("show cl -v").out, "prepareDevices"));
    std::ofstream(config_, std::ios::app) << "log_steps = 2\nscan_timeout = 5\n";
    ASSERT_EQ(flow("status cl --quiet").status, 0);
    const std::string kept = svcsnap("show cl -v").out;
    EXPECT_FALSE(contains(kept, "prepareDevices")) << "lines of the prepare are dropped";
    EXPECT_FALSE(contains(kept, "snapDevices"));
    EXPECT_TRUE(contains(kept, "zqso_isMapped"));
    EXPECT_EQ(svcsnap("history cl --json").doc()["steps"].size(), 4u) << "the history stays whole";
    EXPECT_TRUE(contains(svcsnap("--help").out, "log_steps"));

    EXPECT_EQ(flow("delete cl --quiet").status, 0);
}

TEST_F(Admin, ArrayShowListsWhatTheCatalogueMadeAndFlagsOrphans) {
    simulatedHost("in_db", "21000024FF4AF203", 3, 16, false);
    ASSERT_EQ(flow("snapshot kept /dev/sdb /dev/sdc --group --quiet").status, 0);
    ASSERT_EQ(flow("snapshot lost /dev/sdd --quiet").status, 0);
    // A volume of another catalogue's naming, and one of nobody's.
    ASSERT_EQ(simPost("volumes", {{"name", "foreign_zz99_1"}, {"sizeMiB", 16}})["returnValue"], 0);
    ASSERT_EQ(simPost("volumes", {{"name", "in_other"}, {"sizeMiB", 16}})["returnValue"], 0);
    const std::string lostTarget = copiesOf("in_db2").at(0)["target"];
    {
        // The job leaves the catalogue behind the agent's back; its copy stays.
        svcsnap::Catalogue c(dir_ + "/data/catalogue.db");
        svcsnap::Jobs jobs(c);
        ASSERT_TRUE(jobs.remove(jobs.find("lost")->id));
    }

    CliRun shown = svcsnap("array show 0000020060C14A2C --json");
    ASSERT_EQ(shown.status, 0) << shown.err;
    std::map<std::string, int> kinds;
    std::set<std::string> orphans;
    const json objects = shown.doc()["objects"];
    for (const auto& o : objects) {
        const std::string name = o["name"];
        ++kinds[o["kind"].get<std::string>()];
        EXPECT_TRUE(name != "foreign_zz99_1" && name != "in_other") << name;
        if (o["orphan"].get<bool>()) {
            orphans.insert(o["kind"].get<std::string>() + " " + name);
            EXPECT_EQ(o["why"], "no job names it");
            EXPECT_TRUE(o["job"].is_null());
        } else {
            EXPECT_EQ(o["job"], "kept") << o;
        }
    }
    EXPECT_EQ(kinds, (std::map<std::string, int>{{"group", 1}, {"mapping", 3}, {"target", 3}}));
    EXPECT_EQ(orphans, (std::set<std::string>{"target " + lostTarget, "mapping " + lostTarget}));
    EXPECT_EQ(shown.doc()["orphans"], 2);

    // By the cluster's name too; an unknown array is 66, one out of reach 69.
    CliRun text = svcsnap("array show svcsim");
    EXPECT_EQ(text.status, 0) << text.err;
    EXPECT_TRUE(contains(text.out, "yes: no job names it")) << text.out;
    EXPECT_EQ(svcsnap("array show 0000FFFFFFFFFFFF").status, 66);
    ASSERT_EQ(svcsnap("array add 127.0.0.1 --http --port 1 --user admin --password-stdin --id 0000EEEEEEEEEEEE",
                      std::string(kPassword) + "\n")
                  .status,
              0);
    EXPECT_EQ(svcsnap("array show 0000EEEEEEEEEEEE").status, 69);
}
