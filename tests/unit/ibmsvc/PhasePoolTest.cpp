// The pool of a flow's phase: the bound per provider, the first item of each
// provider ahead of the others, serial mode, an exception from the work, and
// the shared wait of pollTogether on a virtual clock.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "PhasePool.h"
#include "ZqClock.h"

namespace ZQSOIBMSVCAPI {
namespace {

std::vector<PhaseItem> itemsOf(const std::vector<std::string>& providers) {
    std::vector<PhaseItem> items;
    for (size_t i = 0; i < providers.size(); ++i) items.push_back({i, providers[i]});
    return items;
}

TEST(PhasePool, EachProviderGetsItsOwnBoundAfterItsFirstItem) {
    const PhasePool pool(false, 2);
    const auto items = itemsOf({"A", "B", "A", "B", "A", "B", "A", "B"});
    std::mutex mutex;
    std::condition_variable changed;
    std::map<std::string, int> inFlight, peak;
    int total = 0, peakTotal = 0, leadersDone = 0;
    bool together = false, timedOut = false, followerBeforeLeaders = false;
    std::vector<int> runs(items.size(), 0);
    pool.run(items, [&](size_t i) {
        const std::string& p = items[i].provider;
        std::unique_lock<std::mutex> lock(mutex);
        ++runs[i];
        const bool leader = i < 2;
        if (!leader && leadersDone < 2) followerBeforeLeaders = true;
        peak[p] = std::max(peak[p], ++inFlight[p]);
        peakTotal = std::max(peakTotal, ++total);
        together = together || total == 4;
        changed.notify_all();
        // the first followers hold on until both providers are at their bound
        if (!leader && !changed.wait_for(lock, std::chrono::seconds(10), [&] { return together; })) timedOut = true;
        --inFlight[p];
        --total;
        if (leader) ++leadersDone;
        changed.notify_all();
    });
    EXPECT_EQ(runs, std::vector<int>(items.size(), 1));
    EXPECT_FALSE(followerBeforeLeaders) << "the first item of each provider goes first";
    EXPECT_FALSE(timedOut) << "both providers reached their bound together";
    EXPECT_EQ(peak["A"], 2);
    EXPECT_EQ(peak["B"], 2);
    EXPECT_EQ(peakTotal, 4);
}

TEST(PhasePool, SerialRunsTheItemsInOrderInTheCallingThread) {
    const PhasePool pool(true, 16);
    std::vector<size_t> order;
    bool elsewhere = false;
    const auto caller = std::this_thread::get_id();
    std::vector<PhaseItem> items{{3, "A"}, {0, "B"}, {2, "A"}, {1, "A"}};
    pool.run(items, [&](size_t i) {
        order.push_back(i);
        elsewhere = elsewhere || std::this_thread::get_id() != caller;
    });
    EXPECT_EQ(order, (std::vector<size_t>{3, 0, 2, 1}));
    EXPECT_FALSE(elsewhere);
}

TEST(PhasePool, AnExceptionIsRaisedOnceEveryWorkerHasEnded) {
    const PhasePool pool(false, 16);
    const auto items = itemsOf(std::vector<std::string>(40, "A"));
    std::atomic<int> running{0}, started{0};
    bool raised = false;
    try {
        pool.run(items, [&](size_t i) {
            ++running;
            ++started;
            std::this_thread::yield();
            --running;
            if (i == 5) throw std::runtime_error("refused");
        });
    } catch (const std::runtime_error&) {
        raised = true;
        EXPECT_EQ(running.load(), 0) << "no worker outlives the call";
    }
    EXPECT_TRUE(raised);
    EXPECT_GE(started.load(), 6);
}

TEST(PhasePool, PollTogetherSleepsOncePerRoundForAllPendingItems) {
    auto clock = std::make_shared<zq::platform::VirtualClock>();
    auto previous = zq::platform::setClock(clock);
    const PhasePool pool(false, 16);
    std::vector<int> polls(3, 0), waits(3, 0);
    const int64_t start = clock->nowMs();
    // item 0 is done at once, item 1 at its third poll, item 2 never
    const auto left = pollTogether(
        pool, itemsOf({"A", "A", "A"}), 10, 4,
        [&](size_t i) {
            ++polls[i];
            return i == 0 || (i == 1 && polls[i] == 3);
        },
        [&](size_t i) { ++waits[i]; });
    const int64_t took = clock->nowMs() - start;
    zq::platform::setClock(previous);
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].index, 2u);
    EXPECT_EQ(polls, (std::vector<int>{1, 3, 5}));
    EXPECT_EQ(waits, (std::vector<int>{0, 2, 4}));
    EXPECT_EQ(took, 40 * 1000) << "four sleeps of 10 s, whatever the number of items";
}

TEST(PhasePool, ACopyNamedTwiceGoesInALaterPass) {
    EXPECT_EQ(passesByCopy({"t1", "", "t2", "t1", "", "t1"}),
              (std::vector<std::vector<size_t>>{{0, 1, 2, 4}, {3}, {5}}));
}

}  // namespace
}  // namespace ZQSOIBMSVCAPI
