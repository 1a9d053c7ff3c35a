#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>

#include "ZqDeviceTree.h"
#include "ZqLinuxDevices.h"
#include "ZqPlatformRegistry.h"
#include "ZqSimulatedDevices.h"

using namespace zq::platform;

namespace {

const char* kUid = "60050768108001A2E800000000000012";

class SimulatedDevices : public ::testing::Test {
protected:
    void SetUp() override {
        auto disk = SimulatedDisk::volume("/dev/sdb", "IBM", "2145", "ABCDEF012345XYZ", kUid);
        source_->add(disk);
        SimulatedDisk plain;
        plain.name = "/dev/loop0";
        plain.scsi = false;
        source_->add(plain);
    }
    std::shared_ptr<StaticDeviceSource> source_ = std::make_shared<StaticDeviceSource>();
    ScopedService<DeviceBackend> backend_{registry().devices, std::make_shared<SimulatedDeviceBackend>(source_)};
};

}  // namespace

TEST_F(SimulatedDevices, AnswersStandardAndVpdInquiries) {
    CUxError error;
    auto dev = ZqDeviceTree::getDevice("/dev/sdb", &error);
    ASSERT_TRUE(dev) << error.AsString();
    auto* scsi = dev->scsiIface();
    ASSERT_NE(scsi, nullptr);
    uint8_t data[255];

    const uint8_t standard[6] = {0x12, 0, 0, 0, 255, 0};
    ASSERT_EQ(scsi->sendCdb(standard, 6, data, sizeof(data), 10), 36u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(data) + 8, 24), "IBM     2145            ");

    const uint8_t serial[6] = {0x12, 1, 0x80, 0, 255, 0};
    size_t n = scsi->sendCdb(serial, 6, data, sizeof(data), 10);
    ASSERT_EQ(n, 4u + 15u);
    EXPECT_EQ(data[1], 0x80);
    EXPECT_EQ(data[3], 15);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(data) + 4, 15), "ABCDEF012345XYZ");

    const uint8_t ident[6] = {0x12, 1, 0x83, 0, 255, 0};
    ASSERT_EQ(scsi->sendCdb(ident, 6, data, sizeof(data), 10), 24u);
    EXPECT_EQ(data[8], 0x60);
    EXPECT_EQ(data[23], 0x12);

    // The allocation length and the buffer both bound the transfer.
    const uint8_t shortAlloc[6] = {0x12, 0, 0, 0, 10, 0};
    EXPECT_EQ(scsi->sendCdb(shortAlloc, 6, data, sizeof(data), 10), 10u);
    EXPECT_EQ(scsi->sendCdb(standard, 6, data, 5, 10), 5u);
}

TEST_F(SimulatedDevices, RefusesWhatADiskWouldRefuse) {
    auto dev = ZqDeviceTree::getDevice("/dev/sdb", nullptr);
    ASSERT_TRUE(dev);
    uint8_t data[255];
    const uint8_t unknownPage[6] = {0x12, 1, 0xb0, 0, 255, 0};
    EXPECT_THROW(dev->scsiIface()->sendCdb(unknownPage, 6, data, sizeof(data), 10), ZqException);
    const uint8_t pageWithoutEvpd[6] = {0x12, 0, 0x80, 0, 255, 0};
    EXPECT_THROW(dev->scsiIface()->sendCdb(pageWithoutEvpd, 6, data, sizeof(data), 10), ZqException);
    const uint8_t read6[6] = {0x08, 0, 0, 0, 1, 0};
    EXPECT_THROW(dev->scsiIface()->sendCdb(read6, 6, data, sizeof(data), 10), ZqException);

    auto loop = ZqDeviceTree::getDevice("/dev/loop0", nullptr);
    ASSERT_TRUE(loop);
    EXPECT_EQ(loop->scsiIface(), nullptr);

    CUxError error;
    EXPECT_FALSE(ZqDeviceTree::getDevice("/dev/sdz", &error));
    EXPECT_TRUE(error.isSet());
    EXPECT_NE(error.AsString().find("/dev/sdz"), std::string::npos);
    EXPECT_FALSE(ZqDeviceTree::getDevice("", &error));
    EXPECT_TRUE(error.isSet());

    EXPECT_THROW(SimulatedDisk::volume("/dev/sdc", "IBM", "2145", "S", "60050768"), std::invalid_argument);
    EXPECT_THROW(SimulatedDisk::volume("/dev/sdc", "IBM", "2145", "S", std::string(31, '0') + "g"),
                 std::invalid_argument);
}

TEST(LinuxDevices, NodesThatAreNotScsiHaveNoScsiInterface) {
    LinuxDeviceBackend linux;
    CUxError error;
    EXPECT_FALSE(linux.open("/nonexistent/sdq", &error));
    EXPECT_TRUE(error.isSet());
    auto null = linux.open("/dev/null", &error);
    ASSERT_TRUE(null);
    EXPECT_EQ(null->scsiIface(), nullptr);
}
