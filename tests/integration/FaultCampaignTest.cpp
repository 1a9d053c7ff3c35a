// Every flow, locally and through a proxy, under every fault the simulator
// can inject, at a chosen request of the flow. After each run one checker
// judges the records against the array (a record reported done is done on
// the array, a failure carries an error), looks for objects no record names
// (half-built targets, mappings, groups, host mappings), cleans up with
// unmap and delete and expects the array as it was before the copies, and
// bounds the call's time by its settings.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <iterator>
#include <map>

#include "HostFlowTest.h"

namespace flowtest {
namespace {

using arraysim::Fault;
using arraysim::JobScript;
using arraysim::Model;

enum class Flow { Prepare, Snap, Map, Unmap, Revert, Delete, Reconcile };
enum class Kind {
    Http401, Http500, Drop, Stall,                      // transport, on the n-th request of a kind
    Refused, Terminated, Killed, Exception, NeverEnds,  // the n-th call of a method
    TargetVanishes, MappingVanishes,                    // before the n-th request of a kind
    StuckStopping, PoolOffline,                         // for the whole call
};

struct When {
    const char* key;  // operation or method name, "*" any request
    int nth;          // 1-based
};

// What a flow sends: requests at which transport and object faults hit, and
// the methods it calls (refusals and jobs hit their first call).
struct FlowRow {
    Flow flow;
    const char* name;
    std::vector<When> requests;
    std::vector<const char*> methods;
};

const std::vector<FlowRow>& flows() {
    static const std::vector<FlowRow> rows{
        {Flow::Prepare, "Prepare", {{"*", 1}, {"*", 12}, {"CreateOrModifyElementFromStoragePool", 2}, {"ModifySynchronizedSet", 2}},
         {"CreateSynchronizedSet", "CreateOrModifyElementFromStoragePool", "AttachReplica", "ModifySynchronizedSet"}},
        {Flow::Snap, "Snap", {{"*", 1}, {"*", 6}, {"ModifySynchronizedSet", 1}}, {"ModifySynchronizedSet"}},
        {Flow::Map, "Map", {{"*", 1}, {"*", 8}, {"ExposePaths", 1}}, {"ExposePaths"}},
        {Flow::Unmap, "Unmap", {{"*", 1}, {"*", 8}, {"HidePaths", 2}}, {"HidePaths"}},
        {Flow::Revert, "Revert", {{"*", 1}, {"*", 10}, {"AttachReplica", 1}, {"ModifySynchronization", 2}},
         {"AttachReplica", "ModifySynchronization"}},
        {Flow::Delete, "Delete", {{"*", 1}, {"*", 10}, {"ModifySynchronization", 2}, {"ReturnToStoragePool", 2}},
         {"DeleteSynchronizedSet", "ModifySynchronizedSet", "ModifySynchronization", "ReturnToStoragePool"}},
        {Flow::Reconcile, "Reconcile", {{"*", 1}, {"*", 3}, {"GetInstance", 2}}, {}},
    };
    return rows;
}

struct KindRow {
    Kind kind;
    const char* name;
    enum { PerRequest, PerMethod, WholeCall } at;
};
const std::vector<KindRow>& kinds() {
    static const std::vector<KindRow> rows{
        {Kind::Http401, "Http401", KindRow::PerRequest},       {Kind::Http500, "Http500", KindRow::PerRequest},
        {Kind::Drop, "Dropped", KindRow::PerRequest},          {Kind::Stall, "Stalled", KindRow::PerRequest},
        {Kind::Refused, "Refused", KindRow::PerMethod},        {Kind::Terminated, "JobTerminated", KindRow::PerMethod},
        {Kind::Killed, "JobKilled", KindRow::PerMethod},       {Kind::Exception, "JobException", KindRow::PerMethod},
        {Kind::NeverEnds, "JobNeverEnds", KindRow::PerMethod}, {Kind::TargetVanishes, "TargetVanishes", KindRow::PerRequest},
        {Kind::MappingVanishes, "MappingVanishes", KindRow::PerRequest},
        {Kind::StuckStopping, "StuckStopping", KindRow::WholeCall}, {Kind::PoolOffline, "PoolOffline", KindRow::WholeCall},
    };
    return rows;
}

struct Case {
    const FlowRow* flow;
    const KindRow* kind;
    When when;
    bool proxy;
};

std::vector<Case> matrix() {
    std::vector<Case> all;
    for (const FlowRow& f : flows())
        for (const KindRow& k : kinds())
            for (bool proxy : {false, true}) {
                std::vector<When> whens;
                if (k.at == KindRow::PerRequest) whens = f.requests;
                if (k.at == KindRow::PerMethod)
                    for (const char* m : f.methods) whens.push_back({m, 1});
                if (k.at == KindRow::WholeCall) whens.push_back({"*", 0});
                // a stall costs real time, and a proxy runs the same array
                // steps as the host: their first request or method only
                if ((k.kind == Kind::Stall || proxy) && !whens.empty()) whens = {whens.front()};
                for (const When& w : whens) all.push_back({&f, &k, w, proxy});
            }
    return all;
}

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.flow->name << " " << c.kind->name << " at " << c.when.key << " #" << c.when.nth << (c.proxy ? " via proxy" : "");
}

std::string caseName(const ::testing::TestParamInfo<Case>& info) {
    const Case& c = info.param;
    std::string when = c.when.nth ? std::string(std::strcmp(c.when.key, "*") ? c.when.key : "Request") +
                                        std::to_string(c.when.nth)
                                  : "";
    return std::string(c.flow->name) + "_" + c.kind->name + (when.empty() ? "" : "_At" + when) +
           (c.proxy ? "_ViaProxy" : "");
}

// Settings of the campaign and the longest call they allow (virtual seconds).
constexpr int kRecords = 2;
constexpr int kPrepareWait = 1;          // SMCONFIG_NAME_SYNCHRONOUS_FLASHCOPY_OPERATION_WAIT_INTERVAL_IN_SEC
constexpr int kStopWaitSecs = 60;        // IBMSVC_DETACH_STOP_WAIT_SECS
constexpr int kMountRetrySecs = 60;      // nMountRetrySeconds
constexpr int kRevertWait = 20;          // the revert's least wait
constexpr int kPolls = 60;               // seconds of polls of a job that fails
constexpr int kConfirmSecs = 60 * 10;    // a start or a group's prepare confirmed: 60 polls, 10 s apart
constexpr int kClientTimeoutSecs = 300;  // ZQ_SMIS_CLIENT_TIMEOUT_IN_SEC: 0.3 s real at the clock's scale
constexpr int64_t kStallRealMs = 800;

// The longest watch of a method's job (tries x interval).
int64_t jobLimitSeconds(const std::string& method) {
    if (method == "AttachReplica") return 1500 * 45;
    if (method == "CreateOrModifyElementFromStoragePool") return 500 * 15;
    return 60 * 10;
}

int64_t boundSeconds(const Case& c) {
    int64_t waits = kPolls;
    switch (c.flow->flow) {
        case Flow::Prepare: waits += 4 * kPrepareWait + kConfirmSecs; break;
        case Flow::Snap: waits += kConfirmSecs; break;
        case Flow::Map: waits += kMountRetrySecs; break;
        case Flow::Revert: waits += kRecords * 2 * kRevertWait; break;
        case Flow::Delete: waits += kRecords * kStopWaitSecs; break;
        default: break;
    }
    // one fault: at most one job watched to its limit
    return waits + (c.kind->kind == Kind::NeverEnds ? jobLimitSeconds(c.when.key) : 0);
}

class FaultCampaign : public HostFlowTest, public ::testing::WithParamInterface<Case> {
protected:
    void SetUp() override {
        HostFlowTest::SetUp();
        for (auto [key, value] : {std::pair<const char*, int>{"IBMSVC_DETACH_STOP_WAIT_SECS", kStopWaitSecs},
                                  {"IBMSVC_DETACH_STOP_WAIT_INTERVAL", 10},
                                  {"nMountRetrySeconds", kMountRetrySecs}})
            fx.config().set("HostModule", key, std::to_string(value));
        proxy.setEngine(zqso_execSnapEngineOp);
        fx.host().addProxy("proxy-b", &proxy);
    }

