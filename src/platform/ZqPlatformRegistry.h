// The one place where the platform services live. Each service has a slot
// that makes its default on first use; tests and the host agent replace a
// service by installing another object in its slot.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <utility>

class ZQPlatformInfo;

namespace zq {
namespace platform {

class Clock;
class DebugLogSink;
class DeviceBackend;
class SnapCatalogue;

template <class T>
class ServiceSlot {
public:
    using Factory = std::function<std::shared_ptr<T>()>;

    explicit ServiceSlot(Factory makeDefault) : makeDefault_(std::move(makeDefault)) {}
    ServiceSlot(const ServiceSlot&) = delete;
    ServiceSlot& operator=(const ServiceSlot&) = delete;

    // The installed service, or the default made now.
    std::shared_ptr<T> get() {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!current_) current_ = makeDefault_();
        return current_;
    }

    // Installs `service` (null: the default is made again on next use) and
    // returns what was installed before.
    std::shared_ptr<T> replace(std::shared_ptr<T> service) {
        std::lock_guard<std::mutex> lock(mutex_);
        std::swap(current_, service);
        return service;
    }

private:
    std::mutex mutex_;
    Factory makeDefault_;
    std::shared_ptr<T> current_;
};

// Part of the library's binary interface: new slots go at the end, so hosts
// built against an older minor version keep the offsets they know.
struct Registry {
    ServiceSlot<Clock> clock;                    // ScaledClock from ZQ_TIME_SCALE
    ServiceSlot<ZQPlatformInfo> platformInfo;    // INI file named by ZQSO_CONFIG
    ServiceSlot<DebugLogSink> debugLog;          // file named by ZQSO_DEBUG_LOG, else stderr
    ServiceSlot<DeviceBackend> devices;          // Linux SG_IO devices
    ServiceSlot<SnapCatalogue> snapCatalogue;    // none: every query fails

    Registry();
};

// The process registry.
Registry& registry();

// Installs a service for the lifetime of this object, then puts the previous
// one back.
template <class T>
class ScopedService {
public:
    ScopedService(ServiceSlot<T>& slot, std::shared_ptr<T> service)
        : slot_(slot), previous_(slot.replace(std::move(service))) {}
    ~ScopedService() { slot_.replace(std::move(previous_)); }
    ScopedService(const ScopedService&) = delete;
    ScopedService& operator=(const ScopedService&) = delete;

private:
    ServiceSlot<T>& slot_;
    std::shared_ptr<T> previous_;
};

}  // namespace platform
}  // namespace zq
