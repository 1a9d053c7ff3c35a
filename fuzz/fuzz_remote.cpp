// Fuzzes the remote message bodies: the request decoder of every message the
// proxy runs, for batches of one to three records, the prepare request's
// encoder and decoder, which must agree, the response decoders of map, unmap
// and revert the calling host reads, and the decimal texts of the message id
// and return code.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "IBMSVCEngineRemoteHelper.h"
#include "IBMSVCRemoteMessages.h"
#include "TestSnapInfo.h"

using namespace ZQSOIBMSVCAPI;
using zqtest::TestSnapInfo;

namespace {

bool samePrepare(const std::vector<LocalDataPrepare>& a, const std::vector<LocalDataPrepare>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i].skipPhyicalQuery != b[i].skipPhyicalQuery || a[i].vendorId != b[i].vendorId ||
            a[i].productId != b[i].productId || a[i].uuidLun != b[i].uuidLun || a[i].arrayName != b[i].arrayName)
            return false;
    return true;
}

// A count read back must be the one the encoder writes again.
void checkCounts(const std::string& response) {
    int32_t map = -7, avail = -7, unmap = -7, revert = -7;
    if (getResponseMap(response, map, avail)) {
        LocalDataMap data;
        data.mapCount = map;
        data.availCount = avail;
        std::string text;
        int32_t map2 = 0, avail2 = 0;
        if (!fillResponseMap(data, text) || !getResponseMap(text, map2, avail2) || map2 != map || avail2 != avail)
            __builtin_trap();
    }
    if (getResponseUnMap(response, unmap)) {
        LocalDataMap data;
        data.unmapCount = unmap;
        std::string text;
        int32_t unmap2 = 0;
        if (!fillResponseUnMap(data, text) || !getResponseUnMap(text, unmap2) || unmap2 != unmap) __builtin_trap();
    }
    if (getResponseRevert(response, revert)) {
        std::string text;
        int32_t revert2 = 0;
        if (!fillResponseRevert(revert, text) || !getResponseRevert(text, revert2) || revert2 != revert)
            __builtin_trap();
    }
}

// Whole decimal texts of at most nine digits, nothing else.
void checkDecimal(const std::string& text) {
    unsigned value = 0;
    const bool digits = !text.empty() && text.size() <= 9 &&
                        text.find_first_not_of("0123456789") == std::string::npos;
    if (parseDecimal(text, &value) != digits) __builtin_trap();
    if (digits && std::stoul(text) != value) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string request(reinterpret_cast<const char*>(data), size);
    for (const auto& [id, make] : ibmsvcRemoteMessages()) {
        for (int16_t count = 1; count <= 3; ++count) {
            std::vector<TestSnapInfo> records(static_cast<size_t>(count));
            std::vector<ZQSO::SnapInfo*> batch;
            for (auto& r : records) batch.push_back(&r);
            auto handler = make();
            (void)handler->decodeRequest(request, batch.data(), count);
        }
    }

    std::vector<LocalDataPrepare> devices, again;
    if (getRequestPrepare(request, devices)) {
        std::string text;
        if (!fillRequestPrepare(devices, text) || !getRequestPrepare(text, again) || !samePrepare(devices, again))
            __builtin_trap();
    }

    checkCounts(request);
    checkDecimal(request);
    return 0;
}
