// Streaming output of XML text. Collects into a string, or hands chunks of
// about `chunkSize` bytes to a callback so that a large document never
// sits whole in memory. Escaping keeps every document well-formed: text
// that XML 1.0 cannot carry (control characters, broken UTF-8) becomes
// U+FFFD.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace Pegasus {

class XmlOutput {
public:
    using Sink = std::function<void(std::string_view chunk)>;

    // Appends everything to `target`.
    explicit XmlOutput(std::string& target) : _out(&target) {}
    // Passes the text on in chunks; call finish() at the end.
    explicit XmlOutput(Sink sink, size_t chunkSize = 64 * 1024);
    XmlOutput(const XmlOutput&) = delete;
    XmlOutput& operator=(const XmlOutput&) = delete;

    // Markup, written as it is.
    XmlOutput& raw(std::string_view markup) {
        _out->append(markup);
        return *this;
    }
    // Character data, escaped.
    XmlOutput& text(std::string_view text);
    // ` name="value"` with the value escaped.
    XmlOutput& attr(std::string_view name, std::string_view value);

    // `<name` ... `>` / `/>` ... `</name>`
    XmlOutput& open(std::string_view name) { return raw("<").raw(name); }
    XmlOutput& close() { return raw(">"); }
    XmlOutput& closeEmpty() { return raw("/>"); }
    XmlOutput& end(std::string_view name) {
        raw("</").raw(name).raw(">");
        checkpoint();
        return *this;
    }

    // Hands the collected text on once a chunk is full.
    void checkpoint() {
        if (_sink && _out->size() >= _chunkSize) flush();
    }
    // Hands the collected text to the sink (no-op without one).
    void flush();
    void finish() { flush(); }

private:
    void escape(std::string_view text, bool inAttribute);

    std::string _own;
    std::string* _out;
    Sink _sink;
    size_t _chunkSize = 0;
};

}  // namespace Pegasus
