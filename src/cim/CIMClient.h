// A CIM-XML client (DSP0200 over HTTP or HTTPS) with one kept-alive
// connection. Not copyable; one client per thread.
//
// Errors: CannotConnectException ("Connection failed"), AlreadyConnectedException,
// NotConnectedException, ConnectionTimeoutException ("timed out"),
// CIMClientHTTPErrorException (an HTTP status other than 200: "HTTP Error
// (401 Unauthorized)." ...; getCode() is the status),
// CIMClientMalformedHTTPException / CIMClientXmlException /
// CIMClientResponseException (dropped connection, broken answer: "HTTP"),
// CIMException (the server's CIM error, "CIM_ERR_<NAME>: ...").
#pragma once

#include <functional>
#include <memory>

#include "cim/CIMClass.h"
#include "cim/CIMInstance.h"
#include "cim/CIMParamValue.h"
#include "cim/CIMPropertyList.h"
#include "cim/CimTransport.h"
#include "cim/Exception.h"
#include "cim/SSLContext.h"

namespace Pegasus {

class CIMClient {
public:
    CIMClient();
    // With another transport (tests).
    explicit CIMClient(std::unique_ptr<CimTransport> transport);
    ~CIMClient();
    CIMClient(const CIMClient&) = delete;
    CIMClient& operator=(const CIMClient&) = delete;

    // Milliseconds a request may take (default 20000); scaled by
    // ZQ_TIME_SCALE, never below one second.
    Uint32 getTimeout() const { return _timeout; }
    void setTimeout(Uint32 timeoutMilliseconds) { _timeout = timeoutMilliseconds; }

    // Opens the connection; empty user name and password send no credentials.
    void connect(const String& host, Uint32 portNumber, const String& userName, const String& password);
    void connect(const String& host, Uint32 portNumber, const SSLContext& sslContext, const String& userName,
                 const String& password);
    void disconnect();

    // The returned instance carries `instanceName` as its path.
    CIMInstance getInstance(const CIMNamespaceName& nameSpace, const CIMObjectPath& instanceName,
                            Boolean localOnly = true, Boolean includeQualifiers = false,
                            Boolean includeClassOrigin = false,
                            const CIMPropertyList& propertyList = CIMPropertyList());
    Array<CIMInstance> enumerateInstances(const CIMNamespaceName& nameSpace, const CIMName& className,
                                          Boolean deepInheritance = true, Boolean localOnly = true,
                                          Boolean includeQualifiers = false, Boolean includeClassOrigin = false,
                                          const CIMPropertyList& propertyList = CIMPropertyList());
    // The same, handing each instance to `each` as soon as it is read instead
    // of returning them all (a large answer is never held decoded whole).
    // An exception of `each` ends the call and reaches the caller as it is.
    void enumerateInstances(const CIMNamespaceName& nameSpace, const CIMName& className, Boolean deepInheritance,
                            Boolean localOnly, Boolean includeQualifiers, Boolean includeClassOrigin,
                            const CIMPropertyList& propertyList, const std::function<void(CIMInstance&)>& each);
    Array<CIMObjectPath> enumerateInstanceNames(const CIMNamespaceName& nameSpace, const CIMName& className);
    Array<CIMObjectPath> associatorNames(const CIMNamespaceName& nameSpace, const CIMObjectPath& objectName,
                                         const CIMName& assocClass = CIMName(), const CIMName& resultClass = CIMName(),
                                         const String& role = String(), const String& resultRole = String());
    Array<CIMObjectPath> referenceNames(const CIMNamespaceName& nameSpace, const CIMObjectPath& objectName,
                                        const CIMName& resultClass = CIMName(), const String& role = String());
    // Associators and References of an instance: instances with their paths
    // (class results are refused as a malformed answer).
    Array<CIMInstance> associators(const CIMNamespaceName& nameSpace, const CIMObjectPath& objectName,
                                   const CIMName& assocClass = CIMName(), const CIMName& resultClass = CIMName(),
                                   const String& role = String(), const String& resultRole = String(),
                                   Boolean includeQualifiers = false, Boolean includeClassOrigin = false,
                                   const CIMPropertyList& propertyList = CIMPropertyList());
    Array<CIMInstance> references(const CIMNamespaceName& nameSpace, const CIMObjectPath& objectName,
                                  const CIMName& resultClass = CIMName(), const String& role = String(),
                                  Boolean includeQualifiers = false, Boolean includeClassOrigin = false,
                                  const CIMPropertyList& propertyList = CIMPropertyList());
    void modifyInstance(const CIMNamespaceName& nameSpace, const CIMInstance& modifiedInstance,
                        Boolean includeQualifiers = true, const CIMPropertyList& propertyList = CIMPropertyList());
    void deleteInstance(const CIMNamespaceName& nameSpace, const CIMObjectPath& instanceName);
    CIMClass getClass(const CIMNamespaceName& nameSpace, const CIMName& className, Boolean localOnly = true,
                      Boolean includeQualifiers = true, Boolean includeClassOrigin = false,
                      const CIMPropertyList& propertyList = CIMPropertyList());
    // Out-parameters are appended to `outParameters`.
    CIMValue invokeMethod(const CIMNamespaceName& nameSpace, const CIMObjectPath& instanceName,
                          const CIMName& methodName, const Array<CIMParamValue>& inParameters,
                          Array<CIMParamValue>& outParameters);

private:
    void open(const String& host, Uint32 port, const SSLContext* ssl, const String& userName, const String& password);
    // Sends one request and returns the body of a 200 answer.
    std::string call(const String& cimMethod, const String& cimObject, const std::string& body);
    String nextMessageId();

    std::unique_ptr<CimTransport> _transport;
    Uint32 _timeout = 20000;
    Boolean _connected = false;
};

}  // namespace Pegasus
