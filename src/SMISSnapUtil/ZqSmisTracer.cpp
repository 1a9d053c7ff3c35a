#include "ZqSmisTracer.h"

#include <cstdarg>
#include <string>

#include "EvDebug.h"

void ZqSmisTracer::DEBUG_TRACE(const char* functionName, const char* format, ...) const {
    va_list args;
    va_start(args, format);
    Trace(functionName, true, format, args);
    va_end(args);
}

void ZqSmisTracer::DEBUG_TRACE_NORMAL(const char* functionName, const char* format, ...) const {
    va_list args;
    va_start(args, format);
    Trace(functionName, false, format, args);
    va_end(args);
}

void ZqSmisTracer::Trace(const char* functionName, bool important, const char* format,
                         va_list args) const {
    try {
        std::string text = zq::platform::formatText(format, args);
        if (text.size() > kMaxTraceText) text.resize(kMaxTraceText);
        if (!text.empty() && text.back() == '\n') text.pop_back();
        const char* label = functionName ? functionName : "";
        if (logger) {
            std::string line = std::string(label) + ": " + text;
            logger->log(important ? ZQSO::LOG_ERROR : ZQSO::LOG_DETAIL, line.c_str());
        } else {
            EvDebug().DebugText(label, important ? -1 : 1, text);
        }
    } catch (...) {
        // Tracing never fails its caller.
    }
}

void ZqSmisTracer::DEBUG_SET_ERROR(int code, const char* message) const {
    if (!logger || !message) return;
    try {
        logger->log(ZQSO::LOG_ERROR, message);
        logger->setError(static_cast<uint32_t>(code), message);
    } catch (...) {
        // Tracing never fails its caller.
    }
}
