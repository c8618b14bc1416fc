// The response graph: grid construction, per-band evaluation, a literal
// single-precision rendering of both, and the graph against the engine's
// own processed response.
#include <bit>
#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>
#include <numbers>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "lintaq.h"

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

struct GraphDeleter {
    void operator()(PeqGraph *g) const { ExitPeqGraph(g); }
};
using Graph = std::unique_ptr<PeqGraph, GraphDeleter>;

PeqParams params(int rate, unsigned oversample = 0)
{
    PeqParams p{};
    for (int k = 0; k < LINTAQ_BANDS; ++k) {
        p.freq[k] = 1000.0f;
        p.q[k] = 0.7f;
    }
    p.sampleRate = rate;
    p.oversample = oversample;
    return p;
}

PeqParams band0(unsigned type, float freq, float gain, float q, int rate = 48000, unsigned over = 0)
{
    PeqParams p = params(rate, over);
    p.type[0] = type;
    p.freq[0] = freq;
    p.gain[0] = gain;
    p.q[0] = q;
    p.enable[0] = 1;
    return p;
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
    const struct { int n; float fmin, fmax; int rate; unsigned over; int count; } cases[] = {
        {512, 20.0f, 20000.0f, 48000, 0, 512}, {512, 20.0f, 20000.0f, 44100, 0, 510},
        {8, 100.0f, 12800.0f, 48000, 0, 7},    {8, 100.0f, 12800.0f, 48000, 1, 8},
        {8, 100.0f, 12800.0f, 96000, 1, 8},    {3, 30000.0f, 40000.0f, 48000, 0, 0},
    };
    for (const auto &c : cases) {
        const PeqParams p = params(c.rate, c.over);
        Graph g(InitPeqGraph(&p, c.n, c.fmin, c.fmax));
        ASSERT_NE(g, nullptr);
        EXPECT_EQ(g->pointCount, c.count) << c.n << " " << c.fmin << " " << c.rate << " " << c.over;
    }
    // 1001.43^2 at 1000 Hz and 48000, to one unit in the last place (0.0625 near 1e6).
    const PeqParams p = params(48000);
    Graph g(InitPeqGraph(&p, 2, 1000.0f, 2000.0f));
    EXPECT_NEAR(g->warpedSq[0], 1002862.75, 0.0625);
}

TEST(ResponseGrid, RejectsArgumentsOutsideItsLimits)
{
    // Our choice: NULL rather than a grid built from meaningless numbers.
    const PeqParams p = params(48000);
    const struct { int n; float fmin, fmax; } cases[] = {
        {1, 20.0f, 20000.0f},  {0, 20.0f, 20000.0f},  {-3, 20.0f, 20000.0f}, {16, 0.0f, 20000.0f},
        {16, -5.0f, 20000.0f}, {16, kNaN, 20000.0f},  {16, kInf, 20000.0f},  {16, 20.0f, 0.0f},
        {16, 20.0f, -1.0f},    {16, 20.0f, kNaN},     {16, 20.0f, kInf},
    };
    for (const auto &c : cases)
        EXPECT_EQ(InitPeqGraph(&p, c.n, c.fmin, c.fmax), nullptr) << c.n << " " << c.fmin << " " << c.fmax;
    EXPECT_EQ(InitPeqGraph(nullptr, 16, 20.0f, 20000.0f), nullptr);
    ExitPeqGraph(nullptr);
}

