// Provider vendor identification: SMI-S providers publish their classes under
// a maker-specific class-name prefix and namespace.
#pragma once

#include <cstdint>
#include <string>

#include "cim/CIMObjectPath.h"

typedef int32_t ZQ_PROVIDER_VENDOR;

constexpr ZQ_PROVIDER_VENDOR VENDOR_HPEVA = 1;
constexpr ZQ_PROVIDER_VENDOR VENDOR_HPXP = 2;
constexpr ZQ_PROVIDER_VENDOR VENDOR_EMC = 7;
constexpr ZQ_PROVIDER_VENDOR VENDOR_LSI = 8;
constexpr ZQ_PROVIDER_VENDOR VENDOR_DCIM = 9;
constexpr ZQ_PROVIDER_VENDOR VENDOR_IBMSVC = 10;
constexpr ZQ_PROVIDER_VENDOR VENDOR_3PAR = 11;
constexpr ZQ_PROVIDER_VENDOR VENDOR_FUJITSU = 12;
constexpr ZQ_PROVIDER_VENDOR VENDOR_NETAPP = 13;
constexpr ZQ_PROVIDER_VENDOR VENDOR_OTHER = 14;

class ZQProviderVendor {
public:
    ZQProviderVendor() = delete;

    // Vendor of a provider class name, by the first maker substring found
    // anywhere in it (case-sensitive); VENDOR_OTHER when none is.
    static ZQ_PROVIDER_VENDOR GetVendorIdByClassName(const std::string& className);

    // Vendor of the class of a provider's object path.
    static ZQ_PROVIDER_VENDOR GetVendorId(Pegasus::CIMObjectPath objectPath);

    // Class-name prefix (without the trailing underscore) and CIM namespace
    // of a vendor; empty for a vendor without a table row.
    static std::string GetVendorPrefix(ZQ_PROVIDER_VENDOR vendor);
    static std::string GetVendorNameSpace(ZQ_PROVIDER_VENDOR vendor);
    // The same for the vendor of an object path.
    static std::string GetVendorPrefix(Pegasus::CIMObjectPath objectPath);
    static std::string GetVendorNameSpace(Pegasus::CIMObjectPath objectPath);
};
