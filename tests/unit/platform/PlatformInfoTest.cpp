#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "ZQPlatformInfo.h"
#include "ZqDebugLogSink.h"
#include "ZqPlatformRegistry.h"

using zq::platform::MemoryDebugLog;
using zq::platform::registry;
using zq::platform::ScopedService;

namespace {

const char* kIni =
    "; host configuration\n"
    "[HostModule]\n"
    "IBMSVC_SMIS_PORT = 6000\n"
    "IBMSVC_USE_CG=0x10\n"
    "Negative=-7\n"
    "Blank=\n"
    "NotNumber=12abc\n"
    "TooBig=4294967296\n"
    "IBMSVC_VENDOR_NAME = IBM FlashSystem\n"
    "[Platform]\n"
    "PlatformType=1\n"
    "ClientName=backup-client-07\n"
    "MachineName=phys-host\n";

}  // namespace

TEST(ZQPlatformInfo, TildeAndPlainSectionReadTheSameValues) {
    auto info = ZQPlatformInfo::fromIniText(kIni);
    int a = -1, b = -1, c = -1;
    EXPECT_EQ(info->getRegInt("~HostModule", "IBMSVC_SMIS_PORT", &a), 1);
    EXPECT_EQ(info->getRegInt("HostModule", "IBMSVC_SMIS_PORT", &b), 1);
    EXPECT_EQ(info->getRegInt("hostmodule", "ibmsvc_smis_port", &c), 1);
    EXPECT_EQ(a, 6000);
    EXPECT_EQ(b, 6000);
    EXPECT_EQ(c, 6000);
    int hex = 0, negative = 0;
    EXPECT_EQ(info->getRegInt("~HostModule", "IBMSVC_USE_CG", &hex), 1);
    EXPECT_EQ(hex, 16);
    EXPECT_EQ(info->getRegInt("~HostModule", "Negative", &negative), 1);
    EXPECT_EQ(negative, -7);
}

TEST(ZQPlatformInfo, AbsentOrUnusableIntegerLeavesTheCallersDefault) {
    auto info = ZQPlatformInfo::fromIniText(kIni);
    for (const char* key : {"Missing", "Blank", "NotNumber", "TooBig", "IBMSVC_VENDOR_NAME"}) {
        int value = 42;
        EXPECT_EQ(info->getRegInt("~HostModule", key, &value), 0) << key;
        EXPECT_EQ(value, 42) << key;
    }
    int64_t wide = 0;
    EXPECT_NE(info->getNumber("HostModule", "TooBig", &wide), 0);
    EXPECT_EQ(wide, 4294967296LL);
    int value = 5;
    EXPECT_EQ(info->getRegInt("~HostModule/Other", "IBMSVC_SMIS_PORT", &value), 0);
    EXPECT_EQ(value, 5);
    EXPECT_EQ(info->getRegInt("~HostModule", "IBMSVC_SMIS_PORT", nullptr), 0);
}

TEST(ZQPlatformInfo, StringsAndOverrides) {
    auto info = ZQPlatformInfo::fromIniText(kIni);
    std::string text = "unchanged";
    EXPECT_EQ(info->getString("HostModule", "IBMSVC_PRODUCT_ID", &text), 0);
    EXPECT_EQ(text, "unchanged");
    EXPECT_NE(info->getString("HostModule", "IBMSVC_VENDOR_NAME", &text), 0);
    EXPECT_EQ(text, "IBM FlashSystem");
    EXPECT_NE(info->getString("HostModule", "Blank", &text), 0);
    EXPECT_EQ(text, "");

    info->set("~HostModule", "IBMSVC_VENDOR_NAME", "IBM");
    EXPECT_NE(info->getString("HostModule", "ibmsvc_vendor_name", &text), 0);
    EXPECT_EQ(text, "IBM");
    info->unset("HostModule", "IBMSVC_VENDOR_NAME");
    EXPECT_NE(info->getString("HostModule", "IBMSVC_VENDOR_NAME", &text), 0);
    EXPECT_EQ(text, "IBM FlashSystem");
}

TEST(ZQPlatformInfo, HostIdentity) {
    auto info = ZQPlatformInfo::fromIniText(kIni);
    EXPECT_EQ(info->getZQPlatformType() & 1u, 1u);
    char name[256];
    EXPECT_EQ(info->getHubServerClientName(name, sizeof(name)), 0);
    EXPECT_STREQ(name, "backup-client-07");
    char tiny[7];
    EXPECT_EQ(info->getHubServerClientName(tiny, sizeof(tiny)), 0);
    EXPECT_STREQ(tiny, "backup");
    EXPECT_EQ(info->getPhysicalMachine(), "phys-host");

    ZQPlatformInfo empty;
    EXPECT_EQ(empty.getZQPlatformType(), 0u);
    EXPECT_NE(empty.getHubServerClientName(name, sizeof(name)), 0);
    EXPECT_STREQ(name, "");
    EXPECT_FALSE(empty.getPhysicalMachine().empty());
}

TEST(ZQPlatformInfo, BrokenOrMissingFileGivesNoValuesAndALogLine) {
    auto log = std::make_shared<MemoryDebugLog>();
    ScopedService<zq::platform::DebugLogSink> sink(registry().debugLog, log);
    auto broken = ZQPlatformInfo::fromIniText("[HostModule]\nA=1\nthis line is no ini\n");
    int value = 9;
    EXPECT_EQ(broken->getRegInt("HostModule", "A", &value), 0);
    EXPECT_EQ(value, 9);
    EXPECT_TRUE(log->contains("syntax error at line 3"));

    auto missing = ZQPlatformInfo::fromIniFile("/nonexistent/zqso.ini");
    EXPECT_EQ(missing->getRegInt("HostModule", "A", &value), 0);
    EXPECT_TRUE(log->contains("Cannot read configuration file [/nonexistent/zqso.ini]"));
}

TEST(ZQPlatformInfo, ProcessDefaultComesFromZqsoConfig) {
    std::string path = std::string(ZQ_BINARY_DIR) + "/platform_info_test.ini";
    {
        std::ofstream out(path);
        out << "[HostModule]\nIBMSVC_ARRAY_ID=0000ABCDEF012345\n";
    }
    setenv("ZQSO_CONFIG", path.c_str(), 1);
    // An empty slot is filled from the environment on next use.
    ScopedService<ZQPlatformInfo> reload(registry().platformInfo, nullptr);
    std::string id;
    EXPECT_NE(zq::platform::platformInfo()->getString("HostModule", "IBMSVC_ARRAY_ID", &id), 0);
    EXPECT_EQ(id, "0000ABCDEF012345");
    unsetenv("ZQSO_CONFIG");
    std::remove(path.c_str());
}
