// Revert and reconcile from end to end: sources given back their snapshot's
// data generation, copies that must not be reverted left alone, and copies
// marked deleted only when the array says so twice.
#include "HostFlowTest.h"

namespace flowtest {
namespace {

using arraysim::Fault;

class RevertReconcile : public HostFlowTest {
protected:
    // Metadata 1 of a seeded copy, with the mapping service of `like`.
    std::string uniqueIdOf(const EngineSimFixture::Copy& copy, TestSnapInfo& like) {
        const auto f = uniqueId(like);
        return f.arrayId + "*4*" + f.snapServicePath + "*" + copy.source.uid + "*" + copy.source.path + "**" +
               copy.target.uid + "*" + copy.target.path + "*";
    }
};

TEST_F(RevertReconcile, ASourceGetsItsSnapshotsImageBack) {
    auto batch = snapshots(2);
    fibreChannelHost();
    std::vector<uint64_t> atSnap;
    for (size_t i = 0; i < 2; ++i) {
        atSnap.push_back(fx.sim().generation(targetOf((*batch)[i])));
        fx.sim().hostWrite(sources[i]);
        ASSERT_NE(fx.sim().generation(sources[i]), atSnap[i]);
    }
    ASSERT_EQ(revert(*batch), 0) << dump(*batch);
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ((*batch)[i].status(), ZQSO::SNAP_STATUS_RESTORED);
        EXPECT_EQ(fx.sim().generation(sources[i]), atSnap[i]);
        const auto reverse = fx.mappingOfTarget(sources[i]);
        ASSERT_TRUE(reverse) << "the reverse mapping";
        EXPECT_EQ(fx.syncState(reverse->name), 5) << "the reverse copy runs on";
    }
    EXPECT_EQ(fx.host().rescans().size(), 2u) << "before and after the array step";
}

TEST_F(RevertReconcile, CopiesMappedOrOfUnknownStateOrWithoutImageAreNotReverted) {
    auto made = snapshots(3);
    fibreChannelHost();
    fx.addHost("otherhost", {"10000000C9AABB09"});
    fx.addSource("db9");
    const auto idle = fx.addSnapshot("db9", "db9_idle", EngineSimFixture::CopyStage::Idle);
    auto batch = fx.makeBatch(4);
    for (size_t i = 0; i < 3; ++i) (*batch)[i].setState((*made)[i].state());
    (*batch)[3].setSourceDevicePath(devicePath("db9"));
    (*batch)[3].setMeta(1, uniqueIdOf(idle, (*made)[0]));
    fx.mapToHost("testhost", targetOf((*batch)[0]));   // 9
    fx.mapToHost("otherhost", targetOf((*batch)[1]));  // 10
    (*batch)[2].setConfig("SMCONFIG_NAME_SMIS_SERVER_PORT", 1);  // 11: the array cannot be asked
    std::vector<uint64_t> generations;
    for (const std::string& source : {sources[0], sources[1], sources[2], std::string("db9")})
        generations.push_back(fx.sim().hostWrite(source));

    const size_t attaches = calls("AttachReplica");
    EXPECT_EQ(revert(*batch), 1) << dump(*batch);
    EXPECT_EQ(statuses(*batch), (std::vector<int>{23, 23, 23, 23}));
    EXPECT_EQ((*batch)[0].errorCode(), 60551u);
    EXPECT_EQ((*batch)[1].errorCode(), 60551u);
    EXPECT_EQ((*batch)[2].errorCode(), 60541u) << "the provider could not be reached";
    EXPECT_TRUE((*batch)[0].hasLine("has host mappings, Can not perform revert", 2));
    EXPECT_TRUE((*batch)[1].hasLine("has host mappings, Can not perform revert", 2));
    EXPECT_TRUE((*batch)[2].hasLine("mapped state unknown, Can not perform revert", 2));
    EXPECT_EQ((*batch)[3].errorCode(), 60513u);
    EXPECT_TRUE((*batch)[3].hasLine("state [11] is not good", 2)) << (*batch)[3].dump();
    EXPECT_EQ(calls("AttachReplica"), attaches);
    size_t i = 0;
    for (const std::string& source : {sources[0], sources[1], sources[2], std::string("db9")})
        EXPECT_EQ(fx.sim().generation(source), generations[i++]) << source;
}

TEST_F(RevertReconcile, TheFirstCopyThatCannotBeRestoredEndsTheRevert) {
    auto batch = snapshots(3);
    fibreChannelHost();
    std::vector<uint64_t> atSnap, written;
    for (size_t i = 0; i < 3; ++i) {
        atSnap.push_back(fx.sim().generation(targetOf((*batch)[i])));
        written.push_back(fx.sim().hostWrite(sources[i]));
    }
    (*batch)[1].setLineHook([&](const zqtest::LogLine& line) {
        if (line.text == "Attach of FlashCopy success, going to prepare FlashCopy")
            fx.sim().faults().add(Fault::returns("ModifySynchronization", 38822, 1));
    });
    EXPECT_EQ(revert(*batch), 2) << dump(*batch);
    EXPECT_EQ(statuses(*batch), (std::vector<int>{22, 23, 23}));
    EXPECT_EQ((*batch)[1].errorCode(), 38822u) << "the array's refusal";
    EXPECT_TRUE((*batch)[1].hasLine("as FlashCopy Prepare failed", 2));
    EXPECT_EQ((*batch)[2].errorCode(), 60513u);
    EXPECT_TRUE((*batch)[2].hasLine("Not attempted, the revert stopped at the earlier record [2]", 2));
    EXPECT_EQ(fx.sim().generation(sources[0]), atSnap[0]);
    EXPECT_EQ(fx.sim().generation(sources[1]), written[1]);
    EXPECT_EQ(fx.sim().generation(sources[2]), written[2]);
    EXPECT_FALSE(fx.mappingOfTarget(sources[1])) << "the reverse mapping is taken back";
    EXPECT_EQ(calls("AttachReplica") - 3, 2u) << "two reverse mappings: the third record was not attempted";
}

TEST_F(RevertReconcile, OnlyACopyTheArrayLostTwiceIsMarkedDeleted) {
    auto batch = snapshots(3);
    ASSERT_TRUE(fx.sim().vanish("volume", targetOf((*batch)[0])));
    // A stored path that names nothing, of a copy that exists.
    auto f = uniqueId((*batch)[1]);
    const std::string stalePath = f.snapDevPath.substr(0, f.snapDevPath.find("DeviceID=")) + "DeviceID=\"99999\"";
    std::string text = *(*batch)[1].meta(1);
    text.replace(text.find(f.snapDevPath), f.snapDevPath.size(), stalePath);
    (*batch)[1].setMeta(1, text);
    EXPECT_EQ(reconcile(*batch), 0) << dump(*batch);
    EXPECT_EQ(statuses(*batch), (std::vector<int>{24, 5, 5}));
    EXPECT_TRUE((*batch)[0].hasLine("externally deleted from Storage Array [" + fx.arrayId() + "]", 0));

    // Under a wrong password nothing is marked, and every record fails.
    for (size_t i = 0; i < 3; ++i) (*batch)[i].setStatus(ZQSO::SNAP_STATUS_SNAP_STARTED);
    fx.host().addArray(fx.arrayId(), "IBM FlashSystem",
                       zqtest::TestOSUtil::infoText(fx.arrayId(), fx.simulator().host(), fx.simulator().user(),
                                                    "wrong", kSnapshotEngine));
    EXPECT_EQ(reconcile(*batch), 1);
    EXPECT_EQ(statuses(*batch), (std::vector<int>{5, 5, 5}));
    (*batch)[2].setMeta(1, "");
    fx.setEngineId(kSnapshotEngine);
    EXPECT_EQ(reconcile(*batch), 2);
    EXPECT_TRUE((*batch)[2].hasLine("Nothing to check as unique identifier is empty.", 0));
}

}  // namespace
}  // namespace flowtest
