// The snapshot object itself: parameters, copies, the record binding and
// error reporting.
#include "SnapshotTest.h"

using snaptest::SnapshotTest;

namespace {

TEST_F(SnapshotTest, ParametersKeepTheArrayAndAnOperationThatIsNoCopyIsRefused) {
    IBMSVCSnapshot snap = Snap(99);
    ZQ_SMIS_SNAP::ZqSnapParams params;
    params.SnapName = "db01_s0";
    params.SourceDev = "6005076810CA0166C000000000000001";
    params.SnapOp = 6;
    snap.SetSnapInfo(params);
    EXPECT_EQ(snap.m_SystemName, fx.arrayId());  // an empty name keeps the array's
    ClearLog();
    EXPECT_EQ(snap.PrepareSnap(), 2);  // operation 6 is no copy
    EXPECT_EQ(snap.m_SnapStatus, 2);
    EXPECT_TRUE(record().hasLine("Invalid Parameters"));
    EXPECT_EQ(fx.sim().requestLog().size(), 0u);
}

TEST_F(SnapshotTest, FirstErrorOfTheRecordWins) {
    IBMSVCSnapshot snap = Snap();
    snap.setErrorMsg(4, "method failed");
    EXPECT_EQ(record().errorCode(), 0u);
    EXPECT_TRUE(record().hasLine("method failed", 2));
    snap.setErrorMsg(3, "no connection");
    snap.setErrorMsg(650007, "no mapping");
    EXPECT_EQ(record().errorCode(), 60541u);
    EXPECT_EQ(record().errorMessage(), "no connection");
    EXPECT_EQ(snap.m_ErrorCode, 650007);
    EXPECT_EQ(snap.m_ErrorMsg, "no mapping");

    // Without an error map the error only goes to the log.
    ZQ_SMIS_SNAP::Snapshot plain;
    zqtest::TestSnapInfo other;
    plain.SetLogger(&other);
    plain.setErrorMsg(3, "x");
    EXPECT_EQ(other.errorCode(), 0u);
    EXPECT_TRUE(other.hasLine("ErrorCode 3: ErrorMsg = x", 2));
}

TEST_F(SnapshotTest, RefusedLoginKeepsTheConnectionsError) {
    IBMSVCSnapshot snap = Snap();
    ZQ_SMIS_SNAP::ZqArrayParams array;
    static_cast<ZqCimomParams&>(array) = fx.cimomParams();
    array.Password = "wrong-secret";
    array.SystemName = fx.arrayId();
    snap.SetArrayInfo(array);
    snap.m_SnapName = "s0";
    snap.m_SourceDev = "6005076810CA0166C000000000000001";
    EXPECT_EQ(snap.PrepareSnap(), 2);
    EXPECT_EQ(record().errorCode(), 60555u);
    // The snapshot's own failure reaches the same record, as a log line.
    EXPECT_TRUE(record().hasLine("Snapshot::PrepareSnap: Can not find source volume", 2)) << record().dump();
    EXPECT_EQ(record().dump().find("wrong-secret"), std::string::npos);
}

TEST_F(SnapshotTest, CopyHasItsOwnConnectionAndTheRecordItIsGiven) {
    auto copyOfDb = fx.addClone(fx.addSource("db01").name, "db01_c0");
    IBMSVCSnapshot original = SnapOf(copyOfDb);
    IBMSVCSnapshot copy = original;
    EXPECT_EQ(copy.m_SyncPath, original.m_SyncPath);
    EXPECT_EQ(copy.m_ErrorMap, original.m_ErrorMap);

    zqtest::TestSnapInfo other(&fx.host());
    copy.SetLogger(&other);
    ZQ_SMIS_SNAP::ZqArrayParams unreachable;
    static_cast<ZqCimomParams&>(unreachable) = fx.cimomParams();
    unreachable.Port = 1;
    unreachable.MaxRetries = 0;
    unreachable.SystemName = fx.arrayId();
    copy.SetArrayInfo(unreachable);
    EXPECT_EQ(copy.GetSnapStatus(), -1);
    EXPECT_EQ(other.errorCode(), 60541u);
    EXPECT_EQ(record().errorCode(), 0u);
    // The original still works on its own connection.
    EXPECT_EQ(original.GetSnapStatus(), 0);
    EXPECT_FALSE(original.m_Conn.HasClient());
}

}  // namespace
