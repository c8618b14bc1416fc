#include "stream/kernel_set.h"

#include <atomic>

#include "stream/vector_kernels.h"

namespace lintaq {

// The records this build compiled: the build writes one
// LINTAQ_VECTOR_SET_BUILT(name) line per kernels_<name>.cpp it compiles.
#define LINTAQ_VECTOR_SET_BUILT(name) extern const VectorKernels name##Kernels;
#include "vector_sets_built.inc"
#undef LINTAQ_VECTOR_SET_BUILT

namespace {

const VectorKernels *const kBuilt[] = {
#define LINTAQ_VECTOR_SET_BUILT(name) &name##Kernels,
#include "vector_sets_built.inc"
#undef LINTAQ_VECTOR_SET_BUILT
    nullptr};

// The widest set this processor runs; the scalar set where it runs none.
KernelSet widestAvailable()
{
    const VectorKernels *best = nullptr;
    for (const VectorKernels *const *k = kBuilt; *k != nullptr; ++k)
        if ((*k)->available() && (best == nullptr || (*k)->width > best->width))
            best = *k;
    return best != nullptr ? best->set : KernelSet::scalar;
}

// The processor is asked once.
KernelSet widest()
{
    static const KernelSet set = widestAvailable();
    return set;
}

std::atomic<int> forced{-1};

} // namespace

const VectorKernels *vectorKernels(KernelSet set)
{
    for (const VectorKernels *const *k = kBuilt; *k != nullptr; ++k)
        if ((*k)->set == set)
            return *k;
    return nullptr;
}

bool kernelSetAvailable(KernelSet set)
{
    if (set == KernelSet::plain || set == KernelSet::scalar)
        return true;
    const VectorKernels *kernels = vectorKernels(set);
    return kernels != nullptr && kernels->available();
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
    case KernelSet::neon: return "neon";
    }
    return "?";
}

} // namespace lintaq
