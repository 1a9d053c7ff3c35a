// Fuzzes the remote message bodies a proxy receives: the request decoder of
// every message the proxy runs, for batches of one to three records, and the
// prepare request's encoder and decoder, which must agree.
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
    return 0;
}
