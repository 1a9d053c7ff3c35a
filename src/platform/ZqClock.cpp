#include "ZqClock.h"

#include <algorithm>
#include <cstdlib>
#include <thread>

#include "ZqPlatformRegistry.h"

namespace zq {
namespace platform {

namespace {
int64_t systemEpochMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}
}  // namespace

ScaledClock::ScaledClock(double scale, BaseSleeper sleeper, BaseNow now)
    : scale_(scale > 0 ? scale : 1.0),
      sleeper_(sleeper ? std::move(sleeper)
                       : BaseSleeper([](std::chrono::nanoseconds d) { std::this_thread::sleep_for(d); })),
      baseNow_(now ? std::move(now) : BaseNow([] { return std::chrono::steady_clock::now(); })),
      start_(baseNow_()),
      startEpochMs_(systemEpochMs()) {}

int64_t ScaledClock::nowMs() const {
    auto elapsed = std::chrono::duration<double, std::milli>(baseNow_() - start_).count();
    return startEpochMs_ + int64_t(elapsed / scale_);
}

void ScaledClock::sleepMs(int64_t ms) {
    if (ms <= 0) return;
    auto real = std::chrono::duration<double, std::milli>(double(ms) * scale_);
    sleeper_(std::chrono::duration_cast<std::chrono::nanoseconds>(real));
}

VirtualClock::VirtualClock(int64_t startMs, double scale) : now_(startMs), scale_(scale) {}

void VirtualClock::sleepMs(int64_t ms) {
    advanceMs(ms);
    std::this_thread::yield();
}

double timeScaleFromEnvironment() {
    const char* text = std::getenv("ZQ_TIME_SCALE");
    if (!text || !*text) return 1.0;
    char* end = nullptr;
    double v = std::strtod(text, &end);
    if (end == text || *end != '\0' || !(v > 0) || v > 1e6) return 1.0;
    return v;
}

std::chrono::milliseconds scaledNetworkTimeout(std::chrono::milliseconds ms) {
    double scale = clock().timeScale();
    double scaled = double(ms.count()) * scale;
    // Real networks need a second; a compressed test clock may go lower.
    int64_t floorMs = scale >= 1.0 ? 1000 : 50;
    return std::chrono::milliseconds(std::max<int64_t>(floorMs, int64_t(scaled)));
}

Clock& clock() { return *registry().clock.get(); }

std::shared_ptr<Clock> setClock(std::shared_ptr<Clock> c) { return registry().clock.replace(std::move(c)); }

}  // namespace platform
}  // namespace zq
