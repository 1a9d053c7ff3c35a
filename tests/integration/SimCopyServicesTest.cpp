// FlashCopy, consistency groups, volumes and jobs through the extrinsic
// methods over the real CIM client: legal and refused transitions, the
// array's return values, and what the request log records.
#include <gtest/gtest.h>

#include "JobState.h"
#include "SimTestClient.h"
#include "SvcReturnCode.h"

using namespace simit;
namespace Rc = arraysim::Rc;
using arraysim::Fault;
using arraysim::JobScript;

namespace {
const CIMNamespaceName kNs("root/ibm");
constexpr Uint64 GiB = Uint64(1) << 30;

class CopyServices : public ::testing::Test {
protected:
    explicit CopyServices(zqtest::SimulatorFixture::Options o = {}) : fx(std::move(o)) {}
    void SetUp() override {
        for (const char* v : {"src", "tgt", "tgt2", "tgt3"}) ASSERT_TRUE(fx.sim().addVolume(v, "Pool0", GiB).ok());
        ASSERT_TRUE(fx.sim().addVolume("big", "Pool0", 2 * GiB).ok());
    }
    Uint32 attach(const char* source, const char* target, Uint16 rate = 0, Uint16 copyType = 4,
                  const char* name = nullptr) {
        Array<CIMParamValue> in;
        in.append(ref("SourceElement", fx.volumePath(source)));
        in.append(ref("TargetElement", fx.volumePath(target)));
        in.append(u16("CopyType", copyType));
        in.append(u16("BackgroundCopyRate", rate));
        in.append(CIMParamValue("CleanRate", CIMValue(Sint32(rate))));  // as the engine sends it
        if (name) in.append(text("ElementName", name));
        return call(fx.configurationService(), "AttachReplica", in);
    }
    Uint32 sync(Uint16 op, const char* source, const char* target, bool force = false, bool restore = false) {
        return call(fx.configurationService(), "ModifySynchronization",
                    {u16("Operation", op), ref("Synchronization", fx.mappingPath(source, target)), flag("Force", force),
                     flag("Restore", restore)});
    }
    std::string mappingProp(const char* source, const char* target, const char* name) {
        return propText(client->getInstance(kNs, fx.mappingPath(source, target)), name);
    }
    std::string syncState(const char* source, const char* target) { return mappingProp(source, target, "SyncState"); }
    CIMObjectPath createGroup(const char* name) {
        EXPECT_EQ(call(fx.configurationService(), "CreateSynchronizedSet", {text("ElementName", name), u16("CopyType", 4)}),
                  0u);
        return call.outRef("Set");
    }
    Uint32 modifyGroup(const CIMObjectPath& set, Uint16 op, const char* source = nullptr, const char* target = nullptr) {
        Array<CIMParamValue> in;
        in.append(ref("SynchronizedSet", set));
        in.append(u16("Operation", op));
        if (source) in.append(ref("Synchronization", fx.mappingPath(source, target)));
        return call(fx.configurationService(), "ModifySynchronizedSet", in);
    }

    zqtest::SimulatorFixture fx;
    std::unique_ptr<CIMClient> client = fx.client();
    Call call{fx, *client};
};

class SmallGroups : public CopyServices {
protected:
    static zqtest::SimulatorFixture::Options options() {
        zqtest::SimulatorFixture::Options o;
        o.cluster.limits.maxMappingsPerGroup = 2;
        return o;
    }
    SmallGroups() : CopyServices(options()) {}
};
}  // namespace

