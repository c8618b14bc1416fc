// The response graph: grid point counts, curve values at octave points, what
// a band that does nothing draws, and the graph against the engine's own
// processed response.
#include <limits>
#include <numbers>

#include <gtest/gtest.h>

#include "test_support.h"

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

struct GraphDeleter {
    void operator()(PeqGraph *g) const { ExitPeqGraph(g); }
};
using Graph = std::unique_ptr<PeqGraph, GraphDeleter>;

PeqParams band0(uint32_t type, float freq, float gain, float q, int rate = 48000, uint32_t over = 0)
{
    return test::withBands({{0, 1, type, freq, gain, q}}, test::creationValues(rate, over));
}

// Output array pre-filled with a sentinel, so unwritten elements show.
std::vector<float> evaluate(const PeqParams &p, const PeqGraph *g, size_t room, int band = 0)
{
    std::vector<float> out(room, 777.0f);
    LintaqGraph(&p, g, out.data(), band);
    return out;
}

TEST(ResponseGrid, CountsThePointsBelowTheDrawingLimit)
{
    // Limit 0.45351 x graph rate; the test after each point looks one step ahead.
    const struct { int n; float fmin, fmax; int rate; uint32_t over; int count; } cases[] = {
        {512, 20.0f, 20000.0f, 48000, 0, 512}, {512, 20.0f, 20000.0f, 44100, 0, 510},
        {8, 100.0f, 12800.0f, 48000, 0, 7},    {8, 100.0f, 12800.0f, 48000, 1, 8},
        {8, 100.0f, 12800.0f, 96000, 1, 8},    {3, 30000.0f, 40000.0f, 48000, 0, 0},
    };
    for (const auto &c : cases) {
        const PeqParams p = test::creationValues(c.rate, c.over);
        Graph g(InitPeqGraph(&p, c.n, c.fmin, c.fmax));
        ASSERT_NE(g, nullptr);
        EXPECT_EQ(g->pointCount, c.count) << c.n << " " << c.fmin << " " << c.rate << " " << c.over;
    }
    // 1001.43^2 at 1000 Hz and 48000, to one unit in the last place (0.0625 near 1e6).
    const PeqParams p = test::creationValues();
    Graph g(InitPeqGraph(&p, 2, 1000.0f, 2000.0f));
    EXPECT_NEAR(g->warpedSq[0], 1002862.75, 0.0625);
}

TEST(ResponseGraph, ArgumentsOutsideTheLimitsGiveNoGridAndWriteNothing)
{
    // Our choice: NULL rather than a grid built from meaningless numbers.
    const PeqParams p = test::creationValues(), band = band0(0, 1000.0f, 6.0f, 1.0f);
    const struct { int n; float fmin, fmax; } cases[] = {
        {1, 20, 2e4f}, {0, 20, 2e4f}, {-3, 20, 2e4f}, {16, 0, 2e4f}, {16, -5, 2e4f}, {16, kNaN, 2e4f},
        {16, kInf, 2e4f}, {16, 20, 0}, {16, 20, -1}, {16, 20, kNaN}, {16, 20, kInf},
    };
    for (const auto &c : cases)
        EXPECT_EQ(InitPeqGraph(&p, c.n, c.fmin, c.fmax), nullptr) << c.n << " " << c.fmin << " " << c.fmax;
    EXPECT_EQ(InitPeqGraph(nullptr, 16, 20.0f, 20000.0f), nullptr);
    ExitPeqGraph(nullptr);

    Graph g(InitPeqGraph(&p, 8, 125.0f, 16000.0f));
    std::vector<float> out(8, 777.0f);
    LintaqGraph(nullptr, g.get(), out.data(), 0);
    LintaqGraph(&band, nullptr, out.data(), 0);
    LintaqGraph(&band, g.get(), nullptr, 0);
    LintaqGraph(&band, g.get(), out.data(), -1);
    LintaqGraph(&band, g.get(), out.data(), LINTAQ_BANDS);
    EXPECT_EQ(out, std::vector<float>(8, 777.0f));
}

