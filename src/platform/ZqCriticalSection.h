// A process-wide lock. The owning thread may enter again (each enter needs its
// leave); a leave by a thread that does not hold the lock is refused.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

class ZqCriticalSection {
public:
    // Raises ZqException("Not enough memory to initialize ZqCriticalSection")
    // when the lock cannot be made.
    ZqCriticalSection();
    ~ZqCriticalSection();
    ZqCriticalSection(const ZqCriticalSection&) = delete;
    ZqCriticalSection& operator=(const ZqCriticalSection&) = delete;

    // Blocks until the lock is held (wait), or only tries (no wait). True when held.
    bool enter(bool wait = true);
    // False when the calling thread does not hold the lock.
    bool leave();

private:
    std::unique_ptr<std::recursive_mutex> mutex_;
    std::atomic<std::thread::id> owner_{};
    int depth_ = 0;  // guarded by mutex_
};

// Enters on construction, leaves on destruction.
class ZqCriticalSectionLock {
public:
    explicit ZqCriticalSectionLock(ZqCriticalSection& section) : section_(section) { section_.enter(true); }
    ~ZqCriticalSectionLock() { section_.leave(); }
    ZqCriticalSectionLock(const ZqCriticalSectionLock&) = delete;
    ZqCriticalSectionLock& operator=(const ZqCriticalSectionLock&) = delete;

private:
    ZqCriticalSection& section_;
};
