#include "cim/CimXmlReader.h"

#include <cstring>

#include "cim/Exception.h"
#include "cim/ValueText.h"

namespace Pegasus {
namespace cimxml {

namespace {

// References nest inside key bindings; deeper documents are refused.
constexpr int kMaxDepth = 32;

// Text nodes have no name: one library call instead of type() and name().
inline bool isElement(pugi::xml_node node) { return node.name()[0] != '\0'; }

bool same(const char* a, const char* b) { return a[0] == b[0] && std::strcmp(a, b) == 0; }
bool is(pugi::xml_node node, const char* name) { return same(node.name(), name); }

[[noreturn]] void fail(const std::string& what) { throw XmlFormatError(what); }

std::string clip(std::string_view text) { return clipForMessage(String(text.substr(0, 300)), 80).toStdString(); }

template <class T>
T parseScalar(std::string_view text, CIMType type) {
    T x{};
    if (!valuetext::parse(text, x))
        throw XmlValueError("value \"" + clip(text) + "\" is not a valid " + cimTypeToString(type));
    return x;
}

}  // namespace

class DepthGuard {
public:
    explicit DepthGuard(CimXmlReader& reader) : _reader(reader) {
        if (++_reader._depth > kMaxDepth) {
            --_reader._depth;
            fail("elements nested too deeply");
        }
    }
    ~DepthGuard() { --_reader._depth; }

private:
    CimXmlReader& _reader;
};

void parseDocument(pugi::xml_document& doc, std::string& buffer) {
    // pugixml passes over text outside the root element; XML does not allow it
    std::string_view b(buffer);
    if (b.substr(0, 3) == "\xEF\xBB\xBF") b.remove_prefix(3);
    size_t first = b.find_first_not_of(" \t\r\n");
    size_t last = b.find_last_not_of(" \t\r\n");
    if (first == std::string_view::npos || b[first] != '<' || b[last] != '>')
        fail("not well-formed XML (text outside the root element)");
    pugi::xml_parse_result result = doc.load_buffer_inplace(buffer.data(), buffer.size(), kParseFlags);
    if (!result)
        fail(std::string("not well-formed XML (") + result.description() + " at offset " +
             std::to_string(result.offset) + ")");
    int elements = 0;
    for (pugi::xml_node child = doc.first_child(); child; child = child.next_sibling()) {
        if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata)
            fail("not well-formed XML (text outside the root element)");
        if (child.type() == pugi::node_element && ++elements > 1)
            fail("not well-formed XML (more than one root element)");
    }
}

pugi::xml_node onlyChild(pugi::xml_node node, const char* const* allowed) {
    pugi::xml_node found;
    for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
        if (!isElement(child)) continue;
        bool ok = false;
        for (const char* const* a = allowed; *a && !ok; ++a) ok = is(child, *a);
        if (!ok) fail(std::string("unexpected element ") + child.name() + " in " + node.name());
        if (found) fail(std::string("more than one child element in ") + node.name());
        found = child;
    }
    return found;
}

void expectElement(pugi::xml_node node, const char* name) {
    if (!node) fail(std::string("missing ") + name);
    if (node.type() != pugi::node_element || !is(node, name))
        fail(std::string("expected ") + name + ", found " + (node.name()[0] ? node.name() : "text"));
}

String CimXmlReader::sharedText(std::string_view text) {
    if (text.empty() || text.size() > 32) return String(text);
    uint32_t hash = 2166136261u;  // FNV-1a
    for (char c : text) hash = (hash ^ uint8_t(c)) * 16777619u;
    String& slot = _recentTexts[hash % kRecentTexts];
    if (slot.view() != text) slot = String(text);
    return slot;
}

template <class T>
T CimXmlReader::scalar(std::string_view text, CIMType type) {
    if constexpr (std::is_same_v<T, String>)
        return sharedText(text);
    else
        return parseScalar<T>(text, type);
}

