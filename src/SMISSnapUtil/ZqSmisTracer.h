// Tracing of the SMI-S layers: lines and errors go into the host record of
// the device being worked on, or into the process debug log when no record
// is bound.
#pragma once

#include <cstdarg>
#include <cstddef>

#include "zqso/SnapInfo.h"

class ZqSmisTracer {
public:
    // Longest traced text; the rest is cut.
    static constexpr size_t kMaxTraceText = 4095;

    ZqSmisTracer() = default;
    explicit ZqSmisTracer(ZQSO::SnapInfo* record) : logger(record) {}
    virtual ~ZqSmisTracer() = default;

    // Binds the record that receives trace lines and errors (null: none).
    // The record must outlive the tracer's use.
    void SetLogger(ZQSO::SnapInfo* record) { logger = record; }
    ZQSO::SnapInfo* GetLogger() const { return logger; }

    // Set by a provider connection that has reported an authentication
    // failure to the record; the tracer itself never reads it.
    bool IsErrorReported() const { return errorReported; }
    void SetErrorReported(bool reported) { errorReported = reported; }

    // Important line: record level 2, or debug log level -1.
    void DEBUG_TRACE(const char* functionName, const char* format, ...) const
        __attribute__((format(printf, 3, 4)));
    // Normal line: record level 0, or debug log level 1.
    void DEBUG_TRACE_NORMAL(const char* functionName, const char* format, ...) const
        __attribute__((format(printf, 3, 4)));
    // Logs `message` at level 2 and sets it with `code` as the record's
    // error. Nothing without a bound record or with a null message.
    void DEBUG_SET_ERROR(int code, const char* message) const;

protected:
    ZQSO::SnapInfo* logger = nullptr;
    bool errorReported = false;

private:
    void Trace(const char* functionName, bool important, const char* format, va_list args) const
        __attribute__((format(printf, 4, 0)));
};
