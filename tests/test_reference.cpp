// The engine against the plain reference model: every output sample must
// carry the same bits, on every path, through parameter changes, path
// switches, noise and hostile values.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "lintaq.h"
#include "reference/reference_engine.h"
#include "stream/noise.h"

namespace {

struct InstanceDeleter {
    void operator()(PeqInstance *p) const { LintaqExit(p); }
};
using Instance = std::unique_ptr<PeqInstance, InstanceDeleter>;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

uint32_t bitsOf(float f)
{
    uint32_t u;
    std::memcpy(&u, &f, sizeof u);
    return u;
}

// Two NaNs match whatever their payloads: a payload records only which
// operand of a commutative operation came first, which nothing fixes.
bool sameSample(float a, float b)
{
    return bitsOf(a) == bitsOf(b) || (std::isnan(a) && std::isnan(b));
}

class Rng {
public:
    explicit Rng(uint64_t seed) : gen_(seed) {}
    int below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(gen_); }
    double uniform(double a, double b) { return std::uniform_real_distribution<double>(a, b)(gen_); }
    bool chance(double p) { return uniform(0.0, 1.0) < p; }
    uint32_t word() { return static_cast<uint32_t>(gen_()); }
    template <typename T, size_t N> T pick(const T (&values)[N]) { return values[below(int(N))]; }

private:
    std::mt19937_64 gen_;
};

struct Path {
    int rate;
    uint32_t oversample;
};

// Host rate, both double-rate filter sets, the rates on either side of
// each boundary between them, and rates no host should send (every band
// is then at or above the bypass limit).
constexpr Path kPaths[] = {
    {48000, 0}, {96000, 0}, {96000, 1}, {64000, 1}, {63999, 1}, {48000, 1},   {45000, 1},
    {44999, 1}, {44100, 1}, {22050, 1}, {44100, 0}, {0, 1},     {-48000, 0},
};

float randomFreq(Rng &g, int rate)
{
    static const float hostile[] = {kNaN, kInf, -kInf, 0.0f, -0.0f, -1000.0f, 1e-30f, 1e-42f};
    rate = std::max(rate, 8000); // a sane range even while the rate is not
    const float limit = static_cast<float>(rate * 0.453515);
    switch (g.below(12)) {
    case 0:
        return g.pick(hostile);
    case 1: // either side of the bypass limit
        return std::nextafter(limit, g.chance(0.5) ? 0.0f : kInf);
    default:
        return static_cast<float>(std::exp(g.uniform(std::log(10.0), std::log(rate * 0.5))));
    }
}

float randomGain(Rng &g)
{
    // 1e30 dB overflows the linear gain (bypassed); -1e30 dB gives a gain
    // of 0 that still runs (and silences the stream, so it stays rare);
    // 200 dB is finite but extreme.
    static const float hostile[] = {kNaN, kInf, -kInf, 0.0f, -0.0f, 1e30f, -1e30f, 200.0f, -200.0f};
    return g.chance(0.04) ? g.pick(hostile) : static_cast<float>(g.uniform(-30.0, 30.0));
}

float randomQ(Rng &g)
{
    // 1e-20 drives the peak's bandwidth into its clamp; 1e20 puts poles
    // next to the unit circle.
    static const float hostile[] = {kNaN, kInf, -kInf, 0.0f, -0.7f, 1e-20f, 1e20f};
    return g.chance(0.08) ? g.pick(hostile)
                          : static_cast<float>(std::exp(g.uniform(std::log(0.1), std::log(12.0))));
}

void randomBand(PeqParams &p, int k, Rng &g)
{
    static const uint32_t oddTypes[] = {5, 6, 7, 255, 0xFFFFFFFFu};
    static const uint32_t oddRoutes[] = {6, 7, 100, 0x80000001u, 0xFFFFFFFFu};
    p.freq[k] = randomFreq(g, p.sampleRate);
    p.gain[k] = randomGain(g);
    p.q[k] = randomQ(g);
    p.type[k] = g.chance(0.85) ? static_cast<uint32_t>(g.below(5)) : g.pick(oddTypes);
    p.enable[k] = g.chance(0.9) ? static_cast<uint32_t>(g.below(6)) : g.pick(oddRoutes);
}

