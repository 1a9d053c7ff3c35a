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
    static const std::string_view kNames[] = {"boolean", "uint8",  "sint8",  "uint16",   "sint16",    "uint32",
                                              "sint32",  "uint64", "sint64", "real32",   "real64",    "char16",
                                              "string",  "datetime", "reference", "object", "instance"};
    static_assert(sizeof(kNames) / sizeof(kNames[0]) == sizeof(kTypeNames) / sizeof(kTypeNames[0]));
    if (text.empty()) return false;
    for (unsigned i = 0; i < sizeof(kNames) / sizeof(kNames[0]); ++i) {
        const std::string_view name = kNames[i];
        if (text.size() != name.size() || text[0] != name[0]) continue;
        size_t k = 1;
        while (k < name.size() && text[k] == name[k]) ++k;
        if (k == name.size()) {
            type = CIMType(i);
            return true;
        }
    }
    return false;
}

}  // namespace Pegasus