TEST(ResponseEvaluation, CurvesHaveTheirClosedFormDecibelsAndBandsThatDoNothingDrawFlat)
{
    // Grid 125 Hz to 16000 Hz in octaves at 48000: 7 points counted. Expected
    // values carry three decimals: +-0.0005 dB. Flat rows must be exactly
    // 0 dB: a band at or above 0.453515 x the graph rate (21768.72 Hz here)
    // and, our choice, what processing leaves untouched: unknown types, and
    // frequency, Q or a used gain that is not a finite number above zero.
    const PeqParams gp = test::creationValues();
    Graph g(InitPeqGraph(&gp, 8, 125.0f, 16000.0f));
    ASSERT_EQ(g->pointCount, 7);
    const struct { uint32_t type; float freq, gain, q; float db[7]; } cases[] = {
        {0, 1000, 6.0f, 1.0f, {0.200f, 0.782f, 2.822f, 6.000f, 2.806f, 0.752f, 0.166f}},
        {0, 1000, -6.0f, 1.0f, {-0.200f, -0.782f, -2.822f, -6.000f, -2.806f, -0.752f, -0.166f}},
        {1, 1000, 12.0f, 0.7071f, {11.996f, 11.938f, 11.106f, 6.000f, 0.884f, 0.058f, 0.003f}},
        {2, 1000, 12.0f, 0.7071f, {0.004f, 0.062f, 0.894f, 6.000f, 11.116f, 11.942f, 11.997f}},
        {3, 1000, 0.0f, 0.7071f, {-72.298f, -48.245f, -24.644f, -6.021f, -0.518f, -0.031f, -0.001f}},
        {4, 1000, 0.0f, 0.7071f, {-0.002f, -0.034f, -0.524f, -6.021f, -24.750f, -48.953f, -75.594f}},
        {0, 1000, 0, 1, {}},    {0, 22000, 6, 1, {}},  {5, 1000, 6, 1, {}},      {99, 1000, 6, 1, {}},
        {0, 0, 6, 1, {}},       {1, -50, 6, 1, {}},    {2, kNaN, 6, 1, {}},      {3, kInf, 0, 1, {}},
        {4, 1000, 0, 0, {}},    {0, 1000, 6, -1, {}},  {1, 1000, 6, kNaN, {}},   {2, 1000, 6, kInf, {}},
        {0, 1000, kNaN, 1, {}}, {1, 1000, kInf, 1, {}},
    };
    for (const auto &c : cases) {
        const bool flat = std::all_of(c.db, c.db + 7, [](float v) { return v == 0.0f; });
        const std::vector<float> out = evaluate(band0(c.type, c.freq, c.gain, c.q), g.get(), 8);
        for (size_t i = 0; i < 7; ++i)
            EXPECT_NEAR(out[i], c.db[i], flat ? 0.0 : 5e-4)
                << "type " << c.type << ", " << c.freq << " Hz, " << c.gain << " dB, Q " << c.q << ", point " << i;
        EXPECT_EQ(out[7], 777.0f) << "wrote beyond pointCount";
    }
}

TEST(ResponseEvaluation, ValuesStayFiniteForFiniteSettingsFarOutOfRange)
{
    // Single-precision terms overflow or cancel for such settings; a ratio
    // of zero or infinity is drawn at -500 or +500 dB, an undefined one at
    // 0 dB (every finite ratio lies within -449..+386 dB).
    const struct { uint32_t type; float freq, gain, q, lo, hi; } cases[] = {
        {3, 1000, 0, 1e-30f, -500, -500},     // Q^2 underflows: no high-pass output
        {0, 1000, 1000, 1, 500, 500},         // 10^100 overflows
        {0, 1000, -1000, 1, -500, -500},
        {1, 1000, 2e4f, 1, -500, 500},        // A^2 overflows: inf/inf somewhere
        {4, 1000, 0, 1e20f, -500, 500},       // Q^2 overflows
        {4, 1e-30f, 0, 0.7f, -500, 500},      // band at 0 Hz
    };
    for (const auto &c : cases) {
        const PeqParams p = band0(c.type, c.freq, c.gain, c.q);
        Graph g(InitPeqGraph(&p, 64, 20.0f, 20000.0f));
        ASSERT_NE(g, nullptr);
        ASSERT_GT(g->pointCount, 0);
        const std::vector<float> out = evaluate(p, g.get(), size_t(g->pointCount));
        for (float v : out)
            ASSERT_TRUE(std::isfinite(v) && v >= c.lo && v <= c.hi)
                << v << " for type " << c.type << ", " << c.freq << " Hz, " << c.gain << " dB, Q " << c.q;
    }
}

