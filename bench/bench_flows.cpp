// Prepare, snap and delete of a snapshot batch in one consistency group
// against the in-process simulator, every request answered after a fixed
// latency: wall time, requests per device, and the floor (the requests the
// flows' steps need, the parallel prepare counted as it runs, times the
// latency; the mandated sleeps run on the virtual clock and are reported apart).
//
//   bench_flows [--latency-ms N] [--sizes 1,8,64,256] [--breakdown] [--requests] [--csv FILE]
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
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

struct Options {
    int latencyMs = 20;
    std::vector<int> sizes{1, 8, 64, 256};
    bool breakdown = false;
    bool requests = false;  // every request of the first size, in order
    std::string csv;        // rows of the report appended (section,item,size,value,unit,ratio,against)
};

Options parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--latency-ms" && i + 1 < argc) {
            o.latencyMs = std::atoi(argv[++i]);
        } else if (arg == "--sizes" && i + 1 < argc) {
            o.sizes.clear();
            std::stringstream list(argv[++i]);
            for (std::string item; std::getline(list, item, ',');) o.sizes.push_back(std::atoi(item.c_str()));
        } else if (arg == "--breakdown") {
            o.breakdown = true;
        } else if (arg == "--requests") {
            o.requests = true;
        } else if (arg == "--csv" && i + 1 < argc) {
            o.csv = argv[++i];
        } else {
            std::fprintf(stderr, "usage: bench_flows [--latency-ms N] [--sizes 1,8,64,256] [--breakdown] [--requests] [--csv FILE]\n");
            std::exit(64);
        }
    }
    return o;
}

// Requests the flows' steps need per device and per batch, for a snapshot
// batch in a group, with what one record's turn learns kept for its turn
// (system, services, the provider's class prefix).
struct Floor {
    double prepareDevice = 0, prepareBatch = 0;
    double snapDevice = 0, snapBatch = 0;
    double deleteDevice = 0, deleteBatch = 0;
    double sleepsPrepare = 0, sleepsDelete = 0;  // virtual seconds
};

Floor floorFor(int devices) {
    Floor f;
    const bool group = devices >= 2;
    // Prepare, per record (worker): source by UID (concise list, shared per
    // provider, and the volume itself: 1), the system (1), the source's name (1),
    // the replication service and source pool (2), the volume's pool and I/O
    // group (3), create the volume (1), its UID (1), attach (1), the mapping (0:
    // the path is built), add to the group (1) or prepare the mapping (1).
    f.prepareDevice = 12;
    // Per batch: the concise list (1), the group made (look up, create: 2), its
    // prepare (1).
    f.prepareBatch = 1 + (group ? 3 : 0);
    // Snap: the group of the first copy (1) and its start (1); alone, the start
    // (1) and its confirmation (1).
    f.snapDevice = group ? 0 : 2;
    f.snapBatch = group ? 2 : 0;
    // Delete, per record: the target exists (1), its mapping from the target
    // (3: the target, its references, the source), the mapping's group (1), the
    // host mappings (1), the mapping's name (1), the stop (1: the service is
    // known), the stop polled (2: before and after the wait), detach (1), delete
    // the volume (1).
    f.deleteDevice = 13;
    // Per batch: the group's members (1) and its removal (2).
    f.deleteBatch = group ? 3 : 0;
    f.sleepsPrepare = group ? 2 : 1;
    f.sleepsDelete = 10.0 * devices;
    return f;
}

struct Phase {
    bool trace = false;
    double seconds = 0;
    size_t requests = 0;
    double virtualSeconds = 0;
    std::map<std::string, size_t> byKind;
};

std::string kindOf(const arraysim::LoggedRequest& r) {
    if (!r.method.empty()) return r.method;
    const std::string head = r.target.substr(0, r.target.find('.'));
    return r.operation + " " + head.substr(head.rfind(':') + 1);
}