TEST(ResponseEvaluation, MatchesTheWorkedFigures)
{
    // Grid 125 Hz to 16000 Hz in octaves at 48000: 7 points counted. Figures
    // are given with three decimals: +-0.0005 dB.
    const PeqParams gp = params(48000);
    Graph g(InitPeqGraph(&gp, 8, 125.0f, 16000.0f));
    ASSERT_EQ(g->pointCount, 7);
    const struct { unsigned type; float gain, q; float db[7]; } cases[] = {
        {0, 6.0f, 1.0f, {0.200f, 0.782f, 2.822f, 6.000f, 2.806f, 0.752f, 0.166f}},
        {0, -6.0f, 1.0f, {-0.200f, -0.782f, -2.822f, -6.000f, -2.806f, -0.752f, -0.166f}},
        {0, 0.0f, 1.0f, {0, 0, 0, 0, 0, 0, 0}},
        {1, 12.0f, 0.7071f, {11.996f, 11.938f, 11.106f, 6.000f, 0.884f, 0.058f, 0.003f}},
        {2, 12.0f, 0.7071f, {0.004f, 0.062f, 0.894f, 6.000f, 11.116f, 11.942f, 11.997f}},
        {3, 0.0f, 0.7071f, {-72.298f, -48.245f, -24.644f, -6.021f, -0.518f, -0.031f, -0.001f}},
        {4, 0.0f, 0.7071f, {-0.002f, -0.034f, -0.524f, -6.021f, -24.750f, -48.953f, -75.594f}},
    };
    for (const auto &c : cases) {
        const std::vector<float> out = evaluate(band0(c.type, 1000.0f, c.gain, c.q), g.get(), 8);
        for (int i = 0; i < 7; ++i)
            EXPECT_NEAR(out[i], c.db[i], 5e-4) << "type " << c.type << " gain " << c.gain << " point " << i;
        EXPECT_EQ(out[7], 777.0f) << "wrote beyond pointCount";
    }
}

TEST(ResponseEvaluation, IgnoresWhatDoesNotShapeTheBand)
{
    // Gain for the high- and low-pass; enable for every type.
    const PeqParams gp = params(48000);
    Graph g(InitPeqGraph(&gp, 8, 125.0f, 16000.0f));
    for (const unsigned type : {0u, 1u, 2u, 3u, 4u}) {
        PeqParams p = band0(type, 1000.0f, 6.0f, 0.7071f);
        const std::vector<float> ref = evaluate(p, g.get(), 8);
        p.enable[0] = 0;
        EXPECT_EQ(evaluate(p, g.get(), 8), ref) << "type " << type;
        if (type >= 3) {
            p.gain[0] = -18.0f;
            EXPECT_EQ(evaluate(p, g.get(), 8), ref) << "type " << type;
        }
    }
}

TEST(ResponseEvaluation, BandLimitFollowsTheGraphRate)
{
    // 22000 Hz is above 0.453515 x 48000 = 21768.72 but below the limit at
    // the doubled rate, 43537.44.
    for (const unsigned over : {0u, 1u}) {
        const PeqParams gp = params(48000, over);
        Graph g(InitPeqGraph(&gp, 8, 125.0f, 16000.0f));
        const std::vector<float> out = evaluate(band0(0, 22000.0f, 6.0f, 1.0f, 48000, over), g.get(), 8);
        for (int i = 0; i < g->pointCount; ++i) {
            if (over == 0)
                EXPECT_EQ(out[i], 0.0f) << i;
            else
                EXPECT_GT(out[i], 0.0f) << i;
        }
    }
}

TEST(ResponseEvaluation, BandsThatDoNothingDrawZeroDecibels)
{
    // Our choice: what processing leaves untouched draws flat: unknown types,
    // and frequency, Q or a used gain that is not a finite number above zero.
    const PeqParams gp = params(48000);
    Graph g(InitPeqGraph(&gp, 8, 125.0f, 16000.0f));
    const struct { unsigned type; float freq, gain, q; } cases[] = {
        {5, 1000.0f, 6.0f, 1.0f}, {99, 1000.0f, 6.0f, 1.0f}, {0, 0.0f, 6.0f, 1.0f},
        {1, -50.0f, 6.0f, 1.0f},  {2, kNaN, 6.0f, 1.0f},     {3, kInf, 0.0f, 1.0f},
        {4, 1000.0f, 0.0f, 0.0f}, {0, 1000.0f, 6.0f, -1.0f}, {1, 1000.0f, 6.0f, kNaN},
        {2, 1000.0f, 6.0f, kInf}, {0, 1000.0f, kNaN, 1.0f},  {1, 1000.0f, kInf, 1.0f},
    };
    for (const auto &c : cases) {
        const std::vector<float> out = evaluate(band0(c.type, c.freq, c.gain, c.q), g.get(), 8);
        for (int i = 0; i < 7; ++i)
            EXPECT_EQ(out[i], 0.0f) << "type " << c.type << " f " << c.freq << " g " << c.gain << " q " << c.q;
    }
}