TEST_F(CopyServices, MappingMovesThroughItsStatesOnlyAsTheArrayAllows) {
    ASSERT_EQ(attach("src", "tgt"), 0u);
    EXPECT_EQ(syncState("src", "tgt"), "11");
    EXPECT_EQ(sync(4, "src", "tgt"), Rc::StartNotPrepared);
    EXPECT_EQ(syncState("src", "tgt"), "11") << "a refusal changes nothing";
    ASSERT_EQ(sync(6, "src", "tgt"), 0u);
    EXPECT_EQ(syncState("src", "tgt"), "3");
    EXPECT_EQ(sync(4, "src", "tgt"), Rc::StartWhilePreparing);
    fx.clock().advanceMs(1000);
    EXPECT_EQ(syncState("src", "tgt"), "4");
    EXPECT_EQ(sync(6, "src", "tgt"), Rc::PrepareWrongState);
    ASSERT_EQ(sync(4, "src", "tgt"), 0u);
    EXPECT_EQ(syncState("src", "tgt"), "5");
    EXPECT_EQ(sync(4, "src", "tgt"), Rc::AlreadyCopying);
    EXPECT_EQ(sync(2, "src", "tgt"), Rc::MappingActive);
    EXPECT_EQ(sync(5, "src", "tgt"), Rc::NotSupported) << "operations other than 2, 4, 6, 8";
    ASSERT_EQ(sync(8, "src", "tgt"), 0u);
    EXPECT_EQ(syncState("src", "tgt"), "8");
    fx.clock().advanceMs(1000);
    EXPECT_EQ(syncState("src", "tgt"), "9");
    EXPECT_EQ(sync(2, "src", "tgt"), Rc::MappingActive) << "a stopped mapping is deleted with Force only";
    ASSERT_EQ(sync(2, "src", "tgt", true), 0u);
    EXPECT_THROW(client->getInstance(kNs, fx.mappingPath("src", "tgt")), CIMException);

    // The log shows each call's parameters as sent.
    auto calls = fx.sim().requestLog().find("ModifySynchronization");
    ASSERT_EQ(calls.size(), 11u);
    const auto& first = calls.front();
    EXPECT_EQ(first.operation, "InvokeMethod");
    EXPECT_EQ(first.returnValue, std::to_string(Rc::StartNotPrepared));
    ASSERT_NE(first.param("Operation"), nullptr);
    EXPECT_EQ(first.param("Operation")->paramType, "uint16");
    EXPECT_EQ(first.param("Operation")->value, "4");
    EXPECT_EQ(first.param("Force")->value, "FALSE");
    EXPECT_EQ(first.param("Synchronization")->paramType, "reference");
    EXPECT_NE(first.param("Synchronization")->value.find("SyncedElement"), std::string::npos);
}

TEST_F(CopyServices, AttachReplicaRefusesWhatTheClusterRefuses) {
    EXPECT_EQ(attach("src", "big"), Rc::SizeMismatch);
    ASSERT_EQ(attach("src", "tgt", 0, 4, "fc1"), 0u);
    EXPECT_EQ(attach("src", "tgt"), Rc::MappingExists) << "the pair exists";
    EXPECT_EQ(attach("tgt2", "tgt"), Rc::MappingExists) << "a target has one mapping";
    EXPECT_EQ(attach("src", "tgt2", 0, 4, "fc1"), Rc::ObjectNameExists);
    EXPECT_EQ(attach("src", "tgt2", 0, 2), Rc::CopyTypeNotSupported);
    EXPECT_EQ(attach("src", "tgt2", 151), Rc::RateOutOfRange);
    EXPECT_EQ(attach("src", "src"), Rc::InvalidParameter);
    EXPECT_EQ(client->enumerateInstanceNames(kNs, CIMName("CIM_StorageSynchronized")).size(), 1u);

    ASSERT_EQ(attach("src", "tgt2", 50, 5), 0u);
    EXPECT_EQ(mappingProp("src", "tgt2", "AutoDelete"), "TRUE");
    EXPECT_EQ(mappingProp("src", "tgt2", "CopyType"), "5");
    EXPECT_EQ(mappingProp("src", "tgt2", "CleanRate"), "50") << "CleanRate sent as sint32";
    EXPECT_EQ(mappingProp("src", "tgt2", "ElementName").rfind("fcmap", 0), 0u);
}

