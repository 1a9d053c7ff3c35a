// The provider connection against the simulator: HTTP and HTTPS with the
// connection lock, refused credentials, time-outs and HTTP faults with their
// retries, time-out growth and reconnects.
#include "SmisSimTest.h"
#include "ZqClock.h"

using namespace Pegasus;
using arraysim::Fault;
using smistest::kCluster;

namespace {

class SmisConnection : public smistest::SmisSimTest {
protected:
    ~SmisConnection() override {
        if (previousClock) zq::platform::setClock(previousClock);
    }
    // Engine time-outs last `scale` real seconds per second from here on, so
    // that a short one is still long enough for a loaded machine.
    void NetworkScale(double scale) {
        auto clock = std::make_shared<zq::platform::VirtualClock>(0, scale);
        auto before = zq::platform::setClock(clock);
        if (!previousClock) previousClock = before;
    }
    // Connects with this time-out, lasting `scale` real seconds per second.
    void ConnectTimed(uint16_t timeoutSecs, double scale, uint16_t maxRetries = 5) {
        ZqCimomParams p = Params();
        p.TimeoutSecs = timeoutSecs;
        p.MaxRetries = maxRetries;
        NetworkScale(scale);
        Connect(p);
    }
    std::shared_ptr<zq::platform::Clock> previousClock;

