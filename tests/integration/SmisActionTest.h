// Fixture of the action-layer tests: the simulator in-process with its
// virtual clock, a connection to it, an action object bound to a test
// record, and readers of what the simulator was sent and what it holds.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "ProviderTarget.h"
#include "ScopedHostSettings.h"
#include "SimulatorFixture.h"
#include "SmisAction.h"
#include "TestSnapInfo.h"
#include "ZqSmisErrorTable.h"

namespace actiontest {

constexpr uint64_t GiB = uint64_t(1) << 30;

class ActionTest : public ::testing::Test {
protected:
    explicit ActionTest(zqtest::SimulatorFixture::Options options = {}) : fx(std::move(options)) {}

    void SetUp() override {
        ZQ_NEEDS_SIMULATOR();
        ZqCimomParams params;
        params.Address = fx.host();
        params.Port = uint16_t(fx.httpPort());
        params.NameSpace = fx.nameSpace();
        params.UserName = fx.user();
        params.Password = fx.password();
        conn.SetCimom(params);
        conn.SetLogger(&record);
        ASSERT_EQ(conn.ConnectCimom(), 0);
        action.SetLogger(&record);
        action.SetSMISErrorTable(ETable);
        system = fx.sim().withModel([](arraysim::Model& m, int64_t) { return m.state.cluster.id; });
        fx.sim().requestLog().clear();
    }
    void TearDown() override { conn.DisconnectCimom(); }

    // Adds a volume; its unique id.
    std::string addVolume(const std::string& name, uint64_t size = GiB, bool spaceEfficient = false,
                          const std::string& pool = "Pool0", uint32_t ioGroup = arraysim::kNoId) {
        EXPECT_TRUE(fx.sim().addVolume(name, pool, size, spaceEfficient, ioGroup).ok()) << name;
        return fx.volumeUid(name);
    }
    std::string pathOf(const std::string& volume) { return fx.volumePath(volume).toString().toStdString(); }

    // Runs an operation that takes an argument list.
    using ListOperation = int (SmisAction::*)(ZqCimConnection&, std::vector<std::string>&);
    int run(ListOperation operation, std::vector<std::string> args) { return (action.*operation)(conn, args); }

    // The last request of a method (a failed test when there is none).
    arraysim::LoggedRequest lastCall(const std::string& method) {
        auto calls = fx.sim().requestLog().find(method);
        EXPECT_FALSE(calls.empty()) << method << " was not called";
        return calls.empty() ? arraysim::LoggedRequest() : calls.back();
    }
    size_t callCount(const std::string& method) { return fx.sim().requestLog().find(method).size(); }
    size_t requestCount() { return fx.sim().requestLog().size(); }

    // An in-parameter as sent: "<type> <value>", "<type>[] <values>",
    // "<type> null", or "-" when it was not sent.
    static std::string sent(const arraysim::LoggedRequest& request, const std::string& name) {
        const arraysim::LoggedParam* p = request.param(name);
        if (!p) return "-";
        return p->paramType + (p->isArray ? "[] " : " ") + (p->isNull ? "null" : p->value);
    }
    // Several in-parameters, joined by " | ".
    static std::string sent(const arraysim::LoggedRequest& request, std::initializer_list<const char*> names) {
        std::string joined;
        for (const char* name : names) joined += (joined.empty() ? "" : " | ") + sent(request, name);
        return joined;
    }
    static std::vector<std::string> paramNames(const arraysim::LoggedRequest& request) {
        std::vector<std::string> names;
        for (const auto& p : request.params) names.push_back(p.name);
        return names;
    }

    // A property of an object as the provider shows it; empty when absent.
    std::string property(const std::string& path, const char* name) {
        auto client = fx.client();
        Pegasus::CIMInstance instance = client->getInstance(fx.nameSpace(), Pegasus::CIMObjectPath(path));
        const Pegasus::Uint32 index = instance.findProperty(name);
        return index == PEG_NOT_FOUND ? "" : instance.getProperty(index).getValue().toString().toStdString();
    }

    zqtest::ScopedHostSettings settings;
    zqtest::SimulatorFixture fx;
    zqtest::TestSnapInfo record;
    ZqCimConnection conn;
    SmisAction action;
    std::string system;
};

}  // namespace actiontest
