// FlashCopy rules as a client sees them over CIM and the side channel: the
// return values on the wire, SyncState, PercentSynced and volume status. The
// rules themselves are checked on the model (unit/arraysim/FlashCopyRulesTest).
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
    Uint32 attach(const char* source, const char* target, Uint16 rate) {
        return call(fx.configurationService(), "AttachReplica",
                    {ref("SourceElement", fx.volumePath(source)), ref("TargetElement", fx.volumePath(target)),
                     u16("CopyType", 4), u16("BackgroundCopyRate", rate), u16("CleanRate", rate)});
    }
    Uint32 sync(Uint16 op, const char* source, const char* target, bool force = false) {
        return call(fx.configurationService(), "ModifySynchronization",
                    {u16("Operation", op), ref("Synchronization", fx.mappingPath(source, target)), flag("Force", force)});
    }
    void prepareAndStart(const char* source, const char* target) {
        ASSERT_EQ(sync(6, source, target), 0u);
        fx.clock().advanceMs(1000);
        ASSERT_EQ(sync(4, source, target), 0u);
    }
    std::string prop(const CIMObjectPath& path, const char* name) {
        return propText(client->getInstance(kNs, path), name);
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
    // "operation[ force] -> return value".
    std::vector<std::string> syncTrail() {
        std::vector<std::string> out;
        for (auto& r : fx.sim().requestLog().find("ModifySynchronization")) {
            std::string line = r.param("Operation")->value;
            if (r.param("Force") && r.param("Force")->value == "TRUE") line += " force";
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
