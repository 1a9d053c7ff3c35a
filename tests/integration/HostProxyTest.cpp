// Messages 4 to 8 through a proxy host that has initiators of its own: the
// array step runs there for the calling host's initiators, the rescans and
// disks stay on the calling host; bad input is refused before the array.
#include "HostFlowTest.h"

namespace flowtest {
namespace {

class HostProxy : public HostFlowTest {
protected:
    void SetUp() override {
        HostFlowTest::SetUp();
        fx.shareArrayWith(proxy);
        proxy.setEngine(zqso_execSnapEngineOp);
        proxy.setInitiators({{"10000000C9FFFF01", false}});
        fx.host().addProxy("proxy-b", &proxy);
    }
    static void viaProxy(RecordBatch& b) {
        for (size_t i = 0; i < b.size(); ++i) b[i].setConfig("SMCONFIG_NAME_REMOTE_SNAP_PX", std::string("proxy-b"));
    }
    // Runs message `id` with `request` on the proxy's records as the host would.
    int runOnProxy(RecordBatch& b, int id, const std::string& request) {
        b[0].setMeta(ZQSO::SM_MDT_REMOTE_MSG_ID, std::to_string(id));
        b[0].setMeta(ZQSO::SM_MDT_REMOTE_REQUEST, request);
        return zqso_execSnapEngineOp(b.records(), b.count(), &proxy);
    }

    zqtest::TestOSUtil proxy{"proxy-b"};
};

TEST_F(HostProxy, EveryHostMessageRunsOnTheProxyForTheCallingHost) {
    auto batch = snapshots(1);
    fibreChannelHost();
    fx.addHost("proxyhost", {"10000000C9FFFF01"});
    viaProxy(*batch);
    const std::string target = targetOf((*batch)[0]);
    TestSnapInfo& first = (*batch)[0];

    ASSERT_EQ(isMapped(*batch), 0) << dump(*batch);
    EXPECT_EQ(first.status(), ZQSO::SNAP_STATUS_NOT_MAPPED);
    ASSERT_EQ(map(*batch), 0) << dump(*batch);
    EXPECT_EQ(first.status(), ZQSO::SNAP_STATUS_MAPPED_VISIBLE);
    EXPECT_EQ(fx.hostsOfVolume(target), std::set<std::string>{"testhost"});
    EXPECT_EQ(volumeOfDisk(diskOf(first)), target);
    EXPECT_TRUE(proxy.rescans().empty());
    ASSERT_EQ(unmap(*batch), 0) << dump(*batch);
    EXPECT_TRUE(fx.hostsOfVolume(target).empty());
    const uint64_t image = fx.sim().generation(target);
    fx.sim().hostWrite(sources[0]);
    ASSERT_EQ(revert(*batch), 0) << dump(*batch);
    EXPECT_EQ(fx.sim().generation(sources[0]), image);
    ASSERT_EQ(reconcile(*batch), 0) << dump(*batch);

    EXPECT_EQ(fx.host().remoteRuns().size(), 8u) << "the mapped-state query runs first in map, unmap and revert";
    for (const char* done : {"[4][IBMSVC Remote Message IsMapped]", "[5][IBMSVC Remote Message Map]",
                             "[6][IBMSVC Remote Message Unmap]", "[7][IBMSVC Remote Message Reconcile]",
                             "[8][IBMSVC Remote Message Revert]"})
        EXPECT_TRUE(first.hasLine(std::string("Remote PX Msg-Id ") + done + " completed with status [0]")) << done;
    EXPECT_TRUE(first.hasLine("Getting MetaData - Type[91] MetaData Response[{\n\t\"availCount\": 0,"));
    for (int id : {60, 61, 91}) EXPECT_FALSE(first.meta(id)) << id;
}

TEST_F(HostProxy, BadInputIsRefusedBeforeTheArray) {
    auto batch = snapshots(1);
    fx.sim().requestLog().clear();
    for (int id : {4, 5, 6})
        for (const char* bad : {"{\"isSCSI\": false}", "{\"initiatorIds\": [\"21000024FF4ABCDE\", 5], \"isSCSI\": false}",
                                "{\"initiatorIds\": [\"21000024FF4ABCDE\"]}", "[1, 2]"}) {
            EXPECT_EQ(runOnProxy(*batch, id, bad), 1) << id << " " << bad;
            EXPECT_FALSE((*batch)[0].meta(ZQSO::SM_MDT_REMOTE_EXEC_MSG));
        }
    EXPECT_TRUE((*batch)[0].hasLine("Failed to parse the request [{\"isSCSI\": false}]", 2));
    EXPECT_EQ(fx.sim().requestLog().size(), 0u);
    EXPECT_EQ((*batch)[0].status(), ZQSO::SNAP_STATUS_SNAP_STARTED);

    // A proxy's counts are not taken on trust: one that answers a copy
    // mapped and visible without mapping it fails the map.
    fibreChannelHost();
    viaProxy(*batch);
    proxy.setEngine([](ZQSO::SnapInfo** records, int16_t count, ZQSO::ZQOSUtil* os) {
        std::string id;
        records[0]->getMetaDataText(ZQSO::SM_MDT_REMOTE_MSG_ID, id);
        if (id != "5") return zqso_execSnapEngineOp(records, count, os);
        records[0]->setMetaData(ZQSO::SM_MDT_REMOTE_REQUEST, "{\"availCount\": 1, \"mapCount\": 1}");
        records[0]->setMetaData(ZQSO::SM_MDT_REMOTE_EXEC_MSG, "0");
        return 0;
    });
    EXPECT_EQ(map(*batch), 1);
    EXPECT_EQ((*batch)[0].errorCode(), 60558u);
    EXPECT_TRUE((*batch)[0].hasLine("the snap device was not mapped [status 14]", 2)) << dump(*batch);
    EXPECT_TRUE((*batch)[0].hasLine("the proxy answered", 1));
    EXPECT_TRUE(fx.host().rescans().empty());
}

// Whether a source is in use is the calling host's to tell, even when the
// array work runs on the proxy.
TEST_F(HostProxy, ASourceInUseOnTheCallingHostIsRefusedBeforeTheProxyRuns) {
    auto batch = snapshots(2);
    fibreChannelHost();
    viaProxy(*batch);
    const uint64_t written0 = fx.sim().hostWrite(sources[0]);
    const uint64_t image1 = fx.sim().generation(targetOf((*batch)[1]));
    fx.sim().hostWrite(sources[1]);
    fx.env().disks().setHolder(devicePath(sources[0]), "held by dm-3");
    EXPECT_EQ(revert(*batch), 2) << dump(*batch);
    EXPECT_EQ(statuses(*batch), (std::vector<int>{23, 22}));
    EXPECT_EQ((*batch)[0].errorCode(), 60551u);
    EXPECT_TRUE((*batch)[0].hasLine("not attempted, refused on the calling host", 0));
    EXPECT_EQ(fx.sim().generation(sources[0]), written0);
    EXPECT_EQ(fx.sim().generation(sources[1]), image1);
    EXPECT_FALSE(fx.host().remoteRuns().empty());
}

}  // namespace
}  // namespace flowtest
