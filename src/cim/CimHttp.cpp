#include "cim/CimHttp.h"

#include "cim/Exception.h"

namespace Pegasus {
namespace cimxml {

namespace {
int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}
}  // namespace

String percentEncode(std::string_view text) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        unsigned char u = static_cast<unsigned char>(c);
        bool plain = (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '-' ||
                     u == '.' || u == '_' || u == '~';
        if (plain) {
            out += c;
        } else {
            out += '%';
            out += hex[u >> 4];
            out += hex[u & 15];
        }
    }
    return String(out);
}

String percentDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 && hexValue(text[i + 2]) >= 0) {
            out += char(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return String(out);
}

Boolean cimMethodHeaderMatches(const CimRequest& request, std::string_view header) {
    return String::equalNoCase(percentDecode(header), request.methodName);
}

Boolean cimObjectHeaderMatches(const CimRequest& request, std::string_view header) {
    String decoded = percentDecode(header);
    if (request.intrinsic) {
        try {
            return CIMNamespaceName(decoded).equal(request.nameSpace);
        } catch (const Exception&) {
            return false;
        }
    }
    try {
        CIMObjectPath path(decoded);
        path.setHost(String());
        CIMObjectPath target = request.target;
        target.setHost(String());
        return path.identical(target);
    } catch (const Exception&) {
        return false;
    }
}

}  // namespace cimxml
}  // namespace Pegasus
