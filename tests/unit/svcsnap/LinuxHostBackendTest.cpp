// The Linux host back end on a sysfs and /dev tree of its own: Fibre Channel
// and iSCSI hosts, disks and their multipath devices, udev links, SCSI hosts'
// scan files; the disks answer through a simulated device layer and the
// dmsetup commands go to a recorder.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "LinuxHostBackend.h"
#include "ScsiIdentity.h"
#include "ZqLinuxDevices.h"
#include "ZqPlatformRegistry.h"
#include "ZqSimulatedDevices.h"

using namespace svcsnap;
using zq::platform::SimulatedDisk;
namespace fs = std::filesystem;

namespace {

const std::string kUidA = "60050768018086E1D000000000000A01";  // the multipath device's volume
const std::string kUidD = "60050768018086E1D000000000000D01";

// A volume's unique id (an NAA 6 designator) ending in `last`.
std::string uid(char last) { return "60050768018" + std::string(20, '0') + last; }

std::string lower(std::string s) {
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::vector<uint8_t> designator(uint8_t codeSet, uint8_t association, uint8_t type, std::vector<uint8_t> body) {
    std::vector<uint8_t> d{codeSet, uint8_t((association << 4) | type), 0, uint8_t(body.size())};
    d.insert(d.end(), body.begin(), body.end());
    return d;
}

std::vector<uint8_t> naa(const std::string& hex) {
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) bytes.push_back(uint8_t(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return designator(1, 0, 3, bytes);
}

std::vector<uint8_t> page83(std::vector<std::vector<uint8_t>> designators, uint8_t pageCode = 0x83,
                            uint8_t qualifier = 0) {
    std::vector<uint8_t> body;
    for (const auto& d : designators) body.insert(body.end(), d.begin(), d.end());
    std::vector<uint8_t> page{uint8_t(qualifier << 5), pageCode, uint8_t(body.size() >> 8), uint8_t(body.size())};
    page.insert(page.end(), body.begin(), body.end());
    return page;
}

// A host tree: /sys, /dev and /etc below a temporary folder.
class HostTree {
public:
    HostTree() {
        char pattern[] = "/tmp/svcsnap-linux-XXXXXX";
        root = mkdtemp(pattern);
    }
    ~HostTree() { fs::remove_all(root); }
    HostTree(const HostTree&) = delete;
    HostTree& operator=(const HostTree&) = delete;

    fs::path at(const std::string& hostPath) const { return root / fs::path(hostPath).relative_path(); }
    void write(const std::string& hostPath, const std::string& text) const {
        fs::create_directories(at(hostPath).parent_path());
        std::ofstream(at(hostPath)) << text;
    }
    std::string read(const std::string& hostPath) const {
        std::ifstream in(at(hostPath));
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    void link(const std::string& hostPath, const std::string& target) const {
        fs::create_directories(at(hostPath).parent_path());
        fs::create_symlink(target, at(hostPath));
    }
    // A SCSI disk as the kernel shows it after its scan.
    void disk(const std::string& name, const std::string& vendor = "IBM") const {
        write("/sys/block/" + name + "/device/vendor", vendor + std::string(8 - vendor.size(), ' ') + "\n");
        write("/sys/block/" + name + "/device/delete", "");
        write("/sys/block/" + name + "/device/state", "running\n");
        fs::create_directories(at("/sys/block/" + name + "/holders"));
    }
    // A device-mapper device over `paths`, with its /dev/mapper link.
    void map(const std::string& dm, const std::string& name, const std::string& uuid,
             const std::vector<std::string>& paths) const {
        write("/sys/block/" + dm + "/dm/name", name + "\n");
        write("/sys/block/" + dm + "/dm/uuid", uuid + "\n");
        fs::create_directories(at("/sys/block/" + dm + "/slaves"));
        fs::create_directories(at("/sys/block/" + dm + "/holders"));
        for (const auto& p : paths) {
            link("/sys/block/" + dm + "/slaves/" + p, "../../" + p);
            link("/sys/block/" + p + "/holders/" + dm, "../../" + dm);
        }
        link("/dev/mapper/" + name, "../" + dm);
    }
    std::string deleted(const std::string& disk) const { return read("/sys/block/" + disk + "/device/delete"); }

    fs::path root;
};

// Disks of the device layer, installed for one test.
struct Disks {
    Disks() : source(std::make_shared<zq::platform::StaticDeviceSource>()),
              installed(zq::platform::registry().devices,
                        std::make_shared<zq::platform::SimulatedDeviceBackend>(source)) {}
    void add(const std::string& name, const std::string& uid, const std::string& vendor = "IBM") {
        source->add(SimulatedDisk::volume(name, vendor, "2145", "S" + uid.substr(28), uid));
    }
    std::shared_ptr<zq::platform::StaticDeviceSource> source;
    zq::platform::ScopedService<zq::platform::DeviceBackend> installed;
};

// The multipath device mpatha (dm-0) over sdb and sdc, with a partition map
// mpatha1 (dm-1) on it, and the plain disk sdd with its wwn link.
void multipathHost(const HostTree& host, Disks& disks) {
    host.disk("sdb");
    host.disk("sdc");
    host.disk("sdd");
    host.map("dm-0", "mpatha", "mpath-3" + lower(kUidA), {"sdb", "sdc"});
    host.link("/dev/disk/by-id/dm-uuid-mpath-3" + lower(kUidA), "../../dm-0");
    host.link("/dev/disk/by-id/wwn-0x" + lower(kUidD), "../../sdd");
    host.write("/sys/class/scsi_host/host1/scan", "");
    for (const char* name : {"/dev/sdb", "/dev/sdc", "/dev/mapper/mpatha"}) disks.add(name, kUidA);
    disks.add("/dev/sdd", kUidD);
}

// dmsetup as a recorder: each command with what the host looked like then.
struct Commands {
    LinuxHostBackend::CommandRunner runner(const HostTree& host, const Disks& disks) {
        return [this, &host, &disks](const std::vector<std::string>& command, std::string* error) {
            std::string line;
            for (const auto& word : command) line += (line.empty() ? "" : " ") + word;
            line += " [flushed " + std::to_string(disks.source->flushes("/dev/mapper/mpatha")) + ", sdb deleted " +
                    (host.deleted("sdb").empty() ? "no" : "yes") + "]";
            lines.push_back(line);
            if (line.rfind(refuse, 0) == 0 && !refuse.empty()) {
                *error = "device busy";
                return false;
            }
            return true;
        };
    }
    std::vector<std::string> lines;
    std::string refuse;  // commands beginning so fail
};

}  // namespace

TEST(LinuxHostBackend, ListsAMultipathDeviceOnceAndPlainDisksByTheirWwnLink) {
    HostTree host;
    Disks disks;
    multipathHost(host, disks);
    // sde: no link; sdf: no logical unit there any more, though the kernel
    // still has it as IBM; sdg: its only wwn link names another volume;
    // sdh: cannot be asked, its kernel copy and its link count; sdi: the
    // kernel's copy says IBM, the disk says otherwise; loop0: no SCSI disk;
    // mpathb: a multipath device without paths.
    for (const char* name : {"sde", "sdf", "sdg", "sdh", "sdi", "loop0"}) host.disk(name);
    disks.add("/dev/sde", uid('E'));
    SimulatedDisk gone = SimulatedDisk::volume("/dev/sdf", "IBM", "2145", "S", uid('F'));
    gone.standardInquiry[0] = 0x7F;  // peripheral qualifier 011b, type 1Fh
    disks.source->add(gone);
    disks.add("/dev/sdg", uid('7'));
    host.link("/dev/disk/by-id/wwn-0x" + uid('8'), "../../sdg");
    host.link("/dev/disk/by-id/wwn-0x" + lower(uid('A')), "../../sdh");
    host.link("/dev/disk/by-id/wwn-0x" + lower(kUidD) + "-part1", "../../sdd1");
    host.link("/dev/disk/by-id/scsi-3" + lower(kUidD), "../../sdd");
    disks.add("/dev/sdi", uid('9'), "NETAPP");
    host.map("dm-2", "mpathb", "mpath-3600507680180000000000000000000bb", {});

    LinuxHostBackend linuxHost(host.root.string());
    EXPECT_EQ(linuxHost.devices("IBM"),
              (std::vector<std::string>{"/dev/disk/by-id/wwn-0x" + lower(kUidD), "/dev/sde", "/dev/sdg",
                                        "/dev/disk/by-id/wwn-0x" + lower(uid('A')),
                                        "/dev/mapper/mpatha"}));
    // The engine asks the listed device itself.
    EXPECT_EQ(inquireDisk("/dev/mapper/mpatha", true).naa, kUidA);

    const std::vector<std::string> paths{"/dev/sdb", "/dev/sdc"};
    EXPECT_EQ(linuxHost.paths("/dev/mapper/mpatha"), paths);
    EXPECT_EQ(linuxHost.paths("/dev/disk/by-id/dm-uuid-mpath-3" + lower(kUidA)), paths);
    EXPECT_EQ(linuxHost.paths("/dev/disk/by-id/wwn-0x" + lower(kUidD)), std::vector<std::string>{"/dev/sdd"});
    EXPECT_TRUE(linuxHost.paths("/dev/mapper/nothing").empty());
}

TEST(LinuxHostBackend, RemovalTakesTheMultipathDeviceFirstThenItsPathsAndReportsEachFailure) {
    HostTree host;
    Disks disks;
    multipathHost(host, disks);
    host.map("dm-1", "mpatha1", "part1-mpath-3" + lower(kUidA), {});
    host.link("/sys/block/dm-0/holders/dm-1", "../../dm-1");
    disks.add("/dev/mapper/mpatha1", kUidA);
    Commands commands;
    LinuxHostBackend::Settings settings;
    settings.root = host.root.string();
    settings.run = commands.runner(host, disks);
    LinuxHostBackend linuxHost(settings);

    // A path of mpatha takes mpatha and its other path with it, once; a
    // link whose disk is gone is no failure.
    EXPECT_TRUE(linuxHost.rescan({"/dev/sdb", "/dev/disk/by-id/wwn-0x" + lower(kUidD), "/dev/mapper/mpatha",
                                  "/dev/disk/by-id/wwn-0x60050768018000000000000000000dead"}))
        << linuxHost.lastError();
    EXPECT_EQ(commands.lines, (std::vector<std::string>{
                                  "dmsetup message mpatha 0 fail_if_no_path [flushed 0, sdb deleted no]",
                                  "dmsetup remove mpatha1 [flushed 0, sdb deleted no]",
                                  "dmsetup remove mpatha [flushed 1, sdb deleted no]"}));
    EXPECT_EQ(disks.source->flushes("/dev/mapper/mpatha1"), 1u);
    EXPECT_EQ(host.deleted("sdb"), "1");
    EXPECT_EQ(host.deleted("sdc"), "1");
    EXPECT_EQ(disks.source->flushes("/dev/sdd"), 1u) << "a plain disk is flushed before it goes";
    EXPECT_EQ(host.deleted("sdd"), "1");
    EXPECT_EQ(host.read("/sys/class/scsi_host/host1/scan"), "- - -");

    // The map stays when it cannot be removed, and so do its paths.
    for (const char* disk : {"sdb", "sdc", "sdd"}) host.write(std::string("/sys/block/") + disk + "/device/delete", "");
    commands.lines.clear();
    commands.refuse = "dmsetup remove mpatha ";
    EXPECT_FALSE(linuxHost.rescan({"/dev/mapper/mpatha"}));
    EXPECT_NE(linuxHost.lastError().find("dmsetup remove mpatha failed: device busy"), std::string::npos)
        << linuxHost.lastError();
    EXPECT_EQ(host.deleted("sdb"), "");
    EXPECT_EQ(host.deleted("sdc"), "");

    // Something else on the map (LVM) or on a plain disk: nothing is done.
    commands.lines.clear();
    commands.refuse.clear();
    host.map("dm-3", "vg-data", "LVM-abc", {"sdd"});
    host.link("/sys/block/dm-0/holders/dm-3", "../../dm-3");
    EXPECT_FALSE(linuxHost.rescan({"/dev/sdc", "/dev/disk/by-id/wwn-0x" + lower(kUidD)}));
    EXPECT_TRUE(commands.lines.empty());
    EXPECT_NE(linuxHost.lastError().find("/dev/mapper/mpatha: held by dm-3"), std::string::npos);
    EXPECT_NE(linuxHost.lastError().find("wwn-0x" + lower(kUidD) + ": held by dm-3"), std::string::npos);
    EXPECT_EQ(host.deleted("sdc") + host.deleted("sdd"), "");
    // Nor is a path that names no disk, nor a map that is not multipath.
    host.write("/sys/block/passwd/device/delete", "");
    EXPECT_FALSE(linuxHost.rescan({"/dev/../etc/passwd"}));
    EXPECT_FALSE(linuxHost.rescan({"/dev/mapper/vg-data"}));
    EXPECT_EQ(host.read("/sys/block/passwd/device/delete"), "");
    EXPECT_TRUE(commands.lines.empty());
}

TEST(LinuxHostBackend, RescanScansOnlyTheHostsOfTheGivenInitiators) {
    HostTree host;
    host.write("/sys/class/fc_host/host3/port_name", "0x10000090fa1234ab\n");
    host.write("/sys/class/fc_host/host4/port_name", "0x10000090fa1234ac\n");
    // A software initiator's session sits under its SCSI host; an offload
    // adapter carries its own name.
    const std::string session = "/sys/devices/platform/host7/session1/iscsi_session/session1";
    host.write(session + "/initiatorname", "iqn.1994-05.com.redhat:host1\n");
    host.link("/sys/class/iscsi_session/session1", "../../devices/platform/host7/session1/iscsi_session/session1");
    host.write("/sys/class/iscsi_host/host8/initiatorname", "iqn.2001-04.com.example:other\n");
    const std::vector<std::string> all{"host3", "host4", "host7", "host8", "host10"};
    auto reset = [&] {
        for (const auto& h : all) host.write("/sys/class/scsi_host/" + h + "/scan", "");
    };
    auto scanned = [&] {
        std::vector<std::string> out;
        for (const auto& h : all)
            if (host.read("/sys/class/scsi_host/" + h + "/scan") == "- - -") out.push_back(h);
        return out;
    };
    LinuxHostBackend linuxHost(host.root.string());

    reset();
    EXPECT_TRUE(linuxHost.rescan({}, {"10000090FA1234AB", "IQN.1994-05.com.redhat:HOST1"})) << linuxHost.lastError();
    EXPECT_EQ(scanned(), (std::vector<std::string>{"host3", "host7"}));
    reset();
    EXPECT_TRUE(linuxHost.rescan({}, {"iqn.2001-04.com.example:other", "10:00:00:90:fa:12:34:ac"}));
    EXPECT_EQ(scanned(), (std::vector<std::string>{"host4", "host8"}));
    reset();
    EXPECT_TRUE(linuxHost.rescan({}));
    EXPECT_EQ(scanned(), all);
    reset();
    EXPECT_FALSE(linuxHost.rescan({}, {"2100000000000000"}));
    EXPECT_TRUE(scanned().empty());
    EXPECT_NE(linuxHost.lastError().find("no SCSI host has any of the initiators 2100000000000000"), std::string::npos);
    // No SCSI host at all: nothing scanned, a failure.
    fs::remove_all(host.at("/sys/class/scsi_host"));
    EXPECT_FALSE(linuxHost.rescan({}));
}

TEST(LinuxHostBackend, AHostWhoseScanDoesNotReturnIsSkippedAndReported) {
    HostTree host;
    host.write("/sys/class/scsi_host/host6/scan", "");
    // A scan file nobody reads: the write never returns on its own.
    const fs::path stuck = host.at("/sys/class/scsi_host/host5/scan");
    fs::create_directories(stuck.parent_path());
    ASSERT_EQ(mkfifo(stuck.c_str(), 0600), 0);
    LinuxHostBackend::Settings settings;
    settings.root = host.root.string();
    settings.scanTimeout = std::chrono::milliseconds(200);
    LinuxHostBackend linuxHost(settings);

    EXPECT_FALSE(linuxHost.rescan({}));
    EXPECT_NE(linuxHost.lastError().find("host5 did not finish its scan within 200 ms"), std::string::npos)
        << linuxHost.lastError();
    EXPECT_EQ(host.read("/sys/class/scsi_host/host6/scan"), "- - -") << "the other host is scanned";
    // While the first scan is still blocked, host5 is skipped at once.
    host.write("/sys/class/scsi_host/host6/scan", "");
    EXPECT_FALSE(linuxHost.rescan({}));
    EXPECT_NE(linuxHost.lastError().find("host5 is still in an earlier scan"), std::string::npos)
        << linuxHost.lastError();
    EXPECT_EQ(host.read("/sys/class/scsi_host/host6/scan"), "- - -");

    // The kernel lets go at last: the left worker finishes its write.
    int reader = ::open(stuck.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    EXPECT_TRUE(LinuxHostBackend::waitForPendingScans(std::chrono::seconds(10)));
    char text[16] = {};
    EXPECT_EQ(::read(reader, text, sizeof(text)), 5);
    EXPECT_STREQ(text, "- - -");
    ::close(reader);
}

TEST(LinuxHostBackend, InitiatorsFromFibreChannelHostsAndTheIscsiInitiatorFile) {
    EXPECT_EQ(LinuxHostBackend::iscsiInitiatorName("InitiatorName=iqn.1994-05.com.redhat:a\n"),
              "iqn.1994-05.com.redhat:a");
    EXPECT_EQ(LinuxHostBackend::iscsiInitiatorName("## made by iscsi-iname\n"
                                                   "# InitiatorName=iqn.2000-01.com.example:old\n"
                                                   "InitiatorAlias = db1\n"
                                                   "  InitiatorName = iqn.1994-05.com.redhat:b   # this host\n"
                                                   "InitiatorName=iqn.1994-05.com.redhat:second\n"),
              "iqn.1994-05.com.redhat:b");
    EXPECT_EQ(LinuxHostBackend::iscsiInitiatorName("\tInitiatorName\t=\tiqn.1994-05.com.redhat:c\r\n"),
              "iqn.1994-05.com.redhat:c");
    EXPECT_EQ(LinuxHostBackend::iscsiInitiatorName("InitiatorName=\nInitiatorNames=iqn.x\n#InitiatorName=iqn.y\n"),
              "");
    EXPECT_EQ(LinuxHostBackend::wwpn("10:00:00:90:FA:12:34:AB"), "10000090FA1234AB");
    EXPECT_EQ(LinuxHostBackend::wwpn("0x10000090fa1234"), "");

    HostTree host;
    host.write("/sys/class/fc_host/host3/port_name", "0x10000090fa1234ab\n");
    host.write("/sys/class/fc_host/host4/port_name", "0xffff\n");  // not a WWPN: skipped
    host.write("/etc/iscsi/initiatorname.iscsi", "# generated\nInitiatorName = iqn.1994-05.com.redhat:Host1\n");
    auto initiators = LinuxHostBackend(host.root.string()).initiators();
    ASSERT_EQ(initiators.size(), 2u);
    EXPECT_EQ(initiators[0].name, "10000090FA1234AB");
    EXPECT_FALSE(initiators[0].iscsi);
    EXPECT_EQ(initiators[1].name, "iqn.1994-05.com.redhat:Host1");
    EXPECT_TRUE(initiators[1].iscsi);
}

TEST(ScsiIdentity, TheDeviceIdPageIsReadByDesignator) {
    const std::vector<uint8_t> vendorId = designator(2, 0, 1, {'I', 'B', 'M', ' ', ' ', ' ', ' ', ' ', '2', '1'});
    const std::vector<uint8_t> targetPort = naa("5005076801000001");  // association 1 below
    std::vector<uint8_t> portNaa = targetPort;
    portNaa[1] = 0x13;
    EXPECT_EQ(naaOfPage83(page83({naa(kUidA)})), kUidA);
    EXPECT_EQ(naaOfPage83(page83({vendorId, portNaa, naa(kUidA)})), kUidA) << "the logical unit's NAA, wherever it is";
    EXPECT_EQ(naaOfPage83(page83({naa("5005076801234567")})), "5005076801234567");
    EXPECT_EQ(naaOfPage83(page83({naa(kUidA)}, 0x80)), "") << "another page";
    EXPECT_EQ(naaOfPage83(page83({vendorId})), "") << "no NAA designator";
    EXPECT_EQ(naaOfPage83(page83({portNaa})), "") << "a target port's NAA";
    EXPECT_EQ(naaOfPage83(page83({naa(kUidA)}, 0x83, 3)), "") << "no logical unit";
    EXPECT_EQ(naaOfPage83(page83({naa(kUidA.substr(0, 16))})), "") << "NAA 6 is 16 bytes long";
    std::vector<uint8_t> cut = page83({naa(kUidA)});
    cut.resize(cut.size() - 1);
    EXPECT_EQ(naaOfPage83(cut), "") << "a designator cut off";
    std::vector<uint8_t> longer = page83({naa(kUidA)});
    longer[7] = 17;  // its length beyond the page
    EXPECT_EQ(naaOfPage83(longer), "");

    StandardInquiry standard;
    std::vector<uint8_t> none(36, ' ');
    none[0] = 0x7F;
    ASSERT_TRUE(parseStandardInquiry(none, &standard));
    EXPECT_EQ(standard.qualifier, 3u);
    EXPECT_EQ(standard.deviceType, 0x1Fu);
    EXPECT_FALSE(parseStandardInquiry({}, &standard));
}

TEST(LinuxDevices, AMultipathDeviceTakesScsiCommandsOnARunningPathOnly) {
    HostTree host;
    host.disk("sdb");
    host.write("/sys/block/sdb/device/state", "offline\n");
    host.map("dm-0", "mpatha", "mpath-3" + lower(kUidA), {"sdb"});
    host.write("/dev/dm-0", "");
    host.write("/dev/sdb", "");
    zq::platform::LinuxDeviceBackend devices(host.at("/sys").string(), host.at("/dev").string());
    auto map = devices.open(host.at("/dev/mapper/mpatha").string(), nullptr);
    ASSERT_TRUE(map);
    ASSERT_NE(map->scsiIface(), nullptr);
    const uint8_t inquiry[6] = {0x12, 0, 0, 0, 96, 0};
    uint8_t data[96] = {};
    try {
        map->scsiIface()->sendCdb(inquiry, 6, data, sizeof(data), 10);
        ADD_FAILURE() << "a map without a running path answered";
    } catch (const ZqException& e) {
        EXPECT_NE(std::string(e.what()).find("no usable path"), std::string::npos) << e.what();
    }
    // A running path is asked (here a node that takes no SCSI commands).
    host.write("/sys/block/sdb/device/state", "running\n");
    try {
        map->scsiIface()->sendCdb(inquiry, 6, data, sizeof(data), 10);
        ADD_FAILURE() << "a plain file answered";
    } catch (const ZqException& e) {
        EXPECT_NE(std::string(e.what()).find("/sdb takes no SCSI commands"), std::string::npos) << e.what();
    }
}