template <class Run>
Phase measure(EngineSimFixture& fx, bool trace, Run&& run) {
    fx.sim().requestLog().clear();
    Phase p;
    p.trace = trace;
    const int64_t virtualStart = fx.clock().nowMs();
    const auto start = std::chrono::steady_clock::now();
    const int result = run();
    p.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    p.virtualSeconds = double(fx.clock().nowMs() - virtualStart) / 1000.0;
    if (result != 0) std::fprintf(stderr, "a flow returned %d\n", result);
    for (const auto& r : fx.sim().requestLog().snapshot()) {
        ++p.byKind[kindOf(r)];
        if (p.trace) std::printf("    %s %s\n", r.operation.c_str(), r.method.empty() ? r.target.substr(0, 160).c_str() : r.method.c_str());
    }
    p.requests = fx.sim().requestLog().size();
    return p;
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
    std::printf("latency %d ms per request; snapshot batch in one group; prepare + snap + delete\n",
                options.latencyMs);
    std::printf("%8s %10s %10s %8s %10s %12s %10s %7s\n", "devices", "wall s", "floor s", "ratio", "req/dev",
                "floor req/dev", "virtual s", "sleeps");
    for (int devices : options.sizes) {
        ZqCimUtil::ClearSharedCaches();
        EngineSimFixture fx;
        fx.setEngineId(20);
        std::vector<std::string> sources;
        auto batch = fx.makeBatch(size_t(devices));
        for (int i = 0; i < devices; ++i) {
            const std::string name = "vol" + std::to_string(i);
            fx.addSource(name);
            fx.addHostDisk(name, "/dev/disk-" + name);
            (*batch)[size_t(i)].setSourceDevicePath("/dev/disk-" + name);
            (*batch)[size_t(i)].setSnapName("bench_" + name);
            (*batch)[size_t(i)].setConfig("SMCONFIG_NAME_IBMSVC_CONSISTENCY_GROUP", 1);
        }
        fx.sim().faults().add(arraysim::Fault::latency("*", options.latencyMs));
        RecordBatch& b = *batch;
        const Phase prepare = measure(fx, options.requests, [&] { return zqso_prepareDevices(b.records(), b.count(), b.os()); });
        const Phase snap = measure(fx, options.requests, [&] { return zqso_snapDevices(b.records(), b.count(), b.os()); });
        const Phase remove = measure(fx, options.requests, [&] { return zqso_deleteSnaps(b.records(), b.count(), b.os()); });

        const Floor f = floorFor(devices);
        const double latency = options.latencyMs / 1000.0;
        const int workers = std::min(devices, 16);
        const double floorRequests = f.prepareDevice * devices + f.prepareBatch + f.snapDevice * devices +
                                     f.snapBatch + f.deleteDevice * devices + f.deleteBatch;
        const double floorSeconds =
            latency * (f.prepareDevice * std::ceil(double(devices) / workers) + f.prepareBatch +
                       f.snapDevice * devices + f.snapBatch + f.deleteDevice * devices + f.deleteBatch);
        const double wall = prepare.seconds + snap.seconds + remove.seconds;
        const size_t requests = prepare.requests + snap.requests + remove.requests;
        std::printf("%8d %10.2f %10.2f %8.2f %10.1f %12.1f %10.0f %7.0f\n", devices, wall, floorSeconds,
                    wall / floorSeconds, double(requests) / devices, floorRequests / devices,
                    prepare.virtualSeconds + snap.virtualSeconds + remove.virtualSeconds,
                    f.sleepsPrepare + f.sleepsDelete);
        if (csv) {
            std::fprintf(csv, "engine,wall time,%d,%.2f,s,%.2f,floor %.2f s at %d ms per request\n", devices, wall,
                         wall / floorSeconds, floorSeconds, options.latencyMs);
            std::fprintf(csv, "engine,requests per device,%d,%.1f,requests,%.2f,floor %.1f\n", devices,
                         double(requests) / devices, double(requests) / floorRequests, floorRequests / devices);
            const double phaseFloor[] = {f.prepareDevice * devices + f.prepareBatch, f.snapDevice * devices + f.snapBatch,
                                         f.deleteDevice * devices + f.deleteBatch};
            const Phase* phases[] = {&prepare, &snap, &remove};
            const char* names[] = {"prepare", "snap", "delete"};
            for (int i = 0; i < 3; ++i)
                std::fprintf(csv, "engine,%s requests per device,%d,%.1f,requests,%.2f,floor %.1f\n", names[i], devices,
                             double(phases[i]->requests) / devices, double(phases[i]->requests) / phaseFloor[i],
                             phaseFloor[i] / devices);
        }
        if (options.breakdown) {
            for (const auto* phase : {&prepare, &snap, &remove}) {
                const char* name = phase == &prepare ? "prepare" : phase == &snap ? "snap" : "delete";
                std::printf("  %s: %.2f s, %zu requests (%.1f per device), virtual %.0f s\n", name, phase->seconds,
                            phase->requests, double(phase->requests) / devices, phase->virtualSeconds);
                for (const auto& kind : phase->byKind)
                    std::printf("    %-60s %8.2f\n", kind.first.c_str(), double(kind.second) / devices);
            }
        }
    }
    if (csv) std::fclose(csv);
    return 0;
}
