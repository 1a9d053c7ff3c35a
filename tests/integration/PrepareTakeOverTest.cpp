// A prepare that ended half-way (its process killed) leaves objects under
// the names of its copies: a target, perhaps with a mapping from the source
// that never started, and the batch's group. The next prepare of the same
// copies removes them and makes them again; whatever else holds a name is
// refused, the record's error naming the name, and left as it is.
#include "FlowTest.h"

namespace flowtest {
namespace {

using CopyStage = EngineSimFixture::CopyStage;

class PrepareTakeOver : public FlowTest {
protected:
    void SetUp() override {
        FlowTest::SetUp();
        fx.setEngineId(kSnapshotEngine);
    }
};

TEST_F(PrepareTakeOver, ATargetLeftAloneOrWithAMappingThatNeverStartedIsMadeAgain) {
    const auto sources = addSources(3);
    const std::string alone = fx.addSource("again_db0").uid;                                 // killed after the create
    const std::string idle = fx.addSnapshot("db1", "again_db1", CopyStage::Idle).target.uid;  // after the attach
    const std::string prepared = fx.addSnapshot("db2", "again_db2", CopyStage::Prepared).target.uid;
    auto batch = batchFor(sources, "again");
    ASSERT_EQ(prepare(*batch), 0) << dump(*batch);
    const std::vector<std::string> old{alone, idle, prepared};
    for (size_t i = 0; i < batch->size(); ++i) {
        TestSnapInfo& r = (*batch)[i];
        EXPECT_EQ(r.errorCode(), 0u) << r.dump();
        EXPECT_EQ(r.countLines("left by an unfinished prepare of this copy"), 1u) << r.dump();
        const auto target = fx.volume("again_db" + std::to_string(i));
        ASSERT_TRUE(target);
        EXPECT_NE(target->uid, old[i]) << "made again";
        EXPECT_EQ(uniqueId(r).snapDev, target->uid);
        EXPECT_FALSE(fx.volume(old[i])) << "the leftover is gone";
        const auto mapping = fx.mappingOfTarget(target->name);
        ASSERT_TRUE(mapping);
        EXPECT_EQ(uniqueId(r).srcDev, fx.volume(sources[i])->uid);
        EXPECT_EQ(fx.syncState(mapping->name), 4);  // prepared
    }
    EXPECT_EQ(fx.mappingNames().size(), 3u);
}

TEST_F(PrepareTakeOver, AGroupHoldingOnlyTheBatchsLeftoversIsTakenOver) {
    const auto sources = addSources(2);
    const auto first = fx.addSnapshot("db0", "cg_db0", CopyStage::Idle);
    fx.addGroup("cg_db0_CG", {first.mapping});
    auto batch = batchFor(sources, "cg", useGroup);
    ASSERT_EQ(prepare(*batch), 0) << dump(*batch);
    EXPECT_TRUE((*batch)[0].hasLine("Consistency Group [cg_db0_CG] left by an unfinished prepare of this batch"))
        << (*batch)[0].dump();
    EXPECT_FALSE(fx.volume(first.target.uid));
    std::set<std::string> mappings;
    for (size_t i = 0; i < batch->size(); ++i) mappings.insert(fx.mappingOfTarget(targetOf((*batch)[i]))->name);
    EXPECT_EQ(fx.groupMembers("cg_db0_CG"), mappings);
    ASSERT_EQ(remove(*batch), 0) << dump(*batch);
    EXPECT_TRUE(fx.groupNames().empty()) << "a group taken over is the batch's own";
}

TEST_F(PrepareTakeOver, WhatIsNotALeftoverOfTheSameCopyIsRefusedAndNamed) {
    const auto sources = addSources(4);
    const auto started = fx.addSnapshot("db0", "held_db0", CopyStage::Started);
    const auto seen = fx.addSource("held_db1");
    fx.addHost("otherhost", {"10000000C9AABB77"});
    fx.mapToHost("otherhost", "held_db1");
    fx.addSource("elsewhere");
    const auto foreign = fx.addSnapshot("elsewhere", "held_db2", CopyStage::Idle);
    const auto larger = fx.addSource("held_db3", 2 * EngineSimFixture::kGiB);
    auto batch = batchFor(sources, "held");
    EXPECT_EQ(prepare(*batch), 1) << dump(*batch);
    const char* const why[] = {"was started", "a host maps it", "comes from another source",
                               "is not the source's"};
    for (size_t i = 0; i < batch->size(); ++i) {
        TestSnapInfo& r = (*batch)[i];
        EXPECT_EQ(r.status(), ZQSO::SNAP_STATUS_PREPARE_FAILED);
        const std::string error = r.errorMessage();
        EXPECT_NE(error.find("[held_db" + std::to_string(i) + "]"), std::string::npos) << error;
        EXPECT_NE(error.find(why[i]), std::string::npos) << error;
        EXPECT_FALSE(r.meta(1)) << r.dump();
    }
    // Each holder is as it was.
    EXPECT_EQ(fx.volume("held_db0")->uid, started.target.uid);
    EXPECT_EQ(fx.syncState(started.mapping), 5);
    EXPECT_EQ(fx.volume("held_db1")->uid, seen.uid);
    EXPECT_EQ(fx.mappingOfTarget("held_db2")->name, foreign.mapping);
    EXPECT_EQ(fx.volume("held_db3")->uid, larger.uid);
    EXPECT_EQ(fx.mappingNames(), (std::set<std::string>{started.mapping, foreign.mapping}));
}

}  // namespace
}  // namespace flowtest
