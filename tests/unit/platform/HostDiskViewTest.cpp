#include <gtest/gtest.h>

#include <stdexcept>

#include "ZqDeviceTree.h"
#include "ZqHostDiskView.h"
#include "ZqPlatformRegistry.h"

using namespace zq::platform;

namespace {

std::string uidOf(int n) {
    char text[40];
    std::snprintf(text, sizeof text, "6005076810800AA2E8000000000000%02X", n);
    return text;
}

// The array side: which volume each host object holds at which LUN.
class FakeArray {
public:
    void map(const std::string& host, uint32_t lun, int volume) { luns_[{host, lun}] = volume; }
    void unmap(const std::string& host, uint32_t lun) { luns_.erase({host, lun}); }
    void setFailing(bool failing) { failing_ = failing; }
    std::vector<std::string> asked() const { return asked_; }

    HostDiskView::Feed feed() {
        return [this](const std::vector<std::string>& initiators) {
            asked_ = initiators;
            if (failing_) throw std::runtime_error("401 Unauthorized");
            std::vector<HostLun> out;
            for (const auto& [key, volume] : luns_) {
                HostLun lun;
                lun.host = key.first;
                lun.lun = key.second;
                lun.volumeName = "vol" + std::to_string(volume);
                lun.uid = uidOf(volume);
                lun.disk = SimulatedDisk::volume("", "IBM", "2145", "020060C14A2C" + std::to_string(volume), lun.uid);
                out.push_back(lun);
            }
            return out;
        };
    }

private:
    std::map<std::pair<std::string, uint32_t>, int> luns_;
    std::vector<std::string> asked_;
    bool failing_ = false;
};

std::vector<std::string> names(const HostDiskView& view) {
    std::vector<std::string> out;
    for (const auto& d : view.disks()) out.push_back(d.name);
    return out;
}

// The LUN id a host reads from the disk through the device back end.
std::string uidReadFrom(const std::string& device) {
    CUxError error;
    auto dev = ZqDeviceTree::getDevice(device, &error);
    if (!dev) return "(" + error.AsString() + ")";
    uint8_t cdb[6] = {0x12, 1, 0x83, 0, 255, 0};
    std::vector<uint8_t> page(255);
    page.resize(dev->scsiIface()->sendCdb(cdb, 6, page.data(), page.size(), 10));
    return lunUidOfPage83(page);
}

}  // namespace

TEST(HostDiskView, DisksComeAndGoOnlyWithRescans) {
    FakeArray array;
    auto view = std::make_shared<HostDiskView>(array.feed(), [] { return std::vector<std::string>{"10000090FA000001"}; });
    ScopedService<DeviceBackend> backend(registry().devices, std::make_shared<SimulatedDeviceBackend>(view));

    array.map("h1", 0, 1);
    EXPECT_TRUE(names(*view).empty()) << "mapped, not yet rescanned";
    view->rescan();
    EXPECT_EQ(array.asked(), (std::vector<std::string>{"10000090FA000001"}));
    EXPECT_EQ(names(*view), (std::vector<std::string>{"/dev/sdb"}));
    EXPECT_EQ(uidReadFrom("/dev/sdb"), uidOf(1));

    // A stale disk: the mapping is gone, the host still lists it and reads
    // the old identity until it rescans.
    array.unmap("h1", 0);
    EXPECT_EQ(uidReadFrom("/dev/sdb"), uidOf(1));
    view->rescan();
    EXPECT_TRUE(names(*view).empty());
    EXPECT_NE(uidReadFrom("/dev/sdb"), uidOf(1));

    // Names belong to host object and LUN: mapped again, the same name; a
    // second LUN gets the next one, listed in name order.
    array.map("h1", 3, 2);
    array.map("h1", 0, 1);
    view->rescan();
    EXPECT_EQ(names(*view), (std::vector<std::string>{"/dev/sdb", "/dev/sdc"}));
    EXPECT_EQ(uidReadFrom("/dev/sdc"), uidOf(2));

    // Another volume at LUN 0: same name, its own identity.
    array.unmap("h1", 0);
    array.map("h1", 0, 7);
    view->rescan();
    EXPECT_EQ(uidReadFrom("/dev/sdb"), uidOf(7));
    EXPECT_EQ(view->rescans(), 4u);
}

