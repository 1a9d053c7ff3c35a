#include "ZqScsiPages.h"

#include <algorithm>

namespace zq {
namespace platform {

namespace {

constexpr uint8_t kDeviceIdPage = 0x83;
constexpr uint8_t kNaaDesignator = 3;
constexpr uint8_t kLogicalUnit = 0;  // association
constexpr size_t kRegisteredExtendedNaa = 16;

}  // namespace

int peripheralQualifier(const uint8_t* inquiry, size_t size) {
    if (!inquiry || size == 0) return -1;
    return (inquiry[0] >> 5) & 0x07;
}

std::string lunUidOfPage83(const uint8_t* page, size_t size) {
    if (!page || size < 4 || page[1] != kDeviceIdPage) return std::string();
    const size_t end = std::min(size, size_t(4) + ((size_t(page[2]) << 8) | page[3]));
    for (size_t at = 4; at + 4 <= end;) {
        const uint8_t type = page[at + 1] & 0x0F;
        const uint8_t association = (page[at + 1] >> 4) & 0x03;
        const size_t length = page[at + 3];
        if (at + 4 + length > end) break;
        if (type == kNaaDesignator && association == kLogicalUnit && length == kRegisteredExtendedNaa) {
            static const char digits[] = "0123456789ABCDEF";
            std::string uid;
            for (size_t i = 0; i < length; ++i) {
                uid += digits[page[at + 4 + i] >> 4];
                uid += digits[page[at + 4 + i] & 0x0F];
            }
            return uid;
        }
        at += 4 + length;
    }
    return std::string();
}

std::string lunUidOfPage83(const std::vector<uint8_t>& page) { return lunUidOfPage83(page.data(), page.size()); }

std::vector<uint8_t> noLogicalUnitInquiry() {
    std::vector<uint8_t> data(36, 0);
    data[0] = 0x7F;  // peripheral qualifier 011b, device type 1Fh
    data[2] = 0x06;
    data[3] = 0x02;
    data[4] = 31;
    return data;
}

}  // namespace platform
}  // namespace zq