    CIMObjectPath Cluster() { return CIMObjectPath("root/ibm:IBMTSSVC_Cluster.CreationClassName=\"IBMTSSVC_Cluster\",Name=\"" + String(kCluster) + "\""); }
    size_t Logged(const std::string& operation) const { return fx.sim().requestLog().find(operation).size(); }
};

TEST_F(SmisConnection, HttpConnectsWithoutTheLockAndHttpsWithIt) {
    Connect();
    EXPECT_TRUE(record.hasLine("Connected 127.0.0.1:" + std::to_string(fx.httpPort()) + ", timeout = 20000"))
        << record.dump();
    EXPECT_FALSE(record.hasLine("connection lock"));
    EXPECT_GT(conn.GetInstanceNames("CIM_ComputerSystem").size(), 0u);
    EXPECT_EQ(conn.DisconnectCimom(), 0);
    EXPECT_EQ(conn.GetCimom().GetConnState(), ZQ_CIM_DISCONNECTED);
    EXPECT_TRUE(record.hasLine("Disconnected from 127.0.0.1:"));

    Connect(Params(true));
    EXPECT_EQ(conn.GetCimom().GetConnState(), ZQ_CIM_CONNECTED);
    EXPECT_TRUE(record.hasLine("Trying connection over https port"));
    EXPECT_EQ(record.countLines("Acquiring connection lock", 0), 1u);
    EXPECT_EQ(record.countLines("Connection lock acquired", 0), 1u);
    EXPECT_EQ(record.countLines("Connection lock released", 0), 1u);
    EXPECT_EQ(conn.GetInstance(Cluster()).getClassName().getString(), "IBMTSSVC_Cluster");
    // A second connect of a connected client carries on.
    EXPECT_EQ(conn.ConnectCimom(), 0);
    EXPECT_TRUE(record.hasLine("AlreadyConnectedException: Continuing"));

    conn.DisconnectCimom();
    const size_t locked = record.countLines("Acquiring connection lock");
    settings.set("ZQ_PEGASUS_DISABLE_CONNLOCK", 1);
    Connect(Params(true));
    EXPECT_EQ(record.countLines("Acquiring connection lock"), locked) << record.dump();
    EXPECT_GT(conn.GetInstanceNames("CIM_ComputerSystem").size(), 0u);
}

TEST_F(SmisConnection, RefusedCredentialsAreAnErrorNeverAnEmptyAnswer) {
    ZqCimomParams p = Params();
    p.Password = "wrong-password";
    Connect(p);
    const size_t before = Requests();
    try {
        conn.GetInstanceNames("CIM_StorageVolume");
        ADD_FAILURE() << "no exception";
    } catch (const CIMException& e) {
        EXPECT_EQ(e.getCode(), CIM_ERR_ACCESS_DENIED);
    }
    EXPECT_EQ(Requests() - before, 1u);
    EXPECT_EQ(record.errorCode(), 60555u);
    EXPECT_NE(record.errorMessage().find("CIMOM authentication failure, wrong credentials provided"), std::string::npos);
    EXPECT_TRUE(conn.IsErrorReported());
    EXPECT_EQ(record.dump().find("wrong-password"), std::string::npos);

    // Every lookup answers "error", not "absent".
    const std::string anyVolume =
        "root/ibm:IBMTSSVC_StorageVolume.CreationClassName=\"IBMTSSVC_StorageVolume\",DeviceID=\"7\","
        "SystemCreationClassName=\"IBMTSSVC_IOGroup\",SystemName=\"" + std::string(kCluster) + ":0\"";
    EXPECT_EQ(util.CheckInstanceExistence(conn, kCluster, anyVolume, ""), -1);
    EXPECT_EQ(util.GetVolObjPathByUUID(conn, "6005076801234567", kCluster), "");
}

TEST_F(SmisConnection, RefusedCredentialsWithFaultRetryAreRetriedThenReported) {
    settings.set("ZQ_PEGASUS_FAULT_RETRY", 1);
    ZqCimomParams p = Params();
    p.Password = "wrong-password";
    p.MaxRetries = 3;
    Connect(p);
    const size_t before = Requests();
    EXPECT_THROW(conn.GetInstanceNames("CIM_StorageVolume"), CIMException);
    EXPECT_EQ(Requests() - before, 3u);
    EXPECT_EQ(record.countLines("continue with retry  as PEGASUS retry regkey present"), 3u) << record.dump();
    EXPECT_TRUE(record.hasLine("Max Retries Exceeded"));
    EXPECT_EQ(record.errorCode(), 60555u);
    // The counting mode reconnects only at its limit of three faults.
    EXPECT_EQ(conn.GetHttpFaultCount(), 2u);
}

TEST_F(SmisConnection, OneRefusalWithFaultRetryIsRetriedToSuccess) {
    settings.set("ZQ_PEGASUS_FAULT_RETRY", 1);
    Connect();
    fx.sim().faults().add(Fault::http("EnumerateInstanceNames", 401, 1));
    EXPECT_GT(conn.GetInstanceNames("CIM_ComputerSystem").size(), 0u);
    EXPECT_EQ(record.errorCode(), 0u);
    EXPECT_FALSE(conn.IsErrorReported());
    EXPECT_EQ(conn.GetConnState(), ZQ_CIM_RETRYING);
}

TEST_F(SmisConnection, TimeOutDoublesAShortTimeoutAndReconnects) {
    ConnectTimed(170, 0.005);  // 0.85 s of real time
    fx.sim().faults().add(Fault::stall("GetInstance", 5000, 1));
    EXPECT_EQ(conn.GetInstance(Cluster()).getClassName().getString(), "IBMTSSVC_Cluster");
    EXPECT_TRUE(record.hasLine("Timeout Retry 1: timeout = 340")) << record.dump();
    EXPECT_TRUE(record.hasLine("Reconnected 127.0.0.1:"));
    EXPECT_EQ(conn.GetCimom().GetTimeoutSecs(), 340);
    EXPECT_EQ(conn.GetConnState(), ZQ_CIM_RETRYING);
}

TEST_F(SmisConnection, DefaultTimeoutStaysAndRetriesEndAtTheMaximum) {
    ConnectTimed(300, 0.003, 2);  // 0.9 s of real time
    fx.sim().faults().add(Fault::stall("GetInstance", 5000, -1));
    const size_t before = Logged("GetInstance");
    try {
        conn.GetInstance(Cluster());
        ADD_FAILURE() << "no exception";
    } catch (const CIMException& e) {
        EXPECT_NE(e.getMessage().find("timed out"), PEG_NOT_FOUND) << e.getMessage();
    }
    EXPECT_LE(Logged("GetInstance") - before, 2u);
    EXPECT_EQ(conn.GetCimom().GetTimeoutSecs(), 300);
    EXPECT_FALSE(record.hasLine("Timeout Retry"));
    EXPECT_TRUE(record.hasLine("Max Retries Exceeded (300 secs)")) << record.dump();
    EXPECT_TRUE(record.hasLine("Client Timed out Exception"));
}

TEST_F(SmisConnection, HttpFaultsGrowTheTimeoutByFiveSeconds) {
    ConnectTimed(100, 0.1);  // 10 s of real time
    fx.sim().faults().add(Fault::http("EnumerateInstanceNames", 500, 2));
    EXPECT_GT(conn.GetInstanceNames("CIM_ComputerSystem").size(), 0u);
    EXPECT_TRUE(record.hasLine("Http Retry 1: timeout = 105")) << record.dump();
    EXPECT_TRUE(record.hasLine("Http Retry 2: timeout = 110"));
    EXPECT_EQ(Logged("EnumerateInstanceNames"), 3u);

    // At 180 seconds and above an HTTP fault counts as a time-out.
    conn.GetCimom().SetTimeoutSecs(180);
    fx.sim().faults().add(Fault::drop("EnumerateInstanceNames", 2));
    EXPECT_GT(conn.GetInstanceNames("CIM_ComputerSystem").size(), 0u);
    EXPECT_TRUE(record.hasLine("Http Retry, timeout = 180: treat as timeout"));
}

TEST_F(SmisConnection, NoRetriesStillSendOneRequest) {
    ZqCimomParams p = Params();
    p.MaxRetries = 0;
    Connect(p);
    const size_t before = Requests();
    EXPECT_GT(conn.GetInstanceNames("CIM_ComputerSystem").size(), 0u);
    EXPECT_EQ(Requests() - before, 1u);
}

TEST_F(SmisConnection, MissingObjectsAndDeletes) {
    Connect();
    ASSERT_TRUE(fx.sim().addVolume("v1", "Pool0", smistest::GiB).ok());
    CIMObjectPath volume = fx.volumePath("v1");
    // Not found raises from GetInstance, and answers empty from AssociatorNames.
    CIMObjectPath gone = volume;
    ASSERT_TRUE(fx.sim().vanish("volume", "v1"));
    try {
        conn.GetInstance(gone);
        ADD_FAILURE() << "no exception";
    } catch (const CIMException& e) {
        EXPECT_EQ(e.getCode(), CIM_ERR_NOT_FOUND);
    }
    EXPECT_EQ(conn.GetAssociatorNames(gone, "CIM_ProtocolControllerForUnit", "CIM_SCSIProtocolController").size(), 0u);
    EXPECT_TRUE(record.hasLine("Objects or Assns do not exist: CIM_ProtocolControllerForUnit, CIM_SCSIProtocolController"))
        << record.dump();

    ASSERT_TRUE(fx.sim().addVolume("v2", "Pool0", smistest::GiB).ok());
    CIMObjectPath v2 = fx.volumePath("v2");
    EXPECT_EQ(conn.DeleteInstance("root/ibm", v2), 0);
    EXPECT_EQ(conn.DeleteInstance("root/ibm", v2), 1);
    EXPECT_TRUE(record.hasLine("Caught CIMException: CIM_ERR_NOT_FOUND"));
}

}  // namespace
