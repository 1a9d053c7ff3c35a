// Volume creation and deletion against the simulator.
#include <tuple>

#include "SmisActionTest.h"

using actiontest::ActionTest;
using actiontest::GiB;
using arraysim::Fault;
using arraysim::JobScript;

namespace {

class VolumeTest : public ActionTest {
protected:
    explicit VolumeTest(zqtest::SimulatorFixture::Options options = {}) : ActionTest(std::move(options)) {}
    void SetUp() override {
        ActionTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        addVolume("thick", GiB, false, "Pool1", 1);
        addVolume("thin", GiB, true, "Pool0", 0);
        fx.sim().withModel([](arraysim::Model& m, int64_t) {
            m.state.volume(m.state.volumeByName("thick")->id)->preferredNodeId = 4;
            return 0;
        });
        fx.sim().requestLog().clear();
    }
    // The creation list for a copy of `source`; empty when refused.
    std::vector<std::string> params(const std::string& source, std::vector<std::string> request, int expect = 0) {
        std::vector<std::string> creation;
        EXPECT_EQ(action.CreateStorageVolParams(conn, request, pathOf(source), creation), expect) << record.dump();
        return creation;
    }
    std::string create(std::vector<std::string> creation, int expect = 0) {
        std::string volume;
        EXPECT_EQ(action.CreateStorageVolume(conn, creation, volume), expect) << record.dump();
        return volume;
    }
    std::string node(int id) { return system + ":" + std::to_string(id); }
};

TEST_F(VolumeTest, KindFollowsProvisioningRules) {
    struct Case {
        const char* source;
        const char* kind;
        int thin, forced;
        const char* expected;
    } cases[] = {
        {"thick", "5", 0, 0, "5"}, {"thick", "5", 1, 0, "6"}, {"thin", "4", 0, 0, "7"},  {"thin", "5", 0, 1, "5"},
        {"thick", "5", 0, 2, "6"}, {"thin", "5", 0, 0, "6"},  {"thick", "4", 1, 1, "4"}, {"thick", "6", 1, 0, "4"},
    };
    for (auto c : cases) {
        record.setConfig("SMCONFIG_NAME_ENABLE_THIN_PROVISIONING", c.thin);
        settings.set("IBMSVC_VDISK_TYPE", c.forced);
        auto creation = params(c.source, {system, "copy", "null", c.kind});
        ASSERT_EQ(creation.size(), 8u);
        EXPECT_EQ(creation[5], c.expected) << c.source << " " << c.kind << " " << c.thin << " " << c.forced;
    }
}

TEST_F(VolumeTest, ThickCopyLikeItsSource) {
    auto creation = params("thick", {system, "copy", "null", "5"});
    ASSERT_EQ(creation.size(), 8u);
    EXPECT_EQ(property(creation[2], "ElementName"), "Pool1");
    EXPECT_EQ(creation[3], "1073741824");
    EXPECT_EQ(property(creation[4], "InstanceID"), system + ":Standard");
    EXPECT_EQ(property(creation[6], "ElementName"), "io_grp1");
    EXPECT_EQ(property(creation[7], "Name"), node(4));

    const std::string volume = create(creation);
    auto call = lastCall("CreateOrModifyElementFromStoragePool");
    EXPECT_EQ(paramNames(call), (std::vector<std::string>{"ElementName", "ElementType", "Goal", "Size", "InPool",
                                                          "TheElement", "IOGroup", "PreferredNode"}));
    EXPECT_EQ(sent(call, {"ElementType", "Size", "TheElement"}), "uint16 2 | uint64 1073741824 | reference null");
    EXPECT_EQ(property(volume, "PreferredNode"), "4");
}

TEST_F(VolumeTest, ConfiguredIOGroupLeavesTheNodeToTheArray) {
    record.setConfig("SMCONFIG_NAME_IBMSVC_IOGROUP", "io_grp0");
    auto creation = params("thick", {system, "copy", "Pool0"});
    ASSERT_EQ(creation.size(), 8u);
    EXPECT_EQ(creation[5], "null");  // no kind: the positions after it stay
    EXPECT_EQ(property(creation[6], "ElementName"), "io_grp0");
    EXPECT_EQ(creation[7], "null");
    settings.set("IBMSVC_IOGroup", "io_grp9");
    creation = params("thick", {system, "copy", "Pool0", "4"});
    EXPECT_EQ(creation[6], "null");
    EXPECT_TRUE(record.hasLine("Selecting default IOGroup", 2));
}

TEST_F(VolumeTest, ThinCopyParameters) {
    using Case = std::tuple<const char*, const char*, int, const char*>;
    int n = 0;
    for (auto [kind, key, value, percent] :
         {Case{"6", "nIBMSVCFCRealAllocPerc", 0, "uint64 20"}, Case{"6", "nIBMSVCFCRealAllocPerc", 150, "uint64 20"},
          Case{"4", "nIBMSVCSEFCRealAllocPerc", 35, "uint64 35"}, Case{"4", "nIBMSVCSkipRealAllocPerc", 1, "-"}}) {
        zqtest::ScopedHostSettings local;
        local.set(key, value);
        create(params("thick", {system, "copy" + std::to_string(n++), "null", kind}));
        EXPECT_EQ(sent(lastCall("CreateOrModifyElementFromStoragePool"), {"isSpaceEfficient", "RealSizePercent"}),
                  std::string("boolean TRUE | ") + percent)
            << kind << " " << key << " " << value;
    }
    EXPECT_EQ(sent(lastCall("CreateOrModifyElementFromStoragePool"), "Grainsize"), "-");
    settings.set("IBMSVC_MAP_GRAIN_SIZE", 64);
    create(params("thick", {system, "grain64", "null", "4"}));
    EXPECT_EQ(sent(lastCall("CreateOrModifyElementFromStoragePool"), "Grainsize"), "uint32 64");
    settings.set("IBMSVC_THIN_VOLUME_GRAIN_SIZE", 100);
    create(params("thick", {system, "grain100", "null", "4"}));
    EXPECT_EQ(sent(lastCall("CreateOrModifyElementFromStoragePool"), "Grainsize"), "uint32 256");
}

TEST_F(VolumeTest, PoolChecks) {
    params("thick", {system, "copy"}, 650009);
    params("thick", {system, "copy", "NoPool", "5"}, 650015);
    params("thick", {system, "copy", "null1", "5"}, 650015);  // a name, not the source's pool
    fx.sim().setPoolOnline("Pool1", false);
    params("thick", {system, "copy", "null", "5"}, 1);
    EXPECT_TRUE(record.hasLine("is not online. Native Status is [0]."));
    settings.set("nIBMSVCDisablePoolCheck", 1);
    EXPECT_EQ(params("thick", {system, "copy", "Pool1", "5"}).size(), 8u);
}

TEST_F(VolumeTest, SourceSizeThatOverflowsOrIsZeroMakesNoParameters) {
    for (uint64_t blocks : {uint64_t(36028797018965504ull), uint64_t(0)}) {
        fx.sim().withModel([blocks](arraysim::Model& m, int64_t) {
            m.state.volume(m.state.volumeByName("thick")->id)->blockCount = blocks;
            return 0;
        });
        EXPECT_TRUE(params("thick", {system, "copy", "null", "5"}, 650015).empty()) << blocks;
        EXPECT_TRUE(record.hasLine("has no usable size")) << record.dump();
    }
}

TEST_F(VolumeTest, CreateFailures) {
    create({system, "copy", "pool"}, 650009);
    create({system, "copy", "pool", "12abc"}, 650009);
    EXPECT_EQ(requestCount(), 0u);

    auto creation = params("thick", {system, "thin", "null", "6"});
    create(creation, 32775);  // the name is taken
    EXPECT_EQ(record.errorCode(), 32775u);
    EXPECT_EQ(record.errorMessage(), "SMI-S Method specific error code..");
    creation[1] = "copy";
    fx.sim().faults().add(Fault::asJob("CreateOrModifyElementFromStoragePool", JobScript::endingIn(10, "no"), 1));
    create(creation, 10);
}

class OldFirmwareTest : public VolumeTest {
protected:
    static zqtest::SimulatorFixture::Options WithoutStandardGoal() {
        zqtest::SimulatorFixture::Options options;
        options.cluster.limits.standardGoal = false;
        options.cluster.cluster.firmware = "7.6.3.1";
        return options;
    }
    OldFirmwareTest() : VolumeTest(WithoutStandardGoal()) {}
    void setFirmware(const char* version) {
        fx.sim().withModel([&](arraysim::Model& m, int64_t) { return m.state.cluster.firmware = version; });
    }
};

TEST_F(OldFirmwareTest, ThickWithoutGoalOnlyBefore77) {
    auto creation = params("thick", {system, "copy", "null", "5"});
    EXPECT_EQ(creation[4], "null");
    std::string version;
    unsigned short build = 0;
    action.GetVersionStrings(conn, system.c_str(), version, build);
    EXPECT_EQ(version + " " + std::to_string(build), "7.6.3.1 154");
    for (const char* firmware : {"7.7.0.0", "8.1.0.0"}) {
        setFirmware(firmware);
        params("thick", {system, "copy", "null", "5"}, 1);
    }
    EXPECT_TRUE(record.hasLine("requires standard goal to be set in order to create thick target volumes."));
    setFirmware("7.6.1.3");
    create(params("thick", {system, "copy", "null", "6"}));
    EXPECT_EQ(sent(lastCall("CreateOrModifyElementFromStoragePool"), "RealSizePercent"), "-");
}

TEST_F(VolumeTest, DeleteOnlyTheExpectedUnmappedVolume) {
    EXPECT_EQ(run(&SmisAction::DeleteVol, {system}), 650009);
    EXPECT_EQ(requestCount(), 0u);
    ASSERT_TRUE(fx.sim().addHost("h1", {"10000000C9AABB01"}).ok());
    ASSERT_TRUE(fx.sim().addHost("h2", {"10000000C9AABB02"}).ok());
    fx.sim().mapToHost("h1", "thick");
    fx.sim().mapToHost("h2", "thick");
    EXPECT_EQ(run(&SmisAction::DeleteVol, {system, pathOf("thick")}), 650006);
    EXPECT_TRUE(record.hasLine("Can not delete, Volume found 2 Host mappings"));
    // A stored path that now names another volume.
    EXPECT_EQ(run(&SmisAction::DeleteVol, {system, pathOf("thin"), fx.volumeUid("thick")}), 650008);
    EXPECT_EQ(run(&SmisAction::DeleteVol, {system, "6005076810CA0166C000000000000FFF"}), 650008);
    EXPECT_EQ(callCount("ReturnToStoragePool"), 0u);

    const std::vector<std::string> thin{system, pathOf("thin"), fx.volumeUid("thin")};
    // Not knowing the volume's host mappings is no licence to delete it.
    fx.sim().faults().add(Fault::http("AssociatorNames", 500, -1));
    EXPECT_EQ(run(&SmisAction::DeleteVol, thin), 1);
    EXPECT_EQ(callCount("ReturnToStoragePool"), 0u);
    fx.sim().faults().clear();
    EXPECT_EQ(run(&SmisAction::DeleteVol, thin), 0) << record.dump();
    EXPECT_EQ(sent(lastCall("ReturnToStoragePool"), "TheElement"), "reference " + thin[1]);
    EXPECT_EQ(run(&SmisAction::DeleteVol, thin), 650008);  // already gone
}

}  // namespace
