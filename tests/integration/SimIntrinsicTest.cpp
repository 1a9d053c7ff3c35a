// Intrinsic operations through the real CIM client: what the engine reads
// from volumes, pools, hosts and mappings, and how paths are matched.
#include <gtest/gtest.h>

#include "SimTestClient.h"

using namespace simit;

namespace {
const CIMNamespaceName kNs("root/ibm");

std::string prop(const CIMInstance& inst, const char* name) {
    Uint32 i = inst.findProperty(CIMName(name));
    return i == PEG_NOT_FOUND ? "<absent>" : inst.getProperty(i).getValue().toString().toStdString();
}


class SimIntrinsic : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(fx.sim().addVolume("src", "Pool0", 1 << 30).ok());
        ASSERT_TRUE(fx.sim().addVolume("snap", "Pool0", 1 << 30, true).ok());
        ASSERT_TRUE(fx.sim().addVolume("far", "Pool1", 1 << 30, false, 1).ok());
        ASSERT_TRUE(fx.sim().addHost("web", {"2100000E1E000001"}).ok());
        ASSERT_EQ(fx.sim().mapToHost("web", "src", 7), 0u);
        Call call{fx, *client};
        ASSERT_EQ(call(fx.configurationService(), "AttachReplica",
                       {ref("SourceElement", fx.volumePath("src")), ref("TargetElement", fx.volumePath("snap")),
                        u16("CopyType", 4), u16("BackgroundCopyRate", 0), u16("CleanRate", 0)}),
                  0u);
    }
    zqtest::SimulatorFixture fx;
    std::unique_ptr<CIMClient> client = fx.client();
};
}  // namespace

TEST_F(SimIntrinsic, EnumerationFollowsInheritanceAndPropertyLists) {
    auto volumes = client->enumerateInstances(kNs, CIMName("CIM_StorageVolume"), true, false, false, false);
    ASSERT_EQ(volumes.size(), 3u) << "concise volumes are not storage volumes";
    const CIMInstance* snap = nullptr;
    for (auto& v : volumes) {
        EXPECT_EQ(v.getClassName().getString(), "IBMTSSVC_StorageVolume");
        if (prop(v, "ElementName") == "snap") snap = &v;
    }
    ASSERT_NE(snap, nullptr);
    EXPECT_EQ(prop(*snap, "Name"), fx.volumeUid("snap"));
    EXPECT_EQ(prop(*snap, "IsSpaceEfficient"), "TRUE");
    EXPECT_EQ(prop(*snap, "BlockSize"), "512");
    EXPECT_EQ(prop(*snap, "NumberOfBlocks"), "2097152");
    EXPECT_EQ(prop(*snap, "OperationalStatus"), "2");
    EXPECT_EQ(prop(*snap, "GroupName"), "io_grp0");

    CIMPropertyList nameOnly(Array<CIMName>(1, CIMName("Name")));
    for (auto& v : client->enumerateInstances(kNs, CIMName("CIM_StorageVolume"), true, false, false, false, nameOnly)) {
        EXPECT_EQ(v.getPropertyCount(), 1u);
        EXPECT_EQ(prop(v, "Name").size(), 32u);
    }
    auto names = client->enumerateInstanceNames(kNs, CIMName("CIM_StorageVolume"));
    ASSERT_EQ(names.size(), 3u);
    EXPECT_EQ(names[0].getKeyBindings().size(), 4u);

    auto concise = client->enumerateInstanceNames(kNs, CIMName("IBMTSSVC_ConciseVolume"));
    ASSERT_EQ(concise.size(), 3u);
    EXPECT_EQ(client->enumerateInstanceNames(kNs, CIMName("CIM_ComputerSystem")).size(), 7u);
    EXPECT_EQ(client->enumerateInstances(kNs, CIMName("CIM_SoftwareIdentity"))[0].getPath().getKeyBindings()[0].getValue(),
              "0000020060C14A2C");
    auto caps = client->enumerateInstances(kNs, CIMName("CIM_StorageReplicationCapabilities"));
    ASSERT_EQ(caps.size(), 2u);
    EXPECT_EQ(prop(caps[0], "SupportedSynchronizationType") + prop(caps[1], "SupportedSynchronizationType"), "68");
    auto settings = client->enumerateInstanceNames(kNs, CIMName("IBMTSSVC_StorageVolumeSetting"));
    ASSERT_GT(settings.size(), 0u);
    EXPECT_EQ(settings[0].getKeyBindings()[0].getValue(), "0000020060C14A2C:Standard");
}

