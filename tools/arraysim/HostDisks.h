// What a host sees of the volumes mapped to it: one disk per host mapping,
// with the SCSI inquiry data of a 2145 logical unit (layout in MODEL.md).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace arraysim {

class ClusterState;
struct Volume;

struct HostDisk {
    std::string host;
    uint32_t lun = 0;
    std::string volumeName;
    std::string uid;
    uint64_t sizeBytes = 0;
    uint64_t generation = 0;
    bool dataValid = true;  // online, holding a consistent image
    std::vector<uint8_t> standardInquiry;  // INQUIRY, EVPD 0
    std::vector<uint8_t> unitSerialPage;   // INQUIRY, EVPD 1, page 0x80
    std::vector<uint8_t> deviceIdPage;     // INQUIRY, EVPD 1, page 0x83
};

std::vector<uint8_t> standardInquiryData();
std::vector<uint8_t> unitSerialPage(const std::string& clusterId, const Volume& v);
std::vector<uint8_t> deviceIdPage(const Volume& v);

// Disks of the host objects that hold any of `initiators` (WWPNs in any case,
// with or without colons, or iSCSI names), ordered by host and LUN.
std::vector<HostDisk> hostDisksFor(const ClusterState& state, const std::vector<std::string>& initiators);

std::string toHex(const std::vector<uint8_t>& bytes);

}  // namespace arraysim
