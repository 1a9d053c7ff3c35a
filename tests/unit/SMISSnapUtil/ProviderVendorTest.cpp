#include <gtest/gtest.h>

#include "ZQProviderVendor.h"

namespace {

struct Expected {
    const char* className;
    ZQ_PROVIDER_VENDOR vendor;
    const char* prefix;
    const char* nameSpace;
};

TEST(ProviderVendor, ClassNamesClassifyByFirstMarkerFound) {
    const Expected cases[] = {
        {"IBMTSSVC_Cluster", VENDOR_IBMSVC, "IBMTSSVC", "root/ibm"},
        {"IBMTSSVC_StorageSynchronized", VENDOR_IBMSVC, "IBMTSSVC", "root/ibm"},
        {"CIM_StorageVolume", VENDOR_OTHER, "", ""},
        {"", VENDOR_OTHER, "", ""},
        {"Symm_StorageSystem", VENDOR_EMC, "EMC", "root/emc"},
        {"Clar_StorageSE_Volume", VENDOR_EMC, "EMC", "root/emc"},
        {"TPD_StorageVolume", VENDOR_3PAR, "3PAR", "root/tpd"},
        {"HPEVA_StorageVolume", VENDOR_HPEVA, "HPEVA", "root/eva"},
        {"LSISSI_StorageVolume", VENDOR_LSI, "LSISSI", "root/LsiArray13"},
        {"DCIM_StorageVolume", VENDOR_DCIM, "DCIM", "root/DCIM/MDStorageArray13"},
        {"FUJITSU_StorageVolume", VENDOR_FUJITSU, "FUJITSU", "root/eternus"},
        // Markers may sit anywhere in the name, and the earlier marker wins.
        {"X_HPXP_Volume", VENDOR_HPXP, "HPXP", "root/xp"},
        {"IBMTSSVC_TPD_Mix", VENDOR_IBMSVC, "IBMTSSVC", "root/ibm"},
        // NetApp is tested before the short EMC marker it may contain.
        {"NETAPP_BASE_StorageVolume", VENDOR_NETAPP, "NETAPP", "root/netapp/santricity"},
        // Case matters.
        {"ibmtssvc_Cluster", VENDOR_OTHER, "", ""},
    };
    for (const Expected& c : cases) {
        ZQ_PROVIDER_VENDOR vendor = ZQProviderVendor::GetVendorIdByClassName(c.className);
        EXPECT_EQ(vendor, c.vendor) << c.className;
        EXPECT_EQ(ZQProviderVendor::GetVendorPrefix(vendor), c.prefix) << c.className;
        EXPECT_EQ(ZQProviderVendor::GetVendorNameSpace(vendor), c.nameSpace) << c.className;
    }
}

TEST(ProviderVendor, PathsClassifyByTheirClass) {
    Pegasus::CIMObjectPath svc("root/ibm:IBMTSSVC_StorageVolume.DeviceID=\"12\"");
    EXPECT_EQ(ZQProviderVendor::GetVendorId(svc), VENDOR_IBMSVC);
    EXPECT_EQ(ZQProviderVendor::GetVendorPrefix(svc), "IBMTSSVC");
    EXPECT_EQ(ZQProviderVendor::GetVendorNameSpace(svc), "root/ibm");
    EXPECT_EQ(ZQProviderVendor::GetVendorId(Pegasus::CIMObjectPath()), VENDOR_OTHER);
}

TEST(ProviderVendor, NumbersWithoutRowHaveNoPrefixOrNamespace) {
    for (ZQ_PROVIDER_VENDOR vendor : {0, 3, 4, 5, 6, 14, -1, 99}) {
        EXPECT_EQ(ZQProviderVendor::GetVendorPrefix(vendor), "") << vendor;
        EXPECT_EQ(ZQProviderVendor::GetVendorNameSpace(vendor), "") << vendor;
    }
}

}  // namespace
