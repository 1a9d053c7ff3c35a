#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "EngineEnvironment.h"
#include "IBMSVCEngineRemoteHelper.h"
#include "RecordBatch.h"
#include "zqso/zqso.h"

using namespace ZQSOIBMSVCAPI;
using zqtest::RecordBatch;
using zqtest::TestOSUtil;

namespace {

const char* kProxyKey = "SMCONFIG_NAME_REMOTE_SNAP_PX";

class RemoteFrame : public ::testing::Test {
protected:
    void SetUp() override {
        env.config().set("Platform", "MachineName", "client-a");
        caller.addProxy("proxy-b", &proxy);
    }
    // The proxy writes `code` as its return code (nothing when absent).
    void proxyAnswers(std::optional<std::string> code) {
        proxy.setEngine([code](ZQSO::SnapInfo** records, int16_t, ZQSO::ZQOSUtil*) {
            if (code) records[0]->setMetaData(ZQSO::SM_MDT_REMOTE_EXEC_MSG, code->c_str());
            return 0;
        });
    }
    static void expectProtocolMetadataGone(zqtest::TestSnapInfo& first) {
        for (int id : {60, 61, 91}) EXPECT_FALSE(first.meta(id)) << "metadata " << id;
    }

    zqtest::EngineEnvironment env;
    TestOSUtil caller{"client-a"}, proxy{"proxy-b"};
};

// Proxy-side message 5 for the dispatch tests: needs a request, answers "resp".
class FakeMapMessage : public RemoteMessageHandler {
public:
    explicit FakeMapMessage(unsigned status) : status_(status) {}
    bool needsRequest() const override { return true; }
    bool decodeRequest(const std::string& request, ZQSO::SnapInfo**, int16_t) override { return request != "bad"; }
    unsigned run(ZQSO::SnapInfo**, int16_t, ZQSO::ZQOSUtil*, std::string& response) override {
        response = "resp";
        return status_;
    }

private:
    unsigned status_;
};

}  // namespace

TEST_F(RemoteFrame, TheProxyDecision) {
    RecordBatch batch(caller, 1);
    EngineRemoteHelper helper(batch.records(), batch.count(), batch.os());
    int localRuns = 0;
    auto local = [&] {
        ++localRuns;
        return 0u;
    };
    std::string response;

    EXPECT_EQ(runBatchFrame("zqso_snapDevices", helper, &batch[0], REMOTE_OP_SNAP, "", response, local), 0u);
    EXPECT_EQ(batch[0].countLines("Failed to get Remote Snap PX.. continuing in local mode. ", 2), 1u);

    batch[0].setConfig(kProxyKey, std::string("CLIENT-A"));  // this host in another letter case
    EXPECT_EQ(runBatchFrame("zqso_snapDevices", helper, &batch[0], REMOTE_OP_SNAP, "", response, local), 0u);
    EXPECT_EQ(localRuns, 2);
    EXPECT_EQ(batch[0].countLines("continuing in local mode"), 1u);
    EXPECT_TRUE(caller.remoteRuns().empty());

    // With bit 0 of the platform type the registered client name counts.
    env.config().set("Platform", "PlatformType", "1");
    env.config().set("Platform", "ClientName", "Proxy-B");
    batch[0].setConfig(kProxyKey, std::string("proxy-b"));
    EXPECT_EQ(helper.getLocalClientName(), "Proxy-B");
    EXPECT_EQ(runBatchFrame("zqso_snapDevices", helper, &batch[0], REMOTE_OP_SNAP, "", response, local), 0u);
    EXPECT_EQ(localRuns, 3);

    env.config().set("Platform", "PlatformType", "0");
    proxyAnswers("0");
    EXPECT_EQ(runBatchFrame("zqso_snapDevices", helper, &batch[0], REMOTE_OP_SNAP, "", response, local), 0u);
    EXPECT_EQ(localRuns, 3);
    EXPECT_TRUE(batch[0].hasLine("Sending request to Remote Snap PX:[proxy-b]", 1));
    EXPECT_EQ(caller.remoteRuns(), std::vector<std::string>{"proxy-b"});
}

