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
    try {
        page.resize(dev->scsiIface()->sendCdb(cdb, 6, page.data(), page.size(), 10));
    } catch (const ZqException& e) {
        return std::string("!") + e.what();
    }
    return lunUidOfPage83(page);
}

}  // namespace

// The standard inquiry's peripheral qualifier a host reads from the disk.
int qualifierReadFrom(const std::string& device) {
    CUxError error;
    auto dev = ZqDeviceTree::getDevice(device, &error);
    if (!dev) return -1;
    uint8_t cdb[6] = {0x12, 0, 0, 0, 255, 0};
    std::vector<uint8_t> data(255);
    try {
        data.resize(dev->scsiIface()->sendCdb(cdb, 6, data.data(), data.size(), 10));
    } catch (const ZqException&) {
        return -1;
    }
    return peripheralQualifier(data.data(), data.size());
}

TEST(HostDiskView, NodesStayUntilRemovedAndAnswerWhatTheArrayMapsNow) {
    FakeArray array;
    auto view = std::make_shared<HostDiskView>(array.feed(), [] { return std::vector<std::string>{"10000090FA000001"}; });
    ScopedService<DeviceBackend> backend(registry().devices, std::make_shared<SimulatedDeviceBackend>(view));

    array.map("h1", 0, 1);
    EXPECT_TRUE(names(*view).empty()) << "mapped, not yet rescanned";
    view->rescan();
    EXPECT_EQ(array.asked(), (std::vector<std::string>{"10000090FA000001"}));
    EXPECT_EQ(names(*view), (std::vector<std::string>{"/dev/sdb"}));
    EXPECT_EQ(uidReadFrom("/dev/sdb"), uidOf(1));
    EXPECT_EQ(qualifierReadFrom("/dev/sdb"), 0);

    // Unmapped on the array: the node stays, through rescans too, and
    // answers that no logical unit is behind it.
    array.unmap("h1", 0);
    view->rescan();
    EXPECT_EQ(names(*view), (std::vector<std::string>{"/dev/sdb"}));
    EXPECT_EQ(qualifierReadFrom("/dev/sdb"), 3);
    EXPECT_EQ(uidReadFrom("/dev/sdb"), "!/dev/sdb: illegal request, page not supported");

    // Another volume at that LUN: the node answers its identity, while the
    // host keeps what it found first until it reads the disk again.
    array.map("h1", 0, 7);
    view->rescan();
    EXPECT_EQ(uidReadFrom("/dev/sdb"), uidOf(7));
    EXPECT_EQ(view->lunByName("/dev/sdb")->uid, uidOf(1));
    std::string error;
    ASSERT_TRUE(view->reread("/dev/sdb", &error)) << error;
    EXPECT_EQ(view->lunByName("/dev/sdb")->uid, uidOf(7));
    EXPECT_EQ(view->rereads("/dev/sdb"), 1u);

    // Removed by the host: gone at once; a LUN still mapped is found again
    // under its name. Names belong to host object and LUN.
    array.map("h1", 3, 2);
    view->rescan({"/dev/sdb"});
    EXPECT_EQ(names(*view), (std::vector<std::string>{"/dev/sdb", "/dev/sdc"}));
    array.unmap("h1", 0);
    view->rescan({"/dev/sdb"});
    EXPECT_EQ(names(*view), (std::vector<std::string>{"/dev/sdc"}));
    EXPECT_FALSE(view->flush("/dev/sdb", &error));
    EXPECT_TRUE(view->flush("/dev/sdc", &error));
    EXPECT_EQ(view->flushes("/dev/sdc"), 1u);
    EXPECT_EQ(view->rescans(), 5u);

    // A disk held by hand (mounted) is in use.
    CUxError openError;
    auto sdc = ZqDeviceTree::getDevice("/dev/sdc", &openError);
    std::string holder;
    EXPECT_FALSE(sdc->inUse(&holder));
    view->setHolder("/dev/sdc", "mounted on /data");
    EXPECT_TRUE(sdc->inUse(&holder));
    EXPECT_EQ(holder, "mounted on /data");
}

