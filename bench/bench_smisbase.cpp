// Volume lookups by unique id on a simulated cluster of 50,000 volumes:
// GetVolObjPathByUUID without and with the shared volume list, and
// GetIBMSVCVolObjPathByUUID through the concise volumes. Reports the time
// per lookup and the requests each lookup sent (from the simulator's log).
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <vector>

#include "ClusterGenerator.h"
#include "ScopedHostSettings.h"
#include "ZqDebugLogSink.h"
#include "ZqPlatformRegistry.h"
#include "SimulatorFixture.h"
#include "ZqCimConnection.h"
#include "ZqCimUtil.h"

namespace {

constexpr uint32_t kVolumes = 50000;
const char* const kCluster = "0000020060C14A2C";

struct Bench {
    std::unique_ptr<zqtest::SimulatorFixture> fx;
    std::vector<std::string> ioGroup0Uids;
    std::vector<std::string> ioGroup1Uids;
};

Bench& bench() {
    static std::once_flag once;
    static Bench b;
    std::call_once(once, [] {
        // The traces are written, to nowhere.
        zq::platform::registry().debugLog.replace(std::make_shared<zq::platform::FileDebugLog>("/dev/null"));
        zqtest::SimulatorFixture::Options o;
        arraysim::GeneratorOptions gen;
        gen.volumes = kVolumes;
        o.cluster = arraysim::generateCluster(gen);
        o.installClock = false;
        o.https = false;
        b.fx = std::make_unique<zqtest::SimulatorFixture>(std::move(o));
        b.fx->sim().withModel([&](arraysim::Model& m, int64_t) {
            for (const auto& entry : m.state.volumes)
                (entry.second.ioGroupId == 0 ? b.ioGroup0Uids : b.ioGroup1Uids).push_back(entry.second.uid);
            return 0;
        });
    });
    return b;
}

// A connected connection to the benchmark's simulator.
struct Session {
    ZqCimConnection conn;
    ZqCimUtil util;
    Session() {
        auto& fx = *bench().fx;
        ZqCimomParams p;
        p.Address = fx.host();
        p.Port = uint16_t(fx.httpPort());
        p.NameSpace = "root/ibm";
        p.UserName = fx.user();
        p.Password = fx.password();
        conn.SetCimom(p);
        conn.ConnectCimom();
    }
    ~Session() { conn.DisconnectCimom(); }
};

size_t requestCount() { return bench().fx->sim().requestLog().size(); }

// Runs lookups of the given ids, spread over the list; the first lookup
// (which fills a shared list) is measured apart.
template <class Lookup>
void runLookups(benchmark::State& state, const std::vector<std::string>& uids, Lookup lookup) {
    Session s;
    ZqCimUtil::ClearSharedCaches();
    size_t before = requestCount();
    auto t0 = std::chrono::steady_clock::now();
    bool found = !lookup(s, uids.front()).empty();
    double firstMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    state.counters["first_lookup_ms"] = firstMs;
    state.counters["first_lookup_requests"] = double(requestCount() - before);

    size_t i = 1;
    before = requestCount();
    for (auto _ : state) {
        const std::string& uid = uids[(i * 7919) % uids.size()];
        ++i;
        found = !lookup(s, uid).empty() && found;
    }
    state.counters["requests_per_lookup"] = double(requestCount() - before) / double(state.iterations());
    if (!found) state.SkipWithError("a volume was not found");
}

void BM_VolObjPathByUUID_NoCache(benchmark::State& state) {
    zqtest::ScopedHostSettings settings;
    runLookups(state, bench().ioGroup0Uids, [](Session& s, const std::string& uid) {
        return s.util.GetVolObjPathByUUID(s.conn, Pegasus::String(uid), kCluster);
    });
}

void BM_VolObjPathByUUID_Cache(benchmark::State& state) {
    zqtest::ScopedHostSettings settings;
    settings.set("ZQ_SMIS_CACHE_VOLUME_INSTANCES", 1);
    runLookups(state, bench().ioGroup0Uids, [](Session& s, const std::string& uid) {
        return s.util.GetVolObjPathByUUID(s.conn, Pegasus::String(uid), kCluster);
    });
}

void BM_IBMSVCVolObjPathByUUID(benchmark::State& state) {
    zqtest::ScopedHostSettings settings;
    runLookups(state, bench().ioGroup0Uids, [](Session& s, const std::string& uid) {
        return s.util.GetIBMSVCVolObjPathByUUID(s.conn, uid, kCluster);
    });
}

// Volumes of the second I/O group are not at the path built from the concise
// volume: each lookup also searches the volume names.
void BM_IBMSVCVolObjPathByUUID_IoGroup1(benchmark::State& state) {
    zqtest::ScopedHostSettings settings;
    runLookups(state, bench().ioGroup1Uids, [](Session& s, const std::string& uid) {
        return s.util.GetIBMSVCVolObjPathByUUID(s.conn, uid, kCluster);
    });
}

}  // namespace

BENCHMARK(BM_VolObjPathByUUID_NoCache)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_VolObjPathByUUID_Cache)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_IBMSVCVolObjPathByUUID)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_IBMSVCVolObjPathByUUID_IoGroup1)->Unit(benchmark::kMillisecond)->Iterations(5);

BENCHMARK_MAIN();
