#include "EvDebug.h"

#include <cstdio>
#include <vector>

#include "ZqDebugLogSink.h"
#include "ZqPlatformRegistry.h"

namespace zq {
namespace platform {

std::string formatText(const char* format, va_list args) {
    if (!format) return std::string();
    va_list probe;
    va_copy(probe, args);
    int needed = std::vsnprintf(nullptr, 0, format, probe);
    va_end(probe);
    if (needed <= 0) return std::string();
    std::vector<char> buf(size_t(needed) + 1);
    std::vsnprintf(buf.data(), buf.size(), format, args);
    return std::string(buf.data(), size_t(needed));
}

std::string formatText(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = formatText(format, args);
    va_end(args);
    return text;
}

}  // namespace platform
}  // namespace zq

EvDebug::EvDebug(std::string component) : component_(std::move(component)) {}

void EvDebug::DebugLvl(const char* function, int level, const char* format, ...) const {
    va_list args;
    va_start(args, format);
    DebugLvlV(function, level, format, args);
    va_end(args);
}

void EvDebug::DebugLvlV(const char* function, int level, const char* format, va_list args) const {
    DebugText(function, level, zq::platform::formatText(format, args));
}

void EvDebug::DebugText(const char* function, int level, const std::string& text) const {
    std::string label = function ? function : "";
    if (!component_.empty()) label = component_ + (label.empty() ? "" : "::") + label;
    try {
        zq::platform::registry().debugLog.get()->write(level, label, text);
    } catch (...) {
        // The debug log never fails its caller.
    }
}
