// Faults a test injects: transport faults per request, return values and
// job scripts per method. Each is one-shot (a count) or persistent, and keyed
// by an operation or method name ("*" matches every one). Thread-safe.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "JobTable.h"

namespace arraysim {

struct Fault {
    enum class Kind : uint8_t {
        Latency,         // delay the answer by latencyMs of real time
        HttpStatus,      // answer with httpStatus (401, 500, ...) instead of CIM-XML
        DropConnection,  // close the connection without an answer
        Stall,           // hold the answer for stallMs of real time, then drop it
        ReturnValue,     // an extrinsic method answers returnValue, changing nothing
        Job,             // an extrinsic method answers 4096 and runs its work as a job
        Action,          // runs `action` before the request is served (control API only)
        Hold,            // holds the request, unserved, until the fault is removed; then serves it
    };
    Kind kind = Kind::Latency;
    std::string key = "*";  // operation or method name, case-insensitive
    int count = 1;          // how many requests it hits; -1: persistent
    int skip = 0;           // matching requests let through before the first hit
    int64_t latencyMs = 0;
    int httpStatus = 500;
    int64_t stallMs = 30000;
    uint32_t returnValue = 4;
    JobScript job;  // Kind::Job
    // Kind::Action: called on the server thread without the simulator's lock,
    // so it may use the control API (an object vanishes between two requests).
    std::function<void()> action;
    // Set by the plan: the fault's number, and how many requests it hit.
    uint64_t id = 0;
    int hits = 0;

    static Fault latency(std::string key, int64_t ms, int count = -1);
    static Fault http(std::string key, int status, int count = 1);
    static Fault drop(std::string key, int count = 1);
    static Fault stall(std::string key, int64_t ms, int count = 1);
    static Fault returns(std::string method, uint32_t value, int count = 1);
    static Fault asJob(std::string method, JobScript script, int count = -1);
    static Fault onRequest(std::string key, std::function<void()> action, int count = 1);
    // Holds `count` matching requests (-1: every one) until the fault is removed.
    static Fault hold(std::string key, int count = -1);
    // The same fault, hitting from the (n+1)-th matching request on.
    Fault after(int n) const;
};

const char* faultKindName(Fault::Kind k);
bool parseFaultKind(const std::string& name, Fault::Kind& out);

class FaultPlan {
public:
    // Returns the fault's id.
    uint64_t add(Fault f);
    void clear();
    // Removes one fault; false when it is not there.
    bool remove(uint64_t id);
    // Whether the fault is still in the plan (a hold ends when it is not).
    bool contains(uint64_t id) const;
    std::vector<Fault> list() const;

    // Transport faults for one request of `name`, each counted once.
    std::vector<Fault> takeTransport(const std::string& name);
    std::optional<uint32_t> takeReturnValue(const std::string& method);
    std::optional<JobScript> takeJob(const std::string& method);

private:
    std::optional<Fault> takeFirst(Fault::Kind kind, const std::string& name);
    mutable std::mutex mutex_;
    std::vector<Fault> faults_;
    uint64_t nextId_ = 1;
};

}  // namespace arraysim
