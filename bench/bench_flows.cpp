// Every flow of the engine on one snapshot batch in a consistency group,
// against the in-process simulator with every request answered after a
// fixed latency: prepare, snap, mapped-state query, map, unmap, revert,
// reconcile and delete, for batches of several sizes.
//
// Per flow and size: wall time (the requests' latency, real time), waits (the
// engine clock: the mandated sleeps and polls, which cost no real time on the
// simulator's virtual clock), engine time at 2 s per request (the waits plus
// the wall time at a time scale of latency / 2 s, as a provider that answers
// after 2 s of engine time would give), and requests per device. Each stands
// beside its floor: the flow's requests split into what one record needs (r)
// and what the batch needs once (b), fitted from the one-device run and this
// run, r at the pool's width and b one after another, and the one-device
// run's waits taken once.
//
//   bench_flows [--latency-ms N] [--sizes 1,16,64,256] [--flows a,b] [--breakdown] [--requests] [--csv FILE]
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "EngineSimFixture.h"
#include "ZqCimUtil.h"
#include "ZqDebugLogSink.h"
#include "ZqPlatformRegistry.h"
#include "zqso/zqso.h"

namespace {

using zqtest::EngineSimFixture;
using zqtest::RecordBatch;

constexpr int kPoolWidth = 16;                 // workers of a phase
constexpr double kEngineSecondsPerRequest = 2;  // what the latency stands for
const char* const kWwpn = "21:00:00:24:ff:4a:bc:de";
const char* const kWwpnOnArray = "21000024FF4ABCDE";

const std::vector<std::string>& flowNames() {
    static const std::vector<std::string> names{"prepare", "snap", "mapped-state", "map",
                                                "unmap",   "revert", "reconcile", "delete"};
    return names;
}

struct Options {
    int latencyMs = 20;
    std::vector<int> sizes{1, 16, 64, 256};
    std::set<std::string> flows;  // empty: all
    bool breakdown = false;
    bool requests = false;  // every request of the first size, in order
    std::string csv;        // rows appended (section,item,size,value,unit,ratio,against)
};

std::vector<std::string> split(const std::string& text) {
    std::vector<std::string> items;
    std::stringstream list(text);
    for (std::string item; std::getline(list, item, ',');)
        if (!item.empty()) items.push_back(item);
    return items;
}

[[noreturn]] void usage() {
    std::fprintf(stderr,
                 "usage: bench_flows [--latency-ms N] [--sizes 1,16,64,256] [--flows prepare,snap,...] "
                 "[--breakdown] [--requests] [--csv FILE]\n");
    std::exit(64);
}

Options parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--latency-ms" && i + 1 < argc) {
            o.latencyMs = std::atoi(argv[++i]);
        } else if (arg == "--sizes" && i + 1 < argc) {
            o.sizes.clear();
            for (const auto& item : split(argv[++i])) o.sizes.push_back(std::atoi(item.c_str()));
        } else if (arg == "--flows" && i + 1 < argc) {
            for (const auto& item : split(argv[++i])) {
                if (std::find(flowNames().begin(), flowNames().end(), item) == flowNames().end()) usage();
                o.flows.insert(item);
            }
        } else if (arg == "--breakdown") {
            o.breakdown = true;
        } else if (arg == "--requests") {
            o.requests = true;
        } else if (arg == "--csv" && i + 1 < argc) {
            o.csv = argv[++i];
        } else {
            usage();
        }
    }
    if (o.latencyMs < 1) usage();
    // The floors are fitted against the one-device run.
    o.sizes.erase(std::remove_if(o.sizes.begin(), o.sizes.end(), [](int n) { return n < 1; }), o.sizes.end());
    if (std::find(o.sizes.begin(), o.sizes.end(), 1) == o.sizes.end()) o.sizes.insert(o.sizes.begin(), 1);
    std::sort(o.sizes.begin(), o.sizes.end());
    o.sizes.erase(std::unique(o.sizes.begin(), o.sizes.end()), o.sizes.end());
    return o;
}

struct Measured {
    double wallSeconds = 0;
    double waitSeconds = 0;  // engine clock
    size_t requests = 0;
    int result = 0;
    std::map<std::string, size_t> byKind;
};

