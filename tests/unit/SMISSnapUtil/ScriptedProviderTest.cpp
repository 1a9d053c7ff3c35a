// The lookups against a scripted provider: answers with missing keys and
// properties, unreadable or duplicate synchronizations and XML that does not
// parse give the failure value and its trace, never an exception; and a
// "Secret" property is changed without its value reaching any log.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ScopedHostSettings.h"
#include "TestCimServer.h"
#include "TestSnapInfo.h"
#include "ZqCimConnection.h"
#include "ZqCimUtil.h"
#include "ZqDebugLogSink.h"
#include "ZqPlatformRegistry.h"

using namespace Pegasus;
using zqtest::TestSnapInfo;

namespace {

const std::string kCluster = "0000020060C14A2C";

std::string Key(const std::string& name, const std::string& value) {
    return "<KEYBINDING NAME=\"" + name + "\"><KEYVALUE VALUETYPE=\"string\">" + value + "</KEYVALUE></KEYBINDING>";
}
std::string RefKey(const std::string& name, const std::string& instanceName) {
    return "<KEYBINDING NAME=\"" + name + "\"><VALUE.REFERENCE>" + instanceName + "</VALUE.REFERENCE></KEYBINDING>";
}
std::string Name(const std::string& className, const std::string& keys) {
    return "<INSTANCENAME CLASSNAME=\"" + className + "\">" + keys + "</INSTANCENAME>";
}
std::string Prop(const std::string& name, const std::string& value, const std::string& type = "string") {
    return "<PROPERTY NAME=\"" + name + "\" TYPE=\"" + type + "\"><VALUE>" + value + "</VALUE></PROPERTY>";
}
std::string Instance(const std::string& props) {
    return "<INSTANCE CLASSNAME=\"IBMTSSVC_StorageVolume\">" + props + "</INSTANCE>";
}
std::string Hosted(const std::string& instanceName) {
    return "<OBJECTPATH><INSTANCEPATH><NAMESPACEPATH><HOST>svc</HOST><LOCALNAMESPACEPATH><NAMESPACE NAME=\"root\"/>"
           "<NAMESPACE NAME=\"ibm\"/></LOCALNAMESPACEPATH></NAMESPACEPATH>" +
           instanceName + "</INSTANCEPATH></OBJECTPATH>";
}
std::string Volume(const std::string& deviceId) {
    return Name("IBMTSSVC_StorageVolume", Key("CreationClassName", "IBMTSSVC_StorageVolume") +
                                              Key("DeviceID", deviceId) +
                                              Key("SystemCreationClassName", "IBMTSSVC_IOGroup") +
                                              Key("SystemName", kCluster + ":0"));
}
std::string VolumeText(const std::string& deviceId) {
    return "root/ibm:IBMTSSVC_StorageVolume.CreationClassName=\"IBMTSSVC_StorageVolume\",DeviceID=\"" + deviceId +
           "\",SystemCreationClassName=\"IBMTSSVC_IOGroup\",SystemName=\"" + kCluster + ":0\"";
}
std::string Sync(const std::string& systemElementKey) {
    return Hosted(Name("IBMTSSVC_LocalStorageSynchronized", systemElementKey + RefKey("SyncedElement", Volume("D13"))));
}

// Answers the first rule whose operation matches and whose text is in the
// request body; `value` goes into IRETURNVALUE unless it is empty or an
// ERROR. No rule: not found.
struct Rule {
    std::string op;
    std::string bodyHas;
    std::string value;
};

void Serve(cimtest::TestCimServer& server, std::vector<Rule> rules) {
    server.onRequest([rules](const httplib::Request& req, httplib::Response& res) {
        const std::string op = req.get_header_value("CIMMethod");
        std::string inner = "<ERROR CODE=\"6\" DESCRIPTION=\"no such object\"/>";
        for (const Rule& r : rules) {
            if (r.op != op || req.body.find(r.bodyHas) == std::string::npos) continue;
            const bool bare = r.value.empty() || r.value.rfind("<ERROR", 0) == 0;
            inner = bare ? r.value : "<IRETURNVALUE>" + r.value + "</IRETURNVALUE>";
            break;
        }
        cimtest::reply(res, cimtest::answerTo(req, "<IMETHODRESPONSE NAME=\"" + op + "\">" + inner + "</IMETHODRESPONSE>"));
    });
}

class ScriptedProvider : public ::testing::Test {
protected:
    void SetUp() override {
        ZqCimUtil::ClearSharedCaches();
        ZqCimomParams p;
        p.Address = "127.0.0.1";
        p.Port = uint16_t(server.port());
        p.NameSpace = "root/ibm";
        p.UserName = "admin";
        p.Password = "pw-never-logged";
        p.MaxRetries = 1;
        conn.SetCimom(p);
        conn.SetLogger(&record);
        util.SetLogger(&record);
        ASSERT_EQ(conn.ConnectCimom(), 0) << record.dump();
    }
    void TearDown() override {
        conn.DisconnectCimom();
        ZqCimUtil::ClearSharedCaches();
    }
    static std::string OperationOf(const cimtest::SeenRequest& r) {
        auto at = r.headers.find("CIMMethod");
        return at == r.headers.end() ? std::string() : at->second;
    }
    // Requests of operation `op` that named `className`.
    size_t RequestsFor(const std::string& op, const std::string& className) {
        size_t n = 0;
        for (const auto& r : server.seen())
            if (OperationOf(r) == op && r.body.find("\"" + className + "\"") != std::string::npos) ++n;
        return n;
    }

