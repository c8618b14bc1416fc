// The LV2 plugins' ports: one table that the plugin, the Turtle writer and
// the tests all read, so an index, range or default lives in one place.
//
// Controls come first and have the same indices in both plugins; the audio
// ports follow them (mono: in, out; stereo: in_l, in_r, out_l, out_r).
#pragma once

#include <cmath>
#include <cstdint>

#include "lintaq.h"

namespace lintaq_lv2 {

inline constexpr const char *kMonoUri = "urn:lintaq:lv2:mono";
inline constexpr const char *kStereoUri = "urn:lintaq:lv2:stereo";

enum class Variant { mono, stereo };

// Per band, five consecutive controls in this order.
enum BandField : uint32_t { kEnable = 0, kType = 1, kFreq = 2, kGain = 3, kQ = 4, kBandFields = 5 };

enum Port : uint32_t {
    kQuality = 0,
    kOversample = 1,
    kNoise = 2,
    kLatency = 3, // the only control output
    kFirstBand = 4,
    kControlCount = kFirstBand + LINTAQ_BANDS * kBandFields, // 64
    kAudioIn0 = kControlCount,                               // mono in, stereo in_l
    kMonoOut = kAudioIn0 + 1,
    kStereoInR = kAudioIn0 + 1,
    kStereoOutL = kAudioIn0 + 2,
    kStereoOutR = kAudioIn0 + 3,
};

inline constexpr uint32_t portCount(Variant v) { return kControlCount + (v == Variant::mono ? 2u : 4u); }
inline constexpr uint32_t bandPort(int band, BandField field) { return kFirstBand + band * kBandFields + field; }
inline constexpr int bandOfPort(uint32_t port) { return static_cast<int>((port - kFirstBand) / kBandFields); }
inline constexpr BandField fieldOfPort(uint32_t port) { return static_cast<BandField>((port - kFirstBand) % kBandFields); }

inline constexpr int kModeCount = 4;

enum class Kind {
    real,        // any value in [min, max]
    enumeration, // an integer with a label per value
    toggle,      // above zero is on
    output,      // the latency report; never read
};

struct Range {
    float min, max, def;
    Kind kind;
};

// Defaults spread the bands over the spectrum, from a high-pass at the
// bottom to a low-pass at the top, all switched off.
inline constexpr float kDefaultFreq[LINTAQ_BANDS] = {30,   90,   180,  350,  700,   1400,
                                                     2800, 5000, 8000, 11000, 14000, 19000};
inline constexpr uint32_t kDefaultType[LINTAQ_BANDS] = {
    LINTAQ_HIGH_PASS, LINTAQ_LOW_SHELF, LINTAQ_PEAK, LINTAQ_PEAK, LINTAQ_PEAK,       LINTAQ_PEAK,
    LINTAQ_PEAK,      LINTAQ_PEAK,      LINTAQ_PEAK, LINTAQ_PEAK, LINTAQ_HIGH_SHELF, LINTAQ_LOW_PASS};
// 0.7071 keeps the passes and shelves free of a resonant bump; peaks start
// about an octave and a third wide.
inline constexpr float kPassQ = 0.7071f;
inline constexpr float kPeakQ = 1.0f;

inline constexpr float kMinFreq = 10.0f, kMaxFreq = 24000.0f;
inline constexpr float kMaxGain = 24.0f;
inline constexpr float kMinQ = 0.1f, kMaxQ = 20.0f;
// The middle ground between latency and the longest band response held.
inline constexpr int kDefaultMode = 2;

inline constexpr Range controlRange(Variant v, uint32_t port)
{
    switch (port) {
    case kQuality: return {0, kModeCount - 1, kDefaultMode, Kind::enumeration};
    case kOversample: return {0, 1, 0, Kind::toggle};
    case kNoise: return {0, 1, 0, Kind::toggle};
    case kLatency: return {0, 0, 0, Kind::output};
    default: break;
    }
    const int band = bandOfPort(port);
    switch (fieldOfPort(port)) {
    case kEnable:
        return v == Variant::mono ? Range{0, 1, 0, Kind::toggle}
                                  : Range{0, LINTAQ_SIDE, LINTAQ_OFF, Kind::enumeration};
    case kType:
        return {0, LINTAQ_LOW_PASS, static_cast<float>(kDefaultType[band]), Kind::enumeration};
    case kFreq: return {kMinFreq, kMaxFreq, kDefaultFreq[band], Kind::real};
    case kGain: return {-kMaxGain, kMaxGain, 0, Kind::real};
    case kQ: {
        const uint32_t t = kDefaultType[band];
        const bool peak = t == LINTAQ_PEAK;
        return {kMinQ, kMaxQ, peak ? kPeakQ : kPassQ, Kind::real};
    }
    default: return {0, 0, 0, Kind::output};
    }
}

// A control value as the engine should see it: NaN takes the default,
// anything else (infinities included) is held to the range, integers are
// rounded to the nearest, toggles are on above zero.
inline float clampControl(const Range &r, float raw)
{
    if (std::isnan(raw))
        return r.def;
    float x = raw < r.min ? r.min : (raw > r.max ? r.max : raw);
    switch (r.kind) {
    case Kind::enumeration: x = std::floor(x + 0.5f); break;
    case Kind::toggle: x = raw > 0.0f ? 1.0f : 0.0f; break;
    default: break;
    }
    return x;
}

} // namespace lintaq_lv2