void fillInput(float *x, int n, Rng &g, bool overflow)
{
    if (overflow && g.chance(0.3)) { // values that overflow the sections
        for (int i = 0; i < n; ++i)
            x[i] = g.chance(0.5) ? -3e38f : 3e38f;
        return;
    }
    switch (g.below(10)) {
    case 0: // silence: only the noise (if on) keeps the sections busy
        std::fill(x, x + n, 0.0f);
        return;
    case 1: { // subnormal samples
        for (int i = 0; i < n; ++i)
            x[i] = static_cast<float>(g.uniform(-1.0, 1.0) * 1e-39);
        return;
    }
    case 2: { // one scale per block, from tiny to large
        const double scale = std::pow(10.0, g.uniform(-30.0, 12.0));
        for (int i = 0; i < n; ++i)
            x[i] = static_cast<float>(g.uniform(-1.0, 1.0) * scale);
        return;
    }
    default:
        for (int i = 0; i < n; ++i)
            x[i] = static_cast<float>(g.uniform(-1.0, 1.0));
    }
}

int randomBlockSize(Rng &g)
{
    switch (g.below(8)) {
    case 0:
    case 1:
        return 1 + g.below(64);
    case 2:
        return 2047 + g.below(3);
    case 3:
    case 4:
        return 1 + g.below(4096);
    default:
        return 4096 + g.below(8000);
    }
}

::testing::AssertionResult sameBlock(const std::vector<float> &engine,
                                     const std::vector<float> &model, const char *channel,
                                     long streamPos, long &informative)
{
    for (size_t i = 0; i < engine.size(); ++i) {
        if (!sameSample(engine[i], model[i]))
            return ::testing::AssertionFailure()
                   << channel << " sample " << streamPos + long(i) << ": engine " << engine[i]
                   << " (0x" << std::hex << bitsOf(engine[i]) << "), reference " << std::dec
                   << model[i] << " (0x" << std::hex << bitsOf(model[i]) << ")";
        informative += std::isfinite(engine[i]) && engine[i] != 0.0f;
    }
    return ::testing::AssertionSuccess();
}

struct Scenario {
    const char *name;
    int mode;
    bool stereo;
    Path start;
    uint32_t noise;
    int hops;           // stream length, in hops of 2048 samples
    double switchRate;  // chance per block of a rate or oversampling change
    bool overflow = false; // last quarter: inputs that drive everything to inf and NaN
};

void runScenario(const Scenario &s, uint64_t seed)
{
    SCOPED_TRACE(s.name);
    Rng g(seed);
    Instance engine(LintaqInit(s.mode, s.stereo ? 1 : 0));
    ASSERT_NE(engine, nullptr);
    reference::Engine model(s.mode, s.stereo ? 1 : 0);

    // Start both generators from the same arbitrary point of the sequence.
    const uint32_t noiseStart = g.word();
    lintaq::pokeNoiseState(noiseStart);
    reference::noiseState = noiseStart;

    PeqParams p{};
    p.sampleRate = s.start.rate;
    p.oversample = s.start.oversample;
    p.noise = s.noise;
    for (int k = 0; k < LINTAQ_BANDS; ++k)
        randomBand(p, k, g);
    LintaqSetPar(engine.get(), &p);
    model.setPar(&p);

    const long total = long(s.hops) * 2048;
    long streamPos = 0, informative = 0;
    std::vector<float> inL, inR, engL, engR, refL, refR;
    for (int event = 0; streamPos < total; ++event) {
        SCOPED_TRACE(::testing::Message() << "event " << event << " at sample " << streamPos);
        if (g.chance(0.25)) { // some bands change, mid-stream
            for (int changes = 1 + g.below(4); changes > 0; --changes)
                randomBand(p, g.below(LINTAQ_BANDS), g);
        }
        if (g.chance(s.switchRate)) {
            const Path next = g.pick(kPaths);
            p.sampleRate = next.rate;
            p.oversample = next.oversample;
        }
        if (g.chance(0.05))
            p.noise = g.chance(0.5) ? 0u : g.word() | 1u;
        LintaqSetPar(engine.get(), &p);
        model.setPar(&p);

        int n = randomBlockSize(g);
        if (g.chance(0.03))
            n = g.chance(0.5) ? 0 : -1 - g.below(100); // design only
        const int len = std::max(n, 0);
        inL.resize(size_t(len));
        inR.resize(size_t(len));
        const bool overflow = s.overflow && streamPos > total * 3 / 4;
        fillInput(inL.data(), len, g, overflow);
        fillInput(inR.data(), len, g, overflow);
        engL = refL = inL;
        engR = refR = inR;

        // Stereo instances are sometimes driven by the mono call, which
        // shares channel 0 and the framing; mono instances are sometimes
        // handed to the stereo call, which must leave the arrays alone.
        const bool stereoCall = s.stereo ? !g.chance(0.1) : g.chance(0.03);
        if (stereoCall) {
            LintaqProcST(engine.get(), engL.data(), engR.data(), n);
            model.procST(refL.data(), refR.data(), n);
        } else {
            LintaqProc(engine.get(), engL.data(), n);
            model.proc(refL.data(), n);
        }
        ASSERT_TRUE(sameBlock(engL, refL, "left", streamPos, informative));
        if (stereoCall) {
            ASSERT_TRUE(sameBlock(engR, refR, "right", streamPos, informative));
        }
        ASSERT_EQ(lintaq::peekNoiseState(), reference::noiseState);
        if (!s.stereo && stereoCall) {
            ASSERT_EQ(engL, inL);
            ASSERT_EQ(engR, inR);
        }
        streamPos += len;
    }
    // Guard against a run that only compared zeros and NaNs.
    EXPECT_GT(informative, 4 * 2048) << "too little finite, nonzero output to compare";
}

