// Text of the CIM object model. UTF-8 bytes in a shared, reference-counted
// buffer that is copied only when a shared string is changed. Sizes and
// positions count bytes (for ASCII text, as many as characters).
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <iosfwd>
#include <string>
#include <string_view>

#include "cim/Char16.h"
#include "cim/Config.h"

namespace Pegasus {

class String;

namespace detail {
struct StringRep {
    std::atomic<Uint32> refs;
    Uint32 size;
    Uint32 capacity;
    char* data() { return reinterpret_cast<char*>(this + 1); }
    const char* data() const { return reinterpret_cast<const char*>(this + 1); }
};
}  // namespace detail

// A NUL-terminated copy-free view of a String's text; it keeps the text alive.
class CString {
public:
    CString() noexcept : _rep(nullptr) {}
    CString(const CString& x) noexcept;
    CString& operator=(const CString& x) noexcept;
    ~CString();
    operator const char*() const noexcept;

private:
    friend class String;
    explicit CString(detail::StringRep* rep) noexcept;
    detail::StringRep* _rep;
};

class String {
public:
    static const String EMPTY;

    String() noexcept : _rep(nullptr) {}
    String(const String& x) noexcept;
    String(String&& x) noexcept : _rep(x._rep) { x._rep = nullptr; }
    String(const char* text);
    String(const char* text, Uint32 n);
    String(const std::string& text);
    explicit String(std::string_view text);
    String(const Char16* text);
    String(const Char16* text, Uint32 n);
    String(const String& s1, const String& s2);
    ~String();

    String& operator=(const String& x) noexcept;
    String& operator=(String&& x) noexcept;
    String& operator=(const char* text) { return assign(text); }

    String& assign(const String& x) { return *this = x; }
    String& assign(const char* text);
    String& assign(const char* text, Uint32 n);

    Uint32 size() const noexcept { return _rep ? _rep->size : 0; }
    CString getCString() const noexcept;
    const char* c_str() const noexcept { return _rep ? _rep->data() : ""; }
    std::string_view view() const noexcept { return {c_str(), size()}; }
    std::string toStdString() const { return std::string(view()); }

    // Byte at `index`; IndexOutOfBoundsException past the end.
    Char16 operator[](Uint32 index) const;
    void reserveCapacity(Uint32 capacity);
    void clear() noexcept;

    String& append(const String& x);
    String& append(const char* text);
    String& append(const char* text, Uint32 n);
    String& append(const Char16& c);
    String& append(char c) { return append(&c, 1); }
    String& operator+=(const String& x) { return append(x); }
    String& operator+=(const char* text) { return append(text); }
    String& operator+=(Char16 c) { return append(c); }
    String& operator+=(char c) { return append(c); }

    // Removes `n` bytes from `index` (all to the end with PEG_NOT_FOUND).
    void remove(Uint32 index, Uint32 n = PEG_NOT_FOUND);
    String subString(Uint32 index, Uint32 length = PEG_NOT_FOUND) const;

    Uint32 find(Char16 c) const { return find(0, c); }
    Uint32 find(Uint32 index, Char16 c) const;
    Uint32 find(const String& s) const;
    Uint32 find(const char* s) const;
    Uint32 reverseFind(Char16 c) const;

    // ASCII letters only.
    void toLower();
    void toUpper();

    static int compare(const String& s1, const String& s2) noexcept;
    static int compare(const String& s1, const String& s2, Uint32 n) noexcept;
    static int compareNoCase(const String& s1, const String& s2) noexcept;
    static Boolean equal(const String& s1, const String& s2) noexcept;
    static Boolean equalNoCase(const String& s1, const String& s2) noexcept;

private:
    char* mutableData(Uint32 newSize);
    detail::StringRep* _rep;
};

Boolean operator==(const String& x, const String& y) noexcept;
Boolean operator==(const String& x, const char* y) noexcept;
Boolean operator==(const char* x, const String& y) noexcept;
Boolean operator!=(const String& x, const String& y) noexcept;
Boolean operator!=(const String& x, const char* y) noexcept;
Boolean operator!=(const char* x, const String& y) noexcept;
Boolean operator<(const String& x, const String& y) noexcept;
Boolean operator<=(const String& x, const String& y) noexcept;
Boolean operator>(const String& x, const String& y) noexcept;
Boolean operator>=(const String& x, const String& y) noexcept;
String operator+(const String& x, const String& y);
String operator+(const String& x, const char* y);
String operator+(const char* x, const String& y);
std::ostream& operator<<(std::ostream& os, const String& x);

// ASCII case folding used for every case-insensitive CIM name comparison.
int compareNoCaseAscii(std::string_view a, std::string_view b) noexcept;
inline bool equalNoCaseAscii(std::string_view a, std::string_view b) noexcept {
    return a.size() == b.size() && compareNoCaseAscii(a, b) == 0;
}

}  // namespace Pegasus

template <>
struct std::hash<Pegasus::String> {
    size_t operator()(const Pegasus::String& s) const noexcept {
        return std::hash<std::string_view>()(s.view());
    }
};
