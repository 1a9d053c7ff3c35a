#include "ZqSmisErrorMap.h"

namespace ZQ_SMIS_SNAP {

int GetZqSmisErrorCode(const ZQ_SMIS_ERROR_MAP* map, int smisCode) {
    if (!map) return -1;
    for (const ZQ_SMIS_ERROR_MAP* row = map; row->vendorCode != 0; ++row)
        if (row->smisCode == smisCode) return row->hostCode;
    return -1;
}

int GetVendorSmisErrorCode(const ZQ_SMIS_ERROR_MAP* map, int vendorCode, std::string* message) {
    if (message) message->clear();
    if (!map) return -1;
    for (const ZQ_SMIS_ERROR_MAP* row = map; row->vendorCode != 0; ++row) {
        if (row->vendorCode != vendorCode) continue;
        if (message && row->message) *message = row->message;
        return row->smisCode;
    }
    return -1;
}

}  // namespace ZQ_SMIS_SNAP
