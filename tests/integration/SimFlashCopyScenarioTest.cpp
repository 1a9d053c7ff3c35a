// FlashCopy scenarios over the real CIM client, one per rule of the
// cluster: what each call answered as the request log recorded it, and what
// the cluster shows afterwards (SyncState, PercentSynced, volume status).
#include <gtest/gtest.h>

#include "SimTestClient.h"
#include "SvcReturnCode.h"

using namespace simit;
namespace Rc = arraysim::Rc;

namespace {
const CIMNamespaceName kNs("root/ibm");
constexpr Uint64 GiB = Uint64(1) << 30;

class FlashCopyScenario : public ::testing::Test {
protected:
    explicit FlashCopyScenario(zqtest::SimulatorFixture::Options o = {}) : fx(std::move(o)) {}
    void SetUp() override {
        for (const char* v : {"db", "snap", "snap2", "clone"}) ASSERT_TRUE(fx.sim().addVolume(v, "Pool0", GiB).ok());
    }
    Uint32 attach(const char* source, const char* target, Uint16 rate, bool autoDelete = false) {
        return call(fx.configurationService(), "AttachReplica",
                    {ref("SourceElement", fx.volumePath(source)), ref("TargetElement", fx.volumePath(target)),
                     u16("CopyType", autoDelete ? 5 : 4), u16("BackgroundCopyRate", rate), u16("CleanRate", rate)});
    }
    Uint32 sync(Uint16 op, const char* source, const char* target, bool force = false, bool restore = false) {
        return call(fx.configurationService(), "ModifySynchronization",
                    {u16("Operation", op), ref("Synchronization", fx.mappingPath(source, target)), flag("Force", force),
                     flag("Restore", restore)});
    }
    void prepareAndStart(const char* source, const char* target, bool restore = false) {
        ASSERT_EQ(sync(6, source, target, false, restore), 0u);
        fx.clock().advanceMs(1000);
        ASSERT_EQ(sync(4, source, target, false, restore), 0u);
    }
    CIMObjectPath createGroup(const char* name) {
        EXPECT_EQ(call(fx.configurationService(), "CreateSynchronizedSet", {text("ElementName", name), u16("CopyType", 4)}),
                  0u);
        return call.outRef("Set");
    }
    Uint32 modifyGroup(const CIMObjectPath& set, Uint16 op, const char* source = nullptr, const char* target = nullptr) {
        std::vector<CIMParamValue> in{ref("SynchronizedSet", set), u16("Operation", op)};
        if (source) in.push_back(ref("Synchronization", fx.mappingPath(source, target)));
        return call(fx.configurationService(), "ModifySynchronizedSet", in);
    }
    std::string prop(const CIMObjectPath& path, const char* name) {
        CIMInstance i = client->getInstance(kNs, path);
        Uint32 at = i.findProperty(CIMName(name));
        return at == PEG_NOT_FOUND ? "" : i.getProperty(at).getValue().toString().toStdString();
    }
    // SyncState and PercentSynced of a mapping, "none" when it is gone.
    std::string mapping(const char* source, const char* target) {
        try {
            auto path = fx.mappingPath(source, target);
            return prop(path, "SyncState") + "/" + prop(path, "PercentSynced");
        } catch (const CIMException&) {
            return "none";
        }
    }
    std::string status(const char* volume) { return prop(fx.volumePath(volume), "OperationalStatus"); }
    // A fault set through the side channel, as an outside test driver sets it.
    int control(const std::string& path, const std::string& body) {
        return RawHttp{fx.httpPort()}.post(body, {{"Content-Type", "application/json"}}, "/sim/" + path).status;
    }
    // The ModifySynchronization calls since the log was last cleared, as
    // "operation[ force][ restore] -> return value".
    std::vector<std::string> syncTrail() {
        std::vector<std::string> out;
        for (auto& r : fx.sim().requestLog().find("ModifySynchronization")) {
            std::string line = r.param("Operation")->value;
            if (r.param("Force") && r.param("Force")->value == "TRUE") line += " force";
            if (r.param("Restore") && r.param("Restore")->value == "TRUE") line += " restore";
            out.push_back(line + " -> " + r.returnValue);
        }
        fx.sim().requestLog().clear();
        return out;
    }
    using Trail = std::vector<std::string>;

