// Where the library obtains memory: creation survives running out at any
// of its requests, releasing what it had, and nothing after creation asks
// for memory at all. Every operator new of this program goes through the
// counting hook below; it is armed only around the calls under test.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

#include "stream/kernel_set.h"
#include "test_support.h"

namespace {

struct Hook {
    bool armed = false;
    long requests = 0; // while armed
    long releases = 0; // of non-null pointers, while armed
    long failAt = 0;   // request number that gets no memory; 0: none
};
Hook hook;

void *obtain(std::size_t size, std::size_t alignment = 0)
{
    if (hook.armed && ++hook.requests == hook.failAt)
        return nullptr;
    if (size == 0)
        size = 1;
    if (alignment == 0)
        return std::malloc(size);
    return std::aligned_alloc(alignment, (size + alignment - 1) / alignment * alignment);
}

void *obtainOrThrow(std::size_t size, std::size_t alignment = 0)
{
    void *p = obtain(size, alignment);
    if (p == nullptr)
        throw std::bad_alloc();
    return p;
}

void release(void *p) noexcept
{
    if (p != nullptr && hook.armed)
        ++hook.releases;
    std::free(p);
}

// Arms the hook for its lifetime, failing request `failAt` (1-based) if given.
struct Armed {
    explicit Armed(long failAt = 0) { hook = Hook{true, 0, 0, failAt}; }
    ~Armed() { hook.armed = false; }
};

} // namespace

void *operator new(std::size_t n) { return obtainOrThrow(n); }
void *operator new[](std::size_t n) { return obtainOrThrow(n); }
void *operator new(std::size_t n, const std::nothrow_t &) noexcept { return obtain(n); }
void *operator new[](std::size_t n, const std::nothrow_t &) noexcept { return obtain(n); }
void *operator new(std::size_t n, std::align_val_t a) { return obtainOrThrow(n, std::size_t(a)); }
void *operator new[](std::size_t n, std::align_val_t a) { return obtainOrThrow(n, std::size_t(a)); }
void *operator new(std::size_t n, std::align_val_t a, const std::nothrow_t &) noexcept { return obtain(n, std::size_t(a)); }
void *operator new[](std::size_t n, std::align_val_t a, const std::nothrow_t &) noexcept { return obtain(n, std::size_t(a)); }
void operator delete(void *p) noexcept { release(p); }
void operator delete[](void *p) noexcept { release(p); }
void operator delete(void *p, std::size_t) noexcept { release(p); }
void operator delete[](void *p, std::size_t) noexcept { release(p); }
void operator delete(void *p, const std::nothrow_t &) noexcept { release(p); }
void operator delete[](void *p, const std::nothrow_t &) noexcept { release(p); }
void operator delete(void *p, std::align_val_t) noexcept { release(p); }
void operator delete[](void *p, std::align_val_t) noexcept { release(p); }
void operator delete(void *p, std::size_t, std::align_val_t) noexcept { release(p); }
void operator delete[](void *p, std::size_t, std::align_val_t) noexcept { release(p); }

namespace {

using test::Band;

// Counts `create`'s requests, then runs it with each one failing in turn:
// every failure must give NULL with everything it did obtain released. The
// hook counts releases; the sanitizer build's leak checker sees the same
// from outside.
template <typename Create, typename Destroy>
void failEachRequestInTurn(const char *what, Create create, Destroy destroy)
{
    long needed = 0;
    {
        Armed counting;
        auto *made = create();
        needed = hook.requests;
        destroy(made);
        ASSERT_NE(made, nullptr) << what;
        EXPECT_EQ(hook.releases, needed) << what << ": destruction releases all it obtained";
    }
    ASSERT_GT(needed, 0) << what;
    for (long k = 1; k <= needed; ++k) {
        Armed failing(k);
        auto *made = create();
        const long asked = hook.requests, released = hook.releases;
        destroy(made);
        EXPECT_EQ(made, nullptr) << what << ", request " << k << " of " << needed << " failing";
        EXPECT_EQ(released, asked - 1) << what << ", request " << k << " failing: all it obtained released";
    }
}

TEST(OutOfMemory, CreationReturnsNullAndReleasesEverythingAtEachFailingRequest)
{
    for (const test::Kind &kind : test::kKinds)
        for (int mode : {0, 3})
            for (int stereo : {0, 1}) {
                const std::string what =
                    std::string(kind.name) + ", mode " + std::to_string(mode) + (stereo ? " stereo" : " mono");
                failEachRequestInTurn(what.c_str(), [&] { return kind.create(mode, stereo); }, LintaqExit);
            }
    for (uint32_t over : {0u, 1u}) {
        const PeqParams p = test::creationValues(44100, over);
        failEachRequestInTurn("grid", [&] { return InitPeqGraph(&p, 512, 20.0f, 20000.0f); }, ExitPeqGraph);
    }
}

TEST(OutOfMemory, ProcessingParametersLatencyAndCurvesObtainNoMemory)
{
    // Every path, kernel set and channel count, every band type and channel
    // code, noise on, and changes of bands, rate and oversampling mid-stream.
    const struct { int rate; uint32_t over; } paths[] = {{48000, 0}, {96000, 1}, {48000, 1}, {44100, 1}};
    const std::vector<Band> bands = {
        {0, 1, 0, 1000, 6, 1},   {1, 2, 1, 120, -4, 0.7f}, {2, 3, 2, 9000, 3, 0.7f},
        {3, 4, 3, 40, 0, 0.7f},  {4, 5, 4, 15000, 0, 0.7f}, {5, 1, 0, 3000, -9, 4},
        {6, 6, 0, 500, 3, 1},    {7, 1, 7, 500, 3, 1},
    };
    const std::vector<float> input = test::randomSignal(3 * 2048 + 777, 7);
    const std::vector<int> uneven = {1, 2047, 4000, 0, 333}, hops = {2048, 5000};
    const lintaq::KernelSet widest = lintaq::activeKernelSet();
    for (const test::Kind &kind : test::kKinds)
    for (const lintaq::KernelSet set : lintaq::kAllKernelSets) {
        if (!lintaq::kernelSetAvailable(set))
            continue;
        for (int stereo : {0, 1}) {
            lintaq::forceKernelSet(set);
            test::Instance inst(kind.create(3, stereo));
            ASSERT_NE(inst, nullptr);
            PeqParams last = test::creationValues();
            std::unique_ptr<PeqGraph, void (*)(PeqGraph *)> grid(InitPeqGraph(&last, 256, 20.0f, 20000.0f), ExitPeqGraph);
            std::vector<float> curve(256);
            test::Channels io(size_t(stereo) + 1, input);
            Armed counting;
            for (const auto &path : paths) {
                last = test::withBands(bands, test::creationValues(path.rate, path.over, 1));
                LintaqSetPar(inst.get(), &last);
                test::process(inst.get(), io, uneven);
                last.gain[0] = -last.gain[0];
                last.enable[6] = 0;
                LintaqSetPar(inst.get(), &last);
                test::process(inst.get(), io, hops);
                EXPECT_GT(LintaqGetLatency(inst.get()), 0);
                for (int b = 0; b < LINTAQ_BANDS; ++b)
                    LintaqGraph(&last, grid.get(), curve.data(), b);
            }
            EXPECT_EQ(hook.requests, 0) << kind.name << ", " << lintaq::kernelSetName(set)
                                        << (stereo ? ", stereo" : ", mono");
        }
    }
    lintaq::forceKernelSet(widest);
}

} // namespace
