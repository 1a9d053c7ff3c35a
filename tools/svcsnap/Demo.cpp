#include "Demo.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <set>

#include "ArraySimulator.h"
#include "Arrays.h"
#include "Commands.h"
#include "Flows.h"
#include "Jobs.h"
#include "SimHttpServer.h"
#include "ZqClock.h"
#include "ZqPlatformRegistry.h"
#include "zqso/ZqsoTypes.h"

namespace svcsnap {

using nlohmann::json;
namespace fs = std::filesystem;

namespace {

const char* kHost = "demo_host";
const char* kInitiator = "2100000E1E30A001";
const char* kJob = "demo";
constexpr int kSources = 4;
constexpr uint64_t kGiB = 1ull << 30;

std::string randomPassword() {
    std::random_device device;
    std::string text = "demo-";
    const char* hex = "0123456789abcdef";
    for (int i = 0; i < 24; ++i) text += hex[device() % 16];
    return text;
}

// A directory of the demo's own, removed at the end unless kept.
class WorkDir {
public:
    explicit WorkDir(bool keep) : keep_(keep) {
        std::string pattern = (fs::temp_directory_path() / "svcsnap-demo-XXXXXX").string();
        if (!mkdtemp(pattern.data())) throw CommandFailed("cannot make a directory for the demo in /tmp");
        path_ = pattern;
    }
    ~WorkDir() {
        std::error_code ec;
        if (!keep_) fs::remove_all(path_, ec);
    }
    const std::string& path() const { return path_; }

private:
    bool keep_;
    std::string path_;
};

// Installs a clock for the demo and puts the previous one back.
class DemoClock {
public:
    explicit DemoClock(double scale)
        : clock_(std::make_shared<zq::platform::ScaledClock>(scale)),
          previous_(zq::platform::registry().clock.replace(clock_)) {}
    ~DemoClock() { zq::platform::registry().clock.replace(previous_); }
    // The demo's own waits: not reported as the engine's.
    zq::platform::Clock& base() { return *clock_; }

private:
    std::shared_ptr<zq::platform::Clock> clock_;
    std::shared_ptr<zq::platform::Clock> previous_;
};

// What the array holds, in the terms the demo checks.
struct ArrayView {
    std::map<std::string, uint64_t> generation;  // volume name -> data generation
    std::set<std::string> volumes;
    struct Copy {
        std::string name, source, target, state;
        std::string group;  // empty: none
    };
    std::vector<Copy> copies;
    std::set<std::string> groups;
    std::map<std::string, std::set<std::string>> hostsOf;  // volume name -> host names
};

ArrayView readArray(arraysim::ArraySimulator& sim) {
    return sim.withModel([](arraysim::Model& m, int64_t) {
        ArrayView v;
        const auto& s = m.state;
        auto name = [&](uint32_t id) {
            const auto* vol = s.volume(id);
            return vol ? vol->name : std::string("#") + std::to_string(id);
        };
        for (const auto& [id, vol] : s.volumes) {
            v.volumes.insert(vol.name);
            v.generation[vol.name] = vol.generation;
        }
        for (const auto& [id, g] : s.groups) v.groups.insert(g.name);
        for (const auto& [id, fc] : s.fcMappings) {
            ArrayView::Copy c{fc.name, name(fc.sourceId), name(fc.targetId), arraysim::fcStateName(fc.state), ""};
            auto g = s.groups.find(fc.groupId);
            if (g != s.groups.end()) c.group = g->second.name;
            v.copies.push_back(c);
        }
        for (const auto& [key, mapping] : s.hostMappings) {
            auto h = s.hosts.find(key.first);
            v.hostsOf[name(key.second)].insert(h != s.hosts.end() ? h->second.name : "?");
        }
        return v;
    });
}

// One step's verdict: what was checked on the array and the host.
class Checks {
public:
    void expect(bool ok, const std::string& what) {
        results_.push_back({ok, what});
        if (!ok) failed_ = true;
    }
    bool failed() const { return failed_; }
    void report(Output& out, json& step) {
        json list = json::array();
        for (const auto& [ok, what] : results_) {
            out.line(std::string(ok ? "  ok    " : "  FAIL  ") + what);
            list.push_back({{"ok", ok}, {"check", what}});
        }
        step["checks"] = list;
        step["ok"] = !failed_;
        results_.clear();
        failed_ = false;
    }

private:
    std::vector<std::pair<bool, std::string>> results_;
    bool failed_ = false;
};

class Demo {
public:
    Demo(const GlobalOptions& global, Output& out, const DemoOptions& options)
        : global_(global), out_(out), options_(options), clock_(options.timeScale) {}

