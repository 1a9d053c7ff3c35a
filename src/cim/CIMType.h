// The CIM intrinsic types, numbered as the engine compares them.
#pragma once

#include <string_view>

#include "cim/Config.h"

namespace Pegasus {

enum CIMType {
    CIMTYPE_BOOLEAN = 0,
    CIMTYPE_UINT8 = 1,
    CIMTYPE_SINT8 = 2,
    CIMTYPE_UINT16 = 3,
    CIMTYPE_SINT16 = 4,
    CIMTYPE_UINT32 = 5,
    CIMTYPE_SINT32 = 6,
    CIMTYPE_UINT64 = 7,
    CIMTYPE_SINT64 = 8,
    CIMTYPE_REAL32 = 9,
    CIMTYPE_REAL64 = 10,
    CIMTYPE_CHAR16 = 11,
    CIMTYPE_STRING = 12,
    CIMTYPE_DATETIME = 13,
    CIMTYPE_REFERENCE = 14,
    CIMTYPE_OBJECT = 15,
    CIMTYPE_INSTANCE = 16
};

// The CIM-XML name of a type ("boolean", "uint16", "reference", ...).
const char* cimTypeToString(const CIMType type);

// Reads a CIM-XML type name (exact, lower case); false when unknown.
Boolean cimTypeFromString(std::string_view text, CIMType& type);

}  // namespace Pegasus
