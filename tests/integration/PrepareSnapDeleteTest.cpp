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
    // Sources "db0".. for copies of the engine's kind; a batch "<snap>_db<i>" of them.
    void newSources(int engine, size_t n) {
        fx.setEngineId(engine);
        sources = addSources(n);
    }
    std::unique_ptr<RecordBatch> newBatch(int engine, size_t n, const std::string& snap,
                                          const std::function<void(TestSnapInfo&)>& configure = {}) {
        newSources(engine, n);
        return batchFor(sources, snap, configure);
    }
    std::vector<std::string> sources;
};

// A batch of three snapshots in one group, from prepare to delete.
TEST_F(PrepareSnapDelete, SnapshotsInOneGroupAreTheImageOfSnapTime) {
    auto owned = newBatch(kSnapshotEngine, 3, "daily", useGroup);
    RecordBatch& batch = *owned;
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
    EXPECT_EQ(calls("CreateSynchronizedSet"), 1u);
    EXPECT_EQ(groupCalls(4), 1u);  // one group start
    EXPECT_EQ(groupCalls(6), 1u);  // one group prepare
    EXPECT_EQ(calls("CreateOrModifyElementFromStoragePool"), 3u);
}

TEST_F(PrepareSnapDelete, ClonesInAGroupAreFollowedUntilCopiedThenPreparedAgain) {
    auto batch = newBatch(kCloneEngine, 2, "full", useGroup);
    const int64_t before = fx.clock().nowMs();
    ASSERT_EQ(prepare(*batch), 0) << dump(*batch);
    // 1 GiB at copy rate 50 copies in 512 s: followed together in passes of 180 s.
    EXPECT_GE(fx.clock().nowMs() - before, 512 * 1000);
    EXPECT_LT(fx.clock().nowMs() - before, 1000 * 1000);
    for (size_t i = 0; i < batch->size(); ++i) {
        TestSnapInfo& r = (*batch)[i];
        EXPECT_TRUE(r.hasLine("Resync still in progress for FlashCopy")) << r.dump();
        EXPECT_EQ(r.countLines("Resync completed"), 1u);
        const auto mapping = fx.mappingOfTarget(targetOf(r));
        ASSERT_TRUE(mapping);
        EXPECT_EQ(mapping->copyRate, 50);
        EXPECT_FALSE(mapping->incremental);
        EXPECT_EQ(fx.syncState(mapping->name), 4);  // copied, stopped and prepared again
    }
    EXPECT_EQ(groupCalls(4), 1u);
    EXPECT_EQ(groupCalls(6), 2u);

    const uint64_t atSnap = fx.sim().hostWrite(sources[1]);
    ASSERT_EQ(snap(*batch), 0) << dump(*batch);
    fx.sim().hostWrite(sources[1]);
    EXPECT_EQ(fx.sim().generation(targetOf((*batch)[1])), atSnap);

    ASSERT_EQ(remove(*batch), 0) << dump(*batch);
    EXPECT_EQ(fx.volumeNames(), std::set<std::string>(sources.begin(), sources.end()));
    EXPECT_TRUE(fx.mappingNames().empty());
    EXPECT_TRUE(fx.groupNames().empty());
}

