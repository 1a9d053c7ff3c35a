// Replica creation and the copy-type check against the simulator.
#include "SmisActionTest.h"

using actiontest::ActionTest;
using arraysim::Fault;
using arraysim::JobScript;

namespace {

class ReplicaTest : public ActionTest {
protected:
    void SetUp() override {
        ActionTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        uid = addVolume("db01", actiontest::GiB, false, "Pool1");
        fx.sim().requestLog().clear();
    }
    std::vector<std::string> prepared(std::vector<std::string> request) {
        std::vector<std::string> resolved;
        EXPECT_TRUE(action.PrepareCreateReplica(conn, request, resolved)) << record.dump();
        return resolved;
    }
    std::string uid;
};

TEST_F(ReplicaTest, PrepareResolvesNamesIntoPaths) {
    auto resolved = prepared({system, "snap1", "4", uid});
    ASSERT_EQ(resolved.size(), 6u);
    EXPECT_EQ(Pegasus::CIMObjectPath(resolved[0]), fx.configurationService());
    EXPECT_EQ(resolved[1], "snap1");
    EXPECT_EQ(resolved[2], "4");
    EXPECT_EQ(Pegasus::CIMObjectPath(resolved[3]), fx.volumePath("db01"));
    EXPECT_TRUE(record.hasLine("assuming UUID(Name)"));
    EXPECT_EQ(resolved[4], "null");
    EXPECT_EQ(property(resolved[5], "ElementName"), "Pool1");  // the source's pool

    resolved = prepared({system, "snap1", "4", pathOf("db01"), "x-null-x", "Pool0"});
    EXPECT_EQ(resolved[4], "null");
    EXPECT_EQ(property(resolved[5], "ElementName"), "Pool0");
    resolved = prepared({system, "snap1", "4", pathOf("db01"), system + ":Thin"});
    EXPECT_EQ(property(resolved[4], "InstanceID"), system + ":Thin");
}

TEST_F(ReplicaTest, PrepareRefusesWhatCannotBeResolved) {
    struct Case {
        std::vector<std::string> request;
        const char* line;
    } cases[] = {
        {{system, "snap1", "4"}, "create: insufficient params specified"},
        {{"0000000000000000", "snap1", "4", uid}, "Class CIM_StorageConfigurationService for system"},
        {{system, "snap1", "4", "6005076810CA0166C000000000000FFF"}, " LUN UUID 6005076810CA0166C000000000000FFF"},
        {{system, "snap1", "4", uid, "NoSuchSetting"}, "InstanceID NoSuchSetting not found"},
        {{system, "snap1", "4", uid, "null", "NoPool"}, "Class CIM_StoragePool: name NoPool not found"},
    };
    for (auto& c : cases) {
        std::vector<std::string> resolved;
        EXPECT_FALSE(action.PrepareCreateReplica(conn, c.request, resolved)) << c.line;
        EXPECT_TRUE(resolved.empty());
        EXPECT_TRUE(record.hasLine(c.line, 2)) << record.dump();
    }
    EXPECT_TRUE(record.hasLine("\tneed: systemName NewElementName CopyType(2-5) SourceVolume"));
}

TEST_F(ReplicaTest, CreateSendsTypedParametersAndReturnsTheTarget) {
    auto resolved = prepared({system, "snap1", "4", uid});
    std::string target;
    ASSERT_EQ(action.CreateReplica(conn, resolved, target), 0u) << record.dump();
    auto call = lastCall("CreateReplica");
    EXPECT_EQ(paramNames(call), (std::vector<std::string>{"ElementName", "CopyType", "SourceElement",
                                                          "TargetSettingGoal", "TargetPool"}));
    EXPECT_EQ(sent(call, {"ElementName", "CopyType", "TargetSettingGoal"}), "string snap1 | uint16 4 | reference null");
    EXPECT_EQ(property(target, "ElementName"), "snap1");
    EXPECT_EQ(property(target, "IsSpaceEfficient"), "TRUE");
}

TEST_F(ReplicaTest, CreateRefusesShortListsBeforeAnyRequest) {
    for (std::vector<std::string> resolved : {std::vector<std::string>{}, {"a", "b", "c"}}) {
        std::string target;
        EXPECT_EQ(action.CreateReplica(conn, resolved, target), 5u);
    }
    EXPECT_EQ(requestCount(), 0u);
    EXPECT_EQ(record.countLines("CreateReplica: Validation Failed: Invalid Parameters", 2), 2u);
}

TEST_F(ReplicaTest, CreateReportsProviderValuesAndJobOutcomes) {
    auto resolved = prepared({system, "snap1", "4", uid});
    std::string target;
    fx.sim().faults().add(Fault::returns("CreateReplica", 32773));
    EXPECT_EQ(action.CreateReplica(conn, resolved, target), 32773u);
    EXPECT_EQ(record.errorCode(), 32773u);
    EXPECT_EQ(record.errorMessage(), "Syntax Error in ClusterIP");

    fx.sim().faults().add(Fault::asJob("CreateReplica", JobScript::endingIn(8, "stopped"), 1));
    EXPECT_EQ(action.CreateReplica(conn, resolved, target), 1u);
    EXPECT_FALSE(target.empty());  // taken from the answer before the job ended

    resolved[1] = "snap2";
    const size_t polls = record.countLines("Try ");
    fx.sim().faults().add(Fault::asJob("CreateReplica", JobScript::neverEnding(), 1));
    EXPECT_EQ(action.CreateReplica(conn, resolved, target), 0u);
    EXPECT_TRUE(record.hasLine("Max tries exceeded"));
    EXPECT_EQ(record.countLines("Try ") - polls, 60u);
}

TEST_F(ReplicaTest, CopyTypeSupport) {
    EXPECT_EQ(run(&SmisAction::IsCopyTypeSupported, {system}), 650009);
    EXPECT_EQ(requestCount(), 0u);
    // The simulator offers synchronization types 6 and 8.
    EXPECT_EQ(run(&SmisAction::IsCopyTypeSupported, {system, "4"}), 0);
    EXPECT_EQ(run(&SmisAction::IsCopyTypeSupported, {system, "5"}), 0);
    EXPECT_EQ(run(&SmisAction::IsCopyTypeSupported, {system, "2"}), 1);
    EXPECT_TRUE(record.hasLine("Copy type <2> is not supported by the system"));
    EXPECT_EQ(run(&SmisAction::IsCopyTypeSupported, {"0000FFFFFFFFFFFF", "4"}), 650015);
}

}  // namespace