TEST(ResponseEvaluation, BadPointersOrBandIndexWriteNothing)
{
    const PeqParams gp = params(48000), p = band0(0, 1000.0f, 6.0f, 1.0f);
    Graph g(InitPeqGraph(&gp, 8, 125.0f, 16000.0f));
    std::vector<float> out(8, 777.0f);
    LintaqGraph(nullptr, g.get(), out.data(), 0);
    LintaqGraph(&p, nullptr, out.data(), 0);
    LintaqGraph(&p, g.get(), nullptr, 0);
    LintaqGraph(&p, g.get(), out.data(), -1);
    LintaqGraph(&p, g.get(), out.data(), LINTAQ_BANDS);
    EXPECT_EQ(out, std::vector<float>(8, 777.0f));
}

// Grid and evaluation written out from their definition. Single precision
// throughout, the tangent, logarithms, exponential and powers in double;
// products of several factors are grouped as written in the comments.
float refRate(const PeqParams &p)
{
    const float r = static_cast<float>(p.sampleRate);
    return r < 64000.0f && p.oversample != 0 ? r * 2.0f : r;
}

float refWarpedSq(float f, float inv, float scale)
{
    float a = inv * f * 3.1415927f; // (inv * f) * pi
    if (a > 1.57075f)
        a = 1.57075f;
    const float w = static_cast<float>(std::tan(static_cast<double>(a))) * scale;
    return w * w;
}

struct RefGrid {
    int count;
    std::vector<float> x, freq;
};

RefGrid refGrid(const PeqParams &p, int n, float fmin, float fmax)
{
    const float r = refRate(p);
    const float step = static_cast<float>(std::log(static_cast<double>(fmax)) - std::log(static_cast<double>(fmin))) /
                       static_cast<float>(n - 1);
    const float ratio = static_cast<float>(std::exp(static_cast<double>(step)));
    const float limit = r * 0.45351f, inv = 1.0f / r, scale = r * 0.31830987f;
    RefGrid g{n, std::vector<float>(n), std::vector<float>(n)};
    float f = fmin;
    for (int i = 0; i < n; ++i) {
        g.freq[i] = f;
        g.x[i] = refWarpedSq(f, inv, scale);
        f = f * ratio;
        if (f > limit) {
            g.count = i;
            break;
        }
    }
    return g;
}

std::vector<float> refEvaluate(const PeqParams &p, const RefGrid &g, int b)
{
    const float r = refRate(p), f0 = p.freq[b], gain = p.gain[b], q = p.q[b];
    std::vector<float> out(g.count, 0.0f);
    if (f0 >= r * 0.453515f)
        return out;
    const float y = refWarpedSq(f0, 1.0f / r, r * 0.31830987f), k = q * q;
    const float P = static_cast<float>(std::pow(10.0, static_cast<double>(std::fabs(gain)) * 0.1));
    const float A = static_cast<float>(std::pow(10.0, static_cast<double>(gain) * 0.025));
    for (int i = 0; i < g.count; ++i) {
        const float x = g.x[i];
        // k*x^2 is k*(x*x); (1-2k)*x*y is ((1-2k)*x)*y; k*A^2*y^2 is (k*(A*A))*(y*y).
        const float D = k * (x * x) + (1.0f - 2.0f * k) * x * y + k * (y * y);
        float v = 1.0f;
        switch (p.type[b]) {
        case 0: {
            const float N = k * (x * x) + (P - 2.0f * k) * x * y + k * (y * y);
            v = gain > 0.0f ? N / D : D / N;
            break;
        }
        case 1: {
            const float N = k * (x * x) + (1.0f - 2.0f * k) * A * x * y + k * (A * A) * (y * y);
            const float M = k * (A * A) * (x * x) + (1.0f - 2.0f * k) * A * x * y + k * (y * y);
            v = (A * A) * N / M; // ((A*A)*N)/M
            break;
        }
        case 2: {
            const float N = k * (A * A) * (x * x) + (1.0f - 2.0f * k) * A * x * y + k * (y * y);
            const float M = k * (x * x) + (1.0f - 2.0f * k) * A * x * y + k * (A * A) * (y * y);
            v = (A * A) * N / M;
            break;
        }
        case 3: v = k * (x * x) / D; v = v * v; break;
        case 4: v = k * (y * y) / D; v = v * v; break;
        }
        out[i] = static_cast<float>(10.0 * std::log10(static_cast<double>(v)));
    }
    return out;
}

