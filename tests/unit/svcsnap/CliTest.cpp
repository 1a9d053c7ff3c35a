// svcsnap end to end: every command run as its own process against svcsim
// started as a separate process on ephemeral ports; --json output parsed,
// exit statuses, and the provider's password never in any output or log.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "Catalogue.h"
#include "CliFixture.h"
#include "HostOSUtil.h"
#include "HostRecord.h"
#include "Jobs.h"
#include "ZqPlatformVersion.h"

using nlohmann::json;
namespace fs = std::filesystem;

using namespace clitest;

TEST_F(SvcsnapCli, ArraysAddListCheckRemove) {
    CliRun add = svcsnap(addHttps() + " --json", std::string(kPassword) + "\n");
    ASSERT_EQ(add.status, 0) << add.err;
    json a = add.doc()["array"];
    EXPECT_EQ(a["arrayId"], "0000020060C14A2C");
    EXPECT_EQ(a["https"], true);
    EXPECT_EQ(a["password"], "********");
    EXPECT_EQ(add.doc()["added"], true);

    // The same cluster over HTTP, the password from the environment: an update.
    CliRun http = svcsnap("array add 127.0.0.1 --http --port " + std::to_string(sim_->http()) +
                           " --user admin --password-env SIM_PW",
                       "", std::string("SIM_PW=") + kPassword);
    ASSERT_EQ(http.status, 0) << http.err;
    EXPECT_NE(http.out.find("updated array 0000020060C14A2C"), std::string::npos) << http.out;

    CliRun list = svcsnap("array list");
    ASSERT_EQ(list.status, 0);
    EXPECT_NE(list.out.find("ARRAY ID"), std::string::npos);
    EXPECT_NE(list.out.find("********"), std::string::npos);
    EXPECT_NE(list.out.find(std::to_string(sim_->http())), std::string::npos);
    // For scripts: the rows alone, cells joined by the separator.
    CliRun terse = svcsnap("array list --terse :");
    EXPECT_EQ(terse.status, 0);
    EXPECT_EQ(terse.out, "0000020060C14A2C:svcsim:127.0.0.1:" + std::to_string(sim_->http()) + ":no:admin:********\n");
    CliRun listJson = svcsnap("array list --json");
    ASSERT_EQ(listJson.doc()["arrays"].size(), 1u);
    EXPECT_EQ(listJson.doc()["arrays"][0]["https"], false);

    CliRun check = svcsnap("array check --json");
    ASSERT_EQ(check.status, 0) << check.err;
    json c = check.doc()["arrays"][0];
    EXPECT_EQ(c["ok"], true);
    EXPECT_EQ(c["clusterId"], "0000020060C14A2C");
    EXPECT_EQ(c["firmware"], "8.4.0.2");
    ASSERT_EQ(c["pools"].size(), 2u);
    EXPECT_EQ(c["pools"][0]["name"], "Pool0");
    EXPECT_EQ(c["pools"][0]["online"], true);
    CliRun checkText = svcsnap("array check 0000020060C14A2C");
    EXPECT_NE(checkText.out.find("firmware 8.4.0.2, 2 pools"), std::string::npos) << checkText.out;
    EXPECT_NE(checkText.out.find("Pool1"), std::string::npos);

    // A second array whose provider refuses the password: check says so for it alone.
    CliRun wrong = svcsnap("array add 127.0.0.1 --port " + std::to_string(sim_->https()) +
                            " --user admin --password-stdin --id 0000FFFFFFFFFFFF",
                        "wrong-password\n");
    ASSERT_EQ(wrong.status, 0) << wrong.err;
    CliRun partly = svcsnap("array check --json");
    EXPECT_EQ(partly.status, 2);
    EXPECT_NE(partly.err.find("0000FFFFFFFFFFFF"), std::string::npos) << partly.err;
    CliRun refused = svcsnap("array check 0000FFFFFFFFFFFF");
    EXPECT_EQ(refused.status, 77);
    EXPECT_NE(refused.err.find("401"), std::string::npos) << refused.err;
    EXPECT_EQ(std::count(refused.err.begin(), refused.err.end(), '\n'), 1);

    // Adding without --id asks the provider; a refused password adds
    // nothing and is not offered --id, which would store it unchecked.
    CliRun notAdded = svcsnap("array remove 0000FFFFFFFFFFFF");
    EXPECT_EQ(notAdded.status, 0);
    CliRun badAdd = svcsnap(addHttps() + " --json", "wrong-password\n");
    EXPECT_EQ(badAdd.status, 77);
    EXPECT_EQ(badAdd.doc()["exitStatus"], 77);
    EXPECT_EQ(badAdd.err.find("--id"), std::string::npos) << badAdd.err;
    // A provider out of reach: --id is the way to add the array anyway.
    CliRun unreachable = svcsnap("array add 127.0.0.1 --port 1 --user admin --password-stdin", "pw\n");
    EXPECT_EQ(unreachable.status, 69);
    EXPECT_NE(unreachable.err.find("give --id"), std::string::npos) << unreachable.err;
    EXPECT_EQ(svcsnap("array list --json").doc()["arrays"].size(), 1u);
    for (const char* id : {"12", "0000FFFFFFFFFFF", "1111FFFFFFFFFFFF", "0000FFFF-FFFFFFF"}) {
        CliRun bad = svcsnap("array add 127.0.0.1 --user admin --password-stdin --id " + std::string(id), "pw\n");
        EXPECT_EQ(bad.status, 64) << id;
        EXPECT_NE(bad.err.find("is not an array id"), std::string::npos) << bad.err;
    }
    // An id is stored as the engine writes array ids: upper-cased.
    CliRun lower = svcsnap("array add 127.0.0.1 --user admin --password-stdin --json --id 0000abcdef012345", "pw\n");
    EXPECT_EQ(lower.status, 0) << lower.err;
    EXPECT_EQ(lower.doc()["array"]["arrayId"], "0000ABCDEF012345");
    EXPECT_EQ(svcsnap("array remove 0000ABCDEF012345").status, 0);

    // Over HTTPS without a CA file the provider is not authenticated: a
    // warning says so. With one that cannot be read, nothing connects.
    EXPECT_NE(add.err.find("warning: the provider's certificate is not verified"), std::string::npos) << add.err;
    EXPECT_EQ(add.doc()["warnings"].size(), 1u);
    EXPECT_EQ(http.err.find("warning"), std::string::npos) << http.err;
    std::ofstream(config_, std::ios::app) << "[HostModule]\nIBMSVC_SMIS_CA_FILE = " << dir_ << "/no-ca.pem\n";
    CliRun verified = svcsnap(addHttps(), std::string(kPassword) + "\n");
    EXPECT_EQ(verified.status, 69) << verified.err;
    EXPECT_EQ(verified.err.find("warning"), std::string::npos) << verified.err;

    EXPECT_EQ(svcsnap("array remove 0000020060C14A2C").status, 0);
    CliRun again = svcsnap("array remove 0000020060C14A2C --json");
    EXPECT_EQ(again.status, 66);
    EXPECT_EQ(again.doc()["error"], "no array 0000020060C14A2C in the catalogue");
    EXPECT_EQ(again.doc()["exitStatus"], 66);
    EXPECT_EQ(svcsnap("array check 0000020060C14A2C").status, 66);
    EXPECT_EQ(svcsnap("array list --json").doc()["arrays"].size(), 0u);
}

