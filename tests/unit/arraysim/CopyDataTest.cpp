// Data generations, background copy, cleaning and incremental recopy on the
// simulator's clock, driven through the extrinsic methods.
#include <gtest/gtest.h>

#include "SimTestUtil.h"
#include "SvcReturnCode.h"
#include "SyncOperation.h"

using namespace simtest;

namespace {
constexpr uint64_t GiB = uint64_t(1) << 30;

class CopyData : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : {"src", "s1", "s2", "clone"}) ASSERT_TRUE(b.sim.addVolume(name, "Pool0", GiB).ok());
    }
    // Prepare, wait for the cache flush, start.
    void prepareAndStart(const std::string& source, const std::string& target, bool restore = false) {
        ASSERT_EQ(b.sync(source, target, SyncOperation::Prepare), 0u);
        b.advanceSeconds(1);
        ASSERT_EQ(b.state(source, target), "prepared");
        ASSERT_EQ(b.sync(source, target, SyncOperation::Start, false, restore), 0u);
    }
    uint16_t operationalStatus(const std::string& volume) {
        return b.sim.withModel([&](Model& m, int64_t) { return m.state.volumeStatus(*m.state.volume(volumeIdIn(m, volume))); });
    }
    SimBench b;
};
}  // namespace

TEST_F(CopyData, SnapshotKeepsItsPointInTimeAndNeverCompletes) {
    ASSERT_EQ(b.attach("src", "s1", 0), 0u);
    uint64_t before = b.sim.hostWrite("src", 5);
    prepareAndStart("src", "s1");
    EXPECT_EQ(b.sim.generation("s1"), before);
    uint64_t after = b.sim.hostWrite("src", 5);
    EXPECT_NE(after, before);
    EXPECT_EQ(b.sim.generation("s1"), before) << "the snapshot shows the time of its start";
    b.advanceSeconds(10 * 3600);
    EXPECT_EQ(b.state("src", "s1"), "copying");
    EXPECT_EQ(b.progress("src", "s1"), 0.0);
}

TEST_F(CopyData, CloneCopiesAtItsRateAndAutodeleteRemovesIt) {
    ASSERT_EQ(b.attach("src", "clone", 50, false, 5), 0u);  // rate 50 = 2 MiB/s: 512 s per GiB
    prepareAndStart("src", "clone");
    b.advanceSeconds(256);
    EXPECT_NEAR(b.progress("src", "clone"), 50.0, 0.5);
    b.advanceSeconds(254);
    EXPECT_EQ(b.state("src", "clone"), "copying");
    b.advanceSeconds(3);
    EXPECT_EQ(b.state("src", "clone"), "none") << "autodelete removed the finished mapping";

    ASSERT_EQ(b.attach("src", "s1", 100), 0u);  // 64 MiB/s: 16 s per GiB
    prepareAndStart("src", "s1");
    b.advanceSeconds(17);
    EXPECT_EQ(b.state("src", "s1"), "idle_or_copied");
    uint16_t syncState = b.sim.withModel([&](Model& m, int64_t) {
        return m.copies.syncState(*m.state.mappingByPair(volumeIdIn(m, "src"), volumeIdIn(m, "s1")));
    });
    EXPECT_EQ(syncState, 6) << "a copied mapping shows Synchronized";
}

TEST_F(CopyData, IncrementalRestartCopiesOnlyWhatChanged) {
    ASSERT_EQ(b.attach("src", "clone", 50, true), 0u);
    prepareAndStart("src", "clone");
    b.advanceSeconds(600);
    ASSERT_EQ(b.state("src", "clone"), "idle_or_copied");

    b.sim.hostWrite("src", 10);
    prepareAndStart("src", "clone");
    EXPECT_NEAR(b.progress("src", "clone"), 90.0, 0.01);
    EXPECT_EQ(b.sim.generation("clone"), b.sim.generation("src"));
    b.advanceSeconds(50);
    EXPECT_EQ(b.state("src", "clone"), "copying");
    b.advanceSeconds(3);
    EXPECT_EQ(b.state("src", "clone"), "idle_or_copied") << "10% at 2 MiB/s takes about 51 s";

    // A plain mapping copies everything again.
    ASSERT_EQ(b.attach("src", "s2", 50, false), 0u);
    prepareAndStart("src", "s2");
    b.advanceSeconds(600);
    b.sim.hostWrite("src", 10);
    prepareAndStart("src", "s2");
    EXPECT_EQ(b.progress("src", "s2"), 0.0);
}

