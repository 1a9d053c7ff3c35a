#include "cim/XmlOutput.h"

namespace Pegasus {

namespace {
const char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD

// Length of the valid UTF-8 sequence at s[0..n), or 0.
size_t utf8Length(const unsigned char* s, size_t n) {
    unsigned char c = s[0];
    size_t len;
    unsigned min;
    unsigned cp;
    if (c >= 0xC2 && c <= 0xDF) {
        len = 2, min = 0x80, cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        len = 3, min = 0x800, cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4, min = 0x10000, cp = c & 0x07;
    } else {
        return 0;
    }
    if (n < len) return 0;
    for (size_t i = 1; i < len; ++i) {
        if ((s[i] & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (s[i] & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF) || cp == 0xFFFE || cp == 0xFFFF) return 0;
    return len;
}
}  // namespace

XmlOutput::XmlOutput(Sink sink, size_t chunkSize)
    : _out(&_own), _sink(std::move(sink)), _chunkSize(chunkSize ? chunkSize : 1) {
    _own.reserve(_chunkSize + 1024);
}

XmlOutput& XmlOutput::text(std::string_view text) {
    escape(text, false);
    return *this;
}

XmlOutput& XmlOutput::attr(std::string_view name, std::string_view value) {
    raw(" ").raw(name).raw("=\"");
    escape(value, true);
    return raw("\"");
}

void XmlOutput::escape(std::string_view text, bool inAttribute) {
    const unsigned char* s = reinterpret_cast<const unsigned char*>(text.data());
    size_t n = text.size();
    size_t start = 0;
    size_t i = 0;
    auto put = [&](const char* replacement, size_t skip) {
        _out->append(text.data() + start, i - start);
        _out->append(replacement);
        i += skip;
        start = i;
    };
    while (i < n) {
        unsigned char c = s[i];
        if (c >= 0x80) {
            size_t len = utf8Length(s + i, n - i);
            if (len) {
                i += len;
            } else {
                put(kReplacement, 1);
            }
            continue;
        }
        switch (c) {
            case '&':
                put("&amp;", 1);
                break;
            case '<':
                put("&lt;", 1);
                break;
            case '>':
                put("&gt;", 1);
                break;
            case '"':
                if (inAttribute)
                    put("&quot;", 1);
                else
                    ++i;
                break;
            case '\r':
                put("&#13;", 1);
                break;
            case '\n':
                if (inAttribute)
                    put("&#10;", 1);
                else
                    ++i;
                break;
            case '\t':
                if (inAttribute)
                    put("&#9;", 1);
                else
                    ++i;
                break;
            default:
                if (c < 0x20)
                    put(kReplacement, 1);
                else
                    ++i;
        }
    }
    _out->append(text.data() + start, n - start);
}

void XmlOutput::flush() {
    if (_sink && !_own.empty()) {
        _sink(_own);
        _own.clear();
    }
}

}  // namespace Pegasus
