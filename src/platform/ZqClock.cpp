#include "ZqClock.h"

#include <algorithm>
#include <cstdlib>
#include <thread>

#include "ZqPlatformRegistry.h"

namespace zq {
namespace platform {

namespace {
int64_t systemEpochMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}
}  // namespace

ScaledClock::ScaledClock(double scale, BaseSleeper sleeper, BaseNow now)
    : scale_(scale > 0 ? scale : 1.0),
      sleeper_(sleeper ? std::move(sleeper)
                       : BaseSleeper([](std::chrono::nanoseconds d) { std::this_thread::sleep_for(d); })),
      baseNow_(now ? std::move(now) : BaseNow([] { return std::chrono::steady_clock::now(); })),
      start_(baseNow_()),
      startEpochMs_(systemEpochMs()) {}

int64_t ScaledClock::nowMs() const {
    auto elapsed = std::chrono::duration<double, std::milli>(baseNow_() - start_).count();
    return startEpochMs_ + int64_t(elapsed / scale_);
}

void ScaledClock::sleepMs(int64_t ms) {
    if (ms <= 0) return;
    auto real = std::chrono::duration<double, std::milli>(double(ms) * scale_);
    sleeper_(std::chrono::duration_cast<std::chrono::nanoseconds>(real));
}

VirtualClock::VirtualClock(int64_t startMs, double scale) : now_(startMs), scale_(scale) {}

uint64_t VirtualClock::ticketOfCaller() const {
    auto it = tickets_.find(std::this_thread::get_id());
    return it == tickets_.end() ? 0 : it->second;
}

size_t VirtualClock::runningLocked() const {
    size_t running = 0;
    for (const auto& entry : participants_)
        if (!entry.second.waiting) ++running;
    return running;
}

void VirtualClock::advanceToLocked(int64_t target) {
    if (target > now_.load()) now_.store(target);
    // Sleepers that are due count as running again until they are back.
    int64_t now = now_.load();
    for (auto it = sleeps_.begin(); it != sleeps_.end() && it->first <= now; ++it) {
        auto p = participants_.find(it->second);
        if (p != participants_.end()) p->second.waiting = false;
    }
    changed_.notify_all();
}

void VirtualClock::setWaitingLocked(bool waiting) {
    auto p = participants_.find(ticketOfCaller());
    if (p == participants_.end()) return;
    p->second.waiting = waiting;
    changed_.notify_all();
}

void VirtualClock::releaseParentLocked(uint64_t parent) {
    auto p = participants_.find(parent);
    if (p == participants_.end()) return;
    if (--p->second.liveChildren > 0 || p->second.worker) return;
    for (auto t = tickets_.begin(); t != tickets_.end();) t = t->second == parent ? tickets_.erase(t) : std::next(t);
    participants_.erase(p);
}

void VirtualClock::sleepMs(int64_t ms) {
    if (ms <= 0) {
        std::this_thread::yield();
        return;
    }
    std::unique_lock<std::mutex> lock(mutex_);
    const int64_t target = now_.load() + ms;
    auto mine = sleeps_.emplace(target, ticketOfCaller());
    setWaitingLocked(true);
    int64_t seen = now_.load();
    auto stallDeadline = std::chrono::steady_clock::now() + stallBound_;
    while (now_.load() < target) {
        if (now_.load() != seen) {
            seen = now_.load();
            stallDeadline = std::chrono::steady_clock::now() + stallBound_;
        }
        if (runningLocked() == 0 ||
            changed_.wait_until(lock, stallDeadline) == std::cv_status::timeout) {
            if (now_.load() < target) advanceToLocked(sleeps_.upper_bound(now_.load())->first);
        }
    }
    sleeps_.erase(mine);
    setWaitingLocked(false);
}

void VirtualClock::advanceMs(int64_t ms) {
    std::lock_guard<std::mutex> lock(mutex_);
    advanceToLocked(now_.load() + (ms > 0 ? ms : 0));
}

size_t VirtualClock::sleepers() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return sleeps_.size();
}

void VirtualClock::setStallBound(std::chrono::milliseconds bound) {
    std::lock_guard<std::mutex> lock(mutex_);
    stallBound_ = bound;
}

uint64_t VirtualClock::threadCreated() {
    std::lock_guard<std::mutex> lock(mutex_);
    uint64_t parent = ticketOfCaller();
    if (parent == 0) {
        parent = nextTicket_++;
        participants_[parent] = Participant{};
        tickets_[std::this_thread::get_id()] = parent;
    }
    participants_[parent].liveChildren++;
    uint64_t child = nextTicket_++;
    Participant worker;
    worker.worker = true;
    worker.parent = parent;
    participants_[child] = worker;
    return child;
}

void VirtualClock::threadStarted(uint64_t ticket) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (participants_.count(ticket)) tickets_[std::this_thread::get_id()] = ticket;
}

void VirtualClock::threadExited(uint64_t ticket) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto p = participants_.find(ticket);
    if (p == participants_.end()) return;
    uint64_t parent = p->second.parent;
    p->second.worker = false;
    p->second.parent = 0;
    // A worker that still has live children stays (not running) until the
    // last one ends.
    p->second.waiting = true;
    if (p->second.liveChildren == 0) {
        for (auto t = tickets_.begin(); t != tickets_.end();)
            t = t->second == ticket ? tickets_.erase(t) : std::next(t);
        participants_.erase(p);
    }
    releaseParentLocked(parent);
    changed_.notify_all();
}

void VirtualClock::blockBegin() {
    std::lock_guard<std::mutex> lock(mutex_);
    setWaitingLocked(true);
}

void VirtualClock::blockEnd() {
    std::lock_guard<std::mutex> lock(mutex_);
    setWaitingLocked(false);
}

double timeScaleFromEnvironment() {
    const char* text = std::getenv("ZQ_TIME_SCALE");
    if (!text || !*text) return 1.0;
    char* end = nullptr;
    double v = std::strtod(text, &end);
    if (end == text || *end != '\0' || !(v > 0) || v > 1e6) return 1.0;
    return v;
}

std::chrono::milliseconds scaledNetworkTimeout(std::chrono::milliseconds ms) {
    double scale = clock().timeScale();
    double scaled = double(ms.count()) * scale;
    // Real networks need a second; a compressed test clock may go lower.
    int64_t floorMs = scale >= 1.0 ? 1000 : 50;
    return std::chrono::milliseconds(std::max<int64_t>(floorMs, int64_t(scaled)));
}

Clock& clock() { return *registry().clock.get(); }

std::shared_ptr<Clock> setClock(std::shared_ptr<Clock> c) { return registry().clock.replace(std::move(c)); }

}  // namespace platform
}  // namespace zq
