// The LV2 plugin's port layout: audio inputs, audio outputs, the latency
// output, then one control per parameter in table order. The lilv-less
// host relies on it; the lilv test checks it against the Turtle.
#pragma once

#include "plugin_support.h"

namespace ptest {

inline uint32_t lv2AudioInPort(Variant, int channel) { return static_cast<uint32_t>(channel); }
inline uint32_t lv2AudioOutPort(Variant v, int channel) { return static_cast<uint32_t>(channelsOf(v) + channel); }
inline uint32_t lv2LatencyPort(Variant v) { return static_cast<uint32_t>(2 * channelsOf(v)); }
inline uint32_t lv2ControlPort(Variant v, uint32_t index) { return lv2LatencyPort(v) + 1 + index; }

} // namespace ptest
