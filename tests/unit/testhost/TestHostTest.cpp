#include <gtest/gtest.h>

#include "RecordBatch.h"

using namespace zqtest;
using zq::platform::SimulatedDisk;
using zq::platform::StaticDeviceSource;

TEST(TestOSUtil, ListsGrowToTheSizeAskedFor) {
    auto source = std::make_shared<StaticDeviceSource>();
    source->add(SimulatedDisk::volume("/dev/sdb", "IBM", "2145", "S1", std::string(32, 'A')));
    source->add(SimulatedDisk::volume("/dev/sdc", "IBM", "2145", "S2", std::string(32, 'B')));
    source->add(SimulatedDisk::volume("/dev/sdd", "NETAPP", "LUN", "S3", std::string(32, 'C')));
    TestOSUtil os;
    os.setDeviceSource(source);
    char small[4];
    EXPECT_EQ(os.getHostDevices("h", "IBM", '*', sizeof(small), small), 18);
    std::vector<char> buf(18);
    ASSERT_EQ(os.getHostDevices("h", "IBM", '*', uint32_t(buf.size()), buf.data()), 0);
    EXPECT_STREQ(buf.data(), "/dev/sdb*/dev/sdc");
    os.setDeviceListFailure(true);
    EXPECT_LT(os.getHostDevices("h", "IBM", '*', uint32_t(buf.size()), buf.data()), 0);

    os.setInitiators({{"iqn.1994-05.com.redhat:a", true}, {"10:00:00:90:fa:12:34:56", false}});
    uint16_t namesLen = 0, typesLen = 0, third = 9;
    EXPECT_EQ(os.getHostInitiators("h", "A", nullptr, &namesLen, nullptr, &typesLen, &third), 0);
    EXPECT_EQ(namesLen, 49);  // with the terminator
    EXPECT_EQ(typesLen, 2);
    std::vector<char> names(namesLen), types(typesLen);
    ASSERT_EQ(os.getHostInitiators("h", "A", names.data(), &namesLen, types.data(), &typesLen, &third), 1);
    EXPECT_STREQ(names.data(), "iqn.1994-05.com.redhat:a,10:00:00:90:fa:12:34:56");
    EXPECT_EQ(types[0], 1);
    EXPECT_EQ(types[1], 0);

    os.addArray("0000AAAA", "IBM FlashSystem", TestOSUtil::infoText("0000AAAA", "10.0.0.1", "u", "p", 20));
    uint32_t size = 8;
    std::vector<char> info(size);
    int needed = os.getArrayLoginInfo("0000AAAA", info.data(), &size);
    ASSERT_GT(needed, 0);
    info.resize(size);
    EXPECT_EQ(os.getArrayLoginInfo("0000AAAA", info.data(), &size), 0);
    EXPECT_NE(std::string(info.data()).find("hostName:10.0.0.1"), std::string::npos);
    EXPECT_GT(os.getArrayLoginInfo("0000BBBB", info.data(), &size), 0);
}
