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
        "stopPreparing": true, "prepareWithoutRestore": true, "completeBeforeDependents": true}})"))
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

TEST_F(FlashCopyRules, ACompleteCopyWaitsWhileAnOlderCopyReadsFromIt) {
    ASSERT_EQ(b.attach("src", "s1", 0), 0u);
    ASSERT_EQ(b.attach("src", "clone", 100), 0u);  // 64 MiB/s: 16 s per GiB
    prepareAndStart("src", "s1");
    b.sim.hostWrite("src", 10);
    prepareAndStart("src", "clone");
    b.advanceSeconds(17);
    EXPECT_EQ(b.state("src", "clone"), "copying");
    EXPECT_EQ(b.syncState("src", "clone"), 5);
    EXPECT_EQ(b.progress("src", "clone"), 100.0);
    EXPECT_EQ(b.volumeStatus("clone"), 2);
    b.advanceSeconds(3600);
    EXPECT_EQ(b.state("src", "clone"), "copying") << "s1 still reads from the clone";

    // The snapshot goes: the clone completes.
    ASSERT_EQ(b.sync("src", "s1", SyncOperation::Stop), 0u);
    b.advanceSeconds(1);
    ASSERT_EQ(b.state("src", "s1"), "stopped");
    EXPECT_EQ(b.state("src", "clone"), "idle_or_copied") << "a stopped snapshot reads nothing";
    EXPECT_EQ(b.syncState("src", "clone"), 6);
    EXPECT_EQ(b.sync("src", "s1", SyncOperation::DeleteMapping, true), 0u);
}

TEST_F(FlashCopyRules, StoppingAWaitingCopyLeavesItIdleWithItsTargetOnline) {
    ASSERT_TRUE(b.sim.addVolume("clone2", "Pool0", GiB).ok());
    ASSERT_EQ(b.attach("src", "s1", 0), 0u);
    ASSERT_EQ(b.attach("src", "clone", 100), 0u);
    ASSERT_EQ(b.attach("src", "s2", 0), 0u);
    ASSERT_EQ(b.attach("src", "clone2", 100, false, 5), 0u);
    prepareAndStart("src", "s1");
    prepareAndStart("src", "clone");
    b.sim.hostWrite("src", 10);  // the grains s1 needs go to the clone
    b.advanceSeconds(17);
    ASSERT_EQ(b.syncState("src", "clone"), 5);

    // Without Force it cleans what s1 needs, online, and ends idle_or_copied:
    // 10% at clean rate 0 (cleaned at 50, 2 MiB/s) takes 51.2 s after the 0.5 s stop.
    ASSERT_EQ(b.sync("src", "clone", SyncOperation::Stop), 0u);
    EXPECT_EQ(b.syncState("src", "clone"), 8);
    EXPECT_EQ(b.volumeStatus("clone"), 2) << "a complete image stays online while stopping";
    b.advanceSeconds(51);
    EXPECT_EQ(b.state("src", "clone"), "stopping");
    b.advanceSeconds(1);
    EXPECT_EQ(b.syncState("src", "clone"), 6);
    EXPECT_EQ(b.progress("src", "clone"), 100.0);
    EXPECT_EQ(b.state("src", "s1"), "copying") << "a stop without Force leaves the older copies alone";

    // With Force it stops at once, and the older copies it fed with it.
    prepareAndStart("src", "s2");
    prepareAndStart("src", "clone2");
    b.advanceSeconds(17);
    ASSERT_EQ(b.syncState("src", "clone2"), 5);
    ASSERT_EQ(b.sync("src", "clone2", SyncOperation::Stop, true), 0u);
    EXPECT_EQ(b.state("src", "clone2"), "none") << "idle_or_copied, then AutoDelete";
    EXPECT_EQ(b.volumeStatus("clone2"), 2);
    for (const char* older : {"s1", "s2"}) {
        EXPECT_EQ(b.state("src", older), "stopped") << older;
        EXPECT_EQ(b.volumeStatus(older), 10) << older;
    }
    EXPECT_EQ(b.syncState("src", "clone"), 6) << "an idle mapping is no dependent";
}

