// TLS settings of an HTTPS connection to a CIM server.
#pragma once

#include "cim/CIMDateTime.h"
#include "cim/String.h"

namespace Pegasus {

// What the verify callback learns about one certificate of the server's chain.
class SSLCertificateInfo {
public:
    SSLCertificateInfo(const String& subjectName, const String& issuerName, Uint32 version, long serialNumber,
                       const CIMDateTime& notBefore, const CIMDateTime& notAfter, Uint32 errorDepth,
                       Uint32 errorCode, const String& errorString, Uint32 respCode)
        : _subject(subjectName),
          _issuer(issuerName),
          _version(version),
          _serial(serialNumber),
          _notBefore(notBefore),
          _notAfter(notAfter),
          _depth(errorDepth),
          _errorCode(errorCode),
          _errorString(errorString),
          _respCode(respCode) {}

    String getSubjectName() const { return _subject; }
    String getIssuerName() const { return _issuer; }
    Uint32 getVersionNumber() const { return _version; }
    long getSerialNumber() const { return _serial; }
    CIMDateTime getNotBefore() const { return _notBefore; }
    CIMDateTime getNotAfter() const { return _notAfter; }
    // Position in the chain (0: the server's own certificate).
    Uint32 getErrorDepth() const { return _depth; }
    // OpenSSL's verification result for it (0: verified against the trust store).
    Uint32 getErrorCode() const { return _errorCode; }
    String getErrorString() const { return _errorString; }
    // 1 when OpenSSL's own verification passed, else 0.
    Uint32 getResponseCode() const { return _respCode; }
    void setResponseCode(int respCode) { _respCode = Uint32(respCode); }

private:
    String _subject;
    String _issuer;
    Uint32 _version;
    long _serial;
    CIMDateTime _notBefore;
    CIMDateTime _notAfter;
    Uint32 _depth;
    Uint32 _errorCode;
    String _errorString;
    Uint32 _respCode;
};

// Returns true to accept the certificate.
typedef Boolean(SSLCertificateVerifyFunction)(SSLCertificateInfo& certInfo);

// With a verify callback, the callback decides for every certificate of the
// chain. Without one, a trust store (CA file or directory) decides, and the
// server's name must match its certificate; with neither, every certificate
// is accepted. The random file is not needed (OpenSSL seeds itself).
class SSLContext {
public:
    SSLContext(const String& trustStore, SSLCertificateVerifyFunction* verifyCert = nullptr,
               const String& randomFile = String())
        : _trustStore(trustStore), _verify(verifyCert), _randomFile(randomFile) {}
    // With a client certificate and its key (PEM files).
    SSLContext(const String& trustStore, const String& certPath, const String& keyPath,
               SSLCertificateVerifyFunction* verifyCert, const String& randomFile)
        : _trustStore(trustStore), _certPath(certPath), _keyPath(keyPath), _verify(verifyCert), _randomFile(randomFile) {}

    String getTrustStore() const { return _trustStore; }
    String getCertPath() const { return _certPath; }
    String getKeyPath() const { return _keyPath; }
    SSLCertificateVerifyFunction* getVerifyFunction() const { return _verify; }

private:
    String _trustStore;
    String _certPath;
    String _keyPath;
    SSLCertificateVerifyFunction* _verify;
    String _randomFile;
};

}  // namespace Pegasus