TEST_F(RemoteFrame, TheProxysReturnCode) {
    struct Case {
        std::optional<std::string> code;
        unsigned result;
        const char* line;
    } cases[] = {
        {"0", 0, "Remote Op succeeded on PX[proxy-b]. MsgId[2][]"},
        {"1", 1, "Remote execution failed."},
        {"2", 1, "Invalid Remote execution return code."},
        {"7", 1, "Invalid Remote execution return code."},
        {"-1", 1, "Invalid Remote execution return code."},
        {"abc", 1, "Invalid Remote execution return code."},
        {"0 ", 1, "Invalid Remote execution return code."},
        {"", 1, "Failed to get the metadata SM_MDT_REMOTE_EXEC_MSG containing return code"},
        {std::nullopt, 1, "Failed to get the metadata SM_MDT_REMOTE_EXEC_MSG containing return code"},
    };
    for (const auto& c : cases) {
        RecordBatch batch(caller, 1);
        batch[0].setMeta(ZQSO::SM_MDT_REMOTE_EXEC_MSG, "0");  // stale success from an earlier run
        proxyAnswers(c.code);
        EngineRemoteHelper helper(batch.records(), batch.count(), batch.os());
        std::string response;
        EXPECT_EQ(helper.executeOnRemotePX("proxy-b", REMOTE_OP_SNAP, "", response), c.result) << c.line;
        EXPECT_TRUE(batch[0].hasLine(c.line)) << batch[0].dump();
        expectProtocolMetadataGone(batch[0]);
    }
    RecordBatch batch(caller, 1);
    EngineRemoteHelper helper(batch.records(), batch.count(), batch.os());
    std::string response;
    EXPECT_EQ(helper.executeOnRemotePX("nowhere", REMOTE_OP_SNAP, "", response), 1u);
    EXPECT_TRUE(batch[0].hasLine("executeOnRemotePX failed", 2));
}

TEST_F(RemoteFrame, WhatTheProxySeesAndSendsBack) {
    std::map<int, std::optional<std::string>> seen;
    proxy.setEngine([&](ZQSO::SnapInfo** records, int16_t, ZQSO::ZQOSUtil*) {
        for (int id : {60, 61, 91}) {
            std::string text;
            seen[id] = records[0]->getMetaDataText(id, text) ? std::optional<std::string>(text) : std::nullopt;
        }
        records[0]->setMetaData(91, "{\"mapCount\": 1 }");
        records[0]->setMetaData(60, "0");
        return 0;
    });
    RecordBatch batch(caller, 1);
    batch[0].setMeta(91, "stale request");
    IBMSVCEngineRemoteHelper helper(batch.records(), batch.count(), batch.os());
    std::string response = "old";
    ASSERT_EQ(helper.executeOnRemotePX("proxy-b", REMOTE_OP_RECONCILE, "", response), 0u);
    EXPECT_EQ(seen[61], std::optional<std::string>("7"));
    EXPECT_FALSE(seen[91]);  // a message without request sets only 61
    EXPECT_FALSE(seen[60]);
    EXPECT_EQ(response, "{\"mapCount\": 1 }");
    EXPECT_TRUE(batch[0].hasLine("Setting MetaData - Type[61] MetaData MsgId[7][IBMSVC Remote Message Reconcile]", 1));
    expectProtocolMetadataGone(batch[0]);

    ASSERT_EQ(helper.executeOnRemotePX("proxy-b", REMOTE_OP_MAP, "{\"isSCSI\": true }", response), 0u);
    EXPECT_EQ(seen[91], std::optional<std::string>("{\"isSCSI\": true }"));
    EXPECT_TRUE(batch[0].hasLine("Setting MetaData - Type[91] MetaData Request[{\"isSCSI\": true }]", 1));
    expectProtocolMetadataGone(batch[0]);

    // A request the host's slot cannot hold is not sent at all.
    seen.clear();
    batch[0].setMetaDataLimit(16);
    EXPECT_EQ(helper.executeOnRemotePX("proxy-b", REMOTE_OP_MAP, std::string(17, 'x'), response), 1u);
    EXPECT_TRUE(seen.empty()) << "the proxy ran";
    EXPECT_TRUE(batch[0].hasLine("The request of [17] bytes could not be set as metadata type [91]", 2));
    expectProtocolMetadataGone(batch[0]);
}

