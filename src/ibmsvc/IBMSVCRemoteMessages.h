// The IBM SVC remote messages: one encoder and decoder per message body, and
// the table of the messages a proxy runs (IBMSVCEngineRemoteHelper.h).
#pragma once

#include <string>
#include <vector>

#include "MapSnaps.h"
#include "MappedState.h"
#include "PrepareDevices.h"

namespace ZQSOIBMSVCAPI {

// Message 1: {"prepareDevices": [{"arrayName", "productId", "skipPhyicalQuery",
// "uuidLun", "vendorId"}, ...]}, one element per device in list order.
bool fillRequestPrepare(const std::vector<LocalDataPrepare>& devices, std::string& request);
// False for a text that does not parse, an element that is not an object,
// or no device at all. Absent keys or keys of another type leave the field
// empty (false).
bool getRequestPrepare(const std::string& request, std::vector<LocalDataPrepare>& devices);

// Message 4: {"hostDevPathList", "hostIdentifier", "initiatorIds", "isSCSI", "isVM"}.
bool fillRequestIsMapped(const LocalDataIsMapped& data, std::string& request);
// False for a text that does not parse, without "initiatorIds" (a non-empty
// array of texts) or "isSCSI" (a boolean), or with a list element that is no
// text. The other keys, absent or of another type, leave their field as it was.
bool getRequestIsMapped(const std::string& request, LocalDataIsMapped& data);

// Messages 5 and 6: {"initiatorIds", "isSCSI", "localinitiatorIds", "localisSCSI"}.
bool fillRequestMap(const LocalDataMap& data, std::string& request);
bool fillRequestUnMap(const LocalDataMap& data, std::string& request);
// As getRequestIsMapped for the two initiator lists and their flags.
bool getRequestMap(const std::string& request, LocalDataMap& data);
bool getRequestUnMap(const std::string& request, LocalDataMap& data);

// Responses 5 {"availCount", "mapCount"}, 6 {"unmapCount"}, 8 {"revertCount"}.
bool fillResponseMap(const LocalDataMap& data, std::string& response);
bool fillResponseUnMap(const LocalDataMap& data, std::string& response);
bool fillResponseRevert(int32_t revertCount, std::string& response);
// False for a text that does not parse. A count that is absent, no number or
// outside the 32-bit range leaves its target as it was; others are truncated
// toward zero.
bool getResponseMap(const std::string& response, int32_t& mapCount, int32_t& availCount);
bool getResponseUnMap(const std::string& response, int32_t& unmapCount);
bool getResponseRevert(const std::string& response, int32_t& revertCount);

}  // namespace ZQSOIBMSVCAPI
