// How long a band rings and whether a quality mode's frames hold it: the one
// rule the command-line tool warns with and the plugin's editor draws.
#pragma once

#include <algorithm>

namespace lintaq_ring {

inline constexpr int kModeCount = 4;
// Lookahead per mode, from the engine's documented latencies (LintaqInit).
inline constexpr int kLookaheadSamples[kModeCount] = {32768, 16384, 8192, 4096};

inline double lookaheadSeconds(int mode, double rate) { return kLookaheadSamples[mode] / rate; }

// A resonance falls by 40 dB in about 4.6·Q/(π·f) seconds; below Q 0.5 the
// band is no longer resonant and the ring is that of Q 0.5.
inline double ringSeconds(double freq, double q)
{
    constexpr double kPi = 3.14159265358979323846;
    return 4.6 * std::max(q, 0.5) / (kPi * freq);
}

// Beyond the lookahead the band's tail is cut and its shape only approximate.
inline bool ringsPastLookahead(double freq, double q, int mode, double rate)
{
    return ringSeconds(freq, q) > lookaheadSeconds(mode, rate);
}

// The shortest-latency mode whose lookahead holds a ring, or -1 when even
// mode 0's does not.
inline int shortestModeHolding(double ring, double rate)
{
    for (int m = kModeCount - 1; m >= 0; --m)
        if (lookaheadSeconds(m, rate) >= ring) return m;
    return -1;
}

} // namespace lintaq_ring
