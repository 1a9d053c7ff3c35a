// The cluster's FlashCopy command rules, driven through ModifySynchronization
// and ModifySynchronizedSet: which state takes which command, what a refusal
// answers and that it changes nothing, and the lenient seed options.
#include <gtest/gtest.h>

#include "SeedFile.h"
#include "SimTestUtil.h"
#include "SvcReturnCode.h"
#include "SyncOperation.h"

using namespace simtest;

namespace {
constexpr uint64_t GiB = uint64_t(1) << 30;

class FlashCopyRules : public ::testing::Test {
protected:
    explicit FlashCopyRules(ClusterState cluster = ArraySimulator::defaultCluster()) : b(std::move(cluster)) {}
    void SetUp() override {
        for (const char* name : {"src", "s1", "s2", "clone"}) ASSERT_TRUE(b.sim.addVolume(name, "Pool0", GiB).ok());
    }
    void prepareAndStart(const std::string& source, const std::string& target, bool restore = false) {
        ASSERT_EQ(b.sync(source, target, SyncOperation::Prepare, false, restore), 0u);
        b.advanceSeconds(1);
        ASSERT_EQ(b.sync(source, target, SyncOperation::Start, false, restore), 0u);
    }
    SimBench b;
};

ClusterState lenientCluster() {
    return seedFromJson(nlohmann::json::parse(R"({"lenient": {"deleteAnyState": true, "stopGroupMember": true,
        "stopPreparing": true, "prepareWithoutRestore": true}})"))
        .state;
}

class LenientRules : public FlashCopyRules {
protected:
    LenientRules() : FlashCopyRules(lenientCluster()) {}
};
}  // namespace

TEST_F(FlashCopyRules, StopActsOnPreparedCopyingAndStoppingOnly) {
    ASSERT_EQ(b.attach("src", "s1", 0), 0u);
    EXPECT_EQ(b.sync("src", "s1", SyncOperation::Stop), 0u) << "idle_or_copied: no effect";
    EXPECT_EQ(b.state("src", "s1"), "idle_or_copied");

    ASSERT_EQ(b.sync("src", "s1", SyncOperation::Prepare), 0u);
    EXPECT_EQ(b.sync("src", "s1", SyncOperation::Stop), Rc::StopWrongState);
    EXPECT_EQ(b.sync("src", "s1", SyncOperation::Stop, true), Rc::StopWrongState);
    EXPECT_EQ(b.syncState("src", "s1"), 3) << "a refused stop leaves it preparing";
    b.advanceSeconds(1);
    EXPECT_EQ(b.sync("src", "s1", SyncOperation::Stop), 0u);
    EXPECT_EQ(b.syncState("src", "s1"), 9) << "a prepared mapping stops at once";
    EXPECT_EQ(b.sync("src", "s1", SyncOperation::Stop, true), 0u) << "stopped: no effect";
}

TEST_F(FlashCopyRules, AGroupMemberStopsOnlyThroughItsGroup) {
    ASSERT_EQ(b.attach("src", "s1", 0), 0u);
    SimPath cg = b.createGroup("cg1");
    ASSERT_EQ(b.modifyGroup(cg, SetOperation::AddMapping, "src", "s1"), 0u);
    ASSERT_EQ(b.modifyGroup(cg, SetOperation::Prepare), 0u);
    b.advanceSeconds(1);
    ASSERT_EQ(b.modifyGroup(cg, SetOperation::Start), 0u);

    EXPECT_EQ(b.sync("src", "s1", SyncOperation::Stop), Rc::MappingInGroup);
    EXPECT_EQ(b.sync("src", "s1", SyncOperation::Stop, true), Rc::MappingInGroup);
    EXPECT_EQ(b.state("src", "s1"), "copying");
    ASSERT_EQ(b.modifyGroup(cg, SetOperation::Stop), 0u);
    b.advanceSeconds(1);
    EXPECT_EQ(b.state("src", "s1"), "stopped");
    EXPECT_EQ(b.sync("src", "s1", SyncOperation::DeleteMapping, true), 0u) << "a stopped member is deleted on its own";
}

TEST_F(FlashCopyRules, RestoreIsCheckedWhenAMappingOrAGroupIsPrepared) {
    ASSERT_EQ(b.attach("src", "s1", 0), 0u);
    prepareAndStart("src", "s1");
    ASSERT_EQ(b.attach("s1", "src", 50, false, 5), 0u);

    EXPECT_EQ(b.sync("s1", "src", SyncOperation::Prepare), Rc::RestoreRequired);
    EXPECT_EQ(b.state("s1", "src"), "idle_or_copied");
    SimPath cg = b.createGroup("restores");
    ASSERT_EQ(b.modifyGroup(cg, SetOperation::AddMapping, "s1", "src"), 0u);
    EXPECT_EQ(b.modifyGroup(cg, SetOperation::Prepare), Rc::RestoreRequired) << "the group methods carry no Restore";
    EXPECT_EQ(b.state("s1", "src"), "idle_or_copied");
    ASSERT_EQ(b.modifyGroup(cg, SetOperation::RemoveMapping, "s1", "src"), 0u);

    ASSERT_EQ(b.sync("s1", "src", SyncOperation::Prepare, false, true), 0u);
    b.advanceSeconds(1);
    EXPECT_EQ(b.sync("s1", "src", SyncOperation::Start), Rc::RestoreRequired) << "the start is checked as well";
    EXPECT_EQ(b.sync("s1", "src", SyncOperation::Start, false, true), 0u);

    // A target that feeds no active copy needs no flag.
    ASSERT_EQ(b.attach("src", "s2", 0), 0u);
    EXPECT_EQ(b.sync("src", "s2", SyncOperation::Prepare, false, true), 0u);
}