    // Volumes, FlashCopy mappings, groups and host mappings, by name.
    std::set<std::string> objects() {
        return fx.sim().withModel([](Model& m, int64_t) {
            std::set<std::string> all;
            for (const auto& v : m.state.volumes) all.insert("volume " + v.second.name);
            for (const auto& f : m.state.fcMappings)
                all.insert("mapping " + m.state.volumes.at(f.second.sourceId).name + "->" +
                           m.state.volumes.at(f.second.targetId).name);
            for (const auto& g : m.state.groups) all.insert("group " + g.second.name);
            for (const auto& h : m.state.hostMappings)
                all.insert("hostmap " + m.state.hosts.at(h.second.hostId).name + ":" +
                           m.state.volumes.at(h.second.volumeId).name);
            return all;
        });
    }
    static std::string show(const std::set<std::string>& s) {
        std::string text;
        for (const auto& e : s) text += "  " + e + "\n";
        return text;
    }

    // Brings the batch to the state the flow starts from, without faults.
    void stage(Flow flow) {
        fibreChannelHost();
        fx.setEngineId(kSnapshotEngine);
        fx.shareArrayWith(proxy);
        sources = addSources(kRecords);
        baseline = objects();
        batch = batchFor(sources, "s", [](TestSnapInfo& r) {
            useGroup(r);
            r.setConfig("SMCONFIG_NAME_SYNCHRONOUS_FLASHCOPY_OPERATION_WAIT_INTERVAL_IN_SEC", kPrepareWait);
        });
        if (flow == Flow::Prepare) return;
        ASSERT_EQ(prepare(*batch), 0) << dump(*batch);
        if (flow == Flow::Snap) return;
        ASSERT_EQ(snap(*batch), 0) << dump(*batch);
        for (size_t i = 0; i < batch->size(); ++i) atSnap.push_back(fx.sim().generation(targetOf((*batch)[i])));
        if (flow == Flow::Unmap) {
            ASSERT_EQ(map(*batch), 0) << dump(*batch);
        }
        if (flow == Flow::Revert)
            for (const auto& s : sources) fx.sim().hostWrite(s);
    }

