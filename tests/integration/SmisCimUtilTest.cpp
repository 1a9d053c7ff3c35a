// The CIM lookups against the simulator: volumes by unique id with and
// without the shared lists, existence, synchronizations, properties, the
// system and its services, host view controllers and nodes.
#include "SmisSimTest.h"

using namespace Pegasus;
using smistest::GiB;
using smistest::kCluster;

namespace {

class SmisLookups : public smistest::SmisSimTest {
protected:
    void SetUp() override {
        for (const char* v : {"src", "tgt", "tgt2", "other"}) ASSERT_TRUE(fx.sim().addVolume(v, "Pool0", GiB).ok());
        Connect();
    }
    std::string Uid(const std::string& name) { return fx.volumeUid(name); }
};

TEST_F(SmisLookups, VolumeByUniqueIdWithoutCacheAsksEveryTime) {
    const std::string uid = Uid("tgt");
    size_t before = Requests();
    EXPECT_TRUE(IsVolume(util.GetVolObjPathByUUID(conn, String(uid), ""), "tgt"));
    EXPECT_TRUE(IsVolume(util.GetVolObjPathByUUID(conn, String(uid), kCluster), "tgt"));
    EXPECT_EQ(Requests() - before, 2u);
    EXPECT_EQ(util.GetVolObjPathByUUID(conn, String(uid), "0000020060C14FFF"), "");
    EXPECT_TRUE(record.hasLine("System name given [0000020060C14FFF] but actual system name [" + std::string(kCluster)))
        << record.dump();
    EXPECT_EQ(util.GetVolObjPathByUUID(conn, "60050768000000000000000000000000", ""), "");
}

TEST_F(SmisLookups, VolumeCacheServesLaterLookupsAndRefreshesOnceForNewVolumes) {
    settings.set("ZQ_SMIS_CACHE_VOLUME_INSTANCES", 1);
    size_t before = Requests();
    EXPECT_TRUE(IsVolume(util.GetVolObjPathByUUID(conn, String(Uid("src")), kCluster), "src"));
    EXPECT_EQ(Requests() - before, 1u);
    before = Requests();
    EXPECT_TRUE(IsVolume(util.GetVolObjPathByUUID(conn, String(Uid("tgt2")), kCluster), "tgt2"));
    EXPECT_EQ(Requests() - before, 0u);
    EXPECT_TRUE(record.hasLine("Not fetching volumes as already cached", 0));
    EXPECT_TRUE(record.hasLine("Acquired CimUtil lock", 0));
    EXPECT_TRUE(record.hasLine("Released CimUtil lock", 0));

    // A volume made after the list was filled, in front of the others and behind them.
    for (const char* late : {"a-late", "z-late"}) {
        ASSERT_TRUE(fx.sim().addVolume(late, "Pool1", GiB).ok());
        before = Requests();
        EXPECT_TRUE(IsVolume(util.GetVolObjPathByUUID(conn, String(Uid(late)), kCluster), late));
        EXPECT_EQ(Requests() - before, 1u) << late;
    }
    EXPECT_EQ(record.countLines("Found volume UUID ["), 2u) << record.dump();
    // An unknown id refreshes once, then gives up.
    before = Requests();
    EXPECT_EQ(util.GetVolObjPathByUUID(conn, "60050768000000000000000000000000", ""), "");
    EXPECT_EQ(Requests() - before, 1u);
}

TEST_F(SmisLookups, ConciseVolumeLookupCostsOneRequestAfterTheFirst) {
    ASSERT_TRUE(fx.sim().addVolume("grp1", "Pool0", GiB, false, 1).ok());
    size_t before = Requests();
    EXPECT_TRUE(IsVolume(util.GetIBMSVCVolObjPathByUUID(conn, Uid("src"), kCluster), "src"));
    EXPECT_EQ(Requests() - before, 2u);
    before = Requests();
    EXPECT_TRUE(IsVolume(util.GetIBMSVCVolObjPathByUUID(conn, Uid("tgt"), kCluster), "tgt"));
    EXPECT_EQ(Requests() - before, 1u);
    EXPECT_TRUE(record.hasLine("IBMTSSVC_StorageVolume object path constructed using IBMTSSVC_ConciseVolume"));

    // A volume of the second I/O group is not at the built path: the names are searched.
    EXPECT_TRUE(IsVolume(util.GetIBMSVCVolObjPathByUUID(conn, Uid("grp1"), kCluster), "grp1"));
    EXPECT_TRUE(record.hasLine("not found, fetch all object paths and compare")) << record.dump();

    EXPECT_EQ(util.GetIBMSVCVolObjPathByUUID(conn, "60050768000000000000000000000000", kCluster), "");
    EXPECT_TRUE(record.hasLine("Class IBMTSSVC_ConciseVolume: UUID 60050768000000000000000000000000 not found"));
}

TEST_F(SmisLookups, ConciseListNeverLeadsToAnotherVolume) {
    const std::string uid = Uid("tgt");
    EXPECT_TRUE(IsVolume(util.GetIBMSVCVolObjPathByUUID(conn, uid, kCluster), "tgt"));
    ASSERT_TRUE(fx.sim().vanish("volume", "tgt"));
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(fx.sim().addVolume("new" + std::to_string(i), "Pool0", GiB).ok());
    EXPECT_EQ(util.GetIBMSVCVolObjPathByUUID(conn, uid, kCluster), "");
    const std::string late = Uid("new2");
    EXPECT_TRUE(IsVolume(util.GetIBMSVCVolObjPathByUUID(conn, late, kCluster), "new2"));
}

TEST_F(SmisLookups, VolumeObjectPathFromAnyReference) {
    CIMObjectPath out;
    EXPECT_TRUE(IsVolume(util.GetVolumeObjectPath(conn, kCluster, Uid("src"), out, ZqCimUtil::VOLUME_REF_DETECT), "src"));
    EXPECT_TRUE(smistest::SameObject(out.toString().toStdString(), fx.volumePath("src")));
    const std::string deviceId = util.GetPropByObjPath(fx.volumePath("tgt"), "DeviceID");
    EXPECT_TRUE(IsVolume(util.GetVolumeObjectPath(conn, kCluster, deviceId, out, ZqCimUtil::VOLUME_REF_DETECT), "tgt"));
    EXPECT_TRUE(IsVolume(util.GetVolumeObjectPath(conn, kCluster, VolumePath("tgt2"), out, ZqCimUtil::VOLUME_REF_PATH),
                         "tgt2"));
    EXPECT_EQ(util.GetVolumeObjectPath(conn, kCluster, "not a path", out, ZqCimUtil::VOLUME_REF_PATH), "");
}

TEST_F(SmisLookups, ExistenceByPathOrUniqueId) {
    const std::string src = VolumePath("src");
    EXPECT_EQ(util.CheckInstanceExistence(conn, kCluster, src, ""), 1);
    EXPECT_EQ(util.CheckInstanceExistence(conn, kCluster, src, Uid("src")), 1);
    EXPECT_EQ(util.CheckInstanceExistence(conn, kCluster, src, Uid("tgt")), 0);
    EXPECT_TRUE(record.hasLine("it must be recreated object with the same object path"));
    EXPECT_EQ(util.CheckInstanceExistence(conn, kCluster, Uid("tgt"), ""), 1);
    EXPECT_TRUE(record.hasLine("Supplied source volume is not an object path, assuming UUID(Name)", 0));
    EXPECT_EQ(util.CheckInstanceExistence(conn, "0000020060C14FFF", Uid("tgt"), ""), 0);
    EXPECT_EQ(util.CheckInstanceExistence(conn, kCluster, "", ""), -1);

    const std::string other = VolumePath("other");
    ASSERT_TRUE(fx.sim().vanish("volume", "other"));
    EXPECT_EQ(util.CheckInstanceExistence(conn, kCluster, other, ""), 0);
    EXPECT_EQ(util.CheckInstanceExistence(conn, kCluster, "60050768000000000000000000000000", ""), 0);
}

TEST_F(SmisLookups, SynchronizationOfATargetAndOfAPair) {
    ASSERT_EQ(Attach("src", "tgt"), 0u);
    std::string sync, source, id;
    EXPECT_EQ(util.GetSyncPathFromTarget(conn, VolumePath("tgt"), sync, source, id), 0) << record.dump();
    EXPECT_TRUE(smistest::SameObject(sync, fx.mappingPath("src", "tgt")));
    EXPECT_TRUE(IsVolume(source, "src"));
    EXPECT_EQ(id, Uid("src"));

    std::string pair;
    EXPECT_EQ(util.GetSyncPathFromTargetAndSource(conn, VolumePath("tgt"), VolumePath("src"), pair), 0);
    EXPECT_EQ(pair, sync);
    EXPECT_EQ(util.GetSyncPathFromTargetAndSource(conn, VolumePath("tgt"), VolumePath("other"), pair), -1);
    EXPECT_EQ(util.GetSyncPathFromTarget(conn, VolumePath("tgt2"), sync, source, id), 1);
    EXPECT_TRUE(record.hasLine("No sync paths ["));

    // The built IBM SVC path names the same mapping.
    CIMObjectPath built = util.GetSyncPath(conn, "root/ibm", kCluster, fx.volumePath("src"), fx.volumePath("tgt"));
    EXPECT_TRUE(smistest::SameObject(built.toString().toStdString(), fx.mappingPath("src", "tgt")));
    EXPECT_EQ(conn.GetInstance(built).getClassName().getString(), "IBMTSSVC_LocalStorageSynchronized");
}

TEST_F(SmisLookups, ATargetThatBecameASourceHasNoSynchronizationOfItsOwn) {
    ASSERT_EQ(Attach("src", "tgt"), 0u);
    ASSERT_TRUE(fx.sim().vanish("mapping", util.GetCIMProp(conn, fx.mappingPath("src", "tgt"), "ElementName")));
    ASSERT_EQ(Attach("tgt", "tgt2"), 0u);
    std::string sync = "s", source = "p", id = "i";
    EXPECT_EQ(util.GetSyncPathFromTarget(conn, VolumePath("tgt"), sync, source, id), -1);
    EXPECT_EQ(sync + source + id, "spi");
    EXPECT_TRUE(record.hasLine("the original target now being used as source for another synchronization"));
    EXPECT_EQ(util.GetSyncPathFromTarget(conn, "6005076800000000000000000000000A", sync, source, id), -1);
}

TEST_F(SmisLookups, CopiesOfASourceByLabel) {
    ASSERT_EQ(Attach("src", "tgt"), 0u);
    ASSERT_EQ(Attach("src", "tgt2"), 0u);
    const std::string uid = Uid("tgt");
    const CIMObjectPath tgt = fx.volumePath("tgt");
    ASSERT_TRUE(util.UpdateInstanceProp(conn, VolumePath("tgt"), "ElementName", "db_snap_1"));
    std::map<std::string, std::string> targets{{"kept", "entry"}};
    EXPECT_EQ(util.GetAllSyncPathFromSource(conn, VolumePath("src"), "_snap_", targets), 0);
    ASSERT_EQ(targets.size(), 2u);
    EXPECT_TRUE(smistest::SameObject(targets[uid], tgt));
    EXPECT_TRUE(record.hasLine("1 targets found with label [_snap_]")) << record.dump();
    std::map<std::string, std::string> none;
    EXPECT_EQ(util.GetAllSyncPathFromSource(conn, VolumePath("other"), "", none), -1);
    EXPECT_TRUE(none.empty());
}

TEST_F(SmisLookups, PropertiesReadAndChanged) {
    EXPECT_EQ(util.GetCIMProp(conn, fx.volumePath("src"), "ElementName"), "src");
    EXPECT_EQ(util.GetCIMProp(conn, fx.volumePath("src"), "elementname"), "");
    std::map<std::string, std::string> props{{"ElementName", ""}, {"Name", ""}, {"NoSuchProperty", "kept"}};
    EXPECT_TRUE(util.GetCIMPropList(conn, VolumePath("src"), props));
    EXPECT_EQ(props["ElementName"], "src");
    EXPECT_EQ(props["Name"], Uid("src"));
    EXPECT_EQ(props["NoSuchProperty"], "kept");

    CIMInstance partial = conn.GetInstance(fx.volumePath("src"));
    partial.removeProperty(partial.findProperty("ElementName"));
    bool found = false;
    EXPECT_EQ(util.GetInstanceProp(conn, partial, "ElementName", found), "src");
    EXPECT_TRUE(found);
    util.GetInstanceProp(conn, partial, "NoSuchProperty", found);
    EXPECT_FALSE(found);

    EXPECT_TRUE(util.UpdateInstanceProp(conn, VolumePath("src"), "ElementName", "renamed"));
    EXPECT_EQ(util.GetCIMProp(conn, fx.volumePath("renamed"), "ElementName"), "renamed");
    EXPECT_TRUE(record.hasLine("Updated the Property [ElementName] to [renamed]", 0));
    EXPECT_FALSE(util.UpdateInstanceProp(conn, VolumePath("renamed"), "NumberOfBlocks", "10"));
    EXPECT_TRUE(record.hasLine("UpdateInstanceProp: Unimplemented datatype 7"));

    ASSERT_EQ(Attach("renamed", "tgt"), 0u);
    const std::string mapping = fx.mappingPath("renamed", "tgt").toString().toStdString();
    EXPECT_TRUE(util.UpdateInstanceProp(conn, mapping, "CopyRate", "80"));
    EXPECT_EQ(util.GetCIMProp(conn, mapping, "CopyRate"), "80");
    EXPECT_FALSE(util.UpdateInstanceProp(conn, mapping, "CopyRate", "80000"));
}

TEST_F(SmisLookups, SystemServicesPoolsAndNodes) {
    CIMObjectPath system = SystemPath();
    EXPECT_EQ(system.getClassName().getString(), "IBMTSSVC_Cluster");
    EXPECT_EQ(util.GetSystemObjPathString(conn, kCluster), system.toString().toStdString());
    EXPECT_EQ(util.GetVendorByName(conn, kCluster), "IBMTSSVC");
    EXPECT_EQ(util.GetVendorNamespaceByName(conn, kCluster), "root/ibm");
    EXPECT_EQ(util.GetVendorByName(conn, "0000020060C14FFF"), "");
    EXPECT_TRUE(record.hasLine("CIM_ComputerSystem instance for systemName 0000020060C14FFF not found"));

    CIMObjectPath service;
    EXPECT_TRUE(util.ValidateSystemName(conn, kCluster, "CIM_StorageConfigurationService", service));
    EXPECT_TRUE(smistest::SameObject(service.toString().toStdString(), fx.configurationService()));
    EXPECT_FALSE(util.ValidateSystemName(conn, "0000020060C14FFF", "CIM_StorageConfigurationService", service));
    EXPECT_TRUE(smistest::SameObject(util.GetCtlrservicePath(conn, system).toString().toStdString(), fx.controllerService()));

    const std::string pool = util.GetDGByName(conn, kCluster, "pool1");
    EXPECT_EQ(util.GetCIMProp(conn, pool, "ElementName"), "Pool1");
    EXPECT_EQ(util.GetDGByName(conn, kCluster, "NoPool"), "");
    EXPECT_EQ(util.GetDGByName(conn, kCluster, ""), "");
    CIMObjectPath ofVolume = util.GetObjPathByAssnProp(conn, fx.volumePath("src"), "CIM_StoragePool",
                                                       "CIM_AllocatedFromStoragePool", "InstanceID", "");
    EXPECT_EQ(util.GetCIMProp(conn, ofVolume, "ElementName"), "Pool0");
    EXPECT_TRUE(util.GetObjPathByAssnProp(conn, fx.volumePath("src"), "CIM_StoragePool", "CIM_AllocatedFromStoragePool",
                                          "InstanceID", "none")
                    .getClassName()
                    .isNull());

    std::string node;
    EXPECT_EQ(util.GetPreferredNodeForIBMSVC(conn, kCluster, node), 1);
    EXPECT_EQ(util.GetPropByObjPath(CIMObjectPath(String(node)), "Name"), std::string(kCluster) + ":1");
    EXPECT_EQ(util.GetPreferredNodeForIBMSVC(conn, kCluster, "3", node), 1);
    EXPECT_EQ(util.GetPropByObjPath(CIMObjectPath(String(node)), "Name"), std::string(kCluster) + ":3");
    EXPECT_EQ(util.GetPreferredNodeForIBMSVC(conn, kCluster, "9", node), 0);
    EXPECT_EQ(util.GetPreferredNodeForIBMSVC(conn, "0000020060C14FFF", node), 0);
}

TEST_F(SmisLookups, ViewControllersOfInitiatorsAndVolumes) {
    ASSERT_TRUE(fx.sim().addHost("h1", {"10000000C9A1B2C1", "10000000C9A1B2C2"}).ok());
    ASSERT_TRUE(fx.sim().addHost("h2", {"10000000C9A1B2C3"}).ok());
    ASSERT_TRUE(fx.sim().addHost("iscsi", {"iqn.1994-05.com.redhat:host7"}).ok());
    fx.sim().mapToHost("h1", "src");
    fx.sim().mapToHost("h2", "tgt");
    CIMObjectPath system = SystemPath();
    auto one = [](const char* text) {
        Array<String> a;
        a.append(text);
        return a;
    };

    Array<CIMObjectPath> h1 = util.GetIBMSVCCtlrListByHwIDs(conn, system, one("10000000C9A1B2C2"));
    ASSERT_EQ(h1.size(), 1u) << record.dump();
    EXPECT_EQ(util.GetCIMProp(conn, h1[0], "ElementName"), "h1");
    Array<CIMObjectPath> iscsi = util.GetIBMSVCCtlrListByHwIDs(conn, system, one("iqn.1994-05.com.redhat:host7"));
    ASSERT_EQ(iscsi.size(), 1u);
    EXPECT_EQ(util.GetCIMProp(conn, iscsi[0], "ElementName"), "iscsi");
    EXPECT_EQ(util.GetIBMSVCCtlrListByHwIDs(conn, system, Array<String>()).size(), 0u);
    EXPECT_TRUE(record.hasLine("The initiator port list provided is empty."));

    Array<CIMObjectPath> volumes;
    volumes.append(fx.volumePath("src"));
    Array<CIMObjectPath> found;
    EXPECT_TRUE(util.GetCtlrPathList(conn, system, volumes, Array<String>(), found));
    EXPECT_EQ(found.size(), 1u);
    EXPECT_TRUE(util.GetCtlrPathList(conn, system, volumes, one("10000000C9A1B2C1"), found));
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(util.GetCIMProp(conn, found[0], "ElementName"), "h1");
    EXPECT_TRUE(util.GetCtlrPathList(conn, system, volumes, one("10000000C9A1B2C3"), found));
    EXPECT_EQ(found.size(), 0u);
    EXPECT_TRUE(util.GetCtlrPathList(conn, system, one(Uid("tgt").c_str()), one("10000000C9A1B2C3"), found));
    EXPECT_EQ(found.size(), 1u);
    EXPECT_TRUE(util.GetVolCtlrPaths(conn, fx.volumePath("other"), found));
    EXPECT_EQ(found.size(), 0u);

    const std::string deviceId = util.GetPropByObjPath(h1[0], "DeviceID");
    Array<CIMObjectPath> named = util.GetSystemObjPathListByPropList(conn, system, {deviceId, "nohost"});
    ASSERT_EQ(named.size(), 1u);
    EXPECT_TRUE(smistest::SameObject(named[0].toString().toStdString(), h1[0]));
}

TEST_F(SmisLookups, HardwareIdCacheRefreshesOnceForANewHost) {
    settings.set("ZQ_IBMSVC_CACHE_HBA_INSTANCES", 1);
    ASSERT_TRUE(fx.sim().addHost("h1", {"10000000C9A1B2C1"}).ok());
    CIMObjectPath system = SystemPath();
    Array<String> first, late;
    first.append("10000000C9A1B2C1");
    late.append("10000000C9A1B2C9");
    EXPECT_EQ(util.GetIBMSVCCtlrListByHwIDs(conn, system, first).size(), 1u);
    const size_t before = fx.sim().requestLog().find("EnumerateInstances").size();
    EXPECT_EQ(util.GetIBMSVCCtlrListByHwIDs(conn, system, first).size(), 1u);
    EXPECT_EQ(fx.sim().requestLog().find("EnumerateInstances").size(), before);
    EXPECT_TRUE(record.hasLine("cache with [1] instances. Trying to search the initiators within the cache"))
        << record.dump();

    ASSERT_TRUE(fx.sim().addHost("h9", {"10000000C9A1B2C9"}).ok());
    Array<CIMObjectPath> h9 = util.GetIBMSVCCtlrListByHwIDs(conn, system, late);
    ASSERT_EQ(h9.size(), 1u);
    EXPECT_EQ(util.GetCIMProp(conn, h9[0], "ElementName"), "h9");
    EXPECT_TRUE(record.hasLine("HBA not found in the old list."));
    EXPECT_TRUE(record.hasLine("in refreshed list"));
}

}  // namespace
