#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "ZqClock.h"

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

TEST(VirtualClock, SleepAdvancesSharedTimeFromEveryThread) {
    VirtualClock c(1000);
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i)
        threads.emplace_back([&] {
            for (int k = 0; k < 100; ++k) c.sleepMs(10);
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(c.nowMs(), 1000 + 4 * 100 * 10);
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
