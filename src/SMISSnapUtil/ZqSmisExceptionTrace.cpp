#include "ZqSmisExceptionTrace.h"

#include "cim/Exception.h"

void TraceCaughtException(const ZqSmisTracer& tracer, const char* label, const char* file, int line) {
    try {
        throw;
    } catch (const Pegasus::CIMException& e) {
        tracer.DEBUG_TRACE(label, "%s: %d: Caught CIMException: %s: %s", file, line,
                           Pegasus::cimStatusCodeToString(e.getCode()).c_str(), e.getMessage().c_str());
    } catch (const Pegasus::Exception& e) {
        tracer.DEBUG_TRACE(label, "%s: %d: Caught Exception: %s", file, line, e.getMessage().c_str());
    } catch (...) {
        tracer.DEBUG_TRACE(label, "Caught unknown Exception");
    }
}
