// Attaching replicas and modifying synchronizations against the simulator.
#include "SmisActionTest.h"

using actiontest::ActionTest;
using actiontest::GiB;
using arraysim::Fault;
using arraysim::JobScript;

namespace {

class SyncTest : public ActionTest {
protected:
    void SetUp() override {
        ActionTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        src = addVolume("src");
        tgt = addVolume("tgt");
        addVolume("big", 2 * GiB);
        fx.sim().requestLog().clear();
    }
    int attach(std::vector<std::string> args) {
        syncPath.clear();
        return action.AttachModRep(conn, args, syncPath);
    }
    int attach(const std::string& copyType, const std::string& target = "tgt") {
        return attach({system, copyType, src, fx.volumeUid(target)});
    }
    int modify(const std::string& operation, std::vector<std::string> extra = {}, bool noWait = false) {
        std::vector<std::string> args{system, operation, pathOf("src"), tgt};
        args.insert(args.end(), extra.begin(), extra.end());
        return action.ModifySync(conn, args, noWait);
    }
    std::string src, tgt, syncPath;
};

TEST_F(SyncTest, SnapshotAttachSendsZeroRates) {
    ASSERT_EQ(attach("4"), 0) << record.dump();
    auto call = lastCall("AttachReplica");
    EXPECT_EQ(sent(call, {"BackgroundCopyRate", "CleanRate", "CopyType", "ElementName", "Incremental", "GrainSize"}),
              "uint16 0 | uint16 0 | uint16 4 | string tgt | - | -");
    EXPECT_EQ(property(syncPath, "FCMapID"),
              property(fx.mappingPath("src", "tgt").toString().toStdString(), "FCMapID"));
    EXPECT_EQ(property(syncPath, "CopyRate"), "0");
}

TEST_F(SyncTest, CloneAttachTakesRatesFromConfiguration) {
    record.setConfig("SMCONFIG_NAME_IBMSVC_CLEAN_RATE", 150);
    record.setConfig("SMCONFIG_NAME_IBMSVC_BACKGROUND_COPY_RATE", 30);
    settings.set("IBMSVC_FC_BACKGROUNDCOPYRATE", 80);
    settings.set("IBMSVC_MAP_GRAIN_SIZE", 64);
    ASSERT_EQ(attach("5"), 0) << record.dump();
    auto call = lastCall("AttachReplica");
    EXPECT_EQ(sent(call, {"CleanRate", "BackgroundCopyRate", "Incremental", "CopyType", "GrainSize"}),
              "sint32 50 | uint16 80 | boolean TRUE | uint16 4 | uint16 64");
    EXPECT_TRUE(record.hasLine("Invalid clean rate, setting to default rate 50"));
}

TEST_F(SyncTest, ReverseAttachAsksForAutodelete) {
    settings.set("IBMSVC_MAP_GRAIN_SIZE", 100);
    ASSERT_EQ(attach("6"), 0) << record.dump();
    auto call = lastCall("AttachReplica");
    EXPECT_EQ(sent(call, {"CopyType", "BackgroundCopyRate", "GrainSize"}), "uint16 5 | - | uint16 256");
    EXPECT_TRUE(record.hasLine("Invalid Map Grain Size [100] provided"));
}

TEST_F(SyncTest, AttachFailures) {
    EXPECT_EQ(attach({system, "4", src}), 650009);
    EXPECT_EQ(requestCount(), 0u);
    // A part of a unique id, or none, names no volume, however many contain it.
    EXPECT_EQ(attach({system, "4", src, tgt.substr(0, 20)}), 650015);
    EXPECT_EQ(attach({system, "4", src, ""}), 650015);

    EXPECT_EQ(attach("4", "big"), 38844);  // sizes differ
    EXPECT_EQ(record.errorCode(), 38844u);
    EXPECT_EQ(record.errorMessage(),
              "The FlashCopy mapping was not created because the source and target volumes are different sizes.");

    addVolume("tgt2");
    fx.sim().faults().add(Fault::asJob("AttachReplica", JobScript::endingIn(10, "broken"), 1));
    EXPECT_EQ(attach("4", "tgt2"), 10);
    EXPECT_TRUE(syncPath.empty());
}

TEST_F(SyncTest, StopForceFollowsStateRateAndSettings) {
    ASSERT_EQ(attach("4"), 0);
    settings.set("nIBMSVCEnableForceSEFCStop", 1);
    EXPECT_EQ(modify("8"), 0);  // idle: a stop without force all the same
    EXPECT_EQ(sent(lastCall("ModifySynchronization"), "Force"), "boolean FALSE");

    ASSERT_EQ(modify("6"), 0);  // prepare
    EXPECT_EQ(sent(lastCall("ModifySynchronization"), "Force"), "-");
    fx.clock().advanceMs(1000);
    // Prepared, copy rate 0: forced only when the setting asks for it.
    for (int enableSeStop : {0, 1}) {
        settings.set("nIBMSVCEnableForceSEFCStop", enableSeStop);
        ASSERT_EQ(modify("8"), 0) << record.dump();
        EXPECT_EQ(sent(lastCall("ModifySynchronization"), "Force"), enableSeStop ? "boolean TRUE" : "boolean FALSE");
        ASSERT_EQ(modify("6"), 0);
        fx.clock().advanceMs(1000);
    }
    EXPECT_EQ(modify("4", {"Restore"}), 0);
    EXPECT_EQ(sent(lastCall("ModifySynchronization"), "Restore"), "boolean TRUE");
}

TEST_F(SyncTest, JobsAndDetach) {
    ASSERT_EQ(attach("4"), 0);
    fx.sim().faults().add(Fault::asJob("ModifySynchronization", JobScript::neverEnding(), 1));
    fx.sim().requestLog().clear();
    EXPECT_EQ(modify("6", {}, true), 0);
    EXPECT_EQ(callCount("GetInstance"), 0u);  // the job is not watched

    EXPECT_EQ(run(&SmisAction::DetachVol, {system, src}), 650009);
    fx.sim().faults().add(Fault::asJob("ModifySynchronization", JobScript::endingIn(9, "killed"), 1));
    EXPECT_EQ(run(&SmisAction::DetachVol, {system, src, pathOf("tgt")}), 9);
    ASSERT_EQ(run(&SmisAction::DetachVol, {system, src, pathOf("tgt")}), 0) << record.dump();
    EXPECT_EQ(sent(lastCall("ModifySynchronization"), {"Operation", "Force"}), "uint16 2 | boolean TRUE");
    EXPECT_EQ(fx.sim().withModel([](arraysim::Model& m, int64_t) { return m.state.fcMappings.size(); }), 0u);
}

TEST_F(SyncTest, ModifyRefusesUnknownVolumesAndPassesProviderValues) {
    std::vector<std::string> unknownSource{system, "2", "6005076810CA0166C000000000000FFF", tgt};
    EXPECT_EQ(action.ModifySync(conn, unknownSource, false), 650015);
    EXPECT_TRUE(record.hasLine("Instance not found for Source volume Name 6005076810CA0166C000000000000FFF"));
    EXPECT_EQ(modify("6"), 1);  // no such mapping: the provider's error is caught
    ASSERT_EQ(attach("4"), 0);
    EXPECT_EQ(modify("4"), 38825);  // start before prepare
    EXPECT_EQ(record.errorCode(), 38825u);
}

}  // namespace