std::string_view CimXmlReader::text(pugi::xml_node node) {
    pugi::xml_node first = node.first_child();
    if (!first) return std::string_view();
    if (!first.next_sibling() && (first.type() == pugi::node_pcdata || first.type() == pugi::node_cdata))
        return first.value();
    _scratch.clear();
    for (pugi::xml_node child = first; child; child = child.next_sibling()) {
        if (child.type() == pugi::node_element) fail(std::string("unexpected element ") + child.name() + " in " + node.name());
        _scratch += child.value();
    }
    return _scratch;
}

CIMName CimXmlReader::name(pugi::xml_node node, const char* attribute, bool required) {
    pugi::xml_attribute attr = node.attribute(attribute);
    if (!attr) {
        if (required) fail(std::string("missing ") + attribute + " in " + node.name());
        return CIMName();
    }
    return internName(attr);
}

CIMName CimXmlReader::internName(pugi::xml_attribute attr) {
    std::string_view text(attr.value());
    auto it = _names.find(text);
    if (it != _names.end()) return it->second;
    if (!CIMName::legal(text)) fail("\"" + clip(text) + "\" is not a legal CIM name");
    CIMName n{String(text)};
    _names.emplace(text, n);
    return n;
}

CIMType CimXmlReader::type(pugi::xml_node node, const char* attribute) {
    return typeOf(node.attribute(attribute), node, attribute);
}

CIMType CimXmlReader::typeOf(pugi::xml_attribute attr, pugi::xml_node node, const char* attribute) {
    if (!attr) fail(std::string("missing ") + attribute + " in " + node.name());
    CIMType t;
    if (!cimTypeFromString(attr.value(), t) || t > CIMTYPE_REFERENCE)
        fail("unknown CIM type \"" + clip(attr.value()) + "\"");
    return t;
}

CIMNamespaceName CimXmlReader::readLocalNamespacePath(pugi::xml_node node) {
    expectElement(node, "LOCALNAMESPACEPATH");
    std::string ns;
    for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
        if (!isElement(child)) continue;
        expectElement(child, "NAMESPACE");
        if (!ns.empty()) ns += '/';
        ns += name(child, "NAME").getString().view();
    }
    if (ns.empty()) fail("LOCALNAMESPACEPATH without NAMESPACE");
    return CIMNamespaceName(String(ns));
}

void CimXmlReader::readNamespacePath(pugi::xml_node node, String& host, CIMNamespaceName& nameSpace) {
    expectElement(node, "NAMESPACEPATH");
    pugi::xml_node hostNode = node.child("HOST");
    expectElement(hostNode, "HOST");
    host = String(text(hostNode));
    nameSpace = readLocalNamespacePath(node.child("LOCALNAMESPACEPATH"));
}

CIMName CimXmlReader::readClassName(pugi::xml_node node) {
    expectElement(node, "CLASSNAME");
    return name(node, "NAME");
}

CIMKeyBinding CimXmlReader::readKeyBinding(pugi::xml_node node) {
    static const char* const allowed[] = {"KEYVALUE", "VALUE.REFERENCE", nullptr};
    DepthGuard guard(*this);
    CIMName keyName = name(node, "NAME");
    pugi::xml_node value = onlyChild(node, allowed);
    if (!value) fail("KEYBINDING without a value");
    if (is(value, "VALUE.REFERENCE")) {
        return CIMKeyBinding(keyName, readValueReference(value).toString(), CIMKeyBinding::REFERENCE);
    }
    std::string_view kind = value.attribute("VALUETYPE").as_string("string");
    std::string_view keyText = text(value);
    if (kind == "string") return CIMKeyBinding(keyName, sharedText(keyText), CIMKeyBinding::STRING);
    while (!keyText.empty() && (keyText.front() == ' ' || keyText.front() == '\n' || keyText.front() == '\t'))
        keyText.remove_prefix(1);
    while (!keyText.empty() && (keyText.back() == ' ' || keyText.back() == '\n' || keyText.back() == '\t'))
        keyText.remove_suffix(1);
    if (kind == "boolean") {
        Boolean b;
        if (!valuetext::parse(keyText, b)) fail("bad boolean key value \"" + clip(keyText) + "\"");
        return CIMKeyBinding(keyName, String(keyText), CIMKeyBinding::BOOLEAN);
    }
    if (kind == "numeric") {
        Sint64 s;
        Uint64 u;
        if (!valuetext::parse(keyText, s) && !valuetext::parse(keyText, u))
            fail("bad numeric key value \"" + clip(keyText) + "\"");
        return CIMKeyBinding(keyName, String(keyText), CIMKeyBinding::NUMERIC);
    }
    fail("unknown VALUETYPE \"" + clip(kind) + "\"");
}

