// The engine's own elementary functions, correctly rounded to double
// (round to nearest, ties to even) for every double argument. The C
// libraries of different platforms round some results differently; the
// design and the response graph call these instead, so the engine's output
// bits do not depend on the C runtime it is linked with.
//
// Special arguments give what IEEE C libraries give: sin/cos/tan of an
// infinity or NaN is NaN; exp and exp10 overflow to +inf, underflow
// gradually to +0, exp(-inf) = 0; log(0) = -inf, log of a negative number
// is NaN, log(+inf) = +inf.
#pragma once

namespace lintaq::maths {

double sin(double x);
double cos(double x);
double tan(double x);
// sin(x) and cos(x) from one argument reduction: the same bits as sin and cos.
void sinCos(double x, double &s, double &c);
double exp(double x);
double exp10(double x); // 10^x: what pow(10, x) gives for every x
double log(double x);
double log10(double x);

// The double nearest to pi; atan(1) * 4 gives exactly this with any
// correctly rounded arctangent.
inline constexpr double kPi = 3.141592653589793;

} // namespace lintaq::maths
