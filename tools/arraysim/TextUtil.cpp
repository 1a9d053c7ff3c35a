#include "TextUtil.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>

namespace arraysim {

std::string toLower(std::string s) {
    for (auto& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string toUpper(std::string s) {
    for (auto& c : s) c = char(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

bool equalsNoCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

bool isIscsiName(const std::string& name) {
    std::string head = toLower(name.substr(0, 4));
    return head == "iqn." || head == "eui." || head == "naa.";
}

std::string normalisePortName(const std::string& name) {
    if (isIscsiName(name)) return toLower(name);
    std::string out;
    for (char c : name)
        if (c != ':') out += char(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

std::vector<std::string> splitText(const std::string& text, char sep) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(sep, start);
        if (end == std::string::npos) end = text.size();
        if (end > start) out.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

bool parseInt64(const std::string& text, long long& out) {
    if (text.empty()) return false;
    const char* s = text.c_str();
    char* end = nullptr;
    errno = 0;
    int base = 10;
    size_t sign = (s[0] == '-' || s[0] == '+') ? 1 : 0;
    if (text.size() > sign + 2 && s[sign] == '0' && (s[sign + 1] == 'x' || s[sign + 1] == 'X')) base = 16;
    if (!std::isxdigit(static_cast<unsigned char>(s[sign]))) return false;
    long long v = std::strtoll(s, &end, base);
    if (errno == ERANGE || *end != '\0') return false;
    out = v;
    return true;
}

bool parseUint64(const std::string& text, unsigned long long& out) {
    if (text.empty() || text[0] == '-') return false;
    const char* s = text.c_str();
    size_t skip = text[0] == '+' ? 1 : 0;
    if (!std::isxdigit(static_cast<unsigned char>(s[skip]))) return false;
    int base = (text.size() > skip + 2 && s[skip] == '0' && (s[skip + 1] == 'x' || s[skip + 1] == 'X')) ? 16 : 10;
    char* end = nullptr;
    errno = 0;
    unsigned long long v = std::strtoull(s, &end, base);
    if (errno == ERANGE || *end != '\0') return false;
    out = v;
    return true;
}

}  // namespace arraysim