TEST_F(SmallGroups, ConsistencyGroupsPrepareAndStartTheirMappingsTogether) {
    CIMObjectPath cg = createGroup("cg1");
    ASSERT_FALSE(cg.getClassName().isNull());
    EXPECT_EQ(cg.getClassName().getString(), "IBMTSSVC_FlashCopyStorageSynchronizedSet");
    EXPECT_EQ(call(fx.configurationService(), "CreateSynchronizedSet", {text("ElementName", "cg1"), u16("CopyType", 4)}),
              Rc::GroupExists);
    auto sets = client->enumerateInstances(kNs, CIMName("IBMTSSVC_SynchronizedSet"));
    ASSERT_EQ(sets.size(), 1u);
    EXPECT_EQ(modifyGroup(cg, 4), Rc::GroupEmpty);
    EXPECT_EQ(modifyGroup(cg, 6), Rc::GroupEmpty);

    for (const char* t : {"tgt", "tgt2", "tgt3"}) ASSERT_EQ(attach("src", t), 0u);
    EXPECT_EQ(modifyGroup(cg, 0), Rc::InvalidParameter) << "adding needs Synchronization";
    ASSERT_EQ(modifyGroup(cg, 0, "src", "tgt"), 0u);
    EXPECT_EQ(modifyGroup(cg, 0, "src", "tgt"), Rc::AlreadyInSet);
    ASSERT_EQ(modifyGroup(cg, 0, "src", "tgt2"), 0u);
    EXPECT_EQ(modifyGroup(cg, 0, "src", "tgt3"), Rc::GroupFull);
    EXPECT_EQ(modifyGroup(cg, 1, "src", "tgt3"), Rc::NotInSet);
    EXPECT_EQ(mappingProp("src", "tgt", "SynchronizedSetName"), "cg1");

    EXPECT_EQ(sync(6, "src", "tgt"), Rc::MappingInGroup) << "prepared only through its group";
    ASSERT_EQ(modifyGroup(cg, 6), 0u);
    EXPECT_EQ(syncState("src", "tgt2"), "3");
    fx.clock().advanceMs(1000);
    ASSERT_EQ(modifyGroup(cg, 4), 0u);
    EXPECT_EQ(syncState("src", "tgt"), "5");
    EXPECT_EQ(syncState("src", "tgt2"), "5");
    EXPECT_EQ(syncState("src", "tgt3"), "11");
    EXPECT_EQ(modifyGroup(cg, 1, "src", "tgt"), Rc::GroupMemberWrongState);

    EXPECT_EQ(call(fx.configurationService(), "DeleteSynchronizedSet", {ref("Set", cg), flag("Force", false)}),
              Rc::GroupNotEmpty);
    ASSERT_EQ(call(fx.configurationService(), "DeleteSynchronizedSet", {ref("Set", cg), flag("Force", true)}), 0u);
    EXPECT_EQ(mappingProp("src", "tgt", "SynchronizedSetName"), "") << "a deleted group releases its mappings";
    EXPECT_EQ(syncState("src", "tgt"), "5");
    EXPECT_EQ(call(fx.configurationService(), "DeleteSynchronizedSet", {ref("Set", cg), flag("Force", true)}),
              Rc::GroupNotValid);
}

TEST_F(CopyServices, MethodsRunAsJobsWhenTheTestSaysSo) {
    ASSERT_EQ(attach("src", "tgt"), 0u);
    JobScript polled;
    polled.advance = JobScript::Advance::PerPoll;
    polled.steps = {{arraysim::JobState::New, 0}, {arraysim::JobState::Running, 50}, {arraysim::JobState::Completed, 100}};
    fx.sim().faults().add(Fault::asJob("ModifySynchronization", polled, 1));
    ASSERT_EQ(sync(6, "src", "tgt"), Rc::JobStarted);
    CIMObjectPath job = call.outRef("Job");
    ASSERT_EQ(job.getClassName().getString(), "IBMTSSVC_ConcreteJob");
    auto state = [&] { return propText(client->getInstance(kNs, job), "JobState"); };
    EXPECT_EQ(state(), "2");
    EXPECT_EQ(syncState("src", "tgt"), "11");
    EXPECT_EQ(state(), "4");
    EXPECT_EQ(state(), "7");
    EXPECT_EQ(syncState("src", "tgt"), "3") << "the change happens when the job completes";
    // Failed jobs, their ErrorDescription and their expiry are the model's (unit Jobs tests).

    fx.sim().faults().add(Fault::returns("SetElementName", Rc::ObjectNameExists, 1));
    EXPECT_EQ(call(fx.mappingPath("src", "tgt"), "SetElementName", {text("elementName", "new"), flag("force", false)}),
              Rc::ObjectNameExists);
    ASSERT_EQ(call(fx.mappingPath("src", "tgt"), "SetElementName", {text("elementName", "new"), flag("force", false)}), 0u);
    EXPECT_EQ(mappingProp("src", "tgt", "ElementName"), "new");
}

