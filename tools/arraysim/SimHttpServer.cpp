#include "SimHttpServer.h"

#include <dirent.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <httplib.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "CimOperations.h"
#include "SideChannel.h"
#include "TextUtil.h"
#include "cim/CimHttp.h"
#include "cim/CimResponseWriter.h"

namespace arraysim {

namespace {
constexpr const char* kXmlType = "application/xml; charset=\"utf-8\"";
// How often a held request looks whether its hold was removed.
constexpr int64_t kHoldPollMs = 5;

std::string base64Decode(const std::string& in) {
    auto value = [](char c) -> int {
        if (c >= 'A' && c <= 'Z') return c - 'A';
        if (c >= 'a' && c <= 'z') return c - 'a' + 26;
        if (c >= '0' && c <= '9') return c - '0' + 52;
        if (c == '+') return 62;
        if (c == '/') return 63;
        return -1;
    };
    std::string out;
    int bits = 0;
    uint32_t acc = 0;
    for (char c : in) {
        if (c == '=') break;
        int v = value(c);
        if (v < 0) return {};
        acc = ((acc << 6) | uint32_t(v)) & 0xFFFFFF;
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += char((acc >> bits) & 0xFF);
        }
    }
    return out;
}

int portOf(const sockaddr_storage& a) {
    if (a.ss_family == AF_INET) return ntohs(reinterpret_cast<const sockaddr_in&>(a).sin_port);
    if (a.ss_family == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6&>(a).sin6_port);
    return -1;
}

// The server's side of its open connections: the connected sockets of this
// process whose local port is the server's.
std::vector<int> serverSideSockets(int localPort) {
    std::vector<int> fds;
    DIR* dir = opendir("/proc/self/fd");
    if (!dir) return fds;
    while (dirent* e = readdir(dir)) {
        char* end = nullptr;
        long fd = std::strtol(e->d_name, &end, 10);
        if (*end != '\0' || fd < 0 || fd == dirfd(dir)) continue;
        struct stat st {};
        if (fstat(int(fd), &st) != 0 || !S_ISSOCK(st.st_mode)) continue;
        sockaddr_storage local{}, peer{};
        socklen_t ll = sizeof local, pl = sizeof peer;
        if (getsockname(int(fd), reinterpret_cast<sockaddr*>(&local), &ll) != 0 || portOf(local) != localPort) continue;
        if (getpeername(int(fd), reinterpret_cast<sockaddr*>(&peer), &pl) != 0) continue;
        fds.push_back(int(fd));
    }
    closedir(dir);
    return fds;
}

// cpp-httplib listens with a backlog of 5: a burst of connecting clients
// would wait for SYN retries. Widen it.
void widenBacklog(int listeningSocket) {
    if (listeningSocket >= 0) ::listen(listeningSocket, SOMAXCONN);
}

struct PemKeyPair {
    X509* cert = nullptr;
    EVP_PKEY* key = nullptr;
    ~PemKeyPair() {
        X509_free(cert);
        EVP_PKEY_free(key);
    }
};

// A self-signed certificate for CN=svcsim, valid for ten years.
void makeSelfSigned(PemKeyPair& out) {
    out.key = EVP_EC_gen("P-256");
    if (!out.key) throw std::runtime_error("cannot make a key for the self-signed certificate");
    out.cert = X509_new();
    X509_set_version(out.cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(out.cert), long(std::time(nullptr)));
    X509_gmtime_adj(X509_getm_notBefore(out.cert), -3600);
    X509_gmtime_adj(X509_getm_notAfter(out.cert), 10L * 365 * 24 * 3600);
    X509_set_pubkey(out.cert, out.key);
    X509_NAME* name = X509_get_subject_name(out.cert);
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("svcsim"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("svcsim"), -1, -1, 0);
    X509_set_issuer_name(out.cert, name);
    if (!X509_sign(out.cert, out.key, EVP_sha256())) throw std::runtime_error("cannot sign the self-signed certificate");
}

bool mediaTypeAccepted(const std::string& contentType) {
    auto parts = splitText(contentType, ';');
    if (parts.empty()) return false;
    auto trim = [](std::string s) {
        size_t b = s.find_first_not_of(" \t"), e = s.find_last_not_of(" \t");
        return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
    };
    std::string media = toLower(trim(parts[0]));
    if (media != "application/xml" && media != "text/xml") return false;
    for (size_t i = 1; i < parts.size(); ++i) {
        std::string p = toLower(trim(parts[i]));
        if (p.rfind("charset=", 0) != 0) continue;
        std::string cs = p.substr(8);
        if (cs.size() >= 2 && cs.front() == '"' && cs.back() == '"') cs = cs.substr(1, cs.size() - 2);
        if (cs != "utf-8" && cs != "utf8") return false;
    }
    return true;
}
}  // namespace