TEST_F(SvcsnapCli, UsageErrorsExitWith64AndSayWhyInJsonToo) {
    for (const std::string& args :
         {std::string(""), std::string("array"), std::string("array add 127.0.0.1"), std::string("list --bogus"),
          std::string("show"), std::string("array add 127.0.0.1 --user admin"),
          std::string("array add 127.0.0.1 --user admin --password-env NO_SUCH_VARIABLE_XYZ"),
          std::string("array add 127.0.0.1 --user admin --port 70000 --password-stdin"), std::string("list -t ''"),
          std::string("list --terse , --json")}) {
        CliRun r = svcsnap(args, "pw\n");
        EXPECT_EQ(r.status, 64) << args << "\n" << r.err;
        EXPECT_FALSE(r.err.empty()) << args;
        // With --json a script reads the failure from standard output.
        CliRun j = svcsnap("--json " + args, "pw\n");
        EXPECT_EQ(j.status, 64) << args;
        json doc = json::parse(j.out, nullptr, false);
        ASSERT_TRUE(doc.is_object()) << args << ": " << j.out;
        EXPECT_EQ(doc["exitStatus"], 64) << args;
        EXPECT_FALSE(doc["error"].get<std::string>().empty()) << args;
    }
    CliRun help = svcsnap("--help");
    EXPECT_EQ(help.status, 0);
    for (const char* listed : {"  65   the catalogue is corrupt", "  75   ", "  143  ", "devices          host back end"})
        EXPECT_NE(help.out.find(listed), std::string::npos) << listed;
    CliRun version = svcsnap("--version");
    EXPECT_EQ(version.status, 0) << version.err;
    EXPECT_EQ(version.out, "svcsnap 1.0.0\n");
}

