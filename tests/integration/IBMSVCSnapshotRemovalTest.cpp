// Removing dependent copies: stop, wait, detach, delete, the mark on a
// mapping that does not stop in time, and what is never touched.
#include "SnapshotTest.h"

using arraysim::Fault;
using snaptest::SnapshotTest;
using zqtest::EngineSimFixture;

namespace {

class RemovalTest : public SnapshotTest {
protected:
    void SetUp() override {
        SnapshotTest::SetUp();
        if (IsSkipped()) return;
        fx.addSource("db01");
    }
    // ModifySynchronization calls sent with this Operation.
    size_t SentOperations(const std::string& operation) {
        size_t n = 0;
        for (const auto& call : fx.sim().requestLog().find("ModifySynchronization")) {
            const arraysim::LoggedParam* p = call.param("Operation");
            if (p && p->value == operation) ++n;
        }
        return n;
    }
    size_t Sleeps() { return record().countLines("Stop still in progress, waiting 10 seconds"); }
    bool Gone(const EngineSimFixture::Copy& copy) {
        return !fx.volume(copy.target.name) && !fx.mapping(copy.mapping);
    }
};

TEST_F(RemovalTest, StopsThatFinishAtOnceOrAfterOneSleep) {
    // A clone is stopped without Force unless configured (a forced stop also
    // stops the mappings that depend on it): it needs a moment.
    auto clone = fx.addClone("db01", "db01_c0");
    IBMSVCSnapshot snap = SnapOf(clone, 5);
    ASSERT_EQ(snap.DeleteDependentSnaps(), 1) << record().dump();
    EXPECT_TRUE(Gone(clone));
    EXPECT_EQ(Sleeps(), 1u);

    // Configured to force: stopped at the first poll.
    fx.config().set("HostModule", "nIBMSVCDisableForceFCStop", "0");
    auto forced = fx.addClone("db01", "db01_c1");
    IBMSVCSnapshot third = SnapOf(forced, 5);
    ASSERT_EQ(third.DeleteDependentSnaps(), 1) << record().dump();
    EXPECT_TRUE(Gone(forced));
    EXPECT_EQ(Sleeps(), 1u);

    // A snapshot stops without Force and needs a moment.
    auto snapshot = fx.addSnapshot("db01", "db01_s0");
    IBMSVCSnapshot second = SnapOf(snapshot, 4);
    ASSERT_EQ(second.DeleteDependentSnaps(), 1) << record().dump();
    EXPECT_TRUE(Gone(snapshot));
    EXPECT_EQ(Sleeps(), 2u);
    EXPECT_EQ(fx.volumeNames(), std::set<std::string>{"db01"});
}

TEST_F(RemovalTest, StuckStopIsMarkedThenRemovedOnceReleased) {
    auto copy = fx.addSnapshot("db01", "db01_s0");
    fx.sim().setStuckStopping(copy.mapping, true);
    IBMSVCSnapshot snap = SnapOf(copy, 4);
    const int64_t before = fx.clock().nowMs();
    EXPECT_EQ(snap.DeleteDependentSnaps(), 0) << record().dump();
    EXPECT_EQ(Sleeps(), 30u);
    EXPECT_EQ(fx.clock().nowMs() - before, 300 * 1000);
    const std::string marked = copy.mapping + "_ZQ_TO_BE_DEL";
    EXPECT_TRUE(fx.mapping(marked));
    EXPECT_TRUE(fx.volume(marked));
    EXPECT_EQ(SentOperations("2"), 0u);

    fx.sim().setStuckStopping(marked, false);
    fx.clock().advanceMs(1000);
    ClearLog();
    IBMSVCSnapshot later = SnapOf(copy, 4);
    ASSERT_EQ(later.DeleteDependentSnaps(), 1) << record().dump();
    EXPECT_EQ(SentOperations("8"), 0u);  // marked: not stopped again
    EXPECT_EQ(fx.volumeNames(), std::set<std::string>{"db01"});
    EXPECT_TRUE(fx.mappingNames().empty());
}

TEST_F(RemovalTest, StoppedAndNeverStartedMappingsAreDeleted) {
    auto stopped = fx.addClone("db01", "db01_c0");
    fx.sim().withModel([&](arraysim::Model& m, int64_t now) {
        return m.copies.stop(m.state.mappingByName(stopped.mapping)->id, true, now);
    });
    EXPECT_EQ(fx.syncState(stopped.mapping), 9);
    auto idle = fx.addClone("db01", "db01_c1", false, EngineSimFixture::CopyStage::Idle);
    EXPECT_EQ(fx.syncState(idle.mapping), 11);
    for (const auto& copy : {stopped, idle}) {
        IBMSVCSnapshot snap = SnapOf(copy, 5);
        EXPECT_EQ(snap.DeleteDependentSnaps(), 1) << copy.target.name << record().dump();
        EXPECT_TRUE(Gone(copy)) << copy.target.name;
    }
    EXPECT_EQ(Sleeps(), 0u);
}

TEST_F(RemovalTest, VanishedMappingLeavesOnlyTheTarget) {
    auto copy = fx.addSnapshot("db01", "db01_s0");
    fx.sim().vanish("mapping", copy.mapping);
    IBMSVCSnapshot snap = SnapOf(copy, 4);
    ASSERT_EQ(snap.DeleteDependentSnaps(), 1) << record().dump();
    EXPECT_FALSE(fx.volume("db01_s0"));
    EXPECT_TRUE(record().hasLine("FlashCopy deleted as autodelete is enabled"));
    EXPECT_EQ(SentOperations("2"), 0u);
}

TEST_F(RemovalTest, RefusedStopIsNotMarked) {
    fx.config().set("HostModule", "IBMSVC_DETACH_STOP_WAIT_SECS", "20");
    fx.config().set("HostModule", "IBMSVC_DETACH_STOP_WAIT_INTERVAL", "0");  // becomes 10
    auto copy = fx.addSnapshot("db01", "db01_s0");
    fx.sim().faults().add(Fault::returns("ModifySynchronization", 38816));
    IBMSVCSnapshot snap = SnapOf(copy, 4);
    EXPECT_EQ(snap.DeleteDependentSnaps(), 0);
    EXPECT_EQ(Sleeps(), 2u);
    EXPECT_TRUE(fx.mapping(copy.mapping));
    EXPECT_TRUE(fx.volume("db01_s0"));
    EXPECT_EQ(fx.syncState(copy.mapping), 5);
    EXPECT_EQ(Calls("SetElementName"), 0u);
}

TEST_F(RemovalTest, TargetSeenByAHostIsNotTouched) {
    auto copy = fx.addSnapshot("db01", "db01_s0");
    fx.addHost("backup01", {"10000000C9AABB01"});
    fx.mapToHost("backup01", "db01_s0");
    ClearLog();
    IBMSVCSnapshot snap = SnapOf(copy, 4);
    EXPECT_EQ(snap.DeleteDependentSnaps(), 0);
    EXPECT_EQ(record().errorCode(), 60551u);
    EXPECT_EQ(Calls("ModifySynchronization"), 0u);
    EXPECT_EQ(fx.syncState(copy.mapping), 5);
    EXPECT_TRUE(fx.volume("db01_s0"));
}

}  // namespace
