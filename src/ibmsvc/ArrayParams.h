// Array parameters: the provider endpoint a snapshot object needs for a
// record's array (address, login, namespace, port, scheme), taken from the
// host's array information, and the search among the arrays known to the
// host for the one whose provider holds a LUN.
#pragma once

#include <string>

#include "IBMSVCSnapshot.h"
#include "zqso/SnapInfo.h"
#include "zqso/ZQOSUtil.h"

namespace ZQSOIBMSVCAPI {

// Record form: the endpoint of `arrayId` from the record's array information
// (slot 4), after selecting that array on the record (slot 5) when
// `selectArray` is set. 1 done; 0 failed, with error 62005 "Failed to get
// array info" on the record.
int initArrayParams(IBMSVCSnapshot& snap, ZQSO::SnapInfo* record, const std::string& arrayId, bool selectArray);
// Text form: the endpoint from a ready information text, which names its
// "arrayId". 1 or 0 as above; the record's own settings are not read.
int initArrayParams(ZQSO::SnapInfo* record, IBMSVCSnapshot& snap, const std::string& infoText);

// The snapshot object of one record's turn: bound to the record (its traces
// and errors go there) and given the endpoint of `arrayId` (record form).
int initRecordSnapshot(IBMSVCSnapshot& snap, ZQSO::SnapInfo* record, const std::string& arrayId, bool selectArray);

// Among the IBM SVC arrays known to the host, in the host's order, the first
// whose provider holds the LUN `lunUniqueId`: 1 with its id in `arrayId`, 0
// when none does or an array's information cannot be read.
int CheckandGetArrayID(ZQSO::ZQOSUtil* os, ZQSO::SnapInfo* record, std::string& arrayId,
                       const std::string& lunUniqueId);

}  // namespace ZQSOIBMSVCAPI
