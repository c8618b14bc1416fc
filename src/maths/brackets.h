// Brackets around a correctly rounded result, from short plain-double
// approximations: down <= f(x) rounded to double <= up. A caller that
// passes the result through further monotone steps (a product, a clamp,
// rounding to float) can apply them to both ends; when the two ends agree,
// so does the correctly rounded result, and the full evaluation is not
// needed. The graph draws in single precision and decides almost every
// point this way.
#pragma once

namespace lintaq::maths {

// False when x lies outside the bracket's range (then evaluate f itself).
bool tanBracket(double x, double &down, double &up);   // |x| < 2^20
bool log10Bracket(double x, double &down, double &up); // finite x > 0

} // namespace lintaq::maths
