#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <thread>
#include <vector>

#include "ZqClock.h"
#include "ZqThread.h"

using namespace zq::platform;
using namespace std::chrono;

TEST(ScaledClock, SleepIsScaledThroughBaseSleeper) {
    std::vector<nanoseconds> slept;
    steady_clock::time_point base{};
    ScaledClock c(0.001, [&](nanoseconds d) { slept.push_back(d); base += d; },
                  [&] { return base; });
    int64_t before = c.nowMs();
    c.sleepSeconds(300);
    ASSERT_EQ(slept.size(), 1u);
    EXPECT_EQ(duration_cast<milliseconds>(slept[0]).count(), 300);
    // 0.3 real seconds are 300 engine seconds.
    EXPECT_EQ(c.nowMs() - before, 300000);
    c.sleepMs(0);
    c.sleepMs(-5);
    EXPECT_EQ(slept.size(), 1u);
}

TEST(ScaledClock, NonPositiveScaleFallsBackToRealTime) {
    std::vector<nanoseconds> slept;
    ScaledClock c(-2, [&](nanoseconds d) { slept.push_back(d); });
    c.sleepSeconds(2);
    ASSERT_EQ(slept.size(), 1u);
    EXPECT_EQ(duration_cast<milliseconds>(slept[0]).count(), 2000);
}

namespace {

// Installs `clock` as the process clock, so ZqThread announces its threads to it.
struct ProcessClock {
    explicit ProcessClock(std::shared_ptr<VirtualClock> c) : clock(std::move(c)), previous(setClock(clock)) {}
    ~ProcessClock() { setClock(previous); }
    std::shared_ptr<VirtualClock> clock;
    std::shared_ptr<Clock> previous;
};

// Spins (bounded) until `done` holds.
template <class Pred>
bool waitFor(Pred done) {
    auto until = steady_clock::now() + seconds(10);
    while (!done()) {
        if (steady_clock::now() > until) return false;
        std::this_thread::yield();
    }
    return true;
}

}  // namespace

TEST(VirtualClock, ParallelSleepsOverlap) {
    ProcessClock pc(std::make_shared<VirtualClock>(1000));
    VirtualClock& c = *pc.clock;
    std::vector<std::unique_ptr<ZqThread>> workers;
    std::vector<int64_t> woke(8);
    for (int i = 0; i < 8; ++i) {
        workers.push_back(std::make_unique<ZqThread>());
        ASSERT_EQ(workers.back()->createThread([&c, &woke, i] {
            c.sleepMs(5000);
            woke[i] = c.nowMs();
            return 0;
        }), 0);
    }
    for (auto& w : workers) EXPECT_EQ(w->joinThread(nullptr), 0);
    // Eight parallel sleeps of 5 s take 5 s, and each ends exactly then.
    EXPECT_EQ(c.nowMs(), 1000 + 5000);
    for (int64_t t : woke) EXPECT_EQ(t, 1000 + 5000);

    // Loops of sleeps stay in step: 4 workers x 100 sleeps of 10 ms.
    std::vector<std::unique_ptr<ZqThread>> loops;
    for (int i = 0; i < 4; ++i) {
        loops.push_back(std::make_unique<ZqThread>());
        loops.back()->createThread([&c] {
            for (int k = 0; k < 100; ++k) c.sleepMs(10);
            return 0;
        });
    }
    loops.clear();  // joins
    EXPECT_EQ(c.nowMs(), 6000 + 1000);
}

TEST(VirtualClock, SleepsEndAtTheirOwnTimeInOrder) {
    ProcessClock pc(std::make_shared<VirtualClock>(0));
    VirtualClock& c = *pc.clock;
    std::vector<int64_t> shortWakes;
    int64_t longWake = 0;
    ZqThread shortSleeper, longSleeper;
    shortSleeper.createThread([&] {
        for (int k = 0; k < 3; ++k) {
            c.sleepMs(1000);
            shortWakes.push_back(c.nowMs());
        }
        return 0;
    });
    longSleeper.createThread([&] {
        c.sleepMs(2500);
        longWake = c.nowMs();
        return 0;
    });
    shortSleeper.joinThread(nullptr);
    longSleeper.joinThread(nullptr);
    EXPECT_EQ(shortWakes, (std::vector<int64_t>{1000, 2000, 3000}));
    EXPECT_EQ(longWake, 2500);
    EXPECT_EQ(c.nowMs(), 3000);
}

