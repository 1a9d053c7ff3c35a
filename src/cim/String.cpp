#include "cim/String.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <ostream>
#include <stdexcept>

#include "cim/Exception.h"

namespace Pegasus {

using detail::StringRep;

namespace {

StringRep* allocRep(Uint32 capacity) {
    void* mem = std::malloc(sizeof(StringRep) + size_t(capacity) + 1);
    if (!mem) throw std::bad_alloc();
    StringRep* rep = new (mem) StringRep;
    rep->refs.store(1, std::memory_order_relaxed);
    rep->size = 0;
    rep->capacity = capacity;
    rep->data()[0] = '\0';
    return rep;
}

void addRef(StringRep* rep) noexcept {
    if (rep) rep->refs.fetch_add(1, std::memory_order_relaxed);
}

void release(StringRep* rep) noexcept {
    if (rep && rep->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        rep->~StringRep();
        std::free(rep);
    }
}

Uint32 checkedSize(size_t n) {
    if (n >= size_t(PEG_NOT_FOUND)) throw std::length_error("String too long");
    return Uint32(n);
}

StringRep* makeRep(const char* text, size_t n) {
    if (n == 0) return nullptr;
    StringRep* rep = allocRep(checkedSize(n));
    std::memcpy(rep->data(), text, n);
    rep->data()[n] = '\0';
    rep->size = Uint32(n);
    return rep;
}

// Appends the UTF-8 form of one code point.
void appendUtf8(std::string& out, Uint32 cp) {
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | (cp >> 18));
        out += char(0x80 | ((cp >> 12) & 0x3F));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

std::string utf16ToUtf8(const Char16* text, size_t n) {
    std::string out;
    out.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        Uint32 c = Uint16(text[i]);
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n && Uint16(text[i + 1]) >= 0xDC00 &&
            Uint16(text[i + 1]) <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (Uint16(text[i + 1]) - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        appendUtf8(out, c);
    }
    return out;
}

size_t char16Length(const Char16* text) {
    size_t n = 0;
    while (Uint16(text[n]) != 0) ++n;
    return n;
}

inline char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? char(c + 32) : c; }
inline char upperAscii(char c) { return (c >= 'a' && c <= 'z') ? char(c - 32) : c; }

}  // namespace

const String String::EMPTY;

// CString

CString::CString(StringRep* rep) noexcept : _rep(rep) { addRef(rep); }
CString::CString(const CString& x) noexcept : _rep(x._rep) { addRef(_rep); }
CString& CString::operator=(const CString& x) noexcept {
    if (this != &x) {
        addRef(x._rep);
        release(_rep);
        _rep = x._rep;
    }
    return *this;
}
CString::~CString() { release(_rep); }
CString::operator const char*() const noexcept { return _rep ? _rep->data() : ""; }

// String

String::String(const String& x) noexcept : _rep(x._rep) { addRef(_rep); }
String::String(const char* text) : _rep(text ? makeRep(text, std::strlen(text)) : nullptr) {}
String::String(const char* text, Uint32 n) : _rep(text ? makeRep(text, n) : nullptr) {}
String::String(const std::string& text) : _rep(makeRep(text.data(), text.size())) {}
String::String(std::string_view text) : _rep(makeRep(text.data(), text.size())) {}
String::String(const Char16* text) : _rep(nullptr) {
    if (text) {
        std::string utf8 = utf16ToUtf8(text, char16Length(text));
        _rep = makeRep(utf8.data(), utf8.size());
    }
}
String::String(const Char16* text, Uint32 n) : _rep(nullptr) {
    if (text) {
        std::string utf8 = utf16ToUtf8(text, n);
        _rep = makeRep(utf8.data(), utf8.size());
    }
}
String::String(const String& s1, const String& s2) : _rep(nullptr) {
    reserveCapacity(checkedSize(size_t(s1.size()) + s2.size()));
    append(s1);
    append(s2);
}
String::~String() { release(_rep); }

