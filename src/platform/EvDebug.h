// The process debug log: used where no host record is at hand. Every instance
// writes into the registry's debug log sink (a file named by ZQSO_DEBUG_LOG,
// else standard error). Safe to use from any thread.
#pragma once

#include <cstdarg>
#include <string>

class EvDebug {
public:
    // `component` prefixes the function label of each line when not empty.
    explicit EvDebug(std::string component = std::string());

    // One line: `function`, a level (-1 important, 0 detail, 1 information,
    // 2 error) and a printf-style text.
    void DebugLvl(const char* function, int level, const char* format, ...) const
        __attribute__((format(printf, 4, 5)));
    void DebugLvlV(const char* function, int level, const char* format, va_list args) const
        __attribute__((format(printf, 4, 0)));
    // Writes `text` as it stands (no formatting).
    void DebugText(const char* function, int level, const std::string& text) const;

private:
    std::string component_;
};

namespace zq {
namespace platform {
// printf-style formatting into a string of any length; a null format gives "".
std::string formatText(const char* format, va_list args) __attribute__((format(printf, 1, 0)));
std::string formatText(const char* format, ...) __attribute__((format(printf, 1, 2)));
}  // namespace platform
}  // namespace zq
