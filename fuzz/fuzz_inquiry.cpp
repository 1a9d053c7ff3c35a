// Fuzzes device identification from SCSI inquiry data: the standard inquiry,
// page 0x80 (the array's serial) and page 0x83 (the LUN's unique id) as a
// record holds them, and the information text a hypervisor gives for a disk.
// Input: one byte with the standard page's length, one with page 0x80's,
// then the pages in that order, the rest being page 0x83; an input that
// begins with "{" is a hypervisor descriptor instead.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "DeviceIdentification.h"
#include "TestSnapInfo.h"
#include "ZqHostDiskView.h"

using namespace ZQSOIBMSVCAPI;
using zqtest::TestSnapInfo;

namespace {

bool upperHex(const std::string& s) {
    for (char c : s)
        if (!std::isdigit(static_cast<unsigned char>(c)) && (c < 'A' || c > 'F')) return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TestSnapInfo record;
    std::string vendor, product, arrayId, lunUid;

    if (size > 0 && data[0] == '{') {
        // The descriptor is the device name; the engine reads it up to a zero byte.
        std::string text(reinterpret_cast<const char*>(data), size);
        text = text.c_str();
        if (text.find("vmware") == std::string::npos) text.insert(1, "idatype:vmware,");
        if (getDevArrayInfo2(nullptr, &record, text.c_str(), vendor, product, arrayId, lunUid, true) == 1 &&
            lunUid.size() != 32)
            __builtin_trap();
        return 0;
    }
    if (size < 2) return 0;
    size_t at = 2;
    auto take = [&](size_t n) {
        n = std::min(n, size - at);
        std::vector<uint8_t> page(data + at, data + at + n);
        at += n;
        return page;
    };
    std::vector<uint8_t> standard = take(data[0]);
    std::vector<uint8_t> serial = take(data[1]);
    std::vector<uint8_t> deviceId = take(size - at);
    if (deviceId.size() > 255) deviceId.resize(255);
    record.setScsiPage(0, standard);
    record.setScsiPage(0x80, serial);
    record.setScsiPage(0x83, deviceId);

    std::string serialText;
    if (getDeviceSerialNumber2(&record, "/dev/sdz", serialText) == 1 &&
        (serialText.size() != 16 || serialText.compare(0, 4, "0000") != 0))
        __builtin_trap();
    if (getDevArrayInfo2(nullptr, &record, "/dev/sdz", vendor, product, arrayId, lunUid, true) == 1 &&
        (lunUid.size() != 32 || !upperHex(lunUid) || arrayId != serialText))
        __builtin_trap();

    std::string fromPlatform = zq::platform::lunUidOfPage83(deviceId);
    if (!fromPlatform.empty() && (fromPlatform.size() != 32 || !upperHex(fromPlatform))) __builtin_trap();
    return 0;
}
