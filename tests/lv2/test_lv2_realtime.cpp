// run() must be safe on an audio thread: no allocation and no lock, also
// when controls change, values are hostile or the quality mode switches.
// This executable replaces the C allocator and pthread_mutex_lock with
// counting wrappers; the plugin, loaded with dlopen, binds to them. Under
// AddressSanitizer, which owns the allocator, the wrappers are left out and
// the tests skip.
#include <atomic>
#include <cmath>
#include <cstddef>
#include <limits>
#include <vector>

#include <malloc.h>
#include <pthread.h>
#include <dlfcn.h>

#include <gtest/gtest.h>

#include "lv2_support.h"

#if defined(__SANITIZE_ADDRESS__)
#define LINTAQ_COUNTING 0
#else
#define LINTAQ_COUNTING 1
#endif

namespace {
std::atomic<bool> counting{false};
std::atomic<long> allocations{0};
std::atomic<long> locks{0};
} // namespace

#if LINTAQ_COUNTING
extern "C" {
void *__libc_malloc(size_t);
void *__libc_calloc(size_t, size_t);
void *__libc_realloc(void *, size_t);
void *__libc_memalign(size_t, size_t);
void __libc_free(void *);
}

namespace {
void note()
{
    if (counting.load(std::memory_order_relaxed))
        allocations.fetch_add(1, std::memory_order_relaxed);
}
} // namespace

extern "C" {
void *malloc(size_t n)
{
    note();
    return __libc_malloc(n);
}
void *calloc(size_t n, size_t s)
{
    note();
    return __libc_calloc(n, s);
}
void *realloc(void *p, size_t n)
{
    note();
    return __libc_realloc(p, n);
}
void *memalign(size_t a, size_t n)
{
    note();
    return __libc_memalign(a, n);
}
void *aligned_alloc(size_t a, size_t n)
{
    note();
    return __libc_memalign(a, n);
}
int posix_memalign(void **out, size_t a, size_t n)
{
    note();
    *out = __libc_memalign(a, n);
    return *out != nullptr ? 0 : 12;
}
void free(void *p) { __libc_free(p); }

int pthread_mutex_lock(pthread_mutex_t *m)
{
    using Fn = int (*)(pthread_mutex_t *);
    static Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "pthread_mutex_lock"));
    if (counting.load(std::memory_order_relaxed))
        locks.fetch_add(1, std::memory_order_relaxed);
    return real(m);
}
}
#endif

namespace {

using namespace lv2test;

struct Window {
    Window()
    {
        allocations = 0;
        locks = 0;
        counting = true;
    }
    ~Window() { counting = false; }
};

TEST(RealTime, CountersSeeAnAllocationMadeInThePlugin)
{
    if (!LINTAQ_COUNTING)
        GTEST_SKIP() << "the sanitizer owns the allocator";
    // The wrappers must catch what the plugin's code does: instantiate
    // allocates, so it is counted.
    Window w;
    Runner r(kStereoUri);
    counting = false;
    EXPECT_GT(allocations.load(), 0);
}

TEST(RealTime, RunNeitherAllocatesNorLocks)
{
    if (!LINTAQ_COUNTING)
        GTEST_SKIP() << "the sanitizer owns the allocator";
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (const char *uri : {kMonoUri, kStereoUri}) {
        SCOPED_TRACE(uri);
        Runner r(uri);
        ASSERT_TRUE(r.ok());
        r.apply(twelveBands(std::string(uri) == kStereoUri));
        r.activate();
        Channels in = testSignal(r.channels(), 40000), out = in;
        std::vector<float *> pi, po;
        for (int c = 0; c < r.channels(); ++c) {
            pi.push_back(in[c].data());
            po.push_back(out[c].data());
        }
        Window w;
        uint32_t pos = 0;
        auto block = [&](uint32_t n) {
            for (int c = 0; c < r.channels(); ++c) {
                pi[c] = in[c].data() + pos;
                po[c] = out[c].data() + pos;
            }
            r.run(pi, po, n);
            pos += n;
        };
        for (int i = 0; i < 3000; ++i)
            block(1); // frame by frame, as lv2apply
        block(4096);
        // Controls are set by port index through the runner's own array;
        // set() looks the symbol up with lilv, which allocates, so the
        // counting pauses around it.
        auto set = [&](const char *sym, float v) {
            counting = false;
            r.set(sym, v);
            counting = true;
        };
        set("band3_gain", nan);
        set("band4_freq", 1e30f);
        block(1000);
        set("quality", 0.0f); // switch, and flush the instance left
        for (int i = 0; i < 20; ++i)
            block(1024);
        set("quality", 3.0f);
        for (int i = 0; i < 8; ++i)
            block(1024);
        EXPECT_EQ(allocations.load(), 0);
        EXPECT_EQ(locks.load(), 0);
    }
}

} // namespace
