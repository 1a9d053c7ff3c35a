#include "ZqThread.h"

#include <exception>
#include <system_error>

#include "EvDebug.h"

ZqThread::~ZqThread() {
    if (thread_.joinable()) thread_.join();
}

int ZqThread::createThread(Function function, void* argument) {
    if (!function) return -1;
    return createThread([function, argument] { return function(argument); });
}

int ZqThread::createThread(std::function<int()> body) {
    if (!body || thread_.joinable()) return -1;
    try {
        thread_ = std::thread([this, body = std::move(body)] {
            try {
                result_ = body();
            } catch (const std::exception& e) {
                EvDebug().DebugLvl("ZqThread", 2, "thread function raised: %s", e.what());
                result_ = -1;
            } catch (...) {
                EvDebug().DebugLvl("ZqThread", 2, "thread function raised an unknown exception");
                result_ = -1;
            }
        });
    } catch (const std::system_error& e) {
        EvDebug().DebugLvl("ZqThread", 2, "cannot start a thread: %s", e.what());
        return -2;
    }
    return 0;
}

int ZqThread::joinThread(int* result) {
    if (!thread_.joinable()) return -1;
    thread_.join();
    if (result) *result = result_;
    return 0;
}