TEST_F(SvcsnapCli, FailuresAScriptMustTellApartHaveTheirOwnStatus) {
    // A key or section the agent does not know, named with its file.
    std::ofstream(config_, std::ios::app) << "catalog = /tmp/elsewhere.db\n";
    CliRun typo = svcsnap("list --json");
    EXPECT_EQ(typo.status, 78);
    EXPECT_EQ(typo.doc()["error"], "unknown key \"catalog\" in section [svcsnap] of " + config_);
    std::ofstream(config_) << "[svcsnap]\ncatalogue = " << dir_ << "/data/catalogue.db\n[svcsnapp]\ndevices = linux\n";
    CliRun section = svcsnap("list");
    EXPECT_EQ(section.status, 78);
    EXPECT_NE(section.err.find("unknown section [svcsnapp]"), std::string::npos) << section.err;
    std::ofstream(config_) << "[svcsnap]\ncatalogue = " << dir_ << "/data/catalogue.db\n";
    ASSERT_EQ(svcsnap("list").status, 0);

    EXPECT_EQ(svcsnap("list --config " + dir_ + "/none.ini").status, 66);
    EXPECT_EQ(svcsnap("version --plugin " + dir_ + "/none.so").status, 66);
    CliRun job = svcsnap("show nightly --json");
    EXPECT_EQ(job.status, 66);
    EXPECT_EQ(job.doc()["error"], "no job nightly in the catalogue");
    EXPECT_EQ(svcsnap("delete nightly").status, 66);

    // A catalogue that is not one.
    std::ofstream(dir_ + "/bad.db") << std::string(4096, 'x');
    CliRun corrupt = svcsnap("list --json --catalogue " + dir_ + "/bad.db");
    EXPECT_EQ(corrupt.status, 65);
    EXPECT_EQ(corrupt.doc()["exitStatus"], 65);
    EXPECT_NE(corrupt.doc()["error"].get<std::string>().find("not a database"), std::string::npos) << corrupt.out;
}

TEST_F(SvcsnapCli, JobsWrittenByOneCommandAreReadByTheNext) {
    CliRun none = svcsnap("list --json");
    ASSERT_EQ(none.status, 0) << none.err;
    EXPECT_EQ(none.doc()["jobs"].size(), 0u);
    EXPECT_EQ(svcsnap("show nightly").status, 66);

    {
        svcsnap::Catalogue c(dir_ + "/data/catalogue.db");
        svcsnap::Jobs jobs(c);
        svcsnap::JobOptions o;
        o.kind = "clone";
        o.useGroup = true;
        auto job = jobs.create("nightly", o, 21, 1, {"/dev/sdb", "/dev/sdc"});
        auto records = jobs.records(job.id);
        records[0].status = 1;
        records[0].metadata[1] = "0000020060C14A2C*5*svc*/dev/sdb*p*x*UID*tp*0";
        records[0].newLines.push_back({1000, 1, "prepareDevices", "FlashCopy prepared"});
        // A text that is not UTF-8, as a provider or device may hand over.
        records[0].newLines.push_back({1765186200250, 0, "getDevArrayInfo", "Array ID [0000\xff\xfeH\x01]"});
        records[1].status = 2;
        records[1].errorCode = 62005;
        records[1].errorText = "Failed to get array info";
        jobs.beginStep(job.id, "prepare");
        jobs.finishStep(job.id, "prepare", 2, "prepared", records);
    }
    CliRun list = svcsnap("list");
    ASSERT_EQ(list.status, 0);
    EXPECT_NE(list.out.find("nightly"), std::string::npos);
    EXPECT_NE(list.out.find("prepare (done)"), std::string::npos) << list.out;
    json jobs = svcsnap("list --json").doc()["jobs"];
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_EQ(jobs[0]["devices"], 2);
    EXPECT_EQ(jobs[0]["statuses"]["prepared"], 1);
    EXPECT_EQ(jobs[0]["step"]["result"], 2);

    CliRun show = svcsnap("show nightly -v --json");
    ASSERT_EQ(show.status, 0) << show.err;
    json job = show.doc()["job"];
    EXPECT_EQ(job["options"]["kind"], "clone");
    EXPECT_EQ(job["options"]["group"], true);
    ASSERT_EQ(job["records"].size(), 2u);
    EXPECT_EQ(job["records"][0]["metadata"]["1"], "0000020060C14A2C*5*svc*/dev/sdb*p*x*UID*tp*0");
    EXPECT_EQ(job["records"][0]["log"][0]["text"], "FlashCopy prepared");
    EXPECT_EQ(job["records"][0]["log"][1]["text"], "Array ID [0000\xef\xbf\xbd\xef\xbf\xbdH\x01]");
    EXPECT_EQ(job["records"][0]["log"][1]["at"], "2025-12-08T09:30:00.250Z");
    EXPECT_EQ(job["records"][1]["errorCode"], 62005);
    const std::string updated = jobs[0]["updatedAt"];
    EXPECT_EQ(updated.size(), 20u) << updated;
    EXPECT_EQ(updated.substr(10, 1) + updated.substr(19), "TZ") << updated;
    CliRun showText = svcsnap("show nightly -v");
    EXPECT_NE(showText.out.find("62005 Failed to get array info"), std::string::npos) << showText.out;
    EXPECT_NE(showText.out.find("info prepareDevices: FlashCopy prepared"), std::string::npos) << showText.out;
    EXPECT_EQ(svcsnap("show 1 --json").doc()["job"]["name"], "nightly");
}

