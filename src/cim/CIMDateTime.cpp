#include "cim/CIMDateTime.h"

#include <cstdio>
#include <ctime>

#include "cim/Exception.h"

namespace Pegasus {

namespace {
bool digitOrWildcard(char c) { return (c >= '0' && c <= '9') || c == '*'; }
bool digit(char c) { return c >= '0' && c <= '9'; }
}  // namespace

CIMDateTime::CIMDateTime() : _text("00000000000000.000000:000") {}

CIMDateTime::CIMDateTime(const String& text) : _text(text) {
    if (!legal(text)) throw InvalidDateTimeFormatException();
}

Boolean CIMDateTime::legal(const String& text) {
    if (text.size() != 25) return false;
    const char* s = text.c_str();
    for (int i = 0; i < 21; ++i) {
        if (i == 14) {
            if (s[i] != '.') return false;
        } else if (!digitOrWildcard(s[i])) {
            return false;
        }
    }
    if (s[21] == ':') return s[22] == '0' && s[23] == '0' && s[24] == '0';
    if (s[21] != '+' && s[21] != '-') return false;
    return digit(s[22]) && digit(s[23]) && digit(s[24]);
}

CIMDateTime CIMDateTime::getCurrentDateTime() {
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    struct tm tm;
    gmtime_r(&ts.tv_sec, &tm);
    char text[64];
    std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d.%06ld+000", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, long(ts.tv_nsec / 1000));
    return CIMDateTime(String(text));
}

}  // namespace Pegasus