TEST(HostDiskView, SlowDisksRemovedPathsAndFailedRescans) {
    FakeArray array;
    HostDiskView::Options options;
    options.rescansToAppear = 2;
    options.nameTaken = [](const std::string& name) { return name == "/dev/sdb"; };
    HostDiskView view(array.feed(), nullptr, options);
    view.setRescansToAppear("vol3", HostDiskView::kNever);
    view.setRescansToAppear(uidOf(4), 4);
    array.map("h1", 0, 1);
    array.map("h1", 1, 3);
    array.map("h1", 2, 4);

    view.rescan();
    EXPECT_TRUE(names(view).empty());
    view.rescan();
    EXPECT_EQ(names(view), (std::vector<std::string>{"/dev/sdc"})) << "sdb is in use elsewhere";
    view.rescan();
    view.rescan();
    EXPECT_EQ(names(view), (std::vector<std::string>{"/dev/sdc", "/dev/sde"})) << "vol3 never, vol4 at the 4th";

    // A failed rescan changes nothing.
    array.unmap("h1", 0);
    array.setFailing(true);
    EXPECT_THROW(view.rescan(), std::runtime_error);
    EXPECT_EQ(names(view), (std::vector<std::string>{"/dev/sdc", "/dev/sde"}));
    EXPECT_EQ(view.rescans(), 4u);

    // A removed path goes at once; a disk still mapped must be seen anew.
    array.setFailing(false);
    view.rescan({"/dev/sde"});
    EXPECT_TRUE(names(view).empty()) << "sdc unmapped, sde removed and not yet seen twice";
    view.rescan();
    view.rescan();
    view.rescan();
    EXPECT_EQ(names(view), (std::vector<std::string>{"/dev/sde"}));

    // The state carries over to a new view (another process of the host).
    HostDiskView later(array.feed(), nullptr, options);
    later.setRescansToAppear("vol3", HostDiskView::kNever);
    later.restore(view.state());
    EXPECT_EQ(names(later), (std::vector<std::string>{"/dev/sde"}));
    array.map("h2", 0, 5);
    later.rescan();
    later.rescan();
    EXPECT_EQ(names(later), (std::vector<std::string>{"/dev/sde", "/dev/sdf"}));
}

TEST(HostDiskView, NamesAndHypervisorDescriptors) {
    EXPECT_EQ(linuxDiskName("/dev/sd", 0), "/dev/sda");
    EXPECT_EQ(linuxDiskName("/dev/sd", 25), "/dev/sdz");
    EXPECT_EQ(linuxDiskName("/dev/sd", 26), "/dev/sdaa");
    EXPECT_EQ(linuxDiskName("/dev/sd", 701), "/dev/sdzz");
    EXPECT_EQ(linuxDiskName("/dev/sd", 702), "/dev/sdaaa");

    HostLun lun;
    lun.lun = 18;
    lun.uid = uidOf(9);
    lun.disk = SimulatedDisk::volume("", "IBM", "2145", "020060C14A2C9", lun.uid);
    std::string d = vmwareDiskDescriptor(lun);
    EXPECT_EQ(d.rfind("{idatype:vmware,", 0), 0u) << d;
    EXPECT_EQ(d.back(), '}');
    EXPECT_EQ(d.find('*'), std::string::npos);
    // The standard inquiry in hexadecimal: vendor at byte 8.
    size_t inquiry = d.find("standardinqury:") + 15;
    EXPECT_EQ(d.substr(inquiry + 16, 16), "49424d2020202020") << d;
    // The LUN id: ten characters, then the 32 digits of the unique id.
    size_t lunId = d.find("lunuuid:") + 8;
    EXPECT_EQ(d.substr(lunId, 10), "0200120000");
    EXPECT_EQ(d.substr(lunId + 10, 32), "6005076810800aa2e800000000000009");
    EXPECT_EQ(lunUidOfPage83(lun.disk.deviceIdPage), uidOf(9));
    EXPECT_EQ(lunUidOfPage83({0, 0x83, 0, 4}), "");
}