TEST_F(SvcsnapCli, ConfigShowMasksSecretsAndFollowsThePrecedence) {
    std::ofstream(config_, std::ios::app) << "control_host_id = 5\n[HostModule]\nIBMSVC_PREPARE_WAIT = 20\n"
                                          << "hostPassword = " << kPassword << "\n";
    CliRun shown = svcsnap("config show --json");
    ASSERT_EQ(shown.status, 0) << shown.err;
    json d = shown.doc();
    EXPECT_EQ(d["file"], config_);
    EXPECT_EQ(d["origin"], "SVCSNAP_CONFIG");
    EXPECT_EQ(d["values"]["HostModule"]["IBMSVC_PREPARE_WAIT"], "20");
    EXPECT_EQ(d["values"]["HostModule"]["hostPassword"], "********");
    EXPECT_EQ(d["agent"]["controlHostId"], 5);
    EXPECT_EQ(d["agent"]["catalogue"], dir_ + "/data/catalogue.db");
    CliRun text = svcsnap("config show");
    EXPECT_NE(text.out.find("IBMSVC_PREPARE_WAIT"), std::string::npos);

    // --config wins over the variable; a named file that is missing is an error.
    std::string other = dir_ + "/other.ini";
    std::ofstream(other) << "[svcsnap]\ncatalogue = " << dir_ << "/other.db\n";
    EXPECT_EQ(svcsnap("config show --json --config " + other).doc()["agent"]["catalogue"], dir_ + "/other.db");
    CliRun missing = svcsnap("config show --config " + dir_ + "/none.ini");
    EXPECT_EQ(missing.status, 66);
    EXPECT_NE(missing.err.find("does not exist"), std::string::npos);
    std::ofstream(other) << "[svcsnap]\ncontrol_host_id = many\n";
    EXPECT_EQ(svcsnap("config show --config " + other).status, 78);
}

TEST_F(SvcsnapCli, VersionLoadsThePluginNextToTheBuildOrAsGiven) {
    CliRun v = svcsnap("version --json");
    ASSERT_EQ(v.status, 0) << v.err;
    EXPECT_EQ(v.doc()["plugin"]["version"], "1.0.0");
    EXPECT_EQ(v.doc()["platform"],
              std::to_string(ZQPLATFORM_VERSION_MAJOR) + "." + std::to_string(ZQPLATFORM_VERSION_MINOR));
    CliRun bad = svcsnap("version --plugin /nonexistent/libzqsoibmsvc.so");
    EXPECT_EQ(bad.status, 66);
    EXPECT_NE(bad.err.find("not found"), std::string::npos) << bad.err;
}

TEST_F(SvcsnapCli, SimulatedHostListsTheDisksMappedToItAfterARescan) {
    std::ofstream(config_, std::ios::app) << "devices = simulated\n"
                                          << "sim_initiators = 21:00:00:24:ff:4a:cc:01, iqn.1994-05.com.example:cli\n";
    // Commands that open no device do not need a working host.
    EXPECT_EQ(svcsnap("version").status, 0);
    CliRun noArray = svcsnap("host show");
    EXPECT_EQ(noArray.status, 78);
    EXPECT_NE(noArray.err.find("sim_array"), std::string::npos) << noArray.err;

    ASSERT_EQ(svcsnap(addHttps(), std::string(kPassword) + "\n").status, 0);
    ASSERT_EQ(simPost("hosts", {{"name", "cli_agent"}, {"ports", {"21000024FF4ACC01"}}})["returnValue"], 0);
    json volume = simPost("volumes", {{"name", "cli_db01"}, {"sizeGiB", 1}});
    ASSERT_EQ(volume["returnValue"], 0);
    ASSERT_EQ(simPost("hostmappings", {{"host", "cli_agent"}, {"volume", "cli_db01"}})["returnValue"], 0);

    CliRun before = svcsnap("host show --json");
    ASSERT_EQ(before.status, 0) << before.err;
    EXPECT_EQ(before.doc()["backend"], "simulated");
    ASSERT_EQ(before.doc()["initiators"].size(), 2u);
    EXPECT_EQ(before.doc()["initiators"][1]["iscsi"], true);
    EXPECT_EQ(before.doc()["disks"].size(), 0u) << "not rescanned yet";
    CliRun rescan = svcsnap("host rescan");
    ASSERT_EQ(rescan.status, 0) << rescan.err;
    EXPECT_NE(rescan.out.find("/dev/sdb"), std::string::npos) << rescan.out;
    json disks = svcsnap("host show --json").doc()["disks"];
    ASSERT_EQ(disks.size(), 1u);
    EXPECT_EQ(disks[0]["device"], "/dev/sdb");
    EXPECT_EQ(disks[0]["lunUid"], volume["uid"]);
    EXPECT_EQ(disks[0]["product"], "2145");

    // A refused password fails the rescan in one line and keeps the disks.
    ASSERT_EQ(svcsnap(addHttps() + " --id 0000020060C14A2C --json", "wrong-password\n").status, 0);
    CliRun refused = svcsnap("host rescan");
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("401"), std::string::npos) << refused.err;
    EXPECT_EQ(std::count(refused.err.begin(), refused.err.end(), '\n'), 1);
    EXPECT_EQ(svcsnap("host show --json").doc()["disks"].size(), 1u);
}