    zqtest::SimulatorFixture fx;
    std::unique_ptr<CIMClient> client = fx.client();
    Call call{fx, *client};
};
}  // namespace

TEST_F(FlashCopyScenario, APreparingMappingIsNotStopped) {
    ASSERT_EQ(attach("db", "snap", 0), 0u);
    fx.sim().requestLog().clear();
    sync(6, "db", "snap");
    sync(8, "db", "snap", true);
    EXPECT_EQ(mapping("db", "snap"), "3/0");
    fx.clock().advanceMs(1000);
    sync(8, "db", "snap", true);
    EXPECT_EQ(syncTrail(), (Trail{"6 -> 0", "8 force -> 38820", "8 force -> 0"}));
    EXPECT_EQ(mapping("db", "snap"), "9/0");
    EXPECT_EQ(status("snap"), "10") << "a stopped mapping's target is offline";
}

TEST_F(FlashCopyScenario, AGroupMemberIsStoppedThroughItsGroup) {
    ASSERT_EQ(attach("db", "snap", 0), 0u);
    CIMObjectPath cg = createGroup("nightly");
    ASSERT_EQ(modifyGroup(cg, 0, "db", "snap"), 0u);
    ASSERT_EQ(modifyGroup(cg, 6), 0u);
    fx.clock().advanceMs(1000);
    ASSERT_EQ(modifyGroup(cg, 4), 0u);
    fx.sim().requestLog().clear();

    sync(8, "db", "snap");
    sync(8, "db", "snap", true);
    EXPECT_EQ(syncTrail(), (Trail{"8 -> 38816", "8 force -> 38816"}));
    EXPECT_EQ(mapping("db", "snap"), "5/0");
    ASSERT_EQ(modifyGroup(cg, 8), 0u);
    fx.clock().advanceMs(1000);
    EXPECT_EQ(mapping("db", "snap"), "9/0");
    EXPECT_EQ(prop(cg, "SyncState"), "9");
}

TEST_F(FlashCopyScenario, ARestoreIsRefusedAtPrepareWithoutTheFlag) {
    ASSERT_EQ(attach("db", "snap", 0), 0u);
    prepareAndStart("db", "snap");
    uint64_t pointInTime = fx.sim().generation("snap");
    fx.sim().hostWrite("db", 30);
    ASSERT_EQ(attach("snap", "db", 50, true), 0u);
    fx.sim().requestLog().clear();

    sync(6, "snap", "db");
    EXPECT_EQ(mapping("snap", "db"), "11/0") << "the refused prepare changed nothing";
    prepareAndStart("snap", "db", true);
    EXPECT_EQ(syncTrail(), (Trail{"6 -> 38822", "6 restore -> 0", "4 restore -> 0"}));
    EXPECT_EQ(fx.sim().generation("db"), pointInTime);
}

TEST_F(FlashCopyScenario, DetachTakesIdleOrStoppedMappingsOnly) {
    ASSERT_EQ(attach("db", "snap", 0), 0u);
    ASSERT_EQ(attach("db", "snap2", 0), 0u);
    prepareAndStart("db", "snap");
    fx.sim().hostWrite("db", 10);
    prepareAndStart("db", "snap2");
    fx.sim().requestLog().clear();

    sync(2, "db", "snap", true);   // copying, nothing depends on it
    sync(2, "db", "snap2", true);  // the older snap reads from snap2
    sync(8, "db", "snap2");        // cleans for snap: stopping
    sync(2, "db", "snap2", true);
    EXPECT_EQ(mapping("db", "snap2"), "8/0");
    EXPECT_EQ(status("snap2"), "10") << "offline while an unfinished copy stops";
    fx.clock().advanceMs(3600 * 1000);
    sync(2, "db", "snap2");
    sync(2, "db", "snap2", true);
    EXPECT_EQ(syncTrail(), (Trail{"2 force -> 38821", "2 force -> 38851", "8 -> 0", "2 force -> 38851", "2 -> 38821",
                                  "2 force -> 0"}));
    EXPECT_EQ(mapping("db", "snap2"), "none");
    EXPECT_EQ(status("snap2"), "2") << "the forced delete brought the target online";
    EXPECT_EQ(mapping("db", "snap"), "5/0") << "the older snapshot goes on";
}

