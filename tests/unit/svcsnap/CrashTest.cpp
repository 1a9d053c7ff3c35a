// The agent killed at a request of each flow. svcsnap runs as a child
// process against svcsim as a process; the simulator holds the flow's n-th
// CIM request, the agent is killed with SIGKILL while it waits for the
// answer, and the held request is then served (the array did it, the agent
// never heard). Then the job is recovered (or its command run again) and
// deleted. Each case is judged by what the array and the catalogue hold:
// right after the kill the catalogue names every copy the array holds
// (while a prepare runs, every one that could be used), and after the
// delete nothing of the job is left on the array while the catalogue still
// holds the job with all its records and no copy known.
//
// The cases come from the table: each row is a flow with its setup, killed
// at its first, first + stride, ... request until the flow ends before the
// request comes.
#include <signal.h>

#include <chrono>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include "CliFixture.h"

using namespace clitest;

namespace {

struct FlowCase {
    const char* name;
    const char* setup;   // commands run whole before, ';' between them
    const char* killed;  // the command killed
    int devices;
    int first;   // the first request the agent is killed at
    int stride;  // and every stride-th after it
    // recover: `recover JOB`; resume: `recover JOB --resume`; rerun: the
    // command again (a prepare: the job forgotten with --force, then made
    // again under the same name).
    const char* after;
    // Small sources copy in a few engine seconds; a restore lasts past the
    // engine's look at its start with large ones.
    int sourceMiB = 16;
};

const FlowCase kCases[] = {
    {"SnapshotOf1", "", "snapshot {job} {devices}", 1, 1, 6, "recover"},
    {"SnapshotsOf4", "", "snapshot {job} {devices}", 4, 2, 19, "rerun"},
    {"SnapshotsOf4InAGroup", "", "snapshot {job} {devices} --group", 4, 3, 22, "recover"},
    {"SnapshotsOf8", "", "snapshot {job} {devices}", 8, 5, 41, "resume"},
    {"SnapshotsOf8InAGroup", "", "snapshot {job} {devices} --group", 8, 9, 41, "recover"},
    {"CloneOf1", "", "clone {job} {devices} --copy-rate 100", 1, 2, 7, "rerun"},
    {"ClonesOf4", "", "clone {job} {devices} --copy-rate 100", 4, 4, 29, "recover"},
    {"ClonesOf4InAGroup", "", "clone {job} {devices} --group --copy-rate 100", 4, 6, 27, "rerun"},
    {"ClonesOf8", "", "clone {job} {devices} --copy-rate 100", 8, 8, 57, "recover"},
    {"ClonesOf8InAGroup", "", "clone {job} {devices} --group --copy-rate 100", 8, 10, 55, "resume"},
    {"Snap", "prepare {job} {devices} --group", "snap {job}", 4, 1, 3, "rerun"},
    {"SnapOneByOne", "prepare {job} {devices}", "snap {job}", 4, 2, 5, "recover"},
    {"Map", "snapshot {job} {devices}", "map {job}", 2, 1, 10, "recover"},
    {"Unmap", "snapshot {job} {devices}; map {job}", "unmap {job}", 2, 1, 6, "rerun"},
    {"Revert", "snapshot {job} {devices}", "revert {job} --yes --force", 2, 1, 10, "resume", 512},
    {"Delete", "snapshot {job} {devices} --group; map {job}", "delete {job}", 4, 1, 19, "rerun"},
};

std::string replaced(std::string text, const std::string& what, const std::string& with) {
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size()))
        text.replace(at, what.size(), with);
    return text;
}

std::vector<std::string> commands(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string c; std::getline(in, c, ';');)
        if (c.find_first_not_of(' ') != std::string::npos) out.push_back(c);
    return out;
}

std::vector<std::string> fields(const std::string& uniqueId) {
    std::vector<std::string> out;
    std::istringstream in(uniqueId);
    for (std::string f; std::getline(in, f, '*');) out.push_back(f);
    return out;
}

