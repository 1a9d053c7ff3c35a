// Prepare: for every record of a batch, a target volume on the source's
// array (a reusable one found by its label, or a new one), the FlashCopy
// mapping between them, optionally one consistency group for the batch, and
// the mappings brought to the prepared state, so that snap only starts them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "zqso/SnapInfo.h"
#include "zqso/ZQOSUtil.h"

namespace ZQSOIBMSVCAPI {

// What the calling host knows of a record's source device, collected before
// any array work (and sent to a proxy with the request).
struct LocalDataPrepare {
    bool skipPhyicalQuery = false;  // the device is given by its unique id (flag bit 29)
    std::string vendorId;
    std::string productId;
    std::string uuidLun;
    std::string arrayName;
};

// Identifies every record's source device on this host and collects one
// LocalDataPrepare per record. Every record starts at status 2. True on
// failure: a device that is not an IBM SVC volume of the batch's array
// (errors 62005, 60322) stops the check before anything is sent.
bool prepareDevicesLocalOperation(ZQSO::SnapInfo** records, int16_t count, ZQSO::ZQOSUtil* os,
                                  std::vector<LocalDataPrepare>& data);

// The array work of the batch. Records end at status 1 (prepared), 2 (failed;
// nothing of the record is left on the array) or 6 (unknown engine type, or a
// clone whose copy could not be followed). 0 every record prepared, 2 some, 1 none.
int prepareDevices(ZQSO::SnapInfo** records, int16_t count, ZQSO::ZQOSUtil* os,
                   const std::vector<LocalDataPrepare>& data);

}  // namespace ZQSOIBMSVCAPI