// An older snapshot and a newer clone of one source: the clone's copy
// reaches 100% while the snapshot still reads from it.
class Cascade : public FlashCopyScenario {
protected:
    void SetUp() override {
        FlashCopyScenario::SetUp();
        if (HasFatalFailure()) return;
        ASSERT_EQ(attach("db", "snap", 0), 0u);
        ASSERT_EQ(attach("db", "clone", 100), 0u);  // 64 MiB/s: 16 s per GiB
        prepareAndStart("db", "snap");
        prepareAndStart("db", "clone");
        fx.sim().hostWrite("db", 10);
        fx.clock().advanceMs(20 * 1000);
        fx.sim().requestLog().clear();
    }
};

TEST_F(Cascade, TheCloneCompletesOnlyWhenTheSnapshotIsGone) {
    EXPECT_EQ(mapping("db", "clone"), "5/100") << "complete, but the snapshot reads from it";
    EXPECT_EQ(mapping("db", "snap"), "5/0");
    fx.clock().advanceMs(3600 * 1000);
    EXPECT_EQ(mapping("db", "clone"), "5/100");

    sync(8, "db", "snap");
    fx.clock().advanceMs(1000);
    EXPECT_EQ(mapping("db", "snap"), "9/0");
    EXPECT_EQ(mapping("db", "clone"), "6/100") << "a stopped snapshot reads nothing";
    sync(2, "db", "snap", true);
    EXPECT_EQ(syncTrail(), (Trail{"8 -> 0", "2 force -> 0"}));
    EXPECT_EQ(mapping("db", "snap"), "none");
    EXPECT_EQ(status("clone"), "2");
    EXPECT_EQ(status("snap"), "2");
}

TEST_F(Cascade, AForcedStopOfTheCloneStopsTheSnapshotToo) {
    sync(8, "db", "clone", true);
    EXPECT_EQ(syncTrail(), (Trail{"8 force -> 0"}));
    EXPECT_EQ(mapping("db", "clone"), "6/100") << "a complete copy stops idle_or_copied";
    EXPECT_EQ(status("clone"), "2");
    EXPECT_EQ(mapping("db", "snap"), "9/0") << "the snapshot depended on the clone";
    EXPECT_EQ(status("snap"), "10");
}

TEST_F(FlashCopyScenario, ACleanRateOf0CleansAtTheDefaultRate) {
    ASSERT_EQ(attach("db", "snap", 0), 0u);
    ASSERT_EQ(attach("db", "snap2", 0), 0u);
    prepareAndStart("db", "snap");
    prepareAndStart("db", "snap2");
    fx.sim().hostWrite("db", 10);  // snap needs these grains from snap2
    fx.sim().requestLog().clear();

    // 10% of 1 GiB at rate 50 (2 MiB/s) takes 51.2 s after the 0.5 s stop.
    sync(8, "db", "snap2");
    EXPECT_EQ(prop(fx.mappingPath("db", "snap2"), "CleanRate"), "0");
    fx.clock().advanceMs(51500);
    EXPECT_EQ(mapping("db", "snap2"), "8/0");
    fx.clock().advanceMs(300);
    EXPECT_EQ(mapping("db", "snap2"), "9/0");
    EXPECT_EQ(syncTrail(), (Trail{"8 -> 0"}));
}

TEST_F(FlashCopyScenario, ANewCopyRateCountsFromTheChange) {
    ASSERT_EQ(attach("db", "clone", 50), 0u);  // 2 MiB/s: 512 s per GiB
    prepareAndStart("db", "clone");
    fx.clock().advanceMs(256 * 1000);
    fx.sim().requestLog().clear();
    CIMInstance m = client->getInstance(kNs, fx.mappingPath("db", "clone"));
    m.getProperty(m.findProperty(CIMName("CopyRate"))).setValue(CIMValue(Uint16(100)));
    client->modifyInstance(kNs, m, false, CIMPropertyList(Array<CIMName>(1, CIMName("CopyRate"))));
    auto logged = fx.sim().requestLog().find("ModifyInstance");
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(logged[0].cimStatus, 0u);
    EXPECT_EQ(mapping("db", "clone"), "5/50") << "the copy made at rate 50 is kept";
    fx.clock().advanceMs(4000);  // 64 MiB/s now
    EXPECT_EQ(mapping("db", "clone"), "5/75");
    fx.clock().advanceMs(4100);
    EXPECT_EQ(mapping("db", "clone"), "6/100");
}

