// The short table-driven approximations every elementary function tries
// first. Each gives its result as a double-double with a rigorous error
// bound; when every value within the bound rounds to the same double, that
// double is the correctly rounded result. Otherwise the function falls back
// to its double-double and 256-bit paths. The bounds and their derivations
// are in the generated tables (scripts/gen_maths_tables.py).
//
// Internal to the static library: the tests reach the approximations alone
// and the fallback counters through this header; the public functions are
// in maths/elementary.h.
#pragma once

#include <cstdint>

#include "maths/double_double.h"

namespace lintaq::maths {

enum class Function { sin, cos, tan, exp, exp10, log, log10 };
inline constexpr int kFunctionCount = 7;

// f(x) = (hi + lo) * 2^scale within bound * 2^scale.
struct Approximation {
    double hi = 0.0;
    double lo = 0.0;
    double bound = 0.0;
    int scale = 0;
};

// Whether every value within the bound of a.hi + a.lo rounds to one double;
// if so, `rounded` is that double (before the scale is applied).
inline bool roundsOneWay(const Approximation &a, double &rounded)
{
    const double up = a.hi + (a.lo + a.bound);
    const double down = a.hi + (a.lo - a.bound);
    if (up != down)
        return false;
    rounded = up;
    return true;
}

// The fast path alone: false when x is one the function answers without it
// (special and tiny arguments) or one outside the fast path's range.
bool fastApproximation(Function f, double x, Approximation &out);

// The fast paths themselves are inline, in maths/fast_trigonometric.h and
// maths/fast_exponential.h, so each public function carries its own.
enum class TrigKind { sin, cos, tan };

inline constexpr double kRoundShift = 0x1.8p52; // adding and subtracting rounds to an integer

// How many calls of f went past the fast path since the start or the last
// reset. Counting happens on the slow path only.
uint64_t fallbackCount(Function f);
void resetFallbackCounts();
void countFallback(Function f);

} // namespace lintaq::maths
