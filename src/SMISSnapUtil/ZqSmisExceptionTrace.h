// Tracing of caught exceptions in the SMI-S layers.
#pragma once

#include "ZqSmisTracer.h"

// File name without its directories, for trace lines.
constexpr const char* ZqSmisBaseName(const char* path) {
    const char* base = path;
    for (const char* p = path; *p; ++p)
        if (*p == '/' || *p == '\\') base = p + 1;
    return base;
}
#define ZQ_SOURCE_FILE ZqSmisBaseName(__FILE__)

// Call inside a catch block: traces the exception in flight as
// "<file>: <line>: Caught CIMException: <status text>: <message>",
// "<file>: <line>: Caught Exception: <message>" or "Caught unknown Exception".
void TraceCaughtException(const ZqSmisTracer& tracer, const char* label, const char* file, int line);
