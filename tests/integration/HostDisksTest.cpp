// The test host's disks against the simulated array: volumes mapped to the
// host's initiators show as disks only after rescans, identified by the
// engine's own device identification; a hypervisor host lists descriptors of
// its own disks.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DeviceIdentification.h"
#include "EngineSimFixture.h"
#include "ProviderTarget.h"

namespace {

using zqtest::EngineSimFixture;
using zqtest::TestOSUtil;

class HostDisksTest : public ::testing::Test {
protected:
    void SetUp() override { ZQ_NEEDS_SIMULATOR(); }

    // The host's device list for `hostId`, as the engine asks for it.
    std::vector<std::string> deviceList(const std::string& hostId) {
        std::vector<char> buf(16);
        int rc = fx.host().getHostDevices(hostId.c_str(), "IBM", '*', uint32_t(buf.size()), buf.data());
        if (rc > 0) {
            buf.assign(size_t(rc), '\0');
            rc = fx.host().getHostDevices(hostId.c_str(), "IBM", '*', uint32_t(buf.size()), buf.data());
        }
        EXPECT_EQ(rc, 0);
        std::vector<std::string> out;
        std::string text = buf.data();
        for (size_t start = 0; !text.empty() && start <= text.size();) {
            size_t end = text.find('*', start);
            out.push_back(text.substr(start, end - start));
            if (end == std::string::npos) break;
            start = end + 1;
        }
        return out;
    }

    void rescan(const std::string& hostId, const std::vector<std::string>& removed = {}) {
        std::vector<const char*> paths;
        for (const auto& p : removed) paths.push_back(p.c_str());
        paths.push_back(nullptr);
        const char* none[] = {nullptr};
        EXPECT_EQ(fx.host().rescanHostBus(hostId.c_str(), none, paths.data()), 0);
    }

    // LUN id of a device path or descriptor, as the engine identifies it.
    std::string lunOf(const std::string& device, std::string* arrayId = nullptr) {
        std::string vendor, product, array, lun;
        if (!ZQSOIBMSVCAPI::getDevArrayInfo(&fx.host(), nullptr, device.c_str(), vendor, product, array, lun, false,
                                            false))
            return "(not identified)";
        if (arrayId) *arrayId = array;
        return lun;
    }

    EngineSimFixture fx;
    const std::string me = TestOSUtil::machineHostName();
};

TEST_F(HostDisksTest, MappedVolumesShowAfterRescansAndGoAfterUnmapping) {
    fx.host().setInitiators({{"21:00:00:24:ff:4a:bc:de", false}});
    fx.addHost("testhost", {"21000024FF4ABCDE"});
    // A disk added by hand keeps its name; the array's disks skip it.
    fx.env().disks().add(zq::platform::SimulatedDisk::volume("/dev/sdb", "IBM", "2145", "020060C14A2C0001",
                                                               std::string(32, 'A')));
    fx.addSource("db01");
    fx.addSource("db02");
    auto first = fx.addSnapshot("db01", "db01_s0");
    auto second = fx.addSnapshot("db02", "db02_s0");

    fx.mapToHost("testhost", "db01_s0");
    EXPECT_EQ(deviceList(me), (std::vector<std::string>{"/dev/sdb"}));
    rescan(me);
    ASSERT_EQ(deviceList(me), (std::vector<std::string>{"/dev/sdb", "/dev/sdc"}));
    std::string arrayId;
    EXPECT_EQ(lunOf("/dev/sdc", &arrayId), first.target.uid);
    EXPECT_EQ(arrayId, fx.arrayId());

    // A slow disk: listed from the second rescan that sees it.
    fx.hostDisks().setRescansToAppear(2);
    fx.mapToHost("testhost", "db02_s0");
    rescan(me);
    EXPECT_EQ(deviceList(me).size(), 2u);
    rescan(me);
    ASSERT_EQ(deviceList(me), (std::vector<std::string>{"/dev/sdb", "/dev/sdc", "/dev/sdd"}));
    EXPECT_EQ(lunOf("/dev/sdd"), second.target.uid);

    // Unmapped on the array: the disk stays, stale, until the host rescans.
    fx.unmapFromHost("testhost", "db01_s0");
    EXPECT_EQ(lunOf("/dev/sdc"), first.target.uid);
    rescan(me);
    EXPECT_EQ(deviceList(me), (std::vector<std::string>{"/dev/sdb", "/dev/sdd"}));
    EXPECT_EQ(lunOf("/dev/sdc"), "(not identified)");
    EXPECT_EQ(fx.host().rescans().size(), 4u);
}

TEST_F(HostDisksTest, HypervisorAndLocalHostListTheirOwnDisks) {
    fx.host().setInitiators({{"iqn.1994-05.com.redhat:testhost", true}});
    fx.addHost("testhost", {"iqn.1994-05.com.redhat:testhost"});
    fx.addHost("esx01", {"10000090FA123456"});
    auto& esx = fx.addVirtualHost("esx01", {"10:00:00:90:fa:12:34:56", false});
    fx.addSource("vm01");
    fx.addSource("db01");
    fx.mapToHost("esx01", "vm01");
    fx.mapToHost("testhost", "db01");

    rescan("ESX01");
    EXPECT_EQ(esx.rescans(), 1u);
    EXPECT_EQ(fx.hostDisks().rescans(), 0u);
    auto hypervisor = deviceList("esx01");
    ASSERT_EQ(hypervisor.size(), 1u);
    EXPECT_EQ(hypervisor[0].rfind("{idatype:vmware", 0), 0u) << hypervisor[0];
    EXPECT_EQ(lunOf(hypervisor[0]), fx.volume("vm01")->uid);
    EXPECT_TRUE(deviceList(me).empty()) << "the local host has not rescanned";

    rescan(me);
    EXPECT_EQ(deviceList(me), (std::vector<std::string>{"/dev/sdb"}));
    EXPECT_EQ(lunOf("/dev/sdb"), fx.volume("db01")->uid);
    EXPECT_EQ(deviceList("esx01").size(), 1u);

    char name[64];
    uint16_t length = sizeof name;
    bool iscsi = true;
    ASSERT_EQ(fx.host().getVirtualHostInitiator("esx01", fx.arrayId().c_str(), name, &length, &iscsi), 1);
    EXPECT_STREQ(name, "10:00:00:90:fa:12:34:56");
    EXPECT_FALSE(iscsi);
}

}  // namespace
