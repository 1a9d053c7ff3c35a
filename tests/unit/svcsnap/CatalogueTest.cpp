// The agent's catalogue, job runner and plug-in loader, in-process.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "Arrays.h"
#include "Catalogue.h"
#include "EngineEnvironment.h"
#include "HostOSUtil.h"
#include "HostRecord.h"
#include "JobRunner.h"
#include "Jobs.h"
#include "Journal.h"
#include "KnownCopies.h"
#include "PluginLoader.h"
#include "ZQMMSnapAPI.h"
#include "zqso/ZqsoTypes.h"

using namespace svcsnap;
using zq::platform::SimulatedDisk;

namespace {

struct TempDir {
    TempDir() {
        char pattern[] = "/tmp/svcsnap-test-XXXXXX";
        path = mkdtemp(pattern);
    }
    ~TempDir() { std::filesystem::remove_all(path); }
    std::string path;
};

class NoHost : public HostBackend {
public:
    std::string kind() const override { return "none"; }
    std::vector<Initiator> initiators() override { return {}; }
    std::vector<std::string> devices(const std::string&) override { return {}; }
    bool rescan(const std::vector<std::string>&, const std::vector<std::string>&) override { return true; }
};

ArrayEntry anArray(const std::string& id, const std::string& password) {
    ArrayEntry a;
    a.arrayId = id;
    a.address = "127.0.0.1";
    a.port = 5989;
    a.user = "admin";
    a.password = password;
    return a;
}

}  // namespace

TEST(Catalogue, FileIsPrivateWalWithForeignKeysAndSchemaVersion) {
    TempDir dir;
    std::string path = dir.path + "/sub/catalogue.db";
    {
        Catalogue c(path);
        EXPECT_EQ(c.schemaVersion(), Catalogue::kSchemaVersion);
        Statement wal(c, "PRAGMA journal_mode");
        ASSERT_TRUE(wal.step());
        EXPECT_EQ(wal.text(0), "wal");
        // A record of a job that does not exist is refused.
        EXPECT_THROW(c.exec("INSERT INTO records (job_id, position, device) VALUES (99, 0, '/dev/sdb')"),
                     CatalogueError);
    }
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    // Opening again keeps the data and the version; a newer schema is refused.
    {
        Catalogue c(path);
        Arrays(c).put(anArray("0000020060C14A2C", "pw"));
        c.exec("PRAGMA user_version = 99");
    }
    EXPECT_THROW(Catalogue c(path), CatalogueError);

    // A file that exists with wider permissions (and its WAL file) is made
    // private before anything is written to it.
    const std::string shared = dir.path + "/shared.db";
    { std::ofstream(shared) << ""; }
    { std::ofstream(shared + "-wal") << ""; }
    ASSERT_EQ(chmod(shared.c_str(), 0644), 0);
    ASSERT_EQ(chmod((shared + "-wal").c_str(), 0664), 0);
    {
        Catalogue c(shared);
        Arrays(c).put(anArray("0000020060C14A2C", "pw"));
        for (const std::string& file : {shared, shared + "-wal"}) {
            ASSERT_EQ(stat(file.c_str(), &st), 0) << file;
            EXPECT_EQ(st.st_mode & 0777, 0600u) << file;
        }
    }
    // Without leave to make it, a directory that is not there is an error.
    EXPECT_THROW(Catalogue c(dir.path + "/none/catalogue.db", false), CatalogueError);
    EXPECT_FALSE(std::filesystem::exists(dir.path + "/none"));
}

