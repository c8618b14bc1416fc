// Every faster kernel set against the plain loops: two instances fed the
// same long random streams, one processed with the plain set and one with
// the set under test, must give out the same bits in every sample, on every
// path, through parameter changes, path switches, noise on and off,
// silence after a burst, and hostile values.
#include <limits>

#include <gtest/gtest.h>

#include "stream/kernel_set.h"
#include "test_support.h"

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

struct Rng {
    std::mt19937_64 gen;
    int below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(gen); }
    double uniform(double a, double b) { return std::uniform_real_distribution<double>(a, b)(gen); }
    bool chance(double p) { return uniform(0.0, 1.0) < p; }
    uint32_t word() { return uint32_t(gen()); }
    template <typename T, size_t N> T pick(const T (&values)[N]) { return values[below(int(N))]; }
};

struct Path { int rate; uint32_t oversample; };

// Host rate, both double-rate filter sets, the rates on either side of
// each boundary between them, and rates no host should send (every band
// is then at or above the bypass limit).
constexpr Path kPaths[] = {
    {48000, 0}, {96000, 0}, {96000, 1}, {64000, 1}, {63999, 1}, {48000, 1},   {45000, 1},
    {44999, 1}, {44100, 1}, {22050, 1}, {44100, 0}, {0, 1},     {-48000, 0},
};

void randomBand(PeqParams &p, int k, Rng &g)
{
    static const float hostileFreq[] = {kNaN, kInf, -kInf, 0.0f, -0.0f, -1000.0f, 1e-30f, 1e-42f};
    // 1e30 dB overflows the linear gain (bypassed); -1e30 dB gives a gain
    // of 0 that still runs (and silences the stream, so it stays rare);
    // 200 dB is finite but extreme.
    static const float hostileGain[] = {kNaN, kInf, -kInf, 0.0f, -0.0f, 1e30f, -1e30f, 200.0f, -200.0f};
    // 1e-20 drives the peak's bandwidth into its clamp; 1e20 puts poles
    // next to the unit circle.
    static const float hostileQ[] = {kNaN, kInf, -kInf, 0.0f, -0.7f, 1e-20f, 1e20f};
    static const uint32_t oddTypes[] = {5, 6, 7, 255, 0xFFFFFFFFu};
    static const uint32_t oddRoutes[] = {6, 7, 100, 0x80000001u, 0xFFFFFFFFu};
    const int rate = std::max(p.sampleRate, 8000); // a sane range even while the rate is not
    const float limit = float(rate * 0.453515);
    switch (g.below(12)) {
    case 0: p.freq[k] = g.pick(hostileFreq); break;
    case 1: p.freq[k] = std::nextafter(limit, g.chance(0.5) ? 0.0f : kInf); break; // either side of the bypass limit
    default: p.freq[k] = float(std::exp(g.uniform(std::log(10.0), std::log(rate * 0.5))));
    }
    p.gain[k] = g.chance(0.04) ? g.pick(hostileGain) : float(g.uniform(-30.0, 30.0));
    p.q[k] = g.chance(0.08) ? g.pick(hostileQ) : float(std::exp(g.uniform(std::log(0.1), std::log(12.0))));
    p.type[k] = g.chance(0.85) ? uint32_t(g.below(5)) : g.pick(oddTypes);
    p.enable[k] = g.chance(0.9) ? uint32_t(g.below(6)) : g.pick(oddRoutes);
}

// Bells in the middle, cuts or shelves at the ends, every band on both
// channels and in range: the usual shape of a curve. The wide sets line
// its bands up in vectors of one kind by letting some lanes pass their
// input on.
void shapeBand(PeqParams &p, int k, Rng &g)
{
    const bool end = k == 0 || k == LINTAQ_BANDS - 1, nextToEnd = k == 1 || k == LINTAQ_BANDS - 2;
    p.type[k] = end || (nextToEnd && g.chance(0.5)) ? uint32_t(1 + g.below(4)) : uint32_t(LINTAQ_PEAK);
    p.enable[k] = LINTAQ_BOTH;
    p.freq[k] = float(std::exp(g.uniform(std::log(20.0), std::log(16000.0))));
    p.gain[k] = float(g.uniform(1.0, 18.0) * (g.chance(0.5) ? 1 : -1));
    p.q[k] = float(g.uniform(0.4, 4.0));
}