TEST_F(FlashCopyScenario, AutoDeleteOnACopiedMappingDeletesIt) {
    ASSERT_EQ(attach("db", "clone", 100), 0u);
    prepareAndStart("db", "clone");
    fx.clock().advanceMs(17 * 1000);
    ASSERT_EQ(mapping("db", "clone"), "6/100");
    fx.sim().requestLog().clear();
    CIMInstance m = client->getInstance(kNs, fx.mappingPath("db", "clone"));
    m.getProperty(m.findProperty(CIMName("AutoDelete"))).setValue(CIMValue(Boolean(true)));
    client->modifyInstance(kNs, m, false, CIMPropertyList(Array<CIMName>(1, CIMName("AutoDelete"))));
    ASSERT_EQ(fx.sim().requestLog().find("ModifyInstance").size(), 1u);
    EXPECT_EQ(mapping("db", "clone"), "none");
    EXPECT_EQ(status("clone"), "2");
}

TEST_F(FlashCopyScenario, APrepareThatFailsLeavesTheMappingStopped) {
    ASSERT_EQ(attach("db", "snap", 0), 0u);
    ASSERT_EQ(control("preparefails", R"({"mapping": "fcmap0"})"), 200);
    EXPECT_EQ(control("preparefails", R"({"mapping": "nosuchmap"})"), 404);
    fx.sim().requestLog().clear();
    sync(6, "db", "snap");
    fx.clock().advanceMs(1000);
    EXPECT_EQ(mapping("db", "snap"), "9/0");
    EXPECT_EQ(status("snap"), "10");
    sync(4, "db", "snap");
    sync(2, "db", "snap", true);
    EXPECT_EQ(syncTrail(), (Trail{"6 -> 0", "4 -> 38825", "2 force -> 0"}));
    EXPECT_EQ(status("snap"), "2");
}

TEST_F(FlashCopyScenario, ASuspendedMappingShowsBrokenAndTakesItsVolumesOffline) {
    ASSERT_EQ(attach("db", "clone", 50), 0u);
    prepareAndStart("db", "clone");
    fx.clock().advanceMs(128 * 1000);
    ASSERT_EQ(control("suspend", R"({"mapping": "fcmap0"})"), 200);
    fx.sim().requestLog().clear();
    EXPECT_EQ(mapping("db", "clone"), "12/25");
    EXPECT_EQ(status("db"), "10");
    EXPECT_EQ(status("clone"), "10");
    sync(2, "db", "clone", true);
    sync(8, "db", "clone", true);
    EXPECT_EQ(syncTrail(), (Trail{"2 force -> 38821", "8 force -> 0"}));
    EXPECT_EQ(mapping("db", "clone"), "9/25");
    EXPECT_EQ(status("db"), "2");
    EXPECT_EQ(control("suspend", R"({"mapping": "fcmap0"})"), 400) << "a stopped mapping is not suspended";
}

TEST_F(FlashCopyScenario, ANewMappingBeyondALimitIsRefused) {
    fx.sim().withModel([](arraysim::Model& m, int64_t) { return m.state.limits.maxConnectedMappings = 2; });
    ASSERT_EQ(attach("db", "snap", 0), 0u);
    ASSERT_EQ(attach("snap", "snap2", 0), 0u);
    fx.sim().requestLog().clear();
    EXPECT_EQ(attach("db", "clone", 0), Rc::FlashCopyLimit);
    auto logged = fx.sim().requestLog().find("AttachReplica");
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(logged[0].returnValue, "4");
    EXPECT_EQ(client->enumerateInstanceNames(kNs, CIMName("CIM_StorageSynchronized")).size(), 2u);
}
