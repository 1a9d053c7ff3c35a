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

// Compares up to the first difference; never reads past the end of `a`.
inline bool same(const char* a, const char* b) {
    for (; *b; ++a, ++b)
        if (*a != *b) return false;
    return *a == '\0';
}
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

namespace {
// Stops at the first element deeper than the limit. pugixml walks the tree
// with a loop, not by recursion.
class DepthWalker : public pugi::xml_tree_walker {
public:
    explicit DepthWalker(int maxDepth) : _maxDepth(maxDepth) {}
    bool for_each(pugi::xml_node& node) override {
        if (depth() < _maxDepth || node.type() != pugi::node_element) return true;
        tooDeep = true;
        return false;
    }
    bool tooDeep = false;

private:
    int _maxDepth;
};
}  // namespace

void checkDepth(pugi::xml_node root, int maxDepth) {
    DepthWalker walker(maxDepth);
    root.traverse(walker);
    if (walker.tooDeep) fail("elements nested too deeply (more than " + std::to_string(maxDepth) + " levels)");
}

void parseFragment(pugi::xml_document& doc, char* data, size_t size, int maxDepth) {
    pugi::xml_parse_result result = doc.load_buffer_inplace(data, size, kParseFlags | pugi::parse_fragment,
                                                            pugi::encoding_utf8);
    if (!result)
        fail(std::string("not well-formed XML (") + result.description() + " at offset " +
             std::to_string(result.offset) + " of a part)");
    checkDepth(doc, maxDepth);
}

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
    checkDepth(doc, kMaxDocumentDepth);
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

CIMName CimXmlReader::internName(pugi::xml_attribute attr) { return internName(std::string_view(attr.value())); }

CIMName CimXmlReader::internName(std::string_view text) {
    uint32_t hash = 2166136261u;  // FNV-1a
    for (char c : text) hash = (hash ^ uint8_t(c)) * 16777619u;
    CIMName& slot = _recentNames[hash % kRecentNames];
    if (!text.empty() && slot.getString().view() == text) return slot;
    if (!CIMName::legal(text)) fail("\"" + clip(text) + "\" is not a legal CIM name");
    slot = CIMName(String(text));
    return slot;
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
    return keyBinding(keyName, value.attribute("VALUETYPE").as_string("string"), text(value));
}

