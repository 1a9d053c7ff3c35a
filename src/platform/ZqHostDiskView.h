// The disks one host sees of the volumes an array maps to it, as a real host
// sees them. The array's side (which volume sits at which LUN of which host
// object) comes from a feed; the host's side changes only when the host
// rescans or removes a disk:
// - a newly mapped volume's disk is listed from the rescan that sees it
//   (or only from the N-th rescan that sees it, setRescansToAppear);
// - a disk node stays until the host removes it (a removed path of a
//   rescan): a rescan does not drop it when its mapping is gone;
// - a node answers inquiries live, from what the array maps at its LUN now:
//   nothing there, and the standard inquiry answers peripheral qualifier
//   011b (no logical unit) and the VPD pages are refused; another volume
//   there, and the node answers that volume's identity while the host keeps
//   the size and cached blocks of the volume it first found (the HostLun it
//   lists, its generation among them) until the disk is read again
//   (reread);
// - a disk's name belongs to its host object and LUN for the life of the
//   view: removed, then mapped again at that LUN, it gets the same name;
// - with multipath, each LUN is seen through two SCSI disks and listed as
//   the device-mapper device that holds them ("/dev/mapper/mpatha"); its
//   paths are held by it (in use). Removing the holder removes its paths
//   too; removing only the paths leaves the holder listed with none, and it
//   answers nothing;
// - any disk can be held (mounted, in use) by hand;
// - a hypervisor host (dropsGoneDisks) drops a disk whose mapping is gone at
//   its next rescan.
// The view is a DeviceSource, so a SimulatedDeviceBackend answers SCSI
// inquiries on the listed disks, their paths and holders.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "ZqScsiPages.h"
#include "ZqSimulatedDevices.h"

namespace zq {
namespace platform {

// One volume mapped to a host object, as the array reports it.
struct HostLun {
    std::string host;  // the array's host object
    uint32_t lun = 0;
    std::string volumeName;
    std::string uid;  // the volume's unique id, 32 hexadecimal digits
    uint64_t generation = 0;  // the volume's data generation
    SimulatedDisk disk;       // its inquiry data; the view gives the name
    // Multipath: the SCSI disks under the listed device-mapper device.
    std::vector<std::string> paths;
};

class HostDiskView : public DeviceSource {
public:
    // What the array maps to the host objects that hold any of `initiators`.
    // A failure is raised (any std::exception); the rescan then changes nothing.
    using Feed = std::function<std::vector<HostLun>(const std::vector<std::string>& initiators)>;
    // The host's initiator names, asked at each rescan.
    using Initiators = std::function<std::vector<std::string>()>;

    struct Options {
        std::string namePrefix = "/dev/sd";
        unsigned firstIndex = 1;  // "b": the host's own disk is "a"
        unsigned rescansToAppear = 1;
        // Each LUN through two paths under a device-mapper device.
        bool multipath = false;
        // A hypervisor's rescan drops disks whose mapping is gone (a Linux
        // host keeps the node until it is removed).
        bool dropsGoneDisks = false;
        std::string holderPrefix = "/dev/mapper/mpath";
        // Names in use elsewhere on the host; they are skipped.
        std::function<bool(const std::string&)> nameTaken;
    };

    // A volume whose disk never appears.
    static constexpr unsigned kNever = ~0u;

    HostDiskView(Feed feed, Initiators initiators, Options options);
    HostDiskView(Feed feed, Initiators initiators);

    // Removes `removedPaths` (disk nodes, or device-mapper devices with their
    // paths), then rescans the host's buses. Raises what the feed raises;
    // nothing is removed then.
    void rescan(const std::vector<std::string>& removedPaths = {});
    unsigned rescans() const;

    // Each LUN found from now on is seen through two paths under a
    // device-mapper device.
    void setMultipath(bool multipath);
    // Something holds the disk (a mount); an empty `holder` releases it.
    void setHolder(const std::string& name, const std::string& holder);
    // How often the host flushed a disk's buffers, or read it again.
    unsigned flushes(const std::string& name) const;
    unsigned rereads(const std::string& name) const;

    // Rescans that must see a new mapping before its disk is listed (at
    // least 1), for every volume or for one (by name or unique id; kNever:
    // it never appears).
    void setRescansToAppear(unsigned rescans);
    void setRescansToAppear(const std::string& volume, unsigned rescans);

    // The listed disks, in name order, as the host holds them (the identity
    // it found, which a reread refreshes).
    std::vector<HostLun> luns() const;
    std::optional<HostLun> lunByName(const std::string& name) const;

    // DeviceSource. find answers live: what the array maps at the disk's
    // LUN now (false when the feed fails).
    bool find(const std::string& name, SimulatedDisk* disk) const override;
    std::vector<SimulatedDisk> disks() const override;
    bool flush(const std::string& name, std::string* error) override;
    bool reread(const std::string& name, std::string* error) override;

    // The view's memory, for a host that keeps it between processes.
    static constexpr unsigned kNone = ~0u;
    struct Slot {
        std::string host;
        uint32_t lun = 0;
        unsigned index = 0;    // of the name (multipath: of the first path)
        unsigned seen = 0;     // consecutive rescans that found a mapping here
        bool listed = false;   // the host has the disk (multipath: its paths)
        HostLun data;          // as the host found it
        // Multipath: the second path's name index and the holder's; whether
        // the holder is there.
        unsigned secondIndex = kNone;
        unsigned holderIndex = kNone;
        bool holderListed = false;
    };
    struct State {
        unsigned rescans = 0;
        unsigned nextIndex = 0;
        unsigned nextHolder = 0;
        std::vector<Slot> slots;
        std::map<std::string, std::string> holders;  // disks held by hand
    };
    State state() const;
    void restore(const State& state);

private:
    // Which slot a name is of, and as what.
    enum class Role { Disk, Path, Holder };
    struct Named {
        const Slot* slot = nullptr;
        Role role = Role::Disk;
    };
    Named namedLocked(const std::string& name) const;
    // What the array maps at a LUN now; nullopt when nothing, raises what
    // the feed raises.
    std::optional<HostLun> liveLun(const std::string& host, uint32_t lun) const;

    Slot& slotFor(const std::string& host, uint32_t lun);
    unsigned neededFor(const HostLun& lun) const;
    std::string nameOf(unsigned index) const;
    std::string holderNameOf(unsigned index) const;
    HostLun listedLunLocked(const Slot& slot) const;

    Feed feed_;
    Initiators initiators_;
    Options options_;
    mutable std::mutex mutex_;
    std::map<std::string, unsigned> perVolume_;
    State state_;
    std::map<std::string, unsigned> flushes_, rereads_;
};

// A disk's name as Linux gives it: `prefix` followed by letters for the
// index (0 "a", 25 "z", 26 "aa", 701 "zz", 702 "aaa").
std::string linuxDiskName(const std::string& prefix, unsigned index);

// The descriptor a hypervisor host gives of a disk: a name:value text that
// begins with "{idatype:vmware" and holds the standard inquiry data in
// hexadecimal ("standardinqury", "version" 10) and the LUN id ("lunuuid":
// ten characters of type and LUN, the 32 digits of the volume's unique id,
// then the product id in hexadecimal).
std::string vmwareDiskDescriptor(const HostLun& lun);

}  // namespace platform
}  // namespace zq
