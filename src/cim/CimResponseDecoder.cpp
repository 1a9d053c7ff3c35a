#include "cim/CimResponseDecoder.h"

#include <cstring>
#include <exception>
#include <vector>

#include "cim/CimAnswerParts.h"
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

// Runs `decode`; every failure to read the answer becomes the client's
// CIMClientXmlException. The server's own error and an answer to another
// request pass as they are.
template <class F>
auto guarded(F decode) -> decltype(decode()) {
    auto malformed = [](const String& why) {
        return CIMClientXmlException("Malformed HTTP response: " + clipForMessage(why, 512));
    };
    try {
        return decode();
    } catch (const CIMException&) {
        throw;
    } catch (const CIMClientResponseException&) {
        throw;
    } catch (const CIMClientXmlException&) {
        throw;
    } catch (const Exception& e) {
        throw malformed(e.getMessage());
    } catch (const std::bad_alloc&) {
        throw malformed("out of memory while decoding the answer");
    } catch (const std::exception& e) {
        throw malformed(String(e.what()));
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

namespace {

// Items of a large answer are parsed this many bytes at a time.
constexpr size_t kBatchBytes = 256 * 1024;
// Items of IRETURNVALUE sit this many levels below the document.
constexpr int kItemLevel = 5;

// An exception of the caller's `each`, carried through the decoder untouched.
struct FromCaller {
    std::exception_ptr error;
};

}  // namespace

void decodeEnumerateInstancesResponse(std::string& body, const String& messageId,
                                      const std::function<void(CIMInstance&)>& each) {
    static const char* const kItem = "VALUE.NAMEDINSTANCE";
    auto deliver = [&](CIMInstance& instance) {
        try {
            each(instance);
        } catch (...) {
            throw FromCaller{std::current_exception()};
        }
    };
    try {
        guarded([&] {
            CimXmlReader reader;
            pugi::xml_document doc;
            AnswerParts parts;
            if (!splitAnswer(body, kItem, parts)) {
                pugi::xml_node response =
                    responseElement(reader, doc, body, messageId, "IMETHODRESPONSE", "EnumerateInstances");
                pugi::xml_node value = returnValue(response, false);
                if (value)
                    readEach<int>(value, kItem, [&](pugi::xml_node n) {
                        CIMInstance instance = reader.readNamedInstance(n);
                        deliver(instance);
                        return 0;
                    });
                return 0;
            }
            pugi::xml_node response =
                responseElement(reader, doc, parts.envelope, messageId, "IMETHODRESPONSE", "EnumerateInstances");
            static const char* const nothing[] = {nullptr};
            onlyChild(returnValue(response, true), nothing);
            std::vector<CIMInstance> plain;
            for (size_t begin = parts.itemsBegin; begin < parts.itemsEnd;) {
                size_t end = nextBatchEnd(body, begin, parts.itemsEnd, kBatchBytes, kItem);
                // the common form is read from the text; anything else as a tree
                plain.clear();
                if (reader.readPlainNamedInstances(std::string_view(body).substr(begin, end - begin), plain)) {
                    for (CIMInstance& instance : plain) deliver(instance);
                    begin = end;
                    continue;
                }
                parseFragment(doc, &body[begin], end - begin, kMaxDocumentDepth - kItemLevel);
                for (pugi::xml_node child = doc.first_child(); child; child = child.next_sibling()) {
                    if (child.type() != pugi::node_element) continue;
                    expectElement(child, kItem);
                    CIMInstance instance = reader.readNamedInstance(child);
                    deliver(instance);
                }
                begin = end;
            }
            return 0;
        });
    } catch (const FromCaller& e) {
        std::rethrow_exception(e.error);
    }
}

Array<CIMInstance> decodeEnumerateInstancesResponse(std::string& body, const String& messageId) {
    Array<CIMInstance> items;
    decodeEnumerateInstancesResponse(body, messageId, [&](CIMInstance& instance) { items.append(std::move(instance)); });
    return items;
}

Array<CIMObjectPath> decodeEnumerateInstanceNamesResponse(std::string& body, const String& messageId) {
    return guarded([&] {
        CimXmlReader reader;
        pugi::xml_document doc;
        pugi::xml_node response =
            responseElement(reader, doc, body, messageId, "IMETHODRESPONSE", "EnumerateInstanceNames");
        pugi::xml_node value = returnValue(response, false);
        if (!value) return Array<CIMObjectPath>();
        return readEach<CIMObjectPath>(value, "INSTANCENAME",
                                       [&](pugi::xml_node n) { return reader.readInstanceName(n); });
    });
}

Array<CIMObjectPath> decodeObjectPathsResponse(std::string& body, const String& messageId, const char* operation) {
    return guarded([&] {
        CimXmlReader reader;
        pugi::xml_document doc;
        pugi::xml_node response = responseElement(reader, doc, body, messageId, "IMETHODRESPONSE", operation);
        pugi::xml_node value = returnValue(response, false);
        if (!value) return Array<CIMObjectPath>();
        return readEach<CIMObjectPath>(value, "OBJECTPATH",
                                       [&](pugi::xml_node n) { return reader.readObjectPath(n); });
    });
}

Array<CIMInstance> decodeObjectsWithPathResponse(std::string& body, const String& messageId, const char* operation) {
    return guarded([&] {
        CimXmlReader reader;
        pugi::xml_document doc;
        pugi::xml_node response = responseElement(reader, doc, body, messageId, "IMETHODRESPONSE", operation);
        pugi::xml_node value = returnValue(response, false);
        if (!value) return Array<CIMInstance>();
        return readEach<CIMInstance>(value, "VALUE.OBJECTWITHPATH",
                                     [&](pugi::xml_node n) { return reader.readObjectWithPath(n); });
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