class AgentKilled : public SvcsnapCli, public ::testing::WithParamInterface<FlowCase> {
protected:
    static void SetUpTestSuite() { startSimulator("0.001"); }

    void SetUp() override {
        SvcsnapCli::SetUp();
        prefix_ = "k" + std::to_string(++rows_) + "_";
        simulatedHost(prefix_, "21000024FF4A" + std::string(4 - std::to_string(rows_).size(), '0') +
                                   std::to_string(rows_),
                      8, GetParam().sourceMiB, false);
        for (int i = 0; i < 8; ++i) devices_.push_back("/dev/sd" + std::string(1, char('b' + i)));
    }

    std::string expand(const std::string& command, const std::string& job, int devices) const {
        std::string list;
        for (int i = 0; i < devices; ++i) list += (i ? " " : "") + devices_[size_t(i)];
        return replaced(replaced(command, "{job}", job), "{devices}", list) + " --quiet";
    }

    // The job's records as `show` gives them.
    json records(const std::string& job) {
        CliRun shown = svcsnap("show " + job + " --json");
        EXPECT_EQ(shown.status, 0) << shown.err;
        return shown.status == 0 ? shown.doc()["job"]["records"] : json::array();
    }

    // The names of the job's objects on the array start with this.
    static std::string namePrefix(const std::string& job, const json& records) {
        if (records.empty()) return job + "_";
        const std::string first = records[0]["snapName"];
        return first.substr(0, first.size() - 1);
    }

    // Right after the kill: every volume of the job on the array that holds
    // a copy is named by a record's copy in the catalogue. A prepare may
    // have left a target whose mapping never started, which the next
    // prepare of the copy takes over.
    static void nothingLost(const json& records, const std::string& prefix, bool preparing) {
        std::set<std::string> named;
        for (const auto& r : records) {
            auto id = r["metadata"].find("1");
            if (id != r["metadata"].end()) {
                const auto f = fields(id->get<std::string>());
                if (f.size() > 6) named.insert(f[6]);
            }
        }
        const json state = simState();
        std::map<std::string, json> mappingOf;
        for (const auto& m : state["fcMappings"]) mappingOf[m["target"].get<std::string>()] = m;
        for (const auto& v : state["volumes"]) {
            const std::string name = v["name"];
            if (name.rfind(prefix, 0) != 0 || named.count(v["uid"].get<std::string>())) continue;
            auto m = mappingOf.find(name);
            const bool neverStarted =
                m == mappingOf.end() || m->second["state"] == "idle_or_copied" || m->second["state"] == "preparing" ||
                m->second["state"] == "prepared";
            EXPECT_TRUE(preparing && neverStarted)
                << "the array holds " << name << (m == mappingOf.end() ? "" : " (" + m->second.dump() + ")")
                << " and the catalogue does not name it";
        }
    }

    // After the delete: nothing of the job on the array, the job and its
    // records in the catalogue, every record without a copy.
    void nothingLeft(const std::string& job, const std::string& prefix, int devices) {
        const json state = simState();
        for (const auto& v : state["volumes"])
            EXPECT_NE(v["name"].get<std::string>().rfind(prefix, 0), 0u) << "left on the array: " << v.dump();
        for (const auto& g : state["consistencyGroups"])
            EXPECT_NE(g["name"].get<std::string>().rfind(prefix, 0), 0u) << "left on the array: " << g.dump();
        for (const auto& m : state["fcMappings"])
            EXPECT_NE(m["source"].get<std::string>().rfind(prefix_, 0), 0u) << "left on the array: " << m.dump();
        const json r = records(job);
        ASSERT_EQ(r.size(), size_t(devices)) << r.dump();
        for (const auto& rec : r) {
            const int s = rec["status"];
            EXPECT_TRUE(s == 20 || s == 24) << rec.dump();
        }
    }

