// svcsnap: the host agent. Loads the snapshot-engine plug-in, keeps its
// catalogue of arrays, jobs and copies in SQLite, and drives the engine from
// the command line.
#include <CLI/CLI.hpp>

#include <csignal>
#include <iostream>

#include "Agent.h"
#include "ArrayCheck.h"
#include "Catalogue.h"
#include "Commands.h"
#include "Output.h"

using namespace svcsnap;

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    CLI::App app{"svcsnap: take, expose, revert and remove FlashCopy copies of this host's volumes on IBM SVC "
                 "family arrays, through the snapshot-engine plug-in"};
    app.require_subcommand(1);
    app.fallthrough();
    GlobalOptions g;
    app.add_option("--config", g.config, "configuration file (else $SVCSNAP_CONFIG, else ~/.config/svcsnap/svcsnap.ini)");
    app.add_option("--catalogue", g.catalogue, "catalogue file (overrides the configuration)");
    app.add_option("--plugin", g.plugin, "path of libzqsoibmsvc.so");
    app.add_flag("--json", g.json, "print the result as one JSON document");
    app.add_flag("-q,--quiet", g.quiet, "no progress on standard error");

    std::string command;
    ArrayAddOptions add;
    std::string arrayId, jobName;
    uint32_t timeoutMs = 20000;
    bool verbose = false;

    auto* array = app.add_subcommand("array", "arrays (SMI-S providers) the agent uses");
    array->require_subcommand(1);
    auto* arrayAddCmd = array->add_subcommand("add", "add an array, asking its provider for the cluster id");
    arrayAddCmd->add_option("address", add.address, "provider host name or address")->required();
    arrayAddCmd->add_option("--port", add.port, "provider port (default 5989, or 5988 with --http)");
    arrayAddCmd->add_flag("--http", add.http, "plain HTTP instead of HTTPS");
    arrayAddCmd->add_option("--user", add.user, "provider user")->required();
    arrayAddCmd->add_flag("--password-stdin", add.passwordStdin, "read the password from standard input");
    arrayAddCmd->add_option("--password-env", add.passwordEnv, "read the password from this environment variable");
    arrayAddCmd->add_option("--id", add.arrayId, "cluster id (0000 + 12 characters); the provider is not asked");
    arrayAddCmd->add_option("--timeout-ms", add.timeoutMs, "provider time-out");
    auto* arrayListCmd = array->add_subcommand("list", "list the arrays (passwords masked)");
    auto* arrayRemoveCmd = array->add_subcommand("remove", "remove an array");
    arrayRemoveCmd->add_option("array-id", arrayId, "cluster id")->required();
    auto* arrayCheckCmd = array->add_subcommand("check", "connect and show the cluster, its firmware and pools");
    arrayCheckCmd->add_option("array-id", arrayId, "cluster id (default: every array)");
    arrayCheckCmd->add_option("--timeout-ms", timeoutMs, "provider time-out");

    auto* listCmd = app.add_subcommand("list", "jobs with their state");
    auto* showCmd = app.add_subcommand("show", "a job's records with status and error");
    showCmd->add_option("job", jobName, "job name or id")->required();
    showCmd->add_flag("-v,--verbose", verbose, "with each record's log lines");
    auto* config = app.add_subcommand("config", "the configuration");
    config->require_subcommand(1);
    auto* configShowCmd = config->add_subcommand("show", "the configuration in force, secrets masked");
    auto* versionCmd = app.add_subcommand("version", "versions of the plug-in and the platform library");
    auto* hostCmd = app.add_subcommand("host", "this host as the agent sees it");
    hostCmd->require_subcommand(1);
    auto* hostShowCmd = hostCmd->add_subcommand("show", "the host back end, its initiators and disks");
    auto* hostRescanCmd = hostCmd->add_subcommand("rescan", "rescan the host's buses");
    std::string asHost;
    auto* proxyExecCmd = app.add_subcommand(
        "proxy-exec", "the proxy side of remote execution: a batch as JSON on standard input, the records back "
                      "as JSON on standard output");
    proxyExecCmd->add_option("--as-host", asHost, "the proxy host this process stands for");

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::cerr << "svcsnap: " << e.what() << " (see svcsnap --help)\n";
        return kExitUsage;
    }

    std::string name;
    for (CLI::App* sub = &app; !sub->get_subcommands().empty();) {
        sub = sub->get_subcommands().front();
        name += (name.empty() ? "" : " ") + sub->get_name();
    }
    Output out(name, g.json, g.quiet);
    try {
        Agent agent(g);
        if (arrayAddCmd->parsed()) return arrayAdd(agent, out, add);
        if (arrayListCmd->parsed()) return arrayList(agent, out);
        if (arrayRemoveCmd->parsed()) return arrayRemove(agent, out, arrayId);
        if (arrayCheckCmd->parsed()) return arrayCheck(agent, out, arrayId, timeoutMs);
        if (listCmd->parsed()) return listJobs(agent, out);
        if (showCmd->parsed()) return showJob(agent, out, jobName, verbose);
        if (configShowCmd->parsed()) return configShow(agent, out);
        if (versionCmd->parsed()) return version(agent, out);
        if (hostShowCmd->parsed()) return hostShow(agent, out);
        if (hostRescanCmd->parsed()) return hostRescan(agent, out);
        if (proxyExecCmd->parsed()) {
            if (!asHost.empty()) agent.poseAs(asHost);
            return proxyExec(agent, std::cin, std::cout);
        }
        return out.finish(kExitUsage, "no command given (see svcsnap --help)");
    } catch (const UsageError& e) {
        return out.finish(kExitUsage, e.what());
    } catch (const std::exception& e) {
        return out.finish(kExitFailed, e.what());
    }
}
