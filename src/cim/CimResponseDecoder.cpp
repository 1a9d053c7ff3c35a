#include "cim/CimResponseDecoder.h"

#include <cstring>

#include "cim/CimXmlReader.h"
#include "cim/Exception.h"

namespace Pegasus {
namespace cimxml {

namespace {

// Finds the response element after checking the envelope; throws the
// server's CIMException when it holds an ERROR.
pugi::xml_node responseElement(CimXmlReader& reader, pugi::xml_document& doc, std::string& body,
                               const String& messageId, const char* element, const String& operation) {
    parseDocument(doc, body);
    pugi::xml_node root = doc.document_element();
    expectElement(root, "CIM");
    static const char* const messageOnly[] = {"MESSAGE", nullptr};
    pugi::xml_node message = onlyChild(root, messageOnly);
    expectElement(message, "MESSAGE");
    std::string_view id = message.attribute("ID").value();
    if (id != messageId.view())
        throw CIMClientResponseException("HTTP response message ID \"" +
                                         clipForMessage(String(id.substr(0, 100)), 64) +
                                         "\" does not match the request's \"" + messageId + "\"");
    static const char* const simpleOnly[] = {"SIMPLERSP", nullptr};
    pugi::xml_node simple = onlyChild(message, simpleOnly);
    expectElement(simple, "SIMPLERSP");
    static const char* const responses[] = {"IMETHODRESPONSE", "METHODRESPONSE", nullptr};
    pugi::xml_node response = onlyChild(simple, responses);
    expectElement(response, element);
    std::string_view name = response.attribute("NAME").value();
    if (!equalNoCaseAscii(name, operation.view()))
        throw CIMClientResponseException("HTTP response is for \"" + clipForMessage(String(name.substr(0, 100)), 64) +
                                         "\", not for \"" + operation + "\"");
    pugi::xml_node error = response.child("ERROR");
    if (error) {
        CIMStatusCode code;
        String description;
        reader.readError(error, code, description);
        throw cimErrorFromServer(code, description);
    }
    return response;
}

pugi::xml_node returnValue(pugi::xml_node response, bool required) {
    pugi::xml_node value = response.child("IRETURNVALUE");
    if (!value && required)
        throw XmlFormatError(std::string("missing IRETURNVALUE in the answer to ") + response.attribute("NAME").value());
    return value;
}

// Runs `decode`, turning format errors into the client's exception.
template <class F>
auto guarded(F decode) -> decltype(decode()) {
    try {
        return decode();
    } catch (const XmlFormatError& e) {
        throw CIMClientXmlException(String("Malformed HTTP response: ") + e.what());
    } catch (const InvalidNameException& e) {
        throw CIMClientXmlException("Malformed HTTP response: " + e.getMessage());
    } catch (const InvalidNamespaceNameException& e) {
        throw CIMClientXmlException("Malformed HTTP response: " + e.getMessage());
    } catch (const TypeMismatchException& e) {
        throw CIMClientXmlException("Malformed HTTP response: " + e.getMessage());
    } catch (const std::bad_alloc&) {
        throw CIMClientXmlException("Malformed HTTP response: out of memory while decoding the answer");
    }
}

// Decodes every element child of IRETURNVALUE with `read`, releasing each
// subtree once read so the tree and the result are not both held whole.
template <class T, class Read>
Array<T> readEach(pugi::xml_node container, const char* element, Read read) {
    Array<T> items;
    pugi::xml_node child = container.first_child();
    while (child) {
        pugi::xml_node next = child.next_sibling();
        if (child.type() == pugi::node_element) {
            expectElement(child, element);
            items.append(read(child));
        }
        container.remove_child(child);
        child = next;
    }
    return items;
}

// Changes every occurrence of `word` (any case) with `change`.
template <class Change>
void rewriteEach(std::string& text, std::string_view word, Change change) {
    for (size_t pos = 0; pos + word.size() <= text.size(); ++pos)
        if (equalNoCaseAscii(std::string_view(text).substr(pos, word.size()), word)) change(&text[pos]);
}

}  // namespace

CIMException cimErrorFromServer(CIMStatusCode code, const String& description) {
    String message = cimStatusCodeToString(code);
    if (std::strlen(cimStatusCodeName(code)) == 0) message.append(String(" (" + std::to_string(int(code)) + ")"));
    if (description.size()) {
        std::string text = clipForMessage(description, 1024).toStdString();
        rewriteEach(text, "HTTP", [](char* p) { p[1] = 't', p[2] = 't', p[3] = 'p'; });
        rewriteEach(text, "timed out", [](char* p) { p[5] = '-'; });
        message.append(": \"").append(String(text)).append("\"");
    }
    return CIMException(code, message);
}

Array<CIMInstance> decodeEnumerateInstancesResponse(std::string& body, const String& messageId) {
    return guarded([&] {
        CimXmlReader reader;
        pugi::xml_document doc;
        pugi::xml_node response = responseElement(reader, doc, body, messageId, "IMETHODRESPONSE", "EnumerateInstances");
        return readEach<CIMInstance>(returnValue(response, true), "VALUE.NAMEDINSTANCE",
                                     [&](pugi::xml_node n) { return reader.readNamedInstance(n); });
    });
}

Array<CIMObjectPath> decodeEnumerateInstanceNamesResponse(std::string& body, const String& messageId) {
    return guarded([&] {
        CimXmlReader reader;
        pugi::xml_document doc;
        pugi::xml_node response =
            responseElement(reader, doc, body, messageId, "IMETHODRESPONSE", "EnumerateInstanceNames");
        return readEach<CIMObjectPath>(returnValue(response, true), "INSTANCENAME",
                                       [&](pugi::xml_node n) { return reader.readInstanceName(n); });
    });
}

Array<CIMObjectPath> decodeObjectPathsResponse(std::string& body, const String& messageId, const char* operation) {
    return guarded([&] {
        CimXmlReader reader;
        pugi::xml_document doc;
        pugi::xml_node response = responseElement(reader, doc, body, messageId, "IMETHODRESPONSE", operation);
        return readEach<CIMObjectPath>(returnValue(response, true), "OBJECTPATH",
                                       [&](pugi::xml_node n) { return reader.readObjectPath(n); });
    });
}

// The one `element` an IRETURNVALUE of `operation` must hold, read by `read`.
template <class Read>
auto decodeSingle(std::string& body, const String& messageId, const char* operation, const char* element, Read read) {
    return guarded([&] {
        CimXmlReader reader;
        pugi::xml_document doc;
        pugi::xml_node response = responseElement(reader, doc, body, messageId, "IMETHODRESPONSE", operation);
        const char* const allowed[] = {element, nullptr};
        pugi::xml_node node = onlyChild(returnValue(response, true), allowed);
        expectElement(node, element);
        return read(reader, node);
    });
}

CIMInstance decodeGetInstanceResponse(std::string& body, const String& messageId) {
    return decodeSingle(body, messageId, "GetInstance", "INSTANCE",
                        [](CimXmlReader& r, pugi::xml_node n) { return r.readInstance(n); });
}

CIMClass decodeGetClassResponse(std::string& body, const String& messageId) {
    return decodeSingle(body, messageId, "GetClass", "CLASS",
                        [](CimXmlReader& r, pugi::xml_node n) { return r.readClass(n); });
}

void decodeEmptyResponse(std::string& body, const String& messageId, const char* operation) {
    guarded([&] {
        CimXmlReader reader;
        pugi::xml_document doc;
        pugi::xml_node response = responseElement(reader, doc, body, messageId, "IMETHODRESPONSE", operation);
        pugi::xml_node value = returnValue(response, false);
        static const char* const nothing[] = {nullptr};
        if (value) onlyChild(value, nothing);
        return 0;
    });
}

CIMValue decodeMethodResponse(std::string& body, const String& messageId, const CIMName& methodName,
                              Array<CIMParamValue>& outParameters) {
    return guarded([&] {
        CimXmlReader reader;
        pugi::xml_document doc;
        pugi::xml_node response =
            responseElement(reader, doc, body, messageId, "METHODRESPONSE", methodName.getString());
        CIMValue result;
        bool seenReturn = false;
        for (pugi::xml_node child = response.first_child(); child; child = child.next_sibling()) {
            if (child.type() != pugi::node_element) continue;
            if (std::strcmp(child.name(), "RETURNVALUE") == 0 && !seenReturn) {
                result = reader.readReturnValue(child);
                seenReturn = true;
            } else {
                outParameters.append(reader.readParamValue(child));
            }
        }
        return result;
    });
}

}  // namespace cimxml
}  // namespace Pegasus
