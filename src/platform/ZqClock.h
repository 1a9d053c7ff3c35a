// The one clock of the engine and the simulator. Every wait of the engine
// goes through it, so tests can scale or virtualise time.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

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

// Test clock: a sleep advances the shared virtual time at once.
class VirtualClock : public Clock {
public:
    explicit VirtualClock(int64_t startMs = 1767225600000 /* 2026-01-01 */, double scale = 0.001);
    int64_t nowMs() const override { return now_.load(); }
    void sleepMs(int64_t ms) override;
    double timeScale() const override { return scale_; }
    void advanceMs(int64_t ms) { now_.fetch_add(ms > 0 ? ms : 0); }

private:
    std::atomic<int64_t> now_;
    double scale_;
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
