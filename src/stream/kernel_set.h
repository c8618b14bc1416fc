// Which implementation of the frame work runs: the plain loops that read
// like the algorithm, or one of the faster sets, all giving the same bits.
// The fastest set the processor supports is chosen once; tests and
// benchmarks may force another.
#pragma once

namespace lintaq {

// Names only: which sets exist on a processor, and how wide they are, is
// told by their records (stream/vector_kernels.h).
enum class KernelSet {
    plain,  // band by band, one interpolator output at a time, nothing reused
    scalar, // bands interleaved in registers, four interpolator outputs at once
    sse2,   // x86-64: bands in vector lanes, 2 doubles wide
    avx2,   // x86-64: 4 doubles wide
    avx512, // x86-64: 8 doubles wide
    neon    // AArch64: 2 doubles wide
};

constexpr KernelSet kAllKernelSets[] = {KernelSet::plain, KernelSet::scalar, KernelSet::sse2,
                                        KernelSet::avx2,  KernelSet::avx512, KernelSet::neon};

// Whether this processor can run the set.
bool kernelSetAvailable(KernelSet set);

// The set processing calls use: the widest available unless forced.
KernelSet activeKernelSet();

// For tests and benchmarks: use `set` from now on (it must be available).
void forceKernelSet(KernelSet set);

const char *kernelSetName(KernelSet set);

} // namespace lintaq
