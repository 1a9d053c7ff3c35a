// The simulator under load: a cluster of 50,000 volumes, the enumerations a
// client makes of it, and GetInstance from one and from 8 concurrent clients.
// The enumerations are read with a plain HTTP client, so the figures are the
// simulator's (serving and transfer), not the CIM client's decoding.
#include <benchmark/benchmark.h>
#include <httplib.h>
#include <sys/resource.h>

#include <memory>
#include <mutex>

#include "ClusterGenerator.h"
#include "SimulatorFixture.h"
#include "cim/CimHttp.h"
#include "cim/CimRequestEncoder.h"

namespace {
constexpr uint32_t kVolumes = 50000;
const Pegasus::CIMNamespaceName kNs("root/ibm");

double peakRssMiB() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_maxrss) / 1024.0;
}

double rssAfterSetupMiB = 0;

zqtest::SimulatorFixture& fixture() {
    static std::once_flag once;
    static std::unique_ptr<zqtest::SimulatorFixture> fx;
    std::call_once(once, [] {
        zqtest::SimulatorFixture::Options o;
        arraysim::GeneratorOptions gen;
        gen.volumes = kVolumes;
        o.cluster = arraysim::generateCluster(gen);
        o.installClock = false;
        o.https = false;
        fx = std::make_unique<zqtest::SimulatorFixture>(std::move(o));
        rssAfterSetupMiB = peakRssMiB();
    });
    return *fx;
}

void serve(benchmark::State& state, const Pegasus::cimxml::EncodedRequest& request, int64_t itemsPerCall) {
    auto& fx = fixture();
    httplib::Client client("127.0.0.1", fx.httpPort());
    client.set_basic_auth(fx.user().c_str(), fx.password().c_str());
    client.set_read_timeout(120, 0);
    client.set_keep_alive(true);
    client.set_tcp_nodelay(true);
    httplib::Headers headers = {
        {"CIMOperation", "MethodCall"},
        {"CIMMethod", Pegasus::cimxml::percentEncode(request.cimMethod.view()).toStdString()},
        {"CIMObject", Pegasus::cimxml::percentEncode(request.cimObject.view()).toStdString()}};
    size_t bytes = 0;
    for (auto _ : state) {
        auto res = client.Post("/cimom", headers, request.body, "application/xml; charset=\"utf-8\"");
        if (!res || res->status != 200) {
            state.SkipWithError("the simulator did not answer");
            return;
        }
        bytes += res->body.size();
    }
    state.SetItemsProcessed(state.iterations() * itemsPerCall);
    state.SetBytesProcessed(int64_t(bytes));
    state.counters["answer_MB"] = double(bytes) / double(state.iterations()) / 1e6;
    state.counters["peak_rss_MiB"] = peakRssMiB();
    state.counters["rss_cluster_MiB"] = rssAfterSetupMiB;
}

void EnumerateVolumes(benchmark::State& state) {
    serve(state,
          Pegasus::cimxml::encodeEnumerateInstances("1", kNs, Pegasus::CIMName("CIM_StorageVolume"), true, false, false,
                                                    false, Pegasus::CIMPropertyList()),
          kVolumes);
}

void EnumerateVolumesNameOnly(benchmark::State& state) {
    Pegasus::Array<Pegasus::CIMName> names;
    names.append(Pegasus::CIMName("Name"));
    serve(state,
          Pegasus::cimxml::encodeEnumerateInstances("1", kNs, Pegasus::CIMName("CIM_StorageVolume"), true, false, false,
                                                    false, Pegasus::CIMPropertyList(names)),
          kVolumes);
}

void EnumerateVolumeNames(benchmark::State& state) {
    serve(state, Pegasus::cimxml::encodeEnumerateInstanceNames("1", kNs, Pegasus::CIMName("CIM_StorageVolume")),
          kVolumes);
}

void GetVolume(benchmark::State& state) {
    serve(state,
          Pegasus::cimxml::encodeGetInstance("1", kNs, fixture().volumePath("vol31337"), false, false, false,
                                             Pegasus::CIMPropertyList()),
          1);
}

// GetInstance through the CIM client, one client per benchmark thread (1 and 8).
void GetVolumeConcurrently(benchmark::State& state) {
    auto& fx = fixture();
    static std::mutex pathLock;
    Pegasus::CIMObjectPath path;
    {
        std::lock_guard<std::mutex> lock(pathLock);
        path = fx.volumePath("vol" + std::to_string(1000 + state.thread_index()));
    }
    auto client = fx.client();
    for (auto _ : state) benchmark::DoNotOptimize(client->getInstance(kNs, path));
    state.SetItemsProcessed(state.iterations());
    if (state.thread_index() == 0) state.counters["peak_rss_MiB"] = peakRssMiB();
}
}  // namespace

BENCHMARK(EnumerateVolumes)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
BENCHMARK(EnumerateVolumesNameOnly)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
BENCHMARK(EnumerateVolumeNames)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
BENCHMARK(GetVolume)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(GetVolumeConcurrently)->Threads(1)->Threads(8)->Unit(benchmark::kMicrosecond)->UseRealTime();

BENCHMARK_MAIN();