TEST(Catalogue, SnapNamesCarryTheCataloguesTagAndOlderJobsKeepTheirs) {
    TempDir dir;
    const std::string path = dir.path + "/c.db";
    std::string tag;
    {
        Catalogue c(path);
        tag = c.tag();
        ASSERT_EQ(tag.size(), Catalogue::kTagLength);
        for (char ch : tag) EXPECT_TRUE(std::isdigit((unsigned char)ch) || std::islower((unsigned char)ch)) << tag;
        Jobs jobs(c);
        auto job = jobs.create("nightly", JobOptions(), 20, 1, {"/dev/sdb", "/dev/sdc"});
        auto records = jobs.records(job.id);
        EXPECT_EQ(records[1].snapName, "nightly_" + tag + "_2");
        // As a catalogue of the first schema: no tag, no snap names, no journal.
        c.exec("ALTER TABLE records DROP COLUMN snap_name; DROP TABLE journal; DROP TABLE catalogue_info; "
               "DROP TABLE step_records; DROP TABLE steps; ALTER TABLE record_log DROP COLUMN step_id; "
               "PRAGMA user_version = 1");
    }
    Catalogue c(path);
    EXPECT_EQ(c.schemaVersion(), Catalogue::kSchemaVersion);
    EXPECT_NE(c.tag(), "");
    auto records = Jobs(c).records(Jobs(c).find("nightly")->id);
    EXPECT_EQ(records[0].snapName, "nightly_1");
    EXPECT_EQ(records[1].snapName, "nightly_2");
    // The longest job name stays within the array's 63 characters with the
    // last record's number, the group's suffix or the removal mark.
    const std::string longest(Jobs::kMaxJobName, 'j');
    std::vector<std::string> devices;
    for (int i = 0; i < 4096; ++i) devices.push_back("/dev/x" + std::to_string(i));
    auto big = Jobs(c).create(longest, JobOptions(), 20, 1, devices);
    const std::string last = Jobs(c).records(big.id).back().snapName;
    EXPECT_LE(last.size() + std::string("_ZQ_TO_BE_DEL").size(), 63u) << last;
}

TEST(Catalogue, AJobsLeaseIsOneProcesssAndIsTakenOverWhenItsProcessIsGone) {
    TempDir dir;
    Catalogue c(dir.path + "/c.db");
    auto job = Jobs(c).create("j", JobOptions(), 20, 1, {"/dev/sdb"});
    auto holdAs = [&](const ProcessId& p) {
        Statement q(c, "INSERT OR REPLACE INTO journal (job_id, command, step, pid, process_start, boot_id, started_at) "
                       "VALUES (?1, 'map', 'status', ?2, ?3, ?4, 1)");
        q.bind(1, job.id).bind(2, p.pid).bind(3, p.startTicks).bind(4, p.bootId).run();
    };
    {
        JobLease lease(c, job.id, "snapshot");
        EXPECT_EQ(leaseOf(c, job.id)->process, ProcessId::self());
        JobLease again(c, job.id, "snapshot");  // the command's own steps
        lease.setStep("prepare");
        EXPECT_EQ(leaseOf(c, job.id)->step, "prepare");
    }
    EXPECT_FALSE(leaseOf(c, job.id)) << "released";

    // A live process holds it: refused, and the row stays.
    const ProcessId parent = ProcessId::of(int64_t(getppid()));
    ASSERT_TRUE(parent.alive());
    holdAs(parent);
    try {
        JobLease refused(c, job.id, "delete");
        FAIL() << "a second lease was taken";
    } catch (const JobBusy& busy) {
        EXPECT_EQ(busy.holder.command, "map");
        EXPECT_NE(std::string(busy.what()).find(std::to_string(parent.pid)), std::string::npos) << busy.what();
    }
    EXPECT_EQ(leaseOf(c, job.id)->process, parent);

    // Its process gone (ended, or of another boot): taken over, the row kept as previous.
    pid_t child = fork();
    if (child == 0) _exit(0);
    ProcessId ended = ProcessId::of(child);
    waitpid(child, nullptr, 0);
    EXPECT_FALSE(ended.alive());
    ProcessId otherBoot = parent;
    otherBoot.bootId = "another-boot";
    EXPECT_FALSE(otherBoot.alive());
    for (const ProcessId& gone : {ended, otherBoot}) {
        holdAs(gone);
        JobLease taken(c, job.id, "recover");
        ASSERT_TRUE(taken.previous());
        EXPECT_EQ(taken.previous()->process, gone);
        EXPECT_EQ(taken.previous()->step, "status");
        EXPECT_EQ(leaseOf(c, job.id)->command, "recover");
    }
}