std::string kindOf(const arraysim::LoggedRequest& r) {
    if (!r.method.empty()) return r.method;
    const std::string head = r.target.substr(0, r.target.find('.'));
    return r.operation + " " + head.substr(head.rfind(':') + 1);
}

template <class Run>
Measured measure(EngineSimFixture& fx, bool trace, Run&& run) {
    fx.sim().requestLog().clear();
    Measured m;
    const int64_t virtualStart = fx.clock().nowMs();
    const auto start = std::chrono::steady_clock::now();
    m.result = run();
    m.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    m.waitSeconds = double(fx.clock().nowMs() - virtualStart) / 1000.0;
    for (const auto& r : fx.sim().requestLog().snapshot()) {
        ++m.byKind[kindOf(r)];
        if (trace) std::printf("    %s %s\n", r.operation.c_str(), r.method.empty() ? r.target.substr(0, 160).c_str() : r.method.c_str());
    }
    m.requests = fx.sim().requestLog().size();
    return m;
}

// One batch of `devices` snapshots through every flow.
std::map<std::string, Measured> runFlows(const Options& options, int devices) {
    ZqCimUtil::ClearSharedCaches();
    EngineSimFixture fx;
    fx.setEngineId(20);
    fx.host().setInitiators({{kWwpn, false}});
    fx.addHost("testhost", {kWwpnOnArray});
    std::vector<std::string> sources;
    auto batch = fx.makeBatch(size_t(devices));
    for (int i = 0; i < devices; ++i) {
        const std::string name = "vol" + std::to_string(i);
        fx.addSource(name);
        fx.addHostDisk(name, "/dev/disk-" + name);
        sources.push_back(name);
        (*batch)[size_t(i)].setSourceDevicePath("/dev/disk-" + name);
        (*batch)[size_t(i)].setSnapName("bench_" + name);
        (*batch)[size_t(i)].setConfig("SMCONFIG_NAME_IBMSVC_CONSISTENCY_GROUP", 1);
    }
    fx.sim().faults().add(arraysim::Fault::latency("*", options.latencyMs));
    RecordBatch& b = *batch;
    const bool trace = options.requests && devices == options.sizes.front();
    auto wanted = [&](const std::string& flow) { return options.flows.empty() || options.flows.count(flow) != 0; };

    std::map<std::string, Measured> out;
    auto step = [&](const std::string& flow, const std::function<int()>& run) {
        if (trace) std::printf("  %s:\n", flow.c_str());
        // a flow not asked for still runs, to bring the batch to the next one
        Measured m = measure(fx, trace && wanted(flow), run);
        if (m.result != 0) std::fprintf(stderr, "%s of %d devices returned %d\n", flow.c_str(), devices, m.result);
        if (wanted(flow)) out[flow] = m;
    };
    step("prepare", [&] { return zqso_prepareDevices(b.records(), b.count(), b.os()); });
    step("snap", [&] { return zqso_snapDevices(b.records(), b.count(), b.os()); });
    step("mapped-state", [&] { return zqso_isMapped(b.records(), b.count(), b.os()); });
    step("map", [&] { return zqso_mapSnaps(b.records(), b.count(), b.os()); });
    step("unmap", [&] { return zqso_unmapSnaps(b.records(), b.count(), b.os()); });
    for (const auto& source : sources) fx.sim().hostWrite(source);
    step("revert", [&] { return zqso_revertSnaps(b.records(), b.count(), b.os()); });
    // the reverse copies run to their end before the copies are checked and removed
    fx.clock().advanceMs(4 * 3600 * 1000);
    step("reconcile", [&] { return zqso_reconcileSnaps(b.records(), b.count(), b.os()); });
    step("delete", [&] { return zqso_deleteSnaps(b.records(), b.count(), b.os()); });
    return out;
}

struct Floor {
    double perRecord = 0;  // requests
    double perBatch = 0;
    double wallSeconds = 0;
    double waitSeconds = 0;
    double engineSeconds = 0;
};