struct SimHttpServer::Impl {
    Impl(ArraySimulator& s, ServerOptions o) : sim(s), options(std::move(o)), ops(s), side(s) {}

    ArraySimulator& sim;
    ServerOptions options;
    CimOperations ops;
    SideChannel side;
    std::unique_ptr<httplib::Server> http;
    std::unique_ptr<httplib::Server> https;
    std::thread httpThread, httpsThread;
    std::atomic<bool> httpDone{false}, httpsDone{false};
    int httpPort = -1, httpsPort = -1;
    std::atomic<int> httpListener{-1}, httpsListener{-1};
    std::mutex stopMutex;
    std::condition_variable stopCv;
    bool stopping = false;
    bool started = false;

    // Waits `ms` of real time; false when the server stops meanwhile.
    bool pause(int64_t ms) {
        std::unique_lock<std::mutex> lock(stopMutex);
        return !stopCv.wait_for(lock, std::chrono::milliseconds(ms), [&] { return stopping; });
    }

    void configure(httplib::Server& svr) {
        size_t threads = options.threads;
        svr.new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
        // Accepted sockets inherit TCP_NODELAY from the listener: without it an
        // answer written in two parts waits for the client's delayed ACK.
        std::atomic<int>* listener = &svr == http.get() ? &httpListener : &httpsListener;
        svr.set_socket_options([listener](int sock) {
            int one = 1;
            setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
            setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            *listener = sock;
        });
        svr.set_payload_max_length(options.maxBodyBytes);
        svr.set_read_timeout(options.readTimeoutSeconds, 0);
        svr.set_write_timeout(options.readTimeoutSeconds, 0);
        svr.set_keep_alive_timeout(options.keepAliveSeconds);
        svr.set_keep_alive_max_count(1000000);
        svr.Post(R"(/.*)", [this](const httplib::Request& req, httplib::Response& res) { dispatch(req, res); });
        svr.Get(R"(/sim/.*)", [this](const httplib::Request& req, httplib::Response& res) { dispatch(req, res); });
        svr.Delete(R"(/sim/.*)", [this](const httplib::Request& req, httplib::Response& res) { dispatch(req, res); });
    }

    bool authorized(const httplib::Request& req) {
        std::string header = req.get_header_value("Authorization");
        if (header.size() < 6 || !equalsNoCase(header.substr(0, 6), "Basic ")) return false;
        std::string decoded = base64Decode(header.substr(6));
        size_t colon = decoded.find(':');
        if (colon == std::string::npos) return false;
        Credentials c = sim.credentials();
        return decoded.substr(0, colon) == c.user && decoded.substr(colon + 1) == c.password;
    }

    static void refuseCredentials(httplib::Response& res) {
        res.status = 401;
        res.set_header("WWW-Authenticate", "Basic realm=\"svcsim\"");
        res.set_content("authentication required\n", "text/plain");
    }

