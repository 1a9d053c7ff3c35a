#include "ZqScsiPages.h"

#include <algorithm>

namespace zq {
namespace platform {

namespace {

constexpr uint8_t kDeviceIdPage = 0x83;
constexpr uint8_t kNaaDesignator = 3;
constexpr uint8_t kLogicalUnit = 0;  // association
constexpr uint8_t kBinary = 1;       // code set
constexpr int kNoLogicalUnit = 3;    // peripheral qualifier 011b
constexpr size_t kRegisteredExtendedNaa = 16;

// Bytes of an NAA designator by its format (the high nibble of its first byte).
size_t naaSize(uint8_t first) {
    switch (first >> 4) {
        case 2:  // IEEE extended
        case 3:  // locally assigned
        case 5:  // IEEE registered
            return 8;
        case 6:  // IEEE registered extended
            return kRegisteredExtendedNaa;
        default:
            return 0;
    }
}

std::string upperHex(const uint8_t* data, size_t size) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (size_t i = 0; i < size; ++i) {
        out += digits[data[i] >> 4];
        out += digits[data[i] & 0x0F];
    }
    return out;
}

}  // namespace

int peripheralQualifier(const uint8_t* inquiry, size_t size) {
    if (!inquiry || size == 0) return -1;
    return (inquiry[0] >> 5) & 0x07;
}

std::string naaOfPage83(const uint8_t* page, size_t size) {
    if (!page || size < 4 || page[1] != kDeviceIdPage || peripheralQualifier(page, size) == kNoLogicalUnit)
        return std::string();
    const size_t end = std::min(size, size_t(4) + ((size_t(page[2]) << 8) | page[3]));
    for (size_t at = 4; at + 4 <= end;) {
        const uint8_t codeSet = page[at] & 0x0F;
        const uint8_t association = (page[at + 1] >> 4) & 0x03;
        const uint8_t type = page[at + 1] & 0x0F;
        const size_t length = page[at + 3];
        const size_t body = at + 4;
        if (body + length > end) break;  // cut off: nothing behind it can be trusted
        if (type == kNaaDesignator && association == kLogicalUnit && codeSet == kBinary && length > 0 &&
            naaSize(page[body]) == length)
            return upperHex(page + body, length);
        at = body + length;
    }
    return std::string();
}

std::string naaOfPage83(const std::vector<uint8_t>& page) { return naaOfPage83(page.data(), page.size()); }

std::string lunUidOfPage83(const uint8_t* page, size_t size) {
    std::string naa = naaOfPage83(page, size);
    return naa.size() == 2 * kRegisteredExtendedNaa ? naa : std::string();
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
