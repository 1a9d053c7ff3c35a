// One worker thread. The destructor joins a thread that is still running.
// Threads announce themselves to the process clock, so a simulated clock
// lets the sleeps of parallel workers overlap (ZqClock.h).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

namespace zq {
namespace platform {
class Clock;
}
}  // namespace zq

class ZqThread {
public:
    using Function = int (*)(void* argument);

    ZqThread() = default;
    ~ZqThread();
    ZqThread(const ZqThread&) = delete;
    ZqThread& operator=(const ZqThread&) = delete;

    // Starts `function(argument)`. 0 started; negative: no thread (no
    // function, a thread already started and not joined, or the system refused).
    int createThread(Function function, void* argument);
    int createThread(std::function<int()> body);
    // Waits until the function has returned and hands back its result (-1
    // when it raised an exception). 0 joined; negative: no thread to join.
    int joinThread(int* result);

private:
    void join();

    std::thread thread_;
    std::shared_ptr<zq::platform::Clock> clock_;  // the clock the thread announced itself to
    int result_ = 0;
};
