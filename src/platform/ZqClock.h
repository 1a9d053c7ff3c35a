// The one clock of the engine and the simulator. Every wait of the engine
// goes through it, so tests can scale or virtualise time.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace zq {
namespace platform {

class Clock {
public:
    virtual ~Clock() = default;
    // Milliseconds since the Unix epoch, in engine time.
    virtual int64_t nowMs() const = 0;
    // Blocks the calling thread for `ms` of engine time.
    virtual void sleepMs(int64_t ms) = 0;
    // Real seconds per engine second (1 in production).
    virtual double timeScale() const = 0;

    void sleepSeconds(unsigned seconds) { sleepMs(int64_t(seconds) * 1000); }
    int64_t nowSeconds() const { return nowMs() / 1000; }

    // The platform's threads (ZqThread) announce themselves, so that a
    // simulated clock knows which threads may still go to sleep. Real clocks
    // ignore these calls.
    // Called by the creating thread before the new thread runs; the ticket
    // is handed to the new thread.
    virtual uint64_t threadCreated() { return 0; }
    // Called by the new thread first (threadStarted) and last (threadExited).
    virtual void threadStarted(uint64_t ticket) { (void)ticket; }
    virtual void threadExited(uint64_t ticket) { (void)ticket; }
    // The calling thread blocks on something other than a sleep (a join).
    virtual void blockBegin() {}
    virtual void blockEnd() {}
};

// Real time with every duration multiplied by the scale: a sleep of S engine
// seconds lasts S * scale real seconds, and engine time runs 1/scale times as
// fast as real time. The base sleeper and time source are injectable.
class ScaledClock : public Clock {
public:
    using BaseSleeper = std::function<void(std::chrono::nanoseconds)>;
    using BaseNow = std::function<std::chrono::steady_clock::time_point()>;

    explicit ScaledClock(double scale, BaseSleeper sleeper = {}, BaseNow now = {});
    int64_t nowMs() const override;
    void sleepMs(int64_t ms) override;
    double timeScale() const override { return scale_; }

private:
    double scale_;
    BaseSleeper sleeper_;
    BaseNow baseNow_;
    std::chrono::steady_clock::time_point start_;
    int64_t startEpochMs_;
};

// Test clock: time moves only through sleeps and advanceMs, never with real
// time. A sleep of W that starts at virtual time T ends at T + W exactly.
//
// Sleeps of parallel threads overlap: threads started through ZqThread (and
// the threads that started them, until their last such thread has ended)
// take part in the clock, and time advances to the earliest wake-up only
// when none of them is running, i.e. each sleeps, joins or has ended. So N
// workers that each sleep W advance the clock by W, not N * W, and a worker
// that is busy (a request in flight) holds the others' wake-ups until it
// sleeps too. Other threads are outsiders: their sleeps advance the clock at
// once when no participant is running. Should the participants not all reach
// a sleep within a short real-time bound (one blocked on something the clock
// does not see), the earliest sleeper wakes anyway, so no sleep waits for ever.
class VirtualClock : public Clock {
public:
    explicit VirtualClock(int64_t startMs = 1767225600000 /* 2026-01-01 */, double scale = 0.001);
    int64_t nowMs() const override { return now_.load(); }
    void sleepMs(int64_t ms) override;
    double timeScale() const override { return scale_; }
    // Moves time forward at once (negative values count as 0) and wakes the
    // sleeps that are due.
    void advanceMs(int64_t ms);

    // Threads sleeping on this clock right now.
    size_t sleepers() const;
    // Real time after which sleepers stop waiting for running participants
    // (default 200 ms).
    void setStallBound(std::chrono::milliseconds bound);

    uint64_t threadCreated() override;
    void threadStarted(uint64_t ticket) override;
    void threadExited(uint64_t ticket) override;
    void blockBegin() override;
    void blockEnd() override;

private:
    struct Participant {
        bool worker = false;   // started through ZqThread
        int liveChildren = 0;  // threads it started that have not ended
        bool waiting = false;  // sleeping (not yet due) or blocked
        uint64_t parent = 0;
    };

    uint64_t ticketOfCaller() const;                 // 0 for an outsider
    size_t runningLocked() const;
    void advanceToLocked(int64_t target);
    void setWaitingLocked(bool waiting);
    void releaseParentLocked(uint64_t parent);

    std::atomic<int64_t> now_;
    double scale_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::map<uint64_t, Participant> participants_;
    std::map<std::thread::id, uint64_t> tickets_;
    std::multimap<int64_t, uint64_t> sleeps_;  // wake-up time -> ticket (0 outsider)
    uint64_t nextTicket_ = 1;
    std::chrono::milliseconds stallBound_{200};
};

// Scale read from ZQ_TIME_SCALE: a positive number, 1 when unset or invalid.
double timeScaleFromEnvironment();

// Network time-outs are real time: `ms` scaled, never below one second at a
// time scale of 1 or more, never below 50 ms at a smaller scale.
std::chrono::milliseconds scaledNetworkTimeout(std::chrono::milliseconds ms);

// The process clock (a ScaledClock from the environment unless replaced).
Clock& clock();
// Replaces the process clock; null restores the default. Returns the previous one.
std::shared_ptr<Clock> setClock(std::shared_ptr<Clock> clock);

}  // namespace platform
}  // namespace zq
