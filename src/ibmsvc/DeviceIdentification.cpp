#include "DeviceIdentification.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ArrayParams.h"
#include "EngineFrame.h"
#include "IBMSVCUtility.h"
#include "ZqDeviceTree.h"
#include "ZqException.h"
#include "ZqScsiPages.h"

namespace ZQSOIBMSVCAPI {

namespace {

constexpr size_t kInquiryLength = 255;
constexpr int kScsiTimeout = 10;
constexpr uint8_t kPageSerial = 0x80;
constexpr uint8_t kPageDeviceId = 0x83;
constexpr size_t kMinStandardInquiry = 32;  // up to the end of the product id
constexpr size_t kMinSerialChars = 12;

using InquiryBuffer = std::array<uint8_t, kInquiryLength>;

// Where inquiry data come from: the device itself or the record's copy.
// Failures raise ZqException.
class InquirySource {
public:
    virtual ~InquirySource() = default;
    // Fills `data` (zeroed first) with the standard inquiry (page < 0) or a
    // VPD page; returns the number of valid bytes.
    virtual size_t read(int page, InquiryBuffer& data) = 0;
};

class DeviceInquiry : public InquirySource {
public:
    explicit DeviceInquiry(ZqDeviceScsiIface* scsi) : scsi_(scsi) {}
    size_t read(int page, InquiryBuffer& data) override {
        data.fill(0);
        uint8_t cdb[6] = {0x12, uint8_t(page < 0 ? 0 : 1), uint8_t(page < 0 ? 0 : page), 0, uint8_t(kInquiryLength),
                          0};
        return std::min(scsi_->sendCdb(cdb, sizeof(cdb), data.data(), data.size(), kScsiTimeout), data.size());
    }

private:
    ZqDeviceScsiIface* scsi_;
};

class RecordInquiry : public InquirySource {
public:
    explicit RecordInquiry(ZQSO::SnapInfo* record) : record_(record) {}
    size_t read(int page, InquiryBuffer& data) override {
        data.fill(0);
        int code = page < 0 ? ZQSO::SCSI_PAGE_STANDARD_INQUIRY : page;
        const unsigned char* bytes = record_ ? record_->getScsiPage(code) : nullptr;
        if (!bytes) throw ZqException("the record holds no SCSI data for page code " + std::to_string(code));
        std::memcpy(data.data(), bytes, data.size());
        return data.size();
    }

private:
    ZQSO::SnapInfo* record_;
};

std::string upper(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::toupper(c)); });
    return s;
}

// Opens a device and its SCSI interface; null after a logged failure.
std::shared_ptr<ZqDevice> openScsiDevice(ZQSO::SnapInfo* record, const char* fn, const char* deviceName,
                                         ZqDeviceScsiIface** scsi) {
    std::shared_ptr<ZqDevice> device;
    try {
        CUxError error;
        device = ZqDeviceTree::getDevice(deviceName, &error);
        if (!device) {
            engineLog(record, 2, fn, "ZqDeviceTree::getDevice exception caught :%s", error.AsString().c_str());
            return nullptr;
        }
    } catch (const ZqException& e) {
        engineLog(record, 2, fn, "ZqDeviceTree::getDevice exception caught :%s", e.what());
        return nullptr;
    }
    *scsi = device->scsiIface();
    if (!*scsi) {
        engineLog(record, 2, fn, "'%s' is not SCSI device", deviceName);
        return nullptr;
    }
    return device;
}

// Array id from page 0x80 (see getDeviceSerialNumber).
int serialFromPage(ZQSO::SnapInfo* record, const char* fn, const char* deviceName, InquirySource& source,
                   std::string& serial) {
    InquiryBuffer data;
    size_t n = 0;
    try {
        n = source.read(kPageSerial, data);
    } catch (const ZqException& e) {
        engineLog(record, 2, fn, "Fail to send scsi inquiry cdb, caught exception:%s", e.what());
        return 0;
    }
    size_t pageLength = n >= 4 ? (size_t(data[2]) << 8 | data[3]) : 0;
    pageLength = std::min(pageLength, n >= 4 ? n - 4 : 0);
    std::string text = trimSpaces(reinterpret_cast<const char*>(data.data()) + 4, pageLength);
    engineLog(record, 0, fn, "Device [%s]  S#[%s]", deviceName, text.c_str());
    if (text.size() < kMinSerialChars) {
        engineLog(record, 2, fn, "Failed to get serial number, buffer [%s]", text.c_str());
        return 0;
    }
    serial = upper("0000" + text.substr(0, kMinSerialChars));
    std::string configured = getPlatformString("IBMSVC_ARRAY_ID", "");
    if (!configured.empty()) {
        serial = configured;
        engineLog(record, 0, fn, "Reading ClusterID [%s] from ReGKey", serial.c_str());
    } else {
        engineLog(record, 0, fn, "Device [%s]  S# without IOGroup [%s]", deviceName, serial.c_str());
    }
    return 1;
}

