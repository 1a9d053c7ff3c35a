// Identification of host devices: vendor, product, array id and LUN unique id
// from SCSI inquiry data, read from the device or from the record.
#pragma once

#include <string>

#include "zqso/SnapInfo.h"
#include "zqso/ZQOSUtil.h"

namespace ZQSOIBMSVCAPI {

// 1 identified, 0 not. `record` may be null (lines then go to the process log).
int getDevArrayInfo(ZQSO::ZQOSUtil* os, ZQSO::SnapInfo* record, const char* deviceName, std::string& vendor,
                    std::string& product, std::string& arrayId, std::string& lunUniqueId, bool fetchArrayId,
                    bool honourRecordFlags);
// The same from the SCSI pages the record holds (slot 91); the record's own
// flag bit 29 is honoured.
int getDevArrayInfo2(ZQSO::ZQOSUtil* os, ZQSO::SnapInfo* record, const char* deviceName, std::string& vendor,
                     std::string& product, std::string& arrayId, std::string& lunUniqueId, bool fetchArrayId);
// The array id from page 0x80 of the device / of the record's data: 1 or 0.
int getDeviceSerialNumber(ZQSO::SnapInfo* record, const char* deviceName, std::string& serial);
int getDeviceSerialNumber2(ZQSO::SnapInfo* record, const char* deviceName, std::string& serial);

}  // namespace ZQSOIBMSVCAPI
