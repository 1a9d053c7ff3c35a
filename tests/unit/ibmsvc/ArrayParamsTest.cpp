// Array parameters from the host's array information, and the prepare
// request (message 1) written on the calling host and read on the proxy.
#include <gtest/gtest.h>

#include "ArrayParams.h"
#include "EngineEnvironment.h"
#include "IBMSVCRemoteMessages.h"
#include "TestOSUtil.h"
#include "TestSnapInfo.h"

using namespace ZQSOIBMSVCAPI;
using zqtest::TestOSUtil;

namespace {

const char* kArray = "0000020060C14A2C";

class ArrayParamsTest : public ::testing::Test {
protected:
    void SetUp() override { host.addArray(kArray, "IBM FlashSystem", TestOSUtil::infoText(kArray, "svc1", "admin", "s3cret", 20)); }
    // Endpoint as "scheme:port", or "failed".
    std::string endpoint(zqtest::TestSnapInfo& r, const std::string& arrayId = kArray) {
        IBMSVCSnapshot snap;
        if (!initArrayParams(snap, &r, arrayId, true)) return "failed";
        const ZqCimom& cimom = snap.m_Conn.GetCimom();
        EXPECT_EQ(snap.m_SystemName, arrayId);
        EXPECT_EQ(cimom.GetNameSpace(), "root/ibm");
        return std::string(cimom.GetUseSSL() ? "https:" : "http:") + cimom.GetPort();
    }
    zqtest::EngineEnvironment env;
    TestOSUtil host;
    zqtest::TestSnapInfo record{&host};
};

}  // namespace

TEST_F(ArrayParamsTest, PortAndSchemeFromRecordAndPlatform) {
    EXPECT_EQ(endpoint(record), "https:5989");
    env.config().set("HostModule", "IBMSVC_SMIS_USE_HTTPS", "0");
    EXPECT_EQ(endpoint(record), "http:5988");
    env.config().set("HostModule", "IBMSVC_SMIS_USE_HTTPS", "1");
    env.config().set("HostModule", "IBMSVC_SMIS_PORT", "6000");
    EXPECT_EQ(endpoint(record), "https:6000");
    // The platform value wins over the record's.
    record.setConfig("SMCONFIG_NAME_SMIS_SERVER_PORT", 7000);
    EXPECT_EQ(endpoint(record), "https:6000");
    EXPECT_TRUE(record.hasLine(" Array Config [SMCONFIG_NAME_SMIS_SERVER_PORT:7000]", 1));
    EXPECT_FALSE(record.hasLine("s3cret")) << "no password in any line";
    EXPECT_EQ(record.errorCode(), 0u);
}

TEST_F(ArrayParamsTest, BadPortsMissingCredentialsAndUnknownArraysFail) {
    for (const char* port : {"-1", "65536"}) {
        zqtest::TestSnapInfo r{&host};
        env.config().set("HostModule", "IBMSVC_SMIS_PORT", port);
        EXPECT_EQ(endpoint(r), "failed");
        EXPECT_EQ(r.errorCode(), 62005u);
        EXPECT_EQ(r.errorMessage(), "Failed to get array info");
    }
    env.config().set("HostModule", "IBMSVC_SMIS_PORT", "0");

    zqtest::TestSnapInfo empty{&host};
    EXPECT_EQ(endpoint(empty, ""), "failed");
    EXPECT_EQ(empty.errorCode(), 62005u);
    EXPECT_EQ(endpoint(record, "0000FFFFFFFFFFFF"), "failed");
    EXPECT_TRUE(record.hasLine(" Unable to set the login credentials for SMIS provider", 2));

    host.addArray("0000AAAAAAAAAAAA", "IBM FlashSystem", "{arrayId:0000AAAAAAAAAAAA,hostName:svc2,hostUserName:admin}");
    zqtest::TestSnapInfo noPassword{&host};
    EXPECT_EQ(endpoint(noPassword, "0000AAAAAAAAAAAA"), "failed");
    EXPECT_EQ(noPassword.errorCode(), 62005u);
}

TEST_F(ArrayParamsTest, TextFormAndDomainUsers) {
    IBMSVCSnapshot snap;
    ASSERT_EQ(initArrayParams(&record, snap, "{arrayId:0000BBBBBBBBBBBB,hostName:svc3,hostUserName:corp\\\\ops,"
                                             "hostPassword:pw}"),
              1);
    EXPECT_EQ(snap.m_SystemName, "0000BBBBBBBBBBBB");
    EXPECT_EQ(snap.m_Conn.GetCimom().GetUserName(), "corp\\ops");  // one of the two backslashes goes
    EXPECT_EQ(snap.m_Conn.GetCimom().GetAddress(), "svc3");
    EXPECT_EQ(initArrayParams(&record, snap, "{hostName:svc3,hostUserName:ops,hostPassword:p}"), 0);
}

TEST(PrepareRequest, RoundTripAndRefusals) {
    std::vector<LocalDataPrepare> devices(2);
    devices[0] = {false, "IBM", "2145", "6005076810C14A2CC000000000000100", "0000020060C14A2C"};
    devices[1] = {true, "IBM", "2145", "6005076810C14A2CC000000000000101", "0000020060C14A2C"};
    std::string request;
    ASSERT_TRUE(fillRequestPrepare(devices, request));
    // Keys in byte order.
    EXPECT_LT(request.find("\"arrayName\""), request.find("\"productId\""));
    EXPECT_LT(request.find("\"skipPhyicalQuery\""), request.find("\"uuidLun\""));
    std::vector<LocalDataPrepare> read;
    ASSERT_TRUE(getRequestPrepare(request, read));
    ASSERT_EQ(read.size(), 2u);
    EXPECT_EQ(read[1].uuidLun, devices[1].uuidLun);
    EXPECT_TRUE(read[1].skipPhyicalQuery);
    EXPECT_FALSE(read[0].skipPhyicalQuery);
    EXPECT_EQ(read[0].arrayName, "0000020060C14A2C");

    EXPECT_FALSE(getRequestPrepare("{\"prepareDevices\": []}", read));
    EXPECT_FALSE(getRequestPrepare("{\"prepareDevices\": [{}, 3]}", read));
    EXPECT_FALSE(getRequestPrepare("not json", read));
    ASSERT_TRUE(getRequestPrepare("{\"prepareDevices\": [{\"uuidLun\": 7, \"vendorId\": \"IBM\"}]}", read));
    EXPECT_EQ(read[0].uuidLun, "");
    EXPECT_EQ(read[0].vendorId, "IBM");
}
