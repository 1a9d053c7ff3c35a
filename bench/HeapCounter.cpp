#include "HeapCounter.h"

#include <malloc.h>

#include <atomic>
#include <cerrno>

extern "C" {
void* __libc_malloc(size_t);
void __libc_free(void*);
void* __libc_realloc(void*, size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_memalign(size_t, size_t);
}

namespace {
std::atomic<long long> g_current{0};
std::atomic<long long> g_peak{0};

void add(long long n) {
    long long now = g_current.fetch_add(n, std::memory_order_relaxed) + n;
    long long peak = g_peak.load(std::memory_order_relaxed);
    while (now > peak && !g_peak.compare_exchange_weak(peak, now, std::memory_order_relaxed)) {
    }
}

void* counted(void* p) {
    if (p) add((long long)malloc_usable_size(p));
    return p;
}
}  // namespace

extern "C" {
void* malloc(size_t n) { return counted(__libc_malloc(n)); }
void* calloc(size_t n, size_t size) { return counted(__libc_calloc(n, size)); }
void* memalign(size_t alignment, size_t n) { return counted(__libc_memalign(alignment, n)); }
void* aligned_alloc(size_t alignment, size_t n) { return counted(__libc_memalign(alignment, n)); }
int posix_memalign(void** out, size_t alignment, size_t n) {
    void* p = counted(__libc_memalign(alignment, n));
    if (!p) return ENOMEM;
    *out = p;
    return 0;
}
void free(void* p) {
    if (p) add(-(long long)malloc_usable_size(p));
    __libc_free(p);
}
void* realloc(void* p, size_t n) {
    long long before = p ? (long long)malloc_usable_size(p) : 0;
    void* q = __libc_realloc(p, n);
    if (q)
        add((long long)malloc_usable_size(q) - before);
    else if (n == 0 && p)
        add(-before);
    return q;
}
}

namespace heapcounter {
size_t current() { return size_t(g_current.load()); }
size_t peak() { return size_t(g_peak.load()); }
void resetPeak() { g_peak.store(g_current.load()); }
}  // namespace heapcounter
