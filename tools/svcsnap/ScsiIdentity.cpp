#include "ScsiIdentity.h"

#include <algorithm>
#include <exception>

#include "ZqDeviceTree.h"

namespace svcsnap {

namespace {

constexpr uint8_t kDeviceIdPage = 0x83;
constexpr unsigned kNoLogicalUnit = 3;  // peripheral qualifier 011b

std::string field(const std::vector<uint8_t>& data, size_t at, size_t width) {
    if (data.size() < at + width) return std::string();
    std::string text(data.begin() + long(at), data.begin() + long(at + width));
    while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.pop_back();
    return text;
}

// Bytes of an NAA designator by its format (the high nibble of its first byte).
size_t naaSize(uint8_t first) {
    switch (first >> 4) {
    case 2:  // IEEE extended
    case 3:  // locally assigned
    case 5:  // IEEE registered
        return 8;
    case 6:  // IEEE registered extended
        return 16;
    default:
        return 0;
    }
}

std::string upperHex(const uint8_t* data, size_t size) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (size_t i = 0; i < size; ++i) {
        out += digits[data[i] >> 4];
        out += digits[data[i] & 0xF];
    }
    return out;
}

std::vector<uint8_t> inquiry(ZqDeviceScsiIface& scsi, bool evpd, uint8_t page) {
    std::vector<uint8_t> data(255);
    const uint8_t cdb[6] = {0x12, uint8_t(evpd ? 1 : 0), page, 0, 255, 0};
    data.resize(scsi.sendCdb(cdb, sizeof(cdb), data.data(), data.size(), 10));
    return data;
}

}  // namespace

bool parseStandardInquiry(const std::vector<uint8_t>& data, StandardInquiry* out) {
    if (data.empty() || !out) return false;
    out->qualifier = data[0] >> 5;
    out->deviceType = data[0] & 0x1F;
    out->vendor = field(data, 8, 8);
    out->product = field(data, 16, 16);
    return true;
}

std::string naaOfPage83(const std::vector<uint8_t>& page) {
    if (page.size() < 4 || page[1] != kDeviceIdPage || (page[0] >> 5) == kNoLogicalUnit) return std::string();
    const size_t end = std::min(page.size(), 4 + ((size_t(page[2]) << 8) | page[3]));
    size_t at = 4;
    while (at + 4 <= end) {
        const uint8_t codeSet = page[at] & 0x0F;
        const uint8_t association = (page[at + 1] >> 4) & 0x03;
        const uint8_t type = page[at + 1] & 0x0F;
        const size_t length = page[at + 3];
        const size_t body = at + 4;
        if (body + length > end) break;  // cut off: nothing behind it can be trusted
        if (type == 3 && association == 0 && codeSet == 1 && length > 0 && naaSize(page[body]) == length)
            return upperHex(page.data() + body, length);
        at = body + length;
    }
    return std::string();
}

DiskIdentity inquireDisk(const std::string& device, bool withDeviceId) {
    DiskIdentity id;
    try {
        CUxError error;
        auto dev = ZqDeviceTree::getDevice(device, &error);
        ZqDeviceScsiIface* scsi = dev ? dev->scsiIface() : nullptr;
        if (!scsi) {
            id.error = dev ? "not a SCSI device" : error.AsString();
            return id;
        }
        id.answered = parseStandardInquiry(inquiry(*scsi, false, 0), &id.standard);
        if (!id.answered) {
            id.error = "empty answer to INQUIRY";
            return id;
        }
        if (withDeviceId && id.standard.qualifier == 0) id.naa = naaOfPage83(inquiry(*scsi, true, kDeviceIdPage));
    } catch (const std::exception& e) {
        if (id.error.empty()) id.error = e.what();
    }
    return id;
}

}  // namespace svcsnap