    zqtest::ScopedHostSettings settings;
    cimtest::TestCimServer server;
    TestSnapInfo record;
    ZqCimConnection conn;
    ZqCimUtil util;
};

TEST_F(ScriptedProvider, BadAnswersGiveTheFailureValueAndTheirTrace) {
    const Rule unrelatedVolumes{"EnumerateInstanceNames", "CIM_StorageVolume", Volume("D1") + Volume("D2")};
    auto concise = [](const std::string& keys) {
        return Rule{"EnumerateInstanceNames", "IBMTSSVC_ConciseVolume",
                    Name("IBMTSSVC_ConciseVolume", Key("UniqueID", "UID-1") + keys)};
    };
    auto byUniqueId = [](ZqCimUtil& u, ZqCimConnection& c) { return u.GetIBMSVCVolObjPathByUUID(c, "UID-1", kCluster); };
    auto ofTarget = [](ZqCimUtil& u, ZqCimConnection& c) {
        std::string sync = "kept", source = "kept", id = "kept";
        int rc = u.GetSyncPathFromTarget(c, VolumeText("D13"), sync, source, id);
        return std::to_string(rc) + (sync + source + id == "keptkeptkept" ? " kept" : " set");
    };
    const Rule target{"GetInstance", ">D13<", Instance(Prop("Name", "UID-T"))};
    const Rule source{"GetInstance", ">D12<", Instance(Prop("Name", "UID-S"))};
    const std::string goodSync = Sync(RefKey("SystemElement", Volume("D12")));
    const std::string brokenTarget = "More than one sync path reported for target [" + VolumeText("D13") + "]";

    struct Case {
        const char* name;
        std::vector<Rule> rules;
        std::function<std::string(ZqCimUtil&, ZqCimConnection&)> call;
        std::string result;
        std::string trace;
    };
    const std::vector<Case> cases = {
        {"concise volume sound",
         {concise(Key("Cluster", kCluster) + Key("DeviceID", "D7")),
          {"GetInstance", ">D7<", Instance(Prop("Name", "UID-1"))}},
         byUniqueId, VolumeText("D7"), "Instance [" + VolumeText("D7") + "] found"},
        {"concise volume without DeviceID", {concise(Key("Cluster", kCluster)), unrelatedVolumes}, byUniqueId, "",
         "lacks its Cluster or DeviceID key"},
        {"concise volume with an empty DeviceID",
         {concise(Key("Cluster", kCluster) + Key("DeviceID", "")), unrelatedVolumes}, byUniqueId, "",
         "lacks its Cluster or DeviceID key"},
        {"concise volume without Cluster", {concise(Key("DeviceID", "D7")), unrelatedVolumes}, byUniqueId, "",
         "lacks its Cluster or DeviceID key"},
        {"volume without Name",
         {concise(Key("Cluster", kCluster) + Key("DeviceID", "D7")),
          {"GetInstance", ">D7<", Instance(Prop("ElementName", "v7"))}},
         byUniqueId, "", "Name property not found for object path [" + VolumeText("D7") + "]"},
        {"no concise volumes, told without IRETURNVALUE",
         {{"EnumerateInstanceNames", "IBMTSSVC_ConciseVolume", ""}}, byUniqueId, "",
         "Class IBMTSSVC_ConciseVolume: UUID UID-1 not found"},
        {"empty device id",
         {unrelatedVolumes},
         [](ZqCimUtil& u, ZqCimConnection& c) {
             CIMObjectPath out;
             return u.GetVolumeObjectPath(c, kCluster, "", out, ZqCimUtil::VOLUME_REF_DEVICE_ID);
         },
         "", "No volume device id given"},
        {"sync sound", {target, source, {"ReferenceNames", "", goodSync}}, ofTarget, "0 set", "Sync Path ["},
        {"sync without SystemElement", {target, source, {"ReferenceNames", "", Sync("")}}, ofTarget, "-1 kept",
         "[] is not an object path"},
        {"SystemElement text that does not parse",
         {target, source, {"ReferenceNames", "", Sync(Key("SystemElement", "D12 of cluster 1"))}}, ofTarget,
         "-1 kept", "[D12 of cluster 1] is not an object path"},
        {"SystemElement without Name",
         {target, {"GetInstance", ">D12<", Instance(Prop("ElementName", "s"))}, {"ReferenceNames", "", goodSync}},
         ofTarget, "-1 kept", "Name property not found for object path"},
        {"two syncs for one target", {target, source, {"ReferenceNames", "", goodSync + goodSync}}, ofTarget,
         "-1 kept", brokenTarget},
        {"reference answer that does not parse",
         {target, source, {"ReferenceNames", "", "<OBJECTPATH><INSTANCEPATH>"}}, ofTarget, "-1 kept", "Caught Exception: Malformed HTTP response"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ZqCimUtil::ClearSharedCaches();
        Serve(server, c.rules);
        TestSnapInfo caseRecord;
        util.SetLogger(&caseRecord);
        conn.SetLogger(&caseRecord);
        const size_t volumeSearches = RequestsFor("EnumerateInstanceNames", "CIM_StorageVolume");
        std::string result;
        EXPECT_NO_THROW(result = c.call(util, conn));
        EXPECT_EQ(result, c.result) << caseRecord.dump();
        EXPECT_TRUE(caseRecord.hasLine(c.trace)) << caseRecord.dump();
        if (c.result.empty() && c.trace.find("Caught") == std::string::npos) {
            EXPECT_FALSE(caseRecord.hasLine("Caught")) << caseRecord.dump();
        }
        // Volumes are never searched by an empty or missing key value.
        EXPECT_EQ(RequestsFor("EnumerateInstanceNames", "CIM_StorageVolume"), volumeSearches);
        util.SetLogger(&record);
        conn.SetLogger(&record);
    }
}

TEST_F(ScriptedProvider, SecretIsChangedWithoutItsValueInAnyLog) {
    const std::string secret = "hunter2-value";
    Serve(server, {{"GetInstance", ">D7<",
                    Instance(Prop("ElementName", "v7") + Prop("Secret", "old"))},
                   {"ModifyInstance", "", ""}});
    auto debugLog = std::make_shared<zq::platform::MemoryDebugLog>();
    zq::platform::ScopedService<zq::platform::DebugLogSink> sink(zq::platform::registry().debugLog, debugLog);

    ASSERT_TRUE(util.UpdateInstanceProp(conn, VolumeText("D7"), "Secret", secret)) << record.dump();
    EXPECT_TRUE(record.hasLine("Updated the Property [Secret]", 0)) << record.dump();
    const auto modify = server.seen().back();
    EXPECT_EQ(OperationOf(modify), "ModifyInstance");
    EXPECT_NE(modify.body.find(secret), std::string::npos);

    // Without a record the lines go to the debug log.
    util.SetLogger(nullptr);
    conn.SetLogger(nullptr);
    EXPECT_TRUE(util.UpdateInstanceProp(conn, VolumeText("D7"), "Secret", secret));
    EXPECT_TRUE(debugLog->contains("Updated the Property [Secret]"));
    // A refused value is not named either.
    Serve(server, {{"GetInstance", ">D7<", Instance(Prop("Secret", "1", "uint16"))}});
    EXPECT_FALSE(util.UpdateInstanceProp(conn, VolumeText("D7"), "Secret", secret));
    EXPECT_TRUE(debugLog->contains("is not a number for property [Secret]"));
    util.SetLogger(&record);
    conn.SetLogger(&record);

    for (const auto& line : record.lines()) EXPECT_EQ(line.text.find("hunter2"), std::string::npos) << line.text;
    for (const auto& line : debugLog->lines()) EXPECT_EQ(line.text.find("hunter2"), std::string::npos) << line.text;
}

TEST(ProviderCertificate, CaFileDecidesWhenSet) {
    if (cimtest::serverCertificate().cert.empty()) {
        const char* ci = std::getenv("CI");
        if (ci && std::string(ci) == "true") FAIL() << "openssl is needed to make the test certificate";
        GTEST_SKIP() << "openssl is not installed";
    }
    cimtest::TestCimServer server(true);
    Serve(server, {{"EnumerateInstanceNames", "", Volume("D1")}});
    // the names of the provider's volumes over HTTPS; "refused" when the certificate is not trusted
    auto names = [&](const std::string& address, const std::string& caFile) {
        zqtest::ScopedHostSettings settings;
        if (!caFile.empty()) settings.set("IBMSVC_SMIS_CA_FILE", caFile);
        ZqCimomParams p;
        p.Address = address;
        p.Port = uint16_t(server.port());
        p.UseSSL = true;
        p.NameSpace = "root/ibm";
        p.UserName = "admin";
        p.Password = "pw";
        p.MaxRetries = 1;
        TestSnapInfo record;
        ZqCimConnection conn;
        conn.SetLogger(&record);
        conn.SetCimom(p);
        std::string result = "no connection";
        if (conn.ConnectCimom() == 0) {
            try {
                result = std::to_string(conn.GetInstanceNames("IBMTSSVC_StorageVolume").size());
            } catch (const CIMException& e) {
                result = "refused";
                EXPECT_NE(e.getMessage().find("Connection failed"), PEG_NOT_FOUND) << e.getMessage();
            }
        }
        conn.DisconnectCimom();
        return result;
    };
    const std::string trusted = cimtest::serverCertificate().cert;
    const std::string stranger = cimtest::makeCertificate("stranger-ca").cert;
    ASSERT_FALSE(stranger.empty());
    EXPECT_EQ(names("127.0.0.1", ""), "1");  // without the key every certificate is accepted
    EXPECT_EQ(names("127.0.0.1", trusted), "1");
    EXPECT_EQ(names("localhost", trusted), "1");
    EXPECT_EQ(names("127.0.0.1", stranger), "refused");
    EXPECT_EQ(names("127.0.0.1", "/nonexistent/ca.pem"), "refused");
    // the certificate names localhost and 127.0.0.1, not this name of the same address
    EXPECT_EQ(names("127.1", trusted), "refused");
}

}  // namespace