CIMObjectPath CimXmlReader::readInstanceName(pugi::xml_node node) {
    expectElement(node, "INSTANCENAME");
    DepthGuard guard(*this);
    CIMObjectPath path;
    path.setClassName(name(node, "CLASSNAME"));
    Array<CIMKeyBinding> keys;
    keys.reserveCapacity(_lastKeyCount);
    for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
        if (!isElement(child)) continue;
        if (!is(child, "KEYBINDING")) fail(std::string("unsupported key form ") + child.name() + " in INSTANCENAME");
        keys.append(readKeyBinding(child));
    }
    _lastKeyCount = keys.size();
    path.setKeyBindings(std::move(keys));
    return path;
}

CIMObjectPath CimXmlReader::readInstancePath(pugi::xml_node node) {
    expectElement(node, "INSTANCEPATH");
    String host;
    CIMNamespaceName ns;
    readNamespacePath(node.child("NAMESPACEPATH"), host, ns);
    CIMObjectPath path = readInstanceName(node.child("INSTANCENAME"));
    path.setHost(host);
    path.setNameSpace(ns);
    return path;
}

CIMObjectPath CimXmlReader::readLocalInstancePath(pugi::xml_node node) {
    expectElement(node, "LOCALINSTANCEPATH");
    CIMNamespaceName ns = readLocalNamespacePath(node.child("LOCALNAMESPACEPATH"));
    CIMObjectPath path = readInstanceName(node.child("INSTANCENAME"));
    path.setNameSpace(ns);
    return path;
}

CIMObjectPath CimXmlReader::readClassPath(pugi::xml_node node) {
    expectElement(node, "CLASSPATH");
    String host;
    CIMNamespaceName ns;
    readNamespacePath(node.child("NAMESPACEPATH"), host, ns);
    return CIMObjectPath(host, ns, readClassName(node.child("CLASSNAME")));
}

CIMObjectPath CimXmlReader::readLocalClassPath(pugi::xml_node node) {
    expectElement(node, "LOCALCLASSPATH");
    CIMNamespaceName ns = readLocalNamespacePath(node.child("LOCALNAMESPACEPATH"));
    return CIMObjectPath(String(), ns, readClassName(node.child("CLASSNAME")));
}

CIMObjectPath CimXmlReader::readValueReference(pugi::xml_node node) {
    static const char* const allowed[] = {"CLASSPATH",         "LOCALCLASSPATH", "CLASSNAME", "INSTANCEPATH",
                                          "LOCALINSTANCEPATH", "INSTANCENAME",   nullptr};
    expectElement(node, "VALUE.REFERENCE");
    DepthGuard guard(*this);
    pugi::xml_node path = onlyChild(node, allowed);
    if (!path) fail("empty VALUE.REFERENCE");
    if (is(path, "INSTANCENAME")) return readInstanceName(path);
    if (is(path, "LOCALINSTANCEPATH")) return readLocalInstancePath(path);
    if (is(path, "INSTANCEPATH")) return readInstancePath(path);
    if (is(path, "CLASSNAME")) return CIMObjectPath(String(), CIMNamespaceName(), readClassName(path));
    if (is(path, "LOCALCLASSPATH")) return readLocalClassPath(path);
    return readClassPath(path);
}

