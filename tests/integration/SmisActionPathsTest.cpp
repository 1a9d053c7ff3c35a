// Exposing volumes to hosts, hiding them, and asking where they are mapped.
#include <algorithm>

#include "SmisActionTest.h"

using actiontest::ActionTest;
using arraysim::Fault;
using arraysim::JobScript;

namespace {

const std::string kPortA = "10000000C9AABB01";
const std::string kPortB = "10000000C9AABB02";
const std::string kNewPort = "10000000C9AABB0F";

class PathsTest : public ActionTest {
protected:
    void SetUp() override {
        ActionTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        uid = addVolume("snap");
        other = addVolume("other");
        ASSERT_TRUE(fx.sim().addHost("hostA", {kPortA}).ok());
        ASSERT_TRUE(fx.sim().addHost("hostB", {kPortB}).ok());
        fx.sim().requestLog().clear();
    }
    int expose(std::vector<std::string> args) { return run(&SmisAction::ExposePaths, std::move(args)); }
    int hide(std::vector<std::string> args) { return run(&SmisAction::HidePaths, std::move(args)); }
    int mapped(const std::string& volume, const std::string& initiators) {
        return run(&SmisAction::IsLunMapped, {system, volume, initiators});
    }
    std::vector<std::string> hostsOf(const std::string& volume) {
        return fx.sim().withModel([&](arraysim::Model& m, int64_t) {
            std::vector<std::string> names;
            for (uint32_t host : m.state.hostsOfVolume(m.state.volumeByName(volume)->id))
                names.push_back(m.state.hosts.at(host).name);
            return names;
        });
    }
    std::string uid, other;
};

// The host's ports sit in two host objects: the volume is exposed through
// each, and hidden from each again.
TEST_F(PathsTest, ExposeToAKnownHostThroughEachOfItsControllers) {
    ASSERT_EQ(expose({system, uid, kPortB + "," + kPortA, "null", "2"}), 0) << record.dump();
    auto call = lastCall("ExposePaths");
    EXPECT_EQ(paramNames(call),
              (std::vector<std::string>{"LUNames", "InitiatorPortIDs", "TargetPortIDs", "DeviceNumbers",
                                        "DeviceAccesses", "Force", "ProtocolControllers"}));
    EXPECT_EQ(sent(call, {"LUNames", "InitiatorPortIDs", "DeviceNumbers", "DeviceAccesses", "Force"}),
              "string[] " + uid + " | string null | string null | uint16[] 2 | boolean TRUE");
    EXPECT_EQ(callCount("ExposePaths"), 2u);
    EXPECT_TRUE(record.hasLine("exposing through each of [2] view controllers"));
    auto hosts = hostsOf("snap");
    std::sort(hosts.begin(), hosts.end());
    EXPECT_EQ(hosts, (std::vector<std::string>{"hostA", "hostB"}));

    EXPECT_EQ(mapped(uid, kPortA + "," + kPortB), 0);
    EXPECT_EQ(mapped(pathOf("other"), kPortA), 650007);
    EXPECT_EQ(mapped(uid, ""), 0);
    EXPECT_EQ(mapped(other, ""), 650007);

    ASSERT_EQ(hide({system, uid, kPortA + "," + kPortB}), 0) << record.dump();
    EXPECT_EQ(callCount("HidePaths"), 2u);
    EXPECT_TRUE(hostsOf("snap").empty());
    EXPECT_EQ(mapped(uid, kPortA + "," + kPortB), 650007);
}

TEST_F(PathsTest, ExposeToANewHostSendsTheInitiators) {
    settings.set("IBMSVC_DISABLE_FORCE_MAP", 1);
    ASSERT_EQ(expose({system, uid, kNewPort}), 0) << record.dump();
    auto call = lastCall("ExposePaths");
    EXPECT_EQ(sent(call, {"InitiatorPortIDs", "ProtocolControllers", "Force"}),
              "string[] " + kNewPort + " | reference null | boolean FALSE");
    EXPECT_TRUE(record.hasLine("going to create new view. This method may fail"));
    EXPECT_EQ(mapped(uid, kNewPort), 0);
    EXPECT_EQ(mapped(uid, kPortA), 650006);
    EXPECT_TRUE(record.hasLine("mapped to another host", 2));

    fx.sim().faults().add(Fault::returns("ExposePaths", 4));
    EXPECT_EQ(expose({system, other, "10000000C9AABB0E"}), 4098);
}

TEST_F(PathsTest, ExposeRefusesBadArgumentsBeforeCallingTheProvider) {
    EXPECT_EQ(expose({system, uid}), 650009);
    EXPECT_EQ(expose({system, "", kPortA}), 650009);
    EXPECT_EQ(expose({system, uid + "," + other, kPortA, "1"}), 5);
    EXPECT_TRUE(record.hasLine("DevNum array size mismatch with Volume: 1 not == 2"));
    EXPECT_EQ(expose({system, uid, kPortA, "null", "2,2"}), 5);
    EXPECT_EQ(requestCount(), 0u);
    EXPECT_EQ(expose({"0000FFFFFFFFFFFF", uid, kPortA}), 650015);
}

TEST_F(PathsTest, StartedJobsCountAsFailures) {
    fx.sim().faults().add(Fault::asJob("ExposePaths", JobScript::completing(), 1));
    EXPECT_EQ(expose({system, uid, kPortA}), 4096);
    fx.sim().mapToHost("hostA", "snap");
    fx.sim().faults().add(Fault::asJob("HidePaths", JobScript::completing(), 1));
    EXPECT_EQ(hide({system, uid, kPortA}), 4096);
    EXPECT_EQ(callCount("GetInstance"), 0u);  // no job was watched
}

TEST_F(PathsTest, HideRemovesOnlyThisHostsMapping) {
    fx.sim().mapToHost("hostA", "snap");
    fx.sim().mapToHost("hostB", "snap");
    EXPECT_EQ(hide({system, uid, kPortA, "TP1", "null", pathOf("snap")}), 0) << record.dump();
    auto call = lastCall("HidePaths");
    EXPECT_EQ(sent(call, "InitiatorPortIDs"), "string null");
    EXPECT_EQ(sent(call, "Force"), "boolean TRUE");
    EXPECT_EQ(sent(call, "ProtocolControllers").rfind("reference[] ", 0), 0u);
    EXPECT_TRUE(record.hasLine("Target Ports: TP1 "));
    EXPECT_TRUE(record.hasLine("Controller paths processing with volume path list"));
    EXPECT_EQ(hostsOf("snap"), std::vector<std::string>{"hostB"});

    fx.sim().requestLog().clear();
    EXPECT_EQ(hide({system, uid, kPortA}), 650007);
    EXPECT_EQ(callCount("HidePaths"), 0u);
    // A failed controller search is an error, not "not mapped" (which callers count as unmapped).
    fx.sim().faults().add(Fault::http("AssociatorNames", 500, -1));
    EXPECT_EQ(hide({system, uid, kPortA}), 1);
    EXPECT_EQ(mapped(uid, kPortA), 1);
    fx.sim().faults().clear();
    EXPECT_EQ(hide({system}), 650009);

    settings.set("IBMSVC_DISABLE_FORCE_UNMAP", 1);
    EXPECT_EQ(hide({system, uid, kPortB}), 0);
    EXPECT_EQ(sent(lastCall("HidePaths"), "Force"), "boolean FALSE");
    EXPECT_TRUE(hostsOf("snap").empty());
}

TEST_F(PathsTest, MappingQueryRefusals) {
    EXPECT_EQ(run(&SmisAction::IsLunMapped, {system, uid}), 650009);
    EXPECT_EQ(requestCount(), 0u);
    EXPECT_EQ(mapped("6005076810CA0166C000000000000FFF", kPortA), 650008);
    const std::string path = pathOf("other");
    fx.sim().vanish("volume", "other");
    EXPECT_EQ(mapped(path, kPortA), 650008);
    EXPECT_EQ(run(&SmisAction::IsLunMapped, {"0000FFFFFFFFFFFF", uid, kPortA}), 650015);
}

}  // namespace
