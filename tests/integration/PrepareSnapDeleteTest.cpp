// A snapshot or clone from end to end through the exported entry points,
// judged by what the simulated array holds after each step: the targets, the
// mappings and groups, and the data generation each target holds (a copy is
// the image of its source at snap time).
#include <thread>

#include "FlowTest.h"

namespace flowtest {
namespace {

class PrepareSnapDelete : public FlowTest {
protected:
    void snapshotGroupLifeCycle(RecordBatch& batch, const std::vector<std::string>& sources);
};

// A batch of three snapshots in one group, from prepare to delete.
void PrepareSnapDelete::snapshotGroupLifeCycle(RecordBatch& batch, const std::vector<std::string>& sources) {
    ASSERT_EQ(prepare(batch), 0) << dump(batch);
    const std::string group = "daily_db0_CG";
    EXPECT_EQ(fx.groupNames(), std::set<std::string>{group});
    std::set<std::string> targets, mappings;
    for (size_t i = 0; i < batch.size(); ++i) {
        EXPECT_EQ(batch[i].status(), ZQSO::SNAP_STATUS_PREPARED);
        EXPECT_EQ(batch[i].meta(ZQSO::SM_MDT_CONSISTENCY_GROUP).value_or(""), group);
        const auto fields = uniqueId(batch[i]);
        EXPECT_EQ(fields.arrayId, fx.arrayId());
        EXPECT_EQ(fields.snapOp, "4");
        EXPECT_EQ(fields.srcDev, fx.volume(sources[i])->uid);
        EXPECT_EQ(fields.targetSelMode, "");
        const auto mapping = fx.mappingOfTarget(targetOf(batch[i]));
        ASSERT_TRUE(mapping);
        EXPECT_EQ(mapping->copyRate, 0);
        EXPECT_EQ(fx.syncState(mapping->name), 4);  // prepared
        targets.insert(targetOf(batch[i]));
        mappings.insert(mapping->name);
    }
    EXPECT_EQ(targets.size(), 3u);
    EXPECT_EQ(fx.groupMembers(group), mappings);

    // The host writes between prepare and snap: the copies hold that data.
    std::vector<uint64_t> atSnap;
    for (const auto& source : sources) atSnap.push_back(fx.sim().hostWrite(source));
    ASSERT_EQ(snap(batch), 0) << dump(batch);
    for (size_t i = 0; i < batch.size(); ++i) {
        EXPECT_EQ(batch[i].status(), ZQSO::SNAP_STATUS_SNAP_STARTED);
        EXPECT_EQ(fx.syncState(fx.mappingOfTarget(targetOf(batch[i]))->name), 5);
        fx.sim().hostWrite(sources[i]);  // later writes stay out of the copy
        EXPECT_EQ(fx.sim().generation(targetOf(batch[i])), atSnap[i]);
    }

    ASSERT_EQ(remove(batch), 0) << dump(batch);
    for (size_t i = 0; i < batch.size(); ++i) EXPECT_EQ(batch[i].status(), ZQSO::SNAP_STATUS_DELETED);
    EXPECT_EQ(fx.volumeNames(), std::set<std::string>(sources.begin(), sources.end()));
    EXPECT_TRUE(fx.mappingNames().empty());
    EXPECT_TRUE(fx.groupNames().empty());
}

TEST_F(PrepareSnapDelete, SnapshotsInOneGroupAreTheImageOfSnapTime) {
    fx.setEngineId(kSnapshotEngine);
    const auto sources = addSources(3);
    auto batch = batchFor(sources, "daily", useGroup);
    snapshotGroupLifeCycle(*batch, sources);
    EXPECT_EQ(calls("CreateSynchronizedSet"), 1u);
    EXPECT_EQ(groupCalls(4), 1u);  // one group start
    EXPECT_EQ(groupCalls(6), 1u);  // one group prepare
    EXPECT_EQ(calls("CreateOrModifyElementFromStoragePool"), 3u);
}

}  // namespace
}  // namespace flowtest