TEST_F(CopyData, RestoreNeedsTheRestoreFlagAndBringsBackThePointInTime) {
    ASSERT_EQ(b.attach("src", "s1", 0), 0u);
    prepareAndStart("src", "s1");
    uint64_t pointInTime = b.sim.generation("s1");
    b.sim.hostWrite("src", 30);
    ASSERT_NE(b.sim.generation("src"), pointInTime);

    ASSERT_EQ(b.attach("s1", "src", 0, false, 5), 0u) << "the reverse mapping of a snapshot is allowed";
    ASSERT_EQ(b.sync("s1", "src", SyncOperation::Prepare, false, true), 0u);
    b.advanceSeconds(1);
    EXPECT_EQ(b.sync("s1", "src", SyncOperation::Start), Rc::RestoreRequired);
    EXPECT_EQ(b.state("s1", "src"), "prepared") << "a refused start changes nothing";
    EXPECT_EQ(b.sync("s1", "src", SyncOperation::Start, false, true), 0u);
    EXPECT_EQ(b.sim.generation("src"), pointInTime);
}

TEST_F(CopyData, StoppingANewerSnapshotCleansForTheOlderOne) {
    ASSERT_EQ(b.attach("src", "s1", 0), 0u);
    ASSERT_EQ(b.attach("src", "s2", 0), 0u);
    prepareAndStart("src", "s1");
    b.sim.hostWrite("src", 10);
    prepareAndStart("src", "s2");
    b.sim.hostWrite("src", 10);

    // s1 still needs the grains s2 holds: 10% of 1 GiB at clean rate 0
    // (cleaned at the default rate 50, 2 MiB/s) takes 51.2 s after the 0.5 s stop.
    ASSERT_EQ(b.sync("src", "s2", SyncOperation::Stop), 0u);
    EXPECT_EQ(b.state("src", "s2"), "stopping");
    EXPECT_EQ(b.sync("src", "s2", SyncOperation::DeleteMapping, true), Rc::SourceNeededByOtherMaps);
    b.advanceSeconds(51.5);
    EXPECT_EQ(b.state("src", "s2"), "stopping");
    b.advanceSeconds(0.3);
    EXPECT_EQ(b.state("src", "s2"), "stopped");
    EXPECT_EQ(operationalStatus("s2"), 10) << "the target of an unfinished copy goes offline";

    // The oldest snapshot has no dependents: a short stop.
    ASSERT_EQ(b.sync("src", "s1", SyncOperation::Stop), 0u);
    b.advanceSeconds(1);
    EXPECT_EQ(b.state("src", "s1"), "stopped");
    EXPECT_EQ(b.sync("src", "s1", SyncOperation::DeleteMapping, true), 0u);
    EXPECT_EQ(b.state("src", "s1"), "none");
}

TEST_F(CopyData, DependentsBlockForcedDeleteAndAForcedStopTakesThemAlong) {
    ASSERT_EQ(b.attach("src", "s1", 0), 0u);
    ASSERT_EQ(b.attach("src", "s2", 0), 0u);
    prepareAndStart("src", "s1");
    prepareAndStart("src", "s2");
    EXPECT_EQ(b.sync("src", "s2", SyncOperation::DeleteMapping, true), Rc::SourceNeededByOtherMaps);
    EXPECT_EQ(b.sync("src", "s2", SyncOperation::DeleteMapping, false), Rc::SourceNeededByOtherMaps);

    ASSERT_EQ(b.sync("src", "s2", SyncOperation::Stop, true), 0u);
    EXPECT_EQ(b.state("src", "s2"), "stopped");
    EXPECT_EQ(b.state("src", "s1"), "stopped") << "a forced stop stops the mappings that depended on it";
    EXPECT_EQ(operationalStatus("s1"), 10);

    ASSERT_TRUE(b.sim.addVolume("s3", "Pool0", GiB).ok());
    ASSERT_EQ(b.attach("src", "s3", 0), 0u);
    prepareAndStart("src", "s3");
    EXPECT_EQ(b.sync("src", "s3", SyncOperation::DeleteMapping, true), Rc::MappingActive)
        << "no older copy depends on it, but it is copying";
    ASSERT_EQ(b.sync("src", "s3", SyncOperation::Stop, true), 0u);
    EXPECT_EQ(operationalStatus("s3"), 10);
    EXPECT_EQ(b.sync("src", "s3", SyncOperation::DeleteMapping, true), 0u);
}

TEST_F(CopyData, AMappingStuckInStoppingStaysThereUntilReleased) {
    ASSERT_EQ(b.attach("src", "s1", 0), 0u);
    prepareAndStart("src", "s1");
    b.sim.setStuckStopping("fcmap0", true);
    ASSERT_EQ(b.sync("src", "s1", SyncOperation::Stop), 0u);
    b.advanceSeconds(24 * 3600);
    EXPECT_EQ(b.state("src", "s1"), "stopping");
    EXPECT_EQ(b.sync("src", "s1", SyncOperation::DeleteMapping, true), Rc::SourceNeededByOtherMaps);
    b.sim.setStuckStopping("fcmap0", false);
    b.advanceSeconds(1);
    EXPECT_EQ(b.state("src", "s1"), "stopped");
}