// Mode 0 frames are the largest: one brief run suffices to show the mode
// only changes sizes.
const Scenario kScenarios[] = {
    {"mode 0 mono host rate", 0, false, {48000, 0}, 0, 26, 0.0},
    {"mode 3 mono host rate 48000", 3, false, {48000, 0}, 0, 80, 0.0},
    {"mode 3 mono host rate 96000 noise", 3, false, {96000, 1}, 1, 80, 0.0},
    {"mode 3 mono 48000 double rate", 3, false, {48000, 1}, 0, 80, 0.0},
    {"mode 3 mono 63999 double rate noise", 3, false, {63999, 1}, 1, 80, 0.0},
    {"mode 3 mono 44100 double rate", 3, false, {44100, 1}, 1, 80, 0.0},
    {"mode 3 mono 22050 double rate", 3, false, {22050, 1}, 0, 80, 0.0},
    {"mode 3 mono path switches", 3, false, {48000, 1}, 1, 200, 0.08},
    {"mode 2 mono path switches", 2, false, {44100, 1}, 0, 100, 0.05},
    {"mode 3 mono overflow", 3, false, {48000, 1}, 1, 60, 0.05, true},
    {"mode 3 stereo host rate 48000", 3, true, {48000, 0}, 0, 80, 0.0},
    {"mode 3 stereo host rate 96000 noise", 3, true, {96000, 0}, 1, 80, 0.0},
    {"mode 3 stereo 48000 double rate noise", 3, true, {48000, 1}, 1, 80, 0.0},
    {"mode 3 stereo 63999 double rate", 3, true, {63999, 1}, 0, 80, 0.0},
    {"mode 3 stereo 44100 double rate noise", 3, true, {44100, 1}, 1, 80, 0.0},
    {"mode 3 stereo 22050 double rate", 3, true, {22050, 1}, 0, 80, 0.0},
    {"mode 3 stereo path switches", 3, true, {22050, 1}, 1, 200, 0.08},
    {"mode 2 stereo path switches", 2, true, {63999, 1}, 1, 100, 0.05},
    {"mode 1 stereo path switches", 1, true, {48000, 0}, 0, 80, 0.05},
    {"mode 3 stereo overflow", 3, true, {44100, 1}, 0, 60, 0.05, true},
};

class ReferenceModel : public ::testing::TestWithParam<size_t> {};

TEST_P(ReferenceModel, EngineMatchesBitForBit)
{
    const uint32_t savedNoise = lintaq::peekNoiseState();
    runScenario(kScenarios[GetParam()], 0x6c696e746171ull + GetParam());
    lintaq::pokeNoiseState(savedNoise);
}

INSTANTIATE_TEST_SUITE_P(Scenarios, ReferenceModel,
                         ::testing::Range(size_t{0}, std::size(kScenarios)));

} // namespace