CIMObjectPath CimXmlReader::readObjectPath(pugi::xml_node node) {
    static const char* const allowed[] = {"INSTANCEPATH", "CLASSPATH", nullptr};
    expectElement(node, "OBJECTPATH");
    pugi::xml_node path = onlyChild(node, allowed);
    if (!path) fail("empty OBJECTPATH");
    return is(path, "INSTANCEPATH") ? readInstancePath(path) : readClassPath(path);
}

CIMValue CimXmlReader::readValue(pugi::xml_node node, CIMType valueType) {
    return valuetext::visitType(valueType, [&](auto tag) -> CIMValue {
        using T = typename decltype(tag)::type;
        constexpr bool reference = std::is_same_v<T, CIMObjectPath>;
        if (is(node, reference ? "VALUE.REFERENCE" : "VALUE")) {
            if constexpr (reference)
                return CIMValue(readValueReference(node));
            else
                return CIMValue(scalar<T>(text(node), valueType));
        }
        if (!is(node, reference ? "VALUE.REFARRAY" : "VALUE.ARRAY"))
            fail(std::string(node.name()) + " does not hold a " + cimTypeToString(valueType) + " value");
        Array<T> items;
        for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
            if (!isElement(child)) continue;
            if (is(child, "VALUE.NULL")) {
                items.append(T());
                continue;
            }
            if constexpr (reference) {
                items.append(readValueReference(child));
            } else {
                expectElement(child, "VALUE");
                items.append(scalar<T>(text(child), valueType));
            }
        }
        return CIMValue(items);
    });
}

CIMValue CimXmlReader::readHeldValue(pugi::xml_node holder, CIMType valueType, Boolean isArray) {
    for (pugi::xml_node child = holder.first_child(); child; child = child.next_sibling()) {
        if (!isElement(child) || is(child, "QUALIFIER")) continue;
        CIMValue value = readValue(child, valueType);
        if (value.isArray() != isArray)
            fail(std::string(child.name()) + " in " + holder.name() + (isArray ? " is not an array" : " is an array"));
        return value;
    }
    return CIMValue(valueType, isArray);
}

CIMQualifier CimXmlReader::readQualifier(pugi::xml_node node) {
    CIMName qualifierName = name(node, "NAME");
    CIMType qualifierType = type(node, "TYPE");
    bool isArray = node.child("VALUE.ARRAY") || node.attribute("ISARRAY").as_bool();
    return CIMQualifier(qualifierName, readHeldValue(node, qualifierType, isArray),
                        node.attribute("PROPAGATED").as_bool());
}

