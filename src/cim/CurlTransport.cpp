// The libcurl transport. connect() opens the TCP connection itself (so a
// closed port fails there) and hands the socket to curl for the first
// request; curl keeps the connection alive between requests and opens a
// new one when the server has closed it.
#include <arpa/inet.h>
#include <curl/curl.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <mutex>
#include <optional>

#include "cim/CimTransport.h"
#include "cim/Exception.h"

namespace Pegasus {

const std::string* HttpResponse::header(std::string_view name) const {
    const std::string* found = nullptr;
    for (const HttpHeader& h : headers)
        if (equalNoCaseAscii(h.name, name)) found = &h.value;
    return found;
}

namespace {

void initCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// SIGPIPE blocked in this thread while curl writes to a socket the peer may
// have closed (OpenSSL writes without MSG_NOSIGNAL); a SIGPIPE raised
// meanwhile is taken back before the mask is restored.
class SigpipeBlock {
public:
    SigpipeBlock() {
        sigemptyset(&_pipe);
        sigaddset(&_pipe, SIGPIPE);
        sigset_t pending;
        sigpending(&pending);
        _pendingBefore = sigismember(&pending, SIGPIPE) == 1;
        pthread_sigmask(SIG_BLOCK, &_pipe, &_old);
    }
    ~SigpipeBlock() {
        sigset_t pending;
        sigpending(&pending);
        if (!_pendingBefore && sigismember(&pending, SIGPIPE) == 1) {
            struct timespec zero = {0, 0};
            sigtimedwait(&_pipe, nullptr, &zero);
        }
        pthread_sigmask(SIG_SETMASK, &_old, nullptr);
    }

private:
    sigset_t _pipe;
    sigset_t _old;
    bool _pendingBefore = false;
};

CIMDateTime asnTimeToCim(const ASN1_TIME* t) {
    struct tm tm;
    if (!t || ASN1_TIME_to_tm(t, &tm) != 1) return CIMDateTime();
    char text[96];
    std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d.000000+000", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return CIMDateTime(String(text));
}

String x509Name(X509_NAME* name) {
    if (!name) return String();
    char* text = X509_NAME_oneline(name, nullptr, 0);
    String result(text ? text : "");
    OPENSSL_free(text);
    return result;
}

bool isNumericHost(const std::string& host) {
    unsigned char buf[sizeof(struct in6_addr)];
    return inet_pton(AF_INET, host.c_str(), buf) == 1 || inet_pton(AF_INET6, host.c_str(), buf) == 1;
}

class CurlTransport : public CimTransport {
public:
    explicit CurlTransport(size_t maxResponseBytes) : _maxResponse(maxResponseBytes) { initCurlOnce(); }
    ~CurlTransport() override { disconnect(); }

    void connect(const String& host, Uint32 port, const SSLContext* ssl, const String& userName,
                 const String& password) override;
    void disconnect() override;
    void setTimeout(std::chrono::milliseconds timeout) override { _timeout = timeout; }
    HttpResponse post(const std::vector<HttpHeader>& headers, const std::string& body) override;

private:
    static curl_socket_t openSocket(void* self, curlsocktype, struct curl_sockaddr* address);
    static int socketOptions(void* self, curl_socket_t fd, curlsocktype);
    static size_t onHeader(char* data, size_t size, size_t count, void* self);
    static size_t onBody(char* data, size_t size, size_t count, void* self);
    static CURLcode onSslContext(CURL*, void* sslContext, void* self);
    static int verifyCertificate(int preverifyOk, X509_STORE_CTX* store);

    int openConnection(std::string& address);
    void setUp(const String& userName, const String& password);
    [[noreturn]] void failRequest(CURLcode code);
    String endpoint() const { return String(_host + ":" + std::to_string(_port)); }

