// Revert and reconcile from end to end: sources given back their snapshot's
// data generation, copies that must not be reverted left alone, and copies
// marked deleted only when the array says so twice.
#include "HostFlowTest.h"

namespace flowtest {
namespace {

using arraysim::Fault;

class RevertReconcile : public HostFlowTest {
protected:
    // Snapshots of `n` sources written after the snap: each copy's data
    // generation at the snap and each source's after the write.
    std::unique_ptr<RecordBatch> writtenAfterSnap(size_t n, std::vector<uint64_t>& atSnap,
                                                  std::vector<uint64_t>& written) {
        auto batch = snapshots(n);
        fibreChannelHost();
        for (size_t i = 0; i < n; ++i) {
            atSnap.push_back(fx.sim().generation(targetOf((*batch)[i])));
            written.push_back(fx.sim().hostWrite(sources[i]));
        }
        return batch;
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
    std::vector<uint64_t> atSnap, written;
    auto batch = writtenAfterSnap(3, atSnap, written);
    // The second copy's mapping is deleted outside: found before any change.
    ASSERT_TRUE(fx.sim().vanish("mapping", fx.mappingOfTarget(targetOf((*batch)[1]))->name));
    const size_t attaches = calls("AttachReplica");
    EXPECT_EQ(revert(*batch), 2) << dump(*batch);
    EXPECT_EQ(statuses(*batch), (std::vector<int>{22, 23, 23}));
    EXPECT_EQ((*batch)[1].errorCode(), 60513u);
    EXPECT_TRUE((*batch)[1].hasLine("as FlashCopy mapping deleted externally", 2));
    EXPECT_EQ((*batch)[2].errorCode(), 60513u);
    EXPECT_TRUE((*batch)[2].hasLine("Not attempted, the revert stopped at the earlier record [2]", 2));
    EXPECT_EQ(fx.sim().generation(sources[0]), atSnap[0]);
    EXPECT_EQ(fx.sim().generation(sources[1]), written[1]);
    EXPECT_EQ(fx.sim().generation(sources[2]), written[2]);
    EXPECT_FALSE(fx.mappingOfTarget(sources[2])) << "no reverse mapping onto the third source";
    EXPECT_EQ(calls("AttachReplica") - attaches, 1u) << "one reverse mapping: the third record was not attempted";
}

// Once the reverse mappings are attached, a copy that fails a later step
// fails alone: the others are restored, its reverse mapping is taken back.
TEST_F(RevertReconcile, ACopyWhosePrepareFailsFailsAloneAndTheOthersAreRestored) {
    std::vector<uint64_t> atSnap, written;
    auto batch = writtenAfterSnap(3, atSnap, written);
    (*batch)[1].setLineHook([&](const zqtest::LogLine& line) {
        if (line.text == "Attach of FlashCopy success, going to prepare FlashCopy")
            fx.sim().setPrepareFails(fx.mappingOfTarget(sources[1])->name, true);
    });
    const size_t attaches = calls("AttachReplica");
    EXPECT_EQ(revert(*batch), 2) << dump(*batch);
    EXPECT_EQ(statuses(*batch), (std::vector<int>{22, 23, 22}));
    EXPECT_EQ((*batch)[1].errorCode(), 38825u) << "the array's refusal of the start";
    // its prepare ends stopped: the start is refused
    EXPECT_EQ((*batch)[1].countLines("Starting FlashCopy failed, going to delete FlashCopy", 2), 1u);
    EXPECT_FALSE((*batch)[1].hasLine("RESTORED from Snap Device", 1));
    for (size_t i : {0, 2}) {
        EXPECT_EQ((*batch)[i].errorCode(), 0u) << (*batch)[i].dump();
        EXPECT_EQ(fx.sim().generation(sources[i]), atSnap[i]) << sources[i];
        EXPECT_EQ(fx.syncState(fx.mappingOfTarget(sources[i])->name), 5) << "its reverse copy runs on";
    }
    EXPECT_EQ(fx.sim().generation(sources[1]), written[1]);
    EXPECT_FALSE(fx.mappingOfTarget(sources[1])) << "the reverse mapping is taken back";
    EXPECT_EQ(calls("AttachReplica") - attaches, 3u);
}

// The restore writes onto the volume the copy's mapping leads from, from the
// volume the record names by its unique id: stored paths are never taken on
// trust.
TEST_F(RevertReconcile, OnlyTheRecordedSourceIsRewrittenAndOnlyFromTheRecordedCopy) {
    auto batch = snapshots(3);
    fibreChannelHost();
    // A second, later copy of db1.
    auto later = batchFor({sources[1]}, "later");
    ASSERT_EQ(prepare(*later), 0) << dump(*later);
    ASSERT_EQ(snap(*later), 0) << dump(*later);
    const uint64_t atSnap0 = fx.sim().generation(targetOf((*batch)[0]));
    const uint64_t atLater = fx.sim().generation(targetOf((*later)[0]));
    const uint64_t written0 = fx.sim().hostWrite(sources[0]);
    fx.sim().hostWrite(sources[1]);
    const uint64_t written2 = fx.sim().hostWrite(sources[2]);
    ASSERT_NE(written0, atSnap0);
    auto withPath = [&](TestSnapInfo& r, const std::string& from, const std::string& to) {
        std::string text = *r.meta(1);
        text.replace(text.find(from), from.size(), to);
        auto one = fx.makeBatch(1);
        (*one)[0].setState(r.state());
        (*one)[0].setMeta(1, text);
        return one;
    };
    const auto f0 = uniqueId((*batch)[0]), f1 = uniqueId((*batch)[1]), f2 = uniqueId((*batch)[2]);

    // db0's record carries db2's path as its source's path.
    auto one = withPath((*batch)[0], f0.srcDevPath, f2.srcDevPath);
    ASSERT_EQ(revert(*one), 0) << dump(*one);
    EXPECT_EQ(fx.sim().generation(sources[0]), atSnap0);
    EXPECT_EQ(fx.sim().generation(sources[2]), written2) << "db2 is not db0's source";

    // The later copy's record names the first copy's path: the restore comes
    // from the later copy, found by its unique id.
    auto stale = withPath((*later)[0], uniqueId((*later)[0]).snapDevPath, f1.snapDevPath);
    ASSERT_EQ(revert(*stale), 0) << dump(*stale);
    EXPECT_EQ(fx.sim().generation(sources[1]), atLater);
    EXPECT_TRUE((*stale)[0].hasLine("is no longer at its stored path, found by its UUID", 1));

    // A copy neither at its path (which names another copy) nor anywhere on
    // the array: refused, its status left as the query found it.
    ASSERT_TRUE(fx.sim().vanish("volume", targetOf((*batch)[2])));
    auto lost = withPath((*batch)[2], f2.snapDevPath, f1.snapDevPath);
    EXPECT_EQ(revert(*lost), 1) << dump(*lost);
    EXPECT_EQ((*lost)[0].status(), ZQSO::SNAP_STATUS_NONE);
    EXPECT_EQ((*lost)[0].errorCode(), 60540u);
    EXPECT_EQ(fx.sim().generation(sources[2]), written2);
}

// A source held on this host (mounted, under device-mapper) is not rewritten
// under its user; a restored one's cached blocks are dropped.
TEST_F(RevertReconcile, ASourceInUseOnThisHostIsRefusedBeforeTheArray) {
    auto batch = snapshots(2);
    fibreChannelHost();
    const uint64_t atSnap1 = fx.sim().generation(targetOf((*batch)[1]));
    const uint64_t written0 = fx.sim().hostWrite(sources[0]);
    fx.sim().hostWrite(sources[1]);
    fx.env().disks().setHolder(devicePath(sources[0]), "mounted on /db0");
    EXPECT_EQ(revert(*batch), 2) << dump(*batch);
    EXPECT_EQ(statuses(*batch), (std::vector<int>{23, 22}));
    EXPECT_EQ((*batch)[0].errorCode(), 60551u);
    EXPECT_TRUE((*batch)[0].hasLine("Source Device [/dev/disk-db0] is in use on this host (mounted on /db0)", 2));
    EXPECT_EQ(fx.sim().generation(sources[0]), written0);
    EXPECT_FALSE(fx.mappingOfTarget(sources[0]));
    EXPECT_EQ(fx.sim().generation(sources[1]), atSnap1);
    EXPECT_EQ(fx.env().disks().flushes(devicePath(sources[0])), 0u);
    EXPECT_EQ(fx.env().disks().flushes(devicePath(sources[1])), 1u);

    // A copy that is gone keeps the status the mapped-state query gave it.
    fx.env().disks().setHolder(devicePath(sources[0]), "");
    ASSERT_TRUE(fx.sim().vanish("volume", targetOf((*batch)[0])));
    auto gone = fx.makeBatch(1);
    (*gone)[0].setState((*batch)[0].state());
    (*gone)[0].setError(0, "");
    EXPECT_EQ(revert(*gone), 1);
    EXPECT_EQ((*gone)[0].status(), ZQSO::SNAP_STATUS_NONE);
    EXPECT_EQ((*gone)[0].errorCode(), 60540u);
}

// The array took the reverse start: the source may already be partly
// rewritten, so a start that cannot be confirmed is never stopped half-way.
TEST_F(RevertReconcile, ARestoreStartedButNotConfirmedIsLeftToRun) {
    auto batch = snapshots(1);
    fibreChannelHost();
    const uint64_t atSnap = fx.sim().generation(targetOf((*batch)[0]));
    fx.sim().hostWrite(sources[0]);
    // From the start on, no mapping can be read.
    fx.sim().faults().add(
        Fault::onRequest("ModifySynchronization", [&] { fx.sim().faults().add(Fault::http("GetInstance", 500, -1)); })
            .after(1));
    EXPECT_EQ(revert(*batch), 1) << dump(*batch);
    fx.sim().faults().clear();
    ASSERT_EQ((*batch)[0].status(), ZQSO::SNAP_STATUS_NOT_RESTORED) << dump(*batch);
    EXPECT_EQ((*batch)[0].errorCode(), 60513u);
    EXPECT_TRUE((*batch)[0].hasLine("restore started, not confirmed", 2));
    // Neither stopped nor detached: the restore ran to its end.
    for (const auto& request : fx.sim().requestLog().find("ModifySynchronization"))
        for (const auto& p : request.params)
            if (p.name == "Operation") {
                EXPECT_TRUE(p.value == "6" || p.value == "4") << p.value;
            }
    EXPECT_EQ(fx.sim().generation(sources[0]), atSnap);
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

    // A unique identifier without the copy's id cannot prove it is gone.
    auto f2 = uniqueId((*batch)[1]);
    text = *(*batch)[1].meta(1);
    text.replace(text.find("*" + f2.snapDev + "*"), f2.snapDev.size() + 2, "**");
    text.replace(text.find(f2.snapDevPath), f2.snapDevPath.size(), stalePath);
    (*batch)[1].setMeta(1, text);
    (*batch)[1].setStatus(ZQSO::SNAP_STATUS_SNAP_STARTED);
    EXPECT_EQ(reconcile(*batch), 2);
    EXPECT_EQ((*batch)[1].status(), ZQSO::SNAP_STATUS_SNAP_STARTED);
    EXPECT_TRUE((*batch)[1].hasLine("its absence cannot be checked", 2));
}

}  // namespace
}  // namespace flowtest
