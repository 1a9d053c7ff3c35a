#include <gtest/gtest.h>

#include "RecordBatch.h"
#include "TestSnapCatalogue.h"
#include "ZqPlatformRegistry.h"

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
    // A reply whose second name has no type byte.
    os.setInitiatorTypeBytes(std::vector<uint8_t>{1});
    namesLen = typesLen = 0;
    os.getHostInitiators("h", "A", nullptr, &namesLen, nullptr, &typesLen, &third);
    EXPECT_EQ(typesLen, 1);
    ASSERT_EQ(os.getHostInitiators("h", "A", names.data(), &namesLen, types.data(), &typesLen, &third), 1);
    EXPECT_EQ(typesLen, 1);
    os.setInitiatorTypeBytes(std::nullopt);

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

TEST(TestSnapCatalogue, AnswersTheCopiesOfTheEngineAndControlHostAsked) {
    auto catalogue = std::make_shared<TestSnapCatalogue>();
    zq::platform::ScopedService<zq::platform::SnapCatalogue> slot(zq::platform::registry().snapCatalogue, catalogue);
    catalogue->addCopy(20, 7, "0000AA*4*svc*src*p*x*UID1*tp*2");
    catalogue->addCopy(21, 7, "0000AA*5*svc*src*p*x*UID2*tp*1");
    catalogue->addCopy(20, 8, "0000AA*4*svc*src*p*x*UID3*tp*2");
    TestOSUtil os;
    RecordBatch batch(os, 2);
    batch[0].setControlHostId(7);
    batch[0].setMeta(1, "0000AA*4*svc*src*p*x*UID4*tp*0");
    EXPECT_TRUE(catalogue->addFromRecord(20, batch[0]));
    EXPECT_FALSE(catalogue->addFromRecord(20, batch[1]));  // nothing prepared

    auto ask = [](int engine, std::vector<int> hosts) {
        SMVolSnapInfo q;
        q.setSnapShotEngineId(engine);
        for (int h : hosts) {
            SMControlHostInfo host;
            host.setControlHostId(h);
            q.addControlHost(host);
        }
        q.setRetrieveValidFlags(6144);
        std::vector<std::string> found;
        if (ZQMMSnapAPI(2).getVolumeSnaps(q) != 0) return std::vector<std::string>{"failed"};
        for (const auto& m : q.getMetaDataList()) {
            EXPECT_EQ(m.getMetaDataType(), 1);
            found.push_back(m.getMetaData());
        }
        return found;
    };
    EXPECT_EQ(ask(20, {7}), (std::vector<std::string>{"0000AA*4*svc*src*p*x*UID1*tp*2", "0000AA*4*svc*src*p*x*UID4*tp*0"}));
    EXPECT_EQ(ask(20, {7, 8}).size(), 3u);
    EXPECT_EQ(ask(21, {8}).size(), 0u);
    catalogue->removeCopy("0000AA*4*svc*src*p*x*UID1*tp*2");
    EXPECT_EQ(ask(20, {7}), (std::vector<std::string>{"0000AA*4*svc*src*p*x*UID4*tp*0"}));

    auto queries = catalogue->queries();
    ASSERT_EQ(queries.size(), 4u);
    EXPECT_EQ(queries[1].controlHosts, (std::vector<int>{7, 8}));
    EXPECT_EQ(queries[1].apiVersion, 2);
    EXPECT_EQ(queries[1].retrieveFlags, 6144u);
}