TEST_F(PrepareSnapDelete, AnIncrementalCloneIsKeptAndTakenAgainUnderItsLabel) {
    newSources(kCloneEngine, 1);
    std::string target;  // its UID
    for (int cycle = 0; cycle < 3; ++cycle) {
        const std::string name = "inc" + std::to_string(cycle) + "_db0";
        auto batch = batchFor(sources, "inc" + std::to_string(cycle), [](TestSnapInfo& r) {
            r.setConfig("SMCONFIG_NAME_ENABLE_INCREMENTAL_RESYNC_FOR_FLASHCOPY", 1);
            r.setConfig("SMCONFIG_NAME_TARGET_DEVICE_LABEL", std::string("keep"));
        });
        TestSnapInfo& r = (*batch)[0];
        fx.sim().requestLog().clear();
        ASSERT_EQ(prepare(*batch), 0) << r.dump();
        remember(*batch, kCloneEngine);
        if (cycle == 0) {
            target = uniqueId(r).snapDev;
            EXPECT_EQ(uniqueId(r).targetSelMode, "");
        } else {
            EXPECT_EQ(uniqueId(r).snapDev, target) << "the kept clone is taken again";
            EXPECT_EQ(uniqueId(r).targetSelMode, "1");
            EXPECT_EQ(calls("CreateOrModifyElementFromStoragePool"), 0u);
            EXPECT_EQ(calls("AttachReplica"), 0u);
        }
        ASSERT_TRUE(fx.volume(target));
        EXPECT_EQ(fx.volume(target)->name, name);
        EXPECT_EQ(fx.volumeNames().size(), 2u);
        EXPECT_TRUE(fx.mappingOfTarget(name)->incremental);

        const uint64_t atSnap = fx.sim().hostWrite(sources[0]);
        ASSERT_EQ(snap(*batch), 0) << r.dump();
        fx.clock().advanceMs(600 * 1000);
        EXPECT_EQ(fx.sim().generation(name), atSnap);

        ASSERT_EQ(remove(*batch), 0) << r.dump();
        forget(*batch);
        EXPECT_EQ(fx.volume(target)->name, name + "_keep");
        EXPECT_EQ(fx.mappingOfTarget(name + "_keep")->name, name + "_keep");
    }
}

TEST_F(PrepareSnapDelete, ASpaceEfficientTargetWithTheLabelIsTakenAndKept) {
    newSources(kSnapshotEngine, 1);
    const auto seeded = fx.addSnapshot(sources[0], "spare_keep", EngineSimFixture::CopyStage::Started);
    for (int cycle = 0; cycle < 2; ++cycle) {
        const std::string name = "se" + std::to_string(cycle) + "_db0";
        auto batch = batchFor(sources, "se" + std::to_string(cycle),
                              [](TestSnapInfo& r) { r.setConfig("SMCONFIG_NAME_TARGET_DEVICE_LABEL", std::string("keep")); });
        TestSnapInfo& r = (*batch)[0];
        ASSERT_EQ(prepare(*batch), 0) << r.dump();
        remember(*batch, kSnapshotEngine);
        EXPECT_EQ(uniqueId(r).snapDev, seeded.target.uid);
        EXPECT_EQ(uniqueId(r).targetSelMode, "2");
        EXPECT_EQ(fx.volume(seeded.target.uid)->name, name);
        EXPECT_EQ(fx.syncState(fx.mappingOfTarget(name)->name), 4);
        const uint64_t atSnap = fx.sim().hostWrite(sources[0]);
        ASSERT_EQ(snap(*batch), 0) << r.dump();
        EXPECT_EQ(fx.sim().generation(name), atSnap);
        ASSERT_EQ(remove(*batch), 0) << r.dump();
        forget(*batch);
        EXPECT_EQ(fx.volume(seeded.target.uid)->name, name + "_keep");
        EXPECT_EQ(fx.volumeNames().size(), 2u);
    }
}

TEST_F(PrepareSnapDelete, LabelOnlyWithoutALabelledTargetCreatesNothing) {
    auto batch = newBatch(kSnapshotEngine, 1, "lbl", [](TestSnapInfo& r) {
        r.setConfig("SMCONFIG_NAME_TARGET_DEVICE_LABEL", std::string("keep"));
        r.setConfig("SMCONFIG_NAME_USE_LABEL_DEVICE_ONLY", 1);
    });
    EXPECT_EQ(prepare(*batch), 1);
    EXPECT_EQ((*batch)[0].status(), ZQSO::SNAP_STATUS_PREPARE_FAILED);
    EXPECT_TRUE((*batch)[0].hasLine("Disallowing the Volume Creation as use[keep] is forced"));
    EXPECT_EQ(calls("CreateOrModifyElementFromStoragePool") + calls("AttachReplica"), 0u);
    EXPECT_EQ(fx.volumeNames(), std::set<std::string>{"db0"});
    EXPECT_FALSE((*batch)[0].meta(1));
}