TEST_F(SvcsnapCli, ProxyExecRunsTheEnginesProxySide) {
    const std::string batch =
        R"({"protocol":1,"job":{"id":3,"name":"j","engineId":20,"controlHostId":1,"options":{"kind":"snapshot",)"
        R"("group":false,"label":"","labelOnly":false,"pool":"","incremental":false,"smartClone":false,"proxy":"px1",)"
        R"("byUid":false,"copyRate":null,"cleanRate":null}},"records":[{"id":8,"position":0,"device":"/dev/sdb",)"
        R"("status":0,"errorCode":0,"errorText":"","snapDevicePath":"","arrayId":"","lunUid":"","flags":0,)"
        R"("metadata":{"61":"9","91":"{}"}}]})";
    // The engine's proxy side refuses a message it has no handler for, and
    // says so in the record it sends back.
    CliRun run = svcsnap("proxy-exec --as-host px1", batch);
    ASSERT_EQ(run.status, 0) << run.err;
    json answer = run.doc();
    EXPECT_EQ(answer["result"], 1);
    ASSERT_EQ(answer["records"].size(), 1u);
    EXPECT_EQ(answer["records"][0]["id"], 8);
    std::string lines = answer["records"][0]["lines"].dump();
    EXPECT_NE(lines.find("Unknown Remote PX Msg-Id [9]"), std::string::npos) << lines;

    for (const std::string& bad : {std::string("not json"), std::string(R"({"protocol":1})"),
                                   batch.substr(0, batch.size() / 2)}) {
        CliRun refused = svcsnap("proxy-exec", bad);
        EXPECT_EQ(refused.status, 1) << bad;
        EXPECT_TRUE(refused.out.empty()) << refused.out;
        EXPECT_NE(refused.err.find("batch"), std::string::npos) << refused.err;
    }
    EXPECT_EQ(svcsnap("proxy-exec --as-host -x", batch).status, 64);
}

TEST_F(SvcsnapCli, RemoteExecutionCarriesTheBatchToTheProxyAndBack) {
    ASSERT_EQ(svcsnap(addHttps(), std::string(kPassword) + "\n").status, 0);
    svcsnap::JobEntry job;
    job.id = 5;
    job.name = "nightly";
    job.options.proxy = "px-lab1";
    std::vector<svcsnap::RecordEntry> entries(2);
    entries[0].id = 11;
    entries[0].device = "/dev/sdb";
    entries[0].metadata[61] = "5";
    entries[0].metadata[91] = "{initiatorIds:[]}";
    entries[1].id = 12;
    entries[1].device = "/dev/sdc";
    entries[1].position = 1;

    auto runWith = [&](const std::string& plugin, std::vector<std::unique_ptr<svcsnap::HostRecord>>& records) {
        svcsnap::HostContext host;
        host.remote = std::make_shared<svcsnap::RemoteExecutor>(
            std::vector<std::string>{SVCSNAP_PATH, "--config", config_, "--plugin", plugin, "--quiet", "proxy-exec",
                                     "--as-host", "{host}"},
            std::chrono::seconds(20));
        auto os = std::make_unique<svcsnap::HostOSUtil>(std::vector<svcsnap::ArrayEntry>{}, 20, host);
        std::vector<svcsnap::HostRecord*> batch;
        for (const auto& e : entries) {
            records.push_back(std::make_unique<svcsnap::HostRecord>(e, job, *os, svcsnap::recordSettings(job)));
            batch.push_back(records.back().get());
        }
        os->setBatch(job, batch);
        bool ran = os->executeRemote("px-lab1");
        return std::make_pair(ran, os->lastRemoteError());
    };

    std::vector<std::unique_ptr<svcsnap::HostRecord>> records;
    auto ran = runWith(ZQ_FAKE_PROXY_PLUGIN_PATH, records);
    ASSERT_TRUE(ran.first) << ran.second;
    svcsnap::RecordEntry first = records[0]->entry(), second = records[1]->entry();
    EXPECT_EQ(first.status, 9);
    EXPECT_EQ(first.snapDevicePath, "/dev/mapped0");
    EXPECT_EQ(first.metadata[60], "0");
    // The proxy stood for px-lab1 and used its own catalogue's arrays.
    EXPECT_EQ(first.metadata[91], "{proxy:px-lab1,arrays:0000020060C14A2C}");
    ASSERT_EQ(first.newLines.size(), 1u);
    EXPECT_EQ(first.newLines[0].text, "message 5 for /dev/sdb on px-lab1");
    EXPECT_EQ(second.status, 9);
    EXPECT_EQ(second.errorCode, 60558u);
    EXPECT_EQ(second.newLines.at(0).text, "message 5 for /dev/sdc on px-lab1");

    // A proxy that cannot run leaves the records as they were and says why.
    std::vector<std::unique_ptr<svcsnap::HostRecord>> untouched;
    auto failed = runWith("/nonexistent/libzqsoibmsvc.so", untouched);
    EXPECT_FALSE(failed.first);
    EXPECT_NE(failed.second.find("exit status 66"), std::string::npos) << failed.second;
    svcsnap::RecordEntry kept = untouched[0]->entry();
    EXPECT_EQ(kept.status, 0);
    EXPECT_EQ(kept.metadata.count(60), 0u);
    ASSERT_EQ(kept.newLines.size(), 1u);
    EXPECT_NE(kept.newLines[0].text.find("remote execution on [px-lab1] failed"), std::string::npos)
        << kept.newLines[0].text;
}

