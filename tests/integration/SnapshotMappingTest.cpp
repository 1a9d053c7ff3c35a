// A copy that exists: its host mapping state, map and unmap, existence,
// detach and delete, judged by what the array holds afterwards.
#include "SnapshotTest.h"

using arraysim::Fault;
using snaptest::SnapshotTest;
using zqtest::EngineSimFixture;

namespace {

const char* const kThisHost = "10000000C9AABB01";
const char* const kOtherHost = "10000000C9AABB02";

class MappingTest : public SnapshotTest {
protected:
    void SetUp() override {
        SnapshotTest::SetUp();
        if (IsSkipped()) return;
        fx.addSource("db01");
        copy = fx.addSnapshot("db01", "db01_s0");
        fx.addHost("backup01", {kThisHost});
        fx.addHost("backup02", {kOtherHost});
        snap = std::make_unique<IBMSVCSnapshot>(SnapOf(copy));
        snap->m_InitiatorList = kThisHost;
        snap->m_MapParam = 2;
    }
    EngineSimFixture::Copy copy;
    std::unique_ptr<IBMSVCSnapshot> snap;
};

TEST_F(MappingTest, MappedStateOfEveryKind) {
    EXPECT_EQ(snap->IsSnapMapped(), 14);
    fx.mapToHost("backup02", "db01_s0");
    EXPECT_EQ(snap->IsSnapMapped(), 10);
    fx.mapToHost("backup01", "db01_s0");
    EXPECT_EQ(snap->IsSnapMapped(), 9);

    IBMSVCSnapshot noTarget = Snap();
    noTarget.m_InitiatorList = kThisHost;
    EXPECT_EQ(noTarget.IsSnapMapped(), 0);
    IBMSVCSnapshot noInitiators = SnapOf(copy);
    EXPECT_EQ(noInitiators.IsSnapMapped(), 11);

    fx.addSnapshot("db01", "db01_s1");
    IBMSVCSnapshot gone = SnapOf(copy);
    gone.m_TargetDev = fx.volume("db01_s1")->uid;
    gone.m_TargetDevPath = fx.volume("db01_s1")->path;
    gone.m_InitiatorList = kThisHost;
    fx.sim().vanish("volume", "db01_s1");
    EXPECT_EQ(gone.IsSnapMapped(), 0);
    EXPECT_TRUE(record().hasLine("not found", 2));
    EXPECT_EQ(record().errorCode(), 0u);  // logged, not the record's error

    fx.sim().faults().add(Fault::http("*", 500, -1));
    EXPECT_EQ(snap->IsSnapMapped(), 11);
}

TEST_F(MappingTest, MapAndUnmap) {
    IBMSVCSnapshot unset = SnapOf(copy);
    unset.m_InitiatorList = kThisHost;
    ClearLog();
    EXPECT_EQ(unset.MapSnap(), 1);
    EXPECT_EQ(fx.sim().requestLog().size(), 0u);

    ASSERT_EQ(snap->MapSnap(), 0) << record().dump();
    EXPECT_EQ(fx.hostsOfVolume("db01_s0"), std::set<std::string>{"backup01"});
    ASSERT_EQ(snap->UnmapSnap(), 0) << record().dump();
    EXPECT_TRUE(fx.hostsOfVolume("db01_s0").empty());
    EXPECT_EQ(snap->m_TargetFriendlyName, "db01_s0");

    // Not mapped any more: both traces, success, no error.
    EXPECT_EQ(snap->UnmapSnap(), 0);
    EXPECT_TRUE(record().hasLine("Device db01_s0 Unmapping Failed, Not Mapped to any Host"));
    EXPECT_EQ(record().countLines("Device db01_s0 Unmapping Success"), 2u);
    EXPECT_EQ(record().errorCode(), 0u);

    fx.mapToHost("backup01", "db01_s0");
    fx.sim().faults().add(Fault::returns("HidePaths", 640001));
    EXPECT_EQ(snap->UnmapSnap(), 1);
    EXPECT_EQ(record().errorCode(), 650006u);
    EXPECT_EQ(record().errorMessage(), "Failed, host mappings found");
}

TEST_F(MappingTest, MapFailureTexts) {
    for (const char* initiators : {"10000000C9AABB01", "iqn.2024-01.com.example:host1"}) {
        zqtest::TestSnapInfo other(&fx.host());
        snap->SetLogger(&other);
        snap->m_InitiatorList = initiators;
        fx.sim().faults().add(Fault::returns("ExposePaths", 4098));
        EXPECT_EQ(snap->MapSnap(), 1);
        const bool iscsi = initiators[0] == 'i';
        EXPECT_TRUE(other.hasLine(std::string("Invalid Initiator port[s] ") + initiators + " supplied, please check " +
                                  (iscsi ? "iSCSI" : "FC") + " is supported with the Storage Array "))
            << other.dump();
        EXPECT_EQ(snap->m_ErrorCode, 4098);
    }
}

TEST_F(MappingTest, StatusDetachAndDelete) {
    EXPECT_EQ(snap->GetSnapStatus(), 0);

    // A host sees the target: delete refuses, nothing goes.
    fx.mapToHost("backup01", "db01_s0");
    fx.sim().withModel([&](arraysim::Model& m, int64_t now) {
        return m.copies.stop(m.state.mappingByName(copy.mapping)->id, true, now);
    });
    ASSERT_EQ(snap->DetachSnap(), 20) << record().dump();
    EXPECT_FALSE(fx.mapping(copy.mapping));
    EXPECT_EQ(snap->SnapDelete(), 21);
    EXPECT_EQ(record().errorCode(), 60551u);
    EXPECT_TRUE(fx.volume("db01_s0"));

    fx.sim().withModel([](arraysim::Model& m, int64_t) {
        return m.state.unmapVolume(m.state.hostByName("backup01")->id, m.state.volumeByName("db01_s0")->id);
    });
    ASSERT_EQ(snap->SnapDelete(), 20) << record().dump();
    EXPECT_FALSE(fx.volume("db01_s0"));
    EXPECT_EQ(snap->GetSnapStatus(), 24);
    // Already gone: deleted, and no new error.
    zqtest::TestSnapInfo other(&fx.host());
    snap->SetLogger(&other);
    EXPECT_EQ(snap->SnapDelete(), 20);
    EXPECT_EQ(other.errorCode(), 0u);

    fx.sim().faults().add(Fault::http("*", 500, -1));
    EXPECT_EQ(snap->GetSnapStatus(), -1);
}

TEST_F(MappingTest, DeleteGoesByTheUniqueIdNotAStalePath) {
    auto other = fx.addSource("db02");
    const uint32_t removed = fx.sim().withModel([&](arraysim::Model& m, int64_t now) {
        const uint32_t id = m.state.mappingByName(copy.mapping)->id;
        return m.copies.stop(id, true, now) | m.copies.remove(id, true, now);
    });
    ASSERT_EQ(removed, 0u);
    // The stored path names another volume by now.
    snap->m_TargetDevPath = other.path;
    ASSERT_EQ(snap->SnapDelete(), 20) << record().dump();
    EXPECT_FALSE(fx.volume("db01_s0"));
    EXPECT_TRUE(fx.volume("db02"));
}

}  // namespace
