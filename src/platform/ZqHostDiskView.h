// The disks one host sees of the volumes an array maps to it. The array's
// side (which volume sits at which LUN of which host object) comes from a
// feed; the host's side changes only when the host rescans, as on a real
// host:
// - a newly mapped volume's disk is listed from the rescan that sees it
//   (or only from the N-th rescan that sees it, setRescansToAppear);
// - a disk whose mapping is gone stays listed, answering its last inquiry
//   data, until the next rescan drops it;
// - a path the rescan is told to remove goes at once (a disk still mapped is
//   found again by the same rescan, as after a device delete and a scan);
// - a disk's name belongs to its host object and LUN for the life of the
//   view: unmapped and mapped again at that LUN, it gets the same name.
// The view is a DeviceSource, so a SimulatedDeviceBackend answers SCSI
// inquiries on the listed disks.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

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
        // Names in use elsewhere on the host; they are skipped.
        std::function<bool(const std::string&)> nameTaken;
    };

    // A volume whose disk never appears.
    static constexpr unsigned kNever = ~0u;

    HostDiskView(Feed feed, Initiators initiators, Options options);
    HostDiskView(Feed feed, Initiators initiators);

    // Rescans the host's buses. Raises what the feed raises.
    void rescan(const std::vector<std::string>& removedPaths = {});
    unsigned rescans() const;

    // Rescans that must see a new mapping before its disk is listed (at
    // least 1), for every volume or for one (by name or unique id; kNever:
    // it never appears).
    void setRescansToAppear(unsigned rescans);
    void setRescansToAppear(const std::string& volume, unsigned rescans);

    // The listed disks, in name order.
    std::vector<HostLun> luns() const;
    std::optional<HostLun> lunByName(const std::string& name) const;

    // DeviceSource
    bool find(const std::string& name, SimulatedDisk* disk) const override;
    std::vector<SimulatedDisk> disks() const override;
    bool flush(const std::string& name, std::string* error) override;
    bool reread(const std::string& name, std::string* error) override;

    // The view's memory, for a host that keeps it between processes.
    struct Slot {
        std::string host;
        uint32_t lun = 0;
        unsigned index = 0;    // of the name
        unsigned seen = 0;     // consecutive rescans that found a mapping here
        bool listed = false;   // the host lists the disk
        HostLun data;          // as the last rescan that found it saw it
    };
    struct State {
        unsigned rescans = 0;
        unsigned nextIndex = 0;
        std::vector<Slot> slots;
    };
    State state() const;
    void restore(const State& state);

private:
    Slot& slotFor(const std::string& host, uint32_t lun);
    unsigned neededFor(const HostLun& lun) const;
    std::string nameOf(unsigned index) const;

    Feed feed_;
    Initiators initiators_;
    Options options_;
    mutable std::mutex mutex_;
    std::map<std::string, unsigned> perVolume_;
    State state_;
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

// The unique id in the NAA designator of a page 0x83 (32 upper-case
// hexadecimal digits from offset 8); empty when the page is too short.
std::string lunUidOfPage83(const std::vector<uint8_t>& page);

}  // namespace platform
}  // namespace zq
