// Prepare, snap and delete across hosts and threads: the batch forwarded to
// a proxy, sixteen parallel workers with a slow first record, targets claimed
// by one worker only, and the array found through the host's array list.
#include <chrono>
#include <thread>

#include "ArrayParams.h"
#include "FlowTest.h"

namespace flowtest {
namespace {

class FlowHosts : public FlowTest {};

TEST_F(FlowHosts, ABatchForwardedToAProxyLeavesTheSameArrayState) {
    fx.setEngineId(kSnapshotEngine);
    zqtest::TestOSUtil proxy("proxy-b");
    fx.shareArrayWith(proxy);
    proxy.setEngine(zqso_execSnapEngineOp);
    fx.host().addProxy("proxy-b", &proxy);
    const auto sources = addSources(3);
    auto batch = batchFor(sources, "daily", [](TestSnapInfo& r) {
        useGroup(r);
        r.setConfig("SMCONFIG_NAME_REMOTE_SNAP_PX", std::string("proxy-b"));
    });

    ASSERT_EQ(prepare(*batch), 0) << dump(*batch);
    EXPECT_EQ(fx.groupMembers("daily_db0_CG")->size(), 3u);
    std::vector<uint64_t> atSnap;
    for (const auto& source : sources) atSnap.push_back(fx.sim().hostWrite(source));
    ASSERT_EQ(snap(*batch), 0) << dump(*batch);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ((*batch)[i].status(), ZQSO::SNAP_STATUS_SNAP_STARTED);
        EXPECT_EQ(fx.sim().generation(targetOf((*batch)[i])), atSnap[i]);
    }
    ASSERT_EQ(remove(*batch), 0) << dump(*batch);
    EXPECT_EQ(fx.volumeNames(), std::set<std::string>(sources.begin(), sources.end()));
    EXPECT_TRUE(fx.mappingNames().empty() && fx.groupNames().empty());

