#include "RequestLog.h"

#include "TextUtil.h"

namespace arraysim {

const LoggedParam* LoggedRequest::param(const std::string& n) const {
    for (auto& p : params)
        if (equalsNoCase(p.name, n)) return &p;
    return nullptr;
}

uint64_t RequestLog::append(LoggedRequest r) {
    std::lock_guard<std::mutex> lock(mutex_);
    r.seq = nextSeq_++;
    entries_.push_back(std::move(r));
    while (entries_.size() > capacity_) entries_.pop_front();
    return entries_.back().seq;
}

std::vector<LoggedRequest> RequestLog::snapshot() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return {entries_.begin(), entries_.end()};
}

std::vector<LoggedRequest> RequestLog::find(const std::string& name) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<LoggedRequest> out;
    for (auto& e : entries_)
        if (equalsNoCase(e.operation, name) || equalsNoCase(e.method, name)) out.push_back(e);
    return out;
}

void RequestLog::clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.clear();
}

size_t RequestLog::size() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return entries_.size();
}

}  // namespace arraysim
