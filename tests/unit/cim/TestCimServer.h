// A real HTTP(S) server on an ephemeral loopback port for the client tests:
// each test scripts what it answers. Also a TCP listener that drops every
// connection once the request headers arrived, and a test certificate
// made with openssl once per run.
#pragma once

#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace cimtest {

struct SeenRequest {
    httplib::Headers headers;
    std::string body;
    int remotePort = 0;
};

// Key and certificate files for CN=localhost (empty when openssl is missing).
struct TestCertificate {
    std::string cert;
    std::string key;
};

inline TestCertificate makeCertificate(const std::string& name) {
    static std::string dir = [] {
        char tmpl[] = "/tmp/zqcim-cert-XXXXXX";
        return std::string(mkdtemp(tmpl) ? tmpl : "/tmp");
    }();
    TestCertificate c{dir + "/" + name + ".pem", dir + "/" + name + ".key"};
    std::string command = "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=localhost "
                          "-addext subjectAltName=DNS:localhost,IP:127.0.0.1 -keyout " + c.key + " -out " + c.cert +
                          " >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) return TestCertificate();
    return c;
}

inline const TestCertificate& serverCertificate() {
    static TestCertificate c = makeCertificate("server");
    return c;
}

class TestCimServer {
public:
    using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;

    explicit TestCimServer(bool https = false) {
        if (https)
            _server = std::make_unique<httplib::SSLServer>(serverCertificate().cert.c_str(),
                                                           serverCertificate().key.c_str());
        else
            _server = std::make_unique<httplib::Server>();
        _server->Post("/cimom", [this](const httplib::Request& req, httplib::Response& res) {
            Handler handler;
            {
                std::lock_guard<std::mutex> lock(_mutex);
                _seen.push_back({req.headers, req.body, req.remote_port});
                handler = _handler;
            }
            if (handler) handler(req, res);
        });
        _server->set_keep_alive_max_count(1000);
        _port = _server->bind_to_any_port("127.0.0.1");
        _thread = std::thread([this] { _server->listen_after_bind(); });
        for (int i = 0; i < 5000 && !_server->is_running(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~TestCimServer() {
        releaseStalled();
        _server->stop();
        _thread.join();
    }

    int port() const { return _port; }
    void onRequest(Handler handler) {
        std::lock_guard<std::mutex> lock(_mutex);
        _handler = std::move(handler);
    }
    std::vector<SeenRequest> seen() {
        std::lock_guard<std::mutex> lock(_mutex);
        return _seen;
    }
    // A handler that holds the answer back until the test ends.
    Handler stall() {
        return [this](const httplib::Request&, httplib::Response& res) {
            std::unique_lock<std::mutex> lock(_mutex);
            _released.wait_for(lock, std::chrono::seconds(20), [this] { return _stallOver; });
            res.status = 500;
        };
    }
    void releaseStalled() {
        std::lock_guard<std::mutex> lock(_mutex);
        _stallOver = true;
        _released.notify_all();
    }

private:
    std::unique_ptr<httplib::Server> _server;
    std::thread _thread;
    int _port = 0;
    std::mutex _mutex;
    std::condition_variable _released;
    bool _stallOver = false;
    Handler _handler;
    std::vector<SeenRequest> _seen;
};

// Accepts connections and closes each one as soon as its request headers
// are in; keeps the raw bytes it got.
class DroppingListener {
public:
    DroppingListener() {
        _fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        socklen_t len = sizeof addr;
        getsockname(_fd, reinterpret_cast<sockaddr*>(&addr), &len);
        _port = ntohs(addr.sin_port);
        listen(_fd, 8);
        _thread = std::thread([this] { run(); });
    }
    ~DroppingListener() {
        shutdown(_fd, SHUT_RDWR);
        close(_fd);
        _thread.join();
    }
    int port() const { return _port; }
    std::string received() {
        std::lock_guard<std::mutex> lock(_mutex);
        return _received;
    }

private:
    void run() {
        while (true) {
            int c = accept(_fd, nullptr, nullptr);
            if (c < 0) return;
            std::string got;
            char buf[4096];
            pollfd p{c, POLLIN, 0};
            while (got.find("\r\n\r\n") == std::string::npos && poll(&p, 1, 5000) == 1) {
                ssize_t n = read(c, buf, sizeof buf);
                if (n <= 0) break;
                got.append(buf, size_t(n));
            }
            {
                // kept before the close: the client sees the close and may ask at once
                std::lock_guard<std::mutex> lock(_mutex);
                _received += got;
            }
            close(c);
        }
    }
    std::mutex _mutex;
    std::string _received;
    int _fd;
    int _port = 0;
    std::thread _thread;
};

// The MESSAGE ID of a request body.
inline std::string messageIdOf(const std::string& body) {
    // Plain search: regexes built on several server threads race in libstdc++'s ctype cache.
    const std::string tag = "MESSAGE ID=\"";
    const auto at = body.find(tag);
    if (at == std::string::npos) return std::string();
    const auto from = at + tag.size();
    const auto to = body.find('"', from);
    return to == std::string::npos ? std::string() : body.substr(from, to - from);
}

// A hand-written answer envelope around `response`, echoing the request's ID.
inline std::string answerTo(const httplib::Request& req, const std::string& response) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\n<CIM CIMVERSION=\"2.0\" DTDVERSION=\"2.0\">\n<MESSAGE ID=\"" +
           messageIdOf(req.body) + "\" PROTOCOLVERSION=\"1.0\"><SIMPLERSP>" + response + "</SIMPLERSP></MESSAGE></CIM>\n";
}

inline void reply(httplib::Response& res, const std::string& xml) {
    res.set_header("CIMOperation", "MethodResponse");
    res.set_content(xml, "application/xml; charset=\"utf-8\"");
}

}  // namespace cimtest
