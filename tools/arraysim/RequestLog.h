// Every request the simulator served, with its in-parameters as sent, for
// tests that check what the engine asked. Thread-safe; keeps the newest
// `capacity` entries.
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace arraysim {

struct LoggedParam {
    std::string name;
    std::string paramType;  // PARAMTYPE as sent; empty when absent
    bool isArray = false;
    bool isNull = false;
    std::string value;      // text form; array elements joined by a blank
};

struct LoggedRequest {
    uint64_t seq = 0;
    int64_t atMs = 0;           // simulator clock
    std::string operation;      // intrinsic name, or "InvokeMethod"
    std::string target;         // object path text, class name or namespace
    std::string method;         // extrinsic method name; empty for intrinsic calls
    std::vector<LoggedParam> params;
    int httpStatus = 200;
    uint32_t cimStatus = 0;     // CIM error code, 0 when none
    std::string returnValue;    // extrinsic return value text

    const LoggedParam* param(const std::string& name) const;  // case-insensitive
};

class RequestLog {
public:
    explicit RequestLog(size_t capacity = 100000) : capacity_(capacity) {}
    uint64_t append(LoggedRequest r);
    std::vector<LoggedRequest> snapshot() const;
    // Entries whose operation or method equals `name` (case-insensitive).
    std::vector<LoggedRequest> find(const std::string& name) const;
    void clear();
    size_t size() const;

private:
    mutable std::mutex mutex_;
    std::deque<LoggedRequest> entries_;
    size_t capacity_;
    uint64_t nextSeq_ = 1;
};

}  // namespace arraysim
