// run() must be safe on an audio thread: no allocation and no lock, also
// frame by frame, with hostile values and across mode switches and their
// flushes. This executable replaces the C allocator and pthread_mutex_lock
// with counting wrappers, which the plugin, loaded with dlopen, binds to
// (operator new ends in malloc). AddressSanitizer owns the allocator, so
// there the wrappers are left out and the test skips.
#include <atomic>

#include <dlfcn.h>
#include <pthread.h>

#include <gtest/gtest.h>

#include "lv2_support.h"

namespace {
std::atomic<bool> counting{false};
std::atomic<long> allocations{0}, locks{0};
void note(std::atomic<long> &n)
{
    if (counting.load(std::memory_order_relaxed))
        n.fetch_add(1, std::memory_order_relaxed);
}
} // namespace

#if !defined(__SANITIZE_ADDRESS__)
extern "C" {
void *__libc_malloc(size_t);
void *__libc_calloc(size_t, size_t);
void *__libc_realloc(void *, size_t);
void *__libc_memalign(size_t, size_t);
void *malloc(size_t n) { return note(allocations), __libc_malloc(n); }
void *calloc(size_t n, size_t s) { return note(allocations), __libc_calloc(n, s); }
void *realloc(void *p, size_t n) { return note(allocations), __libc_realloc(p, n); }
void *aligned_alloc(size_t a, size_t n) { return note(allocations), __libc_memalign(a, n); }
int posix_memalign(void **out, size_t a, size_t n) { return note(allocations), (*out = __libc_memalign(a, n)) ? 0 : 12; }
int pthread_mutex_lock(pthread_mutex_t *m)
{
    static auto real = reinterpret_cast<int (*)(pthread_mutex_t *)>(dlsym(RTLD_NEXT, "pthread_mutex_lock"));
    return note(locks), real(m);
}
}
#endif

namespace {

using namespace lv2test;

TEST(RealTime, RunNeitherAllocatesNorLocks)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer owns the allocator";
#endif
    for (size_t channels : {1, 2}) {
        // The counters must see what the plugin does: instantiating allocates.
        counting = true;
        Runner r(uriFor(channels));
        counting = false;
        ASSERT_GT(allocations.exchange(0), 0) << "the wrappers are not in use";
        const Controls sane = busy(channels == 2, 3), bad = hostile(sane, false);
        r.apply(sane);
        Channels in = testSignal(channels, 40000), out = in;
        size_t pos = 0;
        auto run = [&](size_t n, int times) {
            for (int i = 0; i < times; ++i, pos += n)
                r.run(at(in, pos), at(out, pos), n);
        };
        counting = true;
        run(1, 3000); // frame by frame, as lv2apply
        run(4096, 1);
        r.apply(bad); // mode 2 among them
        run(1000, 1);
        r.set("quality", 0); // a switch, and the flush of the instance left
        run(1024, 20);
        r.apply(sane); // and back to mode 3, flushed by now
        run(1024, 8);
        counting = false;
        EXPECT_EQ(allocations.exchange(0), 0) << channels;
        EXPECT_EQ(locks.exchange(0), 0) << channels;
    }
}

} // namespace
