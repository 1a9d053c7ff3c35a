// Fuzzes the reading of the host's array information text (name:value items
// separated by ","): every item is looked up, the engine type read through a
// record, and the password never shows in a masked text or a record's line.
#include <cstddef>
#include <cstdint>
#include <string>

#include "IBMSVCUtility.h"
#include "TestOSUtil.h"
#include "TestSnapInfo.h"

using namespace ZQSOIBMSVCAPI;
using zqtest::TestOSUtil;
using zqtest::TestSnapInfo;

namespace {

size_t occurrences(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    TestSnapInfo record;
    std::string value, password;
    for (const char* item : {"arrayId", "hostName", "hostUserName", "engineId"})
        (void)parseJsonString(&record, text, item, value);
    TestSnapInfo quiet;  // only the password's lookup logs here
    bool hasPassword = parseJsonString(&quiet, text, "hostPassword", password) == 1;
    std::string masked = maskPassword(text);

    // A password that stands once in the text, without the characters the
    // masking writes or that join its pieces, must be gone from the masked
    // text, and its own lookup logs no line that holds it.
    if (hasPassword && !password.empty() && occurrences(text, password) == 1 &&
        password.find_first_of(":*,") == std::string::npos) {
        if (masked.find(password) != std::string::npos) __builtin_trap();
        for (const auto& line : quiet.lines())
            if (line.text.find(password) != std::string::npos) __builtin_trap();
    }

    // The same text as the array information of a record's selected array.
    TestOSUtil host;
    host.addArray("A", "IBM", text);
    TestSnapInfo bound(&host);
    bound.selectArrayForTest("A");
    (void)getSnapEngineType(&bound);
    return 0;
}