String& String::operator=(const String& x) noexcept {
    if (this != &x) {
        addRef(x._rep);
        release(_rep);
        _rep = x._rep;
    }
    return *this;
}

String& String::operator=(String&& x) noexcept {
    if (this != &x) {
        release(_rep);
        _rep = x._rep;
        x._rep = nullptr;
    }
    return *this;
}

String& String::assign(const char* text) { return *this = String(text); }
String& String::assign(const char* text, Uint32 n) { return *this = String(text, n); }

CString String::getCString() const noexcept { return CString(_rep); }

Char16 String::operator[](Uint32 index) const {
    if (index >= size()) throw IndexOutOfBoundsException();
    return Char16(Uint8(_rep->data()[index]));
}

// Makes the buffer this string's own, with room for `newSize` bytes, and
// returns it; the size becomes `newSize` (the caller fills the new bytes).
char* String::mutableData(Uint32 newSize) {
    Uint32 oldSize = size();
    if (!_rep || _rep->refs.load(std::memory_order_acquire) != 1 || _rep->capacity < newSize) {
        Uint32 capacity = newSize;
        if (_rep && _rep->capacity < newSize) {
            size_t doubled = size_t(_rep->capacity) * 2;
            capacity = checkedSize(std::max<size_t>(newSize, std::min<size_t>(doubled, PEG_NOT_FOUND - 1)));
        }
        StringRep* rep = allocRep(capacity);
        if (oldSize) std::memcpy(rep->data(), _rep->data(), std::min(oldSize, newSize));
        release(_rep);
        _rep = rep;
    }
    _rep->size = newSize;
    _rep->data()[newSize] = '\0';
    return _rep->data();
}

void String::reserveCapacity(Uint32 capacity) {
    if (capacity == 0 || (_rep && _rep->capacity >= capacity)) return;
    Uint32 oldSize = size();
    StringRep* rep = allocRep(capacity);
    if (oldSize) std::memcpy(rep->data(), _rep->data(), size_t(oldSize) + 1);
    rep->size = oldSize;
    release(_rep);
    _rep = rep;
}

void String::clear() noexcept {
    release(_rep);
    _rep = nullptr;
}

String& String::append(const String& x) {
    if (x.size() == 0) return *this;
    if (!_rep) return *this = x;
    String keep(x);  // x may be this string
    return append(keep.c_str(), keep.size());
}

String& String::append(const char* text) { return text ? append(text, Uint32(std::strlen(text))) : *this; }

String& String::append(const char* text, Uint32 n) {
    if (n == 0) return *this;
    Uint32 oldSize = size();
    std::string copy;
    if (_rep && text >= _rep->data() && text < _rep->data() + _rep->capacity + 1) {
        copy.assign(text, n);  // appending a part of itself
        text = copy.data();
    }
    char* data = mutableData(checkedSize(size_t(oldSize) + n));
    std::memcpy(data + oldSize, text, n);
    return *this;
}

String& String::append(const Char16& c) {
    std::string utf8;
    Uint32 cp = Uint16(c);
    appendUtf8(utf8, (cp >= 0xD800 && cp <= 0xDFFF) ? 0xFFFD : cp);
    return append(utf8.data(), Uint32(utf8.size()));
}

void String::remove(Uint32 index, Uint32 n) {
    Uint32 oldSize = size();
    if (n == PEG_NOT_FOUND) n = index <= oldSize ? oldSize - index : 0;
    if (size_t(index) + n > oldSize) throw IndexOutOfBoundsException();
    if (n == 0) return;
    std::string rest(view().substr(index + n));
    char* data = mutableData(oldSize - n);
    std::memcpy(data + index, rest.data(), rest.size());
}

String String::subString(Uint32 index, Uint32 length) const {
    Uint32 n = size();
    if (index >= n) return String();
    Uint32 len = (length == PEG_NOT_FOUND || size_t(index) + length > n) ? n - index : length;
    if (index == 0 && len == n) return *this;
    return String(c_str() + index, len);
}