TEST_F(FlashCopyRules, ANewCopyRateAppliesFromTheMomentOfTheChange) {
    ASSERT_EQ(b.attach("src", "clone", 50), 0u);  // 2 MiB/s: 512 s per GiB
    prepareAndStart("src", "clone");
    b.advanceSeconds(256);
    auto setRate = [&](uint64_t rate) {
        b.sim.modifyInstance(b.mappingPath("src", "clone"), {{"CopyRate", SimValue::uint(SimType::Uint16, rate)}});
    };
    setRate(100);  // 64 MiB/s for the other 512 MiB: 8 s
    EXPECT_NEAR(b.progress("src", "clone"), 50.0, 0.01) << "the old rate's progress is kept, not recomputed";
    b.advanceSeconds(4);
    EXPECT_NEAR(b.progress("src", "clone"), 75.0, 0.01);
    setRate(0);
    b.advanceSeconds(3600);
    EXPECT_NEAR(b.progress("src", "clone"), 75.0, 0.01) << "rate 0 holds the copy where it is";
    setRate(100);
    b.advanceSeconds(4.1);
    EXPECT_EQ(b.state("src", "clone"), "idle_or_copied");
}

TEST_F(FlashCopyRules, AutoDeleteOnACopiedMappingDeletesItAtOnce) {
    ASSERT_EQ(b.attach("src", "s1", 0), 0u);
    ASSERT_EQ(b.attach("src", "clone", 100), 0u);
    prepareAndStart("src", "clone");
    b.advanceSeconds(17);
    ASSERT_EQ(b.syncState("src", "clone"), 6);
    SimProperty on{"AutoDelete", SimValue::boolean(true)};
    b.sim.modifyInstance(b.mappingPath("src", "s1"), {on});
    EXPECT_EQ(b.state("src", "s1"), "idle_or_copied") << "never copied: it stays";
    b.sim.modifyInstance(b.mappingPath("src", "clone"), {on});
    EXPECT_EQ(b.state("src", "clone"), "none");
}

TEST_F(FlashCopyRules, APrepareThatFailsEndsStoppedWithItsGroup) {
    ASSERT_EQ(b.attach("src", "s1", 0), 0u);
    b.sim.setPrepareFails("fcmap0", true);
    ASSERT_EQ(b.sync("src", "s1", SyncOperation::Prepare), 0u) << "the flush fails later, not the command";
    EXPECT_EQ(b.syncState("src", "s1"), 3);
    b.advanceSeconds(1);
    EXPECT_EQ(b.syncState("src", "s1"), 9);
    EXPECT_EQ(b.volumeStatus("s1"), 10);
    EXPECT_EQ(b.sync("src", "s1", SyncOperation::Start), Rc::StartNotPrepared);
    b.sim.setPrepareFails("fcmap0", false);
    ASSERT_EQ(b.sync("src", "s1", SyncOperation::Prepare), 0u);
    b.advanceSeconds(1);
    EXPECT_EQ(b.syncState("src", "s1"), 4) << "a cleared fault prepares again";
    ASSERT_EQ(b.sync("src", "s1", SyncOperation::Stop), 0u);

    ASSERT_EQ(b.attach("src", "s2", 0), 0u);
    SimPath cg = b.createGroup("cg1");
    for (const char* t : {"s1", "s2"}) ASSERT_EQ(b.modifyGroup(cg, SetOperation::AddMapping, "src", t), 0u);
    b.sim.setPrepareFails("fcmap1", true);
    ASSERT_EQ(b.modifyGroup(cg, SetOperation::Prepare), 0u);
    b.advanceSeconds(1);
    EXPECT_EQ(b.state("src", "s1"), "stopped") << "the group is prepared as one";
    EXPECT_EQ(b.state("src", "s2"), "stopped");
    EXPECT_EQ(b.modifyGroup(cg, SetOperation::Start), Rc::StartNotPrepared);
    EXPECT_THROW(b.sim.setPrepareFails("nosuchmap", true), std::invalid_argument);
}

