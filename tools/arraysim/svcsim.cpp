// svcsim: an SMI-S provider of a simulated IBM SVC cluster (MODEL.md).
#include <csignal>
#include <cstdio>
#include <iostream>
#include <memory>

#include <CLI/CLI.hpp>

#include "ArraySimulator.h"
#include "ClusterGenerator.h"
#include "SeedFile.h"
#include "SimHttpServer.h"
#include "ZqClock.h"

int main(int argc, char** argv) {
    CLI::App app{"svcsim: an SMI-S provider (CIM-XML over HTTP and HTTPS, namespace root/ibm) of a simulated "
                 "IBM SVC cluster. Prints \"http=N https=M\" (-1 for a port not opened) once it listens, and "
                 "runs until SIGINT or SIGTERM."};
    arraysim::ServerOptions options;
    std::string seedFile, user, password;
    uint32_t volumes = 0;
    double timeScale = 0;
    app.add_option("--listen", options.listen, "address to listen on")->default_val("127.0.0.1");
    app.add_option("--http-port", options.httpPort, "HTTP port; 0 picks a free one; not opened when not given");
    app.add_option("--https-port", options.httpsPort, "HTTPS port; 0 picks a free one; not opened when not given");
    auto cert = app.add_option("--cert", options.certFile, "PEM certificate for HTTPS (self-signed when not given)")
                    ->check(CLI::ExistingFile);
    auto key = app.add_option("--key", options.keyFile, "PEM private key for --cert")->check(CLI::ExistingFile);
    cert->needs(key);
    key->needs(cert);
    auto seed = app.add_option("--seed", seedFile, "cluster description (JSON, see MODEL.md)")->check(CLI::ExistingFile);
    app.add_option("--volumes", volumes, "generate a cluster of N volumes")->excludes(seed);
    app.add_option("--user", user, "user name clients must give (default admin, or the seed's)");
    app.add_option("--password", password, "password clients must give (default admin, or the seed's)");
    app.add_option("--time-scale", timeScale, "real seconds per simulated second (default ZQ_TIME_SCALE or 1)")
        ->check(CLI::PositiveNumber);
    app.add_flag("--log-requests", options.logRequests, "print one line per request on standard error");
    CLI11_PARSE(app, argc, argv);

    if (options.httpPort < 0 && options.httpsPort < 0) {
        std::cerr << "svcsim: give --http-port and/or --https-port (0 picks a free port)\n";
        return 2;
    }
    if (timeScale > 0) zq::platform::setClock(std::make_shared<zq::platform::ScaledClock>(timeScale));

    // Signals go to sigwait below, not to the server threads.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    try {
        arraysim::Seed initial;
        if (!seedFile.empty()) {
            initial = arraysim::seedFromFile(seedFile);
        } else if (volumes > 0) {
            arraysim::GeneratorOptions gen;
            gen.volumes = volumes;
            initial.state = arraysim::generateCluster(gen);
        } else {
            initial.state = arraysim::ArraySimulator::defaultCluster();
        }
        if (!user.empty()) initial.credentials.user = user;
        if (!password.empty()) initial.credentials.password = password;
        arraysim::ArraySimulator sim(std::move(initial.state));
        sim.setCredentials(initial.credentials);
        arraysim::SimHttpServer server(sim, options);
        server.start();
        std::printf("http=%d https=%d\n", server.httpPort(), server.httpsPort());
        std::fflush(stdout);
        int signal = 0;
        sigwait(&stopSignals, &signal);
        server.stop();
    } catch (const std::exception& e) {
        std::cerr << "svcsim: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
