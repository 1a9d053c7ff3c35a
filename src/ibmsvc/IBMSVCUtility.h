// Parsers of the engine's texts: array ids, the host's name:value
// information texts, and the unique identifier of a copy (metadata 1).
#pragma once

#include <cstddef>
#include <string>

#include "zqso/SnapInfo.h"

namespace ZQSOIBMSVCAPI {

// The nine fields of a unique identifier, in their order.
struct UniqueId {
    std::string arrayId;
    std::string snapOp;  // 4 snapshot, 5 clone
    std::string snapServicePath;
    std::string srcDev;
    std::string srcDevPath;
    std::string carried;  // sixth field, not read back
    std::string snapDev;  // the copy volume's unique id
    std::string snapDevPath;
    std::string targetSelMode;
};

// "0000" followed by up to 12 bytes decoded from the hexadecimal digits
// (":" ignored), upper-cased, up to the first zero byte.
std::string GetArrayIdFromHexString(const std::string& hex);
// `text` without every `ch`, upper-cased when asked.
std::string removeSpecialChar(const std::string& text, char ch, bool upperCase);
// The bytes (up to the first zero byte) with "*" turned into blanks and
// trailing white space removed; empty for null or zero length.
std::string trimSpaces(const char* bytes, size_t length);
// The value of `item` in a name:value text; 1 found, 0 not. Lines go to the
// record (level 0); the "hostPassword" value never reaches a line.
int parseJsonString(ZQSO::SnapInfo* record, const std::string& text, const std::string& item, std::string& value);
// `text` with the value of every "hostPassword" item replaced by "****": all
// of it up to the "," of the next known item ("arrayId", "hostName",
// "hostUserName", "hostPassword", "engineId") or the end of the text.
std::string maskPassword(const std::string& text);
// 1 parsed, 0 invalid (fewer than seven "*" separators).
int parseUniqueId(ZQSO::SnapInfo* record, const std::string& uniqueId, UniqueId& fields);
// Fields of the record's metadata 1; empty when it cannot be read or parsed.
std::string getSnapDeviceUUID(ZQSO::SnapInfo* record);
std::string getStorageArrayId(ZQSO::SnapInfo* record);
// "engineId" of the record's array information (20 snapshot, 21 clone); 0 when absent.
int getSnapEngineType(ZQSO::SnapInfo* record);

}  // namespace ZQSOIBMSVCAPI
