// Fuzzes the CIM-XML decoders: every client answer decoder, and the server's
// request decoder. Any input must end in a result or one of the library's
// exceptions.
#include <cstddef>
#include <cstdint>
#include <string>

#include "cim/CimRequestDecoder.h"
#include "cim/CimResponseDecoder.h"

using namespace Pegasus;

template <class F>
static void attempt(const std::string& input, F decode) {
    std::string body = input;
    try {
        decode(body);
    } catch (const Exception&) {
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const String id("1");
    attempt(input, [&](std::string& b) { cimxml::decodeEnumerateInstancesResponse(b, id); });
    attempt(input, [&](std::string& b) { cimxml::decodeEnumerateInstanceNamesResponse(b, id); });
    attempt(input, [&](std::string& b) { cimxml::decodeObjectPathsResponse(b, id, "AssociatorNames"); });
    attempt(input, [&](std::string& b) { cimxml::decodeGetInstanceResponse(b, id); });
    attempt(input, [&](std::string& b) { cimxml::decodeGetClassResponse(b, id); });
    attempt(input, [&](std::string& b) { cimxml::decodeEmptyResponse(b, id, "DeleteInstance"); });
    attempt(input, [&](std::string& b) {
        Array<CIMParamValue> out;
        cimxml::decodeMethodResponse(b, id, "CreateReplica", out);
    });
    attempt(input, [&](std::string& b) { cimxml::decodeRequest(b); });
    return 0;
}
