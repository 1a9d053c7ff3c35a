// svcsnap: the host agent. Loads the snapshot-engine plug-in, keeps its
// catalogue of arrays, jobs and copies in SQLite, and drives the engine from
// the command line.
#include <CLI/CLI.hpp>

#include <csignal>
#include <iostream>

#include "Agent.h"
#include "ArrayCheck.h"
#include "Catalogue.h"
#include "CliDocs.h"
#include "Commands.h"
#include "Demo.h"
#include "Failures.h"
#include "Flows.h"
#include "Inventory.h"
#include "Output.h"
#include "Recovery.h"

using namespace svcsnap;

namespace {

// Prints a text the build installs (manual page, completion) and ends the run.
CLI::Option* addDocument(CLI::App& app, const char* name, std::function<std::string()> text) {
    auto* o = app.add_flag_callback(name, [text] {
        std::cout << text();
        throw CLI::Success();
    });
    o->group("");
    return o;
}

}  // namespace

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    CLI::App app{"svcsnap: take, expose, revert and remove FlashCopy copies of this host's volumes on IBM SVC "
                 "family arrays, through the snapshot-engine plug-in"};
    app.require_subcommand(1);
    app.fallthrough();
    app.footer(helpFooter());
    const std::string versionText = std::string("svcsnap ") + SVCSNAP_VERSION;
    app.set_version_flag("--version", versionText, "print the version of svcsnap and exit");
    GlobalOptions g;
    std::string terse;
    app.add_option("--config", g.config, "configuration file (else $SVCSNAP_CONFIG, else ~/.config/svcsnap/svcsnap.ini)")
        ->type_name("FILE");
    app.add_option("--catalogue", g.catalogue, "catalogue file (overrides the configuration)")->type_name("FILE");
    app.add_option("--plugin", g.plugin, "path of libzqsoibmsvc.so")->type_name("FILE");
    app.add_flag("--json", g.json, "print the result as one JSON document");
    app.add_option("-t,--terse", terse, "print the tables' rows alone, without headers, cells joined by SEP")
        ->type_name("SEP");
    app.add_flag("-q,--quiet", g.quiet, "no progress on standard error");
    addDocument(app, "--manual-page", [&] { return manualPage(app, versionText); });
    addDocument(app, "--bash-completion", [&] { return bashCompletion(app); });

    std::string command;
    ArrayAddOptions add;
    std::string arrayId, jobName;
    uint32_t timeoutMs = 20000;

    auto* array = app.add_subcommand("array", "arrays (SMI-S providers) the agent uses");
    array->require_subcommand(1);
    auto* arrayAddCmd = array->add_subcommand("add", "add an array, asking its provider for the cluster id");
    arrayAddCmd->add_option("address", add.address, "provider host name or address")->required();
    arrayAddCmd->add_option("--port", add.port, "provider port (default 5989, or 5988 with --http)");
    arrayAddCmd->add_flag("--http", add.http, "plain HTTP instead of HTTPS");
    arrayAddCmd->add_option("--user", add.user, "provider user")->required();
    arrayAddCmd->add_flag("--password-stdin", add.passwordStdin, "read the password from standard input");
    arrayAddCmd->add_option("--password-env", add.passwordEnv, "read the password from this environment variable");
    arrayAddCmd->add_option("--id", add.arrayId,
                            "cluster id (0000 + 12 letters or digits); the provider is not asked and the password "
                            "not checked");
    arrayAddCmd->add_option("--timeout-ms", add.timeoutMs, "provider time-out");
    auto* arrayListCmd = array->add_subcommand("list", "list the arrays (passwords masked)");
    bool force = false;
    auto* arrayRemoveCmd = array->add_subcommand("remove", "remove an array that no job uses");
    arrayRemoveCmd->add_option("array-id", arrayId, "cluster id")->required();
    arrayRemoveCmd->add_flag("--force", force, "remove it even while jobs hold copies on it");
    std::string arrayName;
    auto* arrayShowCmd = array->add_subcommand(
        "show", "what the array holds of this catalogue's jobs (targets, mappings, groups), orphans flagged");
    arrayShowCmd->add_option("array-id", arrayName, "cluster id (or the cluster's name)")->required();
    arrayShowCmd->add_option("--timeout-ms", timeoutMs, "provider time-out");
    auto* arrayCheckCmd = array->add_subcommand("check", "connect and show the cluster, its firmware and pools");
    arrayCheckCmd->add_option("array-id", arrayId, "cluster id (default: every array)");
    arrayCheckCmd->add_option("--timeout-ms", timeoutMs, "provider time-out");

    auto* listCmd = app.add_subcommand("list", "jobs with their state");
    auto* showCmd = app.add_subcommand("show", "a job's records with status and error");
    showCmd->add_option("job", jobName, "job name or id")->required();
    ShowOptions show;
    showCmd->add_flag("-v,--verbose", show.verbose, "with each record's log lines");
    showCmd->add_option("--level", show.level, "only log lines of this level or above: 0 detail, 1 info, 2 error")
        ->type_name("N");
    showCmd->add_option("--device", show.device, "this device's record alone, whole, with its log lines")
        ->type_name("DEV");
    auto* historyCmd = app.add_subcommand("history", "a job's steps with their time, result and each device's outcome");
    historyCmd->add_option("job", jobName, "job name or id")->required();
    auto* config = app.add_subcommand("config", "the configuration");
    config->require_subcommand(1);
    auto* configShowCmd = config->add_subcommand("show", "the configuration in force, secrets masked");
    auto* versionCmd = app.add_subcommand("version", "versions of the plug-in and the platform library");
    auto* hostCmd = app.add_subcommand("host", "this host as the agent sees it");
    hostCmd->require_subcommand(1);
    auto* hostShowCmd = hostCmd->add_subcommand("show", "the host back end, its initiators and disks");
    auto* hostRescanCmd = hostCmd->add_subcommand("rescan", "rescan the host's buses");
    // A new job: snapshot and clone (prepare and snap), prepare.
    NewJobOptions newJob;
    bool cloneKind = false;
    auto addNewJob = [&](CLI::App* cmd, bool clone) {
        cmd->add_option("job", newJob.name, "name of the new job")->required();
        cmd->add_option("devices", newJob.devices, "source devices as this host names them (/dev/sdb), or their "
                                                     "unique ids with --by-uid")->required();
        cmd->add_flag("--group", newJob.options.useGroup, "gather the copies into one consistency group");
        cmd->add_option("--label", newJob.options.label, "reuse or name target volumes with this label");
        cmd->add_flag("--label-only", newJob.options.labelOnly, "only targets that carry the label");
        cmd->add_option("--pool", newJob.options.pool, "take or create targets in this pool only");
        cmd->add_option("--proxy", newJob.options.proxy, "run the array work on this proxy host");
        cmd->add_flag("--by-uid", newJob.options.byUid, "devices are named by their volume unique ids");
        cmd->add_option("--array", newJob.array, "with --by-uid: the devices' array (default: the only one)");
        if (clone) {
            cmd->add_flag("--incremental", newJob.options.incremental, "an incremental clone");
            cmd->add_flag("--smart-clone", newJob.options.smartClone, "a smart clone");
            cmd->add_option("--copy-rate", newJob.options.copyRate, "background copy rate (0 to 150)");
            cmd->add_option("--clean-rate", newJob.options.cleanRate, "clean rate (0 to 150)");
        }
    };
    auto* snapshotCmd = app.add_subcommand("snapshot", "snapshots of devices: prepare and snap in one");
    addNewJob(snapshotCmd, false);
    auto* cloneCmd = app.add_subcommand("clone", "clones of devices: prepare and snap in one");
    addNewJob(cloneCmd, true);
    auto* prepareCmd = app.add_subcommand("prepare", "prepare copies of devices (a new job); start them with snap");
    addNewJob(prepareCmd, true);
    prepareCmd->add_flag("--clone", cloneKind, "clones instead of snapshots");

    FlowOptions flow;
    std::vector<std::pair<CLI::App*, std::string>> flows;
    auto addFlow = [&](const std::string& name, const std::string& what) {
        auto* cmd = app.add_subcommand(name, what);
        cmd->add_option("job", jobName, "job name or id")->required();
        cmd->add_flag("--force", flow.force, "run the step whatever the job's state or interrupted step");
        flows.emplace_back(cmd, name);
        return cmd;
    };
    addFlow("snap", "start the prepared copies of a job");
    addFlow("status", "whether the job's copies are mapped to a host");
    addFlow("map", "map the job's copies to this host and find them as disks");
    addFlow("unmap", "unmap the job's copies from this host");
    auto* revertCmd = addFlow("revert", "restore the job's source devices from their copies (asked on a terminal; "
                                        "refused while a host maps a source or this host holds one)");
    revertCmd->get_option("--force")->description(
        "run the step whatever the job's state or interrupted step, and while sources are mapped or in use");
    revertCmd->add_flag("-y,--yes", flow.yes, "do not ask: the sources are to be rewritten (needed when standard "
                                             "input is not a terminal)");
    auto* deleteCmd = addFlow("delete", "delete the job's copies (unmapped from this host first)");
    deleteCmd->add_flag("--no-unmap", [&](int64_t) { flow.unmapFirst = false; }, "do not unmap first");
    deleteCmd->add_flag("--forget", flow.forget, "remove the job from the catalogue once no copy is left");
    addFlow("reconcile", "mark the copies deleted on the array behind the agent's back");
    RecoverOptions recover;
    auto* recoverCmd = app.add_subcommand("recover", "finish a job's interrupted step (a prepare is rolled back)");
    recoverCmd->add_option("job", jobName, "job name or id")->required();
    recoverCmd->add_flag("--resume", recover.resume, "complete an interrupted prepare or revert instead");

    DemoOptions demo;
    auto* demoCmd = app.add_subcommand("demo", "the main job against an in-process simulator, step by step");
    demoCmd->add_option("--time-scale", demo.timeScale, "real seconds per engine second")
        ->check(CLI::Range(0.00001, 1.0));
    demoCmd->add_flag("--keep", demo.keep, "keep the demo's catalogue and log directory");

    std::string asHost;
    auto* proxyExecCmd = app.add_subcommand(
        "proxy-exec", "the proxy side of remote execution: a batch as JSON on standard input, the records back "
                      "as JSON on standard output");
    proxyExecCmd->add_option("--as-host", asHost, "the proxy host this process stands for");

    auto commandName = [&] {
        std::string name;
        for (CLI::App* sub = &app; !sub->get_subcommands().empty();) {
            sub = sub->get_subcommands().front();
            name += (name.empty() ? "" : " ") + sub->get_name();
        }
        return name;
    };
    try {
        app.parse(argc, argv);
    } catch (const CLI::Success& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        // --json is looked for by hand: the parse may have stopped before it.
        bool json = false;
        for (int i = 1; i < argc && std::string(argv[i]) != "--"; ++i) json = json || std::string(argv[i]) == "--json";
        Output out(commandName(), json, true);
        return out.finish(kExitUsage, std::string(e.what()) + " (see svcsnap --help)");
    }

    Output out(commandName(), g.json, g.quiet);
    try {
        if (app.count("--terse")) {
            if (terse.empty()) throw UsageError("--terse needs a separator");
            if (g.json) throw UsageError("give either --json or --terse");
            out.setTerse(terse);
        }
        Agent agent(g);
        if (arrayAddCmd->parsed()) return arrayAdd(agent, out, add);
        if (arrayListCmd->parsed()) return arrayList(agent, out);
        if (arrayRemoveCmd->parsed()) return arrayRemove(agent, out, arrayId, force);
        if (arrayCheckCmd->parsed()) return arrayCheck(agent, out, arrayId, timeoutMs);
        if (arrayShowCmd->parsed()) return arrayShow(agent, out, arrayName, timeoutMs);
        if (listCmd->parsed()) return listJobs(agent, out);
        if (showCmd->parsed()) return showJob(agent, out, jobName, show);
        if (historyCmd->parsed()) return showHistory(agent, out, jobName);
        if (configShowCmd->parsed()) return configShow(agent, out);
        if (versionCmd->parsed()) return version(agent, out);
        if (hostShowCmd->parsed()) return hostShow(agent, out);
        if (hostRescanCmd->parsed()) return hostRescan(agent, out);
        if (snapshotCmd->parsed()) return createJob(agent, out, "snapshot", newJob);
        if (cloneCmd->parsed()) return createJob(agent, out, "clone", newJob);
        if (prepareCmd->parsed()) {
            newJob.options.kind = cloneKind ? "clone" : "snapshot";
            return createJob(agent, out, "prepare", newJob);
        }
        for (const auto& [cmd, flowName] : flows)
            if (cmd->parsed()) return runFlow(agent, out, flowName, jobName, flow);
        if (recoverCmd->parsed()) return recoverJob(agent, out, jobName, recover);
        if (demoCmd->parsed()) return runDemo(g, out, demo);
        if (proxyExecCmd->parsed()) {
            if (!asHost.empty()) agent.poseAs(asHost);
            return proxyExec(agent, std::cin, std::cout);
        }
        return out.finish(kExitUsage, "no command given (see svcsnap --help)");
    } catch (const std::exception& e) {
        return out.finish(exitStatusOf(e), e.what());
    }
}
