#include "cim/CimRequestDecoder.h"

#include <cstring>

#include "cim/CimXmlReader.h"
#include "cim/ValueText.h"

namespace Pegasus {
namespace cimxml {

namespace {

bool is(pugi::xml_node node, const char* name) { return std::strcmp(node.name(), name) == 0; }

CIMException invalidParameter(std::string_view name, const char* what) {
    return CIMException(CIM_ERR_INVALID_PARAMETER,
                        "parameter " + clipForMessage(String(name.substr(0, 200)), 64) + ": " + what);
}

CimRequestParam readRequestParam(CimXmlReader& reader, pugi::xml_node node, bool intrinsic) {
    static const char* const iparamValues[] = {"VALUE",         "VALUE.ARRAY", "VALUE.REFERENCE",
                                               "INSTANCENAME",  "CLASSNAME",   "INSTANCE",
                                               "VALUE.NAMEDINSTANCE", nullptr};
    static const char* const paramValues[] = {"VALUE", "VALUE.ARRAY", "VALUE.REFERENCE", "VALUE.REFARRAY", nullptr};
    expectElement(node, intrinsic ? "IPARAMVALUE" : "PARAMVALUE");
    CimRequestParam p;
    p.name = reader.name(node, "NAME").getString();
    CIMType type = CIMTYPE_STRING;
    bool typed = false;
    if (!intrinsic && node.attribute("PARAMTYPE")) {
        p.paramType = String(node.attribute("PARAMTYPE").value());
        bool embedded = p.paramType == "object" || p.paramType == "instance";
        if (!embedded) {
            type = reader.type(node, "PARAMTYPE");
            typed = true;
        }
    }
    pugi::xml_node child = onlyChild(node, intrinsic ? iparamValues : paramValues);
    if (!child) {
        p.kind = CimRequestParam::NULL_VALUE;
        p.value = CIMValue(type, false);
        return p;
    }
    bool reference = is(child, "VALUE.REFERENCE") || is(child, "VALUE.REFARRAY");
    if (is(child, "VALUE") || is(child, "VALUE.ARRAY") || reference) {
        if (typed && reference != (type == CIMTYPE_REFERENCE))
            throw XmlValueError(std::string(child.name()) + " does not hold a " + p.paramType.toStdString() + " value");
        p.kind = is(child, "VALUE")         ? CimRequestParam::VALUE
                 : is(child, "VALUE.ARRAY") ? CimRequestParam::VALUE_ARRAY
                 : is(child, "VALUE.REFERENCE") ? CimRequestParam::REFERENCE
                                                : CimRequestParam::REFERENCE_ARRAY;
        p.value = reader.readValue(child, reference ? CIMTYPE_REFERENCE : type);
    } else if (is(child, "CLASSNAME")) {
        p.kind = CimRequestParam::CLASS_NAME;
        p.className = reader.readClassName(child);
    } else if (is(child, "INSTANCENAME")) {
        p.kind = CimRequestParam::INSTANCE_NAME;
        p.value = CIMValue(reader.readInstanceName(child));
    } else if (is(child, "INSTANCE")) {
        p.kind = CimRequestParam::INSTANCE;
        p.instance = reader.readInstance(child);
    } else {
        p.kind = CimRequestParam::NAMED_INSTANCE;
        p.instance = reader.readNamedInstance(child);
    }
    return p;
}

void readCall(CimXmlReader& reader, pugi::xml_node message, CimRequest& req, CimRequestError& context) {
    static const char* const requests[] = {"SIMPLEREQ", "MULTIREQ", nullptr};
    pugi::xml_node simple = onlyChild(message, requests);
    if (simple && is(simple, "MULTIREQ"))
        throw CimRequestError(CimRequestError::MULTIPLE_REQUESTS_UNSUPPORTED, "multiple requests are not supported");
    expectElement(simple, "SIMPLEREQ");
    static const char* const calls[] = {"IMETHODCALL", "METHODCALL", nullptr};
    pugi::xml_node call = onlyChild(simple, calls);
    if (!call) throw XmlFormatError("SIMPLEREQ without a call");
    req.intrinsic = is(call, "IMETHODCALL");
    req.methodName = reader.name(call, "NAME").getString();
    context.intrinsic = req.intrinsic;
    context.methodName = req.methodName;

    pugi::xml_node child = call.first_child();
    while (child && child.type() != pugi::node_element) child = child.next_sibling();
    if (req.intrinsic) {
        req.nameSpace = reader.readLocalNamespacePath(child);
    } else {
        if (child && is(child, "LOCALCLASSPATH"))
            req.target = reader.readLocalClassPath(child);
        else if (child && is(child, "LOCALINSTANCEPATH"))
            req.target = reader.readLocalInstancePath(child);
        else
            throw XmlFormatError("METHODCALL without LOCALINSTANCEPATH or LOCALCLASSPATH");
        req.nameSpace = req.target.getNameSpace();
    }
    for (child = child.next_sibling(); child; child = child.next_sibling()) {
        if (child.type() != pugi::node_element) continue;
        req.params.push_back(readRequestParam(reader, child, req.intrinsic));
    }
}

}  // namespace

const char* CimRequestError::cimErrorHeader() const {
    switch (_kind) {
        case NOT_WELL_FORMED:
            return "request-not-well-formed";
        case NOT_VALID:
            return "request-not-valid";
        case UNSUPPORTED_PROTOCOL_VERSION:
            return "unsupported-protocol-version";
        case MULTIPLE_REQUESTS_UNSUPPORTED:
            return "multiple-requests-unsupported";
        default:
            return "";
    }
}

Uint32 CimRequestError::httpStatus() const {
    switch (_kind) {
        case UNSUPPORTED_PROTOCOL_VERSION:
        case MULTIPLE_REQUESTS_UNSUPPORTED:
            return 501;
        case INVALID_PARAMETER:
            return 200;
        default:
            return 400;
    }
}

CimRequest decodeRequest(std::string_view body) {
    std::string buffer(body);
    CimXmlReader reader;
    pugi::xml_document doc;
    CimRequest req;
    CimRequestError context(CimRequestError::NOT_VALID, String());
    try {
        parseDocument(doc, buffer);
    } catch (const XmlFormatError& e) {
        throw CimRequestError(CimRequestError::NOT_WELL_FORMED, String("request is ") + e.what());
    }
    auto failWith = [&](CimRequestError::Kind kind, const String& message) {
        CimRequestError error(kind, message);
        error.messageId = context.messageId;
        error.methodName = context.methodName;
        error.intrinsic = context.intrinsic;
        return error;
    };
    try {
        pugi::xml_node root = doc.document_element();
        expectElement(root, "CIM");
        static const char* const messageOnly[] = {"MESSAGE", nullptr};
        pugi::xml_node message = onlyChild(root, messageOnly);
        expectElement(message, "MESSAGE");
        if (!message.attribute("ID") || !message.attribute("PROTOCOLVERSION"))
            throw XmlFormatError("MESSAGE without ID or PROTOCOLVERSION");
        req.messageId = String(message.attribute("ID").value());
        req.protocolVersion = String(message.attribute("PROTOCOLVERSION").value());
        context.messageId = req.messageId;
        if (req.protocolVersion.view().substr(0, 2) != "1.")
            throw CimRequestError(CimRequestError::UNSUPPORTED_PROTOCOL_VERSION,
                                  "protocol version " + clipForMessage(req.protocolVersion, 32) + " is not supported");
        readCall(reader, message, req, context);
    } catch (const CimRequestError& e) {
        throw failWith(e.kind(), e.getMessage());
    } catch (const XmlValueError& e) {
        throw failWith(CimRequestError::INVALID_PARAMETER, e.what());
    } catch (const XmlFormatError& e) {
        throw failWith(CimRequestError::NOT_VALID, String("request is not valid CIM-XML: ") + e.what());
    } catch (const Exception& e) {
        throw failWith(CimRequestError::NOT_VALID, "request is not valid CIM-XML: " + e.getMessage());
    }
    return req;
}

const CimRequestParam* CimRequest::findParam(std::string_view name) const {
    for (const CimRequestParam& p : params)
        if (equalNoCaseAscii(p.name.view(), name)) return &p;
    return nullptr;
}

Boolean CimRequest::booleanParam(std::string_view name, Boolean defaultValue) const {
    const CimRequestParam* p = findParam(name);
    if (!p || p->isNull()) return defaultValue;
    Boolean value;
    if (p->kind != CimRequestParam::VALUE || !valuetext::parse(p->value.toString().view(), value))
        throw invalidParameter(name, "expected TRUE or FALSE");
    return value;
}

CIMName CimRequest::classNameParam(std::string_view name) const {
    const CimRequestParam* p = findParam(name);
    if (!p || p->isNull()) return CIMName();
    if (p->kind != CimRequestParam::CLASS_NAME) throw invalidParameter(name, "expected a class name");
    return p->className;
}

CIMObjectPath CimRequest::instanceNameParam(std::string_view name) const {
    const CimRequestParam* p = findParam(name);
    if (!p || p->isNull()) return CIMObjectPath();
    if (p->kind != CimRequestParam::INSTANCE_NAME && p->kind != CimRequestParam::REFERENCE)
        throw invalidParameter(name, "expected an instance name");
    CIMObjectPath path;
    p->value.get(path);
    return path;
}

String CimRequest::stringParam(std::string_view name) const {
    const CimRequestParam* p = findParam(name);
    if (!p || p->isNull()) return String();
    if (p->kind != CimRequestParam::VALUE || p->value.getType() != CIMTYPE_STRING)
        throw invalidParameter(name, "expected a string");
    return p->value.toString();
}

CIMPropertyList CimRequest::propertyListParam() const {
    const CimRequestParam* p = findParam("PropertyList");
    if (!p || p->isNull()) return CIMPropertyList();
    if (p->kind != CimRequestParam::VALUE_ARRAY || p->value.getType() != CIMTYPE_STRING)
        throw invalidParameter("PropertyList", "expected an array of property names");
    Array<String> texts;
    p->value.get(texts);
    Array<CIMName> names;
    for (const String& t : texts) {
        if (!CIMName::legal(t)) throw invalidParameter("PropertyList", "not a legal property name");
        names.append(CIMName(t));
    }
    return CIMPropertyList(names);
}

CIMInstance CimRequest::instanceParam(std::string_view name) const {
    const CimRequestParam* p = findParam(name);
    if (!p || p->isNull()) return CIMInstance();
    if (p->kind != CimRequestParam::INSTANCE && p->kind != CimRequestParam::NAMED_INSTANCE)
        throw invalidParameter(name, "expected an instance");
    return p->instance;
}

Array<CIMParamValue> CimRequest::methodParams() const {
    Array<CIMParamValue> result;
    for (const CimRequestParam& p : params) result.append(CIMParamValue(p.name, p.value, p.isTyped()));
    return result;
}

}  // namespace cimxml
}  // namespace Pegasus
