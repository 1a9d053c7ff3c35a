#include <gtest/gtest.h>

#include <cstring>

#include "RecordBatch.h"

using namespace zqtest;
using zq::platform::SimulatedDisk;
using zq::platform::StaticDeviceSource;

TEST(TestSnapInfo, BuffersFollowTheHostConvention) {
    TestSnapInfo record;
    record.setSourceDevicePath("/dev/sdb");
    char buf[16];
    uint16_t len = sizeof(buf);
    ASSERT_EQ(record.getSourceDevicePath(buf, &len), 0);
    EXPECT_STREQ(buf, "/dev/sdb");
    EXPECT_EQ(len, 8);

    record.setMeta(1, std::string(40, 'u'));
    len = sizeof(buf);
    EXPECT_EQ(record.getMetaData(1, buf, &len), 1);  // too small: the size needed comes back
    EXPECT_EQ(len, 41);
    EXPECT_EQ(record.setMetaData(1, nullptr), 0);
    EXPECT_FALSE(record.meta(1));
    len = sizeof(buf);
    EXPECT_EQ(record.getMetaData(1, buf, &len), 1);

    int value = 77;
    EXPECT_NE(record.getConfigInt("SMCONFIG_NAME_SMIS_SERVER_PORT", &value), 0);
    EXPECT_EQ(value, 77);
    record.setScsiPage(0, {1, 2, 3});
    const unsigned char* page = record.getScsiPage(0);
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(page[2], 3);
    EXPECT_EQ(page[254], 0);
    EXPECT_EQ(record.getScsiPage(128), nullptr);
}

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

TEST(TestOSUtil, RemoteRunCarriesEveryRecordThereAndBack) {
    TestOSUtil caller("client-a"), proxy("proxy-b");
    caller.addProxy("PROXY-B", &proxy);
    proxy.addArray("0000AAAA", "IBM FlashSystem", "{arrayId:0000AAAA}");
    std::vector<std::string> seen;
    proxy.setEngine([&](ZQSO::SnapInfo** records, int16_t count, ZQSO::ZQOSUtil* os) {
        EXPECT_EQ(os, &proxy);
        for (int i = 0; i < count; ++i) {
            std::string text;
            records[i]->getMetaDataText(61, text);
            seen.push_back(text);
            records[i]->setStatus(ZQSO::SNAP_STATUS_PREPARED);
            records[i]->setError(62005, "from proxy");
            records[i]->logFormatted(1, "proxy", "record %d", i);
            records[i]->setMetaData(60, "0");
            EXPECT_EQ(records[i]->selectArray("0000AAAA"), 0);  // the proxy's own arrays
        }
        return 0;
    });
    RecordBatch batch(caller, 3);
    for (size_t i = 0; i < batch.size(); ++i) {
        batch[i].setMeta(61, "msg" + std::to_string(i));
        batch[i].log(0, "before");
    }
    EXPECT_FALSE(caller.executeRemote("unknown-host"));
    ASSERT_TRUE(caller.executeRemote("proxy-B"));
    EXPECT_EQ(seen, (std::vector<std::string>{"msg0", "msg1", "msg2"}));
    for (size_t i = 0; i < batch.size(); ++i) {
        EXPECT_EQ(batch[i].status(), ZQSO::SNAP_STATUS_PREPARED);
        EXPECT_EQ(batch[i].errorCode(), 62005u);
        EXPECT_EQ(batch[i].meta(60).value_or(""), "0");
        auto lines = batch[i].lines();
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_EQ(lines[0].text, "before");
        EXPECT_EQ(lines[1].text, "record " + std::to_string(i));
    }
    EXPECT_EQ(caller.remoteRuns(), (std::vector<std::string>{"unknown-host", "proxy-B"}));
}
