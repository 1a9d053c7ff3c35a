#include <gtest/gtest.h>

#include "SimTestUtil.h"

using namespace simtest;

namespace {
std::string text(const std::vector<uint8_t>& d, size_t at, size_t len) {
    return std::string(d.begin() + long(at), d.begin() + long(at + len));
}
}  // namespace

TEST(HostDisks, InquiryDataOfMappedVolumesAsAHostReadsThem) {
    SimBench b;
    ASSERT_TRUE(b.sim.addVolume("data", "Pool0", 1 << 30).ok());
    ASSERT_TRUE(b.sim.addVolume("other", "Pool0", 1 << 30).ok());
    ASSERT_TRUE(b.sim.addHost("web", {"2100000E1E000001", "2100000E1E000002"}).ok());
    ASSERT_TRUE(b.sim.addHost("db", {"2100000E1E000003"}).ok());
    ASSERT_EQ(b.sim.mapToHost("web", "data", 5), 0u);
    ASSERT_EQ(b.sim.mapToHost("db", "other"), 0u);

    auto disks = b.sim.hostDisks({"21:00:00:0e:1e:00:00:02"});
    ASSERT_EQ(disks.size(), 1u) << "only the host holding the initiator";
    const HostDisk& d = disks[0];
    EXPECT_EQ(d.host, "web");
    EXPECT_EQ(d.lun, 5u);
    EXPECT_EQ(d.volumeName, "data");

    ASSERT_GE(d.standardInquiry.size(), 36u);
    EXPECT_EQ(d.standardInquiry[0] & 0x1F, 0);
    EXPECT_EQ(text(d.standardInquiry, 8, 8), "IBM     ");
    EXPECT_EQ(text(d.standardInquiry, 16, 16), "2145            ");
    EXPECT_EQ(d.standardInquiry[4] + 5u, d.standardInquiry.size());

    ASSERT_GE(d.unitSerialPage.size(), 16u);
    EXPECT_EQ(d.unitSerialPage[1], 0x80);
    size_t serialLen = size_t(d.unitSerialPage[2]) << 8 | d.unitSerialPage[3];
    EXPECT_EQ(serialLen + 4, d.unitSerialPage.size());
    // The engine's array id is "0000" + the first 12 serial characters.
    EXPECT_EQ("0000" + text(d.unitSerialPage, 4, 12), "0000020060C14A2C");

    ASSERT_GE(d.deviceIdPage.size(), 24u);
    EXPECT_EQ(d.deviceIdPage[1], 0x83);
    EXPECT_EQ(d.deviceIdPage[5] & 0x0F, 3) << "first designator is NAA";
    EXPECT_EQ(d.deviceIdPage[7], 16);
    std::string uidFromPage;
    for (size_t i = 8; i < 24; ++i) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02X", d.deviceIdPage[i]);
        uidFromPage += hex;
    }
    EXPECT_EQ(uidFromPage, b.uid("data"));
    size_t pageLen = size_t(d.deviceIdPage[2]) << 8 | d.deviceIdPage[3];
    EXPECT_EQ(pageLen + 4, d.deviceIdPage.size());

    EXPECT_TRUE(b.sim.hostDisks({"2100000E1E0000FF"}).empty());
    EXPECT_EQ(b.sim.hostDisks({"2100000E1E000001", "2100000E1E000003"}).size(), 2u);
}