    void dispatch(const httplib::Request& req, httplib::Response& res) {
        if (req.path.rfind("/sim/", 0) == 0) {
            if (!authorized(req)) return refuseCredentials(res);
            SideChannelAnswer a = side.handle(req.method, req.path.substr(5), req.body);
            res.status = a.status;
            res.set_content(a.body.dump(), "application/json");
            return;
        }
        LoggedRequest log;
        log.atMs = sim.nowMs();
        std::string cimMethod = Pegasus::cimxml::percentDecode(req.get_header_value("CIMMethod")).toStdString();
        log.operation = cimMethod;
        cim(req, res, cimMethod, log);
        log.httpStatus = res.status;
        if (options.logRequests) {
            std::fprintf(stderr, "svcsim: %s %s%s%s -> %d%s\n", log.operation.c_str(), log.method.c_str(),
                         log.method.empty() ? "" : " ", log.target.c_str(), res.status,
                         log.cimStatus ? (" CIM error " + std::to_string(log.cimStatus)).c_str()
                                       : (log.returnValue.empty() ? "" : (" returned " + log.returnValue).c_str()));
        }
        sim.requestLog().append(std::move(log));
    }

    // Closes this request's connection in the middle of the answer: the
    // client gets the status line and headers, then the connection ends.
    static void drop(httplib::Response& res) {
        res.status = 200;
        res.set_header("CIMOperation", "MethodResponse");
        res.set_content_provider(4096, kXmlType, [](size_t, size_t, httplib::DataSink&) { return false; });
    }

    static void protocolError(httplib::Response& res, int status, const char* cimError) {
        res.status = status;
        res.set_header("CIMError", cimError);
    }

    void cim(const httplib::Request& req, httplib::Response& res, const std::string& cimMethod, LoggedRequest& log) {
        if (!authorized(req)) return refuseCredentials(res);
        for (const Fault& f : sim.faults().takeTransport(cimMethod.empty() ? "*" : cimMethod)) {
            switch (f.kind) {
                case Fault::Kind::Latency:
                    if (!pause(f.latencyMs)) return drop(res);
                    break;
                case Fault::Kind::HttpStatus:
                    if (f.httpStatus == 401) return refuseCredentials(res);
                    res.status = f.httpStatus;
                    res.set_content("injected failure\n", "text/plain");
                    return;
                case Fault::Kind::DropConnection: return drop(res);
                case Fault::Kind::Stall:
                    pause(f.stallMs);
                    return drop(res);
                case Fault::Kind::Action:
                    if (f.action) f.action();
                    break;
                case Fault::Kind::Hold:
                    while (sim.faults().contains(f.id))
                        if (!pause(kHoldPollMs)) return drop(res);
                    break;
                default: break;
            }
        }
        if (!equalsNoCase(req.get_header_value("CIMOperation"), "MethodCall"))
            return protocolError(res, 400, "unsupported-operation");
        if (!mediaTypeAccepted(req.get_header_value("Content-Type"))) return protocolError(res, 400, "request-not-valid");
        std::string version = req.get_header_value("CIMProtocolVersion");
        if (!version.empty() && version.rfind("1.", 0) != 0)
            return protocolError(res, 501, "unsupported-protocol-version");

        Pegasus::cimxml::CimRequest request;
        try {
            request = Pegasus::cimxml::decodeRequest(req.body);
        } catch (const Pegasus::cimxml::CimRequestError& e) {
            if (e.kind() != Pegasus::cimxml::CimRequestError::INVALID_PARAMETER)
                return protocolError(res, int(e.httpStatus()), e.cimErrorHeader());
            AnswerBody body;
            {
                Pegasus::XmlOutput out(body.chunks.emplace_back());
                Pegasus::cimxml::CimResponseWriter w(out, e.messageId);
                w.error(e.methodName, e.intrinsic, Pegasus::CIM_ERR_INVALID_PARAMETER, e.getMessage());
                out.finish();
            }
            body.size = body.chunks.back().size();
            log.cimStatus = Pegasus::CIM_ERR_INVALID_PARAMETER;
            return answer(res, std::move(body));
        }
        if (!version.empty() && version != request.protocolVersion.toStdString())
            return protocolError(res, 400, "header-mismatch");
        if (!Pegasus::cimxml::cimMethodHeaderMatches(request, req.get_header_value("CIMMethod")) ||
            !Pegasus::cimxml::cimObjectHeaderMatches(request, req.get_header_value("CIMObject")))
            return protocolError(res, 400, "header-mismatch");

        std::string host = req.get_header_value("Host");
        if (host.empty()) host = options.listen + ":" + std::to_string(req.local_port);
        answer(res, ops.handle(request, host, log));
    }