// Device given by its unique id (flag bit 29).
int identifyByGuid(ZQSO::SnapInfo* record, const char* fn, const char* deviceName, std::string& vendor,
                   std::string& product, std::string& arrayId, std::string& lunUniqueId) {
    vendor = configuredVendor();
    product = configuredProduct();
    lunUniqueId = removeSpecialChar(deviceName, ':', true);
    std::string guid;
    if (!readHostValue(record, ZQSO::GET_VALUE_VOL_SOURCE_GUID, guid)) {
        engineLog(record, 2, fn, "Failed to get source volume GUID");
        return 0;
    }
    arrayId = GetArrayIdFromHexString(guid);
    return 1;
}

// A virtual-machine device: the name is an information text.
int identifyVirtualDevice(ZQSO::ZQOSUtil* os, ZQSO::SnapInfo* record, const char* fn, const std::string& text,
                          std::string& vendor, std::string& product, std::string& arrayId,
                          std::string& lunUniqueId, bool fetchArrayId) {
    std::string inquiry, version, lunText;
    if (!parseJsonString(record, text, "standardinqury", inquiry) || !parseJsonString(record, text, "version", version))
        return 0;
    char* end = nullptr;
    long versionNumber = std::strtol(version.c_str(), &end, 10);
    std::string data;
    if (versionNumber > 9) {
        for (size_t i = 0; i + 1 < inquiry.size() && data.size() < kInquiryLength; i += 2) {
            char pair[3] = {inquiry[i], inquiry[i + 1], 0};
            if (!std::isxdigit(static_cast<unsigned char>(pair[0])) ||
                !std::isxdigit(static_cast<unsigned char>(pair[1])))
                break;
            data += char(std::strtol(pair, nullptr, 16));
        }
    } else {
        data = inquiry.substr(0, kInquiryLength);
    }
    if (data.size() < kMinStandardInquiry) {
        engineLog(record, 2, fn, "Standard inquiry data of the device are too short [%zu bytes]", data.size());
        return 0;
    }
    vendor = trimSpaces(data.data() + 8, 8);
    product = trimSpaces(data.data() + 16, 16);
    if (!isConfiguredDevice(vendor, product)) {
        engineLog(record, 0, fn, "Device [%s] Vendor: [%s] Product line : [%s] does not belong to IBMSVC",
                  text.c_str(), vendor.c_str(), product.c_str());
        return 0;
    }
    if (!parseJsonString(record, text, "lunuuid", lunText)) return 0;
    if (lunText.size() < 10 + 32) {
        engineLog(record, 2, fn, "lun UUID [%s] is too short", lunText.c_str());
        return 0;
    }
    lunUniqueId = upper(lunText.substr(10, 32));
    engineLog(record, 0, fn, "lun UUID [%s]", lunUniqueId.c_str());
    if (fetchArrayId) {
        arrayId.clear();
        CheckandGetArrayID(os, record, arrayId, lunUniqueId);
        engineLog(record, 0, fn, "Array ID [%s]", arrayId.c_str());
    } else {
        engineLog(record, 0, fn, "Not going to fetch Array ID");
    }
    return 1;
}

// Steps shared by both forms once inquiry data can be read: vendor and
// product, the LUN unique id, the array id.
int identifyFromInquiry(ZQSO::ZQOSUtil* os, ZQSO::SnapInfo* record, const char* fn, const char* deviceName,
                        InquirySource& source, std::string& vendor, std::string& product, std::string& arrayId,
                        std::string& lunUniqueId, bool fetchArrayId,
                        int (*readSerial)(ZQSO::SnapInfo*, const char*, std::string&)) {
    InquiryBuffer data;
    try {
        size_t n = source.read(-1, data);
        // A node whose logical unit is gone (the array unmapped it) still
        // answers, with nothing behind it.
        const int qualifier = zq::platform::peripheralQualifier(data.data(), n);
        if (qualifier > 0) {
            engineLog(record, 0, fn, "Device [%s] has no logical unit (peripheral qualifier %d)", deviceName,
                      qualifier);
            return 0;
        }
        if (n < kMinStandardInquiry)
            throw ZqException("standard inquiry returned " + std::to_string(n) + " bytes");
        vendor = trimSpaces(reinterpret_cast<const char*>(data.data()) + 8, 8);
        product = trimSpaces(reinterpret_cast<const char*>(data.data()) + 16, 16);
        if (!isConfiguredDevice(vendor, product)) {
            engineLog(record, 0, fn, "Device [%s] Vendor: [%s] Product line : [%s] does not belong to IBMSVC",
                      deviceName, vendor.c_str(), product.c_str());
            return 0;
        }
        engineLog(record, 0, fn, "Device [%s] Vendor: [%s] Product line : [%s]", deviceName, vendor.c_str(),
                  product.c_str());
        n = source.read(kPageDeviceId, data);
        lunUniqueId = zq::platform::lunUidOfPage83(data.data(), n);
        if (lunUniqueId.empty())
            throw ZqException("page 0x83 (" + std::to_string(n) + " bytes) holds no NAA designator of the logical unit");
        engineLog(record, 0, fn, "lun uuid : [%s] ", lunUniqueId.c_str());
    } catch (const ZqException& e) {
        engineLog(record, 2, fn, "Fail to send scsi inquiry cdb, caught exception:%s", e.what());
        return 0;
    }

    int fromDb = 0;
    GetRegInt(nullptr, "IBMSVC_GET_ARRAYID_FROM_DB", &fromDb);
    std::string serial;
    arrayId.clear();
    if (readSerial(record, deviceName, serial)) {
        engineLog(record, 0, fn, "Device [%s] Array Serial# [%s]", deviceName, serial.c_str());
        arrayId = serial;
    } else if (fromDb == 0) {
        engineLog(record, 2, fn, "Failed to get page 0x80 on device [%s], can not get array info", deviceName);
        return 0;
    }
    if (fromDb >= 1 && fetchArrayId) {
        engineLog(record, 0, fn, "Reading ArrayID from HubServ DB instead getting from device SCSI page 0x80");
        arrayId.clear();
        CheckandGetArrayID(os, record, arrayId, lunUniqueId);
    }
    engineLog(record, 0, fn, "Device [%s] Array ID [%s]", deviceName, arrayId.c_str());
    return 1;
}

}  // namespace