TEST_F(PrepareSnapDelete, ADeviceOfAnotherArraySendsNothing) {
    newSources(kSnapshotEngine, 2);
    fx.env().disks().add(zq::platform::SimulatedDisk::volume(devicePath("db1"), "IBM", "2145", "FFFFFF99999900000001",
                                                             fx.volume("db1")->uid));
    auto batch = batchFor(sources, "two", useGroup);
    fx.sim().requestLog().clear();
    EXPECT_EQ(prepare(*batch), 1);
    EXPECT_EQ((*batch)[1].errorCode(), 60322u);
    EXPECT_TRUE((*batch)[1].hasLine("belongs to different IBMSVC Array [0000FFFFFF999999], Expected [" + fx.arrayId()));
    EXPECT_EQ(statuses(*batch), (std::vector<int>{2, 2}));
    EXPECT_EQ(fx.sim().requestLog().size(), 0u);
}

TEST_F(PrepareSnapDelete, OneFailingRecordOfThreeLeavesNothingAndTheGroupIntact) {
    auto batch = newBatch(kSnapshotEngine, 3, "part", useGroup);
    fx.sim().faults().add(arraysim::Fault::returns("AttachReplica", 38844, 1));
    ASSERT_EQ(prepare(*batch), 2) << dump(*batch);
    size_t failed = 3;
    std::set<std::string> members;
    for (size_t i = 0; i < 3; ++i) {
        TestSnapInfo& r = (*batch)[i];
        if (r.status() == ZQSO::SNAP_STATUS_PREPARE_FAILED) {
            failed = i;
            EXPECT_FALSE(r.meta(1));
            EXPECT_FALSE(fx.volume("part_" + sources[i])) << "its target was removed";
        } else {
            EXPECT_EQ(r.status(), ZQSO::SNAP_STATUS_PREPARED);
            members.insert(fx.mappingOfTarget(targetOf(r))->name);
        }
    }
    ASSERT_LT(failed, 3u);
    EXPECT_EQ(fx.groupMembers("part_db0_CG"), members);
    EXPECT_EQ(members.size(), 2u);
    EXPECT_EQ(fx.volumeNames().size(), 5u);

    EXPECT_EQ(snap(*batch), 2);
    EXPECT_EQ((*batch)[failed].status(), ZQSO::SNAP_STATUS_SNAP_FAILED);
    EXPECT_EQ(remove(*batch), 0) << dump(*batch);
    EXPECT_EQ(fx.volumeNames().size(), 3u);
    EXPECT_TRUE(fx.groupNames().empty());
}

TEST_F(PrepareSnapDelete, AFailedGroupPrepareFailsEveryRecord) {
    auto batch = newBatch(kSnapshotEngine, 3, "gp", useGroup);
    // Once every worker has joined, the group's prepare is refused.
    int joined = 0;
    (*batch)[0].setLineHook([&](const zqtest::LogLine& line) {
        if (line.text == "PrepareSnap Thread Joined" && ++joined == 3)
            fx.sim().faults().add(arraysim::Fault::returns("ModifySynchronizedSet", 38817, 1));
    });
    EXPECT_EQ(prepare(*batch), 1);
    (*batch)[0].setLineHook(nullptr);
    EXPECT_EQ(statuses(*batch), (std::vector<int>{2, 2, 2}));
    EXPECT_TRUE((*batch)[0].hasLine("ConsistencyGroup preparation failed ", 2));
    EXPECT_EQ(fx.volumeNames().size(), 3u) << "every target was removed";
    EXPECT_TRUE(fx.mappingNames().empty());
    EXPECT_TRUE(fx.groupNames().empty()) << "the group this prepare made is gone too";
}

TEST_F(PrepareSnapDelete, AFailedGroupStartFailsEveryRecord) {
    auto batch = newBatch(kSnapshotEngine, 3, "gs", useGroup);
    ASSERT_EQ(prepare(*batch), 0);
    fx.sim().faults().add(arraysim::Fault::returns("ModifySynchronizedSet", 38818, 1));
    EXPECT_EQ(snap(*batch), 1);
    EXPECT_EQ(statuses(*batch), (std::vector<int>{6, 6, 6}));
    EXPECT_TRUE((*batch)[2].hasLine("ConsistencyGroup Resync failed ", 2));
    for (size_t i = 0; i < 3; ++i) EXPECT_EQ(fx.syncState(fx.mappingOfTarget(targetOf((*batch)[i]))->name), 4);
    EXPECT_EQ(remove(*batch), 0) << dump(*batch);
    EXPECT_EQ(fx.volumeNames().size(), 3u);
}

