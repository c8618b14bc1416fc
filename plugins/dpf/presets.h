// Factory presets: starting points a mixing engineer reaches for. Each sets
// every band (those not listed are switched off), the quality and the
// oversampling; the trim goes back to 0 dB. Append only: hosts store the
// chosen preset by index.
#pragma once

#include <cstdint>

#include "lintaq.h"

namespace lintaq_plugin {

struct PresetBand {
    int band; // 0-based
    uint32_t type;
    float freq, gain, q;
};

struct Preset {
    const char *name;
    int quality;
    bool oversample;
    int bandCount;
    PresetBand bands[LINTAQ_BANDS];
};

inline constexpr Preset kPresets[] = {
    {"Flat", 2, false, 0, {}},
    {"Low cut", 2, false, 1, {{0, LINTAQ_HIGH_PASS, 80, 0, 0.7071f}}},
    {"Vocal presence", 2, true, 4,
     {{0, LINTAQ_HIGH_PASS, 90, 0, 0.7071f},
      {3, LINTAQ_PEAK, 250, -2, 1.2f},
      {6, LINTAQ_PEAK, 3500, 3, 1.0f},
      {10, LINTAQ_HIGH_SHELF, 10000, 2, 0.7071f}}},
    {"De-mud", 1, false, 2, {{0, LINTAQ_HIGH_PASS, 30, 0, 0.7071f}, {3, LINTAQ_PEAK, 300, -4, 1.4f}}},
    {"Air", 2, true, 1, {{10, LINTAQ_HIGH_SHELF, 12000, 4, 0.7071f}}},
    // The command-line tool's built-in "smile".
    {"Smile", 2, true, 5,
     {{0, LINTAQ_HIGH_PASS, 30, 0, 0.7071f},
      {1, LINTAQ_LOW_SHELF, 120, 4, 0.7071f},
      {3, LINTAQ_PEAK, 400, -3, 1.0f},
      {6, LINTAQ_PEAK, 3000, 2, 1.4f},
      {10, LINTAQ_HIGH_SHELF, 10000, 3, 0.7071f}}},
};
inline constexpr uint32_t kPresetCount = sizeof kPresets / sizeof kPresets[0];

} // namespace lintaq_plugin
