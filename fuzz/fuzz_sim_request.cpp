// Fuzzes the simulator's reading of a CIM-XML request, as its HTTP server
// takes one: the body decoded, the header checks, then the operation run on
// a small cluster. A request must end in an answer or a CimRequestError;
// any other exception escaping is a finding.
#include <cstddef>
#include <cstdint>
#include <string>

#include "ArraySimulator.h"
#include "CimOperations.h"
#include "cim/CimHttp.h"
#include "cim/CimRequestDecoder.h"

using namespace Pegasus;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string body(reinterpret_cast<const char*>(data), size);
    cimxml::CimRequest request;
    try {
        request = cimxml::decodeRequest(body);
    } catch (const cimxml::CimRequestError&) {
        return 0;
    }
    const std::string method = request.methodName.toStdString();
    (void)cimxml::cimMethodHeaderMatches(request, method);
    (void)cimxml::cimObjectHeaderMatches(request, "root%2Fibm");

    // A fresh cluster each time, so that a finding replays alone.
    arraysim::ArraySimulator sim;
    sim.addVolume("src", "Pool0", 1 << 30);
    sim.addVolume("tgt", "Pool0", 1 << 30);
    sim.addHost("host1", {"10000000C9000001"});
    sim.mapToHost("host1", "src");
    arraysim::CimOperations ops(sim);
    arraysim::LoggedRequest log;
    arraysim::AnswerBody answer = ops.handle(request, "127.0.0.1:5988", log);
    if (answer.size == 0) __builtin_trap();
    return 0;
}
