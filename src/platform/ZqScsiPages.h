// Reading SCSI inquiry data as a host does: the peripheral qualifier of the
// standard inquiry and the logical unit's NAA designator of page 0x83.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zq {
namespace platform {

// Peripheral qualifier of standard inquiry data (bits 7-5 of byte 0): 0 a
// logical unit is there, 1 one could be but is not, 3 (011b) none can be;
// -1 without data.
int peripheralQualifier(const uint8_t* inquiry, size_t size);

// The NAA designator (designator type 3, binary) of the logical unit
// (association 0) in a device identification page, as upper-case
// hexadecimal digits (32 for the registered extended format, 16 for the
// others), wherever it stands among the designators. Empty when the data are
// not page 0x83, report no logical unit (peripheral qualifier 011b), hold no
// such designator, or a designator's length does not fit its format or the
// page.
std::string naaOfPage83(const uint8_t* page, size_t size);
std::string naaOfPage83(const std::vector<uint8_t>& page);

// The unique id of a logical unit from its page 0x83: its NAA designator in
// the registered extended format (32 digits); empty otherwise.
std::string lunUidOfPage83(const uint8_t* page, size_t size);
std::string lunUidOfPage83(const std::vector<uint8_t>& page);

// The standard inquiry data of an address where no logical unit is:
// peripheral qualifier 011b, device type 1Fh.
std::vector<uint8_t> noLogicalUnitInquiry();

}  // namespace platform
}  // namespace zq
