#include "cim/CimAnswerParts.h"

#include <cstring>

namespace Pegasus {
namespace cimxml {

namespace {

constexpr size_t npos = std::string_view::npos;

bool blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool startsWith(std::string_view text, size_t at, std::string_view prefix) {
    return at <= text.size() && text.size() - at >= prefix.size() && text.compare(at, prefix.size(), prefix) == 0;
}

// No comment, CDATA section, DOCTYPE or processing instruction in `text`:
// then the text of a tag found by searching is that tag.
bool plainMarkup(std::string_view text) {
    for (char mark : {'!', '?'}) {
        const char* at = text.data();
        const char* end = text.data() + text.size();
        while (at < end && (at = static_cast<const char*>(std::memchr(at, mark, size_t(end - at))))) {
            if (at > text.data() && at[-1] == '<') return false;
            ++at;
        }
    }
    return true;
}

// Where "<element" starts, from `from` on; npos when none.
size_t findStartTag(std::string_view body, size_t from, std::string_view element) {
    for (size_t at = body.find('<', from); at != npos; at = body.find('<', at + 1)) {
        if (!startsWith(body, at + 1, element)) continue;
        size_t after = at + 1 + element.size();
        if (after < body.size() && (blank(body[after]) || body[after] == '>' || body[after] == '/')) return at;
    }
    return npos;
}

// Where the end tag "</element>" that starts at `at` ends (after its ">"); npos when it is not one.
size_t endTagEnd(std::string_view body, size_t at, std::string_view element) {
    if (!startsWith(body, at, "</") || !startsWith(body, at + 2, element)) return npos;
    size_t i = at + 2 + element.size();
    while (i < body.size() && blank(body[i])) ++i;
    return i < body.size() && body[i] == '>' ? i + 1 : npos;
}

// The end of the first "</element>" that starts in [from, end) and ends by `end`; npos when none.
size_t findEndTag(std::string_view body, size_t from, size_t end, std::string_view element) {
    std::string_view window = body.substr(0, end);
    for (size_t at = window.find("</", from); at != npos; at = window.find("</", at + 2)) {
        size_t after = endTagEnd(window, at, element);
        if (after != npos) return after;
    }
    return npos;
}

// The end of the last "</element>" of the body; npos when none.
size_t rfindEndTag(std::string_view body, std::string_view element) {
    for (size_t at = body.rfind("</"); at != npos; at = at == 0 ? npos : body.rfind("</", at - 1)) {
        size_t after = endTagEnd(body, at, element);
        if (after != npos) return after;
    }
    return npos;
}

// The first item boundary at or after `probe`, found by following the markup
// from `begin` (an item boundary); `end` when there is none or the markup is
// broken (the parse of the rest then says what is wrong).
size_t boundaryByMarkup(std::string_view body, size_t begin, size_t end, size_t probe) {
    std::string_view window = body.substr(0, end);
    int depth = 0;
    size_t pos = begin;
    while (pos < end) {
        size_t lt = window.find('<', pos);
        if (lt == npos) return end;
        auto skipTo = [&](std::string_view close, size_t from) {
            size_t at = window.find(close, from);
            return at == npos ? npos : at + close.size();
        };
        size_t next;
        if (startsWith(window, lt, "<!--")) {
            next = skipTo("-->", lt + 4);
        } else if (startsWith(window, lt, "<![CDATA[")) {
            next = skipTo("]]>", lt + 9);
        } else if (startsWith(window, lt, "<?")) {
            next = skipTo("?>", lt + 2);
        } else if (startsWith(window, lt, "<!")) {
            return end;
        } else if (startsWith(window, lt, "</")) {
            next = skipTo(">", lt + 2);
            if (next == npos || --depth < 0) return end;
            if (depth == 0 && next >= probe) return next;
        } else {
            // a start tag: its ">" is the first one outside quoted attribute values
            char quote = 0;
            size_t i = lt + 1;
            for (; i < end; ++i) {
                char c = window[i];
                if (quote) {
                    if (c == quote) quote = 0;
                } else if (c == '"' || c == '\'') {
                    quote = c;
                } else if (c == '>') {
                    break;
                }
            }
            if (i >= end) return end;
            next = i + 1;
            if (window[i - 1] != '/')
                ++depth;
            else if (depth == 0 && next >= probe)
                return next;
        }
        if (next == npos) return end;
        pos = next;
    }
    return end;
}

// "<IRETURNVALUE>" (blanks before ">" allowed) ends `text`, blanks aside.
bool endsWithReturnValueTag(std::string_view text) {
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    if (text.empty() || text.back() != '>') return false;
    size_t lt = text.rfind('<');
    if (lt == npos) return false;
    std::string_view tag = text.substr(lt + 1, text.size() - lt - 2);
    while (!tag.empty() && blank(tag.back())) tag.remove_suffix(1);
    return tag == "IRETURNVALUE";
}

// The XML declaration names no encoding, or UTF-8: the parts are read as
// UTF-8 (a whole document in another encoding is converted by the parser).
bool declaresUtf8(std::string_view declaration) {
    size_t at = declaration.find("encoding");
    if (at == npos) return true;
    size_t open = declaration.find_first_of("\"'", at);
    if (open == npos) return false;
    size_t close = declaration.find(declaration[open], open + 1);
    if (close == npos) return false;
    std::string_view name = declaration.substr(open + 1, close - open - 1);
    if (name.size() != 5) return false;
    const char* utf8 = "utf-8";
    for (size_t i = 0; i < 5; ++i)
        if ((name[i] | (name[i] >= 'A' && name[i] <= 'Z' ? 0x20 : 0)) != utf8[i]) return false;
    return true;
}

}  // namespace

bool splitAnswer(std::string_view body, std::string_view element, AnswerParts& parts) {
    size_t itemsBegin = findStartTag(body, 0, element);
    if (itemsBegin == npos) return false;
    size_t itemsEnd = rfindEndTag(body, element);
    if (itemsEnd == npos || itemsEnd <= itemsBegin) return false;
    std::string_view prefix = body.substr(0, itemsBegin);
    std::string_view suffix = body.substr(itemsEnd);

    // the XML declaration may open the document
    std::string_view head = prefix;
    if (startsWith(head, 0, "\xEF\xBB\xBF")) head.remove_prefix(3);
    while (!head.empty() && blank(head.front())) head.remove_prefix(1);
    if (startsWith(head, 0, "<?xml") && head.size() > 5 && (blank(head[5]) || head[5] == '?')) {
        size_t close = head.find("?>");
        if (close == npos || !declaresUtf8(head.substr(0, close))) return false;
        head.remove_prefix(close + 2);
    }
    if (!plainMarkup(head) || !plainMarkup(suffix) || !endsWithReturnValueTag(prefix)) return false;
    std::string_view tail = suffix;
    while (!tail.empty() && blank(tail.front())) tail.remove_prefix(1);
    if (endTagEnd(tail, 0, "IRETURNVALUE") == npos) return false;

    parts.itemsBegin = itemsBegin;
    parts.itemsEnd = itemsEnd;
    parts.envelope.clear();
    parts.envelope.reserve(prefix.size() + suffix.size());
    parts.envelope.append(prefix).append(suffix);
    return true;
}

size_t nextBatchEnd(std::string_view body, size_t begin, size_t end, size_t target, std::string_view element) {
    if (end - begin <= target) return end;
    size_t probe = begin + target;
    size_t cut = findEndTag(body, probe, end, element);
    if (cut == npos) return end;
    if (plainMarkup(body.substr(begin, cut - begin))) return cut;
    return boundaryByMarkup(body, begin, end, probe);
}

}  // namespace cimxml
}  // namespace Pegasus
