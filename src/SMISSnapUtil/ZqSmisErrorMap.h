// Translation of provider return values into the engine's SMI-S error codes
// and the host record's error codes.
#pragma once

#include <cstdint>
#include <string>

namespace ZQ_SMIS_SNAP {

// One provider return value. A map ends with the record (0, 0, 0, "Success"),
// which lookups never match.
struct ZQ_SMIS_ERROR_MAP {
    int32_t vendorCode;  // as the provider returns it
    int32_t smisCode;    // the engine's SMI-S error code
    int32_t hostCode;    // error code for the host record, -1 for none
    const char* message;
};

// Host code of an SMI-S code; -1 for a null map or an unknown code.
int GetZqSmisErrorCode(const ZQ_SMIS_ERROR_MAP* map, int smisCode);

// SMI-S code of a provider return value; -1 for a null map or an unknown
// code. `message`, when given, is cleared and then receives the row's text.
int GetVendorSmisErrorCode(const ZQ_SMIS_ERROR_MAP* map, int vendorCode, std::string* message);

}  // namespace ZQ_SMIS_SNAP
