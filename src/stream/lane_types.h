// The vector type and width of the instruction set a kernels translation
// unit is built for. That unit defines, before including its kernels,
// lintaq::simd::(anonymous)::Ops: the vector types Vd (doubles), Vf (the
// same lanes as floats) and Mask; width and permutes; available(); and the
// few operations the lane kernels are written over (load, store, set1,
// add, sub, mul, toFloat, toDouble, addFloat, lessEqual, select,
// selectFloat, set1Float, extract, loadWiden, loadWidenEveryOther,
// storeInterleaved, storeNarrow; shiftIn, shiftInTwo and pairAtTop where
// lanes shift; loadIndex, route, join, lowHalf, highHalf and pair where
// they permute). Each is the IEEE operation of its scalar counterpart.
#pragma once

// The step loops over a stage's vectors are unrolled so that states and
// coefficients stay in registers. Sanitizer builds check every access
// anyway and would take minutes to compile them unrolled; the results are
// the same bits either way.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define LINTAQ_UNROLL _Pragma("GCC unroll 1")
#else
#define LINTAQ_UNROLL _Pragma("GCC unroll 16")
#endif

namespace lintaq::simd {
namespace {

using Vd = Ops::Vd;
constexpr int W = Ops::width;

} // namespace
} // namespace lintaq::simd
