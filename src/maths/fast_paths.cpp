#include "maths/fast_paths.h"

#include <atomic>

#include "maths/fast_exponential.h"
#include "maths/fast_trigonometric.h"

namespace lintaq::maths {

namespace {

// Touched on the slow path only, whose own cost is far larger.
std::atomic<uint64_t> gFallbacks[kFunctionCount];

Approximation negate(const Approximation &v)
{
    return {-v.hi, -v.lo, v.bound, v.scale};
}

// The odd and even trigonometric functions on |x|, as their public
// functions call them.
bool trigFor(TrigKind kind, double x, double smallest, Approximation &out)
{
    const double ax = x < 0 ? -x : x;
    if (!(ax >= smallest) || !fastTrig(kind, ax, out))
        return false;
    if (x < 0 && kind != TrigKind::cos)
        out = negate(out);
    return true;
}

} // namespace

bool fastApproximation(Function f, double x, Approximation &out)
{
    switch (f) {
    case Function::sin: return trigFor(TrigKind::sin, x, 0x1p-26, out);
    case Function::cos: return trigFor(TrigKind::cos, x, 0x1p-27, out);
    case Function::tan: return trigFor(TrigKind::tan, x, 0x1p-27, out);
    case Function::exp: return !(x < 0x1p-54 && x > -0x1p-54) && fastExp(x, out);
    case Function::exp10: return !(x < 0x1p-56 && x > -0x1p-56) && x != 23.0 && fastExp10(x, out);
    case Function::log:
    case Function::log10:
        return x > 0.0 && x < __builtin_inf() && fastLog(x, f == Function::log10, out);
    }
    return false;
}

uint64_t fallbackCount(Function f)
{
    return gFallbacks[static_cast<int>(f)].load(std::memory_order_relaxed);
}

void resetFallbackCounts()
{
    for (auto &count : gFallbacks)
        count.store(0, std::memory_order_relaxed);
}

void countFallback(Function f)
{
    gFallbacks[static_cast<int>(f)].fetch_add(1, std::memory_order_relaxed);
}

} // namespace lintaq::maths