TEST_F(RemoteFrame, ProxySideDispatch) {
    RemoteMessageTable table{{REMOTE_OP_MAP, [] { return std::make_unique<FakeMapMessage>(0); }},
                             {REMOTE_OP_UNMAP, [] { return std::make_unique<FakeMapMessage>(2); }}};
    TestOSUtil host("proxy-b");
    RecordBatch batch(host, 1);
    auto& first = batch[0];
    auto dispatch = [&] {
        return IBMSVCEngineRemoteHelper(batch.records(), batch.count(), batch.os(), table).performRequestedOperation();
    };

    EXPECT_EQ(dispatch(), 1u);
    EXPECT_TRUE(first.hasLine("Failed to get Remote Request Message Id", 2));
    first.setMeta(61, "5x");
    EXPECT_EQ(dispatch(), 1u);
    EXPECT_EQ(first.countLines("Failed to get Remote Request Message Id"), 2u);

    for (const char* unknown : {"0", "9", "65535"}) {
        first.setMeta(61, unknown);
        first.setMeta(60, "0");
        EXPECT_EQ(dispatch(), 1u);
        EXPECT_TRUE(first.hasLine(std::string("Unknown Remote PX Msg-Id [") + unknown + "]", 2));
        EXPECT_FALSE(first.meta(60)) << "a refused message leaves no return code";
    }
    first.setMeta(61, "3");  // a known number without a handler yet
    EXPECT_EQ(dispatch(), 1u);
    EXPECT_TRUE(first.hasLine("Unknown Remote PX Msg-Id [3]", 2));

    first.setMeta(61, "5");
    EXPECT_EQ(dispatch(), 1u);
    EXPECT_TRUE(first.hasLine("Failed to get the request metadata of type [91]", 2));
    first.setMeta(91, "bad");
    EXPECT_EQ(dispatch(), 1u);
    EXPECT_TRUE(first.hasLine("Failed to parse the request [bad]", 2));
    EXPECT_FALSE(first.meta(60));

    first.setMeta(91, "good");
    EXPECT_EQ(dispatch(), 0u);
    EXPECT_TRUE(first.hasLine("Remote PX Msg-Id [5][IBMSVC Remote Message Map]", 1));
    EXPECT_TRUE(first.hasLine("Remote PX Msg-Id [5][IBMSVC Remote Message Map] completed with status [0]", 1));
    EXPECT_EQ(first.meta(60).value_or(""), "0");
    EXPECT_EQ(first.meta(91).value_or(""), "resp");

    first.setMeta(61, "6");
    EXPECT_EQ(dispatch(), 2u);
    EXPECT_TRUE(first.hasLine("completed with status [2]", 2));
    EXPECT_EQ(first.meta(60).value_or(""), "2");

    first.setFailMetaDataWrites(true);
    EXPECT_EQ(dispatch(), 2u);
    EXPECT_TRUE(first.hasLine("Error setting Metadata SM_MDT_REMOTE_EXEC_MSG containing return code.", 2));
}

TEST_F(RemoteFrame, UnknownMessagesAreRefused) {
    proxy.setEngine(zqso_execSnapEngineOp);
    RecordBatch batch(caller, 2);
    IBMSVCEngineRemoteHelper helper(batch.records(), batch.count(), batch.os());
    const std::vector<int> refused{0, 9, 10, 65535};
    for (int id : refused) {
        std::string response;
        EXPECT_EQ(helper.executeOnRemotePX("proxy-b", id, id % 2 ? "{}" : "", response), 1u);
        EXPECT_TRUE(batch[0].hasLine("Unknown Remote PX Msg-Id [" + std::to_string(id) + "]", 2));
        expectProtocolMetadataGone(batch[0]);
    }
    EXPECT_EQ(batch[0].countLines("Failed to get the metadata SM_MDT_REMOTE_EXEC_MSG containing return code"),
              refused.size());

    // Prepare with an empty device list is refused; delete of records without a copy runs.
    std::string response;
    EXPECT_EQ(helper.executeOnRemotePX("proxy-b", REMOTE_OP_PREPARE, "{\"prepareDevices\": []}", response), 1u);
    EXPECT_TRUE(batch[0].hasLine("Failed to parse the request [", 2));
    EXPECT_EQ(helper.executeOnRemotePX("proxy-b", REMOTE_OP_DELETE, "", response), 0u);
    EXPECT_EQ(batch[1].status(), ZQSO::SNAP_STATUS_DELETED);
    expectProtocolMetadataGone(batch[0]);
    EXPECT_EQ(zqso_execSnapEngineOp(batch.records(), 0, batch.os()), 1);
    EXPECT_EQ(zqso_execSnapEngineOp(nullptr, 2, batch.os()), 1);
}