Uint32 String::find(Uint32 index, Char16 c) const {
    Uint32 code = Uint16(c);
    if (code >= 0x80) {  // a non-ASCII character: search its UTF-8 form
        String needle;
        needle.append(c);
        size_t pos = view().find(needle.view(), index);
        return pos == std::string_view::npos ? PEG_NOT_FOUND : Uint32(pos);
    }
    size_t pos = view().find(char(code), index);
    return pos == std::string_view::npos ? PEG_NOT_FOUND : Uint32(pos);
}

Uint32 String::find(const String& s) const {
    size_t pos = view().find(s.view());
    return pos == std::string_view::npos ? PEG_NOT_FOUND : Uint32(pos);
}

Uint32 String::find(const char* s) const {
    size_t pos = view().find(s ? std::string_view(s) : std::string_view());
    return pos == std::string_view::npos ? PEG_NOT_FOUND : Uint32(pos);
}

Uint32 String::reverseFind(Char16 c) const {
    Uint32 code = Uint16(c);
    size_t pos = code < 0x80 ? view().rfind(char(code)) : std::string_view::npos;
    if (code >= 0x80) {
        String needle;
        needle.append(c);
        pos = view().rfind(needle.view());
    }
    return pos == std::string_view::npos ? PEG_NOT_FOUND : Uint32(pos);
}

void String::toLower() {
    if (!size()) return;
    char* data = mutableData(size());
    std::transform(data, data + size(), data, lowerAscii);
}

void String::toUpper() {
    if (!size()) return;
    char* data = mutableData(size());
    std::transform(data, data + size(), data, upperAscii);
}

int String::compare(const String& s1, const String& s2) noexcept { return s1.view().compare(s2.view()); }

int String::compare(const String& s1, const String& s2, Uint32 n) noexcept {
    return s1.view().substr(0, n).compare(s2.view().substr(0, n));
}

int String::compareNoCase(const String& s1, const String& s2) noexcept {
    return compareNoCaseAscii(s1.view(), s2.view());
}

Boolean String::equal(const String& s1, const String& s2) noexcept {
    return s1._rep == s2._rep || s1.view() == s2.view();
}

Boolean String::equalNoCase(const String& s1, const String& s2) noexcept {
    return s1._rep == s2._rep || equalNoCaseAscii(s1.view(), s2.view());
}

int compareNoCaseAscii(std::string_view a, std::string_view b) noexcept {
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        unsigned char x = (unsigned char)lowerAscii(a[i]);
        unsigned char y = (unsigned char)lowerAscii(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

Boolean operator==(const String& x, const String& y) noexcept { return String::equal(x, y); }
Boolean operator==(const String& x, const char* y) noexcept { return x.view() == (y ? y : ""); }
Boolean operator==(const char* x, const String& y) noexcept { return y == x; }
Boolean operator!=(const String& x, const String& y) noexcept { return !(x == y); }
Boolean operator!=(const String& x, const char* y) noexcept { return !(x == y); }
Boolean operator!=(const char* x, const String& y) noexcept { return !(y == x); }
Boolean operator<(const String& x, const String& y) noexcept { return x.view() < y.view(); }
Boolean operator<=(const String& x, const String& y) noexcept { return x.view() <= y.view(); }
Boolean operator>(const String& x, const String& y) noexcept { return x.view() > y.view(); }
Boolean operator>=(const String& x, const String& y) noexcept { return x.view() >= y.view(); }
String operator+(const String& x, const String& y) { return String(x, y); }
String operator+(const String& x, const char* y) { return String(x, String(y)); }
String operator+(const char* x, const String& y) { return String(String(x), y); }

std::ostream& operator<<(std::ostream& os, const String& x) { return os << x.view(); }

}  // namespace Pegasus