CIMProperty CimXmlReader::readProperty(pugi::xml_node node) {
    const char* element = node.name();
    bool reference = same(element, "PROPERTY.REFERENCE");
    bool isArray = !reference && same(element, "PROPERTY.ARRAY");
    if (!reference && !isArray && !same(element, "PROPERTY")) fail(std::string("unexpected element ") + element);
    // one pass over the attributes
    pugi::xml_attribute nameAttr, typeAttr, originAttr, referenceAttr, sizeAttr;
    bool propagated = false;
    for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute()) {
        const char* n = a.name();
        if (same(n, "NAME"))
            nameAttr = a;
        else if (same(n, "TYPE"))
            typeAttr = a;
        else if (same(n, "CLASSORIGIN"))
            originAttr = a;
        else if (same(n, "PROPAGATED"))
            propagated = a.as_bool();
        else if (same(n, "REFERENCECLASS"))
            referenceAttr = a;
        else if (same(n, "ARRAYSIZE"))
            sizeAttr = a;
    }
    if (!nameAttr) fail(std::string("missing NAME in ") + node.name());
    CIMName propertyName = internName(nameAttr);
    CIMType propertyType = CIMTYPE_REFERENCE;
    if (!reference) {
        propertyType = typeOf(typeAttr, node, "TYPE");
        if (propertyType == CIMTYPE_REFERENCE) fail(std::string(node.name()) + " cannot be of type reference");
    }
    Uint32 arraySize = 0;
    if (sizeAttr && !valuetext::parse(sizeAttr.value(), arraySize)) fail("bad ARRAYSIZE");
    // one pass over the children: qualifiers, then at most one value
    CIMValue value;
    bool haveValue = false;
    pugi::xml_node firstQualifier;
    for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
        if (!isElement(child)) continue;
        if (is(child, "QUALIFIER")) {
            if (!firstQualifier) firstQualifier = child;
            continue;
        }
        if (haveValue) fail(std::string("more than one value in ") + node.name());
        value = readValue(child, propertyType);
        haveValue = true;
        if (value.isArray() != isArray)
            fail(std::string(child.name()) + " in " + node.name() + (isArray ? " is not an array" : " is an array"));
    }
    if (!haveValue) value = CIMValue(propertyType, isArray);
    CIMProperty property(std::move(propertyName), std::move(value), arraySize,
                         referenceAttr ? internName(referenceAttr) : CIMName(),
                         originAttr ? internName(originAttr) : CIMName(), propagated);
    for (pugi::xml_node q = firstQualifier; q; q = q.next_sibling("QUALIFIER")) property.addQualifier(readQualifier(q));
    return property;
}

CIMInstance CimXmlReader::readInstance(pugi::xml_node node) {
    expectElement(node, "INSTANCE");
    CIMInstance instance(name(node, "CLASSNAME"));
    instance.reservePropertyCapacity(_lastPropertyCount);
    for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
        if (!isElement(child)) continue;
        if (is(child, "QUALIFIER"))
            instance.addQualifier(readQualifier(child));
        else
            instance.appendPropertyUnchecked(readProperty(child));
    }
    _lastPropertyCount = instance.getPropertyCount();
    return instance;
}

CIMInstance CimXmlReader::readNamedInstance(pugi::xml_node node) {
    expectElement(node, "VALUE.NAMEDINSTANCE");
    pugi::xml_node nameNode = node.first_child();
    while (nameNode && nameNode.type() != pugi::node_element) nameNode = nameNode.next_sibling();
    CIMObjectPath path = readInstanceName(nameNode);
    pugi::xml_node instanceNode = nameNode.next_sibling();
    while (instanceNode && instanceNode.type() != pugi::node_element) instanceNode = instanceNode.next_sibling();
    CIMInstance instance = readInstance(instanceNode);
    instance.setPath(std::move(path));
    return instance;
}

CIMParameter CimXmlReader::readParameter(pugi::xml_node node) {
    CIMName parameterName = name(node, "NAME");
    bool reference = is(node, "PARAMETER.REFERENCE") || is(node, "PARAMETER.REFARRAY");
    bool isArray = is(node, "PARAMETER.ARRAY") || is(node, "PARAMETER.REFARRAY");
    if (!reference && !isArray && !is(node, "PARAMETER")) fail(std::string("unexpected element ") + node.name());
    Uint32 arraySize = 0;
    if (isArray && node.attribute("ARRAYSIZE") && !valuetext::parse(node.attribute("ARRAYSIZE").value(), arraySize))
        fail("bad ARRAYSIZE");
    CIMParameter parameter(parameterName, reference ? CIMTYPE_REFERENCE : type(node, "TYPE"), isArray, arraySize,
                           reference ? name(node, "REFERENCECLASS", false) : CIMName());
    for (pugi::xml_node q = node.child("QUALIFIER"); q; q = q.next_sibling("QUALIFIER"))
        parameter.addQualifier(readQualifier(q));
    return parameter;
}