    // Volumes, mappings or groups that are not part of the baseline.
    std::vector<std::string> made(const char* what) {
        std::vector<std::string> names;
        for (const auto& o : objects())
            if (!baseline.count(o) && o.rfind(what, 0) == 0) names.push_back(o.substr(std::strlen(what) + 1));
        return names;
    }

    void inject(const Case& c) {
        const When& w = c.when;
        const int skip = w.nth - 1;
        auto& faults = fx.sim().faults();
        auto job = [&](JobScript s) { faults.add(Fault::asJob(w.key, std::move(s), 1).after(skip)); };
        switch (c.kind->kind) {
            case Kind::Http401: faults.add(Fault::http(w.key, 401, 1).after(skip)); break;
            case Kind::Http500: faults.add(Fault::http(w.key, 500, 1).after(skip)); break;
            case Kind::Drop: faults.add(Fault::drop(w.key, 1).after(skip)); break;
            case Kind::Stall:
                fx.config().set("HostModule", "ZQ_SMIS_CLIENT_TIMEOUT_IN_SEC", std::to_string(kClientTimeoutSecs));
                faults.add(Fault::stall(w.key, kStallRealMs, 1).after(skip));
                break;
            case Kind::Refused: faults.add(Fault::returns(w.key, 4, 1).after(skip)); break;
            case Kind::Terminated: job(JobScript::endingIn(8, "terminated by the operator")); break;
            case Kind::Killed: job(JobScript::endingIn(9, "killed by the operator")); break;
            case Kind::Exception: job(JobScript::endingIn(10, "the node went offline")); break;
            case Kind::NeverEnds: job(JobScript::neverEnding()); break;
            case Kind::TargetVanishes:
            case Kind::MappingVanishes: {
                const bool volume = c.kind->kind == Kind::TargetVanishes;
                faults.add(Fault::onRequest(w.key, [this, volume] {
                               // the newest copy the flow knows or is making
                               auto names = made(volume ? "volume" : "mapping");
                               if (names.empty()) return;
                               const std::string name = names.back();
                               if (volume) fx.sim().vanish("volume", name);
                               else if (auto m = fx.mappingOfTarget(name.substr(name.find("->") + 2)))
                                   fx.sim().vanish("mapping", m->name);
                           }).after(skip));
                break;
            }
            case Kind::StuckStopping:
                for (size_t i = 0; i < batch->size(); ++i)
                    if (auto m = fx.mappingOfTarget(targetOf((*batch)[i]))) {
                        fx.sim().setStuckStopping(m->name, true);
                        stuck.push_back(m->name);
                    }
                break;
            case Kind::PoolOffline: fx.sim().setPoolOnline("Pool0", false); break;
        }
    }

