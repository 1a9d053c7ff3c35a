// Consistency groups through the synchronized-set methods.
#include "SmisActionTest.h"

using actiontest::ActionTest;
using arraysim::Fault;
using arraysim::JobScript;

namespace {

class SyncSetTest : public ActionTest {
protected:
    void SetUp() override {
        ActionTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        addVolume("src");
        addVolume("tgt");
        std::vector<std::string> args{system, "4", pathOf("src"), pathOf("tgt")};
        ASSERT_EQ(action.AttachModRep(conn, args, mapping), 0) << record.dump();
        fx.sim().requestLog().clear();
    }
    std::string createSet(const std::string& name, uint16_t copyType = 4, int expect = 0) {
        CreateSynchronizedSet_PARAMS params;
        params.SystemName = system;
        params.SetName = name;
        params.CopyType = copyType;
        EXPECT_EQ(action.CreateSynchronizedSet(conn, params), expect) << record.dump();
        return params.SetPath;
    }
    int modify(const std::string& setPath, uint16_t operation, const std::string& sync) {
        ModifySynchronizedSet_PARAMS params;
        params.SystemName = system;
        params.SetName = "cg1";
        params.SetPath = setPath;
        params.Operation = operation;
        params.SynchronizationPath = sync;
        return action.ModifySynchronizedSet(conn, params);
    }
    std::string members(const std::string& setPath) { return property(setPath, "NumberOfMembers"); }
    std::string mapping;
};

TEST_F(SyncSetTest, GroupLifeCycle) {
    const std::string set = createSet("cg1");
    ASSERT_FALSE(set.empty());
    EXPECT_EQ(property(set, "ElementName"), "cg1");
    EXPECT_EQ(sent(lastCall("CreateSynchronizedSet"), "CopyType"), "uint16 4");

    EXPECT_EQ(modify(set, 0, mapping), 0) << record.dump();
    EXPECT_EQ(members(set), "1");
    EXPECT_TRUE(record.hasLine("Adding FC mapping ["));
    EXPECT_EQ(modify("not a path", 1, mapping), 0);  // found by name
    EXPECT_TRUE(record.hasLine("Supplied Synchronization Set is not an object path, assuming Name"));
    EXPECT_EQ(members(set), "0");

    DeleteSynchronizedSet_PARAMS del;
    del.SystemName = system;
    del.SetName = "cg1";
    EXPECT_EQ(action.DeleteSynchronizedSet(conn, del), 0) << record.dump();
    EXPECT_EQ(sent(lastCall("DeleteSynchronizedSet"), "Force"), "boolean TRUE");
    EXPECT_EQ(action.DeleteSynchronizedSet(conn, del), 650015);  // gone
}

TEST_F(SyncSetTest, OperationsWithoutMapping) {
    const std::string set = createSet("cg1");
    fx.sim().requestLog().clear();
    EXPECT_EQ(modify(set, 0, ""), 650015);
    EXPECT_EQ(callCount("ModifySynchronizedSet"), 0u);
    EXPECT_EQ(modify(set, 2, mapping), 1);  // the array knows no operation 2
    EXPECT_EQ(paramNames(lastCall("ModifySynchronizedSet")),
              (std::vector<std::string>{"SynchronizedSet", "Operation"}));
    EXPECT_EQ(std::to_string(record.errorCode()) + " " + record.errorMessage(), "1 Not Supported");
}

TEST_F(SyncSetTest, ArgumentsAndProviderAnswers) {
    CreateSynchronizedSet_PARAMS create;
    ModifySynchronizedSet_PARAMS modifyParams;
    DeleteSynchronizedSet_PARAMS del;
    create.SystemName = modifyParams.SystemName = del.SystemName = system;
    EXPECT_EQ(action.CreateSynchronizedSet(conn, create), 650009);
    EXPECT_EQ(action.ModifySynchronizedSet(conn, modifyParams), 650009);
    EXPECT_EQ(action.DeleteSynchronizedSet(conn, del), 650009);
    EXPECT_EQ(requestCount(), 0u);

    createSet("cg2", 0xFFFF, 32768);  // the default copy type is sent as it is
    EXPECT_EQ(sent(lastCall("CreateSynchronizedSet"), "CopyType"), "uint16 65535");
    EXPECT_EQ(record.errorCode(), 32768u);

    fx.sim().faults().add(Fault::asJob("CreateSynchronizedSet", JobScript::completing(), 1));
    EXPECT_TRUE(createSet("cg3", 4, 4096).empty());  // not watched, no path
}

}  // namespace