void fillInput(std::vector<float> &x, Rng &g, bool overflow)
{
    double scale = 1.0;
    if (overflow && g.chance(0.3)) { // values that overflow the sections
        for (float &v : x)
            v = g.chance(0.5) ? -3e38f : 3e38f;
        return;
    }
    switch (g.below(10)) {
    case 0: case 9: // silence: only the noise (if on) keeps the sections busy
        std::fill(x.begin(), x.end(), 0.0f);
        return;
    case 1: scale = 1e-39; break; // subnormal samples
    case 2: scale = std::pow(10.0, g.uniform(-30.0, 12.0)); break; // one scale per block, tiny to large
    }
    for (float &v : x)
        v = float(g.uniform(-1.0, 1.0) * scale);
}

int randomBlockSize(Rng &g)
{
    switch (g.below(8)) {
    case 0: case 1: return 1 + g.below(64);
    case 2: return 2047 + g.below(3);
    case 3: case 4: return 1 + g.below(4096);
    default: return 4096 + g.below(8000);
    }
}

::testing::AssertionResult sameBlock(const std::vector<float> &fast, const std::vector<float> &plain,
                                     const char *channel, long streamPos, long &informative)
{
    const long i = test::firstMismatch(fast, plain);
    if (i >= 0)
        return ::testing::AssertionFailure() << channel << " sample " << streamPos + i << ": fast " << std::hexfloat
                                             << fast[size_t(i)] << ", plain " << plain[size_t(i)];
    for (const float v : fast)
        informative += std::isfinite(v) && v != 0.0f;
    return ::testing::AssertionSuccess();
}

// hops: stream length in hops of 2048 samples; switchRate: chance per block
// of a rate or oversampling change; overflow: the last quarter's inputs
// drive everything to inf and NaN.
struct Scenario {
    const char *name;
    int mode;
    bool stereo;
    Path start;
    uint32_t noise;
    int hops;
    double switchRate;
    bool overflow = false;
    bool silenceAfterBurst = false; // everything after the first quarter is silence
    bool evenLoad = false;          // both instances made by LintaqInitSmooth
    bool shaped = false;            // bands keep the usual shape (shapeBand)
};

// Runs one processing call with the given kernel set and the noise
// generator at `noise`; returns the generator's state afterwards.
template <typename Call>
uint32_t callWith(lintaq::KernelSet set, uint32_t noise, Call call)
{
    lintaq::forceKernelSet(set);
    lintaq::pokeNoiseState(noise);
    call();
    return lintaq::peekNoiseState();
}

