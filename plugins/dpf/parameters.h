// The plugin's parameters: one table that the plugin, its generated
// metadata (LV2 Turtle, VST3 and CLAP parameter lists) and the tests read,
// so an index, symbol, range or default lives in one place.
//
// THE ORDER IS PERMANENT. Hosts store automation, presets and sessions by
// parameter index (VST3 and CLAP ids are these indices) and LV2 hosts by
// symbol. Only ever append a parameter at the end, before nothing; never
// remove, reorder or rename one, and never change a symbol. A parameter
// that stops meaning anything stays in its place, ignored.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <string>

#include "lintaq.h"

namespace lintaq_plugin {

enum class Variant { mono, stereo };

// Per band, five consecutive parameters in this order.
enum BandField : uint32_t { kEnable = 0, kType = 1, kFreq = 2, kGain = 3, kQ = 4, kBandFields = 5 };

enum Param : uint32_t {
    kQuality = 0,
    kOversample = 1,
    kFirstBand = 2,
    kTrim = kFirstBand + LINTAQ_BANDS * kBandFields, // 62
    kBypass = kTrim + 1,
    kEvenLoad = kBypass + 1,
    kParamCount = kEvenLoad + 1, // 65
};

// A value for every parameter, in table order.
using Values = std::array<float, kParamCount>;

inline constexpr uint32_t bandParam(int band, BandField field) { return kFirstBand + static_cast<uint32_t>(band) * kBandFields + field; }
inline constexpr bool isBandParam(uint32_t p) { return p >= kFirstBand && p < kTrim; }
inline constexpr int bandOf(uint32_t p) { return static_cast<int>((p - kFirstBand) / kBandFields); }
inline constexpr BandField fieldOf(uint32_t p) { return static_cast<BandField>((p - kFirstBand) % kBandFields); }

inline constexpr int kModeCount = 4;

enum class Kind {
    real,        // any value in [min, max]
    logarithmic, // as real, shown on a logarithmic scale
    enumeration, // an integer with a label per value
    toggle,      // above the middle of the range is on
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

// The ranges within which the library promises finite output. Q's range is
// the widest (peaks); shelves and passes are held to their own narrower
// limits when the engine's parameter block is formed (maxQFor).
inline constexpr float kMinFreq = 10.0f, kMaxFreq = 24000.0f;
inline constexpr float kMaxGain = 30.0f;
inline constexpr float kMinQ = 0.1f, kMaxQ = 20.0f;
inline constexpr float kMaxTrim = 24.0f;
// The middle ground between latency and the longest band response held.
inline constexpr int kDefaultMode = 2;

inline constexpr float maxQFor(uint32_t type)
{
    switch (type) {
    case LINTAQ_LOW_SHELF:
    case LINTAQ_HIGH_SHELF: return 2.0f;
    case LINTAQ_HIGH_PASS:
    case LINTAQ_LOW_PASS: return 10.0f;
    default: return kMaxQ;
    }
}

inline constexpr Range paramRange(Variant v, uint32_t p)
{
    switch (p) {
    case kQuality: return {0, kModeCount - 1, kDefaultMode, Kind::enumeration};
    case kOversample: return {0, 1, 0, Kind::toggle};
    case kTrim: return {-kMaxTrim, kMaxTrim, 0, Kind::real};
    case kBypass: return {0, 1, 0, Kind::toggle};
    case kEvenLoad: return {0, 1, 1, Kind::toggle};
    default: break;
    }
    if (!isBandParam(p))
        return {0, 0, 0, Kind::real};
    const int band = bandOf(p);
    switch (fieldOf(p)) {
    case kEnable:
        return v == Variant::mono ? Range{0, 1, 0, Kind::toggle}
                                  : Range{0, LINTAQ_SIDE, LINTAQ_OFF, Kind::enumeration};
    case kType: return {0, LINTAQ_LOW_PASS, static_cast<float>(kDefaultType[band]), Kind::enumeration};
    case kFreq: return {kMinFreq, kMaxFreq, kDefaultFreq[band], Kind::logarithmic};
    case kGain: return {-kMaxGain, kMaxGain, 0, Kind::real};
    case kQ: return {kMinQ, kMaxQ, kDefaultType[band] == LINTAQ_PEAK ? kPeakQ : kPassQ, Kind::logarithmic};
    default: return {0, 0, 0, Kind::real};
    }
}

// A value as the engine should see it: NaN takes the default, anything else
// (infinities included) is held to the range, integers are rounded to the
// nearest, toggles are on above the middle.
inline float clampParam(const Range &r, float raw)
{
    if (std::isnan(raw))
        return r.def;
    float x = raw < r.min ? r.min : (raw > r.max ? r.max : raw);
    switch (r.kind) {
    case Kind::enumeration: x = std::floor(x + 0.5f); break;
    case Kind::toggle: x = x > 0.5f * (r.min + r.max) ? r.max : r.min; break;
    default: break;
    }
    return x;
}

// The engine's block from parameter values (one per parameter, in table
// order, already held to their ranges) at a host rate: Q is held to its
// type's limit, a rate the engine's int cannot hold (or below 1 Hz) is
// taken as 48000 Hz, and frame noise is off so output is reproducible. The
// oversampling word is the caller's: the plugin sets it per engine path.
// The plugin and its editor both form the engine's block here, so the
// editor's curve is drawn from what the engine is given.
inline void fillEngineParams(const float *values, double hostRate, PeqParams &p)
{
    for (int k = 0; k < LINTAQ_BANDS; ++k) {
        const uint32_t type = static_cast<uint32_t>(values[bandParam(k, kType)]);
        const float q = values[bandParam(k, kQ)], qMax = maxQFor(type);
        p.enable[k] = static_cast<uint32_t>(values[bandParam(k, kEnable)]);
        p.type[k] = type;
        p.freq[k] = values[bandParam(k, kFreq)];
        p.gain[k] = values[bandParam(k, kGain)];
        p.q[k] = q > qMax ? qMax : q;
    }
    p.sampleRate = hostRate >= 1.0 && hostRate <= 2147483647.0 ? static_cast<int32_t>(std::lround(hostRate)) : 48000;
    p.noise = 0;
}

// The LV2 port symbols of the earlier hand-written plugin, kept so saved
// sessions find their settings. Bypass is the host's own (DPF names its
// LV2 port lv2_enabled).
inline std::string paramSymbol(uint32_t p)
{
    switch (p) {
    case kQuality: return "quality";
    case kOversample: return "oversample";
    case kTrim: return "trim";
    case kBypass: return "bypass";
    case kEvenLoad: return "even_load";
    default: break;
    }
    static const char *const field[kBandFields] = {"enable", "type", "freq", "gain", "q"};
    return "band" + std::to_string(bandOf(p) + 1) + "_" + field[fieldOf(p)];
}

// The engine instance a setting runs on. The even-load kind spreads each
// frame's filtering over the host blocks of the next hop, so a DAW's load
// meter (which shows the dearest block) reads the average, for one more hop
// (2048 samples) of latency; its output is otherwise the same, bit for bit.
inline PeqInstance *newEngine(int mode, bool evenLoad, bool stereo)
{
    return evenLoad ? LintaqInitSmooth(mode, stereo ? 1 : 0) : LintaqInit(mode, stereo ? 1 : 0);
}

} // namespace lintaq_plugin