CIMMethod CimXmlReader::readMethod(pugi::xml_node node) {
    expectElement(node, "METHOD");
    CIMType returnType = node.attribute("TYPE") ? type(node, "TYPE") : CIMTYPE_UINT32;
    CIMMethod method(name(node, "NAME"), returnType, name(node, "CLASSORIGIN", false),
                     node.attribute("PROPAGATED").as_bool());
    for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
        if (!isElement(child)) continue;
        if (is(child, "QUALIFIER"))
            method.addQualifier(readQualifier(child));
        else
            method.addParameter(readParameter(child));
    }
    return method;
}

CIMClass CimXmlReader::readClass(pugi::xml_node node) {
    expectElement(node, "CLASS");
    CIMClass cimClass(name(node, "NAME"), name(node, "SUPERCLASS", false));
    for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
        if (!isElement(child)) continue;
        if (is(child, "QUALIFIER"))
            cimClass.addQualifier(readQualifier(child));
        else if (is(child, "METHOD"))
            cimClass.addMethod(readMethod(child));
        else
            cimClass.addProperty(readProperty(child));
    }
    return cimClass;
}

CIMValue CimXmlReader::readUntypedValue(pugi::xml_node node) {
    if (is(node, "VALUE.REFERENCE") || is(node, "VALUE.REFARRAY")) return readValue(node, CIMTYPE_REFERENCE);
    if (is(node, "VALUE") || is(node, "VALUE.ARRAY")) return readValue(node, CIMTYPE_STRING);
    fail(std::string("unsupported parameter value ") + node.name());
}

CIMParamValue CimXmlReader::readParamValue(pugi::xml_node node) {
    static const char* const allowed[] = {"VALUE", "VALUE.REFERENCE", "VALUE.ARRAY", "VALUE.REFARRAY", nullptr};
    expectElement(node, "PARAMVALUE");
    pugi::xml_attribute nameAttr = node.attribute("NAME");
    if (!nameAttr || !CIMName::legal(std::string_view(nameAttr.value()))) fail("PARAMVALUE without a legal NAME");
    String paramName(nameAttr.value());
    pugi::xml_node value = onlyChild(node, allowed);
    pugi::xml_attribute paramType = node.attribute("PARAMTYPE");
    CIMType t;
    bool typed = paramType && cimTypeFromString(paramType.value(), t) && t <= CIMTYPE_REFERENCE;
    if (paramType && !typed && std::strcmp(paramType.value(), "object") != 0 &&
        std::strcmp(paramType.value(), "instance") != 0)
        fail("unknown PARAMTYPE \"" + clip(paramType.value()) + "\"");
    if (!value) return CIMParamValue(paramName, CIMValue(typed ? t : CIMTYPE_STRING, false), typed);
    return CIMParamValue(paramName, typed ? readValue(value, t) : readUntypedValue(value), typed);
}

CIMValue CimXmlReader::readReturnValue(pugi::xml_node node) {
    static const char* const allowed[] = {"VALUE", "VALUE.REFERENCE", nullptr};
    expectElement(node, "RETURNVALUE");
    pugi::xml_node value = onlyChild(node, allowed);
    pugi::xml_attribute paramType = node.attribute("PARAMTYPE");
    CIMType t = CIMTYPE_STRING;
    if (paramType && (!cimTypeFromString(paramType.value(), t) || t > CIMTYPE_REFERENCE))
        fail("unknown PARAMTYPE \"" + clip(paramType.value()) + "\"");
    if (!value) return CIMValue(t, false);
    if (!paramType && is(value, "VALUE.REFERENCE")) t = CIMTYPE_REFERENCE;
    return readValue(value, t);
}

void CimXmlReader::readError(pugi::xml_node node, CIMStatusCode& code, String& description) {
    expectElement(node, "ERROR");
    Uint32 number;
    if (!valuetext::parse(node.attribute("CODE").value(), number)) fail("ERROR without a numeric CODE");
    code = CIMStatusCode(number);
    description = String(node.attribute("DESCRIPTION").value());
}

}  // namespace cimxml
}  // namespace Pegasus
