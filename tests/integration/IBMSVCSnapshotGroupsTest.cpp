// Consistency groups through the IBM SVC snapshot object, and the searches
// for reusable targets.
#include "SnapshotTest.h"

using arraysim::Fault;
using arraysim::JobScript;
using snaptest::SnapshotTest;
using zqtest::EngineSimFixture;

namespace {

TEST_F(SnapshotTest, ConsistencyGroupLife) {
    fx.addSource("db01");
    auto copy = fx.addClone("db01", "db01_c0", false, EngineSimFixture::CopyStage::Idle);
    IBMSVCSnapshot snap = SnapOf(copy, 5);
    snap.m_SyncSetName = "cg_backup";

    bool created = false;
    ASSERT_EQ(snap.CreateSyncSet(created, 4), 1) << record().dump();
    EXPECT_TRUE(created);
    EXPECT_EQ(snap.CreateSyncSet(created, 4), 1);
    IBMSVCSnapshot second = SnapOf(copy, 5);
    second.m_SyncSetName = "CG_BACKUP";  // names compare ignoring case
    bool secondCreated = false;
    EXPECT_EQ(second.CreateSyncSet(secondCreated, 4), 1);
    EXPECT_EQ(second.m_SyncSetPath, snap.m_SyncSetPath);
    EXPECT_EQ(Calls("CreateSynchronizedSet"), 1u);

    ASSERT_EQ(snap.ModifySyncSet(0), 0) << record().dump();
    EXPECT_EQ(fx.groupMembers("cg_backup"), std::set<std::string>{copy.mapping});
    EXPECT_EQ(snap.GetSyncSetName(), 1);
    EXPECT_EQ(snap.m_SyncSetName, "cg_backup");
    ASSERT_EQ(snap.ModifySyncSet(6), 0);
    fx.clock().advanceMs(1000);
    ASSERT_EQ(snap.ModifySyncSet(4), 0) << record().dump();
    EXPECT_EQ(fx.syncState(copy.mapping), 5);
    ASSERT_EQ(snap.ModifySyncSet(8), 0);
    fx.clock().advanceMs(1000);
    ASSERT_EQ(snap.ModifySyncSet(1), 0) << record().dump();
    EXPECT_EQ(fx.groupMembers("cg_backup"), std::set<std::string>{});
    EXPECT_EQ(second.GetSyncSetName(), 0);
    ASSERT_EQ(snap.DeleteSyncSet(""), 0) << record().dump();
    EXPECT_TRUE(fx.groupNames().empty());
    EXPECT_EQ(fx.mappingNames(), std::set<std::string>{copy.mapping});

    // Unknown groups are no errors.
    snap.m_SyncSetPath.clear();
    EXPECT_EQ(snap.ModifySyncSet(4), 1);
    EXPECT_EQ(snap.DeleteSyncSet("cg_other"), 1);
    EXPECT_EQ(record().errorCode(), 0u);
}

TEST_F(SnapshotTest, GroupMethodsAsJobs) {
    fx.addSource("db01");
    IBMSVCSnapshot snap = Snap(5);
    snap.m_SyncSetName = "cg_jobs";
    fx.sim().faults().add(Fault::asJob("CreateSynchronizedSet", JobScript::completing(), 1));
    bool created = false;
    ASSERT_EQ(snap.CreateSyncSet(created, 4), 1) << record().dump();
    EXPECT_EQ(fx.groupNames(), std::set<std::string>{"cg_jobs"});

    fx.sim().faults().add(Fault::asJob("DeleteSynchronizedSet", JobScript::endingIn(10, "refused"), 1));
    EXPECT_EQ(snap.DeleteSyncSet(""), -1);
    EXPECT_EQ(snap.m_ErrorCode, 4);
    EXPECT_TRUE(record().hasLine("Consistency Group [cg_jobs] deletion failure"));
    EXPECT_EQ(fx.groupNames(), std::set<std::string>{"cg_jobs"});
}

TEST_F(SnapshotTest, ReusableAndIncrementalTargets) {
    auto src = fx.addSource("db01");
    fx.addSnapshot("db01", "db01_bk_s0");
    fx.addClone("db01", "db01_bk_c0", true);
    fx.addClone("db01", "db01_bk_c1", false);
    fx.addSnapshot("db01", "db01_other");
    IBMSVCSnapshot snap = Snap();
    snap.m_SourceDev = src.uid;
    snap.m_SourceDevPath = src.path;

    std::map<std::string, std::string> targets;
    ASSERT_EQ(snap.GetSESyncPathFromSource(targets, false, "_bk_"), 0);
    ASSERT_EQ(targets.size(), 1u);
    EXPECT_EQ(targets.begin()->first, fx.volume("db01_bk_s0")->uid);

    std::map<std::string, std::string> clones{{fx.volume("db01_bk_c0")->uid, fx.volume("db01_bk_c0")->path},
                                              {fx.volume("db01_bk_c1")->uid, fx.volume("db01_bk_c1")->path}};
    ASSERT_EQ(snap.CheckForIncrementalMapping(clones), 1);
    ASSERT_EQ(clones.size(), 1u);
    EXPECT_EQ(clones.begin()->first, fx.volume("db01_bk_c0")->uid);

    IBMSVCSnapshot byName = Snap();
    auto target = fx.volume("db01_bk_c1");
    ASSERT_EQ(byName.SetTargetDetailsUsingTargetName(Pegasus::String(target->uid), target->path), 1);
    EXPECT_EQ(byName.m_SourceDev, src.uid);
    std::string pool;
    EXPECT_EQ(byName.GetTargetDGNameByVolName("db01_bk_c1", pool, target->path), 0);
    EXPECT_EQ(pool, "Pool0");
    auto lone = fx.addSource("lone");
    EXPECT_EQ(byName.SetTargetDetailsUsingTargetName(Pegasus::String(lone.uid), lone.path), 0);
}

TEST_F(SnapshotTest, RenamingAMapping) {
    fx.addSource("db01");
    auto copy = fx.addSnapshot("db01", "db01_s0");
    IBMSVCSnapshot snap = SnapOf(copy);
    std::map<std::string, std::string> args{{"syncPath", copy.mappingPath}, {"elementName", "renamed"}};
    EXPECT_EQ(snap.setElementNameForMapping(snap.m_Conn, args), -1);
    args["force"] = "true";  // only "TRUE" forces
    ASSERT_EQ(snap.setElementNameForMapping(snap.m_Conn, args), 0) << record().dump();
    EXPECT_EQ(Sent("SetElementName", "force"), "FALSE");
    EXPECT_TRUE(fx.mapping("renamed"));
    EXPECT_FALSE(snap.m_Conn.HasClient());
}

}  // namespace
