#include "PhasePool.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <map>
#include <memory>

#include "EngineFrame.h"
#include "ZqClock.h"
#include "ZqThread.h"

namespace ZQSOIBMSVCAPI {

namespace {

// The items of one parallel phase and who works on which.
class Handout {
public:
    Handout(const std::vector<PhaseItem>& items, int perProvider)
        : items_(items), perProvider_(perProvider), taken_(items.size(), 0), left_(items.size()) {}

    // One worker: takes the next item whose provider has room until none is
    // left or an item raised.
    void work(const std::function<void(size_t)>& work) {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            if (failure_ || left_ == 0) return;
            size_t pos = 0;
            if (!nextFree(pos)) {
                // every item left belongs to a provider that is full
                zq::platform::Clock& clock = zq::platform::clock();
                clock.blockBegin();
                freed_.wait(lock);
                clock.blockEnd();
                continue;
            }
            taken_[pos] = 1;
            --left_;
            int& inFlight = inFlight_[items_[pos].provider];
            ++inFlight;
            lock.unlock();
            std::exception_ptr raised;
            try {
                work(items_[pos].index);
            } catch (...) {
                raised = std::current_exception();
            }
            lock.lock();
            --inFlight;
            if (raised && !failure_) failure_ = raised;
            freed_.notify_all();
        }
    }

    void raiseFailure() {
        if (failure_) std::rethrow_exception(failure_);
    }

private:
    bool nextFree(size_t& pos) {
        while (first_ < taken_.size() && taken_[first_]) ++first_;
        for (size_t i = first_; i < taken_.size(); ++i) {
            if (taken_[i]) continue;
            auto it = inFlight_.find(items_[i].provider);
            if (it == inFlight_.end() || it->second < perProvider_) {
                pos = i;
                return true;
            }
        }
        return false;
    }

    const std::vector<PhaseItem>& items_;
    const int perProvider_;
    std::mutex mutex_;
    std::condition_variable freed_;
    std::vector<char> taken_;
    std::map<std::string, int> inFlight_;
    size_t first_ = 0;  // no item before it is left
    size_t left_;
    std::exception_ptr failure_;
};

}  // namespace

PhasePool PhasePool::configured(ZQSO::SnapInfo* log) {
    int noParallel = 0;
    GetRegInt(nullptr, "IBMSVC_SNAP_NO_PARALLEL", &noParallel);
    int perProvider = kMaxWorkers;
    GetRegInt(nullptr, "IBMSVC_PREPARE_MAX_THREADS", &perProvider);
    return PhasePool(noParallel != 0, perProvider, log);
}

PhasePool::PhasePool(bool serial, int perProvider, ZQSO::SnapInfo* log)
    : serial_(serial), perProvider_(std::min(std::max(perProvider, 1), int(kMaxWorkers))), log_(log) {}

void PhasePool::run(const std::vector<PhaseItem>& items, const std::function<void(size_t)>& work) const {
    if (serial_ || items.size() < 2) {
        for (const PhaseItem& item : items) work(item.index);
        return;
    }
    std::vector<PhaseItem> leaders, others;
    for (const PhaseItem& item : items) {
        const bool seen = std::any_of(leaders.begin(), leaders.end(),
                                      [&](const PhaseItem& l) { return l.provider == item.provider; });
        (seen ? others : leaders).push_back(item);
    }
    runParallel(leaders, work);
    runParallel(others, work);
}

void PhasePool::runParallel(const std::vector<PhaseItem>& items, const std::function<void(size_t)>& work) const {
    if (items.size() < 2) {
        for (const PhaseItem& item : items) work(item.index);
        return;
    }
    std::map<std::string, size_t> perProvider;
    for (const PhaseItem& item : items) ++perProvider[item.provider];
    size_t wanted = 0;
    for (const auto& provider : perProvider) wanted += std::min(provider.second, size_t(perProvider_));
    wanted = std::min(wanted, size_t(kMaxWorkers));

    Handout handout(items, perProvider_);
    {
        std::vector<std::unique_ptr<ZqThread>> workers;
        for (size_t i = 0; i < wanted; ++i) {
            auto worker = std::make_unique<ZqThread>();
            if (worker->createThread([&handout, &work] {
                    handout.work(work);
                    return 0;
                }) != 0) {
                engineLog(log_, 2, "PhasePool::run", "PhasePool::run: Unable to create thread");
                break;
            }
            workers.push_back(std::move(worker));
        }
        for (auto& worker : workers) worker->joinThread(nullptr);
    }
    // Items no worker took (a worker that could not be started).
    handout.work(work);
    handout.raiseFailure();
}

std::vector<PhaseItem> pollTogether(const PhasePool& pool, std::vector<PhaseItem> items, int intervalSeconds,
                                    int maxSleeps, const std::function<bool(size_t)>& poll,
                                    const std::function<void(size_t)>& waiting) {
    for (int sleeps = 0;; ++sleeps) {
        std::vector<PhaseItem> byPosition;
        for (size_t pos = 0; pos < items.size(); ++pos) byPosition.push_back({pos, items[pos].provider});
        std::vector<char> over(items.size(), 0);
        pool.run(byPosition, [&](size_t pos) { over[pos] = poll(items[pos].index) ? 1 : 0; });
        std::vector<PhaseItem> pending;
        for (size_t pos = 0; pos < items.size(); ++pos)
            if (!over[pos]) pending.push_back(items[pos]);
        items.swap(pending);
        if (items.empty() || sleeps >= maxSleeps || intervalSeconds < 1) return items;
        if (waiting)
            for (const PhaseItem& item : items) waiting(item.index);
        zq::platform::clock().sleepSeconds(unsigned(intervalSeconds));
    }
}

std::vector<std::vector<size_t>> passesByCopy(const std::vector<std::string>& copies) {
    std::vector<std::vector<size_t>> passes;
    std::map<std::string, size_t> seen;
    for (size_t i = 0; i < copies.size(); ++i) {
        const size_t pass = copies[i].empty() ? 0 : seen[copies[i]]++;
        if (passes.size() <= pass) passes.resize(pass + 1);
        passes[pass].push_back(i);
    }
    return passes;
}

void ProviderPaths::lend(ZqCimConnection& conn) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const ZqCimConnection& kept : kept_) conn.TakeKnownPaths(kept);
}

void ProviderPaths::keep(const ZqCimConnection& conn) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (ZqCimConnection& kept : kept_)
        if (kept.SameEndpoint(conn)) {
            kept.TakeKnownPaths(conn);
            return;
        }
    kept_.push_back(conn);
}

}  // namespace ZQSOIBMSVCAPI
