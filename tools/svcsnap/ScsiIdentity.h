// What a host disk says of itself in its SCSI inquiry data: whether a logical
// unit is there at all (the standard inquiry's peripheral qualifier), its
// vendor and product, and its NAA designator from the device identification
// page (0x83), read designator by designator.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ZqScsiPages.h"

namespace svcsnap {

struct StandardInquiry {
    // 0: a logical unit is connected; 3 (011b): the target has no logical
    // unit at this LUN (an unmapped volume answers so).
    unsigned qualifier = 0;
    unsigned deviceType = 0;
    std::string vendor;   // blanks trimmed; empty when the data are too short
    std::string product;
};

// False when `data` does not even hold the first byte.
bool parseStandardInquiry(const std::vector<uint8_t>& data, StandardInquiry* out);

// The logical unit's NAA designator of a page 0x83 (the platform's reader).
using zq::platform::naaOfPage83;

// A disk's answers through the platform's device layer.
struct DiskIdentity {
    bool answered = false;  // the standard inquiry was answered
    StandardInquiry standard;
    std::string naa;        // empty when page 0x83 was not asked or holds none
    std::string error;      // why the disk could not be asked
};

// Sends a standard INQUIRY to `device` and, when `withDeviceId`, an INQUIRY
// for page 0x83. Never raises.
DiskIdentity inquireDisk(const std::string& device, bool withDeviceId);

}  // namespace svcsnap
