#include "FaultPlan.h"

#include "TextUtil.h"

namespace arraysim {

namespace {
const char* const kNames[] = {"latency", "http", "drop", "stall", "return", "job", "action", "hold"};

bool matches(const Fault& f, const std::string& name) { return f.key == "*" || equalsNoCase(f.key, name); }
}  // namespace

const char* faultKindName(Fault::Kind k) { return kNames[static_cast<int>(k)]; }

bool parseFaultKind(const std::string& name, Fault::Kind& out) {
    // An action is a function: the control API alone can give one.
    for (int i = 0; i <= static_cast<int>(Fault::Kind::Hold); ++i)
        if (i != static_cast<int>(Fault::Kind::Action) && equalsNoCase(name, kNames[i])) {
            out = static_cast<Fault::Kind>(i);
            return true;
        }
    return false;
}

namespace {
Fault make(Fault::Kind kind, std::string key, int count) {
    Fault f;
    f.kind = kind;
    f.key = std::move(key);
    f.count = count;
    return f;
}
}  // namespace

Fault Fault::latency(std::string key, int64_t ms, int count) {
    Fault f = make(Kind::Latency, std::move(key), count);
    f.latencyMs = ms;
    return f;
}

Fault Fault::http(std::string key, int status, int count) {
    Fault f = make(Kind::HttpStatus, std::move(key), count);
    f.httpStatus = status;
    return f;
}

Fault Fault::drop(std::string key, int count) { return make(Kind::DropConnection, std::move(key), count); }

Fault Fault::stall(std::string key, int64_t ms, int count) {
    Fault f = make(Kind::Stall, std::move(key), count);
    f.stallMs = ms;
    return f;
}

Fault Fault::returns(std::string method, uint32_t value, int count) {
    Fault f = make(Kind::ReturnValue, std::move(method), count);
    f.returnValue = value;
    return f;
}

Fault Fault::asJob(std::string method, JobScript script, int count) {
    Fault f = make(Kind::Job, std::move(method), count);
    f.job = std::move(script);
    return f;
}

Fault Fault::onRequest(std::string key, std::function<void()> action, int count) {
    Fault f = make(Kind::Action, std::move(key), count);
    f.action = std::move(action);
    return f;
}

Fault Fault::hold(std::string key, int count) { return make(Kind::Hold, std::move(key), count); }

Fault Fault::after(int n) const {
    Fault f = *this;
    f.skip = n > 0 ? n : 0;
    return f;
}

uint64_t FaultPlan::add(Fault f) {
    std::lock_guard<std::mutex> lock(mutex_);
    f.id = nextId_++;
    f.hits = 0;
    const uint64_t id = f.id;
    if (f.count != 0) faults_.push_back(std::move(f));
    return id;
}

void FaultPlan::clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    faults_.clear();
}

bool FaultPlan::remove(uint64_t id) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = faults_.begin(); it != faults_.end(); ++it)
        if (it->id == id) {
            faults_.erase(it);
            return true;
        }
    return false;
}

bool FaultPlan::contains(uint64_t id) const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& f : faults_)
        if (f.id == id) return true;
    return false;
}

std::vector<Fault> FaultPlan::list() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return faults_;
}

std::vector<Fault> FaultPlan::takeTransport(const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<Fault> hit;
    for (auto it = faults_.begin(); it != faults_.end();) {
        bool transport = it->kind != Fault::Kind::ReturnValue && it->kind != Fault::Kind::Job;
        // A hold that has held its count stays until removed, holding no more.
        if (transport && it->count != 0 && matches(*it, name)) {
            if (it->skip > 0) {
                --it->skip;
                ++it;
                continue;
            }
            ++it->hits;
            hit.push_back(*it);
            if (it->count > 0 && --it->count == 0 && it->kind != Fault::Kind::Hold) {
                it = faults_.erase(it);
                continue;
            }
        }
        ++it;
    }
    return hit;
}

std::optional<Fault> FaultPlan::takeFirst(Fault::Kind kind, const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = faults_.begin(); it != faults_.end(); ++it) {
        if (it->kind != kind || !matches(*it, name)) continue;
        if (it->skip > 0) {
            --it->skip;
            return std::nullopt;
        }
        ++it->hits;
        Fault f = *it;
        if (it->count > 0 && --it->count == 0) faults_.erase(it);
        return f;
    }
    return std::nullopt;
}

std::optional<uint32_t> FaultPlan::takeReturnValue(const std::string& method) {
    auto f = takeFirst(Fault::Kind::ReturnValue, method);
    if (!f) return std::nullopt;
    return f->returnValue;
}

std::optional<JobScript> FaultPlan::takeJob(const std::string& method) {
    auto f = takeFirst(Fault::Kind::Job, method);
    if (!f) return std::nullopt;
    return f->job;
}

}  // namespace arraysim
