// Fuzzes the readers of a copy's unique identifier (metadata 1) and of array
// ids: a text with seven or more "*" parses into fields that give the text
// back, anything else is refused; array ids are "0000" and at most twelve
// upper-case characters.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string>

#include "IBMSVCUtility.h"
#include "TestSnapInfo.h"

using namespace ZQSOIBMSVCAPI;
using zqtest::TestSnapInfo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    TestSnapInfo record;

    UniqueId f;
    size_t stars = 0;
    for (char c : text) stars += c == '*';
    int parsed = parseUniqueId(&record, text, f);
    if (parsed != (stars >= 7 ? 1 : 0)) __builtin_trap();
    if (parsed) {
        std::string joined = f.arrayId + "*" + f.snapOp + "*" + f.snapServicePath + "*" + f.srcDev + "*" +
                             f.srcDevPath + "*" + f.carried + "*" + f.snapDev + "*" + f.snapDevPath;
        if (stars == 7 ? (joined != text || f.targetSelMode != "0") : joined + "*" + f.targetSelMode != text)
            __builtin_trap();
    }

    // The same text as the record's metadata 1.
    record.setMeta(1, text);
    (void)getSnapDeviceUUID(&record);
    (void)getStorageArrayId(&record);

    std::string id = GetArrayIdFromHexString(text);
    if (id.compare(0, 4, "0000") != 0 || id.size() > 16) __builtin_trap();
    for (size_t i = 4; i < id.size(); ++i)
        if (id[i] == '\0' || std::islower(static_cast<unsigned char>(id[i]))) __builtin_trap();

    std::string bare = removeSpecialChar(text, ':', true);
    if (bare.size() + (text.size() - [&] {
            size_t n = 0;
            for (char c : text) n += c != ':';
            return n;
        }()) != text.size() ||
        bare.find(':') != std::string::npos)
        __builtin_trap();
    return 0;
}