    EXPECT_EQ(fx.host().remoteRuns(), (std::vector<std::string>{"proxy-b", "proxy-b", "proxy-b"}));
    TestSnapInfo& first = (*batch)[0];
    EXPECT_TRUE(first.hasLine("Remote PX Msg-Id [1][IBMSVC Remote Message Prepare] completed with status [0]"));
    EXPECT_TRUE(first.hasLine("Remote PX Msg-Id [3][IBMSVC Remote Message Delete] completed with status [0]"));
    for (int id : {60, 61, 91}) EXPECT_FALSE(first.meta(id)) << id;
}

TEST_F(FlowHosts, AProxyRefusesAPrepareRequestThatDoesNotMatchItsRecords) {
    fx.setEngineId(kSnapshotEngine);
    zqtest::TestOSUtil proxy("proxy-b");
    fx.shareArrayWith(proxy);
    fx.host().addProxy("proxy-b", &proxy);
    proxy.setEngine(zqso_execSnapEngineOp);
    const auto sources = addSources(2);
    auto batch = batchFor(sources, "x");
    (*batch)[0].setMeta(ZQSO::SM_MDT_REMOTE_MSG_ID, "1");
    (*batch)[0].setMeta(ZQSO::SM_MDT_REMOTE_REQUEST, "{\"prepareDevices\": [{\"arrayName\": \"" + fx.arrayId() + "\"}]}");
    EXPECT_EQ(zqso_execSnapEngineOp(batch->records(), batch->count(), &proxy), 1);
    EXPECT_EQ((*batch)[0].errorCode(), 60540u);
    EXPECT_TRUE((*batch)[0].hasLine("The prepare request holds [1] devices for [2] records", 2));
    EXPECT_FALSE((*batch)[0].meta(ZQSO::SM_MDT_REMOTE_EXEC_MSG));
    EXPECT_EQ(fx.sim().requestLog().size(), 0u);
}

TEST_F(FlowHosts, SixteenParallelWorkersWithASlowFirstRecord) {
    fx.setEngineId(kSnapshotEngine);
    const auto sources = addSources(16);
    for (int round = 0; round < 2; ++round) {
        auto batch = batchFor(sources, "p" + std::to_string(round), useGroup);
        (*batch)[0].setLineHook([](const zqtest::LogLine& line) {
            if (line.text == "Going to create a new volume") std::this_thread::sleep_for(std::chrono::milliseconds(30));
        });
        ASSERT_EQ(prepare(*batch), 0) << dump(*batch);
        (*batch)[0].setLineHook(nullptr);
        std::set<std::string> targets;
        for (size_t i = 0; i < batch->size(); ++i) targets.insert(targetOf((*batch)[i]));
        EXPECT_EQ(targets.size(), 16u);
        EXPECT_EQ(fx.groupMembers("p" + std::to_string(round) + "_db0_CG")->size(), 16u);
        EXPECT_EQ((*batch)[0].countLines("PrepareSnap Thread Joined"), 16u);
        ASSERT_EQ(snap(*batch), 0);
        ASSERT_EQ(remove(*batch), 0) << dump(*batch);
        EXPECT_EQ(fx.volumeNames().size(), 16u);
        EXPECT_TRUE(fx.groupNames().empty());
    }
}

TEST_F(FlowHosts, AKeptTargetIsClaimedByOneWorkerOnly) {
    fx.setEngineId(kSnapshotEngine);
    const auto sources = addSources(1);
    const auto a = fx.addSnapshot(sources[0], "keep_a");
    const auto b = fx.addSnapshot(sources[0], "keep_b");
    fx.addHost("otherhost", {"10000000C9AABB09"});
    const auto mapped = fx.addSnapshot(sources[0], "keep_mapped");
    fx.mapToHost("otherhost", "keep_mapped");
    // Four records of one source, three labelled targets, one of them seen by a host.
    auto batch = fx.makeBatch(4);
    for (size_t i = 0; i < 4; ++i) {
        (*batch)[i].setSourceDevicePath(devicePath(sources[0]));
        (*batch)[i].setSnapName("w" + std::to_string(i));
        (*batch)[i].setConfig("SMCONFIG_NAME_TARGET_DEVICE_LABEL", std::string("keep"));
    }
    ASSERT_EQ(prepare(*batch), 0) << dump(*batch);
    std::set<std::string> reused;
    size_t created = 0;
    for (size_t i = 0; i < 4; ++i) {
        const auto fields = uniqueId((*batch)[i]);
        if (fields.targetSelMode == "2")
            reused.insert(fields.snapDev);
        else
            ++created;
    }
    EXPECT_EQ(reused, (std::set<std::string>{a.target.uid, b.target.uid}));
    EXPECT_EQ(created, 2u);
    EXPECT_EQ(fx.volume(mapped.target.uid)->name, "keep_mapped") << "a target a host sees is not taken";
}

TEST_F(FlowHosts, TheArrayOfALunIsFoundThroughTheHostsArrayList) {
    fx.addSource("db0");
    auto& r = fx.record();
    std::string arrayId;
    // An array whose provider does not know the LUN comes first.
    fx.host().removeArray(fx.arrayId());
    fx.host().addArray("0000FFFFFFFFFFFF", "IBM FlashSystem",
                       zqtest::TestOSUtil::infoText("0000FFFFFFFFFFFF", fx.simulator().host(), fx.simulator().user(),
                                                    fx.simulator().password(), 20));
    fx.setEngineId(20);
    r.setConfig("SMCONFIG_NAME_USE_SECURE_CONNECTION_TO_SMIS_SERVER", 0);
    fx.config().set("HostModule", "IBMSVC_SMIS_PORT", std::to_string(fx.simulator().httpPort()));
    fx.config().set("HostModule", "IBMSVC_SMIS_USE_HTTPS", "0");
    EXPECT_EQ(ZQSOIBMSVCAPI::CheckandGetArrayID(&fx.host(), &r, arrayId, fx.volume("db0")->uid), 1) << r.dump();
    EXPECT_EQ(arrayId, fx.arrayId());
    EXPECT_TRUE(r.hasLine("Array list [0000FFFFFFFFFFFF*" + fx.arrayId() + "]"));

    arrayId.clear();
    EXPECT_EQ(ZQSOIBMSVCAPI::CheckandGetArrayID(&fx.host(), &r, arrayId, "6005076810C14A2CC0000000000FFFFF"), 0);
    EXPECT_EQ(arrayId, "");
    fx.host().addArray("0000EEEEEEEEEEEE", "IBM FlashSystem", "{arrayId:0000EEEEEEEEEEEE}");
    fx.host().removeArray(fx.arrayId());
    EXPECT_EQ(ZQSOIBMSVCAPI::CheckandGetArrayID(&fx.host(), &r, arrayId, fx.volume("db0")->uid), 0);
    EXPECT_TRUE(r.hasLine("Failed to initialize the Array parameters", 2));
}

}  // namespace
}  // namespace flowtest
