#include "cim/CIMType.h"

namespace Pegasus {

namespace {
const char* const kTypeNames[] = {"boolean", "uint8",  "sint8",  "uint16",   "sint16",    "uint32",
                                  "sint32",  "uint64", "sint64", "real32",   "real64",    "char16",
                                  "string",  "datetime", "reference", "object", "instance"};
}

const char* cimTypeToString(const CIMType type) {
    unsigned index = unsigned(type);
    return index < sizeof(kTypeNames) / sizeof(kTypeNames[0]) ? kTypeNames[index] : "unknown";
}

Boolean cimTypeFromString(std::string_view text, CIMType& type) {
    if (text.empty()) return false;
    for (unsigned i = 0; i < sizeof(kTypeNames) / sizeof(kTypeNames[0]); ++i) {
        if (text[0] == kTypeNames[i][0] && text == kTypeNames[i]) {
            type = CIMType(i);
            return true;
        }
    }
    return false;
}

}  // namespace Pegasus
