// Turns one band's settings into the coefficients of its section.
#pragma once

namespace lintaq {

struct PeqBandState;

// Bands at or above this frequency are bypassed; it follows the host rate
// even when the frames run at twice that rate.
double bypassLimit(int sampleRate);

// Designs one band's section into `band`. Returns false when the settings
// cannot make a working filter (frequency or Q not a finite number above zero, or a
// coefficient that is not finite); the caller then bypasses the band.
bool designBand(PeqBandState &band, unsigned type, float freq, float gain, float q, float rate);

// Whether designBand can succeed: false for a known type whose frequency or
// Q is not a finite number above zero.
bool settingsUsable(unsigned type, float freq, float q);

} // namespace lintaq
