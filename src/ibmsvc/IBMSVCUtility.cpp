#include "IBMSVCUtility.h"

#include <cctype>
#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

#include "EngineFrame.h"

namespace ZQSOIBMSVCAPI {

namespace {

constexpr size_t kMaxValueLength = 1023;
constexpr size_t kMaxArrayIdBytes = 12;

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool wholeDecimal(const std::string& text, long* out) {
    if (text.empty() || text.size() > 10) return false;
    size_t i = (text[0] == '-') ? 1 : 0;
    if (i == text.size()) return false;
    long value = 0;
    for (; i < text.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
        value = value * 10 + (text[i] - '0');
    }
    *out = text[0] == '-' ? -value : value;
    return true;
}

// Where the value starting at `from` ends: at the "," that opens the next
// item of the array information (a known name, then ":"), else at the end of
// the text. A password may hold any character, "," ":" and "}" included, so
// nothing else is taken for its end.
size_t nextItemStart(const std::string& text, size_t from) {
    static const char* const kItems[] = {"arrayId", "hostName", "hostUserName", "hostPassword", "engineId"};
    auto blank = [](char c) { return c == ' ' || c == '\t'; };
    for (size_t comma = text.find(',', from); comma != std::string::npos; comma = text.find(',', comma + 1)) {
        size_t i = comma + 1;
        while (i < text.size() && blank(text[i])) ++i;
        bool quoted = i < text.size() && text[i] == '"';
        if (quoted) ++i;
        for (const char* item : kItems) {
            size_t j = i + std::strlen(item);
            if (text.compare(i, std::strlen(item), item) != 0) continue;
            if (quoted && (j >= text.size() || text[j++] != '"')) continue;
            while (j < text.size() && blank(text[j])) ++j;
            if (j < text.size() && text[j] == ':') return comma;
        }
    }
    return text.size();
}

// The text of the metadata 1 fields, or empty after a logged failure.
bool readUniqueId(ZQSO::SnapInfo* record, UniqueId& fields) {
    std::string text;
    if (!readMetaData(record, ZQSO::SM_MDT_UNIQUE_ID, text) || parseUniqueId(record, text, fields) == 0) {
        engineLog(record, 2, "parseUniqueId", "Failed to parse unique  identifier [%s]", text.c_str());
        return false;
    }
    return true;
}

}  // namespace

std::string GetArrayIdFromHexString(const std::string& hex) {
    std::string digits = removeSpecialChar(hex, ':', false);
    std::string bytes;
    for (size_t i = 0; i + 1 < digits.size() && bytes.size() < kMaxArrayIdBytes; i += 2) {
        int hi = hexDigit(digits[i]), lo = hexDigit(digits[i + 1]);
        if (hi < 0 || lo < 0) break;
        char byte = char(hi * 16 + lo);
        if (byte == '\0') break;
        bytes += char(std::toupper(static_cast<unsigned char>(byte)));
    }
    return "0000" + bytes;
}

std::string removeSpecialChar(const std::string& text, char ch, bool upperCase) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == ch) continue;
        out += upperCase ? char(std::toupper(static_cast<unsigned char>(c))) : c;
    }
    return out;
}

std::string trimSpaces(const char* bytes, size_t length) {
    if (!bytes || length == 0) return std::string();
    std::string out;
    for (size_t i = 0; i < length && bytes[i] != '\0'; ++i) out += bytes[i] == '*' ? ' ' : bytes[i];
    size_t end = out.size();
    while (end > 0 && std::isspace(static_cast<unsigned char>(out[end - 1]))) --end;
    out.resize(end);
    return out;
}

std::string maskPassword(const std::string& text) {
    static const std::string item = "hostPassword";
    std::string out = text;
    size_t pos = 0;
    while ((pos = out.find(item, pos)) != std::string::npos) {
        size_t colon = out.find(':', pos + item.size());
        if (colon == std::string::npos) break;
        size_t end = nextItemStart(out, colon + 1);
        out.replace(colon + 1, end - colon - 1, "****");
        pos = colon + 5;
    }
    return out;
}

int parseJsonString(ZQSO::SnapInfo* record, const std::string& text, const std::string& item, std::string& value) {
    const char* fn = "parseJsonString";
    if (text.empty() || item.empty()) {
        engineLog(record, 0, fn,
                  "Either the parse string or the item to search is empty. Parse string[%s] Item to search[%s]",
                  maskPassword(text).c_str(), item.c_str());
        return 0;
    }
    size_t at = text.find(item);
    if (at == std::string::npos) {
        engineLog(record, 0, fn, "The item being requested [%s] is not in Json string [%s]", item.c_str(),
                  maskPassword(text).c_str());
        return 0;
    }
    size_t colon = text.find(':', at + item.size());
    if (colon == std::string::npos) {
        engineLog(record, 0, fn, "Name-value separator character is not present.");
        return 0;
    }
    size_t start = colon + 1;
    size_t comma = text.find(',', at + item.size());
    if (comma != std::string::npos && comma < start) {
        engineLog(record, 0, fn, "No value present for item %s", item.c_str());
        return 0;
    }
    size_t end = comma != std::string::npos ? comma : text.find('}', start);
    if (end == std::string::npos) {
        engineLog(record, 0, fn, "Item separator character is not present");
        return 0;
    }
    value = text.substr(start, std::min(end - start, kMaxValueLength));
    if (item.find("hostPassword") == std::string::npos)
        engineLog(record, 0, fn, "Item Name:Item Value [%s:%s]", item.c_str(), value.c_str());
    return 1;
}

int parseUniqueId(ZQSO::SnapInfo* record, const std::string& uniqueId, UniqueId& fields) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (parts.size() < 8) {
        size_t star = uniqueId.find('*', start);
        if (star == std::string::npos) break;
        parts.push_back(uniqueId.substr(start, star - start));
        start = star + 1;
    }
    if (parts.size() < 7) {
        engineLog(record, 2, "parseUniqueId", "Invalid unique identifier %s", uniqueId.c_str());
        return 0;
    }
    // Seven separators: the eighth field runs to the end and the mode is "0".
    std::string rest = uniqueId.substr(start);
    if (parts.size() == 7) {
        parts.push_back(rest);
        rest = "0";
    }
    fields = UniqueId{parts[0], parts[1], parts[2], parts[3], parts[4], parts[5], parts[6], parts[7], rest};
    engineLog(record, 0, "parseUniqueId",
              " arrayId = %s, snapOp = %s, snapServicePath = %s, srcDev = %s, srcDevPath = %s targetDev = %s, "
              "targetSelMode = %s",
              fields.arrayId.c_str(), fields.snapOp.c_str(), fields.snapServicePath.c_str(), fields.srcDev.c_str(),
              fields.srcDevPath.c_str(), fields.snapDev.c_str(), fields.targetSelMode.c_str());
    return 1;
}

std::string getSnapDeviceUUID(ZQSO::SnapInfo* record) {
    UniqueId fields;
    return readUniqueId(record, fields) ? fields.snapDev : std::string();
}

std::string getStorageArrayId(ZQSO::SnapInfo* record) {
    UniqueId fields;
    return readUniqueId(record, fields) ? fields.arrayId : std::string();
}

int getSnapEngineType(ZQSO::SnapInfo* record) {
    std::string info, value;
    long engine = 0;
    if (!readArrayInfo(record, info) || parseJsonString(record, info, "engineId", value) == 0) return 0;
    if (!wholeDecimal(value, &engine) || engine < INT_MIN || engine > INT_MAX) return 0;
    return int(engine);
}

}  // namespace ZQSOIBMSVCAPI