    void clearFaults() {
        fx.sim().faults().clear();
        fx.sim().setPoolOnline("Pool0", true);
        for (const auto& m : stuck)
            if (fx.mapping(m) || fx.mapping(m + "_ZQ_TO_BE_DEL")) fx.sim().setStuckStopping(fx.mapping(m) ? m : m + "_ZQ_TO_BE_DEL", false);
        fx.config().set("HostModule", "ZQ_SMIS_CLIENT_TIMEOUT_IN_SEC", "20000");
    }

    int run(Flow flow) {
        switch (flow) {
            case Flow::Prepare: return prepare(*batch);
            case Flow::Snap: return snap(*batch);
            case Flow::Map: return map(*batch);
            case Flow::Unmap: return unmap(*batch);
            case Flow::Revert: return revert(*batch);
            case Flow::Delete: return remove(*batch);
            case Flow::Reconcile: return reconcile(*batch);
        }
        return -1;
    }

    // Is record i's outcome true on the array? Empty when it is.
    std::string judge(Flow flow, size_t i) {
        TestSnapInfo& r = (*batch)[i];
        const int st = int(r.status());
        const std::string target = targetOf(r);
        const auto m = target.empty() ? std::nullopt : fx.mappingOfTarget(target);
        const int state = m ? fx.syncState(m->name) : -1;
        auto need = [&](bool ok, const std::string& what) { return ok ? std::string() : what; };
        switch (flow) {
            case Flow::Prepare:
                if (st == 1) return need(m && state == 4, "prepared, but its mapping is not (state " + std::to_string(state) + ")");
                return need((st == 2 || st == 6) && target.empty(), "a failed prepare leaves status 2 and no target");
            case Flow::Snap:
                if (st == 5) return need(state == 5 || state == 6, "started, but its mapping is not");
                return need(st == 6, "a failed snap is status 6");
            case Flow::Map:
                if (st == 12) return need(fx.hostsOfVolume(target).count("testhost") && volumeOfDisk(diskOf(r)) == target,
                                          "mapped, but no host mapping or disk");
                return std::string();
            case Flow::Unmap:
                if (st == 14) return need(target.empty() || fx.hostsOfVolume(target).empty(), "unmapped, but still mapped");
                return need(st == 15, "a failed unmap is status 15");
            case Flow::Revert:
                if (st == 22) return need(fx.sim().generation(sources[i]) == atSnap[i], "restored, but the source holds other data");
                // A copy that is gone keeps the status the mapped-state query gave it.
                return need(st == 23 || (st == 0 && target.empty()), "a failed revert is status 23");
            case Flow::Delete:
                if (st == 20) return need(target.empty() || !m, "deleted, but its copy is still there");
                return need(st == 21, "a failed delete is status 21");
            case Flow::Reconcile:
                if (st == 24) return need(target.empty(), "marked deleted outside, but its copy exists");
                return need(st == 5, "reconcile changes only the status of lost copies");
        }
        return std::string();
    }
    static bool succeeded(Flow flow, int status) {
        static const std::map<Flow, int> ok{{Flow::Prepare, 1}, {Flow::Snap, 5},    {Flow::Map, 12},      {Flow::Unmap, 14},
                                            {Flow::Revert, 22}, {Flow::Delete, 20}, {Flow::Reconcile, 5}};
        return status == ok.at(flow) || (flow == Flow::Reconcile && status == 24);
    }

    // Every object made since the baseline belongs to a record's copy: its
    // target, its mapping (forward, or reverse after a revert), its group,
    // its host mapping to this host.
    void expectNothingHalfBuilt() {
        std::set<std::string> known, groups;
        for (size_t i = 0; i < batch->size(); ++i) {
            const std::string t = targetOf((*batch)[i]);
            if (!t.empty()) {
                known.insert("volume " + t);
                known.insert("mapping " + sources[i] + "->" + t);
                known.insert("mapping " + t + "->" + sources[i]);
                known.insert("hostmap testhost:" + t);
            }
            if (auto g = (*batch)[i].meta(102)) known.insert("group " + *g);
        }
        for (const auto& o : objects())
            if (!baseline.count(o)) {
                EXPECT_TRUE(known.count(o)) << "no record names " << o;
            }
    }

