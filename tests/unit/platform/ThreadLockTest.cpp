#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "ZqCriticalSection.h"
#include "ZqDebugLogSink.h"
#include "ZqPlatformRegistry.h"
#include "ZqThread.h"

using namespace zq::platform;

namespace {
int addOne(void* arg) {
    auto* counter = static_cast<std::atomic<int>*>(arg);
    return ++*counter;
}
}  // namespace

TEST(ZqThread, RunsJoinsAndHandsBackTheResult) {
    std::atomic<int> counter{41};
    ZqThread thread;
    ASSERT_EQ(thread.createThread(addOne, &counter), 0);
    EXPECT_LT(thread.createThread(addOne, &counter), 0);  // still running or not joined
    int result = 0;
    EXPECT_EQ(thread.joinThread(&result), 0);
    EXPECT_EQ(result, 42);
    EXPECT_LT(thread.joinThread(&result), 0);
    // Reusable once joined.
    ASSERT_EQ(thread.createThread(addOne, &counter), 0);
    EXPECT_EQ(thread.joinThread(&result), 0);
    EXPECT_EQ(result, 43);
    EXPECT_LT(thread.createThread(nullptr, nullptr), 0);
}

TEST(ZqThread, AnExceptionInTheThreadBecomesResultMinusOne) {
    auto log = std::make_shared<MemoryDebugLog>();
    ScopedService<DebugLogSink> sink(registry().debugLog, log);
    ZqThread thread;
    ASSERT_EQ(thread.createThread([]() -> int { throw std::runtime_error("worker broke"); }), 0);
    int result = 0;
    EXPECT_EQ(thread.joinThread(&result), 0);
    EXPECT_EQ(result, -1);
    EXPECT_TRUE(log->contains("worker broke"));
}

TEST(ZqCriticalSection, SerializesThreadsAndLetsTheOwnerReenter) {
    ZqCriticalSection section;
    long counter = 0;  // guarded by section only
    std::vector<ZqThread> threads(4);
    for (auto& t : threads)
        ASSERT_EQ(t.createThread([&] {
            for (int i = 0; i < 5000; ++i) {
                ZqCriticalSectionLock outer(section);
                ZqCriticalSectionLock inner(section);
                ++counter;
            }
            return 0;
        }),
                  0);
    for (auto& t : threads) t.joinThread(nullptr);
    EXPECT_EQ(counter, 20000);
}

TEST(ZqCriticalSection, TryEnterFailsWhileAnotherThreadHoldsIt) {
    auto log = std::make_shared<MemoryDebugLog>();
    ScopedService<DebugLogSink> sink(registry().debugLog, log);
    ZqCriticalSection section;
    std::mutex m;
    std::condition_variable cv;
    bool held = false, release = false;
    ZqThread holder;
    ASSERT_EQ(holder.createThread([&] {
        section.enter(true);
        {
            std::unique_lock<std::mutex> lock(m);
            held = true;
            cv.notify_all();
            cv.wait(lock, [&] { return release; });
        }
        section.leave();
        return 0;
    }),
              0);
    {
        std::unique_lock<std::mutex> lock(m);
        ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(30), [&] { return held; }));
    }
    EXPECT_FALSE(section.enter(false));
    EXPECT_FALSE(section.leave());  // not the owner
    EXPECT_TRUE(log->contains("does not hold the lock"));
    {
        std::lock_guard<std::mutex> lock(m);
        release = true;
    }
    cv.notify_all();
    holder.joinThread(nullptr);
    EXPECT_TRUE(section.enter(false));
    EXPECT_TRUE(section.leave());
}
