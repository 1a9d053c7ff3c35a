// Host discovery against a scripted host: initiators of one protocol and
// their normal form, bounded buffer-size questions, device lists of physical
// and virtual hosts, and the host facts a batch must agree on.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "EngineEnvironment.h"
#include "HostDiscovery.h"
#include "RecordBatch.h"

using namespace ZQSOIBMSVCAPI;
using zqtest::RecordBatch;
using zqtest::TestOSUtil;

namespace {

// A host whose size answers a test scripts.
class SizingHost : public TestOSUtil {
public:
    std::function<int(uint32_t size)> deviceAnswer;
    std::function<int(uint16_t* len)> initiatorAnswer;
    std::vector<uint32_t> deviceSizes;
    int initiatorCalls = 0;

    int getHostDevices(const char* hostId, const char* vendor, char separator, uint32_t size, char* buf) override {
        deviceSizes.push_back(size);
        if (deviceAnswer) return deviceAnswer(size);
        return TestOSUtil::getHostDevices(hostId, vendor, separator, size, buf);
    }
    int getVirtualHostInitiator(const char* hostId, const char* arrayId, char* buf, uint16_t* len,
                                bool* isIscsi) override {
        ++initiatorCalls;
        if (initiatorAnswer) return initiatorAnswer(len);
        return TestOSUtil::getVirtualHostInitiator(hostId, arrayId, buf, len, isIscsi);
    }
};

class HostDiscovery : public ::testing::Test {
protected:
    zqtest::EngineEnvironment env;
    SizingHost host;
    RecordBatch batch{host, 1};
    ZQSO::SnapInfo* record() { return batch.records()[0]; }
};

TEST_F(HostDiscovery, InitiatorsOfBothProtocolsEachInItsNormalForm) {
    std::vector<std::string> ids;
    bool iscsi = false;
    // The first type byte gives the list's protocol; a host with FC and
    // iSCSI ports offers both, so that the array finds each host object that
    // holds one. Names without a type byte or empty are left out.
    host.setInitiators({{"iqn.1994-05.com.RedHat:Db01", true}, {"21:00:00:24:ff:4a:bc:de", false}, {"", true},
                        {"iqn.2001-04.com.example:b", true}});
    host.setInitiatorTypeBytes(std::vector<uint8_t>{1, 0, 1});
    ASSERT_EQ(detectHbalist(record(), &host, "h", "a", ids, iscsi), 1);
    EXPECT_TRUE(iscsi);
    EXPECT_EQ(ids, (std::vector<std::string>{"iqn.1994-05.com.RedHat:Db01", "21:00:00:24:ff:4a:bc:de"}));
    EXPECT_EQ(convertHbaList(record(), ids, true), "iqn.1994-05.com.RedHat:Db01,21000024FF4ABCDE");
    EXPECT_EQ(convertHbaList(record(), ids, false), "iqn.1994-05.com.RedHat:Db01,21000024FF4ABCDE");
    EXPECT_TRUE(batch[0].hasLine("Initiator [iqn.2001-04.com.example:b] has no type, it is left out", 2));

    host.setInitiators({{"21:00:00:24:ff:4a:bc:de", false}, {"0x10000090FA123456", false},
                        {"10-00-00-90-fa-12-34-57", false}, {"21:00:00:24:ff", false}});
    host.setInitiatorTypeBytes(std::nullopt);
    ASSERT_EQ(detectHbalist(record(), &host, "h", "a", ids, iscsi), 1);
    EXPECT_FALSE(iscsi);
    EXPECT_EQ(ids.size(), 3u);
    EXPECT_TRUE(batch[0].hasLine("FC initiator [21:00:00:24:ff] is not a WWPN, it is left out", 2));
    EXPECT_EQ(convertHbaList(record(), ids, false), "21000024FF4ABCDE,10000090FA123456,10000090FA123457");

    // No type bytes at all, or no initiator: detection fails.
    host.setInitiatorTypeBytes(std::vector<uint8_t>{});
    EXPECT_EQ(detectHbalist(record(), &host, "h", "a", ids, iscsi), 0);
    host.setInitiatorTypeBytes(std::nullopt);
    host.setInitiators({});
    EXPECT_EQ(detectHbalist(record(), &host, "h", "a", ids, iscsi), 0);
    EXPECT_TRUE(batch[0].hasLine("Error: Unable to detect initiator info.", 2));
}

TEST_F(HostDiscovery, SizesAreAskedForAgainOnlyWhileTheyGrow) {
    std::string name;
    bool iscsi = true;
    host.setVirtualHostInitiator(TestOSUtil::Initiator{"10:00:00:90:fa:12:34:56", false});
    ASSERT_EQ(detectHBA(record(), "a", &host, "esx01", name, iscsi), 1);
    EXPECT_EQ(name, "10000090FA123456");
    EXPECT_FALSE(iscsi);
    EXPECT_TRUE(batch[0].hasLine("Detected FC initiator port 10:00:00:90:fa:12:34:56", 0));

    host.initiatorCalls = 0;
    host.initiatorAnswer = [](uint16_t* len) {  // always asks for more
        *len = uint16_t(*len + 100);
        return 0;
    };
    EXPECT_EQ(detectHBA(record(), "a", &host, "esx01", name, iscsi), 0);
    EXPECT_EQ(host.initiatorCalls, 3);
    host.initiatorCalls = 0;
    host.initiatorAnswer = [](uint16_t* len) { return *len = 512, 0; };  // asks for less
    EXPECT_EQ(detectHBA(record(), "a", &host, "esx01", name, iscsi), 0);
    EXPECT_EQ(host.initiatorCalls, 1);

    std::vector<std::string> devices;
    host.setDeviceListText(std::string(9999, 'x'));
    ASSERT_EQ(getDeviceList(record(), &host, "h", false, devices), 1);
    EXPECT_EQ(host.deviceSizes, (std::vector<uint32_t>{4096, 10000}));
    host.deviceSizes.clear();
    host.deviceAnswer = [](uint32_t size) { return int(size * 2); };
    EXPECT_EQ(getDeviceList(record(), &host, "h", false, devices), 0);
    EXPECT_EQ(host.deviceSizes, (std::vector<uint32_t>{4096, 8192, 16384}));
    host.deviceSizes.clear();
    host.deviceAnswer = [](uint32_t) { return 64 << 20; };  // beyond any believable list
    EXPECT_EQ(getDeviceList(record(), &host, "h", false, devices), 0);
    EXPECT_EQ(host.deviceSizes.size(), 1u);
    EXPECT_TRUE(batch[0].hasLine("Unable to get the device list", 2));
}

TEST_F(HostDiscovery, DeviceListsOfPhysicalAndVirtualHosts) {
    std::vector<std::string> devices;
    host.setDeviceListText(std::string("/dev/sdb*/dev/sdc"));
    ASSERT_EQ(getDeviceList(record(), &host, "h", false, devices), 1);
    EXPECT_EQ(devices, (std::vector<std::string>{"/dev/sdb", "/dev/sdc"}));

    const std::string first = "{idatype:vmware,name:a*b,lunuuid:0200000000600507}";
    const std::string second = "{idatype:vmware,name:c,lunuuid:0200000000600508}";
    host.setDeviceListText(first + "*" + second);
    ASSERT_EQ(getDeviceList(record(), &host, "esx01", true, devices), 1);
    EXPECT_EQ(devices, (std::vector<std::string>{first, second}));

    host.setDeviceListText(std::string());
    EXPECT_EQ(getDeviceList(record(), &host, "h", false, devices), 0);
    EXPECT_EQ(queryDeviceList(record(), &host, "h", devices), 0);
    EXPECT_TRUE(batch[0].hasLine("Device list is empty", 2));
    host.setDeviceListFailure(true);
    EXPECT_EQ(queryDeviceList(record(), &host, "h", devices), -1);
}

TEST_F(HostDiscovery, ABatchNamesOneHost) {
    std::string id;
    ASSERT_EQ(getHostIdentifier(record(), id), 1);
    EXPECT_EQ(id, TestOSUtil::machineHostName());
    batch[0].setSourceDevicePath("{idatype:vmware,name:vm01}");
    EXPECT_EQ(getHostIdentifier(record(), id), 0);
    EXPECT_TRUE(batch[0].hasLine("Error: ZQSOIBMSVCAPI::getHostIdentifier Unable to get the host identifier", 2));
    batch[0].setVirtualHostName("esx01");
    ASSERT_EQ(getHostIdentifier(record(), id), 1);
    EXPECT_EQ(id, "esx01");

    RecordBatch three(host, 3);
    for (size_t i = 0; i < 3; ++i) {
        three[i].setSourceDevicePath("{idatype:vmware,name:vm0" + std::to_string(i) + "}");
        three[i].setVirtualHostName(i == 2 ? "ESX01" : "esx01");
    }
    EXPECT_TRUE(checkBatchHosts(three.records(), three.count(), "f"));
    three[2].setVirtualHostName("esx02");
    EXPECT_FALSE(checkBatchHosts(three.records(), three.count(), "f"));
    EXPECT_EQ(three[0].errorCode(), 62002u);
    // Every record's hypervisor is read: one that cannot be is no reason to
    // map the batch to another record's host.
    RecordBatch unnamed(host, 2);
    for (size_t i = 0; i < 2; ++i) unnamed[i].setSourceDevicePath("{idatype:vmware,name:vm0" + std::to_string(i) + "}");
    unnamed[1].setVirtualHostName("esxB");
    EXPECT_FALSE(checkBatchHosts(unnamed.records(), unnamed.count(), "f"));
    EXPECT_EQ(unnamed[0].errorCode(), 62002u);
    EXPECT_TRUE(unnamed[0].hasLine("f: The hypervisor host of record [1] could not be read", 2));
    unnamed[0].setVirtualHostName("esxB");
    RecordBatch secondUnnamed(host, 2);
    secondUnnamed[0].setSourceDevicePath("{idatype:vmware,name:vm0}");
    secondUnnamed[0].setVirtualHostName("esxA");
    secondUnnamed[1].setSourceDevicePath("{idatype:vmware,name:vm1}");
    EXPECT_FALSE(checkBatchHosts(secondUnnamed.records(), secondUnnamed.count(), "f"));
    EXPECT_TRUE(secondUnnamed[0].hasLine("f: The hypervisor host of record [2] could not be read", 2));
    three[1].setSourceDevicePath("/dev/sdb");
    RecordBatch mixed(host, 2);
    mixed[0].setSourceDevicePath("/dev/sdb");
    mixed[1].setSourceDevicePath("{idatype:vmware,name:vm01}");
    mixed[1].setVirtualHostName("esx01");
    EXPECT_FALSE(checkBatchHosts(mixed.records(), mixed.count(), "f"));
    EXPECT_TRUE(mixed[0].hasLine("f: The batch mixes virtual-machine and physical devices", 2));
}

}  // namespace
