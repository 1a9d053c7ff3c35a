// The simulated host back end against the simulator in-process, reached
// through its side channel over HTTPS like an out-of-process svcsim.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "SimHostBackend.h"
#include "SimulatorFixture.h"
#include "ZqDeviceTree.h"
#include "ZqPlatformRegistry.h"

using namespace svcsnap;
namespace fs = std::filesystem;

namespace {

const char* kPassword = "side-Channel-pw9";

class SimHostTest : public ::testing::Test {
protected:
    static zqtest::SimulatorFixture::Options options() {
        zqtest::SimulatorFixture::Options o;
        o.credentials.password = kPassword;
        return o;
    }

    SimHostTest() : sim_(options()) {
        char pattern[] = "/tmp/svcsnap-simhost-XXXXXX";
        dir_ = mkdtemp(pattern);
        array_.arrayId = "0000020060C14A2C";
        array_.address = "127.0.0.1";
        array_.port = sim_.httpsPort();
        array_.https = true;
        array_.user = "admin";
        array_.password = kPassword;
    }
    ~SimHostTest() override { fs::remove_all(dir_); }

    std::unique_ptr<SimHostBackend> host(const ArrayEntry& array, unsigned rescans = 1, bool multipath = false) {
        SimHostBackend::Settings s;
        s.initiators = {{"21:00:00:24:ff:4a:bc:de", false}};
        s.rescansToAppear = rescans;
        s.multipath = multipath;
        s.statePath = dir_ + "/state/hostdisks.json";
        return std::make_unique<SimHostBackend>(s, sideChannelFeed(array, 5000));
    }

    std::string uidOn(const std::string& device) {
        CUxError error;
        auto dev = ZqDeviceTree::getDevice(device, &error);
        if (!dev) return "";
        std::vector<uint8_t> page(255);
        uint8_t cdb[6] = {0x12, 1, 0x83, 0, 255, 0};
        page.resize(dev->scsiIface()->sendCdb(cdb, 6, page.data(), page.size(), 10));
        return zq::platform::lunUidOfPage83(page);
    }

    zqtest::SimulatorFixture sim_;
    std::string dir_;
    ArrayEntry array_;
};

}  // namespace