TEST(HostDiskView, MultipathDisksAreListedByTheirHolder) {
    FakeArray array;
    HostDiskView::Options options;
    options.multipath = true;
    auto view = std::make_shared<HostDiskView>(array.feed(), nullptr, options);
    ScopedService<DeviceBackend> backend(registry().devices, std::make_shared<SimulatedDeviceBackend>(view));
    array.map("h1", 0, 1);
    array.map("h1", 1, 2);
    view->rescan();
    EXPECT_EQ(names(*view), (std::vector<std::string>{"/dev/mapper/mpatha", "/dev/mapper/mpathb"}));
    EXPECT_EQ(view->lunByName("/dev/mapper/mpatha")->paths, (std::vector<std::string>{"/dev/sdb", "/dev/sdc"}));
    EXPECT_EQ(uidReadFrom("/dev/mapper/mpathb"), uidOf(2));
    EXPECT_EQ(uidReadFrom("/dev/sdc"), uidOf(1));
    CUxError error;
    std::string holder;
    EXPECT_TRUE(ZqDeviceTree::getDevice("/dev/sdb", &error)->inUse(&holder));
    EXPECT_EQ(holder, "held by /dev/mapper/mpatha");

    // Paths removed without their holder leave it listed with none: it
    // answers nothing and cannot be flushed.
    array.unmap("h1", 0);
    view->rescan({"/dev/sdb", "/dev/sdc"});
    EXPECT_EQ(names(*view), (std::vector<std::string>{"/dev/mapper/mpatha", "/dev/mapper/mpathb"}));
    EXPECT_TRUE(view->lunByName("/dev/mapper/mpatha")->paths.empty());
    std::string why;
    EXPECT_FALSE(view->flush("/dev/mapper/mpatha", &why));
    EXPECT_EQ(uidReadFrom("/dev/mapper/mpatha").rfind("!", 0), 0u) << "no paths, no answer";
    EXPECT_EQ(qualifierReadFrom("/dev/mapper/mpatha"), -1);

    // Removing the holder takes its paths with it.
    view->rescan({"/dev/mapper/mpatha", "/dev/mapper/mpathb"});
    EXPECT_EQ(names(*view), (std::vector<std::string>{"/dev/mapper/mpathb"})) << "still mapped: found again";
    array.unmap("h1", 1);
    view->rescan({"/dev/mapper/mpathb"});
    EXPECT_TRUE(names(*view).empty());
    EXPECT_FALSE(view->lunByName("/dev/sdd"));
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

    // A failed rescan changes nothing, not even the removal it was given.
    array.setFailing(true);
    EXPECT_THROW(view.rescan({"/dev/sdc"}), std::runtime_error);
    EXPECT_EQ(names(view), (std::vector<std::string>{"/dev/sdc", "/dev/sde"}));
    EXPECT_EQ(view.rescans(), 4u);

    // A removed path goes at once; a disk still mapped must be seen anew.
    array.setFailing(false);
    array.unmap("h1", 0);
    view.rescan({"/dev/sdc", "/dev/sde"});
    EXPECT_TRUE(names(view).empty()) << "sdc unmapped, sde removed and not yet seen twice";
    view.rescan();
    view.rescan();
    view.rescan();
    EXPECT_EQ(names(view), (std::vector<std::string>{"/dev/sde"}));

    // The state carries over to a new view (another process of the host).
    HostDiskView later(array.feed(), nullptr, options);
    later.setRescansToAppear("vol3", HostDiskView::kNever);
    view.setHolder("/dev/sde", "mounted on /x");
    later.restore(view.state());
    EXPECT_EQ(names(later), (std::vector<std::string>{"/dev/sde"}));
    SimulatedDisk disk;
    ASSERT_TRUE(later.find("/dev/sde", &disk));
    EXPECT_EQ(disk.holder, "mounted on /x");
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
    EXPECT_EQ(lunUidOfPage83({0, 0x83, 0, 4, 1, 3, 0, 16}), "") << "designator longer than the page";
    std::vector<uint8_t> serialCode = lun.disk.deviceIdPage;
    serialCode[1] = 0x80;
    EXPECT_EQ(lunUidOfPage83(serialCode), "") << "not page 0x83";
}