TEST(Catalogue, WhatTheEngineHandsARecordIsWrittenThroughAtOnce) {
    TempDir dir;
    Catalogue c(dir.path + "/c.db");
    Jobs jobs(c);
    JobEntry job = jobs.create("w", JobOptions(), 20, 3, {"/dev/sdb"});
    RecordEntry stored = jobs.records(job.id)[0];
    stored.status = ZQSO::SNAP_STATUS_MAPPED_VISIBLE;
    {
        Transaction tx(c);
        jobs.writeRecord(stored);
        tx.commit();
    }
    HostOSUtil os({}, 20, HostContext{std::make_shared<NoHost>(), nullptr, nullptr});
    RecordJournal journal(c, job);
    HostRecord record(jobs.records(job.id)[0], job, os, recordSettings(job));
    record.setJournal(&journal);
    record.log(1, "first line");
    record.setMetaData(ZQSO::SM_MDT_UNIQUE_ID, "0000020060C14A2C*4*svc*src*p*x*UID9*tp*");
    RecordEntry now = jobs.records(job.id)[0];
    EXPECT_EQ(now.metadata[ZQSO::SM_MDT_UNIQUE_ID], "0000020060C14A2C*4*svc*src*p*x*UID9*tp*");
    EXPECT_EQ(KnownCopies(c).find(20, {3}).size(), 1u) << "the copy is known for the engine's catalogue query";
    EXPECT_EQ(jobs.logLines(now.id).size(), 1u);
    record.setError(60540, "failed here");
    EXPECT_EQ(jobs.records(job.id)[0].errorText, "failed here");
    // A status the engine could not tell keeps the stored one.
    record.setStatus(ZQSO::SNAP_STATUS_MAP_NOT_DETERMINED);
    EXPECT_EQ(jobs.records(job.id)[0].status, ZQSO::SNAP_STATUS_MAPPED_VISIBLE);
    record.setStatus(ZQSO::SNAP_STATUS_DELETED);
    EXPECT_EQ(jobs.records(job.id)[0].status, ZQSO::SNAP_STATUS_DELETED);
    EXPECT_TRUE(KnownCopies(c).find(20, {3}).empty()) << "a deleted copy is forgotten";
    // Each line reaches the catalogue once; the end of the step writes the rest.
    EXPECT_EQ(jobs.logLines(now.id).size(), 1u);
    EXPECT_TRUE(record.entry().newLines.empty());
}

TEST(Catalogue, ArraysJobsAndKnownCopies) {
    TempDir dir;
    Catalogue c(dir.path + "/c.db");
    Arrays arrays(c);
    EXPECT_TRUE(arrays.put(anArray("0000020060C14A2C", "pw1")));
    EXPECT_FALSE(arrays.put(anArray("0000020060C14A2C", "pw2")));  // replaced
    EXPECT_EQ(arrays.find("0000020060c14a2c")->password, "pw2");
    EXPECT_EQ(arrayInfoText(*arrays.find("0000020060C14A2C"), 21),
              "{arrayId:0000020060C14A2C,hostName:127.0.0.1,hostUserName:admin,hostPassword:pw2,engineId:21}");

    Jobs jobs(c);
    JobOptions o;
    o.kind = "clone";
    o.copyRate = 80;
    JobEntry j = jobs.create("nightly", o, 21, 7, {"/dev/sdb", "/dev/sdc"});
    EXPECT_THROW(jobs.create("nightly", o, 21, 7, {"/dev/sdd"}), CatalogueError);
    EXPECT_THROW(jobs.create("twice", o, 21, 7, {"/dev/sdd", "/dev/sdd"}), CatalogueError);
    EXPECT_FALSE(jobs.find("twice"));  // nothing of the refused job is left
    EXPECT_EQ(jobs.find(std::to_string(j.id))->name, "nightly");
    EXPECT_EQ(*jobs.find("nightly")->options.copyRate, 80);
    EXPECT_FALSE(jobs.find("nightly")->options.cleanRate);

    auto records = jobs.records(j.id);
    ASSERT_EQ(records.size(), 2u);
    KnownCopies copies(c);
    copies.remember(21, 7, "0000020060C14A2C*5*svc*src*p*x*UID1*tp*1", records[0].id);
    copies.remember(20, 7, "0000020060C14A2C*4*svc*src*p*x*UID2*tp*2", records[1].id);
    CatalogueSnapQuery query(c);
    SMVolSnapInfo q;
    q.setSnapShotEngineId(21);
    SMControlHostInfo host;
    host.setControlHostId(7);
    q.addControlHost(host);
    ASSERT_EQ(query.getVolumeSnaps(2, q), 0);
    ASSERT_EQ(q.getMetaDataList().size(), 1u);
    EXPECT_EQ(q.getMetaDataList()[0].getMetaData(), "0000020060C14A2C*5*svc*src*p*x*UID1*tp*1");
    // Removing the job forgets its records; their copies stay known without them.
    EXPECT_TRUE(jobs.remove(j.id));
    EXPECT_EQ(copies.find(21, {7}).size(), 1u);
}