    int run();

private:
    void seed();
    void configure();
    // Runs steps of the job and returns the records of the last one.
    std::vector<RecordEntry> step(const std::string& title, const std::vector<std::string>& steps);
    void endStep(Checks& checks);
    size_t count(const std::vector<RecordEntry>& records, int status) const;
    // Waits on the engine's clock, bounded, until no copy reads from a target.
    bool waitForRestores(const std::map<std::string, std::string>& target);
    std::string targetOf(const RecordEntry& record, const ArrayView& view) const;

    const GlobalOptions& global_;
    Output& out_;
    DemoOptions options_;
    DemoClock clock_;  // goes last: the agent puts its clock back first
    std::unique_ptr<WorkDir> dir_;
    std::unique_ptr<arraysim::ArraySimulator> sim_;
    std::unique_ptr<arraysim::SimHttpServer> server_;
    std::unique_ptr<Agent> agent_;
    std::string password_;
    std::vector<std::string> sources_, devices_;
    json steps_ = json::array();
    json* current_ = nullptr;
    int stepNumber_ = 0;
    bool failed_ = false;
};

void Demo::seed() {
    using namespace arraysim;
    sim_ = std::make_unique<ArraySimulator>();
    password_ = randomPassword();
    sim_->setCredentials({"superuser", password_});
    ServerOptions server;
    server.httpsPort = 0;
    server.threads = 8;
    server_ = std::make_unique<SimHttpServer>(*sim_, server);
    server_->start();
    if (sim_->addHost(kHost, {kInitiator}).rc != 0) throw CommandFailed("the simulator refused the demo's host");
    for (int i = 0; i < kSources; ++i) {
        std::string name = "demo_db" + std::to_string(i);
        if (sim_->addVolume(name, "Pool0", kGiB).rc != 0) throw CommandFailed("the simulator refused volume " + name);
        sim_->mapToHost(kHost, name);
        sim_->hostWrite(name, 100);
        sources_.push_back(name);
    }
}

void Demo::configure() {
    const std::string ini = dir_->path() + "/svcsnap.ini";
    std::ofstream(ini) << "[svcsnap]\n"
                       << "catalogue = " << dir_->path() << "/catalogue.db\n"
                       << "debug_log = " << dir_->path() << "/debug.log\n"
                       << "devices = simulated\n"
                       << "sim_initiators = " << kInitiator << "\n";
    GlobalOptions options = global_;
    options.config = ini;
    options.catalogue.clear();
    options.plugin = global_.plugin;
    agent_ = std::make_unique<Agent>(options);
    ArrayEntry array;
    array.address = "127.0.0.1";
    array.port = server_->httpsPort();
    array.https = true;
    array.user = "superuser";
    array.password = password_;
    array.arrayId = sim_->withModel([](arraysim::Model& m, int64_t) { return m.state.cluster.id; });
    array.name = "svcsim (in-process)";
    Arrays(agent_->catalogue()).put(array);
}

bool Demo::waitForRestores(const std::map<std::string, std::string>& target) {
    std::set<std::string> targets;
    for (const auto& [device, name] : target) targets.insert(name);
    auto reverse = [&] {
        size_t n = 0;
        for (const auto& c : readArray(*sim_).copies)
            if (targets.count(c.source)) ++n;
        return n;
    };
    constexpr int64_t kPollMs = 10000, kLimitMs = 4 * 3600 * 1000;
    zq::platform::Clock& clock = clock_.base();
    const int64_t start = clock.nowMs();
    size_t left = reverse();
    while (left > 0 && clock.nowMs() - start < kLimitMs) {
        clock.sleepMs(kPollMs);
        left = reverse();
    }
    const int64_t waited = (clock.nowMs() - start) / 1000;
    out_.line("  reverse copies left after " + std::to_string(waited) + " s of array time: " + std::to_string(left));
    return left == 0;
}

size_t Demo::count(const std::vector<RecordEntry>& records, int status) const {
    size_t n = 0;
    for (const auto& r : records)
        if (r.status == status) ++n;
    return n;
}

// The target volume of a record's copy: the last field but two of its
// unique identifier names the target by its uid.
std::string Demo::targetOf(const RecordEntry& record, const ArrayView&) const {
    auto id = record.metadata.find(ZQSO::SM_MDT_UNIQUE_ID);
    if (id == record.metadata.end()) return "";
    std::vector<std::string> fields;
    size_t at = 0;
    while (true) {
        size_t star = id->second.find('*', at);
        fields.push_back(id->second.substr(at, star == std::string::npos ? std::string::npos : star - at));
        if (star == std::string::npos) break;
        at = star + 1;
    }
    if (fields.size() < 7) return "";
    const std::string uid = fields[6];
    auto same = [](const std::string& a, const std::string& b) {
        return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
                   return std::toupper((unsigned char)x) == std::toupper((unsigned char)y);
               });
    };
    return sim_->withModel([&](arraysim::Model& m, int64_t) {
        for (const auto& [vid, vol] : m.state.volumes)
            if (same(vol.uid, uid) || vol.name == uid) return vol.name;
        return std::string();
    });
}

