#include "ZqCriticalSection.h"

#include <new>

#include "EvDebug.h"
#include "ZqException.h"

ZqCriticalSection::ZqCriticalSection() {
    try {
        mutex_ = std::make_unique<std::recursive_mutex>();
    } catch (const std::bad_alloc&) {
        throw ZqException("Not enough memory to initialize ZqCriticalSection");
    }
}

ZqCriticalSection::~ZqCriticalSection() = default;

bool ZqCriticalSection::enter(bool wait) {
    if (wait)
        mutex_->lock();
    else if (!mutex_->try_lock())
        return false;
    if (depth_++ == 0) owner_.store(std::this_thread::get_id());
    return true;
}

bool ZqCriticalSection::leave() {
    if (owner_.load() != std::this_thread::get_id()) {
        EvDebug().DebugLvl("ZqCriticalSection::leave", 2, "leave by a thread that does not hold the lock; ignored");
        return false;
    }
    if (--depth_ == 0) owner_.store(std::thread::id());
    mutex_->unlock();
    return true;
}