TEST(ResponseGraph, AgreesBitForBitWithTheLiteralRendering)
{
    std::mt19937 gen(2024);
    const auto uniform = [&](float lo, float hi) { return std::uniform_real_distribution<float>(lo, hi)(gen); };
    const int rates[] = {22050, 44100, 48000, 63999, 88200, 96000, 192000};
    for (int trial = 0; trial < 300; ++trial) {
        PeqParams p = params(rates[gen() % 7], gen() % 2);
        const int n = 2 + static_cast<int>(gen() % 600);
        const float fmin = std::exp(uniform(std::log(5.0f), std::log(3000.0f)));
        const float fmax = fmin * std::exp(uniform(0.1f, 9.0f));
        for (int b = 0; b < LINTAQ_BANDS; ++b) {
            p.type[b] = static_cast<uint32_t>(gen() % 5);
            p.freq[b] = std::exp(uniform(std::log(10.0f), std::log(60000.0f)));
            p.gain[b] = uniform(-24.0f, 24.0f);
            p.q[b] = std::exp(uniform(std::log(0.1f), std::log(12.0f)));
        }
        Graph g(InitPeqGraph(&p, n, fmin, fmax));
        const RefGrid ref = refGrid(p, n, fmin, fmax);
        ASSERT_EQ(g->pointCount, ref.count) << "trial " << trial;
        for (int i = 0; i < ref.count; ++i)
            ASSERT_EQ(std::bit_cast<uint32_t>(g->warpedSq[i]), std::bit_cast<uint32_t>(ref.x[i])) << trial;
        for (int b = 0; b < LINTAQ_BANDS; ++b) {
            const std::vector<float> want = refEvaluate(p, ref, b);
            std::vector<float> got(std::max(ref.count, 1));
            LintaqGraph(&p, g.get(), got.data(), b);
            for (int i = 0; i < ref.count; ++i)
                ASSERT_EQ(std::bit_cast<uint32_t>(got[i]), std::bit_cast<uint32_t>(want[i]))
                    << "trial " << trial << " band " << b << " type " << p.type[b] << " point " << i;
        }
    }
}

// The engine's zero-phase impulse response for band 0, centred on the
// delayed impulse: mono, mode 1 (lookahead 16384, far longer than any of
// these responses), 48000 Hz, no noise.
std::vector<float> engineImpulseResponse(const PeqParams &p, int half)
{
    PeqInstance *inst = LintaqInit(1, 0);
    LintaqSetPar(inst, &p);
    const int t0 = 5000, centre = t0 + LintaqGetLatency(inst);
    std::vector<float> x(static_cast<size_t>(centre + half + 1));
    x[t0] = 1.0f;
    LintaqProc(inst, x.data(), static_cast<int>(x.size()));
    LintaqExit(inst);
    return std::vector<float>(x.begin() + centre - half, x.end());
}

double amplitudeAt(const std::vector<float> &h, double freq)
{
    const int half = static_cast<int>(h.size() / 2);
    double re = 0.0, im = 0.0;
    for (int n = -half; n <= half; ++n) {
        const double phase = 2.0 * std::numbers::pi * freq / 48000.0 * n;
        re += h[n + half] * std::cos(phase);
        im -= h[n + half] * std::sin(phase);
    }
    return std::hypot(re, im);
}