// The main job through the command line: each step a process of its own,
// judged by what it leaves on the array.
TEST_F(SvcsnapCli, FlowCommandsTakeMapUnmapReconcileAndDeleteCopies) {
    simulatedHost("fl_db", "21000024FF4AF001", 2);

    CliRun snapshot = flow("snapshot nightly /dev/sdb /dev/sdc --group --quiet --json");
    ASSERT_EQ(snapshot.status, 0) << snapshot.out << snapshot.err;
    json doc = snapshot.doc();
    ASSERT_EQ(doc["steps"].size(), 2u);
    EXPECT_EQ(doc["steps"][0]["step"], "prepare");
    EXPECT_EQ(doc["steps"][1]["step"], "snap");
    EXPECT_EQ(statuses(lastRecords(snapshot)), (std::vector<int>{5, 5}));
    EXPECT_EQ(doc["job"]["state"], "snapped");
    EXPECT_TRUE(snapshot.err.empty()) << "--quiet: " << snapshot.err;
    auto copies = copiesOf("fl_db");
    ASSERT_EQ(copies.size(), 2u);
    // The group is named after the first record's snap name.
    const std::string group =
        svcsnap("show nightly --json").doc()["job"]["records"][0]["snapName"].get<std::string>() + "_CG";
    std::set<std::string> sources, targets;
    for (const auto& c : copies) {
        sources.insert(c["source"].get<std::string>());
        targets.insert(c["target"].get<std::string>());
        EXPECT_EQ(c["group"], group);
        EXPECT_EQ(c["state"], "copying");
    }
    EXPECT_EQ(sources, (std::set<std::string>{"fl_db0", "fl_db1"}));

    // The next process reads what this one wrote.
    json jobs = svcsnap("list --json").doc()["jobs"];
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_EQ(jobs[0]["state"], "snapped");
    EXPECT_EQ(jobs[0]["statuses"]["copy started"], 2);

    CliRun status = flow("status nightly");
    EXPECT_EQ(status.status, 0) << status.err;
    EXPECT_NE(status.out.find("14 not mapped"), std::string::npos) << status.out;

    CliRun map = flow("map nightly --json");
    ASSERT_EQ(map.status, 0) << map.out << map.err;
    json mapped = lastRecords(map);
    EXPECT_EQ(statuses(mapped), (std::vector<int>{12, 12}));
    json disks = svcsnap("host show --json").doc()["disks"];
    std::set<std::string> diskPaths;
    for (const auto& d : disks) diskPaths.insert(d["device"].get<std::string>());
    for (const auto& r : mapped) EXPECT_EQ(diskPaths.count(r["snapDevicePath"].get<std::string>()), 1u) << r.dump();
    for (const auto& t : targets) EXPECT_EQ(hostsOfVolume(t), (std::set<std::string>{"fl_dbhost"})) << t;

    CliRun unmap = flow("unmap nightly");
    EXPECT_EQ(unmap.status, 0) << unmap.out << unmap.err;
    for (const auto& t : targets) EXPECT_TRUE(hostsOfVolume(t).empty()) << t;

    // A copy deleted on the array behind the agent's back.
    const std::string goneTarget = copiesOf("fl_db1").at(0)["target"];
    ASSERT_EQ(simPost("vanish", {{"kind", "volume"}, {"name", goneTarget}})["vanished"], true);
    CliRun reconcile = flow("reconcile nightly --json");
    EXPECT_EQ(reconcile.status, 0) << reconcile.out << reconcile.err;
    EXPECT_EQ(statuses(lastRecords(reconcile)), (std::vector<int>{14, 24}));

    CliRun remove = flow("delete nightly --json");
    EXPECT_EQ(remove.status, 0) << remove.out << remove.err;
    EXPECT_EQ(statuses(lastRecords(remove))[0], 20);
    for (const auto& r : lastRecords(remove)) EXPECT_TRUE(r["succeeded"].get<bool>()) << r.dump();
    EXPECT_TRUE(copiesOf("fl_db").empty());
    const json after = simState();
    for (const auto& v : after["volumes"]) EXPECT_EQ(targets.count(v["name"].get<std::string>()), 0u) << v;
    for (const auto& g : after["consistencyGroups"]) EXPECT_NE(g["name"], group);

    // Every step's lines are kept; no password in them or the debug log.
    CliRun shown = svcsnap("show nightly -v");
    EXPECT_NE(shown.out.find("deleteSnaps"), std::string::npos);
    std::ifstream log(dir_ + "/data/debug.log");
    std::stringstream text;
    text << log.rdbuf();
    EXPECT_FALSE(text.str().empty());
    EXPECT_EQ(text.str().find(kPassword), std::string::npos);

    CliRun forget = flow("delete nightly --forget");
    EXPECT_EQ(forget.status, 0) << forget.err;
    EXPECT_EQ(svcsnap("show nightly").status, 66);
}

