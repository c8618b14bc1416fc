// The vector type and width of the instruction set a kernels translation
// unit is built for.
#pragma once

#include "design/vector_ops.h"

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
