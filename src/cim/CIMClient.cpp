#include "cim/CIMClient.h"

#include <atomic>

#include "ZqClock.h"
#include "cim/CimHttp.h"
#include "cim/CimRequestEncoder.h"
#include "cim/CimResponseDecoder.h"

namespace Pegasus {

namespace {
std::atomic<Uint64> g_messageId{1000};

// A CIMStatusCode header or trailer: a decimal number, blanks around it allowed.
bool statusCodeOf(std::string_view text, Uint32& code) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    if (text.empty() || text.size() > 9) return false;
    code = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        code = code * 10 + Uint32(c - '0');
    }
    return true;
}
}  // namespace

CIMClient::CIMClient() : _transport(makeCurlTransport()) {}
CIMClient::CIMClient(std::unique_ptr<CimTransport> transport) : _transport(std::move(transport)) {}
CIMClient::~CIMClient() = default;

void CIMClient::open(const String& host, Uint32 port, const SSLContext* ssl, const String& userName,
                     const String& password) {
    if (_connected) throw AlreadyConnectedException();
    _transport->setTimeout(zq::platform::scaledNetworkTimeout(std::chrono::milliseconds(_timeout)));
    _transport->connect(host, port, ssl, userName, password);
    _connected = true;
}

void CIMClient::connect(const String& host, Uint32 portNumber, const String& userName, const String& password) {
    open(host, portNumber, nullptr, userName, password);
}

void CIMClient::connect(const String& host, Uint32 portNumber, const SSLContext& sslContext, const String& userName,
                        const String& password) {
    open(host, portNumber, &sslContext, userName, password);
}

void CIMClient::disconnect() {
    _transport->disconnect();
    _connected = false;
}

String CIMClient::nextMessageId() { return String(std::to_string(g_messageId.fetch_add(1))); }

std::string CIMClient::call(const String& cimMethod, const String& cimObject, const std::string& body) {
    if (!_connected) throw NotConnectedException();
    std::vector<HttpHeader> headers = {
        {"Content-Type", "application/xml; charset=\"utf-8\""},
        {"CIMProtocolVersion", "1.0"},
        {"CIMOperation", "MethodCall"},
        {"CIMMethod", cimxml::percentEncode(cimMethod.view()).toStdString()},
        {"CIMObject", cimxml::percentEncode(cimObject.view()).toStdString()},
    };
    _transport->setTimeout(zq::platform::scaledNetworkTimeout(std::chrono::milliseconds(_timeout)));
    HttpResponse response = _transport->post(headers, body);
    if (response.status != 200) {
        const std::string* cimError = response.header("CIMError");
        const std::string* detail = response.header("PGErrorDetail");
        throw CIMClientHTTPErrorException(response.status, String(response.reason),
                                          cimError ? String(*cimError) : String(),
                                          detail ? cimxml::percentDecode(*detail) : String());
    }
    const std::string* operation = response.header("CIMOperation");
    if (!operation) throw CIMClientMalformedHTTPException("Missing CIMOperation HTTP header");
    if (!equalNoCaseAscii(*operation, "MethodResponse"))
        throw CIMClientMalformedHTTPException("Invalid CIMOperation HTTP header value: " +
                                              clipForMessage(String(*operation), 64));
    const std::string* status = response.header("CIMStatusCode");
    Uint32 code = 0;
    if (status && !statusCodeOf(*status, code))
        throw CIMClientMalformedHTTPException("Invalid CIMStatusCode HTTP header value: \"" +
                                              clipForMessage(String(*status), 64) + "\"");
    if (code != 0) {
        const std::string* description = response.header("CIMStatusCodeDescription");
        throw cimxml::cimErrorFromServer(CIMStatusCode(code),
                                         description ? cimxml::percentDecode(*description) : String());
    }
    return std::move(response.body);
}

CIMInstance CIMClient::getInstance(const CIMNamespaceName& nameSpace, const CIMObjectPath& instanceName,
                                   Boolean localOnly, Boolean includeQualifiers, Boolean includeClassOrigin,
                                   const CIMPropertyList& propertyList) {
    String id = nextMessageId();
    cimxml::EncodedRequest request = cimxml::encodeGetInstance(id, nameSpace, instanceName, localOnly,
                                                               includeQualifiers, includeClassOrigin, propertyList);
    std::string body = call(request.cimMethod, request.cimObject, request.body);
    CIMInstance instance = cimxml::decodeGetInstanceResponse(body, id);
    instance.setPath(instanceName);
    return instance;
}

Array<CIMInstance> CIMClient::enumerateInstances(const CIMNamespaceName& nameSpace, const CIMName& className,
                                                 Boolean deepInheritance, Boolean localOnly,
                                                 Boolean includeQualifiers, Boolean includeClassOrigin,
                                                 const CIMPropertyList& propertyList) {
    String id = nextMessageId();
    cimxml::EncodedRequest request = cimxml::encodeEnumerateInstances(
        id, nameSpace, className, deepInheritance, localOnly, includeQualifiers, includeClassOrigin, propertyList);
    std::string body = call(request.cimMethod, request.cimObject, request.body);
    return cimxml::decodeEnumerateInstancesResponse(body, id);
}

