// Data generations, background copy, incremental recopy and restore on the
// simulator's clock, driven through the extrinsic methods. Cleaning and the
// stop of dependent copies are FlashCopyRulesTest's.
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