    zqtest::TestOSUtil proxy{"proxy-b"};
    std::unique_ptr<RecordBatch> batch;
    std::set<std::string> baseline;
    std::vector<uint64_t> atSnap;
    std::vector<std::string> stuck;
};

TEST_P(FaultCampaign, RecordsTellTheArraysTruthAndNothingIsLeftBehind) {
    const Case& c = GetParam();
    const Flow flow = c.flow->flow;
    ASSERT_NO_FATAL_FAILURE(stage(flow));
    if (c.proxy)
        for (size_t i = 0; i < batch->size(); ++i) (*batch)[i].setConfig("SMCONFIG_NAME_REMOTE_SNAP_PX", std::string("proxy-b"));
    const size_t before = fx.sim().requestLog().size();
    inject(c);
    const int64_t start = fx.clock().nowMs();
    const int rc = run(flow);
    const int64_t took = fx.clock().nowMs() - start;
    const bool faultLeft = !fx.sim().faults().list().empty();
    if (std::getenv("ZQ_FAULTS_TRACE")) {
        const auto log = fx.sim().requestLog().snapshot();
        for (size_t i = before; i < log.size(); ++i)
            std::cout << (i - before + 1) << " " << log[i].operation << " " << log[i].method << " " << log[i].httpStatus << " "
                      << log[i].returnValue << "\n";
        std::cout << dump(*batch);
    }
    clearFaults();

    // records against the array
    size_t ok = 0, explained = 0;
    for (size_t i = 0; i < batch->size(); ++i) {
        TestSnapInfo& r = (*batch)[i];
        const std::string wrong = judge(flow, i);
        EXPECT_TRUE(wrong.empty()) << "record " << i << " (status " << int(r.status()) << "): " << wrong << "\n" << r.dump();
        if (succeeded(flow, int(r.status()))) ++ok;
        if (r.errorCode() != 0) ++explained;
    }
    // a failure is told
    if (ok < batch->size()) {
        EXPECT_GT(explained, 0u) << "records failed without an error\n" << dump(*batch);
    }
    if (flow == Flow::Prepare || flow == Flow::Snap || flow == Flow::Delete) {  // the others have their own rules
        // A proxy's partial result is no return code of the remote frame: the
        // call fails, and the records tell which devices were done.
        EXPECT_EQ(rc, ok == batch->size() ? 0 : ok && !c.proxy ? 2 : 1) << "result against the records";
    } else if (rc == 0) {
        EXPECT_EQ(ok, batch->size()) << "success reported with records not done";
    }
    if (faultLeft && flow != Flow::Reconcile) {
        EXPECT_EQ(rc, 0) << "the fault never hit, the flow must succeed";
    }
    EXPECT_LE(took, boundSeconds(c) * 1000) << "virtual time of the call";
    expectNothingHalfBuilt();

    // nothing lost: unmap and delete through the records give the array back
    // (once a revert's reverse copies have finished)
    if (flow == Flow::Revert) fx.clock().advanceMs(4 * 3600 * 1000);
    unmap(*batch);
    for (size_t i = 0; i < batch->size(); ++i)
        if (int(batch->operator[](i).status()) != 20) (*batch)[i].setStatus(ZQSO::SNAP_STATUS_SNAP_STARTED);
    remove(*batch);
    EXPECT_EQ(statuses(*batch), std::vector<int>(kRecords, 20)) << dump(*batch);
    const auto after = objects();
    std::set<std::string> left, gone;
    std::set_difference(after.begin(), after.end(), baseline.begin(), baseline.end(), std::inserter(left, left.end()));
    std::set_difference(baseline.begin(), baseline.end(), after.begin(), after.end(), std::inserter(gone, gone.end()));
    EXPECT_TRUE(left.empty()) << "left on the array after the clean-up:\n" << show(left);
    EXPECT_TRUE(gone.empty()) << "lost from the array:\n" << show(gone);
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultCampaign, ::testing::ValuesIn(matrix()), caseName);

}  // namespace
}  // namespace flowtest