int getDevArrayInfo(ZQSO::ZQOSUtil* os, ZQSO::SnapInfo* record, const char* deviceName, std::string& vendor,
                    std::string& product, std::string& arrayId, std::string& lunUniqueId, bool fetchArrayId,
                    bool honourRecordFlags) {
    const char* fn = "getDevArrayInfo";
    if (!deviceName || !*deviceName) {
        engineLog(record, 2, fn, "Device name is not set. Cannot fetch array info.");
        return 0;
    }
    if (honourRecordFlags && record && (record->getFlags() & ZQSO::SNAP_FLAG_DEVICE_BY_GUID))
        return identifyByGuid(record, fn, deviceName, vendor, product, arrayId, lunUniqueId);
    if (std::strstr(deviceName, "vmware"))
        return identifyVirtualDevice(os, record, fn, deviceName, vendor, product, arrayId, lunUniqueId,
                                     fetchArrayId);
    ZqDeviceScsiIface* scsi = nullptr;
    auto device = openScsiDevice(record, fn, deviceName, &scsi);
    if (!device) return 0;
    DeviceInquiry source(scsi);
    return identifyFromInquiry(os, record, fn, deviceName, source, vendor, product, arrayId, lunUniqueId,
                               fetchArrayId, getDeviceSerialNumber);
}

int getDevArrayInfo2(ZQSO::ZQOSUtil* os, ZQSO::SnapInfo* record, const char* deviceName, std::string& vendor,
                     std::string& product, std::string& arrayId, std::string& lunUniqueId, bool fetchArrayId) {
    const char* fn = "getDevArrayInfo2";
    if (!deviceName || !*deviceName) {
        engineLog(record, 2, fn, "Device name is not set. Cannot fetch array info.");
        return 0;
    }
    if (record && (record->getFlags() & ZQSO::SNAP_FLAG_DEVICE_BY_GUID))
        return identifyByGuid(record, fn, deviceName, vendor, product, arrayId, lunUniqueId);
    if (std::strstr(deviceName, "vmware"))
        return identifyVirtualDevice(os, record, fn, deviceName, vendor, product, arrayId, lunUniqueId,
                                     fetchArrayId);
    RecordInquiry source(record);
    return identifyFromInquiry(os, record, fn, deviceName, source, vendor, product, arrayId, lunUniqueId,
                               fetchArrayId, getDeviceSerialNumber2);
}

int getDeviceSerialNumber(ZQSO::SnapInfo* record, const char* deviceName, std::string& serial) {
    const char* fn = "getDeviceSerialNumber";
    if (!deviceName || !*deviceName) {
        engineLog(record, 2, fn, "Device name is not set. Cannot fetch array info.");
        return 0;
    }
    ZqDeviceScsiIface* scsi = nullptr;
    auto device = openScsiDevice(record, fn, deviceName, &scsi);
    if (!device) return 0;
    DeviceInquiry source(scsi);
    return serialFromPage(record, fn, deviceName, source, serial);
}

int getDeviceSerialNumber2(ZQSO::SnapInfo* record, const char* deviceName, std::string& serial) {
    RecordInquiry source(record);
    return serialFromPage(record, "getDeviceSerialNumber2", deviceName ? deviceName : "", source, serial);
}

}  // namespace ZQSOIBMSVCAPI