    size_t _maxResponse;
    std::chrono::milliseconds _timeout{20000};
    CURL* _curl = nullptr;
    curl_slist* _resolve = nullptr;
    int _preconnected = -1;     // opened by connect(), not yet taken by curl
    bool _handingOver = false;  // the socket curl just took is already connected
    std::string _host;
    Uint32 _port = 0;
    std::optional<SSLContext> _ssl;
    HttpResponse _response;
    bool _tooLarge = false;
    char _error[CURL_ERROR_SIZE] = {};
};

int CurlTransport::openConnection(std::string& address) {
    struct addrinfo hints;
    std::memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    struct addrinfo* found = nullptr;
    std::string service = std::to_string(_port);
    std::string lookup = _host;
    if (lookup.size() > 2 && lookup.front() == '[' && lookup.back() == ']') lookup = lookup.substr(1, lookup.size() - 2);
    int rc = getaddrinfo(lookup.c_str(), service.c_str(), &hints, &found);
    if (rc != 0)
        throw CannotConnectException("Cannot connect to " + endpoint() + ". Connection failed. (" +
                                     String(gai_strerror(rc)) + ")");
    std::string why = "no address";
    auto deadline = std::chrono::steady_clock::now() + _timeout;
    int fd = -1;
    for (struct addrinfo* a = found; a && fd < 0; a = a->ai_next) {
        int s = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
        if (s < 0) continue;
        int err = ::connect(s, a->ai_addr, a->ai_addrlen) == 0 ? 0 : errno;
        if (err == EINPROGRESS) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            struct pollfd p = {s, POLLOUT, 0};
            int ready = poll(&p, 1, int(std::max<int64_t>(0, left.count())));
            socklen_t len = sizeof err;
            if (ready == 1)
                getsockopt(s, SOL_SOCKET, SO_ERROR, &err, &len);
            else
                err = ETIMEDOUT;
        }
        if (err != 0) {
            why = err == ETIMEDOUT ? "no answer within the time-out" : std::strerror(err);
            close(s);
            continue;
        }
        char text[INET6_ADDRSTRLEN] = {};
        const void* raw = a->ai_family == AF_INET6
                              ? static_cast<const void*>(&reinterpret_cast<sockaddr_in6*>(a->ai_addr)->sin6_addr)
                              : static_cast<const void*>(&reinterpret_cast<sockaddr_in*>(a->ai_addr)->sin_addr);
        inet_ntop(a->ai_family, raw, text, sizeof text);
        address = a->ai_family == AF_INET6 ? "[" + std::string(text) + "]" : text;
        int one = 1;
        setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        fd = s;
    }
    freeaddrinfo(found);
    if (fd < 0) throw CannotConnectException("Cannot connect to " + endpoint() + ". Connection failed. (" + String(why) + ")");
    return fd;
}

void CurlTransport::connect(const String& host, Uint32 port, const SSLContext* ssl, const String& userName,
                            const String& password) {
    if (_curl) throw AlreadyConnectedException();
    _host = host.toStdString();
    _port = port;
    if (ssl)
        _ssl.emplace(*ssl);
    else
        _ssl.reset();
    std::string address;
    _preconnected = openConnection(address);
    try {
        _curl = curl_easy_init();
        if (!_curl) throw CannotConnectException("Cannot connect to " + endpoint() + ". Connection failed. (no curl handle)");
        std::string bare = _host;
        if (bare.size() > 2 && bare.front() == '[') bare = bare.substr(1, bare.size() - 2);
        if (!isNumericHost(bare)) _resolve = curl_slist_append(nullptr, (_host + ":" + std::to_string(port) + ":" + address).c_str());
        setUp(userName, password);
    } catch (...) {
        disconnect();
        throw;
    }
}

void CurlTransport::setUp(const String& userName, const String& password) {
    std::string bare = _host;
    if (bare.size() > 2 && bare.front() == '[') bare = bare.substr(1, bare.size() - 2);
    bool ipv6 = bare.find(':') != std::string::npos;
    std::string url = std::string(_ssl ? "https://" : "http://") + (ipv6 ? "[" + bare + "]" : bare) + ":" +
                      std::to_string(_port) + "/cimom";
    curl_easy_setopt(_curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(_curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(_curl, CURLOPT_PROXY, "");
    curl_easy_setopt(_curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(_curl, CURLOPT_TCP_NODELAY, 1L);
    curl_easy_setopt(_curl, CURLOPT_MAXCONNECTS, 1L);
    curl_easy_setopt(_curl, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(_curl, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1);
    curl_easy_setopt(_curl, CURLOPT_ERRORBUFFER, _error);
    if (_resolve) curl_easy_setopt(_curl, CURLOPT_RESOLVE, _resolve);
    curl_easy_setopt(_curl, CURLOPT_OPENSOCKETFUNCTION, &CurlTransport::openSocket);
    curl_easy_setopt(_curl, CURLOPT_OPENSOCKETDATA, this);
    curl_easy_setopt(_curl, CURLOPT_SOCKOPTFUNCTION, &CurlTransport::socketOptions);
    curl_easy_setopt(_curl, CURLOPT_SOCKOPTDATA, this);
    curl_easy_setopt(_curl, CURLOPT_HEADERFUNCTION, &CurlTransport::onHeader);
    curl_easy_setopt(_curl, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(_curl, CURLOPT_WRITEFUNCTION, &CurlTransport::onBody);
    curl_easy_setopt(_curl, CURLOPT_WRITEDATA, this);
    if (userName.size() || password.size()) {
        curl_easy_setopt(_curl, CURLOPT_HTTPAUTH, CURLAUTH_BASIC);
        curl_easy_setopt(_curl, CURLOPT_USERNAME, userName.c_str());
        curl_easy_setopt(_curl, CURLOPT_PASSWORD, password.c_str());
    }
    if (_ssl) {
        // verification happens in onSslContext, as the SSLContext says
        curl_easy_setopt(_curl, CURLOPT_SSL_VERIFYPEER, 0L);
        curl_easy_setopt(_curl, CURLOPT_SSL_VERIFYHOST, 0L);
        curl_easy_setopt(_curl, CURLOPT_SSL_CTX_FUNCTION, &CurlTransport::onSslContext);
        curl_easy_setopt(_curl, CURLOPT_SSL_CTX_DATA, this);
    }
}

void CurlTransport::disconnect() {
    if (_curl) curl_easy_cleanup(_curl);
    _curl = nullptr;
    if (_resolve) curl_slist_free_all(_resolve);
    _resolve = nullptr;
    if (_preconnected >= 0) close(_preconnected);
    _preconnected = -1;
}

curl_socket_t CurlTransport::openSocket(void* self, curlsocktype, struct curl_sockaddr* address) {
    CurlTransport* t = static_cast<CurlTransport*>(self);
    if (t->_preconnected >= 0) {
        int fd = t->_preconnected;
        t->_preconnected = -1;
        t->_handingOver = true;
        return fd;
    }
    int fd = socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
    return fd < 0 ? CURL_SOCKET_BAD : fd;
}

int CurlTransport::socketOptions(void* self, curl_socket_t, curlsocktype) {
    CurlTransport* t = static_cast<CurlTransport*>(self);
    bool connected = t->_handingOver;
    t->_handingOver = false;
    return connected ? CURL_SOCKOPT_ALREADY_CONNECTED : CURL_SOCKOPT_OK;
}

size_t CurlTransport::onHeader(char* data, size_t size, size_t count, void* self) {
    CurlTransport* t = static_cast<CurlTransport*>(self);
    std::string_view line(data, size * count);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    if (line.substr(0, 5) == "HTTP/") {  // a status line starts a new answer (after 1xx)
        t->_response = HttpResponse();
        size_t first = line.find(' ');
        size_t second = first == std::string_view::npos ? first : line.find(' ', first + 1);
        if (second != std::string_view::npos) t->_response.reason = std::string(line.substr(second + 1));
        return size * count;
    }
    size_t colon = line.find(':');
    if (colon != std::string_view::npos) {
        std::string_view value = line.substr(colon + 1);
        while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
        t->_response.headers.push_back({std::string(line.substr(0, colon)), std::string(value)});
    }
    return size * count;
}

size_t CurlTransport::onBody(char* data, size_t size, size_t count, void* self) {
    CurlTransport* t = static_cast<CurlTransport*>(self);
    size_t n = size * count;
    if (t->_response.body.size() + n > t->_maxResponse) {
        t->_tooLarge = true;
        return 0;
    }
    t->_response.body.append(data, n);
    return n;
}

CURLcode CurlTransport::onSslContext(CURL*, void* sslContext, void* self) {
    CurlTransport* t = static_cast<CurlTransport*>(self);
    SSL_CTX* ctx = static_cast<SSL_CTX*>(sslContext);
    const SSLContext& ssl = *t->_ssl;
    std::string trustStore = ssl.getTrustStore().toStdString();
    if (!trustStore.empty()) {
        struct stat st;
        bool dir = stat(trustStore.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
        if (SSL_CTX_load_verify_locations(ctx, dir ? nullptr : trustStore.c_str(), dir ? trustStore.c_str() : nullptr) != 1)
            return CURLE_SSL_CACERT_BADFILE;
    }
    if (ssl.getCertPath().size()) {
        if (SSL_CTX_use_certificate_chain_file(ctx, ssl.getCertPath().c_str()) != 1 ||
            SSL_CTX_use_PrivateKey_file(ctx, ssl.getKeyPath().c_str(), SSL_FILETYPE_PEM) != 1)
            return CURLE_SSL_CERTPROBLEM;
    }
    if (ssl.getVerifyFunction()) {
        SSL_CTX_set_app_data(ctx, t);
        SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, &CurlTransport::verifyCertificate);
    } else if (!trustStore.empty()) {
        SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
        std::string bare = t->_host;
        if (bare.size() > 2 && bare.front() == '[') bare = bare.substr(1, bare.size() - 2);
        X509_VERIFY_PARAM* param = SSL_CTX_get0_param(ctx);
        if (isNumericHost(bare))
            X509_VERIFY_PARAM_set1_ip_asc(param, bare.c_str());
        else
            X509_VERIFY_PARAM_set1_host(param, bare.c_str(), 0);
    } else {
        SSL_CTX_set_verify(ctx, SSL_VERIFY_NONE, nullptr);
    }
    return CURLE_OK;
}

int CurlTransport::verifyCertificate(int preverifyOk, X509_STORE_CTX* store) {
    SSL* ssl = static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    CurlTransport* t = ssl ? static_cast<CurlTransport*>(SSL_CTX_get_app_data(SSL_get_SSL_CTX(ssl))) : nullptr;
    if (!t || !t->_ssl || !t->_ssl->getVerifyFunction()) return preverifyOk;
    X509* cert = X509_STORE_CTX_get_current_cert(store);
    int error = X509_STORE_CTX_get_error(store);
    bool accept = false;
    try {
        SSLCertificateInfo info(x509Name(cert ? X509_get_subject_name(cert) : nullptr),
                                x509Name(cert ? X509_get_issuer_name(cert) : nullptr),
                                cert ? Uint32(X509_get_version(cert)) : 0,
                                cert ? ASN1_INTEGER_get(X509_get_serialNumber(cert)) : 0,
                                asnTimeToCim(cert ? X509_get0_notBefore(cert) : nullptr),
                                asnTimeToCim(cert ? X509_get0_notAfter(cert) : nullptr),
                                Uint32(X509_STORE_CTX_get_error_depth(store)), Uint32(error),
                                String(X509_verify_cert_error_string(error)), preverifyOk ? 1 : 0);
        accept = t->_ssl->getVerifyFunction()(info);
    } catch (...) {
        accept = false;  // nothing may unwind through OpenSSL
    }
    if (accept) X509_STORE_CTX_set_error(store, X509_V_OK);
    return accept ? 1 : 0;
}

void CurlTransport::failRequest(CURLcode code) {
    std::string detail = _error[0] ? _error : curl_easy_strerror(code);
    switch (code) {
        case CURLE_OPERATION_TIMEDOUT:
            throw ConnectionTimeoutException();
        case CURLE_COULDNT_CONNECT:
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_CERTPROBLEM:
            throw CannotConnectException("Cannot connect to " + endpoint() + ". Connection failed. (" +
                                         clipForMessage(String(detail), 200) + ")");
        default:
            if (_tooLarge)
                throw CIMClientMalformedHTTPException("HTTP response larger than " + String(std::to_string(_maxResponse)) +
                                                      " bytes refused");
            throw CIMClientMalformedHTTPException("HTTP connection to " + endpoint() +
                                                  " failed before the complete answer arrived (" +
                                                  clipForMessage(String(detail), 200) + ")");
    }
}

HttpResponse CurlTransport::post(const std::vector<HttpHeader>& headers, const std::string& body) {
    if (!_curl) throw NotConnectedException();
    curl_slist* list = nullptr;
    for (const HttpHeader& h : headers) list = curl_slist_append(list, (h.name + ": " + h.value).c_str());
    list = curl_slist_append(list, "Expect:");
    list = curl_slist_append(list, "Accept:");
    curl_easy_setopt(_curl, CURLOPT_HTTPHEADER, list);
    curl_easy_setopt(_curl, CURLOPT_POST, 1L);
    curl_easy_setopt(_curl, CURLOPT_POSTFIELDS, body.data());
    curl_easy_setopt(_curl, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(body.size()));
    long timeout = long(std::max<int64_t>(1, _timeout.count()));
    curl_easy_setopt(_curl, CURLOPT_TIMEOUT_MS, timeout);
    curl_easy_setopt(_curl, CURLOPT_CONNECTTIMEOUT_MS, timeout);
    _response = HttpResponse();
    _tooLarge = false;
    _error[0] = '\0';
    CURLcode rc;
    {
        SigpipeBlock noSigpipe;
        rc = curl_easy_perform(_curl);
    }
    curl_easy_setopt(_curl, CURLOPT_HTTPHEADER, nullptr);
    curl_slist_free_all(list);
    if (rc != CURLE_OK) {
        _response = HttpResponse();
        failRequest(rc);
    }
    long status = 0;
    curl_easy_getinfo(_curl, CURLINFO_RESPONSE_CODE, &status);
    _response.status = Uint32(status);
    return std::move(_response);
}

}  // namespace

std::unique_ptr<CimTransport> makeCurlTransport(size_t maxResponseBytes) {
    return std::make_unique<CurlTransport>(maxResponseBytes);
}

}  // namespace Pegasus