void runScenario(const Scenario &s, lintaq::KernelSet fastSet, uint64_t seed)
{
    Rng g{std::mt19937_64(seed)};
    const auto create = s.evenLoad ? LintaqInitSmooth : LintaqInit;
    test::Instance fast(create(s.mode, s.stereo ? 1 : 0));
    test::Instance plain(create(s.mode, s.stereo ? 1 : 0));
    uint32_t noise = g.word(); // an arbitrary point of the sequence

    PeqParams p = test::creationValues(s.start.rate, s.start.oversample, s.noise);
    const auto changeBand = [&](int k) {
        randomBand(p, k, g);
        if (s.shaped)
            shapeBand(p, k, g);
    };
    for (int k = 0; k < LINTAQ_BANDS; ++k)
        changeBand(k);
    const long total = long(s.hops) * 2048;
    long streamPos = 0, informative = 0;
    for (int event = 0; streamPos < total; ++event) {
        SCOPED_TRACE(::testing::Message() << "event " << event << " at sample " << streamPos);
        if (g.chance(0.25)) // some bands change, mid-stream
            for (int changes = 1 + g.below(4); changes > 0; --changes)
                changeBand(g.below(LINTAQ_BANDS));
        if (g.chance(s.switchRate)) {
            const Path next = g.pick(kPaths);
            p.sampleRate = next.rate, p.oversample = next.oversample;
        }
        if (g.chance(0.05))
            p.noise = g.chance(0.5) ? 0u : g.word() | 1u;
        LintaqSetPar(fast.get(), &p);
        LintaqSetPar(plain.get(), &p);

        int n = randomBlockSize(g);
        if (g.chance(0.03))
            n = g.chance(0.5) ? 0 : -1 - g.below(100); // design only
        const bool overflow = s.overflow && streamPos > total * 3 / 4;
        std::vector<float> inL(size_t(std::max(n, 0))), inR(inL.size());
        fillInput(inL, g, overflow);
        fillInput(inR, g, overflow);
        if (s.silenceAfterBurst && streamPos > total / 4) {
            std::fill(inL.begin(), inL.end(), 0.0f);
            std::fill(inR.begin(), inR.end(), 0.0f);
        }
        std::vector<float> fastL = inL, fastR = inR, plainL = inL, plainR = inR;

        // Stereo instances are sometimes driven by the mono call, which
        // shares channel 0 and the framing; mono instances are sometimes
        // handed to the stereo call, which must leave the arrays alone.
        const bool stereoCall = s.stereo ? !g.chance(0.1) : g.chance(0.03);
        const auto process = [&](PeqInstance *inst, std::vector<float> &l, std::vector<float> &r) {
            if (stereoCall)
                LintaqProcST(inst, l.data(), r.data(), n);
            else
                LintaqProc(inst, l.data(), n);
        };
        const uint32_t plainNoise = callWith(lintaq::KernelSet::plain, noise, [&] { process(plain.get(), plainL, plainR); });
        const uint32_t fastNoise = callWith(fastSet, noise, [&] { process(fast.get(), fastL, fastR); });
        ASSERT_TRUE(sameBlock(fastL, plainL, "left", streamPos, informative));
        if (stereoCall) {
            ASSERT_TRUE(sameBlock(fastR, plainR, "right", streamPos, informative));
        }
        ASSERT_EQ(fastNoise, plainNoise);
        noise = fastNoise;
        if (!s.stereo && stereoCall) {
            ASSERT_TRUE(fastL == inL && fastR == inR) << "stereo call on a mono instance wrote";
        }
        streamPos += long(inL.size());
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
    {"mode 0 stereo host rate", 0, true, {48000, 0}, 0, 26, 0.0},
    {"mode 2 stereo silence after a burst", 2, true, {48000, 0}, 0, 120, 0.0, false, true},
    {"mode 3 mono double rate silence after a burst", 3, false, {44100, 1}, 0, 120, 0.0, false, true},
    // The even-load instance cuts every frame's work into pieces.
    {"even load mode 3 stereo path switches", 3, true, {48000, 1}, 1, 200, 0.08, false, false, true},
    {"even load mode 2 mono path switches", 2, false, {44100, 1}, 0, 100, 0.05, false, false, true},
    {"even load mode 3 stereo overflow", 3, true, {63999, 1}, 0, 60, 0.05, true, false, true},
    {"even load mode 1 stereo silence after a burst", 1, true, {48000, 0}, 0, 60, 0.0, false, true, true},
    {"mode 3 stereo usual curves", 3, true, {48000, 0}, 0, 80, 0.0, false, false, false, true},
    {"mode 3 mono usual curves", 3, false, {44100, 1}, 1, 80, 0.0, false, false, false, true},
    {"even load mode 2 stereo usual curves", 2, true, {44100, 1}, 1, 100, 0.05, false, false, true, true},
};

constexpr lintaq::KernelSet kFastSets[] = {lintaq::KernelSet::scalar, lintaq::KernelSet::sse2,
                                           lintaq::KernelSet::avx2,   lintaq::KernelSet::avx512,
                                           lintaq::KernelSet::neon};

class FastPaths : public ::testing::TestWithParam<std::tuple<lintaq::KernelSet, size_t>> {};

TEST_P(FastPaths, GiveThePlainLoopsOutputBitForBit)
{
    const auto [set, scenario] = GetParam();
    if (!lintaq::kernelSetAvailable(set))
        GTEST_SKIP() << lintaq::kernelSetName(set) << " is not available on this processor";
    test::NoiseStateGuard guard;
    const lintaq::KernelSet before = lintaq::activeKernelSet();
    SCOPED_TRACE(kScenarios[scenario].name);
    runScenario(kScenarios[scenario], set, 0x6c696e746171ull + 7919 * scenario);
    lintaq::forceKernelSet(before);
}

INSTANTIATE_TEST_SUITE_P(Scenarios, FastPaths,
                         ::testing::Combine(::testing::ValuesIn(kFastSets),
                                            ::testing::Range(size_t{0}, std::size(kScenarios))),
                         [](const auto &param) {
                             return std::string(lintaq::kernelSetName(std::get<0>(param.param))) + "_" +
                                    std::to_string(std::get<1>(param.param));
                         });

} // namespace
