// The flows run phase by phase with the records side by side: what that
// must not break. A record that fails in a middle phase
// leaves the others done; a stop that never completes is waited for once and
// its copy deleted by no one; records in and out of a group in one batch;
// two providers, each with its own bound; serial mode gives the same records.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <regex>

#include "FlowTest.h"

namespace flowtest {
namespace {

using arraysim::Fault;

class BatchPhases : public FlowTest {
protected:
    std::unique_ptr<RecordBatch> snapshots(size_t n, const std::string& snapName, bool group,
                                           const std::string& prefix = "db") {
        fx.setEngineId(kSnapshotEngine);
        const auto names = addSources(n, prefix);
        sources.insert(sources.end(), names.begin(), names.end());
        auto batch = batchFor(names, snapName, group ? useGroup : std::function<void(TestSnapInfo&)>());
        EXPECT_EQ(prepare(*batch), 0) << dump(*batch);
        EXPECT_EQ(snap(*batch), 0) << dump(*batch);
        return batch;
    }
    int reconcile(RecordBatch& b) { return zqso_reconcileSnaps(b.records(), b.count(), b.os()); }
    std::set<std::string> sourceSet() const { return std::set<std::string>(sources.begin(), sources.end()); }

    std::vector<std::string> sources;
};

TEST_F(BatchPhases, ARecordFailingInAMiddlePhaseOfDeleteLeavesTheOthersDeleted) {
    auto batch = snapshots(4, "mid", true);
    // The host check before the stop refuses the third copy: another host sees it.
    const std::string kept = targetOf((*batch)[2]);
    fx.addHost("otherhost", {"10000000C9AABB09"});
    fx.mapToHost("otherhost", kept);
    EXPECT_EQ(remove(*batch), 2) << dump(*batch);
    EXPECT_EQ(statuses(*batch), (std::vector<int>{20, 20, 21, 20}));
    TestSnapInfo& failed = (*batch)[2];
    EXPECT_EQ(failed.errorCode(), 60551u) << failed.dump();
    EXPECT_EQ(failed.countLines("Failed to delete the device", 2), 1u);
    for (size_t i : {0, 1, 3}) EXPECT_EQ((*batch)[i].errorCode(), 0u) << (*batch)[i].dump();
    std::set<std::string> left = sourceSet();
    left.insert(kept);
    EXPECT_EQ(fx.volumeNames(), left);
    EXPECT_EQ(fx.mappingNames(), std::set<std::string>{fx.mappingOfTarget(kept)->name});
    EXPECT_EQ(fx.syncState(fx.mappingOfTarget(kept)->name), 5) << "its copy was not stopped";
    EXPECT_EQ(fx.hostsOfVolume(kept), std::set<std::string>{"otherhost"});
    EXPECT_TRUE(fx.groupNames().empty());
}

TEST_F(BatchPhases, AStopThatNeverCompletesIsWaitedForOnceAndItsCopyDeletedByNoOne) {
    auto batch = snapshots(3, "st", false);
    const std::string stuck = targetOf((*batch)[1]);
    const std::string mapping = fx.mappingOfTarget(stuck)->name;
    fx.sim().setStuckStopping(mapping, true);
    fx.sim().requestLog().clear();
    const int64_t before = fx.clock().nowMs();
    EXPECT_EQ(remove(*batch), 2) << dump(*batch);
    EXPECT_EQ(fx.clock().nowMs() - before, 300 * 1000) << "one wait of 300 s for the batch";
    EXPECT_EQ(statuses(*batch), (std::vector<int>{20, 21, 20}));
    TestSnapInfo& r = (*batch)[1];
    EXPECT_EQ(r.countLines("Failed to delete the device"), 1u) << r.dump();
    EXPECT_EQ(r.errorCode(), 60540u);
    EXPECT_EQ(calls("ReturnToStoragePool"), 2u) << "no request deletes the stuck copy";
    const auto target = fx.volume(uniqueId(r).snapDev);
    ASSERT_TRUE(target);
    EXPECT_EQ(target->name, "st_db1_ZQ_TO_BE_DEL");
    EXPECT_EQ(fx.syncState(mapping + "_ZQ_TO_BE_DEL"), 8);
    std::set<std::string> left = sourceSet();
    left.insert(target->name);
    EXPECT_EQ(fx.volumeNames(), left);
}

TEST_F(BatchPhases, ABatchMixingRecordsInAndOutOfAGroupIsCheckedAndDeletedWhole) {
    auto grouped = snapshots(2, "g", true, "g");
    auto alone = snapshots(2, "a", false, "a");
    auto mixed = fx.makeBatch(4);
    TestSnapInfo* order[] = {&(*alone)[0], &(*grouped)[0], &(*alone)[1], &(*grouped)[1]};
    for (size_t i = 0; i < 4; ++i) (*mixed)[i].setState(order[i]->state());
    ASSERT_TRUE(fx.sim().vanish("volume", targetOf((*mixed)[2])));  // deleted outside, out of the group

    EXPECT_EQ(reconcile(*mixed), 0) << dump(*mixed);
    EXPECT_EQ(statuses(*mixed), (std::vector<int>{5, 5, 24, 5}));
    fx.sim().requestLog().clear();
    EXPECT_EQ(remove(*mixed), 0) << dump(*mixed);
    EXPECT_EQ(statuses(*mixed), (std::vector<int>{20, 20, 20, 20}));
    EXPECT_TRUE((*mixed)[2].hasLine("Nothing to delete as snap device externally deleted from the Storage Array"));
    EXPECT_TRUE((*mixed)[1].hasLine("Successfully deleted Consistency Group [g_g0_CG]"))
        << "the group goes with the first of its records";
    EXPECT_EQ(calls("DeleteSynchronizedSet"), 1u);
    EXPECT_EQ(fx.volumeNames(), sourceSet());
    EXPECT_TRUE(fx.mappingNames().empty());
    EXPECT_TRUE(fx.groupNames().empty());
}

// Requests at a simulator in flight at once, counted over a latency.
struct InFlight {
    std::atomic<int> now{0};
    std::atomic<int> peak{0};
    void watch(arraysim::ArraySimulator& sim) {
        sim.faults().add(Fault::onRequest(
            "*",
            [this] {
                const int n = ++now;
                for (int p = peak.load(); n > p && !peak.compare_exchange_weak(p, n);) {
                }
            },
            -1));
        sim.faults().add(Fault::latency("*", 5));
        sim.faults().add(Fault::onRequest("*", [this] { --now; }, -1));
    }
};

TEST_F(BatchPhases, TwoProvidersInOneBatchEachKeepTheirOwnBound) {
    fx.config().set("HostModule", "IBMSVC_PREPARE_MAX_THREADS", "2");
    // A second cluster, with its own provider, on the engine's clock.
    zqtest::SimulatorFixture::Options options;
    options.cluster.cluster.id = "0000020060C1BEEF";
    options.installClock = false;
    options.clock = fx.env().sharedClock();
    options.https = false;
    zqtest::SimulatorFixture second(options);
    const std::string secondId = options.cluster.cluster.id;
    fx.host().addArray(secondId, "IBM FlashSystem",
                       zqtest::TestOSUtil::infoText(secondId, second.host(), second.user(), second.password(),
                                                    kSnapshotEngine));
    fx.setEngineId(kSnapshotEngine);
    auto batchB = fx.makeBatch(4);
    for (size_t i = 0; i < 4; ++i) {
        const std::string name = "b" + std::to_string(i);
        ASSERT_EQ(second.sim().addVolume(name, "Pool0", EngineSimFixture::kGiB).rc, 0u);
        const uint32_t id =
            second.sim().withModel([&](arraysim::Model& m, int64_t) { return m.state.volumeByName(name)->id; });
        char serial[9];
        std::snprintf(serial, sizeof(serial), "%08X", id);
        fx.env().disks().add(zq::platform::SimulatedDisk::volume(devicePath(name), "IBM", "2145",
                                                                 secondId.substr(4) + serial, second.volumeUid(name)));
        TestSnapInfo& r = (*batchB)[i];
        r.selectArrayForTest(secondId);
        r.setConfig("SMCONFIG_NAME_SMIS_SERVER_PORT", second.httpPort());
        r.setConfig("SMCONFIG_NAME_USE_SECURE_CONNECTION_TO_SMIS_SERVER", 0);
        r.setSourceDevicePath(devicePath(name));
        r.setSnapName("two_" + name);
    }
    ASSERT_EQ(prepare(*batchB), 0) << dump(*batchB);
    ASSERT_EQ(snap(*batchB), 0) << dump(*batchB);
    auto batchA = snapshots(4, "two", false);

    auto mixed = fx.makeBatch(8);
    for (size_t i = 0; i < 8; ++i) (*mixed)[i].setState((i % 2 ? *batchB : *batchA)[i / 2].state());
    InFlight atFirst, atSecond;
    atFirst.watch(fx.sim());
    atSecond.watch(second.sim());
    EXPECT_EQ(reconcile(*mixed), 0) << dump(*mixed);
    EXPECT_EQ(remove(*mixed), 0) << dump(*mixed);
    EXPECT_EQ(statuses(*mixed), std::vector<int>(8, 20));
    EXPECT_LE(atFirst.peak.load(), 2);
    EXPECT_LE(atSecond.peak.load(), 2);
    EXPECT_GE(atFirst.peak.load(), 1);
    EXPECT_GE(atSecond.peak.load(), 1);
    EXPECT_EQ(fx.volumeNames(), sourceSet());
    EXPECT_EQ(second.sim().withModel([](arraysim::Model& m, int64_t) { return m.state.volumes.size(); }), 4u)
        << "the second array holds its sources only";
}

// Status, error and log lines of every record from snap on (through map,
// unmap, revert, reconcile and delete), and the requests each flow sent,
// with or without "IBMSVC_SNAP_NO_PARALLEL".
struct Outcome {
    std::vector<int> statuses;
    std::vector<std::string> errors;
    std::vector<std::vector<std::string>> lines;
    std::vector<std::map<std::string, size_t>> requests;  // per flow: operation or method -> count
};

Outcome runScenario(bool serial) {
    ZqCimUtil::ClearSharedCaches();
    EngineSimFixture fx;
    fx.setEngineId(kSnapshotEngine);
    fx.config().set("HostModule", "IBMSVC_SNAP_NO_PARALLEL", "1");  // the same targets in both runs
    auto batch = fx.makeBatch(5);
    for (size_t i = 0; i < batch->size(); ++i) {
        const std::string name = "db" + std::to_string(i);
        fx.addSource(name);
        fx.addHostDisk(name, "/dev/disk-" + name);
        (*batch)[i].setSourceDevicePath("/dev/disk-" + name);
        (*batch)[i].setSnapName("same_" + name);
        (*batch)[i].setConfig("SMCONFIG_NAME_IBMSVC_CONSISTENCY_GROUP", 1);
    }
    RecordBatch& b = *batch;
    EXPECT_EQ(zqso_prepareDevices(b.records(), b.count(), b.os()), 0);
    fx.config().set("HostModule", "IBMSVC_SNAP_NO_PARALLEL", serial ? "1" : "0");
    std::vector<size_t> marks;
    for (size_t i = 0; i < b.size(); ++i) marks.push_back(b[i].lines().size());

    Outcome run;
    auto flow = [&](int (*entry)(ZQSO::SnapInfo**, int16_t, ZQSO::ZQOSUtil*)) {
        fx.sim().requestLog().clear();
        entry(b.records(), b.count(), b.os());
        std::map<std::string, size_t> kinds;
        for (const auto& r : fx.sim().requestLog().snapshot()) ++kinds[r.method.empty() ? r.operation : r.method];
        run.requests.push_back(kinds);
    };
    flow(zqso_snapDevices);
    auto target = [&](size_t i) {
        ZQSOIBMSVCAPI::UniqueId fields;
        ZQSOIBMSVCAPI::parseUniqueId(nullptr, b[i].meta(1).value_or(""), fields);
        return fx.volume(fields.snapDev)->name;
    };
    // Mapped to the host and unmapped again, then reverted: the third
    // source's reverse copy does not start (its prepare ends stopped).
    fx.host().setInitiators({{"21:00:00:24:ff:4a:bc:de", false}});
    fx.addHost("testhost", {"21000024FF4ABCDE"});
    flow(zqso_mapSnaps);
    flow(zqso_unmapSnaps);
    b[2].setLineHook([&](const zqtest::LogLine& line) {
        if (line.text == "Attach of FlashCopy success, going to prepare FlashCopy")
            fx.sim().setPrepareFails(fx.mappingOfTarget("db2")->name, true);
    });
    flow(zqso_revertSnaps);
    b[2].setLineHook(nullptr);
    for (size_t i = 0; i < b.size(); ++i) {
        run.statuses.push_back(int(b[i].status()));
        b[i].setStatus(ZQSO::SNAP_STATUS_SNAP_STARTED);
    }
    fx.clock().advanceMs(4 * 3600 * 1000);  // the reverse copies end
    // One copy another host sees, one deleted outside, one whose stop never ends.
    fx.addHost("otherhost", {"10000000C9AABB09"});
    fx.mapToHost("otherhost", target(1));
    fx.sim().setStuckStopping(fx.mappingOfTarget(target(3))->name, true);
    fx.sim().vanish("volume", target(4));
    flow(zqso_reconcileSnaps);
    flow(zqso_deleteSnaps);

    const std::regex port("(^|[^0-9])" + std::to_string(fx.simulator().httpPort()) + "([^0-9]|$)");
    // The host names its disks in the order the array exposed the copies,
    // which the pool does not keep: disk names are left out, and so are the
    // lines of the host's reads of each disk it lists.
    const std::regex disk("/dev/sd[a-z]+");
    const std::set<std::string> diskReads{"getDevArrayInfo", "getDeviceSerialNumber"};
    for (size_t i = 0; i < b.size(); ++i) {
        run.statuses.push_back(int(b[i].status()));
        run.errors.push_back(std::to_string(b[i].errorCode()) + " " + b[i].errorMessage());
        std::vector<std::string> lines;
        const auto all = b[i].lines();
        for (size_t k = marks[i]; k < all.size(); ++k)
            if (!diskReads.count(all[k].function))
                lines.push_back(std::to_string(all[k].level) + " " + all[k].function + ": " +
                                std::regex_replace(std::regex_replace(all[k].text, port, "$1PORT$2"), disk,
                                                   "/dev/sdX"));
        run.lines.push_back(lines);
    }
    return run;
}

TEST(BatchPhasesModes, SerialModeGivesTheRecordsOfParallelMode) {
    ZQ_NEEDS_SIMULATOR();
    const Outcome parallel = runScenario(false);
    const Outcome serial = runScenario(true);
    EXPECT_EQ(parallel.statuses, (std::vector<int>{22, 22, 23, 22, 22, 20, 21, 20, 21, 20}))
        << "after revert, then after delete";
    EXPECT_EQ(serial.statuses, parallel.statuses);
    EXPECT_EQ(serial.errors, parallel.errors);
    ASSERT_EQ(serial.lines.size(), parallel.lines.size());
    for (size_t i = 0; i < serial.lines.size(); ++i) {
        const auto& a = serial.lines[i];
        const auto& b = parallel.lines[i];
        const auto at = std::mismatch(a.begin(), a.end(), b.begin(), b.end());
        EXPECT_TRUE(at.first == a.end() && at.second == b.end())
            << "record " << i << ", line " << (at.first - a.begin()) << "\n serial:   "
            << (at.first == a.end() ? "(none)" : *at.first) << "\n parallel: "
            << (at.second == b.end() ? "(none)" : *at.second);
    }
    EXPECT_EQ(serial.requests, parallel.requests);
}

}  // namespace
}  // namespace flowtest
