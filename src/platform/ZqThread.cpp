#include "ZqThread.h"

#include <exception>
#include <system_error>

#include "EvDebug.h"
#include "ZqClock.h"
#include "ZqPlatformRegistry.h"

ZqThread::~ZqThread() {
    if (thread_.joinable()) join();
}

void ZqThread::join() {
    clock_->blockBegin();
    thread_.join();
    clock_->blockEnd();
}

int ZqThread::createThread(Function function, void* argument) {
    if (!function) return -1;
    return createThread([function, argument] { return function(argument); });
}

int ZqThread::createThread(std::function<int()> body) {
    if (!body || thread_.joinable()) return -1;
    clock_ = zq::platform::registry().clock.get();
    uint64_t ticket = clock_->threadCreated();
    try {
        thread_ = std::thread([this, ticket, clock = clock_, body = std::move(body)] {
            clock->threadStarted(ticket);
            try {
                result_ = body();
            } catch (const std::exception& e) {
                EvDebug().DebugLvl("ZqThread", 2, "thread function raised: %s", e.what());
                result_ = -1;
            } catch (...) {
                EvDebug().DebugLvl("ZqThread", 2, "thread function raised an unknown exception");
                result_ = -1;
            }
            clock->threadExited(ticket);
        });
    } catch (const std::system_error& e) {
        clock_->threadExited(ticket);
        EvDebug().DebugLvl("ZqThread", 2, "cannot start a thread: %s", e.what());
        return -2;
    }
    return 0;
}

int ZqThread::joinThread(int* result) {
    if (!thread_.joinable()) return -1;
    join();
    if (result) *result = result_;
    return 0;
}
