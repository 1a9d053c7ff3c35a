#include "cim/ValueText.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "cim/Exception.h"

namespace Pegasus {
namespace valuetext {

namespace {

std::string_view trim(std::string_view t) {
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!t.empty() && blank(t.front())) t.remove_prefix(1);
    while (!t.empty() && blank(t.back())) t.remove_suffix(1);
    return t;
}

template <class T>
void appendInteger(std::string& out, T x) {
    char buf[32];
    auto res = std::to_chars(buf, buf + sizeof buf, x);
    out.append(buf, res.ptr);
}

template <class T>
void appendReal(std::string& out, T x, int digits) {
    if (std::isnan(x)) {
        out += "NaN";
    } else if (std::isinf(x)) {
        out += x < 0 ? "-INF" : "INF";
    } else {
        char buf[64];
        int n = std::snprintf(buf, sizeof buf, "%.*g", digits, double(x));
        out.append(buf, size_t(n));
    }
}

// Sign and magnitude of a decimal or 0x hex integer.
bool parseMagnitude(std::string_view t, bool& negative, Uint64& magnitude) {
    t = trim(t);
    negative = false;
    if (!t.empty() && (t[0] == '-' || t[0] == '+')) {
        negative = t[0] == '-';
        t.remove_prefix(1);
    }
    int base = 10;
    if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
        base = 16;
        t.remove_prefix(2);
    }
    if (t.empty()) return false;
    auto res = std::from_chars(t.data(), t.data() + t.size(), magnitude, base);
    return res.ec == std::errc() && res.ptr == t.data() + t.size();
}

template <class T>
bool parseInteger(std::string_view text, T& x) {
    bool negative;
    Uint64 magnitude;
    if (!parseMagnitude(text, negative, magnitude)) return false;
    if (std::numeric_limits<T>::is_signed) {
        Uint64 limit = Uint64(std::numeric_limits<T>::max()) + (negative ? 1 : 0);
        if (magnitude > limit) return false;
        x = negative ? T(Sint64(0) - Sint64(magnitude - 1) - 1) : T(magnitude);
        return true;
    }
    if (negative && magnitude != 0) return false;
    if (magnitude > Uint64(std::numeric_limits<T>::max())) return false;
    x = T(magnitude);
    return true;
}

template <class T>
bool parseReal(std::string_view text, T& x) {
    std::string t(trim(text));
    if (t == "INF" || t == "+INF") return (x = std::numeric_limits<T>::infinity()), true;
    if (t == "-INF") return (x = -std::numeric_limits<T>::infinity()), true;
    if (t == "NaN") return (x = std::numeric_limits<T>::quiet_NaN()), true;
    if (t.empty() || t.size() > 512) return false;
    for (char c : t) {
        bool ok = (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E';
        if (!ok) return false;
    }
    char* end = nullptr;
    double v = std::strtod(t.c_str(), &end);
    if (end != t.c_str() + t.size()) return false;
    if (std::isinf(v) || (std::is_same<T, float>::value && std::fabs(v) > std::numeric_limits<float>::max()))
        return false;
    x = T(v);
    return true;
}

}  // namespace

void append(std::string& out, Boolean x) { out += x ? "TRUE" : "FALSE"; }
void append(std::string& out, Uint8 x) { appendInteger(out, unsigned(x)); }
void append(std::string& out, Sint8 x) { appendInteger(out, int(x)); }
void append(std::string& out, Uint16 x) { appendInteger(out, x); }
void append(std::string& out, Sint16 x) { appendInteger(out, x); }
void append(std::string& out, Uint32 x) { appendInteger(out, x); }
void append(std::string& out, Sint32 x) { appendInteger(out, x); }
void append(std::string& out, Uint64 x) { appendInteger(out, x); }
void append(std::string& out, Sint64 x) { appendInteger(out, x); }
void append(std::string& out, Real32 x) { appendReal(out, x, 9); }
void append(std::string& out, Real64 x) { appendReal(out, x, 17); }
void append(std::string& out, Char16 x) {
    String s;
    s.append(x);
    out.append(s.view());
}
void append(std::string& out, const String& x) { out.append(x.view()); }
void append(std::string& out, const CIMDateTime& x) { out.append(x.toString().view()); }
void append(std::string& out, const CIMObjectPath& x) { out.append(x.toString().view()); }

bool parse(std::string_view text, Boolean& x) {
    text = trim(text);
    if (equalNoCaseAscii(text, "TRUE")) return (x = true), true;
    if (equalNoCaseAscii(text, "FALSE")) return (x = false), true;
    return false;
}
bool parse(std::string_view text, Uint8& x) { return parseInteger(text, x); }
bool parse(std::string_view text, Sint8& x) { return parseInteger(text, x); }
bool parse(std::string_view text, Uint16& x) { return parseInteger(text, x); }
bool parse(std::string_view text, Sint16& x) { return parseInteger(text, x); }
bool parse(std::string_view text, Uint32& x) { return parseInteger(text, x); }
bool parse(std::string_view text, Sint32& x) { return parseInteger(text, x); }
bool parse(std::string_view text, Uint64& x) { return parseInteger(text, x); }
bool parse(std::string_view text, Sint64& x) { return parseInteger(text, x); }
bool parse(std::string_view text, Real32& x) { return parseReal(text, x); }
bool parse(std::string_view text, Real64& x) { return parseReal(text, x); }

bool parse(std::string_view text, Char16& x) {
    // exactly one character of the basic multilingual plane, in UTF-8
    const unsigned char* s = reinterpret_cast<const unsigned char*>(text.data());
    size_t n = text.size();
    if (n == 1 && s[0] < 0x80) return (x = Char16(s[0])), true;
    if (n == 2 && (s[0] & 0xE0) == 0xC0 && (s[1] & 0xC0) == 0x80) {
        Uint32 cp = ((s[0] & 0x1Fu) << 6) | (s[1] & 0x3Fu);
        if (cp < 0x80) return false;
        return (x = Char16(Uint16(cp))), true;
    }
    if (n == 3 && (s[0] & 0xF0) == 0xE0 && (s[1] & 0xC0) == 0x80 && (s[2] & 0xC0) == 0x80) {
        Uint32 cp = ((s[0] & 0x0Fu) << 12) | ((s[1] & 0x3Fu) << 6) | (s[2] & 0x3Fu);
        if (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        return (x = Char16(Uint16(cp))), true;
    }
    return false;
}

bool parse(std::string_view text, String& x) {
    x = String(text);
    return true;
}

bool parse(std::string_view text, CIMDateTime& x) {
    String t(trim(text));
    if (!CIMDateTime::legal(t)) return false;
    x = CIMDateTime(t);
    return true;
}

bool parse(std::string_view text, CIMObjectPath& x) {
    try {
        x = CIMObjectPath(String(text));
        return true;
    } catch (const Exception&) {
        return false;
    }
}

}  // namespace valuetext
}  // namespace Pegasus