TEST_F(SimHostTest, DisksOfTheSimulatorsHostObjectAcrossProcesses) {
    ASSERT_EQ(sim_.sim().addHost("agent1", {"21000024FF4ABCDE"}).rc, 0u);
    ASSERT_EQ(sim_.sim().addVolume("db01", "Pool0", 1 << 30).rc, 0u);
    ASSERT_EQ(sim_.sim().addVolume("db02", "Pool0", 1 << 30).rc, 0u);
    ASSERT_EQ(sim_.sim().mapToHost("agent1", "db01"), 0u);

    auto first = host(array_, 2);
    EXPECT_TRUE(first->devices("IBM").empty());
    ASSERT_TRUE(first->rescan({})) << first->lastError();
    EXPECT_TRUE(first->devices("IBM").empty()) << "the disk needs two rescans";
    ASSERT_TRUE(first->rescan({}));
    ASSERT_EQ(first->devices("IBM"), (std::vector<std::string>{"/dev/sdb"}));
    EXPECT_TRUE(first->devices("NETAPP").empty());
    struct stat st {};
    ASSERT_EQ(stat((dir_ + "/state/hostdisks.json").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    // The next command's host sees the same disks without a rescan, and the
    // engine's inquiries reach them through its device back end.
    auto second = host(array_, 2);
    ASSERT_EQ(second->devices("IBM"), (std::vector<std::string>{"/dev/sdb"}));
    zq::platform::ScopedService<zq::platform::DeviceBackend> devices(zq::platform::registry().devices,
                                                                     second->deviceBackend());
    EXPECT_EQ(uidOn("/dev/sdb"), sim_.volumeUid("db01"));
    ASSERT_EQ(sim_.sim().mapToHost("agent1", "db02"), 0u);
    ASSERT_TRUE(second->rescan({}));
    ASSERT_TRUE(second->rescan({}));
    auto disks = first->disks();
    ASSERT_EQ(disks.size(), 2u) << "the first host reads what the second wrote";
    EXPECT_EQ(disks[1].volumeName, "db02");
    EXPECT_EQ(disks[1].host, "agent1");
}

TEST_F(SimHostTest, FailedRescansChangeNothingAndNameNoSecret) {
    ASSERT_EQ(sim_.sim().addHost("agent1", {"21000024FF4ABCDE"}).rc, 0u);
    ASSERT_EQ(sim_.sim().addVolume("db01", "Pool0", 1 << 30).rc, 0u);
    ASSERT_EQ(sim_.sim().mapToHost("agent1", "db01"), 0u);
    ASSERT_TRUE(host(array_)->rescan({}));

    ArrayEntry wrong = array_;
    wrong.password = "not-" + std::string(kPassword);
    auto refused = host(wrong);
    ASSERT_EQ(sim_.sim().addVolume("db02", "Pool0", 1 << 30).rc, 0u);
    ASSERT_EQ(sim_.sim().mapToHost("agent1", "db02"), 0u);
    EXPECT_FALSE(refused->rescan({}));
    EXPECT_NE(refused->lastError().find("401"), std::string::npos) << refused->lastError();
    EXPECT_EQ(refused->lastError().find(wrong.password), std::string::npos);
    EXPECT_EQ(refused->devices("IBM").size(), 1u);

    ArrayEntry away = array_;
    away.port = 1;
    auto unreachable = host(away);
    EXPECT_FALSE(unreachable->rescan({"/dev/sdb"}));
    EXPECT_NE(unreachable->lastError().find("cannot reach"), std::string::npos) << unreachable->lastError();
    EXPECT_EQ(unreachable->devices("IBM").size(), 1u) << "a failed rescan removes nothing";

    // A damaged state file is the host forgetting its disks, not a failure.
    std::ofstream(dir_ + "/state/hostdisks.json") << "{not json";
    auto fresh = host(array_);
    EXPECT_TRUE(fresh->devices("IBM").empty());
    ASSERT_TRUE(fresh->rescan({}));
    EXPECT_EQ(fresh->devices("IBM").size(), 2u);
}

// What one command's host did to its disks, the next one finds: a disk read
// again keeps what it found there, multipath holders stay.
TEST_F(SimHostTest, DisksReadAgainAndMultipathHoldersCarryOver) {
    ASSERT_EQ(sim_.sim().addHost("agent1", {"21000024FF4ABCDE"}).rc, 0u);
    ASSERT_EQ(sim_.sim().addVolume("db01", "Pool0", 1 << 30).rc, 0u);
    ASSERT_EQ(sim_.sim().addVolume("db02", "Pool0", 1 << 30).rc, 0u);
    ASSERT_EQ(sim_.sim().mapToHost("agent1", "db01"), 0u);
    auto first = host(array_, 1, true);
    ASSERT_TRUE(first->rescan({})) << first->lastError();
    ASSERT_EQ(first->devices("IBM"), (std::vector<std::string>{"/dev/mapper/mpatha"}));

    // db02 takes db01's LUN; the node stays and is read again.
    ASSERT_EQ(sim_.sim().withModel([](arraysim::Model& m, int64_t) {
        return m.state.unmapVolume(m.state.hostByName("agent1")->id, m.state.volumeByName("db01")->id);
    }),
              0u);
    ASSERT_EQ(sim_.sim().mapToHost("agent1", "db02"), 0u);
    ASSERT_TRUE(first->rescan({}));
    EXPECT_EQ(first->disks()[0].volumeName, "db01") << "the host still holds what it found first";
    auto second = host(array_, 1, true);
    zq::platform::ScopedService<zq::platform::DeviceBackend> devices(zq::platform::registry().devices,
                                                                     second->deviceBackend());
    EXPECT_EQ(uidOn("/dev/mapper/mpatha"), sim_.volumeUid("db02"));
    CUxError error;
    std::string why;
    ASSERT_TRUE(ZqDeviceTree::getDevice("/dev/mapper/mpatha", &error)->reread(&why)) << why;
    auto third = host(array_, 1, true);
    ASSERT_EQ(third->disks().size(), 1u);
    EXPECT_EQ(third->disks()[0].volumeName, "db02");
    EXPECT_EQ(third->disks()[0].paths, (std::vector<std::string>{"/dev/sdb", "/dev/sdc"}));
    EXPECT_EQ(third->paths("/dev/mapper/mpatha"), (std::vector<std::string>{"/dev/sdb", "/dev/sdc"}));
    EXPECT_TRUE(third->paths("/dev/sdz").empty());
}
