// What the plugin hosts share (the tests, and the render host that runs on
// Windows too): settings by parameter index, the library's own output for
// the same settings (each plugin must give the same bits), test signals and
// their measurements.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <numbers>
#include <vector>

#include "lintaq.h"
#include "parameters.h"

namespace ptest {

using namespace lintaq_plugin;
using Channels = std::vector<std::vector<float>>;

inline int channelsOf(Variant v) { return v == Variant::stereo ? 2 : 1; }

inline Values defaults(Variant v)
{
    Values x{};
    for (uint32_t i = 0; i < kParamCount; ++i)
        x[i] = paramRange(v, i).def;
    return x;
}

// Every type, boosts and cuts, and in stereo every routing, so a wrong
// index, range or routing shows in the output.
inline Values busy(Variant v, int quality)
{
    const float B = LINTAQ_BOTH, L = LINTAQ_LEFT, R = LINTAQ_RIGHT, M = LINTAQ_MID, S = LINTAQ_SIDE, PK = LINTAQ_PEAK;
    const float rows[LINTAQ_BANDS][5] = { // enable, type, freq, gain, q
        {B, LINTAQ_HIGH_PASS, 40, 0, 0.7071f}, {B, LINTAQ_LOW_SHELF, 120, 4, 0.7f}, {L, PK, 250, -6, 2},
        {R, PK, 500, 5, 1.5f}, {M, PK, 1000, -8, 3}, {S, PK, 2000, 6, 1}, {B, PK, 3500, -3, 0.5f},
        {M, PK, 6000, 9, 4}, {S, PK, 9000, -12, 6}, {L, PK, 13000, 3, 1}, {B, LINTAQ_HIGH_SHELF, 15000, -4, 0.7f},
        {R, LINTAQ_LOW_PASS, 19000, 0, 0.7071f}};
    Values x = defaults(v);
    x[kQuality] = static_cast<float>(quality);
    for (int k = 0; k < LINTAQ_BANDS; ++k)
        for (uint32_t f = 0; f < kBandFields; ++f)
            x[bandParam(k, static_cast<BandField>(f))] = f == kEnable && v == Variant::mono ? 1.0f : rows[k][f];
    return x;
}

// The block the engine is to be given for these values, stated from the
// parameters' documented meaning: Q is held to its type's limit, frame
// noise is off. (Bypass is the plugin's, not the engine's.)
inline PeqParams engineParams(const Values &x, int rate)
{
    PeqParams p{};
    for (int k = 0; k < LINTAQ_BANDS; ++k) {
        const uint32_t type = static_cast<uint32_t>(x[bandParam(k, kType)]);
        p.enable[k] = static_cast<uint32_t>(x[bandParam(k, kEnable)]);
        p.type[k] = type;
        p.freq[k] = x[bandParam(k, kFreq)];
        p.gain[k] = x[bandParam(k, kGain)];
        p.q[k] = std::fmin(x[bandParam(k, kQ)], maxQFor(type));
    }
    p.sampleRate = rate;
    p.oversample = x[kOversample] > 0.5f ? 1 : 0;
    return p;
}

// The plugins run the even-load kind unless told otherwise.
inline int modeLatency(int mode, bool evenLoad = true)
{
    PeqInstance *e = newEngine(mode, evenLoad, false);
    const int latency = LintaqGetLatency(e);
    LintaqExit(e);
    return latency;
}

// The library called directly, the whole input in one block.
inline Channels libraryOutput(const Values &x, int rate, Channels io)
{
    PeqInstance *e = newEngine(static_cast<int>(x[kQuality]), x[kEvenLoad] > 0.5f, io.size() == 2);
    const PeqParams p = engineParams(x, rate);
    LintaqSetPar(e, &p);
    const int n = static_cast<int>(io[0].size());
    if (io.size() == 2)
        LintaqProcST(e, io[0].data(), io[1].data(), n);
    else
        LintaqProc(e, io[0].data(), n);
    LintaqExit(e);
    return io;
}

// An impulse at `at` on top of a quiet sine, different in each channel so
// a swapped or mixed-up channel shows.
inline Channels testSignal(int channels, size_t length, size_t at, int rate)
{
    Channels s(static_cast<size_t>(channels), std::vector<float>(length));
    for (int c = 0; c < channels; ++c)
        for (size_t i = 0; i < length; ++i)
            s[c][i] = static_cast<float>(0.25 * std::sin(2 * std::numbers::pi * (440.0 + 770.0 * c) * double(i) / rate));
    for (auto &ch : s)
        ch[at] += 0.5f;
    return s;
}

// Deterministic noise (|x| <= 0.25, channels differ) with an impulse at
// `at`, from integer arithmetic alone, so every platform makes the same
// bits (the C libraries' sines differ in the last place).
inline Channels noiseSignal(int channels, size_t length, size_t at)
{
    uint32_t seed = 1;
    Channels s(static_cast<size_t>(channels), std::vector<float>(length));
    for (auto &ch : s)
        for (float &x : ch)
            x = static_cast<float>((seed = seed * 1664525u + 1013904223u) >> 8) / 16777216.0f * 0.5f - 0.25f;
    for (auto &ch : s)
        ch[at] += 0.5f;
    return s;
}

inline Channels impulse(int channels, size_t length, size_t at)
{
    Channels s(static_cast<size_t>(channels), std::vector<float>(length));
    for (auto &ch : s)
        ch[at] = 1.0f;
    return s;
}

inline size_t peakIndex(const std::vector<float> &x)
{
    size_t best = 0;
    for (size_t i = 1; i < x.size(); ++i)
        if (std::fabs(x[i]) > std::fabs(x[best]))
            best = i;
    return best;
}

// The input delayed by `latency` samples, silence before.
inline Channels delayed(const Channels &in, size_t latency)
{
    Channels out = in;
    for (size_t c = 0; c < in.size(); ++c)
        for (size_t i = 0; i < in[c].size(); ++i)
            out[c][i] = i >= latency ? in[c][i - latency] : 0.0f;
    return out;
}

} // namespace ptest