class Runner : public ::testing::Test {
protected:
    void SetUp() override {
        env.disks().add(SimulatedDisk::volume("/dev/sdb", "IBM", "2145", "020060C14A2CXYZ", kUidA));
        env.disks().add(SimulatedDisk::volume("/dev/sdc", "IBM", "2145", "020060C14A2CXYZ", kUidB));
        Arrays(catalogue).put(anArray("0000020060C14A2C", "not-in-any-log"));
        JobOptions o;
        job = Jobs(catalogue).create("job1", o, 20, 1, {"/dev/sdb", "/dev/sdc"});
    }
    static constexpr const char* kUidA = "60050768108001A2E800000000000001";
    static constexpr const char* kUidB = "60050768108001A2E800000000000002";
    zqtest::EngineEnvironment env;
    TempDir dir;
    Catalogue catalogue{dir.path + "/c.db"};
    Plugin plugin{ZQ_PLUGIN_PATH};
    JobEntry job;
};

TEST_F(Runner, AStepWritesEveryRecordAndItsLinesInOneGo) {
    JobRunner runner(catalogue, plugin, std::make_shared<NoHost>());
    StepOutcome outcome = runner.run(job, "identify", "zqso_processVPDInfo", "identified");
    EXPECT_EQ(outcome.result, 0);
    Jobs jobs(catalogue);
    auto records = jobs.records(job.id);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].arrayId, "0000020060C14A2C");
    EXPECT_EQ(records[1].lunUid, kUidB);
    auto lines = jobs.logLines(records[0].id);
    ASSERT_FALSE(lines.empty());
    bool started = false;
    for (const auto& l : lines) {
        started = started || l.text.find("Starting to process VPD for [2] devices.") != std::string::npos;
        EXPECT_EQ(l.text.find("not-in-any-log"), std::string::npos) << l.text;
    }
    EXPECT_TRUE(started);
    auto after = jobs.find("job1");
    EXPECT_EQ(after->state, "identified");
    EXPECT_EQ(after->step, "identify");
    EXPECT_EQ(after->stepState, "done");
    EXPECT_EQ(*after->stepResult, 0);

    // An entry point the plug-in does not export is refused before anything changes.
    EXPECT_THROW(runner.run(*after, "prepare", "zqso_noSuchEntry", "prepared"), PluginError);
    EXPECT_EQ(jobs.find("job1")->stepState, "done");
}

TEST_F(Runner, AFailureHalfWayThroughAStepLeavesTheCatalogueAsBefore) {
    int writes = 0;
    catalogue.setFaultHook([&](const std::string& point) {
        if (point == "write-record" && ++writes == 2) throw std::runtime_error("disk full");
    });
    JobRunner runner(catalogue, plugin, std::make_shared<NoHost>());
    EXPECT_THROW(runner.run(job, "identify", "zqso_processVPDInfo", "identified"), std::runtime_error);
    Jobs jobs(catalogue);
    for (const auto& r : jobs.records(job.id)) {
        EXPECT_EQ(r.arrayId, "");
        EXPECT_EQ(r.status, 0);
        EXPECT_TRUE(jobs.logLines(r.id).empty());
    }
    auto after = jobs.find("job1");
    EXPECT_EQ(after->state, "new");
    EXPECT_EQ(after->step, "identify");  // the step it was in
    EXPECT_EQ(after->stepState, "failed");

    catalogue.setFaultHook({});
    EXPECT_EQ(runner.run(*after, "identify", "zqso_processVPDInfo", "identified").result, 0);
    EXPECT_EQ(jobs.records(job.id)[1].arrayId, "0000020060C14A2C");
}

