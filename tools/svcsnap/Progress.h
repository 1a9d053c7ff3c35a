// Progress while the engine waits. Records note what they log last, per
// thread (ActivityBoard); the agent's clock (ProgressClock) reports each
// sleep of the engine with what it awaits, for which device and how long,
// before it sleeps on the clock it wraps. A series of equal waits (a job
// polled every few seconds) is reported when it starts and then once a
// minute of engine time, with the time waited so far.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "ZqClock.h"

namespace svcsnap {

class ActivityBoard {
public:
    // The calling thread worked on `device`, whose record logged `text`.
    void note(const std::string& device, const std::string& text);
    bool last(std::string* device, std::string* text) const;

private:
    mutable std::mutex mutex_;
    std::map<std::thread::id, std::pair<std::string, std::string>> last_;
};

class ProgressClock : public zq::platform::Clock {
public:
    using Reporter = std::function<void(const std::string& line)>;

    ProgressClock(std::shared_ptr<zq::platform::Clock> base, std::shared_ptr<ActivityBoard> board,
                  Reporter report);

    int64_t nowMs() const override { return base_->nowMs(); }
    void sleepMs(int64_t ms) override;
    double timeScale() const override { return base_->timeScale(); }
    uint64_t threadCreated() override { return base_->threadCreated(); }
    void threadStarted(uint64_t ticket) override { base_->threadStarted(ticket); }
    void threadExited(uint64_t ticket) override { base_->threadExited(ticket); }
    void blockBegin() override { base_->blockBegin(); }
    void blockEnd() override { base_->blockEnd(); }

    // "45 s", "2 min 30 s", "1 h 5 min".
    static std::string duration(int64_t ms);

private:
    struct Series {
        std::string device;
        std::string text;
        int64_t waitMs = 0;
        int64_t waitedMs = 0;
        int64_t unreportedMs = 0;
    };

    std::shared_ptr<zq::platform::Clock> base_;
    std::shared_ptr<ActivityBoard> board_;
    Reporter report_;
    std::mutex mutex_;
    std::map<std::thread::id, Series> series_;
};

}  // namespace svcsnap
