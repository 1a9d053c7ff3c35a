#include "cim/CIMObjectPath.h"

#include <algorithm>
#include <functional>
#include <string>

#include "cim/Exception.h"

namespace Pegasus {

namespace {

// References nest inside references; deeper texts are not paths.
constexpr int kMaxReferenceDepth = 32;

struct ParsedPath {
    std::string_view host;
    std::string_view nameSpace;
    std::string_view className;
    Array<CIMKeyBinding> keys;
};

bool legalHost(std::string_view host) {
    if (host.empty()) return false;
    for (char c : host) {
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                  c == '-' || c == '_' || c == ':' || c == '[' || c == ']' || c == '%';
        if (!ok) return false;
    }
    return true;
}

bool legalNumber(std::string_view v) {
    if (!v.empty() && (v[0] == '-' || v[0] == '+')) v.remove_prefix(1);
    bool hex = v.size() > 2 && v[0] == '0' && (v[1] == 'x' || v[1] == 'X');
    if (hex) v.remove_prefix(2);
    if (v.empty()) return false;
    for (char c : v) {
        bool ok = (c >= '0' && c <= '9') || (hex && ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')));
        if (!ok) return false;
    }
    return true;
}

void sortKeys(Array<CIMKeyBinding>& keys) {
    // insertion sort: paths have a handful of keys
    for (Uint32 i = 1; i < keys.size(); ++i) {
        for (Uint32 j = i; j > 0; --j) {
            if (String::compareNoCase(keys[j - 1].getName().getString(), keys[j].getName().getString()) <= 0) break;
            std::swap(keys[j - 1], keys[j]);
        }
    }
}

bool parsePath(std::string_view text, int depth, ParsedPath& out, const char*& reason);

// Reads the key bindings after the class name's ".".
bool parseKeys(std::string_view keys, int depth, Array<CIMKeyBinding>& out, const char*& reason) {
    if (keys.empty()) return (reason = "missing key bindings after \".\""), false;
    size_t pos = 0;
    while (true) {
        size_t eq = keys.find('=', pos);
        if (eq == std::string_view::npos) return (reason = "missing equal sign"), false;
        std::string_view name = keys.substr(pos, eq - pos);
        if (!CIMName::legal(name)) return (reason = "key name is not a legal CIM name"), false;
        pos = eq + 1;
        if (pos >= keys.size()) return (reason = "missing key value"), false;
        std::string value;
        CIMKeyBinding::Type type;
        if (keys[pos] == '"') {
            ++pos;
            bool closed = false;
            while (pos < keys.size()) {
                char c = keys[pos];
                if (c == '\\') {
                    if (pos + 1 >= keys.size() || (keys[pos + 1] != '\\' && keys[pos + 1] != '"'))
                        return (reason = "bad escape sequence"), false;
                    value += keys[pos + 1];
                    pos += 2;
                } else if (c == '"') {
                    closed = true;
                    ++pos;
                    break;
                } else {
                    value += c;
                    ++pos;
                }
            }
            if (!closed) return (reason = "missing closing quote"), false;
            type = CIMKeyBinding::STRING;
            if (value.find('=') != std::string::npos && depth < kMaxReferenceDepth) {
                ParsedPath nested;
                const char* ignored = nullptr;
                if (parsePath(value, depth + 1, nested, ignored) && nested.keys.size() > 0)
                    type = CIMKeyBinding::REFERENCE;
            }
        } else {
            size_t end = std::min(keys.find(',', pos), keys.size());
            value.assign(keys.substr(pos, end - pos));
            pos = end;
            char first = value.empty() ? '\0' : value[0];
            if (first == 'T' || first == 't' || first == 'F' || first == 'f') {
                if (!equalNoCaseAscii(value, "TRUE") && !equalNoCaseAscii(value, "FALSE"))
                    return (reason = "bad boolean key value"), false;
                type = CIMKeyBinding::BOOLEAN;
            } else {
                if (!legalNumber(value)) return (reason = "bad numeric key value"), false;
                type = CIMKeyBinding::NUMERIC;
            }
        }
        for (Uint32 i = 0; i < out.size(); ++i)
            if (equalNoCaseAscii(out[i].getName().getString().view(), name))
                return (reason = "duplicate key name"), false;
        out.append(CIMKeyBinding(CIMName(String(name)), String(value), type));
        if (pos == keys.size()) return true;
        if (keys[pos] != ',') return (reason = "missing comma after key value"), false;
        if (++pos == keys.size()) return (reason = "missing key binding after comma"), false;
    }
}

bool parsePath(std::string_view text, int depth, ParsedPath& out, const char*& reason) {
    out = ParsedPath();
    if (text.empty()) return true;
    std::string_view rest = text;
    if (rest.substr(0, 2) == "//") {
        rest.remove_prefix(2);
        size_t slash = rest.find('/');
        if (slash == std::string_view::npos) return (reason = "missing \"/\" after host"), false;
        out.host = rest.substr(0, slash);
        if (!legalHost(out.host)) return (reason = "bad host name"), false;
        rest.remove_prefix(slash + 1);
    }
    size_t dot = rest.find('.');
    std::string_view head = rest.substr(0, dot);
    size_t colon = head.find(':');
    if (colon != std::string_view::npos) {
        out.nameSpace = head.substr(0, colon);
        if (!CIMNamespaceName::legal(out.nameSpace)) return (reason = "bad namespace name"), false;
        head.remove_prefix(colon + 1);
    }
    if (head.empty()) return (reason = "missing class name"), false;
    if (!CIMName::legal(head)) return (reason = "class name is not a legal CIM name"), false;
    out.className = head;
    if (dot == std::string_view::npos) return true;
    if (!parseKeys(rest.substr(dot + 1), depth, out.keys, reason)) return false;
    sortKeys(out.keys);
    return true;
}

void appendQuoted(String& out, const String& value) {
    out.append('"');
    const char* s = value.c_str();
    Uint32 n = value.size(), start = 0;
    for (Uint32 i = 0; i < n; ++i) {
        if (s[i] == '\\' || s[i] == '"') {
            out.append(s + start, i - start);
            out.append('\\');
            start = i;
        }
    }
    out.append(s + start, n - start);
    out.append('"');
}

}  // namespace

CIMObjectPath::CIMObjectPath(const String& objectName) { set(objectName); }
CIMObjectPath::CIMObjectPath(const char* objectName) { set(String(objectName)); }

CIMObjectPath::CIMObjectPath(const String& host, const CIMNamespaceName& nameSpace, const CIMName& className,
                             const Array<CIMKeyBinding>& keyBindings) {
    set(host, nameSpace, className, keyBindings);
}

CIMObjectPath& CIMObjectPath::operator=(const String& objectName) {
    set(objectName);
    return *this;
}

void CIMObjectPath::clear() { *this = CIMObjectPath(); }

void CIMObjectPath::set(const String& host, const CIMNamespaceName& nameSpace, const CIMName& className,
                        const Array<CIMKeyBinding>& keyBindings) {
    _host = host;
    _nameSpace = nameSpace;
    _className = className;
    setKeyBindings(keyBindings);
}

void CIMObjectPath::set(const String& objectName) {
    ParsedPath parsed;
    const char* reason = "";
    if (!parsePath(objectName.view(), 0, parsed, reason)) throw MalformedObjectNameException(objectName, reason);
    _host = String(parsed.host);
    _nameSpace = CIMNamespaceName(String(parsed.nameSpace));
    _className = CIMName(String(parsed.className));
    _keyBindings = std::move(parsed.keys);
}

void CIMObjectPath::setKeyBindings(const Array<CIMKeyBinding>& keyBindings) {
    _keyBindings = keyBindings;
    sortKeys(_keyBindings);
}

void CIMObjectPath::setKeyBindings(Array<CIMKeyBinding>&& keyBindings) {
    _keyBindings = std::move(keyBindings);
    sortKeys(_keyBindings);
}

String CIMObjectPath::toString() const {
    String out;
    if (_host.size()) out.append("//").append(_host).append('/');
    if (!_nameSpace.isNull()) out.append(_nameSpace.getString()).append(':');
    out.append(_className.getString());
    for (Uint32 i = 0; i < _keyBindings.size(); ++i) {
        const CIMKeyBinding& key = _keyBindings[i];
        out.append(i == 0 ? '.' : ',');
        out.append(key.getName().getString()).append('=');
        if (key.getType() == CIMKeyBinding::STRING || key.getType() == CIMKeyBinding::REFERENCE)
            appendQuoted(out, key.getValue());
        else
            out.append(key.getValue());
    }
    return out;
}

Boolean CIMObjectPath::identical(const CIMObjectPath& x) const {
    if (!String::equalNoCase(_host, x._host) || !_nameSpace.equal(x._nameSpace) || !_className.equal(x._className) ||
        _keyBindings.size() != x._keyBindings.size())
        return false;
    for (Uint32 i = 0; i < _keyBindings.size(); ++i) {
        Uint32 j = 0;
        while (j < x._keyBindings.size() && !_keyBindings[i].getName().equal(x._keyBindings[j].getName())) ++j;
        if (j == x._keyBindings.size() || !(_keyBindings[i] == x._keyBindings[j])) return false;
    }
    return true;
}

Uint32 CIMObjectPath::makeHashCode() const {
    std::string canonical;
    auto lower = [&canonical](const String& s) {
        for (char c : s.view()) canonical += (c >= 'A' && c <= 'Z') ? char(c + 32) : c;
        canonical += '\x1f';
    };
    lower(_host);
    lower(_nameSpace.getString());
    lower(_className.getString());
    for (Uint32 i = 0; i < _keyBindings.size(); ++i) lower(_keyBindings[i].getName().getString());
    return Uint32(std::hash<std::string>()(canonical));
}

}  // namespace Pegasus