TEST_F(RemoteFrame, ABatchOfFiftyTravelsToTheProxyAndBack) {
    class StatusEverywhere : public RemoteMessageHandler {
    public:
        bool needsRequest() const override { return false; }
        bool decodeRequest(const std::string&, ZQSO::SnapInfo**, int16_t) override { return true; }
        unsigned run(ZQSO::SnapInfo** records, int16_t count, ZQSO::ZQOSUtil* os, std::string&) override {
            for (int i = 0; i < count; ++i) {
                std::string path;
                records[i]->sourceDevicePath(path);
                int port = 0;
                records[i]->getConfigInt("SMCONFIG_NAME_SMIS_SERVER_PORT", &port);
                records[i]->logFormatted(1, "deleteSnaps", "deleted %s on %s port %d", path.c_str(),
                                         static_cast<TestOSUtil*>(os)->hostName().c_str(), port);
                records[i]->setStatus(i % 2 ? ZQSO::SNAP_STATUS_DELETED : ZQSO::SNAP_STATUS_DELETE_FAILED);
                if (i % 2 == 0) records[i]->setError(650004, "deletion refused");
                records[i]->setMetaData(ZQSO::SM_MDT_UNIQUE_ID, nullptr);
            }
            return 2;
        }
    };
    RemoteMessageTable table{{REMOTE_OP_DELETE, [] { return std::make_unique<StatusEverywhere>(); }}};
    proxy.setEngine([&](ZQSO::SnapInfo** records, int16_t count, ZQSO::ZQOSUtil* os) {
        return int(IBMSVCEngineRemoteHelper(records, count, os, table).performRequestedOperation());
    });

    RecordBatch batch(caller, 50);
    for (size_t i = 0; i < batch.size(); ++i) {
        batch[i].setSourceDevicePath("/dev/sd" + std::to_string(i));
        batch[i].setConfig("SMCONFIG_NAME_SMIS_SERVER_PORT", int(5000 + i));
        batch[i].setMeta(ZQSO::SM_MDT_UNIQUE_ID, "uid" + std::to_string(i));
    }
    batch[0].setConfig(kProxyKey, std::string("proxy-b"));
    EngineRemoteHelper helper(batch.records(), batch.count(), batch.os());
    std::string response;
    unsigned result = runBatchFrame("zqso_deleteSnaps", helper, &batch[0], REMOTE_OP_DELETE, "", response,
                                    [] { return 9u; });
    // A partial result is no return code of the frame: the call fails, and
    // the records carried back tell which devices were done.
    EXPECT_EQ(result, 1u);
    for (size_t i = 0; i < batch.size(); ++i) {
        EXPECT_EQ(batch[i].status(), i % 2 ? ZQSO::SNAP_STATUS_DELETED : ZQSO::SNAP_STATUS_DELETE_FAILED) << i;
        EXPECT_EQ(batch[i].errorCode(), i % 2 ? 0u : 650004u) << i;
        EXPECT_TRUE(batch[i].hasLine("deleted /dev/sd" + std::to_string(i) + " on proxy-b port " +
                                     std::to_string(5000 + i)))
            << i;
        EXPECT_FALSE(batch[i].meta(ZQSO::SM_MDT_UNIQUE_ID)) << i;
    }
    expectProtocolMetadataGone(batch[0]);
}