// The frequency of each grid point, read back from its warped value
// (x = (tan(pi f / r) r / pi)^2 at graph rate r).
std::vector<double> gridFreqs(const PeqGraph &g, double rate)
{
    std::vector<double> f(size_t(g.pointCount));
    for (size_t i = 0; i < f.size(); ++i)
        f[i] = rate / std::numbers::pi * std::atan(std::sqrt(double(g.warpedSq[i])) * std::numbers::pi / rate);
    return f;
}

TEST(ResponseGraph, DrawsWhatTheEngineDoes)
{
    // The engine's zero-phase impulse response for band 0, mono, mode 1
    // (lookahead 16384, far longer than any of these responses, so the
    // frames truncate nothing), 48000 Hz, no noise; compared as amplitudes:
    // engine |H|^2 against 10^(dB/20).
    // High- and low-pass: the graph is exactly the two-pass bilinear
    // response, so they agree in shape everywhere. The engine rounds each
    // sample to float four times (two passes, the crossfade's product and
    // sum), 2^-24 relative each, so its DFT is off by at most
    // 4 * 2^-24 * sum|h|. The graph's single-precision terms carry a few
    // 1e-7 relative, doubled by the slope (the amplitude goes with x^2 far
    // from the corner): 1e-5 relative covers them.
    // Peak and shelves: one full-gain prototype against two half-gain passes
    // agree only at the centre or corner (1000 Hz) and, for shelves, deep on
    // the plateaus: 64x below the corner (15.625 Hz) and 31x above it in
    // warped frequency (18000 Hz) the shapes differ by under 1e-5 dB; with
    // the numeric part, 2e-5 dB.
    const PeqParams gp = test::creationValues();
    Graph shape(InitPeqGraph(&gp, 96, 20.0f, 20000.0f));
    const std::vector<double> shapeFreqs = gridFreqs(*shape, 48000.0);
    const struct { const char *name; uint32_t type; float gain, q; bool plateaus, wholeShape; } cases[] = {
        {"peak +6", 0, 6.0f, 1.0f, false, false},      {"peak -6", 0, -6.0f, 1.0f, false, false},
        {"low shelf", 1, 12.0f, 0.7071f, true, false}, {"high shelf", 2, 12.0f, 0.7071f, true, false},
        {"high-pass", 3, 0.0f, 0.7071f, false, true},  {"low-pass", 4, 0.0f, 0.7071f, false, true},
    };
    for (const auto &c : cases) {
        const PeqParams p = band0(c.type, 1000.0f, c.gain, c.q);
        test::Instance inst(LintaqInit(1, 0));
        LintaqSetPar(inst.get(), &p);
        const size_t t0 = 5000, half = 8192, centre = t0 + size_t(LintaqGetLatency(inst.get()));
        std::vector<float> x(centre + half + 1);
        x[t0] = 1.0f;
        LintaqProc(inst.get(), x.data(), int(x.size()));
        const std::vector<float> h(x.begin() + long(centre - half), x.end());
        const auto engine = [&](double f) {
            return test::amplitudeAt(h.data(), h.size(), 2.0 * std::numbers::pi * f / 48000.0);
        };
        double sumAbs = 0.0;
        for (const float v : h)
            sumAbs += std::fabs(v);

        const std::pair<float, bool> points[] = {{1000.0f, false}, {15.625f, true}, {18000.0f, true}};
        for (const auto &[freq, plateau] : points) {
            if (plateau && !c.plateaus)
                continue;
            Graph point(InitPeqGraph(&gp, 2, freq, 1.01f * freq)); // point 0 lies at freq
            EXPECT_NEAR(test::dB(engine(freq)), evaluate(p, point.get(), 2)[0], 2e-5)
                << c.name << " at " << freq << " Hz";
        }
        if (!c.wholeShape)
            continue;
        const std::vector<float> graphDb = evaluate(p, shape.get(), 96);
        for (size_t i = 0; i < size_t(shape->pointCount); ++i) {
            const double want = std::pow(10.0, graphDb[i] / 20.0);
            EXPECT_NEAR(engine(shapeFreqs[i]), want, 1e-5 * want + 4.0 * 0x1p-24 * sumAbs)
                << c.name << " at " << shapeFreqs[i] << " Hz";
        }
    }
}

} // namespace