// r and b from the one-device run (b + r requests) and this one (b + n r).
Floor floorOf(const Measured& one, const Measured& m, int devices, double latency, double scale) {
    Floor f;
    if (devices > 1) {
        f.perRecord = (double(m.requests) - double(one.requests)) / double(devices - 1);
        f.perBatch = double(one.requests) - f.perRecord;
        if (f.perRecord < 0) f.perRecord = 0;
        if (f.perBatch < 0) {
            f.perBatch = 0;
            f.perRecord = double(m.requests) / devices;
        }
    } else {
        f.perRecord = double(one.requests);
    }
    const double rounds = std::ceil(double(devices) / kPoolWidth);
    f.wallSeconds = latency * (f.perBatch + f.perRecord * rounds);
    f.waitSeconds = one.waitSeconds;
    f.engineSeconds = f.waitSeconds + f.wallSeconds / scale;
    return f;
}

}  // namespace

int main(int argc, char** argv) {
    const Options options = parse(argc, argv);
    zq::platform::registry().debugLog.replace(std::make_shared<zq::platform::FileDebugLog>("/dev/null"));
    FILE* csv = nullptr;
    if (!options.csv.empty() && !(csv = std::fopen(options.csv.c_str(), "a"))) {
        std::perror(options.csv.c_str());
        return 1;
    }
    const double latency = options.latencyMs / 1000.0;
    const double scale = latency / kEngineSecondsPerRequest;
    std::printf("latency %d ms per request (engine time at %.0f s per request); snapshot batch in one group;"
                " pool width %d\n",
                options.latencyMs, kEngineSecondsPerRequest, kPoolWidth);
    std::printf("%-13s %7s %9s %9s %6s %9s %9s %10s %10s %6s %8s %7s\n", "flow", "devices", "wall s", "floor s",
                "ratio", "waits s", "floor", "engine s", "floor", "ratio", "req/dev", "x 1 dev");

    std::map<std::string, Measured> one;
    for (int devices : options.sizes) {
        const std::map<std::string, Measured> runs = runFlows(options, devices);
        if (devices == 1) one = runs;
        for (const std::string& flow : flowNames()) {
            auto it = runs.find(flow);
            if (it == runs.end()) continue;
            const Measured& m = it->second;
            const Measured& single = one.at(flow);
            const Floor f = floorOf(single, m, devices, latency, scale);
            const double engine = m.waitSeconds + m.wallSeconds / scale;
            const double singleEngine = single.waitSeconds + single.wallSeconds / scale;
            const double perDevice = double(m.requests) / devices;
            std::printf("%-13s %7d %9.2f %9.2f %6.2f %9.0f %9.0f %10.0f %10.0f %6.2f %8.1f %7.2f\n", flow.c_str(),
                        devices, m.wallSeconds, f.wallSeconds, m.wallSeconds / f.wallSeconds, m.waitSeconds,
                        f.waitSeconds, engine, f.engineSeconds, engine / f.engineSeconds, perDevice,
                        engine / singleEngine);
            if (csv) {
                std::fprintf(csv, "engine,%s wall time,%d,%.2f,s,%.2f,floor %.2f s at %d ms per request\n", flow.c_str(),
                             devices, m.wallSeconds, m.wallSeconds / f.wallSeconds, f.wallSeconds, options.latencyMs);
                std::fprintf(csv,
                             "engine,%s engine time,%d,%.0f,s,%.2f,floor %.0f s (waits %.0f s once and %.0f s per "
                             "request)\n",
                             flow.c_str(), devices, engine, engine / f.engineSeconds, f.engineSeconds, f.waitSeconds,
                             kEngineSecondsPerRequest);
                std::fprintf(csv, "engine,%s engine time against 1 device,%d,%.0f,s,%.2f,1 device %.0f s\n", flow.c_str(),
                             devices, engine, engine / singleEngine, singleEngine);
                std::fprintf(csv, "engine,%s waits,%d,%.0f,s,%.2f,1 device %.0f s\n", flow.c_str(), devices,
                             m.waitSeconds, single.waitSeconds > 0 ? m.waitSeconds / single.waitSeconds : 1.0,
                             single.waitSeconds);
                std::fprintf(csv, "engine,%s requests per device,%d,%.1f,requests,%.2f,1 device %zu\n", flow.c_str(),
                             devices, perDevice, perDevice / double(single.requests), single.requests);
            }
            if (options.breakdown) {
                std::printf("    %zu requests, result %d\n", m.requests, m.result);
                for (const auto& kind : m.byKind)
                    std::printf("      %-58s %8.2f\n", kind.first.c_str(), double(kind.second) / devices);
            }
        }
        std::fflush(stdout);
    }
    if (csv) std::fclose(csv);
    return 0;
}
