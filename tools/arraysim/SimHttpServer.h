// The simulator's HTTP and HTTPS listeners: CIM-XML operations on any path
// (clients use /cimom), the JSON side channel under /sim/, Basic
// authentication, the header checks of a CIM server, and transport faults.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "ArraySimulator.h"

namespace arraysim {

struct ServerOptions {
    std::string listen = "127.0.0.1";
    int httpPort = -1;   // -1: not opened; 0: a free port
    int httpsPort = -1;  // -1: not opened; 0: a free port
    std::string certFile;  // PEM; with keyFile. Empty: a self-signed certificate made at start
    std::string keyFile;
    size_t threads = 64;                    // workers; each kept-alive connection holds one
    size_t maxBodyBytes = 16 * 1024 * 1024;  // larger requests get HTTP 413
    int readTimeoutSeconds = 10;            // a client that stops sending is dropped
    int keepAliveSeconds = 120;             // idle kept-alive connections are closed after this
    bool logRequests = false;               // one line per request on standard error
};

class SimHttpServer {
public:
    SimHttpServer(ArraySimulator& sim, ServerOptions options);
    ~SimHttpServer();
    SimHttpServer(const SimHttpServer&) = delete;
    SimHttpServer& operator=(const SimHttpServer&) = delete;

    // Binds and starts serving; std::runtime_error when a port cannot be
    // bound or the certificate cannot be used.
    void start();
    // Stops both listeners and closes every open connection. Idempotent.
    void stop();

    int httpPort() const;   // -1 when not opened
    int httpsPort() const;  // -1 when not opened

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace arraysim
