// Bytes in, bytes out: the HTTP(S) carrier of CIM-XML requests on one
// kept-alive connection. CIMClient uses the libcurl transport; tests can
// give it another (canned answers).
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "cim/SSLContext.h"
#include "cim/String.h"

namespace Pegasus {

struct HttpHeader {
    std::string name;
    std::string value;
};

struct HttpResponse {
    Uint32 status = 0;
    std::string reason;
    std::vector<HttpHeader> headers;  // headers, then trailers of a chunked answer
    std::string body;
    // The value of the last header of that name (ignoring case), or null.
    const std::string* header(std::string_view name) const;
};

class CimTransport {
public:
    virtual ~CimTransport() = default;
    // Opens the connection (no request yet). CannotConnectException with
    // "Connection failed" in its text when the server cannot be reached.
    // `ssl` null means plain HTTP. The credentials go into every request.
    virtual void connect(const String& host, Uint32 port, const SSLContext* ssl, const String& userName,
                         const String& password) = 0;
    virtual void disconnect() = 0;
    // The longest a request may take, from sending to the last byte.
    virtual void setTimeout(std::chrono::milliseconds timeout) = 0;
    // POSTs `body` to /cimom. Faults: ConnectionTimeoutException ("timed out"),
    // CIMClientMalformedHTTPException (connection dropped or answer broken,
    // "HTTP"), CannotConnectException (reconnect failed). Any HTTP status
    // comes back as an answer.
    virtual HttpResponse post(const std::vector<HttpHeader>& headers, const std::string& body) = 0;
};

// The libcurl transport. Answers larger than `maxResponseBytes` are refused.
std::unique_ptr<CimTransport> makeCurlTransport(size_t maxResponseBytes = size_t(1) << 30);

}  // namespace Pegasus
