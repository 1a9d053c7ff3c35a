// Exceptions of the CIM client library. Callers key on these texts:
// "Connection failed" (connect refused or unreachable), "timed out",
// "HTTP" (HTTP-level fault, broken or unparsable answer), "401"
// (credentials refused), "malformed" (object path does not parse).
// No text ever carries a credential.
#pragma once

#include <exception>

#include "cim/CIMStatusCode.h"
#include "cim/String.h"

namespace Pegasus {

class Exception : public std::exception {
public:
    explicit Exception(const String& message) : _message(message) {}
    const String& getMessage() const { return _message; }
    const char* what() const noexcept override { return _message.c_str(); }

protected:
    String _message;
};

class IndexOutOfBoundsException : public Exception {
public:
    IndexOutOfBoundsException() : Exception("index out of bounds") {}
};

class AlreadyExistsException : public Exception {
public:
    explicit AlreadyExistsException(const String& what) : Exception("already exists: " + what) {}
};

class InvalidNameException : public Exception {
public:
    explicit InvalidNameException(const String& name);
};

class InvalidNamespaceNameException : public Exception {
public:
    explicit InvalidNamespaceNameException(const String& name);
};

class UninitializedObjectException : public Exception {
public:
    UninitializedObjectException() : Exception("uninitialized object") {}
};

class TypeMismatchException : public Exception {
public:
    TypeMismatchException() : Exception("type mismatch") {}
    explicit TypeMismatchException(const String& detail) : Exception("type mismatch: " + detail) {}
};

class InvalidDateTimeFormatException : public Exception {
public:
    InvalidDateTimeFormatException() : Exception("invalid datetime format") {}
};

// Text: malformed object name: <text>, reason:"<reason>"
class MalformedObjectNameException : public Exception {
public:
    explicit MalformedObjectNameException(const String& objectName, const String& reason = String());
};

// Text: Cannot connect to <host>:<port>. Connection failed. [<detail>]
class CannotConnectException : public Exception {
public:
    explicit CannotConnectException(const String& message) : Exception(message) {}
};

class AlreadyConnectedException : public Exception {
public:
    AlreadyConnectedException() : Exception("already connected") {}
};

class NotConnectedException : public Exception {
public:
    NotConnectedException() : Exception("not connected") {}
};

class ConnectionTimeoutException : public Exception {
public:
    ConnectionTimeoutException() : Exception("connection timed out") {}
};

class SSLException : public Exception {
public:
    explicit SSLException(const String& message) : Exception(message) {}
};

// A CIM error: status code and description. Errors that a server sends in an
// ERROR element read "CIM_ERR_<NAME>: <meaning>: \"<description>\"".
class CIMException : public Exception {
public:
    explicit CIMException(CIMStatusCode code = CIM_ERR_SUCCESS, const String& message = String())
        : Exception(message), _code(code) {}
    CIMStatusCode getCode() const { return _code; }

private:
    CIMStatusCode _code;
};

// An HTTP status other than 200. Text: HTTP Error (<code> <reason>).
// followed by the server's CIMError and detail when it sent them.
class CIMClientHTTPErrorException : public Exception {
public:
    CIMClientHTTPErrorException(Uint32 httpStatusCode, const String& reasonPhrase, const String& cimError = String(),
                                const String& cimErrorDetail = String());
    Uint32 getCode() const { return _code; }
    const String& getReasonPhrase() const { return _reason; }
    const String& getCIMError() const { return _cimError; }
    const String& getCIMErrorDetail() const { return _detail; }

private:
    Uint32 _code;
    String _reason;
    String _cimError;
    String _detail;
};

// The answer broke off, or is not a well-formed HTTP answer. Texts contain "HTTP".
class CIMClientMalformedHTTPException : public Exception {
public:
    explicit CIMClientMalformedHTTPException(const String& message) : Exception(message) {}
};

// The answer is not a valid CIM-XML document. Texts contain "HTTP".
class CIMClientXmlException : public Exception {
public:
    explicit CIMClientXmlException(const String& message) : Exception(message) {}
};

// The answer is valid CIM-XML but does not answer the request (message id,
// operation name). Texts contain "HTTP".
class CIMClientResponseException : public Exception {
public:
    explicit CIMClientResponseException(const String& message) : Exception(message) {}
};

// Shortens text that goes into exception messages to `limit` bytes.
String clipForMessage(const String& text, Uint32 limit = 256);

}  // namespace Pegasus