TEST_F(FlashCopyRules, ASuspendedMappingHoldsStillWithItsVolumesOffline) {
    ASSERT_EQ(b.attach("src", "clone", 50), 0u);  // 512 s per GiB
    prepareAndStart("src", "clone");
    b.advanceSeconds(128);
    b.sim.setSuspended("fcmap0", true);
    EXPECT_EQ(b.state("src", "clone"), "suspended");
    EXPECT_EQ(b.syncState("src", "clone"), 12);
    EXPECT_EQ(b.volumeStatus("src"), 10);
    EXPECT_EQ(b.volumeStatus("clone"), 10);
    b.advanceSeconds(3600);
    EXPECT_NEAR(b.progress("src", "clone"), 25.0, 0.01) << "nothing moves while suspended";
    EXPECT_EQ(b.sync("src", "clone", SyncOperation::Prepare), Rc::PrepareWrongState);
    EXPECT_EQ(b.sync("src", "clone", SyncOperation::Start), Rc::AlreadyCopying);
    EXPECT_EQ(b.sync("src", "clone", SyncOperation::DeleteMapping, true), Rc::MappingActive);

    b.sim.setSuspended("fcmap0", false);
    EXPECT_EQ(b.volumeStatus("src"), 2);
    b.advanceSeconds(128);
    EXPECT_NEAR(b.progress("src", "clone"), 50.0, 0.01) << "the copy goes on where it was";

    // A stop of a suspended mapping is taken: stopped, the unfinished target offline.
    b.sim.setSuspended("fcmap0", true);
    ASSERT_EQ(b.sync("src", "clone", SyncOperation::Stop), 0u);
    EXPECT_EQ(b.state("src", "clone"), "stopped");
    EXPECT_EQ(b.volumeStatus("src"), 2);
    EXPECT_EQ(b.volumeStatus("clone"), 10);
    EXPECT_THROW(b.sim.setSuspended("fcmap0", true), std::invalid_argument) << "only copying or stopping";
}

TEST_F(FlashCopyRules, AStoppingMappingSuspendedFinishesItsStopAfterRelease) {
    ASSERT_EQ(b.attach("src", "s1", 0), 0u);
    ASSERT_EQ(b.attach("src", "s2", 0), 0u);
    prepareAndStart("src", "s1");
    prepareAndStart("src", "s2");
    b.sim.hostWrite("src", 10);
    ASSERT_EQ(b.sync("src", "s2", SyncOperation::Stop), 0u);  // 51.7 s of cleaning
    b.advanceSeconds(20);
    b.sim.setSuspended("fcmap1", true);
    b.advanceSeconds(600);
    EXPECT_EQ(b.state("src", "s2"), "suspended");
    b.sim.setSuspended("fcmap1", false);
    EXPECT_EQ(b.state("src", "s2"), "stopping");
    b.advanceSeconds(31);
    EXPECT_EQ(b.state("src", "s2"), "stopping");
    b.advanceSeconds(1);
    EXPECT_EQ(b.state("src", "s2"), "stopped");
}

TEST_F(FlashCopyRules, AForcedStopTakesTheDependentsOfDependentsAlong) {
    // src -> s1, s1 -> s2, s2 -> clone: each copy reads from the one before.
    ASSERT_EQ(b.attach("src", "s1", 0), 0u);
    ASSERT_EQ(b.attach("s1", "s2", 0), 0u);
    ASSERT_EQ(b.attach("s2", "clone", 0), 0u);
    prepareAndStart("src", "s1");
    prepareAndStart("s1", "s2");
    prepareAndStart("s2", "clone");
    ASSERT_EQ(b.sync("src", "s1", SyncOperation::Stop, true), 0u);
    EXPECT_EQ(b.state("src", "s1"), "stopped");
    EXPECT_EQ(b.state("s1", "s2"), "stopped");
    EXPECT_EQ(b.state("s2", "clone"), "stopped") << "the copy of a stopped copy's target stops too";
    EXPECT_EQ(b.volumeStatus("clone"), 10);
    EXPECT_EQ(b.volumeStatus("src"), 2);
}

TEST_F(FlashCopyRules, AStopOfASuspendedMappingStopsItsDependents) {
    ASSERT_EQ(b.attach("src", "s1", 0), 0u);
    ASSERT_EQ(b.attach("src", "s2", 0), 0u);
    prepareAndStart("src", "s1");
    prepareAndStart("src", "s2");  // s1, the older copy, reads from s2
    b.sim.setSuspended("fcmap1", true);
    ASSERT_EQ(b.sync("src", "s2", SyncOperation::Stop), 0u);
    EXPECT_EQ(b.state("src", "s2"), "stopped") << "a suspended mapping cannot clean";
    EXPECT_EQ(b.state("src", "s1"), "stopped") << "so what read from it stops as well";
    EXPECT_EQ(b.volumeStatus("s1"), 10);
    EXPECT_EQ(b.volumeStatus("src"), 2);
}

