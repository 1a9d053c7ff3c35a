// Decoding an EnumerateInstances answer of 10,000 and 50,000 volumes
// (30 properties each) into CIMInstance objects, next to pugixml alone
// parsing the same document (the floor of this design).
//
// Figures: MB/s and instances/s (Google Benchmark counters), and the peak
// heap while parsing, the input document included; the summary at the end
// gives the ratios to pugixml's in-place parse.
//
//   bench_cim_decode [--summary-only] [--csv FILE] [Google Benchmark flags]
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <pugixml.hpp>

#include <algorithm>
#include <ctime>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "HeapCounter.h"
#include "cim/CimResponseDecoder.h"

namespace {

const char* kId = "1001";

void property(std::string& out, const char* name, const char* type, const std::string& value) {
    out += "<PROPERTY NAME=\"";
    out += name;
    out += "\" TYPE=\"";
    out += type;
    out += "\"><VALUE>";
    out += value;
    out += "</VALUE></PROPERTY>";
}

void arrayProperty(std::string& out, const char* name, const char* type, const std::vector<std::string>& values) {
    out += "<PROPERTY.ARRAY NAME=\"";
    out += name;
    out += "\" TYPE=\"";
    out += type;
    out += "\"><VALUE.ARRAY>";
    for (const std::string& v : values) out += "<VALUE>" + v + "</VALUE>";
    out += "</VALUE.ARRAY></PROPERTY.ARRAY>";
}

void key(std::string& out, const char* name, const std::string& value) {
    out += "<KEYBINDING NAME=\"";
    out += name;
    out += "\"><KEYVALUE VALUETYPE=\"string\">" + value + "</KEYVALUE></KEYBINDING>";
}

// An answer as an IBM SVC provider writes it, one line per volume.
std::string makeAnswer(int volumes) {
    std::string out = "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\n<CIM CIMVERSION=\"2.0\" DTDVERSION=\"2.0\">\n"
                      "<MESSAGE ID=\"" + std::string(kId) + "\" PROTOCOLVERSION=\"1.0\"><SIMPLERSP>"
                      "<IMETHODRESPONSE NAME=\"EnumerateInstances\"><IRETURNVALUE>\n";
    out.reserve(size_t(volumes) * 3300);
    char uid[40];
    for (int i = 0; i < volumes; ++i) {
        std::string id = std::to_string(i);
        std::snprintf(uid, sizeof uid, "6005076810CA0166C%015X", i);
        out += "<VALUE.NAMEDINSTANCE><INSTANCENAME CLASSNAME=\"IBMTSSVC_StorageVolume\">";
        key(out, "CreationClassName", "IBMTSSVC_StorageVolume");
        key(out, "DeviceID", id);
        key(out, "SystemCreationClassName", "IBMTSSVC_IOGroup");
        key(out, "SystemName", "0000020060C14A2C:0");
        out += "</INSTANCENAME><INSTANCE CLASSNAME=\"IBMTSSVC_StorageVolume\">";
        property(out, "Caption", "string", "Storage volume");
        property(out, "Description", "string", "A volume of the IBM SVC cluster");
        property(out, "ElementName", "string", "vdisk" + id);
        property(out, "CreationClassName", "string", "IBMTSSVC_StorageVolume");
        property(out, "SystemCreationClassName", "string", "IBMTSSVC_IOGroup");
        property(out, "SystemName", "string", "0000020060C14A2C:0");
        property(out, "DeviceID", "string", id);
        property(out, "Name", "string", uid);
        property(out, "NameFormat", "uint16", "1");
        property(out, "NameNamespace", "uint16", "2");
        arrayProperty(out, "OperationalStatus", "uint16", {"2"});
        arrayProperty(out, "StatusDescriptions", "string", {"OK"});
        property(out, "HealthState", "uint16", "5");
        property(out, "EnabledState", "uint16", "2");
        property(out, "RequestedState", "uint16", "12");
        property(out, "BlockSize", "uint64", "512");
        property(out, "NumberOfBlocks", "uint64", "2097152");
        property(out, "ConsumableBlocks", "uint64", "2097152");
        property(out, "IsBasedOnUnderlyingRedundancy", "boolean", "FALSE");
        property(out, "NoSinglePointOfFailure", "boolean", "FALSE");
        property(out, "DataRedundancy", "uint16", "1");
        property(out, "PackageRedundancy", "uint16", "0");
        property(out, "DeltaReservation", "uint8", "0");
        property(out, "Primordial", "boolean", "FALSE");
        arrayProperty(out, "ExtentStatus", "uint16", {"2", "16"});
        property(out, "ThinlyProvisioned", "boolean", i % 2 ? "TRUE" : "FALSE");
        property(out, "IsSpaceEfficient", "boolean", i % 2 ? "TRUE" : "FALSE");
        property(out, "VolumeId", "string", id);
        property(out, "IOGroupName", "string", "io_grp0");
        property(out, "PoolName", "string", "Pool0");
        out += "</INSTANCE></VALUE.NAMEDINSTANCE>\n";
    }
    out += "</IRETURNVALUE></IMETHODRESPONSE></SIMPLERSP></MESSAGE></CIM>\n";
    return out;
}

const std::string& answer(int volumes) {
    static std::string small = makeAnswer(10000);
    static std::string large = makeAnswer(50000);
    return volumes == 10000 ? small : large;
}

// What a parse leaves behind; destroyed outside the measured time.
struct Result {
    pugi::xml_document doc;
    Pegasus::Array<Pegasus::CIMInstance> instances;
};

// CPU time of this thread: the machine may be shared, wall time is not fair.
double cpuSeconds() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

struct Run {
    double seconds;
    size_t peakWithInput;  // heap over the level before the input was copied
};

// One parse of a fresh copy of the answer.
template <class Parse>
Run measure(const std::string& doc, Parse parse) {
    size_t before = heapcounter::current();
    heapcounter::resetPeak();
    std::string body = doc;
    Result result;
    double start = cpuSeconds();
    parse(body, result);
    double seconds = cpuSeconds() - start;
    return {seconds, heapcounter::peak() - before};
}

void parsePugixmlInPlace(std::string& body, Result& result) {
    pugi::xml_parse_result r = result.doc.load_buffer_inplace(body.data(), body.size(),
                                                              pugi::parse_default | pugi::parse_ws_pcdata_single);
    if (!r) std::abort();
}

void parsePugixmlCopy(std::string& body, Result& result) {
    pugi::xml_parse_result r =
        result.doc.load_buffer(body.data(), body.size(), pugi::parse_default | pugi::parse_ws_pcdata_single);
    if (!r) std::abort();
}

void decodeInstances(std::string& body, Result& result) {
    result.instances = Pegasus::cimxml::decodeEnumerateInstancesResponse(body, kId);
    if (result.instances.size() == 0) std::abort();
}

template <void (*Parse)(std::string&, Result&)>
void benchParse(benchmark::State& state) {
    const std::string& doc = answer(int(state.range(0)));
    size_t peak = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::string body = doc;
        auto result = std::make_unique<Result>();
        size_t before = heapcounter::current();
        heapcounter::resetPeak();
        state.ResumeTiming();
        Parse(body, *result);
        state.PauseTiming();
        peak = std::max(peak, heapcounter::peak() - before + doc.size());
        result.reset();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(doc.size()));
    state.SetItemsProcessed(int64_t(state.iterations()) * state.range(0));
    state.counters["peak_MB"] = double(peak) / 1e6;
    state.counters["doc_MB"] = double(doc.size()) / 1e6;
}