TEST_F(CopyServices, VolumesAreCreatedAndDeletedByTheClustersRules) {
    auto pool = client->enumerateInstanceNames(kNs, CIMName("CIM_StoragePool"))[0];
    auto standard = client->enumerateInstanceNames(kNs, CIMName("IBMTSSVC_StorageVolumeSetting"))[0];
    auto ioGroups = client->enumerateInstanceNames(kNs, CIMName("IBMTSSVC_IOGroup"));
    auto nodes = client->enumerateInstanceNames(kNs, CIMName("IBMTSSVC_Node"));
    auto create = [&](const char* name, Array<CIMParamValue> extra) {
        Array<CIMParamValue> in;
        in.append(text("ElementName", name));
        in.append(u16("ElementType", 2));
        in.append(u64("Size", GiB));
        in.append(ref("InPool", pool));
        in.appendArray(extra);
        return call(fx.configurationService(), "CreateOrModifyElementFromStoragePool", in);
    };
    EXPECT_EQ(create("thick", {}), Rc::InvalidGoal) << "firmware 8 needs the Standard goal for thick volumes";
    Array<CIMParamValue> goal;
    goal.append(ref("Goal", standard));
    ASSERT_EQ(create("thick", goal), 0u);
    EXPECT_EQ(propText(client->getInstance(kNs, call.outRef("TheElement")), "ElementName"), "thick");
    EXPECT_EQ(create("thick", goal), Rc::VolumeNameExists);
    EXPECT_EQ(create("9lives", goal), Rc::InvalidObjectName);

    Array<CIMParamValue> thin;
    thin.append(flag("isSpaceEfficient", true));
    thin.append(flag("Autoexpand", true));
    thin.append(u64("RealSizePercent", 0));
    thin.append(ref("IOGroup", ioGroups[1]));
    thin.append(ref("PreferredNode", nodes[0]));
    EXPECT_EQ(create("thin", thin), Rc::InvalidNode) << "node1 is not in io_grp1";
    thin.remove(4);
    ASSERT_EQ(create("thin", thin), 0u);
    CIMInstance t = client->getInstance(kNs, call.outRef("TheElement"));
    EXPECT_EQ(propText(t, "GroupName"), "io_grp1");
    EXPECT_EQ(propText(t, "IsSpaceEfficient"), "TRUE");

    fx.sim().setPoolOnline("Pool0", false);
    EXPECT_EQ(create("offline", thin), Rc::InvalidPool);
    EXPECT_EQ(propText(client->getInstance(kNs, fx.volumePath("src")), "OperationalStatus"), "10");
    fx.sim().setPoolOnline("Pool0", true);

    ASSERT_EQ(attach("src", "tgt"), 0u);
    EXPECT_EQ(call(fx.configurationService(), "ReturnToStoragePool", {ref("TheElement", fx.volumePath("tgt"))}),
              Rc::VolumeInUse);
    EXPECT_EQ(call(fx.configurationService(), "ReturnToStoragePool", {ref("TheElement", fx.volumePath("src"))}),
              Rc::VolumeInUse);
    ASSERT_EQ(call(fx.configurationService(), "ReturnToStoragePool", {ref("TheElement", fx.volumePath("thick"))}), 0u);
    EXPECT_THROW(fx.volumePath("thick"), std::invalid_argument);

    ASSERT_EQ(call(fx.configurationService(), "CreateReplica",
                   {text("ElementName", "replica"), u16("CopyType", 4), ref("SourceElement", fx.volumePath("src"))}),
              0u);
    EXPECT_EQ(propText(client->getInstance(kNs, call.outRef("TargetElement")), "IsSpaceEfficient"), "TRUE");
    EXPECT_EQ(syncState("src", "replica"), "5") << "a replica is started at once";
    EXPECT_EQ(fx.sim().generation("replica"), fx.sim().generation("src"));
}