    // Waits, bounded, until no reverse copy of the job runs on the array.
    void reverseCopiesDone(const std::string& prefix) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (std::chrono::steady_clock::now() < until) {
            std::vector<json> running;
            const json state = simState();
            for (const auto& m : state["fcMappings"])
                if (m["source"].get<std::string>().rfind(prefix, 0) == 0) running.push_back(m);
            if (running.empty()) return;
            if (std::chrono::steady_clock::now() + std::chrono::milliseconds(20) >= until)
                ADD_FAILURE() << "the reverse copies did not end: " << json(running).dump();
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

    static int rows_;
    std::string prefix_;
    std::vector<std::string> devices_;
};

int AgentKilled::rows_ = 0;

TEST_P(AgentKilled, AtEveryNthRequestNothingIsLostAndNothingLeftBehind) {
    const FlowCase& c = GetParam();
    const bool prepares = std::string(c.setup).empty();
    int cases = 0;
    for (int n = c.first;; n += c.stride) {
        const std::string job = "j" + std::to_string(n);
        SCOPED_TRACE(std::string(c.name) + ", killed at request " + std::to_string(n) + " of " + c.killed);
        for (const auto& setup : commands(c.setup)) {
            CliRun r = flow(expand(setup, job, c.devices));
            ASSERT_EQ(r.status, 0) << setup << "\n" << r.out << r.err;
        }
        const std::string killed = expand(c.killed, job, c.devices);
        const uint64_t hold = holdFrom(n - 1);
        Background agent = start(killed);
        const bool held = waitForHold(hold, agent);
        if (held) {
            agent.signal(SIGKILL);
            const CliRun gone = agent.wait();
            EXPECT_EQ(gone.signal, SIGKILL) << gone.out << gone.err;
        }
        const CliRun whole = agent.wait();
        release(hold);
        const json before = records(job);
        const std::string prefix = namePrefix(job, before);
        if (!held) {
            // The flow needs fewer requests: this run went to its end.
            EXPECT_EQ(whole.status, 0) << whole.out << whole.err;
        } else {
            ++cases;
            // The job's step reads as interrupted, and the catalogue knows the copies.
            const json jobs = svcsnap("list --json").doc()["jobs"];
            for (const auto& j : jobs) {
                if (j["name"] == job && !j["step"].is_null()) {
                    EXPECT_EQ(j["step"]["state"], "interrupted") << j.dump();
                }
            }
            nothingLost(before, prefix, prepares);

            const std::string after = c.after;
            CliRun recovered;
            if (after == "recover" || after == "resume") {
                recovered = flow("recover " + job + (after == "resume" ? " --resume" : "") + " --quiet --json");
            } else if (prepares) {
                CliRun forgotten = flow("delete " + job + " --forget --force --quiet");
                EXPECT_EQ(forgotten.status, 0) << forgotten.out << forgotten.err;
                recovered = flow(killed);
            } else {
                recovered = flow(killed);
            }
            EXPECT_TRUE(recovered.status == 0 || recovered.status == 1 || recovered.status == 2)
                << after << ": " << recovered.status << "\n" << recovered.out << recovered.err;
            if (std::string(c.killed).rfind("snap ", 0) == 0) {
                // Copies the array had started are kept as started, the others are started now.
                EXPECT_EQ(recovered.status, 0) << recovered.out << recovered.err;
                for (const auto& rec : records(job)) EXPECT_EQ(rec["status"], 5) << rec.dump();
            }
        }
        if (std::string(c.killed).rfind("revert", 0) == 0) reverseCopiesDone(prefix);
        // A delete that ran to its end, or again, left nothing to delete.
        const bool deleted = std::string(c.killed).rfind("delete", 0) == 0 && (!held || std::string(c.after) == "rerun");
        if (!deleted) {
            CliRun removed = flow("delete " + job + " --quiet");
            EXPECT_EQ(removed.status, 0) << removed.out << removed.err;
        }
        nothingLeft(job, prefix, c.devices);
        if (!held || HasFailure()) break;
    }
    EXPECT_GT(cases, 0) << "no request of the flow was held";
    RecordProperty("cases", cases);
}

INSTANTIATE_TEST_SUITE_P(Flows, AgentKilled, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<FlowCase>& info) { return std::string(info.param.name); });

}  // namespace