TEST(VirtualClock, ABusyWorkerHoldsTheOthersWakeUp) {
    ProcessClock pc(std::make_shared<VirtualClock>(0));
    VirtualClock& c = *pc.clock;
    std::atomic<int64_t> sleeperWoke{-1}, seenWhileBusy{-1};
    ZqThread sleeper, busy;
    sleeper.createThread([&] {
        c.sleepMs(1000);
        sleeperWoke = c.nowMs();
        return 0;
    });
    busy.createThread([&] {
        // Working (not sleeping) while the other sleeps: time stands still.
        if (!waitFor([&] { return c.sleepers() == 1; })) return 1;
        seenWhileBusy = c.nowMs();
        c.sleepMs(400);
        return 0;
    });
    int busyResult = -1;
    busy.joinThread(&busyResult);
    sleeper.joinThread(nullptr);
    EXPECT_EQ(busyResult, 0);
    EXPECT_EQ(seenWhileBusy.load(), 0);
    EXPECT_EQ(sleeperWoke.load(), 1000);
    EXPECT_EQ(c.nowMs(), 1000);
}

TEST(VirtualClock, OutsidersAndBlockedWorkersNeverWaitForEver) {
    auto shared = std::make_shared<VirtualClock>(0);
    shared->setStallBound(milliseconds(20));
    ProcessClock pc(shared);
    VirtualClock& c = *pc.clock;
    // A thread of its own (not a ZqThread) advances the clock at once.
    std::thread outsider([&] { c.sleepMs(700); });
    outsider.join();
    EXPECT_EQ(c.nowMs(), 700);

    // A worker blocked on something the clock cannot see (here: a future the
    // sleeper fulfils) does not keep the sleeper asleep for ever.
    std::promise<void> slept;
    auto blocked = slept.get_future();
    ZqThread sleeper, waiter;
    sleeper.createThread([&] {
        c.sleepMs(1000);
        slept.set_value();
        return 0;
    });
    waiter.createThread([&] {
        return blocked.wait_for(seconds(30)) == std::future_status::ready ? 0 : 1;
    });
    int waited = -1;
    waiter.joinThread(&waited);
    sleeper.joinThread(nullptr);
    EXPECT_EQ(waited, 0);
    EXPECT_EQ(c.nowMs(), 1700);

    // advanceMs wakes the sleeps that are due (the test thread runs, so
    // the sleep waits for it).
    c.setStallBound(seconds(60));
    ZqThread long_;
    long_.createThread([&] {
        c.sleepMs(60000);
        return 0;
    });
    ASSERT_TRUE(waitFor([&] { return c.sleepers() == 1; }));
    EXPECT_EQ(c.nowMs(), 1700);
    c.advanceMs(60000);
    long_.joinThread(nullptr);
    EXPECT_EQ(c.nowMs(), 61700);
    c.advanceMs(-5);
    EXPECT_EQ(c.nowMs(), 61700);
}

TEST(TimeScale, EnvironmentParsing) {
    setenv("ZQ_TIME_SCALE", "0.01", 1);
    EXPECT_DOUBLE_EQ(timeScaleFromEnvironment(), 0.01);
    for (const char* bad : {"", "abc", "0", "-1", "0.5x"}) {
        setenv("ZQ_TIME_SCALE", bad, 1);
        EXPECT_DOUBLE_EQ(timeScaleFromEnvironment(), 1.0) << bad;
    }
    unsetenv("ZQ_TIME_SCALE");
    EXPECT_DOUBLE_EQ(timeScaleFromEnvironment(), 1.0);
}

TEST(TimeScale, NetworkTimeoutFloorDependsOnScale) {
    auto previous = setClock(std::make_shared<VirtualClock>(0, 0.001));
    EXPECT_EQ(scaledNetworkTimeout(milliseconds(300000)).count(), 300);
    EXPECT_EQ(scaledNetworkTimeout(milliseconds(30000)).count(), 50);
    EXPECT_EQ(scaledNetworkTimeout(milliseconds(5000000)).count(), 5000);
    setClock(std::make_shared<VirtualClock>(0, 1.0));
    EXPECT_EQ(scaledNetworkTimeout(milliseconds(300)).count(), 1000);
    EXPECT_EQ(scaledNetworkTimeout(milliseconds(30000)).count(), 30000);
    setClock(std::make_shared<VirtualClock>(0, 2.0));
    EXPECT_EQ(scaledNetworkTimeout(milliseconds(200)).count(), 1000);
    EXPECT_EQ(scaledNetworkTimeout(milliseconds(3000)).count(), 6000);
    setClock(previous);
}