std::vector<RecordEntry> Demo::step(const std::string& title, const std::vector<std::string>& steps) {
    ++stepNumber_;
    out_.line("");
    out_.line("== " + std::to_string(stepNumber_) + ". " + title);
    out_.flush();
    steps_.push_back({{"step", stepNumber_}, {"title", title}});
    current_ = &steps_.back();
    auto job = Jobs(agent_->catalogue()).find(kJob);
    StepReport last;
    json saved = out_.doc()["steps"];
    out_.doc()["steps"] = json::array();
    for (const auto& s : steps) {
        last = runStep(*agent_, out_, *job, s);
        job = Jobs(agent_->catalogue()).find(kJob);
    }
    (*current_)["engine"] = out_.doc()["steps"];
    out_.doc()["steps"] = saved;
    return last.outcome.records;
}

void Demo::endStep(Checks& checks) {
    if (checks.failed()) failed_ = true;
    checks.report(out_, *current_);
    out_.flush();
}

int Demo::run() {
    const auto started = std::chrono::steady_clock::now();
    dir_ = std::make_unique<WorkDir>(options_.keep);
    seed();
    configure();
    Checks checks;

    out_.line("svcsnap demo: a simulated IBM SVC cluster in this process (HTTPS port " +
              std::to_string(server_->httpsPort()) + "), host " + kHost + " with initiator " + kInitiator + ", " +
              std::to_string(kSources) + " source volumes of 1 GiB; engine time runs " +
              std::to_string(int(1 / options_.timeScale + 0.5)) + " times faster than real time");
    if (options_.keep) out_.line("working directory (kept): " + dir_->path());

    // The host finds its source disks.
    ++stepNumber_;
    out_.line("");
    out_.line("== " + std::to_string(stepNumber_) + ". the host rescans and finds its disks");
    out_.flush();
    steps_.push_back({{"step", stepNumber_}, {"title", "the host finds its disks"}});
    current_ = &steps_.back();
    agent_->plugin();
    auto backend = agent_->host().backend;
    backend->rescan({});
    devices_ = backend->devices("IBM");
    out_.line("host disks after a rescan: " + [&] {
        std::string text;
        for (const auto& d : devices_) text += (text.empty() ? "" : " ") + d;
        return text;
    }());
    checks.expect(devices_.size() == size_t(kSources), "the host sees its " + std::to_string(kSources) + " source disks");
    endStep(checks);
    if (devices_.size() != size_t(kSources)) return out_.finish(kExitFailed, "the host does not see its source disks");

    std::map<std::string, uint64_t> snapGeneration = readArray(*sim_).generation;
    JobOptions options;
    options.useGroup = true;
    Jobs(agent_->catalogue()).create(kJob, options, 20, 1, devices_);

    // 1. Snapshot in a consistency group.
    auto records = step("snapshot of the four disks in a consistency group", {"prepare", "snap"});
    ArrayView view = readArray(*sim_);
    checks.expect(count(records, ZQSO::SNAP_STATUS_SNAP_STARTED) == records.size(), "every copy started");
    std::set<std::string> copiedSources, groupsUsed;
    bool allCopying = !view.copies.empty();
    for (const auto& c : view.copies) {
        copiedSources.insert(c.source);
        groupsUsed.insert(c.group);
        if (c.state != "copying" && c.state != "idle_or_copied") allCopying = false;
    }
    checks.expect(view.copies.size() == size_t(kSources) && copiedSources.size() == size_t(kSources),
                  "the array holds one FlashCopy mapping per source (" + std::to_string(view.copies.size()) + ")");
    checks.expect(groupsUsed.size() == 1 && !groupsUsed.begin()->empty(),
                  "all mappings are in one consistency group" +
                      (groupsUsed.size() == 1 ? " (" + *groupsUsed.begin() + ")" : std::string()));
    checks.expect(allCopying, "the mappings are started on the array");
    std::map<std::string, std::string> target;  // device -> target volume
    for (const auto& r : records) target[r.device] = targetOf(r, view);
    bool targetsKnown = true;
    for (const auto& [device, name] : target)
        if (name.empty() || !view.volumes.count(name)) targetsKnown = false;
    checks.expect(targetsKnown, "each record names its target volume on the array");
    endStep(checks);

    // 2. Mapped state.
    records = step("status: are the copies mapped?", {"status"});
    checks.expect(count(records, ZQSO::SNAP_STATUS_NOT_MAPPED) == records.size(), "no copy is mapped to a host");
    endStep(checks);

    // 3. Map.
    records = step("map the copies to this host", {"map"});
    view = readArray(*sim_);
    auto hostDisks = backend->devices("IBM");
    bool mappedHere = true, found = true;
    std::set<std::string> paths;
    for (const auto& r : records) {
        if (!view.hostsOf[target[r.device]].count(kHost)) mappedHere = false;
        if (r.snapDevicePath.empty() ||
            std::find(hostDisks.begin(), hostDisks.end(), r.snapDevicePath) == hostDisks.end())
            found = false;
        paths.insert(r.snapDevicePath);
    }
    checks.expect(count(records, ZQSO::SNAP_STATUS_MAPPED_VISIBLE) == records.size(),
                  "every copy is mapped and visible as a disk");
    checks.expect(mappedHere, "the array maps every target volume to " + std::string(kHost));
    checks.expect(found && paths.size() == records.size(), "each copy's disk is a distinct disk of the host");
    endStep(checks);

    // 4. Unmap.
    records = step("unmap the copies", {"unmap"});
    view = readArray(*sim_);
    bool unmapped = true;
    for (const auto& [device, name] : target)
        if (!view.hostsOf[name].empty()) unmapped = false;
    checks.expect(count(records, ZQSO::SNAP_STATUS_NOT_MAPPED) == records.size(), "every copy is unmapped");
    checks.expect(unmapped, "no target volume is mapped to any host on the array");
    endStep(checks);

    // 5. A write to a source.
    ++stepNumber_;
    out_.line("");
    out_.line("== " + std::to_string(stepNumber_) + ". the host writes to " + sources_[0]);
    steps_.push_back({{"step", stepNumber_}, {"title", "the host writes to " + sources_[0]}});
    current_ = &steps_.back();
    const uint64_t before = readArray(*sim_).generation[sources_[0]];
    const uint64_t after = sim_->hostWrite(sources_[0], 20);
    out_.line("  data generation of " + sources_[0] + ": " + std::to_string(before) + " -> " + std::to_string(after));
    checks.expect(after != snapGeneration[sources_[0]], sources_[0] + " holds new data");
    endStep(checks);

    // 6. Revert.
    records = step("revert the sources from their snapshots", {"revert"});
    view = readArray(*sim_);
    bool restored = true;
    for (const auto& s : sources_) {
        const bool same = view.generation[s] == snapGeneration[s];
        if (!same) restored = false;
        out_.line("  " + s + ": generation " + std::to_string(view.generation[s]) + ", snapshot's " +
                  std::to_string(snapGeneration[s]));
    }
    checks.expect(count(records, ZQSO::SNAP_STATUS_RESTORED) == records.size(), "every source is restored");
    checks.expect(restored, "every source holds its snapshot's data generation again");
    // The reverse copies run on in the background and go away once done
    // (autodelete); the copies cannot be deleted before.
    checks.expect(waitForRestores(target), "the reverse copies finish and leave the array");
    endStep(checks);

    // 7. Reconcile after a copy is deleted on the array.
    const RecordEntry gone = records.back();
    const std::string goneTarget = target[gone.device];
    ++stepNumber_;
    out_.line("");
    out_.line("== " + std::to_string(stepNumber_) + ". another administrator deletes the copy of " + gone.device +
              " (" + goneTarget + ") on the array");
    steps_.push_back({{"step", stepNumber_}, {"title", "copy deleted on the array"}});
    current_ = &steps_.back();
    checks.expect(sim_->vanish("volume", goneTarget), goneTarget + " and its mapping are gone from the array");
    endStep(checks);
    records = step("reconcile the job with the array", {"reconcile"});
    bool othersKept = true;
    for (const auto& r : records)
        if (r.device != gone.device && r.status == ZQSO::SNAP_STATUS_DELETED_OUTSIDE) othersKept = false;
    size_t goneIndex = 0;
    for (size_t i = 0; i < records.size(); ++i)
        if (records[i].device == gone.device) goneIndex = i;
    checks.expect(records[goneIndex].status == ZQSO::SNAP_STATUS_DELETED_OUTSIDE,
                  gone.device + " is marked deleted outside the engine");
    checks.expect(othersKept, "the other copies are still known");
    endStep(checks);

    // 8. Delete.
    records = step("delete the copies", {"delete"});
    view = readArray(*sim_);
    std::set<std::string> expectedVolumes(sources_.begin(), sources_.end());
    checks.expect(count(records, ZQSO::SNAP_STATUS_DELETED) + count(records, ZQSO::SNAP_STATUS_DELETED_OUTSIDE) ==
                      records.size(),
                  "every record is deleted");
    checks.expect(view.copies.empty(), "no FlashCopy mapping is left (" + std::to_string(view.copies.size()) + ")");
    checks.expect(view.groups.empty(), "no consistency group is left (" + std::to_string(view.groups.size()) + ")");
    checks.expect(view.volumes == expectedVolumes,
                  "only the source volumes are left (" + std::to_string(view.volumes.size()) + " volumes)");
    endStep(checks);

    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    char took[32];
    std::snprintf(took, sizeof took, "%.1f", seconds);
    out_.doc()["steps"] = steps_;
    out_.doc()["seconds"] = seconds;
    out_.doc()["passed"] = !failed_;
    out_.line("");
    const std::string verdict = failed_ ? "demo FAILED: a step did not do what it should (see FAIL above)"
                                        : "demo passed: every step did what it should, in " + std::string(took) +
                                              " s";
    out_.line(verdict);
    agent_.reset();
    server_->stop();
    return out_.finish(failed_ ? kExitFailed : kExitOk, failed_ ? verdict : "");
}

}  // namespace

int runDemo(const GlobalOptions& global, Output& out, const DemoOptions& options) {
    Demo demo(global, out, options);
    return demo.run();
}

}  // namespace svcsnap
