#include "stream/kernel_set.h"

#include <atomic>

namespace lintaq {

namespace {

KernelSet widestAvailable()
{
#if defined(__x86_64__) || defined(_M_X64)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl"))
        return KernelSet::avx512;
    if (__builtin_cpu_supports("avx2"))
        return KernelSet::avx2;
    return KernelSet::sse2;
#else
    return KernelSet::scalar;
#endif
}

// The processor is asked once.
KernelSet widest()
{
    static const KernelSet set = widestAvailable();
    return set;
}

std::atomic<int> forced{-1};

} // namespace

bool kernelSetAvailable(KernelSet set)
{
    return static_cast<int>(set) <= static_cast<int>(widest());
}

KernelSet activeKernelSet()
{
    const int chosen = forced.load(std::memory_order_relaxed);
    return chosen < 0 ? widest() : static_cast<KernelSet>(chosen);
}

void forceKernelSet(KernelSet set)
{
    forced.store(static_cast<int>(set), std::memory_order_relaxed);
}

const char *kernelSetName(KernelSet set)
{
    switch (set) {
    case KernelSet::plain: return "plain";
    case KernelSet::scalar: return "scalar";
    case KernelSet::sse2: return "sse2";
    case KernelSet::avx2: return "avx2";
    case KernelSet::avx512: return "avx512";
    }
    return "?";
}

} // namespace lintaq
