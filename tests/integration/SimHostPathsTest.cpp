// Host mappings through ExposePaths and HidePaths, host objects made from
// initiators, and the JSON side channel (host disks, faults, state).
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "SimTestClient.h"
#include "SvcReturnCode.h"

using namespace simit;
namespace Rc = arraysim::Rc;

namespace {
const CIMNamespaceName kNs("root/ibm");

class HostPaths : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* v : {"vol", "other"}) ASSERT_TRUE(fx.sim().addVolume(v, "Pool0", 1 << 30).ok());
        ASSERT_TRUE(fx.sim().addHost("web", {"2100000E1E000001", "2100000E1E000002"}).ok());
        ASSERT_TRUE(fx.sim().addHost("db", {"iqn.1994-05.com.example:db"}).ok());
    }
    CIMObjectPath hostPath(const char* name) {
        for (auto& p : client->enumerateInstanceNames(kNs, CIMName("CIM_SCSIProtocolController"))) {
            CIMInstance h = client->getInstance(kNs, p);
            if (h.getProperty(h.findProperty(CIMName("ElementName"))).getValue().toString() == name) return p;
        }
        ADD_FAILURE() << "no host " << name;
        return {};
    }
    Uint32 expose(const std::vector<std::string>& uids, const std::vector<std::string>& initiators,
                  const CIMObjectPath* host, bool force = true, const std::vector<std::string>& luns = {}) {
        Array<CIMParamValue> in;
        in.append(texts("LUNames", uids));
        in.append(initiators.empty() ? CIMParamValue("InitiatorPortIDs", CIMValue(CIMTYPE_STRING, true))
                                     : texts("InitiatorPortIDs", initiators));
        if (!luns.empty()) in.append(texts("DeviceNumbers", luns));
        in.append(flag("Force", force));
        Array<CIMObjectPath> controllers;
        if (host) controllers.append(*host);
        in.append(host ? CIMParamValue("ProtocolControllers", CIMValue(controllers))
                       : CIMParamValue("ProtocolControllers", CIMValue(CIMTYPE_REFERENCE, true)));
        return call(fx.controllerService(), "ExposePaths", in);
    }
    Uint32 hide(const std::vector<std::string>& uids, const CIMObjectPath& host) {
        Array<CIMObjectPath> controllers;
        controllers.append(host);
        return call(fx.controllerService(), "HidePaths",
                    {texts("LUNames", uids), flag("Force", true), CIMParamValue("ProtocolControllers", CIMValue(controllers))});
    }

    zqtest::SimulatorFixture fx;
    std::unique_ptr<CIMClient> client = fx.client();
    Call call{fx, *client};
};
}  // namespace

TEST_F(HostPaths, ExposeAndHideFollowTheHostMappingRules) {
    CIMObjectPath web = hostPath("web"), db = hostPath("db");
    std::string uid = fx.volumeUid("vol");
    ASSERT_EQ(expose({uid}, {}, &web, true, {"12"}), 0u);
    auto units = client->referenceNames(kNs, web, CIMName("CIM_ProtocolControllerForUnit"));
    ASSERT_EQ(units.size(), 1u);
    CIMInstance unit = client->getInstance(kNs, units[0]);
    EXPECT_EQ(unit.getProperty(unit.findProperty(CIMName("DeviceNumber"))).getValue().toString(), "12");

    EXPECT_EQ(expose({uid}, {}, &web), Rc::AlreadyMappedToHost);
    EXPECT_EQ(expose({uid}, {}, &db, false), Rc::MappedToOtherHost);
    ASSERT_EQ(expose({uid}, {}, &db, true), 0u);
    EXPECT_EQ(expose({"6005076810CA0166C0000000DEADBEEF"}, {}, &web), Rc::InvalidLogicalUnit);
    CIMObjectPath nobody = web;
    Array<CIMKeyBinding> keys = nobody.getKeyBindings();
    for (Uint32 i = 0; i < keys.size(); ++i)
        if (keys[i].getName().equal(CIMName("DeviceID"))) keys[i].setValue("77");
    nobody.setKeyBindings(keys);
    EXPECT_EQ(expose({fx.volumeUid("other")}, {}, &nobody), Rc::InvalidTarget);
    EXPECT_EQ(expose({fx.volumeUid("other"), uid}, {}, &web, true, {"1"}), Rc::InvalidParameter)
        << "one device number for two volumes";
    EXPECT_EQ(client->referenceNames(kNs, web, CIMName("CIM_ProtocolControllerForUnit")).size(), 1u)
        << "refused calls map nothing";

    ASSERT_EQ(hide({uid}, web), 0u);
    EXPECT_EQ(hide({uid}, web), Rc::NotMappedToHost);
    EXPECT_EQ(client->associatorNames(kNs, fx.volumePath("vol"), CIMName("CIM_ProtocolControllerForUnit")).size(), 1u);

    auto logged = fx.sim().requestLog().find("ExposePaths");
    ASSERT_FALSE(logged.empty());
    const auto& first = logged.front();
    ASSERT_NE(first.param("LUNames"), nullptr);
    EXPECT_TRUE(first.param("LUNames")->isArray);
    EXPECT_EQ(first.param("LUNames")->paramType, "string");
    EXPECT_EQ(first.param("LUNames")->value, uid);
    EXPECT_TRUE(first.param("InitiatorPortIDs")->isNull);
    EXPECT_EQ(first.param("DeviceNumbers")->value, "12");
    EXPECT_FALSE(first.param("ProtocolControllers")->isNull);
    EXPECT_EQ(first.param("ProtocolControllers")->paramType, "reference");
    EXPECT_EQ(call(fx.configurationService(), "ReturnToStoragePool", {ref("TheElement", fx.volumePath("vol"))}),
              Rc::VolumeInUse)
        << "a volume that a host sees is not deleted";
}

