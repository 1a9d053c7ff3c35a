// The parts of the connection, the lookups and the job watcher that need no
// provider: endpoint defaults, results of methods, text lists, built paths,
// and the behaviour without a client.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>

#include "ScopedHostSettings.h"
#include "TestSnapInfo.h"
#include "ZqCimConnection.h"
#include "ZqCimUtil.h"
#include "ZqClock.h"
#include "ZqSmisJob.h"

using namespace Pegasus;
using zqtest::ScopedHostSettings;
using zqtest::TestSnapInfo;

namespace {

const char* kVolume =
    "root/ibm:IBMTSSVC_StorageVolume.CreationClassName=\"IBMTSSVC_StorageVolume\",DeviceID=\"12\","
    "SystemCreationClassName=\"IBMTSSVC_IOGroup\",SystemName=\"0000020060C14E9C:0\"";
const char* kTarget =
    "root/ibm:IBMTSSVC_StorageVolume.CreationClassName=\"IBMTSSVC_StorageVolume\",DeviceID=\"13\","
    "SystemCreationClassName=\"IBMTSSVC_IOGroup\",SystemName=\"0000020060C14E9C:0\"";

ZqCimomParams Params() {
    ZqCimomParams p;
    p.Address = "127.0.0.1";
    p.NameSpace = "root/ibm";
    p.UserName = "admin";
    p.Password = "pw-never-logged";
    return p;
}

class Job : public ZqSmisJob {};

TEST(CimEndpoint, DefaultsAndSettings) {
    ScopedHostSettings settings;
    ZqCimom fresh;
    EXPECT_EQ(fresh.GetPort(), "5988");
    EXPECT_EQ(fresh.GetTimeoutSecs(), 300);
    EXPECT_EQ(fresh.GetMaxRetries(), 5);

    settings.set("ZQ_SMIS_CLIENT_TIMEOUT_IN_SEC", 120);
    EXPECT_EQ(ZqCimom().GetTimeoutSecs(), 300);
    EXPECT_EQ(ZqCimomParams().TimeoutSecs, 300);
    settings.set("ZQ_SMIS_CLIENT_TIMEOUT_IN_SEC", 600);
    EXPECT_EQ(ZqCimom().GetTimeoutSecs(), 600);
    EXPECT_EQ(ZqCimomParams().TimeoutSecs, 600);
    settings.set("ZQ_SMIS_CLIENT_TIMEOUT_IN_SEC", 100000);
    EXPECT_EQ(ZqCimom().GetTimeoutSecs(), 65535);
    settings.set("ZQ_PEGASUS_FAULT_RETRY", 1);
    EXPECT_EQ(ZqCimom().GetMaxRetries(), 15);
}

TEST(CimEndpoint, SetCimomKeepsThePortTextUnlessAPortIsGiven) {
    ZqCimom cimom;
    ZqCimomParams p = Params();
    p.Port = 0;
    cimom.SetCimom(p);
    EXPECT_EQ(cimom.GetPort(), "5988");
    p.Port = 40000;
    cimom.SetCimom(p);
    EXPECT_EQ(cimom.GetPort(), "40000");
}

TEST(CimConnection, MissingCredentialsGiveNoClient) {
    TestSnapInfo record;
    ZqCimConnection conn;
    conn.SetLogger(&record);
    ZqCimomParams p = Params();
    p.Password.clear();
    conn.SetCimom(p);
    EXPECT_EQ(conn.ConnectCimom(), 1);
    EXPECT_FALSE(conn.HasClient());
    EXPECT_TRUE(record.hasLine("Insufficient parameters for CIMOM connection")) << record.dump();
    p = Params();
    p.NameSpace.clear();
    conn.SetCimom(p);
    EXPECT_EQ(conn.ConnectCimom(), 1);
    EXPECT_EQ(conn.DisconnectCimom(), 0);
}

TEST(CimConnection, WithoutClientEveryUseFailsAsConnectionFailed) {
    TestSnapInfo record;
    ZqCimConnection conn;
    conn.SetLogger(&record);
    conn.SetCimom(Params());
    try {
        conn.GetInstance(CIMObjectPath(kVolume));
        ADD_FAILURE() << "no exception";
    } catch (const CIMException& e) {
        EXPECT_NE(e.getMessage().find("Connection failed"), PEG_NOT_FOUND) << e.getMessage();
    }
    EXPECT_THROW(conn.GetInstanceNames("CIM_StorageVolume"), CIMException);
    EXPECT_EQ(conn.DeleteInstance("root/ibm", CIMObjectPath(kVolume)), 1);
    EXPECT_FALSE(record.dump().empty());
    EXPECT_EQ(record.dump().find("pw-never-logged"), std::string::npos);

    ZqCimUtil util;
    util.SetLogger(&record);
    std::string sync, source, id = "unchanged";
    EXPECT_EQ(util.GetSyncPathFromTarget(conn, kTarget, sync, source, id), -1);
    EXPECT_EQ(id, "unchanged");
    EXPECT_EQ(util.CheckInstanceExistence(conn, "0000020060C14E9C", kVolume, ""), -1);
    EXPECT_EQ(util.GetCIMProp(conn, std::string(kVolume), "Name"), "");
    EXPECT_FALSE(util.UpdateInstanceProp(conn, kVolume, "ElementName", "x"));
    Array<CIMObjectPath> controllers;
    controllers.append(CIMObjectPath(kVolume));
    EXPECT_FALSE(util.GetVolCtlrPaths(conn, CIMObjectPath(kVolume), controllers));
    EXPECT_EQ(controllers.size(), 0u);
    std::map<std::string, std::string> props{{"Name", "kept"}};
    EXPECT_FALSE(util.GetCIMPropList(conn, std::string(kVolume), props));
    EXPECT_EQ(props["Name"], "kept");
}

TEST(CimConnection, CopyStartsDisconnectedWithTheEndpoint) {
    ZqCimConnection conn;
    ZqCimomParams p = Params();
    p.Port = 6000;
    conn.SetCimom(p);
    conn.GetCimom().SetConnState(ZQ_CIM_CONNECTED);
    ZqCimConnection copy(conn);
    EXPECT_FALSE(copy.HasClient());
    EXPECT_EQ(copy.GetCimom().GetConnState(), ZQ_CIM_DISCONNECTED);
    EXPECT_EQ(copy.GetCimom().GetPort(), "6000");
    ZqCimConnection assigned;
    assigned = conn;
    EXPECT_EQ(assigned.GetCimom().GetAddress(), "127.0.0.1");
    EXPECT_EQ(assigned.GetCimom().GetConnState(), ZQ_CIM_DISCONNECTED);
}

TEST(CimConnection, KnownPathsPassOnlyBetweenConnectionsOfOneEndpoint) {
    ZqCimConnection found;
    found.SetCimom(Params());
    found.RememberPath("CIM_ComputerSystem|0000020060C14E9C", CIMObjectPath(kVolume));
    CIMObjectPath path;

    ZqCimConnection same;
    same.SetCimom(Params());
    same.TakeKnownPaths(found);
    EXPECT_TRUE(same.KnownPath("CIM_ComputerSystem|0000020060C14E9C", path));
    EXPECT_EQ(path.toString(), CIMObjectPath(kVolume).toString());

    // Another provider, port or user may show other objects under the same names.
    for (int change = 0; change < 3; ++change) {
        ZqCimomParams p = Params();
        if (change == 0) p.Address = "127.0.0.2";
        if (change == 1) p.Port = 6000;
        if (change == 2) p.UserName = "other";
        ZqCimConnection other;
        other.SetCimom(p);
        other.TakeKnownPaths(found);
        EXPECT_FALSE(other.KnownPath("CIM_ComputerSystem|0000020060C14E9C", path)) << change;
    }
}

TEST(CimUtilResults, GetRetValReadsOnlyNumbers) {
    TestSnapInfo record;
    ZqCimUtil util;
    util.SetLogger(&record);
    EXPECT_EQ(util.GetRetVal(CIMValue(Uint32(4096))), 4096);
    EXPECT_EQ(util.GetRetVal(CIMValue(Sint32(-3))), -3);
    EXPECT_EQ(util.GetRetVal(CIMValue(String("32775"))), 32775);
    EXPECT_EQ(util.GetRetVal(CIMValue(String("-2"))), -2);
    EXPECT_EQ(util.GetRetVal(CIMValue(String("0"))), 0);
    for (const char* text : {"", "12abc", " 5", "x", "99999999999", "-"})
        EXPECT_EQ(util.GetRetVal(CIMValue(String(text))), 99999) << text;
    EXPECT_EQ(util.GetRetVal(CIMValue(Uint16(0))), 99999);
    EXPECT_EQ(util.GetRetVal(CIMValue(Uint64(0))), 99999);
    EXPECT_EQ(util.GetRetVal(CIMValue(CIMTYPE_UINT32, false)), 99999);
    Array<Uint32> numbers;
    numbers.append(0);
    EXPECT_EQ(util.GetRetVal(CIMValue(numbers)), 99999);
    EXPECT_TRUE(record.hasLine("RetCimVal type = uint16", 0)) << record.dump();
}

TEST(CimUtilResults, ReferenceParametersAreFoundByExactName) {
    Job job;
    Array<CIMParamValue> out;
    out.append(CIMParamValue("TargetElement", CIMValue(String("not a reference"))));
    out.append(CIMParamValue("job", CIMValue(CIMObjectPath(kVolume))));
    out.append(CIMParamValue("TheElement", CIMValue(CIMObjectPath(kTarget))));
    out.append(CIMParamValue("Job", CIMValue(CIMObjectPath("root/ibm:IBMTSSVC_ConcreteJob.InstanceID=\"J1\""))));
    EXPECT_EQ(job.GetTargetElementHandle(out).toString(), CIMObjectPath(kTarget).toString());
    EXPECT_EQ(job.GetJobHandle(out).toString(), "root/ibm:IBMTSSVC_ConcreteJob.InstanceID=\"J1\"");
    out.remove(3);
    EXPECT_TRUE(job.GetJobHandle(out).getClassName().isNull());
    out.remove(2);
    EXPECT_TRUE(job.GetTargetElementHandle(out).getClassName().isNull());

    Array<CIMParamValue> printed;
    printed.append(CIMParamValue("Size", CIMValue(Uint64(1024))));
    TestSnapInfo record;
    job.SetLogger(&record);
    job.PrintParamSet(printed, true);
    EXPECT_TRUE(record.hasLine("Returned params[0] <Size> <uint64> = 1024", 2)) << record.dump();
}

TEST(CimUtilResults, NullValuesAndKeys) {
    ZqCimUtil util;
    CIMValue v = util.MakeCimNullVal(CIMTYPE_REFERENCE, true);
    EXPECT_TRUE(v.isNull());
    EXPECT_TRUE(v.isArray());
    EXPECT_EQ(v.getType(), CIMTYPE_REFERENCE);
    CIMObjectPath path(kVolume);
    EXPECT_EQ(util.GetPropByObjPath(path, "systemname"), "0000020060C14E9C:0");
    EXPECT_EQ(util.GetPropByObjPath(path, "Name"), "");
    EXPECT_EQ(util.GetObjectPathString(path), path.toString().toStdString());
}

TEST(CimUtilText, ListsDropEmptyPiecesAndBadNumbers) {
    using V = std::vector<std::string>;
    EXPECT_EQ(ZqCimUtil::Tokenize("a,,bb,ccc,", ','), (V{"a", "bb", "ccc"}));
    EXPECT_EQ(ZqCimUtil::Tokenize(",,,", ','), V{});
    EXPECT_EQ(ZqCimUtil::Tokenize("", ','), V{});
    EXPECT_EQ(ZqCimUtil::StringToVector(std::string(3000, 'x') + ";y", ';'), (V{std::string(3000, 'x'), "y"}));
    Array<String> names = ZqCimUtil::InputToStringArray("10000000C9A1B2C3,,10000000C9A1B2C4", ',');
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(names[1], "10000000C9A1B2C4");
    Array<Uint16> numbers = ZqCimUtil::InputToIntArray("2,3,x,70000,-1,4", ',');
    ASSERT_EQ(numbers.size(), 3u);
    EXPECT_EQ(numbers[0], 2);
    EXPECT_EQ(numbers[2], 4);
    EXPECT_EQ(ZqCimUtil::StrListToStrArray({"a", "b"}).size(), 2u);
}

TEST(CimUtilSync, IbmSvcPairPathIsBuiltWithoutProvider) {
    TestSnapInfo record;
    ZqCimConnection conn;  // no client: a provider call would fail
    ZqCimUtil util;
    util.SetLogger(&record);
    CIMObjectPath sync = util.GetSyncPath(conn, "root/ibm", "0000020060C14E9C", CIMObjectPath(kVolume),
                                          CIMObjectPath(kTarget));
    EXPECT_EQ(sync.getClassName().getString(), "IBMTSSVC_LocalStorageSynchronized");
    EXPECT_EQ(sync.getNameSpace().getString(), "root/ibm");
    CIMObjectPath reparsed(sync.toString());
    EXPECT_TRUE(reparsed.identical(sync));
    EXPECT_TRUE(CIMObjectPath(String(util.GetPropByObjPath(sync, "SystemElement"))).identical(CIMObjectPath(kVolume)));
    EXPECT_TRUE(CIMObjectPath(String(util.GetPropByObjPath(sync, "SyncedElement"))).identical(CIMObjectPath(kTarget)));
    EXPECT_TRUE(record.lines().empty()) << record.dump();

    CIMObjectPath generic("root/x:CIM_StorageVolume.DeviceID=\"1\"");
    EXPECT_TRUE(util.GetSyncPath(conn, "root/x", "", generic, generic).getClassName().isNull());
    EXPECT_TRUE(record.hasLine("Connection failed")) << record.dump();
}

TEST(SmisJobStates, TextsAndFinalStates) {
    Job job;
    EXPECT_EQ(job.GetjobStateString(12), "12: Unknown state");
    for (int s = 0; s <= 12; ++s) EXPECT_EQ(job.IsJobDone(s), s >= 7 && s <= 10) << s;
}

TEST(SmisJobSleep, WholeSecondsRoundedUpOnThePlatformClock) {
    auto clock = std::make_shared<zq::platform::VirtualClock>(0);
    auto previous = zq::platform::setClock(clock);
    Job job;
    job.GotoSleep(0);
    EXPECT_EQ(clock->nowMs(), 0);
    job.GotoSleep(1000);
    EXPECT_EQ(clock->nowMs(), 1000);
    job.GotoSleep(1001);
    EXPECT_EQ(clock->nowMs(), 3000);
    job.GotoSleep(1500);
    EXPECT_EQ(clock->nowMs(), 5000);
    job.GotoSleep(-5);
    EXPECT_EQ(clock->nowMs(), 5000);
    zq::platform::setClock(previous);
}

TEST(SmisJobWatch, AnEmptyJobPathIsNoSuccess) {
    TestSnapInfo record;
    ZqCimConnection conn;
    Job job;
    job.SetLogger(&record);
    EXPECT_EQ(job.WatchJob(CIMObjectPath(), conn, 60, 10), 10);
    EXPECT_TRUE(record.hasLine("No job reference")) << record.dump();
}

}  // namespace

namespace {

// A loopback port with nothing listening on it.
int ClosedPort() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(addr);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        ::close(fd);
        return 1;
    }
    ::close(fd);
    return ntohs(addr.sin_port);
}

TEST(CimConnection, ClosedPortIsTriedOncePlusTheMaximumRetries) {
    ScopedHostSettings settings;
    TestSnapInfo record;
    ZqCimConnection conn;
    conn.SetLogger(&record);
    ZqCimomParams p = Params();
    p.Port = uint16_t(ClosedPort());
    p.MaxRetries = 2;
    conn.SetCimom(p);
    EXPECT_EQ(conn.ConnectCimom(), 1);
    EXPECT_FALSE(conn.HasClient());
    EXPECT_EQ(record.countLines("Caught CIMClientConnectionException"), 3u) << record.dump();
    EXPECT_EQ(record.countLines("Cannot connect to CIMOM 127.0.0.1:" + std::to_string(p.Port)), 3u);
    EXPECT_EQ(record.countLines("Trying connection over http port"), 3u);
    EXPECT_EQ(record.dump().find("pw-never-logged"), std::string::npos);
}

}  // namespace