TEST(ResponseGraph, DrawsWhatTheEngineDoes)
{
    // Compared as amplitudes: engine |H|^2 against 10^(dB/20).
    // High- and low-pass: the graph is exactly the two-pass bilinear response,
    // so they agree in shape everywhere. The engine rounds each sample to
    // float four times (two passes, the crossfade's product and sum), 2^-24
    // relative each, so its DFT is off by at most 4 * 2^-24 * sum|h|. The
    // graph's single-precision terms carry a few 1e-7 relative, doubled by
    // the slope (the amplitude goes with x^2 far from the corner): 1e-5
    // relative covers them. The frames truncate nothing: the responses die
    // out within a few thousand samples, the lookahead is 16384.
    // Peak and shelves: one full-gain prototype against two half-gain passes
    // agree only at the centre or corner (1000 Hz) and, for shelves, deep on
    // the plateaus: 64x below the corner (15.625 Hz) and 31x above it in
    // warped frequency (18000 Hz) the shapes differ by under 1e-5 dB; with
    // the numeric part, 2e-5 dB.
    const PeqParams gp = params(48000);
    Graph shape(InitPeqGraph(&gp, 96, 20.0f, 20000.0f));
    Graph octaves(InitPeqGraph(&gp, 8, 125.0f, 16000.0f)); // point 3 is 1000 Hz
    Graph low(InitPeqGraph(&gp, 2, 15.625f, 31.25f));
    Graph high(InitPeqGraph(&gp, 2, 17000.0f, 18000.0f));
    const RefGrid shapeFreqs = refGrid(gp, 96, 20.0f, 20000.0f);
    const struct { const char *name; unsigned type; float gain, q; bool plateaus, wholeShape; } cases[] = {
        {"peak +6", 0, 6.0f, 1.0f, false, false},      {"peak -6", 0, -6.0f, 1.0f, false, false},
        {"low shelf", 1, 12.0f, 0.7071f, true, false}, {"high shelf", 2, 12.0f, 0.7071f, true, false},
        {"high-pass", 3, 0.0f, 0.7071f, false, true},  {"low-pass", 4, 0.0f, 0.7071f, false, true},
    };
    const auto dbOf = [](double amplitude) { return 20.0 * std::log10(amplitude); };
    for (const auto &c : cases) {
        const PeqParams p = band0(c.type, 1000.0f, c.gain, c.q);
        const std::vector<float> h = engineImpulseResponse(p, 8192);
        double worstDb = 0.0, worstAbs = 0.0, sumAbs = 0.0;
        for (const float v : h)
            sumAbs += std::fabs(v);
        const double engineNoise = 4.0 * 0x1p-24 * sumAbs;
        const struct { const PeqGraph *g; float freq; int i; bool plateau; } points[] = {
            {octaves.get(), 1000.0f, 3, false}, {low.get(), 15.625f, 0, true}, {high.get(), 18000.0f, 1, true}};
        for (const auto &pt : points) {
            if (pt.plateau && !c.plateaus)
                continue;
            const double graphDb = evaluate(p, pt.g, 8)[pt.i];
            const double engineDb = dbOf(amplitudeAt(h, pt.freq));
            EXPECT_NEAR(engineDb, graphDb, 2e-5) << c.name << " at " << pt.freq << " Hz";
            worstDb = std::max(worstDb, std::fabs(engineDb - graphDb));
        }
        if (c.wholeShape) {
            const std::vector<float> graphDb = evaluate(p, shape.get(), 96);
            for (int i = 0; i < shape->pointCount; ++i) {
                const double want = std::pow(10.0, graphDb[i] / 20.0);
                const double got = amplitudeAt(h, shapeFreqs.freq[i]);
                EXPECT_NEAR(got, want, 1e-5 * want + engineNoise) << c.name << " at " << shapeFreqs.freq[i] << " Hz";
                worstAbs = std::max(worstAbs, std::fabs(got - want));
                if (want > 1e-3) // above -60 dB
                    worstDb = std::max(worstDb, std::fabs(dbOf(got) - graphDb[i]));
            }
        }
        if (c.wholeShape)
            std::printf("graph vs engine, %-10s worst %.3g dB above -60 dB, %.3g in amplitude\n", c.name,
                        worstDb, worstAbs);
        else
            std::printf("graph vs engine, %-10s worst %.3g dB at the compared points\n", c.name, worstDb);
    }
}

} // namespace