TEST_F(HostPaths, InitiatorsWithoutAControllerMakeANewHost) {
    std::string uid = fx.volumeUid("vol");
    EXPECT_EQ(expose({uid}, {"not-a-port"}, nullptr), Rc::InvalidInitiator);
    EXPECT_EQ(expose({uid}, {"2100000E1E000001", "iqn.1994-05.com.example:db"}, nullptr), Rc::HostPortInUse);
    ASSERT_EQ(expose({uid}, {"10:00:00:00:c9:aa:bb:01"}, nullptr), 0u);
    CIMValue made = call.outParam("ProtocolControllers");
    ASSERT_EQ(made.getArraySize(), 1u);

    bool found = false;
    for (auto& hw : client->enumerateInstances(kNs, CIMName("CIM_StorageHardwareID"))) {
        Uint32 i = hw.findProperty(CIMName("portWWN"));
        if (i == PEG_NOT_FOUND || hw.getProperty(i).getValue().toString() != "10000000C9AABB01") continue;
        found = true;
        EXPECT_NE(hw.getPath().getKeyBindings()[0].getValue().find("0000020060C14A2C"), PEG_NOT_FOUND);
    }
    EXPECT_TRUE(found) << "WWPNs are kept in upper case without colons";
    ASSERT_EQ(expose({fx.volumeUid("other")}, {"10000000C9AABB01"}, nullptr), 0u) << "the same initiators find that host";
    EXPECT_EQ(client->enumerateInstanceNames(kNs, CIMName("CIM_SCSIProtocolController")).size(), 3u);
}

TEST_F(HostPaths, SideChannelServesHostDisksAndControls) {
    CIMObjectPath web = hostPath("web");
    ASSERT_EQ(expose({fx.volumeUid("vol")}, {}, &web, true, {"3"}), 0u);
    RawHttp raw{fx.httpPort()};
    auto json = [&](const std::string& path, const std::string& body) {
        RawAnswer a = raw.post(body, {{"Content-Type", "application/json"}}, "/sim/" + path);
        EXPECT_EQ(a.status, 200) << path << ": " << a.body;
        return nlohmann::json::parse(a.body, nullptr, false);
    };
    auto disks = json("hostdisks", R"({"initiators": ["21:00:00:0e:1e:00:00:02"]})")["disks"];
    ASSERT_EQ(disks.size(), 1u);
    EXPECT_EQ(disks[0]["lun"], 3);
    EXPECT_EQ(disks[0]["uid"], fx.volumeUid("vol"));
    std::string page83 = disks[0]["page83"];
    EXPECT_EQ(page83.substr(16, 32), fx.volumeUid("vol")) << "bytes 8-23 of page 0x83";
    EXPECT_EQ(std::string(disks[0]["page80"]).size(), 2u * (4 + 20));

    uint64_t before = fx.sim().generation("vol");
    auto written = json("write", R"({"volume": "vol", "percent": 5})");
    EXPECT_NE(written["generation"].get<uint64_t>(), before);
    json("faults", R"({"kind": "return", "key": "HidePaths", "returnValue": 4})");
    EXPECT_EQ(hide({fx.volumeUid("vol")}, web), 4u);
    json("vanish", R"({"kind": "volume", "name": "other"})");
    EXPECT_THROW(fx.volumePath("other"), std::invalid_argument);
    RawAnswer stateAnswer = raw.get("/sim/state");
    ASSERT_EQ(stateAnswer.status, 200);
    auto state = nlohmann::json::parse(stateAnswer.body);
    EXPECT_EQ(state["volumes"].size(), 1u);
    EXPECT_EQ(state.dump().find("\"admin\""), std::string::npos) << "no credentials in the state";

    RawAnswer unknown = raw.post("{}", {{"Content-Type", "application/json"}}, "/sim/nothing");
    EXPECT_EQ(unknown.status, 404);
    RawAnswer badJson = raw.post("{", {{"Content-Type", "application/json"}}, "/sim/faults");
    EXPECT_EQ(badJson.status, 400);
    RawAnswer noAuth = RawHttp{fx.httpPort(), "admin", "x"}.get("/sim/state");
    EXPECT_EQ(noAuth.status, 401);
}
