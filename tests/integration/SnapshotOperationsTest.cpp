// Making copies with the snapshot object: prepare and create, clone volumes,
// attach with each copy type, synchronization, the fault-retry calls and the
// support and array checks.
#include "SnapshotTest.h"

using arraysim::Fault;
using arraysim::JobScript;
using snaptest::SnapshotTest;

namespace {

class OperationsTest : public SnapshotTest {
protected:
    void SetUp() override {
        SnapshotTest::SetUp();
        if (IsSkipped()) return;
        src = fx.addSource("db01");
    }
    IBMSVCSnapshot Prepared(int op, const std::string& name) {
        IBMSVCSnapshot snap = Snap(op);
        snap.m_SnapName = name;
        snap.m_SourceDev = src.uid;
        return snap;
    }
    zqtest::EngineSimFixture::Volume src;
};

TEST_F(OperationsTest, PrepareThenCreateStartsASnapshot) {
    IBMSVCSnapshot snap = Prepared(4, "db01_s0");
    ASSERT_EQ(snap.PrepareSnap(), 1) << record().dump();
    EXPECT_TRUE(zqtest::sameObject(snap.m_SourceDevPath, Pegasus::CIMObjectPath(src.path)));
    EXPECT_EQ(snap.m_SourceFriendlyName, "db01");
    EXPECT_FALSE(snap.m_ServicePath.empty());
    ASSERT_EQ(snap.SnapCreate(), 5) << record().dump();
    auto target = fx.volume("db01_s0");
    ASSERT_TRUE(target);
    EXPECT_EQ(snap.m_TargetDev, target->uid);
    EXPECT_EQ(fx.mappingOfTarget("db01_s0")->state, arraysim::FcState::Copying);
    EXPECT_EQ(record().errorCode(), 0u);

    // A second create needs a new prepare.
    EXPECT_EQ(snap.SnapCreate(), 6);
    EXPECT_TRUE(record().hasLine("Device not ready for snapshot"));
}

TEST_F(OperationsTest, PrepareFailuresCarryHostCodes) {
    IBMSVCSnapshot snap = Prepared(5, "db01_c0");
    snap.m_DiskGroupName = "NoSuchPool";
    snap.m_DiskGroupRequired = true;
    EXPECT_EQ(snap.PrepareSnap(), 2);
    EXPECT_EQ(record().errorCode(), 60552u);
    EXPECT_EQ(snap.m_ErrorCode, 650013);
    EXPECT_FALSE(snap.m_Conn.HasClient());
    EXPECT_EQ(Calls("CreateReplica"), 0u);

    zqtest::TestSnapInfo other(&fx.host());
    IBMSVCSnapshot missing = Prepared(4, "x0");
    missing.SetLogger(&other);
    missing.m_SourceDev = "6005076810CA0166C0000000000FFFFF";
    EXPECT_EQ(missing.PrepareSnap(), 2);
    EXPECT_EQ(other.errorCode(), 60542u);
    EXPECT_TRUE(other.hasLine("Can not find source volume 6005076810CA0166C0000000000FFFFF"));
}

TEST_F(OperationsTest, CloneVolumeAndItsFailures) {
    IBMSVCSnapshot snap = Prepared(5, "db01_c0");
    ASSERT_EQ(snap.CreateCloneVolume(), 1) << record().dump();
    auto clone = fx.volume("db01_c0");
    ASSERT_TRUE(clone);
    EXPECT_EQ(snap.m_TargetDev, clone->uid);
    EXPECT_TRUE(zqtest::sameObject(snap.m_TargetDevPath, Pegasus::CIMObjectPath(clone->path)));

    // The name is taken: the method's own text for 32775.
    IBMSVCSnapshot again = Prepared(5, "db01_c0");
    EXPECT_EQ(again.CreateCloneVolume(), 0);
    EXPECT_EQ(again.m_ErrorCode, 650011);
    const std::string tail = "[32775: VDisk Name Already Exists]\n";
    ASSERT_GE(again.m_ErrorMsg.size(), tail.size());
    EXPECT_EQ(again.m_ErrorMsg.substr(again.m_ErrorMsg.size() - tail.size()), tail);
    EXPECT_TRUE(again.m_TargetDev.empty());
    // The action layer set the provider's value first; the record keeps it.
    EXPECT_EQ(record().errorCode(), 32775u);

    // A job still running at the last poll counts as done, but brings no volume.
    zqtest::TestSnapInfo other(&fx.host());
    IBMSVCSnapshot unfinished = Prepared(5, "db01_c1");
    unfinished.SetLogger(&other);
    fx.sim().faults().add(Fault::asJob("CreateOrModifyElementFromStoragePool", JobScript::neverEnding(), 1));
    EXPECT_EQ(unfinished.CreateCloneVolume(), 0);
    EXPECT_EQ(unfinished.m_ErrorCode, 650011);
    EXPECT_EQ(other.errorCode(), 60553u);
}

// The parameters of each copy type are the action layer's (SmisActionSyncTest).
TEST_F(OperationsTest, AttachKeepsTheMappingAndRefusesALabel) {
    IBMSVCSnapshot snap = Snap(5);
    snap.m_SourceDev = src.uid;
    snap.m_TargetDev = fx.addSource("t5").uid;
    ASSERT_EQ(snap.AttachCloneVolume("5"), 1) << record().dump();
    EXPECT_TRUE(zqtest::sameObject(snap.m_SyncPath, fx.simulator().mappingPath("db01", "t5")));
    EXPECT_EQ(Sent("AttachReplica", "Incremental"), "TRUE");
    IBMSVCSnapshot labelled = Snap(5);
    labelled.m_SourceDev = src.uid;
    labelled.m_TargetDev = fx.addSource("t7").uid;
    ClearLog();
    EXPECT_EQ(labelled.AttachCloneVolume("BACKUP_LABEL"), 0);
    EXPECT_EQ(fx.sim().requestLog().size(), 0u);
    EXPECT_FALSE(fx.mappingOfTarget("t7"));
}

TEST_F(OperationsTest, FaultRetryCallsLeaveNoRecordError) {
    fx.config().set("HostModule", "ZQ_PEGASUS_FAULT_RETRY", "1");
    auto copy = fx.addSnapshot("db01", "db01_s0", zqtest::EngineSimFixture::CopyStage::Idle);
    IBMSVCSnapshot snap = SnapOf(copy);
    ClearLog();
    ASSERT_EQ(snap.SnapSyncOp(6, false, false), 5) << record().dump();
    ASSERT_EQ(Calls("ModifySynchronization"), 2u);
    EXPECT_EQ(Sent("ModifySynchronization", "Operation", 0), "55");
    EXPECT_EQ(Sent("ModifySynchronization", "Operation", 1), "6");

    fx.addHost("backup01", {"10000000C9AABB01"});
    snap.m_InitiatorList = "10000000C9AABB01";
    snap.m_MapParam = 2;
    ASSERT_EQ(snap.MapSnap(), 0) << record().dump();
    ASSERT_EQ(Calls("ExposePaths"), 2u);
    EXPECT_EQ(Sent("ExposePaths", "DeviceAccesses", 0), "23");
    EXPECT_EQ(fx.hostsOfVolume("db01_s0"), std::set<std::string>{"backup01"});
    EXPECT_EQ(record().errorCode(), 0u);
    EXPECT_TRUE(record().hasLine("Pegasus retry in faulty environment"));

    IBMSVCSnapshot restore = SnapOf(copy, 6);
    ClearLog();
    restore.SnapRestore(0);
    ASSERT_EQ(Calls("ModifySynchronization"), 2u);
    EXPECT_EQ(Sent("ModifySynchronization", "Operation", 0), "55");
    EXPECT_EQ(Sent("ModifySynchronization", "Operation", 1), "5");
}

TEST_F(OperationsTest, RefusedLoginOfAThrowAwayCallStillReachesTheRecord) {
    fx.config().set("HostModule", "ZQ_PEGASUS_FAULT_RETRY", "1");
    auto copy = fx.addSnapshot("db01", "db01_s0", zqtest::EngineSimFixture::CopyStage::Idle);
    IBMSVCSnapshot snap = SnapOf(copy);
    ZQ_SMIS_SNAP::ZqArrayParams array;
    static_cast<ZqCimomParams&>(array) = fx.cimomParams();
    array.MaxRetries = 0;
    array.SystemName = fx.arrayId();
    snap.SetArrayInfo(array);
    // Only the throw-away call's first request is refused.
    fx.sim().faults().add(Fault::http("*", 401, 1));
    EXPECT_EQ(snap.SnapSyncOp(6, false, false), 5) << record().dump();
    EXPECT_EQ(record().errorCode(), 60555u);
}

TEST_F(OperationsTest, SupportAndArrayChecks) {
    IBMSVCSnapshot snap = Snap();
    EXPECT_EQ(snap.IsSupported(ZQSO::SNAP_TYPE_CLONE), 1);
    EXPECT_EQ(snap.IsSupported(ZQSO::SNAP_TYPE_SNAPSHOT), 1);
    EXPECT_EQ(snap.IsSupported(ZQSO::SNAP_TYPE(3)), 0);

    for (const std::string& source : {src.uid, src.path}) {
        snap.m_SourceDev = source;
        EXPECT_EQ(snap.CheckArrayExistence(), 0) << source;
        EXPECT_EQ(snap.CheckSVCArrayExistence(), 0) << source;
    }
    snap.m_SourceDev = "6005076810CA0166C0000000000FFFFF";
    EXPECT_EQ(snap.CheckArrayExistence(), 2);
    EXPECT_EQ(snap.CheckSVCArrayExistence(), 2);
    snap.m_SystemName = "0000020060C1FFFF";
    EXPECT_EQ(snap.CheckArrayExistence(), 1);
    EXPECT_EQ(snap.CheckSVCArrayExistence(), 1);
}

}  // namespace
