#include "cim/CIMName.h"

#include "cim/Exception.h"

namespace Pegasus {

namespace {
inline bool nameStart(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c >= 0x80;
}
inline bool nameChar(unsigned char c) { return nameStart(c) || (c >= '0' && c <= '9'); }

std::string_view withoutLeadingSlash(std::string_view name) {
    return (!name.empty() && name[0] == '/') ? name.substr(1) : name;
}
}  // namespace

Boolean CIMName::legal(std::string_view name) {
    if (name.empty() || !nameStart((unsigned char)name[0])) return false;
    for (char c : name)
        if (!nameChar((unsigned char)c)) return false;
    return true;
}

CIMName::CIMName(const String& name) : _name(name) {
    if (name.size() && !legal(name.view())) throw InvalidNameException(name);
}

CIMName::CIMName(const char* name) : CIMName(String(name)) {}

Boolean operator==(const CIMName& x, const CIMName& y) { return x.equal(y); }
Boolean operator!=(const CIMName& x, const CIMName& y) { return !x.equal(y); }
Boolean operator==(const CIMName& x, const char* y) { return equalNoCaseAscii(x.getString().view(), y ? y : ""); }
Boolean operator!=(const CIMName& x, const char* y) { return !(x == y); }

Boolean CIMNamespaceName::legal(std::string_view name) {
    name = withoutLeadingSlash(name);
    if (name.empty()) return false;
    size_t start = 0;
    while (true) {
        size_t slash = name.find('/', start);
        if (!CIMName::legal(name.substr(start, slash == std::string_view::npos ? slash : slash - start)))
            return false;
        if (slash == std::string_view::npos) return true;
        start = slash + 1;
    }
}

CIMNamespaceName::CIMNamespaceName(const String& name) {
    if (name.size() == 0) return;
    if (!legal(name.view())) throw InvalidNamespaceNameException(name);
    _name = name.view()[0] == '/' ? name.subString(1) : name;
}

CIMNamespaceName::CIMNamespaceName(const char* name) : CIMNamespaceName(String(name)) {}

Boolean operator==(const CIMNamespaceName& x, const CIMNamespaceName& y) { return x.equal(y); }
Boolean operator!=(const CIMNamespaceName& x, const CIMNamespaceName& y) { return !x.equal(y); }

}  // namespace Pegasus
