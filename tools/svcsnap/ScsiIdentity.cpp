#include "ScsiIdentity.h"

#include <algorithm>
#include <exception>

#include "ZqDeviceTree.h"
#include "ZqScsiPages.h"

namespace svcsnap {

namespace {

constexpr uint8_t kDeviceIdPage = 0x83;

std::string field(const std::vector<uint8_t>& data, size_t at, size_t width) {
    if (data.size() < at + width) return std::string();
    std::string text(data.begin() + long(at), data.begin() + long(at + width));
    while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.pop_back();
    return text;
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
        if (withDeviceId && id.standard.qualifier == 0) id.naa = zq::platform::naaOfPage83(inquiry(*scsi, true, kDeviceIdPage));
    } catch (const std::exception& e) {
        if (id.error.empty()) id.error = e.what();
    }
    return id;
}

}  // namespace svcsnap
