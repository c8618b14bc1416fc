// The vector type and width of the instruction set a kernels translation
// unit is built for.
#pragma once

#include "design/vector_ops.h"

namespace lintaq::simd {
namespace {

using Vd = Ops::Vd;
constexpr int W = Ops::width;

} // namespace
} // namespace lintaq::simd