TEST_F(SvcsnapCli, FlowCommandsReportPartialAndFailedStepsAndRefuseBadCommandLines) {
    simulatedHost("pt_db", "21000024FF4AF002", 2);

    // One copy's target is deleted on the array between prepare and snap.
    ASSERT_EQ(flow("prepare half /dev/sdb /dev/sdc --quiet").status, 0);
    ASSERT_EQ(copiesOf("pt_db").size(), 2u);
    const std::string gone = copiesOf("pt_db1").at(0)["target"];
    ASSERT_EQ(simPost("vanish", {{"kind", "volume"}, {"name", gone}})["vanished"], true);
    CliRun partial = flow("snap half --json --quiet");
    EXPECT_EQ(partial.status, 2) << partial.out << partial.err;
    json records = lastRecords(partial);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0]["succeeded"], true);
    EXPECT_EQ(records[1]["succeeded"], false);
    EXPECT_EQ(partial.doc()["exitStatus"], 2);
    EXPECT_EQ(std::count(partial.err.begin(), partial.err.end(), '\n'), 1) << partial.err;
    EXPECT_NE(partial.err.find("1 of 2"), std::string::npos) << partial.err;
    EXPECT_EQ(copiesOf("pt_db0").at(0)["state"], "copying");

    CliRun none = flow("prepare nothing /dev/sdq /dev/sdr");
    EXPECT_EQ(none.status, 1) << none.out;
    EXPECT_NE(none.out.find("0 of 2 devices prepared"), std::string::npos) << none.out;
    EXPECT_EQ(flow("map missing").status, 66);
    EXPECT_EQ(flow("snapshot half /dev/sdb").status, 1) << "the name is taken";

    for (const char* bad : {"snapshot 1st /dev/sdb", "snapshot a/b /dev/sdb", "snapshot dup /dev/sdb /dev/sdb",
                            "snapshot norate /dev/sdb --copy-rate 50", "clone fast /dev/sdb --copy-rate 151",
                            "prepare inc /dev/sdb --incremental", "snapshot nodevices", "delete",
                            "snapshot px /dev/sdb --proxy -oProxyCommand=x"}) {
        CliRun r = svcsnap(bad);
        EXPECT_EQ(r.status, 64) << bad << ": " << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << bad << ": " << r.err;
    }
    // Nothing was written by the refused commands.
    EXPECT_EQ(svcsnap("list --json").doc()["jobs"].size(), 2u);
}

TEST_F(SvcsnapCli, RevertRestoresTheSourcesDataFromTheCopy) {
    simulatedHost("rv_db", "21000024FF4AF003", 1);
    ASSERT_EQ(flow("snapshot before /dev/sdb --quiet").status, 0);
    const uint64_t snapped = generationOf("rv_db0");
    ASSERT_TRUE(simPost("write", {{"volume", "rv_db0"}, {"percent", 30}})["generation"].is_number());
    ASSERT_NE(generationOf("rv_db0"), snapped);

    // The source stays mapped to the host here: --force, confirmed with --yes.
    CliRun revert = flow("revert before --yes --force --json --quiet");
    ASSERT_EQ(revert.status, 0) << revert.out << revert.err;
    ASSERT_EQ(revert.doc()["steps"].size(), 2u);
    EXPECT_EQ(revert.doc()["steps"][0]["step"], "status");
    EXPECT_EQ(statuses(lastRecords(revert)), (std::vector<int>{22}));
    EXPECT_EQ(generationOf("rv_db0"), snapped);
}

TEST_F(SvcsnapCli, AProxyRunsTheArrayWorkAndTheRecordsComeBack) {
    simulatedHost("px_db", "21000024FF4AF004", 1);
    CliRun snapshot = flow("snapshot viaproxy /dev/sdb --proxy px-cli --json");
    ASSERT_EQ(snapshot.status, 0) << snapshot.out << snapshot.err;
    EXPECT_EQ(statuses(lastRecords(snapshot)), (std::vector<int>{5}));
    EXPECT_NE(snapshot.err.find("svcsnap (proxy px-cli): waiting"), std::string::npos) << snapshot.err;
    ASSERT_EQ(copiesOf("px_db").size(), 1u);
    // The lines logged on the proxy come back into the host's records.
    const std::string lines = svcsnap("show viaproxy -v").out;
    EXPECT_NE(lines.find("Sending request to Remote Snap PX:[px-cli]"), std::string::npos) << lines;
    EXPECT_NE(lines.find("performRequestedOperation"), std::string::npos) << lines;

    CliRun remove = flow("delete viaproxy --json --quiet");
    EXPECT_EQ(remove.status, 0) << remove.out << remove.err;
    EXPECT_TRUE(copiesOf("px_db").empty());
}