void CIMClient::enumerateInstances(const CIMNamespaceName& nameSpace, const CIMName& className,
                                   Boolean deepInheritance, Boolean localOnly, Boolean includeQualifiers,
                                   Boolean includeClassOrigin, const CIMPropertyList& propertyList,
                                   const std::function<void(CIMInstance&)>& each) {
    String id = nextMessageId();
    cimxml::EncodedRequest request = cimxml::encodeEnumerateInstances(
        id, nameSpace, className, deepInheritance, localOnly, includeQualifiers, includeClassOrigin, propertyList);
    std::string body = call(request.cimMethod, request.cimObject, request.body);
    cimxml::decodeEnumerateInstancesResponse(body, id, each);
}

Array<CIMObjectPath> CIMClient::enumerateInstanceNames(const CIMNamespaceName& nameSpace, const CIMName& className) {
    String id = nextMessageId();
    cimxml::EncodedRequest request = cimxml::encodeEnumerateInstanceNames(id, nameSpace, className);
    std::string body = call(request.cimMethod, request.cimObject, request.body);
    return cimxml::decodeEnumerateInstanceNamesResponse(body, id);
}

Array<CIMObjectPath> CIMClient::associatorNames(const CIMNamespaceName& nameSpace, const CIMObjectPath& objectName,
                                                const CIMName& assocClass, const CIMName& resultClass,
                                                const String& role, const String& resultRole) {
    String id = nextMessageId();
    cimxml::EncodedRequest request =
        cimxml::encodeAssociatorNames(id, nameSpace, objectName, assocClass, resultClass, role, resultRole);
    std::string body = call(request.cimMethod, request.cimObject, request.body);
    return cimxml::decodeObjectPathsResponse(body, id, "AssociatorNames");
}

Array<CIMObjectPath> CIMClient::referenceNames(const CIMNamespaceName& nameSpace, const CIMObjectPath& objectName,
                                               const CIMName& resultClass, const String& role) {
    String id = nextMessageId();
    cimxml::EncodedRequest request = cimxml::encodeReferenceNames(id, nameSpace, objectName, resultClass, role);
    std::string body = call(request.cimMethod, request.cimObject, request.body);
    return cimxml::decodeObjectPathsResponse(body, id, "ReferenceNames");
}

Array<CIMInstance> CIMClient::associators(const CIMNamespaceName& nameSpace, const CIMObjectPath& objectName,
                                          const CIMName& assocClass, const CIMName& resultClass, const String& role,
                                          const String& resultRole, Boolean includeQualifiers,
                                          Boolean includeClassOrigin, const CIMPropertyList& propertyList) {
    String id = nextMessageId();
    cimxml::EncodedRequest request =
        cimxml::encodeAssociators(id, nameSpace, objectName, assocClass, resultClass, role, resultRole,
                                  includeQualifiers, includeClassOrigin, propertyList);
    std::string body = call(request.cimMethod, request.cimObject, request.body);
    return cimxml::decodeObjectsWithPathResponse(body, id, "Associators");
}

Array<CIMInstance> CIMClient::references(const CIMNamespaceName& nameSpace, const CIMObjectPath& objectName,
                                         const CIMName& resultClass, const String& role, Boolean includeQualifiers,
                                         Boolean includeClassOrigin, const CIMPropertyList& propertyList) {
    String id = nextMessageId();
    cimxml::EncodedRequest request = cimxml::encodeReferences(id, nameSpace, objectName, resultClass, role,
                                                              includeQualifiers, includeClassOrigin, propertyList);
    std::string body = call(request.cimMethod, request.cimObject, request.body);
    return cimxml::decodeObjectsWithPathResponse(body, id, "References");
}

void CIMClient::modifyInstance(const CIMNamespaceName& nameSpace, const CIMInstance& modifiedInstance,
                               Boolean includeQualifiers, const CIMPropertyList& propertyList) {
    String id = nextMessageId();
    cimxml::EncodedRequest request =
        cimxml::encodeModifyInstance(id, nameSpace, modifiedInstance, includeQualifiers, propertyList);
    std::string body = call(request.cimMethod, request.cimObject, request.body);
    cimxml::decodeEmptyResponse(body, id, "ModifyInstance");
}

void CIMClient::deleteInstance(const CIMNamespaceName& nameSpace, const CIMObjectPath& instanceName) {
    String id = nextMessageId();
    cimxml::EncodedRequest request = cimxml::encodeDeleteInstance(id, nameSpace, instanceName);
    std::string body = call(request.cimMethod, request.cimObject, request.body);
    cimxml::decodeEmptyResponse(body, id, "DeleteInstance");
}

CIMClass CIMClient::getClass(const CIMNamespaceName& nameSpace, const CIMName& className, Boolean localOnly,
                             Boolean includeQualifiers, Boolean includeClassOrigin,
                             const CIMPropertyList& propertyList) {
    String id = nextMessageId();
    cimxml::EncodedRequest request = cimxml::encodeGetClass(id, nameSpace, className, localOnly, includeQualifiers,
                                                            includeClassOrigin, propertyList);
    std::string body = call(request.cimMethod, request.cimObject, request.body);
    return cimxml::decodeGetClassResponse(body, id);
}

CIMValue CIMClient::invokeMethod(const CIMNamespaceName& nameSpace, const CIMObjectPath& instanceName,
                                 const CIMName& methodName, const Array<CIMParamValue>& inParameters,
                                 Array<CIMParamValue>& outParameters) {
    String id = nextMessageId();
    cimxml::EncodedRequest request = cimxml::encodeMethodCall(id, nameSpace, instanceName, methodName, inParameters);
    std::string body = call(request.cimMethod, request.cimObject, request.body);
    return cimxml::decodeMethodResponse(body, id, methodName, outParameters);
}

}  // namespace Pegasus