TEST_F(SimIntrinsic, PathsAreComparedAfterParsing) {
    CIMObjectPath canonical = fx.volumePath("src");
    // As another client writes it: host, namespace, lower-case class, keys in another order.
    String text = "//svc:5989/root/ibm:ibmtssvc_storagevolume.SystemName=\"0000020060C14A2C:0\",deviceid=\"" +
                  canonical.getKeyBindings()[1].getValue() +
                  "\",SystemCreationClassName=\"IBMTSSVC_IOGroup\",CreationClassName=\"IBMTSSVC_StorageVolume\"";
    CIMInstance v = client->getInstance(kNs, CIMObjectPath(text));
    EXPECT_EQ(prop(v, "ElementName"), "src");

    CIMInstance m = client->getInstance(kNs, fx.mappingPath("src", "snap"));
    EXPECT_EQ(m.getClassName().getString(), "IBMTSSVC_LocalStorageSynchronized");
    EXPECT_EQ(prop(m, "SyncState"), "11");
    EXPECT_EQ(prop(m, "CopyRate"), "0");
    EXPECT_EQ(prop(m, "CleanRate"), "0");
    EXPECT_EQ(prop(m, "SynchronizedSetName"), "") << "null outside a group";
}

TEST_F(SimIntrinsic, AssociationsTheEngineWalks) {
    auto pools = client->associatorNames(kNs, fx.volumePath("src"), CIMName("CIM_AllocatedFromStoragePool"),
                                         CIMName("CIM_StoragePool"));
    ASSERT_EQ(pools.size(), 1u);
    EXPECT_FALSE(pools[0].getHost().size() == 0) << "association answers carry host and namespace";
    EXPECT_EQ(prop(client->getInstance(kNs, pools[0]), "ElementName"), "Pool0");

    // Initiator -> hardware id -> privilege -> host object.
    auto hwids = client->enumerateInstances(kNs, CIMName("CIM_StorageHardwareID"));
    ASSERT_EQ(hwids.size(), 1u);
    EXPECT_EQ(prop(hwids[0], "portWWN"), "2100000E1E000001");
    EXPECT_NE(hwids[0].getPath().getKeyBindings()[0].getValue().find("0000020060C14A2C"), PEG_NOT_FOUND);
    auto privileges = client->associatorNames(kNs, hwids[0].getPath(), CIMName("CIM_AuthorizedSubject"),
                                              CIMName("CIM_AuthorizedPrivilege"));
    ASSERT_EQ(privileges.size(), 1u);
    auto hosts = client->associatorNames(kNs, privileges[0], CIMName("CIM_AuthorizedTarget"),
                                         CIMName("CIM_SCSIProtocolController"));
    ASSERT_EQ(hosts.size(), 1u);
    EXPECT_EQ(prop(client->getInstance(kNs, hosts[0]), "ElementName"), "web");

    auto views = client->associatorNames(kNs, fx.volumePath("src"), CIMName("CIM_ProtocolControllerForUnit"),
                                         CIMName("CIM_SCSIProtocolController"));
    ASSERT_EQ(views.size(), 1u);
    EXPECT_TRUE(views[0].getKeyBindings() == hosts[0].getKeyBindings());
    auto units = client->referenceNames(kNs, hosts[0], CIMName("CIM_ProtocolControllerForUnit"));
    ASSERT_EQ(units.size(), 1u);
    EXPECT_EQ(prop(client->getInstance(kNs, units[0]), "DeviceNumber"), "7");

    auto syncs = client->referenceNames(kNs, fx.volumePath("snap"), CIMName("CIM_StorageSynchronized"));
    ASSERT_EQ(syncs.size(), 1u);
    CIMInstance sync = client->getInstance(kNs, syncs[0]);
    EXPECT_EQ(prop(client->getInstance(kNs, CIMObjectPath(prop(sync, "SystemElement"))), "ElementName"), "src");
    EXPECT_EQ(client->referenceNames(kNs, fx.volumePath("src"), CIMName("CIM_StorageSynchronized"), "SyncedElement").size(), 0u);
    EXPECT_EQ(client->referenceNames(kNs, fx.volumePath("src"), CIMName("CIM_StorageSynchronized"), "SystemElement").size(), 1u);
    EXPECT_EQ(client->associatorNames(kNs, fx.volumePath("src"), CIMName(), CIMName(), "", "SyncedElement").size(), 1u);
    EXPECT_EQ(client->associatorNames(kNs, fx.volumePath("src"), CIMName("CIM_AllocatedFromStoragePool"),
                                      CIMName("CIM_StorageVolume")).size(), 0u);
    EXPECT_EQ(cimCode([&] { client->associatorNames(kNs, fx.volumePath("src"), CIMName("XYZ_Assoc")); }),
              CIM_ERR_INVALID_PARAMETER);
}