TEST_F(PrepareSnapDelete, CopiesGoneOrStoppedOnTheArrayAreDeleted) {
    newSources(kCloneEngine, 3);
    // Smart clones: started by snap, not followed at prepare.
    auto clones = batchFor(sources, "c", [](TestSnapInfo& r) { r.setConfig("SMCONFIG_NAME_SMART_CLONE_OP", 1); });
    ASSERT_EQ(prepare(*clones), 0) << dump(*clones);
    ASSERT_EQ(snap(*clones), 0) << dump(*clones);
    // Record 0: its target is removed by someone else. Record 1: stopped mid-copy
    // (SyncState 9). Record 2 stays copying.
    ASSERT_TRUE(fx.sim().vanish("volume", targetOf((*clones)[0])));
    fx.sim().withModel([&](arraysim::Model& m, int64_t now) {
        return m.copies.stop(m.state.mappingOfTarget(m.state.volumeByName("c_db1")->id)->id, true, now);
    });
    EXPECT_EQ(fx.syncState(fx.mappingOfTarget("c_db1")->name), 9);
    EXPECT_EQ(fx.syncState(fx.mappingOfTarget("c_db2")->name), 5);
    fx.sim().requestLog().clear();
    ASSERT_EQ(remove(*clones), 0) << dump(*clones);
    EXPECT_TRUE((*clones)[0].hasLine("Nothing to delete as snap device externally deleted from the Storage Array"));
    EXPECT_EQ(fx.volumeNames(), std::set<std::string>(sources.begin(), sources.end()));
    EXPECT_TRUE(fx.mappingNames().empty());

    // A snapshot prepared but never started.
    fx.setEngineId(kSnapshotEngine);
    auto never = batchFor({sources[0]}, "n");
    ASSERT_EQ(prepare(*never), 0);
    EXPECT_EQ(fx.syncState(fx.mappingOfTarget("n_db0")->name), 4);
    ASSERT_EQ(remove(*never), 0) << dump(*never);
    EXPECT_EQ(fx.volumeNames().size(), 3u);
    EXPECT_TRUE(fx.mappingNames().empty());
}

TEST_F(PrepareSnapDelete, AStopThatNeverEndsIsBoundedMarkedAndFinishedLater) {
    auto batch = newBatch(kSnapshotEngine, 1, "s");
    ASSERT_EQ(prepare(*batch), 0);
    ASSERT_EQ(snap(*batch), 0);
    const std::string mapping = fx.mappingOfTarget("s_db0")->name;
    fx.sim().setStuckStopping(mapping, true);
    const int64_t before = fx.clock().nowMs();
    EXPECT_EQ(remove(*batch), 1);
    EXPECT_EQ(fx.clock().nowMs() - before, 300 * 1000) << "30 waits of 10 s";
    EXPECT_EQ((*batch)[0].status(), ZQSO::SNAP_STATUS_DELETE_FAILED);
    EXPECT_EQ(fx.volume(uniqueId((*batch)[0]).snapDev)->name, "s_db0_ZQ_TO_BE_DEL");
    EXPECT_EQ(fx.syncState(mapping + "_ZQ_TO_BE_DEL"), 8);

    fx.sim().setStuckStopping(mapping + "_ZQ_TO_BE_DEL", false);
    fx.clock().advanceMs(10 * 1000);
    EXPECT_EQ(remove(*batch), 0) << dump(*batch);
    EXPECT_EQ(fx.volumeNames(), std::set<std::string>{"db0"});
    EXPECT_TRUE(fx.mappingNames().empty());
}

