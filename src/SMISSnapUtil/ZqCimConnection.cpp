#include "ZqCimConnection.h"

#include <cstdio>

#include "EvDebug.h"
#include "ZqSmisExceptionTrace.h"
#include "ZqSmisReturnValue.h"
#include "ZqSmisSettings.h"

using ZqSmisSettings::GetHostModuleInt;

ZqCriticalSection ZqCimConnection::m_ConnLock;

namespace {

bool Contains(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

// Holds m_ConnLock from Enter until Leave or the end of the scope.
class ConnLockHold {
public:
    ConnLockHold(const ZqSmisTracer& tracer, const char* label) : tracer_(tracer), label_(label) {}
    ~ConnLockHold() { Leave(); }
    ConnLockHold(const ConnLockHold&) = delete;
    ConnLockHold& operator=(const ConnLockHold&) = delete;

    void Enter() {
        tracer_.DEBUG_TRACE_NORMAL(label_, "Acquiring connection lock");
        ZqCimConnection::m_ConnLock.enter(true);
        held_ = true;
        tracer_.DEBUG_TRACE_NORMAL(label_, "Connection lock acquired");
    }
    void Leave() {
        if (!held_) return;
        ZqCimConnection::m_ConnLock.leave();
        held_ = false;
        tracer_.DEBUG_TRACE_NORMAL(label_, "Connection lock released");
    }

private:
    const ZqSmisTracer& tracer_;
    const char* label_;
    bool held_ = false;
};

int PortNumber(const std::string& text) {
    int port = 0;
    if (std::sscanf(text.c_str(), "%d", &port) != 1) return 0;
    return port;
}

}  // namespace

ZqCimConnection::ZqCimConnection() = default;

ZqCimConnection::ZqCimConnection(const ZqCimConnection& other)
    : ZqSmisTracer(other),
      cimom(other.cimom),
      httpFaultCount(other.httpFaultCount),
      httpFaultLimit(other.httpFaultLimit),
      connState(other.connState),
      knownPaths(other.knownPaths) {
    cimom.SetConnState(ZQ_CIM_DISCONNECTED);
}

ZqCimConnection& ZqCimConnection::operator=(const ZqCimConnection& other) {
    if (this == &other) return *this;
    ZqSmisTracer::operator=(other);
    client.reset();
    cimom = other.cimom;
    cimom.SetConnState(ZQ_CIM_DISCONNECTED);
    httpFaultCount = other.httpFaultCount;
    httpFaultLimit = other.httpFaultLimit;
    connState = other.connState;
    knownPaths = other.knownPaths;
    return *this;
}

bool ZqCimConnection::KnownPath(const std::string& key, Pegasus::CIMObjectPath& path) const {
    auto it = knownPaths.find(key);
    if (it == knownPaths.end()) return false;
    path = it->second;
    return true;
}

void ZqCimConnection::RememberPath(const std::string& key, const Pegasus::CIMObjectPath& path) {
    knownPaths[key] = path;
}

bool ZqCimConnection::SameEndpoint(const ZqCimConnection& other) const {
    const ZqCimom& a = cimom;
    const ZqCimom& b = other.cimom;
    return a.GetAddress() == b.GetAddress() && a.GetPort() == b.GetPort() && a.GetUseSSL() == b.GetUseSSL() &&
           a.GetNameSpace() == b.GetNameSpace() && a.GetUserName() == b.GetUserName();
}

void ZqCimConnection::TakeKnownPaths(const ZqCimConnection& other) {
    if (this == &other || !SameEndpoint(other)) return;
    for (const auto& known : other.knownPaths) knownPaths.insert(known);
}

ZqCimConnection::~ZqCimConnection() = default;

Pegasus::CIMClient& ZqCimConnection::GetClient() {
    if (!client)
        throw Pegasus::CannotConnectException("Not connected to " + cimom.GetAddress() + ":" + cimom.GetPort() +
                                              ". Connection failed.");
    return *client;
}

Pegasus::CIMNamespaceName ZqCimConnection::GetNameSpace() const {
    return Pegasus::CIMNamespaceName(cimom.GetNameSpace());
}

Pegasus::Boolean ZqCimConnection::VerifySslCert(Pegasus::SSLCertificateInfo&) {
    EvDebug().DebugText("ZqCimConnection::VerifySslCert", 1, "SSL certificate verified, plain encryption");
    return true;
}

int ZqCimConnection::ConnectCimom() {
    static const char* const kLabel = "ZqCimConnection::ConnectCimom";
    unsigned failedAttempts = 0;
    for (;;) {
        const std::string address = cimom.GetAddress();
        const std::string userName = cimom.GetUserName();
        const std::string password = cimom.GetPassword();
        if (address.empty() || userName.empty() || password.empty() || cimom.GetNameSpace().empty()) {
            DEBUG_TRACE(kLabel, "Insufficient parameters for CIMOM connection \n");
            return 1;
        }
        const int port = PortNumber(cimom.GetPort());
        bool retryable = false;
        ConnLockHold lock(*this, kLabel);
        try {
            if (!client) client = std::make_unique<Pegasus::CIMClient>();
            if (cimom.GetUseSSL()) {
                if (GetHostModuleInt("ZQ_PEGASUS_DISABLE_CONNLOCK", 0) == 0) lock.Enter();
                DEBUG_TRACE(kLabel, " Trying connection over https port [%d]", port);
                const std::string caFile = ZqSmisSettings::ProviderCaFile();
                if (caFile.empty()) {
                    Pegasus::SSLContext context(Pegasus::String(), &ZqCimConnection::VerifySslCert, Pegasus::String());
                    client->connect(address, Pegasus::Uint32(port), context, userName, password);
                } else {
                    // the chain must lead to one of these CAs and the certificate must name the address
                    DEBUG_TRACE_NORMAL(kLabel, "Verifying the provider certificate against [%s]", caFile.c_str());
                    Pegasus::SSLContext context{Pegasus::String(caFile)};
                    client->connect(address, Pegasus::Uint32(port), context, userName, password);
                }
                lock.Leave();
            } else {
                DEBUG_TRACE(kLabel, " Trying connection over http port [%d]", port);
                client->connect(address, Pegasus::Uint32(port), userName, password);
            }
            client->setTimeout(Pegasus::Uint32(cimom.GetTimeoutSecs()) * 1000);
            DEBUG_TRACE(kLabel, "%s %s:%d, timeout = %d\n", connState == ZQ_CIM_RETRYING ? "Reconnected" : "Connected",
                        address.c_str(), port, int(cimom.GetTimeoutSecs()));
            cimom.SetConnState(ZQ_CIM_CONNECTED);
            return 0;
        } catch (const Pegasus::CannotConnectException& e) {
            DEBUG_TRACE(kLabel, "%s:%d: %s: Caught CIMClientConnectionException: %s", ZQ_SOURCE_FILE, __LINE__, kLabel,
                        e.getMessage().c_str());
            DEBUG_TRACE(kLabel, "%s:%d: Cannot connect to CIMOM %s:%s", ZQ_SOURCE_FILE, __LINE__, address.c_str(),
                        cimom.GetPort().c_str());
            if (Contains(e.getMessage().toStdString(), "Connection failed")) {
                ++failedAttempts;
                retryable = true;
            }
        } catch (const Pegasus::AlreadyConnectedException&) {
            DEBUG_TRACE(kLabel, "%s:%d  %s:%d : AlreadyConnectedException: Continuing ...", ZQ_SOURCE_FILE, __LINE__,
                        address.c_str(), port);
            cimom.SetConnState(ZQ_CIM_CONNECTED);
            return 0;
        } catch (const Pegasus::CIMClientHTTPErrorException& e) {
            DEBUG_TRACE(kLabel, "%s:%d Caught Exception: %s\n", ZQ_SOURCE_FILE, __LINE__, e.getMessage().c_str());
            if (e.getCode() == 401) ReportAuthenticationFailure(e.getMessage().toStdString());
        } catch (const Pegasus::CIMException& e) {
            DEBUG_TRACE(kLabel, "%s:%d  Caught CIMException: %s: %s\n", ZQ_SOURCE_FILE, __LINE__,
                        Pegasus::cimStatusCodeToString(e.getCode()).c_str(), e.getMessage().c_str());
        } catch (const Pegasus::Exception& e) {
            DEBUG_TRACE(kLabel, "%s:%d Caught Exception: %s\n", ZQ_SOURCE_FILE, __LINE__, e.getMessage().c_str());
        } catch (...) {
            DEBUG_TRACE(kLabel, "Caught unknown Exception\n");
        }
        lock.Leave();
        client.reset();
        if (!retryable || failedAttempts > cimom.GetMaxRetries()) return 1;
    }
}

int ZqCimConnection::DisconnectCimom() {
    static const char* const kLabel = "ZqCimConnection::DisconnectCimom";
    int result = 0;
    if (client) {
        try {
            DEBUG_TRACE_NORMAL(kLabel, "going to disconnect connection");
            client->disconnect();
            DEBUG_TRACE(kLabel, "Disconnected from %s:%s\n", cimom.GetAddress().c_str(), cimom.GetPort().c_str());
        } catch (...) {
            DEBUG_TRACE(kLabel, "Caught unknown Exception\n");
            result = 1;
        }
        client.reset();
    }
    cimom.SetConnState(ZQ_CIM_DISCONNECTED);
    return result;
}

int ZqCimConnection::ConnectionRetry(uint16_t& retryCount, const std::string& errorText) {
    static const char* const kLabel = "ZqCimConnection::ConnectionRetry";
    const bool faultRetry = GetHostModuleInt("ZQ_PEGASUS_FAULT_RETRY", 0) != 0;
    bool httpFault = false;
    if (Contains(errorText, "HTTP"))
        httpFault = true;
    else if (!Contains(errorText, "timed out"))
        return 0;

    connState = ZQ_CIM_RETRYING;
    cimom.SetConnState(ZQ_CIM_RETRYING);
    ++retryCount;
    uint16_t timeout = cimom.GetTimeoutSecs();
    if (retryCount >= cimom.GetMaxRetries()) {
        DEBUG_TRACE(kLabel, "Max Retries Exceeded (%d secs)", int(timeout));
        return 0;
    }

    constexpr uint16_t kGrowthLimit = 180;
    bool timedOut = !httpFault;
    if (httpFault) {
        if (timeout < kGrowthLimit) {
            timeout = uint16_t(timeout + 5);
            cimom.SetTimeoutSecs(timeout);
            DEBUG_TRACE(kLabel, "Http Retry %d: timeout = %d", int(retryCount), int(timeout));
        } else {
            DEBUG_TRACE(kLabel, "Http Retry, timeout = %d: treat as timeout", int(timeout));
            timedOut = true;
        }
    }
    if (timedOut && timeout < kGrowthLimit) {
        timeout = uint16_t(timeout * 2);
        cimom.SetTimeoutSecs(timeout);
        DEBUG_TRACE(kLabel, "Timeout Retry %d: timeout = %d", int(retryCount), int(timeout));
    }

    if (faultRetry && httpFaultCount != httpFaultLimit) {
        ++httpFaultCount;
        // No reconnect this time: the grown time-out goes to the client in place.
        if (client) client->setTimeout(Pegasus::Uint32(timeout) * 1000);
    } else {
        DisconnectCimom();
        if (ConnectCimom() != 0) return 0;
        if (faultRetry) httpFaultCount = 0;
    }
    return 1;
}

void ZqCimConnection::ReportAuthenticationFailure(const std::string& message) {
    std::string text = std::string(ZQ_CIMOM_AUTHENTICATION_TEXT) + ": " + message;
    DEBUG_SET_ERROR(ZQ_HOST_ERR_CIMOM_AUTHENTICATION, text.c_str());
    SetErrorReported(true);
}

template <class Result, class Request>
Result ZqCimConnection::RunRetried(const char* label, Request request, const EmptyAnswerTest& answersEmpty) {
    const bool faultRetry = GetHostModuleInt("ZQ_PEGASUS_FAULT_RETRY", 0) != 0;
    uint16_t retryCount = 0;
    // Bounded: ConnectionRetry counts every retry against the maximum.
    for (;;) {
        std::string message;
        Pegasus::CIMStatusCode code = Pegasus::CIM_ERR_FAILED;
        bool refused = false;
        try {
            return request(GetClient());
        } catch (const Pegasus::CIMException& e) {
            if (answersEmpty && answersEmpty(e)) return Result();
            message = e.getMessage().toStdString();
            code = e.getCode();
        } catch (const Pegasus::CIMClientHTTPErrorException& e) {
            message = e.getMessage().toStdString();
            refused = e.getCode() == 401;
        } catch (const Pegasus::Exception& e) {
            message = e.getMessage().toStdString();
        } catch (...) {
            DEBUG_TRACE(label, "%s:%d Caught unknown Exception\n", ZQ_SOURCE_FILE, __LINE__);
            throw;
        }
        if (refused) {
            if (!faultRetry) {
                ReportAuthenticationFailure(message);
                throw Pegasus::CIMException(Pegasus::CIM_ERR_ACCESS_DENIED, message);
            }
            DEBUG_TRACE(label, "Unauthorized Exception [%s], continue with retry  as PEGASUS retry regkey present",
                        message.c_str());
        }
        if (ConnectionRetry(retryCount, message) == 1) continue;
        if (refused) {
            ReportAuthenticationFailure(message);
            throw Pegasus::CIMException(Pegasus::CIM_ERR_ACCESS_DENIED, message);
        }
        DEBUG_TRACE(label, "Client Timed out Exception %s", message.c_str());
        throw Pegasus::CIMException(code, message);
    }
}

Pegasus::CIMInstance ZqCimConnection::GetInstance(const Pegasus::CIMObjectPath& objectPath) {
    return RunRetried<Pegasus::CIMInstance>("ZqCimConnection::GetInstance", [&](Pegasus::CIMClient& c) {
        return c.getInstance(GetNameSpace(), objectPath, false, false, false, Pegasus::CIMPropertyList());
    });
}

Pegasus::Array<Pegasus::CIMInstance> ZqCimConnection::GetInstances(const Pegasus::CIMName& className,
                                                                   const Pegasus::CIMPropertyList& propertyList) {
    return RunRetried<Pegasus::Array<Pegasus::CIMInstance>>(
        "ZqCimConnection::GetInstances", [&](Pegasus::CIMClient& c) {
            return c.enumerateInstances(GetNameSpace(), className, true, false, false, false, propertyList);
        });
}

Pegasus::Array<Pegasus::CIMObjectPath> ZqCimConnection::GetInstanceNames(const Pegasus::CIMName& className) {
    return RunRetried<Pegasus::Array<Pegasus::CIMObjectPath>>(
        "ZqCimConnection::GetInstanceNames",
        [&](Pegasus::CIMClient& c) { return c.enumerateInstanceNames(GetNameSpace(), className); });
}

Pegasus::Array<Pegasus::CIMObjectPath> ZqCimConnection::GetAssociatorNames(const Pegasus::CIMObjectPath& objectPath,
                                                                           const Pegasus::CIMName& assocClass,
                                                                           const Pegasus::CIMName& resultClass,
                                                                           const Pegasus::String& role,
                                                                           const Pegasus::String& resultRole) {
    static const char* const kLabel = "ZqCimConnection::GetAssociatorNames";
    auto missing = [&](const Pegasus::CIMException& e) {
        if (e.getCode() != Pegasus::CIM_ERR_NOT_FOUND && e.getCode() != Pegasus::CIM_ERR_INVALID_CLASS) return false;
        DEBUG_TRACE(kLabel, "Objects or Assns do not exist: %s, %s", assocClass.getString().c_str(),
                    resultClass.getString().c_str());
        return true;
    };
    return RunRetried<Pegasus::Array<Pegasus::CIMObjectPath>>(
        kLabel,
        [&](Pegasus::CIMClient& c) {
            return c.associatorNames(GetNameSpace(), objectPath, assocClass, resultClass, role, resultRole);
        },
        missing);
}

int ZqCimConnection::DeleteInstance(const Pegasus::CIMNamespaceName& nameSpace,
                                    const Pegasus::CIMObjectPath& objectPath) {
    static const char* const kLabel = "ZqCimConnection::DeleteInstance";
    try {
        GetClient().deleteInstance(nameSpace, objectPath);
        return 0;
    } catch (const Pegasus::CIMException& e) {
        DEBUG_TRACE(kLabel, "%s: %d: Caught CIMException: %s: %s", ZQ_SOURCE_FILE, __LINE__,
                    Pegasus::cimStatusCodeToString(e.getCode()).c_str(), e.getMessage().c_str());
    } catch (const Pegasus::CIMClientHTTPErrorException& e) {
        DEBUG_TRACE(kLabel, "%s: %d: Caught Exception: %s", ZQ_SOURCE_FILE, __LINE__, e.getMessage().c_str());
        if (e.getCode() == 401) ReportAuthenticationFailure(e.getMessage().toStdString());
    } catch (const Pegasus::Exception& e) {
        DEBUG_TRACE(kLabel, "%s: %d: Caught Exception: %s", ZQ_SOURCE_FILE, __LINE__, e.getMessage().c_str());
    } catch (...) {
        DEBUG_TRACE(kLabel, "%s: %d: Caught unknown Exception", ZQ_SOURCE_FILE, __LINE__);
    }
    return 1;
}
