// The IBM SVC remote messages: one encoder and decoder per message body, and
// the table of the messages a proxy runs (IBMSVCEngineRemoteHelper.h).
#pragma once

#include <string>
#include <vector>

#include "PrepareDevices.h"

namespace ZQSOIBMSVCAPI {

// Message 1: {"prepareDevices": [{"arrayName", "productId", "skipPhyicalQuery",
// "uuidLun", "vendorId"}, ...]}, one element per device in list order.
bool fillRequestPrepare(const std::vector<LocalDataPrepare>& devices, std::string& request);
// False for a text that does not parse, an element that is not an object,
// or no device at all. Absent keys or keys of another type leave the field
// empty (false).
bool getRequestPrepare(const std::string& request, std::vector<LocalDataPrepare>& devices);

}  // namespace ZQSOIBMSVCAPI
