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

// An answer read in parts must give what the same answer read whole gives
// (a comment before the root makes the decoder read it whole).
static void compareReadings(const std::string& input, const String& id) {
    std::string whole = input;
    size_t at = 0;
    if (whole.compare(0, 5, "<?xml") == 0) {
        at = whole.find("?>");
        if (at == std::string::npos) return;
        at += 2;
    }
    whole.insert(at, "<!---->");
    std::string parted = input;
    Array<CIMInstance> a, b;
    try {
        a = cimxml::decodeEnumerateInstancesResponse(parted, id);
        b = cimxml::decodeEnumerateInstancesResponse(whole, id);
    } catch (const Exception&) {
        return;
    }
    if (a.size() != b.size()) __builtin_trap();
    for (Uint32 i = 0; i < a.size(); ++i) {
        const CIMInstance& x = a[i];
        const CIMInstance& y = b[i];
        if (x.getPath().toString() != y.getPath().toString() || x.getClassName().getString() != y.getClassName().getString() ||
            x.getPropertyCount() != y.getPropertyCount() || x.getQualifierCount() != y.getQualifierCount())
            __builtin_trap();
        for (Uint32 k = 0; k < x.getPropertyCount(); ++k) {
            CIMProperty p = x.getProperty(k), q = y.getProperty(k);
            const CIMValue &v = p.getValue(), &w = q.getValue();
            // texts, not values: NaN is not equal to itself
            if (p.getName().getString() != q.getName().getString() || v.getType() != w.getType() ||
                v.isArray() != w.isArray() || v.isNull() != w.isNull() || v.toString() != w.toString() ||
                p.getClassOrigin().getString() != q.getClassOrigin().getString() ||
                p.getPropagated() != q.getPropagated() || p.getArraySize() != q.getArraySize() ||
                p.getQualifierCount() != q.getQualifierCount())
                __builtin_trap();
        }
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const String id("1");
    attempt(input, [&](std::string& b) { cimxml::decodeEnumerateInstancesResponse(b, id); });
    attempt(input, [&](std::string& b) {
        size_t seen = 0;
        cimxml::decodeEnumerateInstancesResponse(b, id, [&](CIMInstance&) { ++seen; });
    });
    attempt(input, [&](std::string& b) { cimxml::decodeObjectsWithPathResponse(b, id, "Associators"); });
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
    compareReadings(input, id);
    return 0;
}
