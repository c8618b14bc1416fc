// What several test files need: parameter blocks, an owning instance
// handle, a stream driver, a DFT amplitude, bit comparison and a guard for
// the process-wide noise generator.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "lintaq.h"
#include "stream/noise.h"

namespace test {

struct InstanceDeleter {
    void operator()(PeqInstance *p) const { LintaqExit(p); }
};
using Instance = std::unique_ptr<PeqInstance, InstanceDeleter>;

// The two kinds of instance. Every stream property holds for both; the
// even-load kind is one hop later.
struct Kind {
    const char *name;
    PeqInstance *(*create)(int mode, int stereo);
    long extraDelay;
};
inline const Kind kKinds[] = {{"plain", LintaqInit, 0}, {"even load", LintaqInitSmooth, 2048}};

// The settings a new instance starts from: every band 1000 Hz, 0 dB, Q 0.7, off.
inline PeqParams creationValues(int rate = 48000, uint32_t oversample = 0, uint32_t noise = 0)
{
    PeqParams p{};
    std::fill(std::begin(p.freq), std::end(p.freq), 1000.0f);
    std::fill(std::begin(p.q), std::end(p.q), 0.7f);
    p.sampleRate = rate;
    p.oversample = oversample;
    p.noise = noise;
    return p;
}

struct Band { int index; uint32_t enable, type; float freq, gain, q; };

// `p` with the listed bands' settings replaced.
inline PeqParams withBands(const std::vector<Band> &bands, PeqParams p = creationValues())
{
    for (const Band &b : bands) {
        p.enable[b.index] = b.enable, p.type[b.index] = b.type;
        p.freq[b.index] = b.freq, p.gain[b.index] = b.gain, p.q[b.index] = b.q;
    }
    return p;
}

inline std::vector<float> randomSignal(size_t n, uint32_t seed, float scale = 1.0f)
{
    std::mt19937 gen(seed);
    std::uniform_real_distribution<float> dist(-scale, scale);
    std::vector<float> x(n);
    for (float &v : x)
        v = dist(gen);
    return x;
}

// One vector per channel: one for LintaqProc, two for LintaqProcST.
using Channels = std::vector<std::vector<float>>;

// Feeds the whole stream through in blocks whose sizes cycle through `cuts`.
inline void process(PeqInstance *inst, Channels &io, const std::vector<int> &cuts)
{
    const size_t length = io[0].size();
    for (size_t c = 0, pos = 0; pos < length; ++c) {
        const int n = int(std::min(size_t(cuts[c % cuts.size()]), length - pos));
        if (io.size() == 2)
            LintaqProcST(inst, &io[0][pos], &io[1][pos], n);
        else
            LintaqProc(inst, &io[0][pos], n);
        pos += size_t(n);
    }
}

// |sum h[i] e^(-j w i)|, w in radians per sample.
template <typename T>
double amplitudeAt(const T *h, size_t n, double w)
{
    double re = 0.0, im = 0.0;
    for (size_t i = 0; i < n; ++i) {
        re += h[i] * std::cos(w * double(i));
        im -= h[i] * std::sin(w * double(i));
    }
    return std::hypot(re, im);
}

inline double dB(double amplitude) { return 20.0 * std::log10(amplitude); }

// Index of the first element whose bits differ, -1 if none. Two NaNs
// match whatever their payloads: which operand's payload an operation
// passes on is the compiler's choice.
template <typename T>
long firstMismatch(const T *a, const T *b, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        if (std::memcmp(&a[i], &b[i], sizeof(T)) != 0 && !(std::isnan(a[i]) && std::isnan(b[i])))
            return long(i);
    return -1;
}

inline long firstMismatch(const std::vector<float> &a, const std::vector<float> &b)
{
    return a.size() != b.size() ? 0 : firstMismatch(a.data(), b.data(), a.size());
}

// The generator is process-wide; put it back as found when a test ends.
struct NoiseStateGuard {
    uint32_t saved = lintaq::peekNoiseState();
    ~NoiseStateGuard() { lintaq::pokeNoiseState(saved); }
};

} // namespace test