TEST_F(FlashCopyRules, CreationStopsAtTheClustersLimits) {
    ClusterState small = ArraySimulator::defaultCluster();
    small.limits.maxTargetsPerSource = 3;
    small.limits.maxConnectedMappings = 4;
    small.limits.maxMappings = 6;
    SimBench lim(std::move(small));
    for (const char* v : {"a", "b", "c", "d", "e", "f", "x", "y", "z"}) ASSERT_TRUE(lim.sim.addVolume(v, "Pool0", GiB).ok());
    // a -> b, a -> c, a -> d: the source has its 3 targets.
    for (const char* t : {"b", "c", "d"}) ASSERT_EQ(lim.attach("a", t, 0), 0u);
    EXPECT_EQ(lim.attach("a", "e", 0), Rc::FlashCopyLimit);
    // b -> e joins the set of a: 4 connected mappings, then no more.
    ASSERT_EQ(lim.attach("b", "e", 0), 0u);
    EXPECT_EQ(lim.attach("e", "f", 0), Rc::FlashCopyLimit) << "the set linked through e is full";
    EXPECT_EQ(lim.attach("f", "c", 0), Rc::MappingExists);
    // x -> y, y -> z: the cluster's 6 mappings.
    ASSERT_EQ(lim.attach("x", "y", 0), 0u);
    ASSERT_EQ(lim.attach("y", "z", 0), 0u);
    EXPECT_EQ(lim.attach("z", "f", 0), Rc::FlashCopyLimit);
    EXPECT_EQ(lim.call(lim.configService(), "CreateReplica",
                       {uintParam("CopyType", 4), refParam("SourceElement", lim.volumePath("x"))})
                  .returnValue,
              Rc::FlashCopyLimit);
    EXPECT_EQ(lim.sim.withModel([](Model& m, int64_t) { return m.state.fcMappings.size(); }), 6u);
    EXPECT_EQ(lim.sim.withModel([](Model& m, int64_t) { return m.state.volumes.size(); }), 9u)
        << "a refused CreateReplica leaves no target";
}

TEST_F(FlashCopyRules, MappingAndGroupNamesFollowTheVolumeNameRules) {
    const std::string longest(63, 'm');
    auto attachNamed = [&](const std::string& target, const std::string& name) {
        return b.call(b.configService(), "AttachReplica",
                      {refParam("SourceElement", b.volumePath("src")), refParam("TargetElement", b.volumePath(target)),
                       strParam("ElementName", name)})
            .returnValue;
    };
    auto group = [&](const std::string& name) {
        return b.call(b.configService(), "CreateSynchronizedSet", {strParam("ElementName", name), uintParam("CopyType", 4)})
            .returnValue;
    };
    EXPECT_EQ(attachNamed("s1", longest + "m"), Rc::InvalidObjectName);
    EXPECT_EQ(attachNamed("s1", "9lives"), Rc::InvalidObjectName);
    EXPECT_EQ(attachNamed("s1", longest), 0u);
    EXPECT_EQ(group(longest + "g"), Rc::InvalidObjectName);
    EXPECT_EQ(group("-dash"), Rc::InvalidObjectName);
    EXPECT_EQ(group(longest), 0u);
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

    ASSERT_EQ(b.attach("src", "s1", 0), 0u);
    ASSERT_EQ(b.attach("src", "clone", 100), 0u);
    prepareAndStart("src", "s1");
    prepareAndStart("src", "clone");
    b.advanceSeconds(17);
    EXPECT_EQ(b.state("src", "clone"), "idle_or_copied") << "completeBeforeDependents";
}

TEST(FlashCopySeed, LimitsAndTheSuspendedSyncStateAreSeedOptions) {
    ClusterState s = seedFromJson(nlohmann::json::parse(R"({"limits": {"maxMappings": 0, "maxConnectedMappings": 9},
        "flashCopy": {"suspendedSyncState": 13},
        "volumes": [{"name": "src", "sizeGiB": 1}, {"name": "tgt", "sizeGiB": 1}]})"))
                         .state;
    EXPECT_EQ(s.limits.maxMappings, 0u);
    EXPECT_EQ(s.limits.maxConnectedMappings, 9u);
    SimBench seeded(std::move(s));
    ASSERT_EQ(seeded.attach("src", "tgt", 50), 0u);
    ASSERT_EQ(seeded.sync("src", "tgt", SyncOperation::Prepare), 0u);
    seeded.advanceSeconds(1);
    ASSERT_EQ(seeded.sync("src", "tgt", SyncOperation::Start), 0u);
    seeded.sim.setSuspended("fcmap0", true);
    EXPECT_EQ(seeded.syncState("src", "tgt"), 13);
}

TEST(FlashCopySeed, UnknownLenientRulesAreRefused) {
    EXPECT_THROW(seedFromJson(nlohmann::json::parse(R"({"lenient": {"deleteEverything": true}})")),
                 std::invalid_argument);
}