TEST_F(FlashCopyRules, AMappingIsDeletedOnlyIdleOrStoppedWithForce) {
    ASSERT_EQ(b.attach("src", "s1", 0), 0u);
    ASSERT_EQ(b.attach("src", "s2", 0), 0u);
    auto refusedBoth = [&](const char* target, uint32_t rc) {
        EXPECT_EQ(b.sync("src", target, SyncOperation::DeleteMapping), rc);
        EXPECT_EQ(b.sync("src", target, SyncOperation::DeleteMapping, true), rc);
    };
    ASSERT_EQ(b.sync("src", "s1", SyncOperation::Prepare), 0u);
    refusedBoth("s1", Rc::MappingActive);  // preparing
    b.advanceSeconds(1);
    refusedBoth("s1", Rc::MappingActive);  // prepared
    ASSERT_EQ(b.sync("src", "s1", SyncOperation::Start), 0u);
    refusedBoth("s1", Rc::MappingActive);  // copying, nothing depends on it
    b.sim.hostWrite("src", 10);
    prepareAndStart("src", "s2");
    refusedBoth("s2", Rc::SourceNeededByOtherMaps);  // the older s1 reads from s2
    ASSERT_EQ(b.sync("src", "s2", SyncOperation::Stop), 0u);
    refusedBoth("s2", Rc::SourceNeededByOtherMaps);  // stopping
    EXPECT_EQ(b.state("src", "s2"), "stopping");

    b.advanceSeconds(3600);
    ASSERT_EQ(b.state("src", "s2"), "stopped");
    EXPECT_EQ(b.volumeStatus("s2"), 10);
    EXPECT_EQ(b.sync("src", "s2", SyncOperation::DeleteMapping), Rc::MappingActive) << "stopped needs Force";
    EXPECT_EQ(b.sync("src", "s2", SyncOperation::DeleteMapping, true), 0u);
    EXPECT_EQ(b.state("src", "s2"), "none");
    EXPECT_EQ(b.volumeStatus("s2"), 2) << "a forced delete brings the target online";
    EXPECT_FALSE(b.sim.withModel([&](Model& m, int64_t) { return m.state.volume(volumeIdIn(m, "s2"))->dataValid; }))
        << "the target of an unfinished copy keeps no valid image";
}

TEST_F(LenientRules, SeedOptionsGiveTheEarlierAnswers) {
    ASSERT_EQ(b.attach("src", "s1", 0), 0u);
    ASSERT_EQ(b.sync("src", "s1", SyncOperation::Prepare), 0u);
    EXPECT_EQ(b.sync("src", "s1", SyncOperation::Stop), 0u);
    EXPECT_EQ(b.state("src", "s1"), "stopped") << "stopPreparing";
    EXPECT_EQ(b.sync("src", "s1", SyncOperation::DeleteMapping), 0u) << "deleteAnyState: stopped without Force";

    ASSERT_EQ(b.attach("src", "s1", 0), 0u);
    prepareAndStart("src", "s1");
    ASSERT_EQ(b.attach("s1", "src", 50, false, 5), 0u);
    EXPECT_EQ(b.sync("s1", "src", SyncOperation::Prepare), 0u) << "prepareWithoutRestore";
    b.advanceSeconds(1);
    EXPECT_EQ(b.sync("s1", "src", SyncOperation::Start), Rc::RestoreRequired);

    SimPath cg = b.createGroup("cg1");
    ASSERT_EQ(b.attach("src", "s2", 0), 0u);
    ASSERT_EQ(b.modifyGroup(cg, SetOperation::AddMapping, "src", "s2"), 0u);
    ASSERT_EQ(b.modifyGroup(cg, SetOperation::Prepare), 0u);
    b.advanceSeconds(1);
    ASSERT_EQ(b.modifyGroup(cg, SetOperation::Start), 0u);
    EXPECT_EQ(b.sync("src", "s2", SyncOperation::DeleteMapping, true), Rc::SourceNeededByOtherMaps)
        << "s1 is older and reads from s2";
    EXPECT_EQ(b.sync("src", "s1", SyncOperation::DeleteMapping, true), 0u) << "deleteAnyState: a copying mapping";
    EXPECT_EQ(b.sync("src", "s2", SyncOperation::Stop), 0u) << "stopGroupMember";
}

TEST(FlashCopySeed, UnknownLenientRulesAreRefused) {
    EXPECT_THROW(seedFromJson(nlohmann::json::parse(R"({"lenient": {"deleteEverything": true}})")),
                 std::invalid_argument);
}