TEST_F(PrepareSnapDelete, DeletingANewerCloneLeavesAnOlderSnapshotValid) {
    newSources(kCloneEngine, 1);
    for (bool forced : {false, true}) {
        SCOPED_TRACE(forced ? "forced stop configured" : "default stop");
        if (forced) fx.config().set("HostModule", "nIBMSVCDisableForceFCStop", "0");
        const std::string older = forced ? "old_f" : "old";
        const uint64_t atOlder = fx.sim().hostWrite(sources[0]);
        const auto seeded = fx.addSnapshot(sources[0], older);
        auto batch = batchFor(sources, forced ? "new_f" : "new",
                              [](TestSnapInfo& r) { r.setConfig("SMCONFIG_NAME_SMART_CLONE_OP", 1); });
        ASSERT_EQ(prepare(*batch), 0) << dump(*batch);
        fx.sim().hostWrite(sources[0]);
        ASSERT_EQ(snap(*batch), 0) << dump(*batch);
        fx.clock().advanceMs(60 * 1000);  // the newer clone is part way
        EXPECT_EQ(fx.syncState(fx.mappingOfTarget(targetOf((*batch)[0]))->name), 5);

        ASSERT_EQ(remove(*batch), 0) << dump(*batch);
        EXPECT_EQ(fx.sim().generation(older), atOlder);
        if (!forced)
            EXPECT_EQ(fx.syncState(seeded.mapping), 5) << "the older snapshot still holds its image";
        else
            EXPECT_EQ(fx.syncState(seeded.mapping), 9) << "a forced stop takes the older snapshot with it";
    }
}

TEST_F(PrepareSnapDelete, AGroupHoldingOtherMappingsIsNotTaken) {
    newSources(kSnapshotEngine, 2);
    const auto other = fx.addSnapshot(sources[0], "other", EngineSimFixture::CopyStage::Idle);
    fx.addGroup("g_db0_CG", {other.mapping});
    auto batch = batchFor(sources, "g", useGroup);
    EXPECT_EQ(prepare(*batch), 1);
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ((*batch)[i].status(), ZQSO::SNAP_STATUS_PREPARE_FAILED);
        EXPECT_EQ((*batch)[i].errorCode(), 60540u);
        EXPECT_EQ((*batch)[i].errorMessage(), "Consistency Group creation failed");
    }
    EXPECT_EQ(fx.groupMembers("g_db0_CG"), std::set<std::string>{other.mapping});
    EXPECT_EQ(fx.volumeNames().size(), 3u);
    EXPECT_EQ(calls("CreateOrModifyElementFromStoragePool"), 0u);
}

TEST_F(PrepareSnapDelete, AFailedMetadataWriteTakesTheTargetBack) {
    auto batch = newBatch(kSnapshotEngine, 2, "m");
    (*batch)[1].setFailMetaDataWrites(true);
    EXPECT_EQ(prepare(*batch), 2);
    EXPECT_EQ(statuses(*batch), (std::vector<int>{1, 2}));
    EXPECT_TRUE((*batch)[1].hasLine("Failed to set metadata [id : 1]", 2));
    EXPECT_EQ(fx.volumeNames(), (std::set<std::string>{"db0", "db1", "m_db0"}));
    EXPECT_EQ(fx.mappingNames().size(), 1u);
}

TEST_F(PrepareSnapDelete, UnmapFirstLeavesStillMappedCopiesAlone) {
    auto batch = newBatch(kSnapshotEngine, 2, "u");
    ASSERT_EQ(prepare(*batch), 0);
    ASSERT_EQ(snap(*batch), 0);
    fx.addHost("testhost", {"10000000C9AABB01"});
    fx.host().setInitiators({{"10000000C9AABB01", false}});
    fx.mapToHost("testhost", "u_db0");
    fx.sim().faults().add(arraysim::Fault::returns("HidePaths", 1, -1));
    (*batch)[1].setMeta(1, "");  // nothing to unmap or delete
    fx.host().setCurrentOperation(ZQSO::ZQSO_OP_DELETE_WITH_UNMAP);

    EXPECT_EQ(remove(*batch), 2);
    EXPECT_TRUE((*batch)[0].hasLine("Removing mappings if any exists", 0));
    EXPECT_EQ((*batch)[0].status(), ZQSO::SNAP_STATUS_DELETE_FAILED);
    EXPECT_EQ((*batch)[0].errorCode(), 1u) << "the array's refusal of the unmap is the first error";
    EXPECT_TRUE((*batch)[0].hasLine("Not deleted, the copy could not be unmapped from this host", 2));
    EXPECT_TRUE((*batch)[0].meta(1)) << "the copy stays known";
    EXPECT_EQ((*batch)[1].status(), ZQSO::SNAP_STATUS_DELETED);
    EXPECT_TRUE(fx.volume("u_db0")) << "a copy still mapped to the host is not deleted";
    EXPECT_EQ(fx.hostsOfVolume("u_db0"), std::set<std::string>{"testhost"});
    EXPECT_EQ(fx.syncState(fx.mappingOfTarget("u_db0")->name), 5);
    EXPECT_EQ(calls("ReturnToStoragePool"), 0u);
}

