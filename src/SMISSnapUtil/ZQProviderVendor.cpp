#include "ZQProviderVendor.h"

namespace {

struct VendorRow {
    ZQ_PROVIDER_VENDOR vendor;
    const char* prefix;
    const char* nameSpace;
};

// Searched in this order; the first row of a vendor answers.
const VendorRow kVendors[] = {
    {VENDOR_HPEVA, "HPEVA", "root/eva"},
    {VENDOR_HPXP, "HPXP", "root/xp"},
    {VENDOR_LSI, "LSISSI", "root/LsiArray13"},
    {VENDOR_DCIM, "DCIM", "root/DCIM/MDStorageArray13"},
    {VENDOR_IBMSVC, "IBMTSSVC", "root/ibm"},
    {VENDOR_3PAR, "3PAR", "root/tpd"},
    {VENDOR_FUJITSU, "FUJITSU", "root/eternus"},
    {VENDOR_EMC, "EMC", "root/emc"},
    {VENDOR_NETAPP, "NETAPP", "root/netapp/santricity"},
};

struct ClassMarker {
    const char* substring;
    ZQ_PROVIDER_VENDOR vendor;
};

// Tested in this order. "SE_" is short enough to occur inside other makers'
// class names, so it is tested last.
const ClassMarker kMarkers[] = {
    {"HPEVA_", VENDOR_HPEVA},   {"HPXP_", VENDOR_HPXP},       {"LSISSI_", VENDOR_LSI},
    {"DCIM_", VENDOR_DCIM},     {"IBMTSSVC_", VENDOR_IBMSVC}, {"3PAR_", VENDOR_3PAR},
    {"TPD_", VENDOR_3PAR},      {"FUJITSU_", VENDOR_FUJITSU}, {"Symm_", VENDOR_EMC},
    {"NETAPP_", VENDOR_NETAPP}, {"SE_", VENDOR_EMC},
};

const VendorRow* findRow(ZQ_PROVIDER_VENDOR vendor) {
    for (const VendorRow& row : kVendors)
        if (row.vendor == vendor) return &row;
    return nullptr;
}

}  // namespace

ZQ_PROVIDER_VENDOR ZQProviderVendor::GetVendorIdByClassName(const std::string& className) {
    for (const ClassMarker& marker : kMarkers)
        if (className.find(marker.substring) != std::string::npos) return marker.vendor;
    return VENDOR_OTHER;
}

std::string ZQProviderVendor::GetVendorPrefix(ZQ_PROVIDER_VENDOR vendor) {
    const VendorRow* row = findRow(vendor);
    return row ? row->prefix : "";
}

std::string ZQProviderVendor::GetVendorNameSpace(ZQ_PROVIDER_VENDOR vendor) {
    const VendorRow* row = findRow(vendor);
    return row ? row->nameSpace : "";
}

ZQ_PROVIDER_VENDOR ZQProviderVendor::GetVendorId(Pegasus::CIMObjectPath objectPath) {
    return GetVendorIdByClassName(objectPath.getClassName().getString().toStdString());
}

std::string ZQProviderVendor::GetVendorPrefix(Pegasus::CIMObjectPath objectPath) {
    return GetVendorPrefix(GetVendorId(objectPath));
}

std::string ZQProviderVendor::GetVendorNameSpace(Pegasus::CIMObjectPath objectPath) {
    return GetVendorNameSpace(GetVendorId(objectPath));
}