TEST(PluginLoader, ChecksTheFileItsExportsAndItsVersion) {
    Plugin p(ZQ_PLUGIN_PATH);
    EXPECT_EQ(p.version(), "1.0.0");
    EXPECT_TRUE(p.has("zqso_processVPDInfo"));
    EXPECT_TRUE(p.has("zqso_execSnapEngineOp"));
    EXPECT_EQ(Plugin::locate(ZQ_PLUGIN_PATH), ZQ_PLUGIN_PATH);

    auto reason = [](const std::string& path) {
        try {
            Plugin other(path);
        } catch (const PluginError& e) {
            return std::string(e.what());
        }
        return std::string("loaded");
    };
    EXPECT_NE(reason("/nonexistent/libzqsoibmsvc.so").find("cannot load the plug-in"), std::string::npos);
    EXPECT_NE(reason(ZQ_PLATFORM_PATH).find("is not a snapshot-engine plug-in"), std::string::npos);
    EXPECT_NE(reason(ZQ_FAKE_PLUGIN_PATH).find("is version 2.0.0; this svcsnap needs version 1.x"), std::string::npos);
    try {
        Plugin::locate("/nonexistent/libzqsoibmsvc.so");
        FAIL() << "located a missing plug-in";
    } catch (const PluginError& e) {
        EXPECT_NE(std::string(e.what()).find("give its path with --plugin"), std::string::npos);
    }
}

// What a record tells the engine of its copy: a name of its own in the job,
// the provider port and scheme of its array, and that array in later steps.
TEST(HostRecordTest, NamesItsCopyAndAnswersItsArraysProvider) {
    ArrayEntry plain = anArray("0000020060C14A2C", "pw");
    plain.port = 15988;
    plain.https = false;
    HostOSUtil os({plain, anArray("00000200AAAAAAAA", "pw2")}, 20,
                  HostContext{std::make_shared<NoHost>(), nullptr, nullptr});
    JobEntry job;
    job.name = "nightly";
    RecordEntry entry;
    entry.position = 2;
    entry.device = "/dev/sdd";
    HostRecord record(entry, job, os, recordSettings(job));
    EXPECT_EQ(record.snapName(), "nightly_3");

    int value = -1;
    EXPECT_NE(record.getConfigInt("SMCONFIG_NAME_SMIS_SERVER_PORT", &value), 0) << "no array chosen yet";
    ASSERT_EQ(record.selectArray("0000020060c14a2c"), 0);
    ASSERT_EQ(record.getConfigInt("SMCONFIG_NAME_SMIS_SERVER_PORT", &value), 0);
    EXPECT_EQ(value, 15988);
    ASSERT_EQ(record.getConfigInt("SMCONFIG_NAME_USE_SECURE_CONNECTION_TO_SMIS_SERVER", &value), 0);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(record.entry().arrayId, "0000020060c14a2c");
    EXPECT_NE(record.selectArray("00000200FFFFFFFF"), 0);

    // A record loaded for a later step finds its array through its copy.
    RecordEntry later;
    later.metadata[1] = "00000200AAAAAAAA*4*svc*src*path**snap*snappath*0";
    HostRecord next(later, job, os, recordSettings(job));
    char buf[512];
    uint16_t len = sizeof buf;
    ASSERT_EQ(next.getArrayInfo(buf, &len), 0);
    EXPECT_NE(std::string(buf).find("arrayId:00000200AAAAAAAA"), std::string::npos) << buf;
    ASSERT_EQ(next.getConfigInt("SMCONFIG_NAME_USE_SECURE_CONNECTION_TO_SMIS_SERVER", &value), 0);
    EXPECT_EQ(value, 1);
}
