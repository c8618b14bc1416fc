// Coefficient tables of the double-rate interpolators (two phases of a
// symmetric prototype, even taps then odd taps) and decimators.
#pragma once

namespace lintaq {

extern const double upTaps156[156]; // 45000 to 63999 Hz
extern const double upTaps278[278]; // below 45000 Hz
extern const double downTaps20[20];
extern const double downTaps22[22];

} // namespace lintaq