    static void answer(httplib::Response& res, AnswerBody&& body) {
        res.status = 200;
        res.set_header("CIMOperation", "MethodResponse");
        // The chunks go out as they are, without joining them.
        auto chunks = std::make_shared<AnswerBody>(std::move(body));
        res.set_content_provider(chunks->size, kXmlType, [chunks](size_t offset, size_t, httplib::DataSink& sink) {
            size_t at = 0;
            for (auto& c : chunks->chunks) {
                if (offset < at + c.size()) {
                    size_t skip = offset - at;
                    return sink.write(c.data() + skip, c.size() - skip);
                }
                at += c.size();
            }
            return false;
        });
    }

    void run(httplib::Server& svr, std::atomic<bool>& done) {
        svr.listen_after_bind();
        done = true;
    }
};

SimHttpServer::SimHttpServer(ArraySimulator& sim, ServerOptions options)
    : impl_(std::make_unique<Impl>(sim, std::move(options))) {}

SimHttpServer::~SimHttpServer() { stop(); }

int SimHttpServer::httpPort() const { return impl_->httpPort; }
int SimHttpServer::httpsPort() const { return impl_->httpsPort; }

void SimHttpServer::start() {
    Impl& s = *impl_;
    if (s.started) return;
    auto bind = [&](httplib::Server& svr, int port) {
        int bound = port == 0 ? svr.bind_to_any_port(s.options.listen) : (svr.bind_to_port(s.options.listen, port) ? port : -1);
        if (bound <= 0)
            throw std::runtime_error("cannot listen on " + s.options.listen + ":" + std::to_string(port));
        return bound;
    };
    if (s.options.httpPort >= 0) {
        s.http = std::make_unique<httplib::Server>();
        s.configure(*s.http);
        s.httpPort = bind(*s.http, s.options.httpPort);
        widenBacklog(s.httpListener);
    }
    if (s.options.httpsPort >= 0) {
        if (!s.options.certFile.empty() || !s.options.keyFile.empty()) {
            s.https = std::make_unique<httplib::SSLServer>(s.options.certFile.c_str(), s.options.keyFile.c_str());
        } else {
            PemKeyPair pair;
            makeSelfSigned(pair);
            s.https = std::make_unique<httplib::SSLServer>(pair.cert, pair.key);
        }
        if (!s.https->is_valid()) throw std::runtime_error("the HTTPS certificate or key cannot be used");
        s.configure(*s.https);
        s.httpsPort = bind(*s.https, s.options.httpsPort);
        widenBacklog(s.httpsListener);
    }
    if (s.http) s.httpThread = std::thread([&s] { s.run(*s.http, s.httpDone); });
    if (s.https) s.httpsThread = std::thread([&s] { s.run(*s.https, s.httpsDone); });
    s.started = true;
    // A stop before the accept loop runs would be lost: wait for it (bounded).
    for (int i = 0; i < 500; ++i) {
        bool up = (!s.http || s.http->is_running()) && (!s.https || s.https->is_running());
        if (up) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

void SimHttpServer::stop() {
    Impl& s = *impl_;
    {
        std::lock_guard<std::mutex> lock(s.stopMutex);
        s.stopping = true;
    }
    s.stopCv.notify_all();
    auto finish = [](httplib::Server* svr, std::thread& t, std::atomic<bool>& done, int port) {
        if (!svr) return;
        svr->stop();
        // Kept-alive connections that clients still hold keep their workers
        // waiting; once the clients are gone the listener winds down at once.
        // Close what is left after a short grace.
        for (int i = 0; i < 2000 && t.joinable() && !done; ++i) {
            if (i >= 20)
                for (int fd : serverSideSockets(port)) ::shutdown(fd, SHUT_RDWR);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        if (t.joinable()) t.join();
    };
    finish(s.http.get(), s.httpThread, s.httpDone, s.httpPort);
    finish(s.https.get(), s.httpsThread, s.httpsDone, s.httpsPort);
}

}  // namespace arraysim