BENCHMARK_TEMPLATE(benchParse, parsePugixmlInPlace)->Name("pugixml_inplace")->Arg(10000)->Arg(50000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(benchParse, parsePugixmlCopy)->Name("pugixml_copy")->Arg(10000)->Arg(50000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(benchParse, decodeInstances)->Name("zqcim_decode")->Arg(10000)->Arg(50000)
    ->Unit(benchmark::kMillisecond);

// Best of five for each side, then the ratios; rows of the report to csv
// when given (section,item,size,value,unit,ratio,against).
void summary(FILE* csv) {
    std::printf("\nsummary (best of 5, thread CPU time; peak heap includes the input document)\n");
    std::printf("%-8s %-18s %9s %9s %12s %10s\n", "volumes", "parser", "cpu ms", "MB/s", "instances/s", "peak MB");
    for (int volumes : {10000, 50000}) {
        const std::string& doc = answer(volumes);
        auto best = [&](void (*parse)(std::string&, Result&)) {
            Run b{1e9, 0};
            for (int i = 0; i < 5; ++i) {
                Run r = measure(doc, parse);
                b.seconds = std::min(b.seconds, r.seconds);
                b.peakWithInput = std::max(b.peakWithInput, r.peakWithInput);
            }
            return b;
        };
        Run floor = best(parsePugixmlInPlace);
        Run copy = best(parsePugixmlCopy);
        Run ours = best(decodeInstances);
        auto row = [&](const char* name, const Run& r) {
            std::printf("%-8d %-18s %9.1f %9.1f %12.0f %10.1f\n", volumes, name, r.seconds * 1e3,
                        double(doc.size()) / 1e6 / r.seconds, volumes / r.seconds, double(r.peakWithInput) / 1e6);
        };
        row("pugixml in place", floor);
        row("pugixml copying", copy);
        row("zqcim decode", ours);
        const double timeRatio = ours.seconds / floor.seconds;
        const double memoryRatio = double(ours.peakWithInput) / double(floor.peakWithInput);
        std::printf("%-8d ratio to pugixml in place: time %.2fx (aim 2x), peak memory %.2fx (aim 1.5x)\n", volumes,
                    timeRatio, memoryRatio);
        if (csv) {
            std::fprintf(csv, "cim_decode,pugixml in place,%d,%.1f,cpu ms,1.00,pugixml in place\n", volumes,
                         floor.seconds * 1e3);
            std::fprintf(csv, "cim_decode,pugixml copying,%d,%.1f,cpu ms,%.2f,pugixml in place\n", volumes,
                         copy.seconds * 1e3, copy.seconds / floor.seconds);
            std::fprintf(csv, "cim_decode,zqcim decode,%d,%.1f,cpu ms,%.2f,pugixml in place\n", volumes,
                         ours.seconds * 1e3, timeRatio);
            std::fprintf(csv, "cim_decode,zqcim decode peak memory,%d,%.1f,MB,%.2f,pugixml in place\n", volumes,
                         double(ours.peakWithInput) / 1e6, memoryRatio);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    // Freed memory stays with the process: otherwise each run pays for the
    // first touch of pages the allocator gave back, which measures the
    // allocator and the machine, not the parser, and differs by parser.
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
    mallopt(M_MMAP_MAX, 0);
    bool summaryOnly = false;
    FILE* csv = nullptr;
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--summary-only") == 0) {
            summaryOnly = true;
        } else if (std::strcmp(argv[i], "--csv") == 0 && i + 1 < argc) {
            csv = std::fopen(argv[++i], "a");
            if (!csv) {
                std::perror(argv[i]);
                return 1;
            }
        } else {
            argv[kept++] = argv[i];
        }
    }
    argc = kept;
    if (!summaryOnly) {
        benchmark::Initialize(&argc, argv);
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
    }
    summary(csv);
    if (csv) std::fclose(csv);
    return 0;
}