TEST_F(SimIntrinsic, ModifyAndDeleteInstanceFollowTheArraysRules) {
    auto rename = [&](const CIMObjectPath& path, const char* name) {
        CIMInstance inst(path.getClassName());
        inst.setPath(path);
        inst.addProperty(CIMProperty(CIMName("ElementName"), CIMValue(String(name))));
        client->modifyInstance(kNs, inst, true, CIMPropertyList(Array<CIMName>(1, CIMName("ElementName"))));
    };
    rename(fx.volumePath("snap"), "snap_deleted");
    EXPECT_EQ(prop(client->getInstance(kNs, fx.volumePath("snap_deleted")), "ElementName"), "snap_deleted");
    rename(fx.mappingPath("src", "snap_deleted"), "fc_deleted");
    EXPECT_EQ(prop(client->getInstance(kNs, fx.mappingPath("src", "snap_deleted")), "ElementName"), "fc_deleted");
    EXPECT_EQ(cimCode([&] { rename(fx.volumePath("far"), "src"); }), CIM_ERR_ALREADY_EXISTS);
    EXPECT_EQ(prop(client->getInstance(kNs, fx.volumePath("far")), "ElementName"), "far");

    CIMInstance size(CIMName("IBMTSSVC_StorageVolume"));
    size.setPath(fx.volumePath("far"));
    size.addProperty(CIMProperty(CIMName("NumberOfBlocks"), CIMValue(Uint64(1))));
    EXPECT_EQ(cimCode([&] { client->modifyInstance(kNs, size); }), CIM_ERR_NOT_SUPPORTED);

    EXPECT_EQ(cimCode([&] { client->deleteInstance(kNs, fx.volumePath("src")); }), CIM_ERR_FAILED)
        << "a mapped volume in a FlashCopy mapping is not deleted";
    client->deleteInstance(kNs, fx.volumePath("far"));
    EXPECT_EQ(client->enumerateInstanceNames(kNs, CIMName("CIM_StorageVolume")).size(), 2u);
}

TEST_F(SimIntrinsic, GetClassDeclaresMethodsWithTypedParameters) {
    CIMClass svc = client->getClass(kNs, CIMName("IBMTSSVC_StorageConfigurationService"), false);
    Uint32 mi = svc.findMethod(CIMName("AttachReplica"));
    ASSERT_NE(mi, PEG_NOT_FOUND);
    CIMMethod attach = svc.getMethod(mi);
    EXPECT_EQ(attach.getType(), CIMTYPE_UINT32);
    CIMParameter clean = attach.getParameter(attach.findParameter(CIMName("CleanRate")));
    EXPECT_EQ(clean.getType(), CIMTYPE_UINT16);
    CIMParameter source = attach.getParameter(attach.findParameter(CIMName("SourceElement")));
    EXPECT_EQ(source.getType(), CIMTYPE_REFERENCE);
    EXPECT_FALSE(source.getReferenceClassName().isNull());
    EXPECT_NE(svc.findProperty(CIMName("SystemName")), PEG_NOT_FOUND) << "inherited properties with LocalOnly false";

    CIMClass sync = client->getClass(kNs, CIMName("IBMTSSVC_LocalStorageSynchronized"), false);
    EXPECT_TRUE(sync.isAssociation());
    EXPECT_NE(sync.findMethod(CIMName("SetElementName")), PEG_NOT_FOUND);
    EXPECT_EQ(cimCode([&] { client->getClass(kNs, CIMName("XYZ_Nothing")); }), CIM_ERR_NOT_FOUND);
}