CIMKeyBinding CimXmlReader::keyBinding(const CIMName& keyName, std::string_view kind, std::string_view keyText,
                                       String (CimXmlReader::*shared)(std::string_view)) {
    if (kind == "string") return CIMKeyBinding(keyName, (this->*shared)(keyText), CIMKeyBinding::STRING);
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

CIMInstance CimXmlReader::readObjectWithPath(pugi::xml_node node) {
    expectElement(node, "VALUE.OBJECTWITHPATH");
    pugi::xml_node parts[3];
    int count = 0;
    for (pugi::xml_node child = node.first_child(); child && count < 3; child = child.next_sibling())
        if (isElement(child)) parts[count++] = child;
    if (count > 0 && (is(parts[0], "CLASSPATH") || is(parts[0], "CLASS")))
        fail("a class in VALUE.OBJECTWITHPATH is not supported");
    if (count != 2) fail("VALUE.OBJECTWITHPATH does not hold a path and an object");
    CIMObjectPath path = readInstancePath(parts[0]);
    CIMInstance instance = readInstance(parts[1]);
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

// --- items read straight from the text

namespace {
// Character classes of the plain reader.
enum : uint8_t { kBlank = 1, kNameChar = 2, kTextStop = 4, kValueStop = 8 };
struct CharClasses {
    uint8_t of[256] = {};
    constexpr CharClasses() {
        for (char c : {' ', '\t', '\n', '\r'}) of[uint8_t(c)] |= kBlank;
        for (int c = 0; c < 256; ++c)
            if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == ':' ||
                c == '.' || c == '-')
                of[c] |= kNameChar;
        for (char c : {'<', '&', '\r'}) of[uint8_t(c)] |= kTextStop;
        for (char c : {'<', '&', '\t', '\n', '\r', '"', '\''}) of[uint8_t(c)] |= kValueStop;
    }
};
constexpr CharClasses kClasses;
inline bool hasClass(char c, uint8_t mask) { return (kClasses.of[uint8_t(c)] & mask) != 0; }
inline bool xmlBlank(char c) { return hasClass(c, kBlank); }
// pugixml's reading of a boolean attribute
bool attributeTrue(std::string_view value) {
    char first = value.empty() ? '\0' : value[0];
    return first == '1' || first == 't' || first == 'T' || first == 'y' || first == 'Y';
}
// The same bytes, compared without a library call (names are short).
inline bool sameBytes(const char* a, std::string_view b) {
    for (size_t i = 0; i < b.size(); ++i)
        if (a[i] != b[i]) return false;
    return true;
}
}  // namespace

// A cursor over text of the plain form; each step says false when the text
// is not what it expects there.
class PlainText {
public:
    explicit PlainText(std::string_view text) : _at(text.data()), _end(text.data() + text.size()) {}

    bool atEnd() const { return _at >= _end; }
    void blanks() {
        while (_at < _end && xmlBlank(*_at)) ++_at;
    }
    // "<name" then a blank, ">" or "/".
    bool open(std::string_view name) {
        if (size_t(_end - _at) < name.size() + 2 || _at[0] != '<' || !sameBytes(_at + 1, name)) return false;
        char next = _at[1 + name.size()];
        if (!xmlBlank(next) && next != '>' && next != '/') return false;
        _at += 1 + name.size();
        return true;
    }
    // "</name", blanks, ">".
    bool close(std::string_view name) {
        if (size_t(_end - _at) < name.size() + 3 || _at[0] != '<' || _at[1] != '/' || !sameBytes(_at + 2, name))
            return false;
        const char* p = _at + 2 + name.size();
        while (p < _end && xmlBlank(*p)) ++p;
        if (p >= _end || *p != '>') return false;
        _at = p + 1;
        return true;
    }
    // The attributes up to ">" (`empty` false) or "/>" (`empty` true), each
    // handed to `each(name, value)`; values with references, "<" or
    // white space other than blanks are left to the full parser.
    template <class Each>
    bool attributes(Each each, bool& empty) {
        for (;;) {
            const char* before = _at;
            blanks();
            if (_at >= _end) return false;
            if (*_at == '>') {
                ++_at;
                empty = false;
                return true;
            }
            if (*_at == '/') {
                if (_at + 1 >= _end || _at[1] != '>') return false;
                _at += 2;
                empty = true;
                return true;
            }
            if (_at == before) return false;
            const char* name = _at;
            while (_at < _end && hasClass(*_at, kNameChar)) ++_at;
            if (_at == name || _at + 1 >= _end || *_at != '=' || (_at[1] != '"' && _at[1] != '\'')) return false;
            std::string_view attributeName(name, size_t(_at - name));
            char quote = _at[1];
            _at += 2;
            const char* value = _at;
            for (;;) {
                while (_at < _end && !hasClass(*_at, kValueStop)) ++_at;
                if (_at >= _end) return false;
                if (*_at == quote) break;
                if (*_at != '"' && *_at != '\'') return false;
                ++_at;  // the other quote stands in the value as it is
            }
            std::string_view attributeValue(value, size_t(_at - value));
            ++_at;
            if (!each(attributeName, attributeValue)) return false;
        }
    }
    // Character data up to the next "<", with the five named entities
    // decoded (in `scratch` when there are any).
    bool text(std::string_view& out, std::string& scratch) {
        const char* start = _at;
        while (_at < _end && !hasClass(*_at, kTextStop)) ++_at;
        if (_at >= _end || *_at == '\r') return false;
        if (*_at == '&') return decodedText(start, out, scratch);
        out = std::string_view(start, size_t(_at - start));
        return true;
    }

private:
    bool decodedText(const char* start, std::string_view& out, std::string& scratch) {
        static const std::pair<std::string_view, char> kEntities[] = {
            {"&lt;", '<'}, {"&gt;", '>'}, {"&amp;", '&'}, {"&quot;", '"'}, {"&apos;", '\''}};
        scratch.assign(start, size_t(_at - start));
        while (_at < _end && *_at != '<') {
            char c = *_at;
            if (c == '\r') return false;
            if (c != '&') {
                scratch += c;
                ++_at;
                continue;
            }
            std::string_view rest(_at, size_t(_end - _at));
            bool known = false;
            for (const auto& entity : kEntities) {
                if (rest.substr(0, entity.first.size()) == entity.first) {
                    scratch += entity.second;
                    _at += entity.first.size();
                    known = true;
                    break;
                }
            }
            if (!known) return false;
        }
        if (_at >= _end) return false;
        out = scratch;
        return true;
    }

    const char* _at;
    const char* _end;
};

CIMName CimXmlReader::nameInPlace(std::string_view text) {
    if (_nameAt < _namesInPlace.size()) {
        const String& kept = _namesInPlace[_nameAt].getString();
        if (!text.empty() && kept.size() == text.size() && sameBytes(kept.c_str(), text)) return _namesInPlace[_nameAt++];
    }
    CIMName name = internName(text);
    if (_nameAt < _namesInPlace.size())
        _namesInPlace[_nameAt] = name;
    else if (_nameAt < kPlacesKept)
        _namesInPlace.push_back(name);
    ++_nameAt;
    return name;
}

String CimXmlReader::textInPlace(std::string_view text) {
    if (_textAt < _textsInPlace.size()) {
        const String& kept = _textsInPlace[_textAt];
        if (kept.size() == text.size() && sameBytes(kept.c_str(), text)) return _textsInPlace[_textAt++];
    }
    String made(text);
    if (_textAt < _textsInPlace.size())
        _textsInPlace[_textAt] = made;
    else if (_textAt < kPlacesKept)
        _textsInPlace.push_back(made);
    ++_textAt;
    return made;
}

bool CimXmlReader::readPlainNamedInstances(std::string_view text, std::vector<CIMInstance>& out) {
    // the tree would end a text at a NUL byte
    if (std::memchr(text.data(), '\0', text.size())) return false;
    PlainText plain(text);
    try {
        for (;;) {
            plain.blanks();
            if (plain.atEnd()) return true;
            CIMInstance instance;
            if (!readPlainNamedInstance(plain, instance)) return false;
            out.push_back(std::move(instance));
        }
    } catch (const XmlFormatError&) {
        return false;
    } catch (const Exception&) {
        return false;
    }
}

bool CimXmlReader::readPlainNamedInstance(PlainText& in, CIMInstance& out) {
    auto none = [](std::string_view, std::string_view) { return false; };
    _nameAt = 0;
    _textAt = 0;
    bool empty = false;
    if (!in.open("VALUE.NAMEDINSTANCE") || !in.attributes(none, empty) || empty) return false;

    // INSTANCENAME with string, numeric and boolean keys
    std::string_view className;
    auto classNameOnly = [&](std::string_view name, std::string_view value) {
        if (name != "CLASSNAME" || !className.empty()) return false;
        className = value;
        return true;
    };
    in.blanks();
    if (!in.open("INSTANCENAME") || !in.attributes(classNameOnly, empty) || className.empty()) return false;
    CIMObjectPath path;
    path.setClassName(nameInPlace(className));
    Array<CIMKeyBinding> keys;
    keys.reserveCapacity(_lastKeyCount);
    while (!empty) {
        in.blanks();
        if (in.close("INSTANCENAME")) break;
        std::string_view keyName;
        auto nameOnly = [&](std::string_view name, std::string_view value) {
            if (name != "NAME" || !keyName.empty()) return false;
            keyName = value;
            return true;
        };
        bool emptyKey = false;
        if (!in.open("KEYBINDING") || !in.attributes(nameOnly, emptyKey) || emptyKey || keyName.empty()) return false;
        std::string_view kind = "string";
        bool kindGiven = false, typeGiven = false;
        auto keyValueAttributes = [&](std::string_view name, std::string_view value) {
            if (name == "VALUETYPE" && !kindGiven) return (kind = value, kindGiven = true);
            if (name == "TYPE" && !typeGiven) return (typeGiven = true);
            return false;
        };
        bool emptyValue = false;
        in.blanks();
        if (!in.open("KEYVALUE") || !in.attributes(keyValueAttributes, emptyValue)) return false;
        std::string_view keyText;
        if (!emptyValue && (!in.text(keyText, _scratch) || !in.close("KEYVALUE"))) return false;
        keys.append(keyBinding(nameInPlace(keyName), kind, keyText, &CimXmlReader::textInPlace));
        in.blanks();
        if (!in.close("KEYBINDING")) return false;
    }
    _lastKeyCount = keys.size();
    path.setKeyBindings(std::move(keys));

    // INSTANCE with PROPERTY and PROPERTY.ARRAY elements
    className = std::string_view();
    in.blanks();
    if (!in.open("INSTANCE") || !in.attributes(classNameOnly, empty) || className.empty()) return false;
    CIMInstance instance(nameInPlace(className));
    instance.reservePropertyCapacity(_lastPropertyCount);
    while (!empty) {
        in.blanks();
        if (in.close("INSTANCE")) break;
        bool isArray = false;
        if (!in.open("PROPERTY")) {
            if (!in.open("PROPERTY.ARRAY")) return false;
            isArray = true;
        }
        std::string_view propertyName, typeText, origin, sizeText;
        bool propagated = false, propagatedGiven = false;
        auto propertyAttributes = [&](std::string_view name, std::string_view value) {
            std::string_view* slot = nullptr;
            switch (name.size()) {
                case 4: slot = name == "NAME" ? &propertyName : name == "TYPE" ? &typeText : nullptr; break;
                case 9: slot = name == "ARRAYSIZE" ? &sizeText : nullptr; break;
                case 11: slot = name == "CLASSORIGIN" ? &origin : nullptr; break;
                case 10:
                    if (name != "PROPAGATED" || propagatedGiven) return false;
                    propagatedGiven = true;
                    propagated = attributeTrue(value);
                    return true;
                default: break;
            }
            if (!slot || !slot->empty() || value.empty()) return false;
            *slot = value;
            return true;
        };
        bool emptyProperty = false;
        if (!in.attributes(propertyAttributes, emptyProperty) || propertyName.empty() || typeText.empty()) return false;
        CIMType type;
        if (!cimTypeFromString(typeText, type) || type >= CIMTYPE_REFERENCE) return false;
        Uint32 arraySize = 0;
        if (!sizeText.empty() && !valuetext::parse(sizeText, arraySize)) return false;
        CIMName name = nameInPlace(propertyName);
        const char* element = isArray ? "PROPERTY.ARRAY" : "PROPERTY";

        bool read = true;
        CIMValue value = emptyProperty ? CIMValue(type, isArray) : valuetext::visitType(type, [&](auto tag) {
            using T = typename decltype(tag)::type;
            in.blanks();
            if (in.close(element)) return CIMValue(type, isArray);
            read = false;
            std::string_view valueText;
            bool emptyElement = false;
            if (!isArray) {
                if (!in.open("VALUE") || !in.attributes(none, emptyElement)) return CIMValue();
                if (!emptyElement && (!in.text(valueText, _scratch) || !in.close("VALUE"))) return CIMValue();
                in.blanks();
                if (!in.close(element)) return CIMValue();
                read = true;
                if constexpr (std::is_same_v<T, String>)
                    return CIMValue(textInPlace(valueText));
                else
                    return CIMValue(scalar<T>(valueText, type));
            }
            if (!in.open("VALUE.ARRAY") || !in.attributes(none, emptyElement)) return CIMValue();
            Array<T> items;
            while (!emptyElement) {
                in.blanks();
                if (in.close("VALUE.ARRAY")) break;
                bool emptyItem = false;
                if (in.open("VALUE.NULL")) {
                    if (!in.attributes(none, emptyItem) || !emptyItem) return CIMValue();
                    items.append(T());
                    continue;
                }
                valueText = std::string_view();
                if (!in.open("VALUE") || !in.attributes(none, emptyItem)) return CIMValue();
                if (!emptyItem && (!in.text(valueText, _scratch) || !in.close("VALUE"))) return CIMValue();
                if constexpr (std::is_same_v<T, String>)
                    items.append(textInPlace(valueText));
                else
                    items.append(scalar<T>(valueText, type));
            }
            in.blanks();
            if (!in.close(element)) return CIMValue();
            read = true;
            return CIMValue(items);
        });
        if (!read) return false;
        instance.appendPropertyUnchecked(CIMProperty(std::move(name), std::move(value), arraySize, CIMName(),
                                                     origin.empty() ? CIMName() : nameInPlace(origin), propagated));
    }
    _lastPropertyCount = instance.getPropertyCount();
    in.blanks();
    if (!in.close("VALUE.NAMEDINSTANCE")) return false;
    instance.setPath(std::move(path));
    out = std::move(instance);
    return true;
}

}  // namespace cimxml
}  // namespace Pegasus
