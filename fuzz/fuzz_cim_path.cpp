// Fuzzes the object path parser: any text parses or raises
// MalformedObjectNameException, and every path that parses prints a text
// that parses back to the same path.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "cim/CIMObjectPath.h"
#include "cim/Exception.h"

using namespace Pegasus;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    String text(reinterpret_cast<const char*>(data), Uint32(size));
    CIMObjectPath path;
    try {
        path.set(text);
    } catch (const MalformedObjectNameException&) {
        return 0;
    }
    String printed = path.toString();
    CIMObjectPath again(printed);  // must not throw
    if (!again.identical(path) || again.toString() != printed) std::abort();
    return 0;
}
