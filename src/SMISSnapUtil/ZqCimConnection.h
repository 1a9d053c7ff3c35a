// A connection to one SMI-S provider: opens and closes the CIM client and runs
// the intrinsic operations with the engine's retry, time-out and
// authentication rules.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "ZqCimom.h"
#include "ZqCimomParams.h"
#include "ZqCriticalSection.h"
#include "ZqSmisTracer.h"
#include "cim/CIMClient.h"

class ZqCimConnection : public virtual ZqSmisTracer {
public:
    ZqCimConnection();
    // A copy takes the endpoint and the counters and starts disconnected,
    // without a client of its own.
    ZqCimConnection(const ZqCimConnection& other);
    ZqCimConnection& operator=(const ZqCimConnection& other);
    ~ZqCimConnection() override;

    ZqCimom& GetCimom() { return cimom; }
    const ZqCimom& GetCimom() const { return cimom; }
    void SetCimom(const ZqCimomParams& params) {
        cimom.SetCimom(params);
        knownPaths.clear();
    }

    // 0 connected, 1 not. Retries a refused connection up to the maximum
    // retries, without pause.
    int ConnectCimom();
    // 0 (also without a client), 1 when the client raised an error; the
    // client is gone either way.
    int DisconnectCimom();
    // After a failed request: 1 when the caller is to try again (time-out or
    // HTTP fault, below the maximum retries, reconnected), 0 when not.
    int ConnectionRetry(uint16_t& retryCount, const std::string& errorText);

    // Retried operations in the endpoint's namespace. Each sends at least one
    // request. Failures raise Pegasus::CIMException: a refused login as
    // CIM_ERR_ACCESS_DENIED after error 60555 went to the record, a missing
    // instance of GetInstance as CIM_ERR_NOT_FOUND.
    Pegasus::CIMInstance GetInstance(const Pegasus::CIMObjectPath& objectPath);
    Pegasus::Array<Pegasus::CIMInstance> GetInstances(const Pegasus::CIMName& className,
                                                      const Pegasus::CIMPropertyList& propertyList);
    Pegasus::Array<Pegasus::CIMObjectPath> GetInstanceNames(const Pegasus::CIMName& className);
    // A missing object or association class answers an empty list.
    Pegasus::Array<Pegasus::CIMObjectPath> GetAssociatorNames(const Pegasus::CIMObjectPath& objectPath,
                                                               const Pegasus::CIMName& assocClass,
                                                               const Pegasus::CIMName& resultClass,
                                                               const Pegasus::String& role = Pegasus::String(),
                                                               const Pegasus::String& resultRole = Pegasus::String());
    // Not retried: 0 deleted, 1 failed (no client, or any error).
    int DeleteInstance(const Pegasus::CIMNamespaceName& nameSpace, const Pegasus::CIMObjectPath& objectPath);

    // The client, for operations without retry; raises CannotConnectException
    // ("Connection failed") when there is none.
    Pegasus::CIMClient& GetClient();
    bool HasClient() const { return client != nullptr; }
    // The endpoint's namespace.
    Pegasus::CIMNamespaceName GetNameSpace() const;

    // Paths of objects that stay while the provider serves (the system, its
    // services), found once for this connection and its copies and reused by
    // their later operations. Forgotten when the endpoint changes.
    bool KnownPath(const std::string& key, Pegasus::CIMObjectPath& path) const;
    void RememberPath(const std::string& key, const Pegasus::CIMObjectPath& path);
    // Takes the paths another connection found, when it serves the same
    // endpoint (address, port, scheme, namespace and user).
    void TakeKnownPaths(const ZqCimConnection& other);
    bool SameEndpoint(const ZqCimConnection& other) const;

    ZQ_CIM_CONNECTION_STATE GetConnState() const { return connState; }
    uint16_t GetHttpFaultCount() const { return httpFaultCount; }

    // Certificate check of HTTPS connections without "IBMSVC_SMIS_CA_FILE":
    // every certificate is accepted. With it, the CAs of that file or
    // directory decide and the certificate must name the provider's address.
    static Pegasus::Boolean VerifySslCert(Pegasus::SSLCertificateInfo& certificateInfo);

    // Serializes HTTPS connection set-up in the process, unless
    // "ZQ_PEGASUS_DISABLE_CONNLOCK" is set.
    static ZqCriticalSection m_ConnLock;

private:
    using EmptyAnswerTest = std::function<bool(const Pegasus::CIMException&)>;

    template <class Result, class Request>
    Result RunRetried(const char* label, Request request, const EmptyAnswerTest& answersEmpty = {});
    // Error 60555 into the record, and the errorReported flag.
    void ReportAuthenticationFailure(const std::string& message);

    std::unique_ptr<Pegasus::CIMClient> client;
    ZqCimom cimom;
    uint16_t httpFaultCount = 0;
    uint16_t httpFaultLimit = 3;
    ZQ_CIM_CONNECTION_STATE connState = ZQ_CIM_DISCONNECTED;
    std::map<std::string, Pegasus::CIMObjectPath> knownPaths;
};