// A device named by its volume unique id: the engine learns the source and
// its array from the id and the source volume GUID alone.
TEST_F(SvcsnapCli, DevicesNamedByUniqueIdLiveTheWholeLifeOfACopy) {
    simulatedHost("bu_db", "21000024FF4AF005", 1);
    const std::string uid = svcsnap("host show --json").doc()["disks"].at(0)["lunUid"];
    ASSERT_EQ(uid.size(), 32u);
    EXPECT_EQ(svcsnap("snapshot byuid /dev/sdb --by-uid").status, 64);
    EXPECT_EQ(svcsnap("snapshot byuid /dev/sdb --array 0000020060C14A2C").status, 64);
    EXPECT_EQ(svcsnap("snapshot byuid " + uid + " --by-uid --array 0000FFFFFFFFFFFF").status, 66);

    CliRun snapshot = flow("snapshot byuid " + uid + " --by-uid --json --quiet");
    ASSERT_EQ(snapshot.status, 0) << snapshot.out << snapshot.err;
    EXPECT_EQ(statuses(lastRecords(snapshot)), (std::vector<int>{5}));
    EXPECT_EQ(lastRecords(snapshot)[0]["arrayId"], "0000020060C14A2C");
    auto copies = copiesOf("bu_db0");
    ASSERT_EQ(copies.size(), 1u);
    EXPECT_EQ(copies[0]["state"], "copying");
    const std::string target = copies[0]["target"];
    // A flow's rows for scripts lead with their step.
    CliRun terse = flow("status byuid --quiet -t ,");
    EXPECT_EQ(terse.status, 0) << terse.err;
    EXPECT_EQ(terse.out, "status," + uid + ",14 not mapped,," + target + ",snapshot, copying 0%,\n");

    // The array holds the job's copy: removing it takes --force.
    CliRun keep = svcsnap("array remove 0000020060C14A2C --json");
    EXPECT_EQ(keep.status, 1);
    EXPECT_EQ(keep.doc()["jobs"], json::array({"byuid"}));
    EXPECT_NE(keep.err.find("--force"), std::string::npos) << keep.err;
    EXPECT_EQ(svcsnap("array list --json").doc()["arrays"].size(), 1u);
    CliRun forced = svcsnap("array remove 0000020060C14A2C --force --json");
    EXPECT_EQ(forced.status, 0) << forced.err;
    EXPECT_NE(forced.err.find("byuid"), std::string::npos) << forced.err;
    EXPECT_EQ(svcsnap("array list --json").doc()["arrays"].size(), 0u);
    ASSERT_EQ(svcsnap(addHttps(), std::string(kPassword) + "\n").status, 0);

    CliRun remove = flow("delete byuid --json --quiet");
    EXPECT_EQ(remove.status, 0) << remove.out << remove.err;
    EXPECT_EQ(statuses(lastRecords(remove)), (std::vector<int>{20}));
    EXPECT_TRUE(copiesOf("bu_db0").empty());
    const json after = simState();
    for (const auto& v : after["volumes"]) EXPECT_NE(v["name"], target);
    EXPECT_EQ(svcsnap("array remove 0000020060C14A2C").status, 0) << "no job holds a copy there any more";
}

// A step that fails on every device because of the provider says which way.
TEST_F(SvcsnapCli, FlowsTellAProviderOutOfReachFromRefusedCredentials) {
    simulatedHost("pv_db", "21000024FF4AF006", 1);
    // The simulated host reads its disks through an entry of its own, so
    // only the engine meets the array's entry.
    const std::string port = std::to_string(sim_->https());
    ASSERT_EQ(svcsnap("array add 127.0.0.1 --port " + port + " --user admin --password-stdin --id 0000FFFFFFFFFFFF",
                      std::string(kPassword) + "\n")
                  .status,
              0);
    std::ofstream(config_, std::ios::app) << "sim_array = 0000FFFFFFFFFFFF\n";
    const std::string byId = " --user admin --password-stdin --id 0000020060C14A2C";
    ASSERT_EQ(svcsnap("array add 127.0.0.1 --port " + port + byId, "wrong\n").status, 0);
    CliRun refused = flow("snapshot refused /dev/sdb --json --quiet");
    EXPECT_EQ(refused.status, 77) << refused.out;
    EXPECT_EQ(refused.doc()["exitStatus"], 77);
    EXPECT_EQ(lastRecords(refused)[0]["errorCode"], 60555);

    ASSERT_EQ(svcsnap("array add 127.0.0.1 --port 1" + byId, std::string(kPassword) + "\n").status, 0);
    CliRun unreachable = flow("snapshot unreachable /dev/sdb --json --quiet");
    EXPECT_EQ(unreachable.status, 69) << unreachable.out;
    EXPECT_EQ(lastRecords(unreachable)[0]["errorCode"], 60541);
    EXPECT_TRUE(copiesOf("pv_db").empty());
}