TEST_F(PrepareSnapDelete, AGroupThatCannotBeRemovedAtOnceIsEmptiedAndRemovedAtTheEnd) {
    auto batch = newBatch(kSnapshotEngine, 2, "cg", useGroup);
    ASSERT_EQ(prepare(*batch), 0);
    ASSERT_EQ(snap(*batch), 0);
    fx.sim().faults().add(arraysim::Fault::returns("DeleteSynchronizedSet", 38669, 1));
    fx.sim().requestLog().clear();
    ASSERT_EQ(remove(*batch), 0) << dump(*batch);
    EXPECT_TRUE((*batch)[0].hasLine("ConsistencyGroup [cg_db0_CG] deletion failed"));
    EXPECT_EQ(groupCalls(8), 1u) << "the members stop through their group, once";
    EXPECT_EQ(groupCalls(1), 2u);
    EXPECT_TRUE((*batch)[1].hasLine("Removed [" + uniqueId((*batch)[1]).snapDev + "] from CG [cg_db0_CG]"));
    EXPECT_EQ(calls("DeleteSynchronizedSet"), 2u);
    EXPECT_EQ(fx.volumeNames().size(), 2u);
    EXPECT_TRUE(fx.mappingNames().empty() && fx.groupNames().empty());
}

TEST_F(PrepareSnapDelete, ACloneStoppedWhileFollowedFailsAndIsTakenBack) {
    auto batch = newBatch(kCloneEngine, 2, "f");
    // Someone stops the first clone while prepare follows its copy.
    (*batch)[0].setLineHook([&](const zqtest::LogLine& line) {
        if (line.text.find("Resync still in progress") == std::string::npos) return;
        fx.sim().withModel([](arraysim::Model& m, int64_t now) {
            return m.copies.stop(m.state.mappingOfTarget(m.state.volumeByName("f_db0")->id)->id, true, now);
        });
    });
    EXPECT_EQ(prepare(*batch), 2) << dump(*batch);
    (*batch)[0].setLineHook(nullptr);
    EXPECT_EQ(statuses(*batch), (std::vector<int>{2, 1}));
    EXPECT_TRUE((*batch)[0].hasLine("Resync failed for FlashCopy [f_db0], sync state [9]", 2));
    EXPECT_FALSE(fx.volume("f_db0"));
    EXPECT_EQ(fx.syncState(fx.mappingOfTarget("f_db1")->name), 4);
}

TEST_F(PrepareSnapDelete, AStartThatDoesNotTakeFailsTheRecord) {
    auto batch = newBatch(kSnapshotEngine, 1, "st");
    ASSERT_EQ(prepare(*batch), 0);
    // The start is accepted as a job that never ends: the mapping stays prepared.
    fx.sim().faults().add(arraysim::Fault::asJob("ModifySynchronization", arraysim::JobScript::neverEnding(), 1));
    const int64_t before = fx.clock().nowMs();
    EXPECT_EQ(snap(*batch), 1);
    EXPECT_EQ((*batch)[0].status(), ZQSO::SNAP_STATUS_SNAP_FAILED);
    EXPECT_TRUE((*batch)[0].hasLine("did not start, sync state [4]", 2));
    EXPECT_EQ(fx.clock().nowMs() - before, 590 * 1000) << "60 polls, 10 s apart";
    EXPECT_EQ(fx.syncState(fx.mappingOfTarget("st_db0")->name), 4);
}

}  // namespace
}  // namespace flowtest
