// The parts a frame is built from: the section frame drivers, the crossfade
// window and the frame noise.
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "design/design_bands.h"
#include "design/fade_window.h"
#include "design/sections.h"
#include "stream/frame_chain.h"
#include "stream/noise.h"

namespace {

using lintaq::Direction;
using lintaq::PeqBandState;

std::vector<float> randomSignal(size_t n, unsigned seed)
{
    std::mt19937 gen(seed);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    std::vector<float> x(n);
    for (float &v : x)
        v = dist(gen);
    return x;
}

PeqBandState designed(unsigned type, float freq, float gain, float q)
{
    PeqBandState band{};
    lintaq::designBand(band, type, freq, gain, q, 48000.0f);
    return band;
}

// Every section kind, with narrow and wide, boosting and cutting settings.
const struct { unsigned type; float freq, gain, q; } kBands[] = {
    {0, 1000.0f, 6.0f, 1.0f},    {0, 80.0f, -9.0f, 4.0f},  {1, 300.0f, 12.0f, 0.7071f},
    {2, 5000.0f, -8.0f, 2.0f}, {3, 200.0f, 0.0f, 0.7071f}, {4, 9000.0f, 0.0f, 3.0f},
};

TEST(FrameDriver, ConsecutiveFramesContinueTheForwardPass)
{
    // Frames begin headLen apart and each starts from the state the previous
    // one stored after headLen samples, so every frame, tail included, must
    // match one unbroken forward run. The signal is loud, so no carried peak
    // state comes near the flush limit and the match is exact.
    const int head = 512, tail = 1536, frames = 12;
    const std::vector<float> x = randomSignal(head * frames + tail, 1);
    for (const auto &b : kBands) {
        const PeqBandState band = designed(b.type, b.freq, b.gain, b.q);
        std::vector<float> unbroken = x;
        double s[2] = {0.0, 0.0};
        lintaq::runBandFrame(unbroken.data(), band, s, static_cast<int>(x.size()), 0, Direction::forward);
        double carried[2] = {0.0, 0.0};
        for (int j = 0; j < frames; ++j) {
            std::vector<float> frame(x.begin() + j * head, x.begin() + j * head + head + tail);
            lintaq::runBandFrame(frame.data(), band, carried, head, tail, Direction::forward);
            ASSERT_TRUE(std::equal(frame.begin(), frame.end(), unbroken.begin() + j * head))
                << "type " << b.type << " frame " << j;
        }
    }
}

TEST(FrameDriver, PeakFlushesTinyCarriedStateBiquadKeepsIt)
{
    // With every coefficient zero both sections just delay their input, so the
    // state reached after headLen samples is the last two input samples.
    const struct { float last; bool flushed; } cases[] = {
        {5e-11f, true}, {-5e-11f, true}, {2e-10f, false}, {-2e-10f, false},
    };
    for (const auto &c : cases) {
        PeqBandState peak{}, biquad{};
        peak.peakGain = 1.0;
        biquad.bandType = 1;
        float a[8] = {0.5f, 0.5f, c.last, c.last, 1.0f, 1.0f, 1.0f, 1.0f};
        float b[8] = {0.5f, 0.5f, c.last, c.last, 1.0f, 1.0f, 1.0f, 1.0f};
        double ps[2] = {1.0, 1.0}, bs[2] = {1.0, 1.0};
        lintaq::runPeakFrame(a, peak, ps, 4, 4, Direction::forward);
        lintaq::runBiquadFrame(b, biquad, bs, 4, 4, Direction::forward);
        const double kept = c.last;
        EXPECT_EQ(ps[0], c.flushed ? 0.0 : kept) << c.last;
        EXPECT_EQ(ps[1], c.flushed ? 0.0 : kept) << c.last;
        EXPECT_EQ(bs[0], kept) << c.last;
        EXPECT_EQ(bs[1], kept) << c.last;
    }
}

TEST(FrameDriver, BackwardImpulseResponseIsTheForwardOneReversed)
{
    // The backward pass starts from zero whatever the carried pair holds, and
    // leaves that pair alone.
    const int head = 2048, frame = 4096;
    for (const auto &b : kBands) {
        const PeqBandState band = designed(b.type, b.freq, b.gain, b.q);
        std::vector<float> fwd(frame), bwd(frame);
        fwd[0] = 1.0f;
        bwd[frame - 1] = 1.0f;
        double zero[2] = {0.0, 0.0}, carried[2] = {0.25, -0.5};
        lintaq::runBandFrame(fwd.data(), band, zero, head, frame - head, Direction::forward);
        lintaq::runBandFrame(bwd.data(), band, carried, head, frame - head, Direction::backward);
        EXPECT_TRUE(std::equal(fwd.begin(), fwd.end(), bwd.rbegin())) << "type " << b.type;
        EXPECT_EQ(carried[0], 0.25);
        EXPECT_EQ(carried[1], -0.5);
    }
}

TEST(FrameDriver, UnitGainPeakPassesSamplesExactly)
{
    // With V = 1 the correction is exactly zero while the allpass state runs.
    const std::vector<float> x = randomSignal(6000, 2);
    for (const float q : {0.2f, 1.0f, 10.0f}) {
        const PeqBandState band = designed(0, 700.0f, 0.0f, q);
        ASSERT_EQ(band.peakGain, 1.0);
        std::vector<float> y = x;
        double s[2] = {0.0, 0.0};
        lintaq::runBandFrame(y.data(), band, s, 2000, 4000, Direction::forward);
        lintaq::runBandFrame(y.data(), band, s, 2000, 4000, Direction::backward);
        EXPECT_EQ(y, x) << "Q " << q;
        EXPECT_NE(s[0], 0.0) << "state did not run";
    }
}

TEST(FadeWindow, MatchesTheWorkedValues)
{
    // Tolerance: half a unit in the last given digit of each figure.
    const struct { int n, i; double value, tol; } cases[] = {
        {2048, 0, 1.4707e-7, 5e-12},       {2048, 1023, 0.4996165, 5e-8},
        {2048, 1024, 0.5003835, 5e-8},     {2048, 2047, 0.99999988, 5e-9},
        {4096, 0, 3.6767e-8, 5e-13},       {4096, 4095, 0.99999994, 5e-9},
    };
    for (const auto &c : cases) {
        std::vector<float> w(c.n);
        lintaq::makeFadeWindow(w.data(), c.n);
        EXPECT_NEAR(w[c.i], c.value, c.tol) << "n " << c.n << " i " << c.i;
    }
}

TEST(FadeWindow, MirroredEntriesSumToExactlyOne)
{
    // Neighbouring frames crossfade with w[i] and w[n-1-i]; any shortfall
    // would show as a ripple at the hop rate.
    for (const int n : {2048, 4096}) {
        std::vector<float> w(n);
        lintaq::makeFadeWindow(w.data(), n);
        for (int i = 0; i < n; ++i)
            ASSERT_EQ(w[i] + w[n - 1 - i], 1.0f) << "n " << n << " i " << i;
    }
}

// The frame noise generator written out from its definition.
struct ReferenceNoise {
    uint32_t x;
    int32_t nextV()
    {
        x = x * 1664525u + 1013904223u;
        return static_cast<int32_t>(x >> 16) - 32768;
    }
    float next() { return static_cast<float>(nextV() * 1e-20); }
};

// The generator is process-wide; put it back as found when a test ends.
struct NoiseStateGuard {
    uint32_t saved = lintaq::peekNoiseState();
    ~NoiseStateGuard() { lintaq::pokeNoiseState(saved); }
};

// Identity bands, so a frame of silence comes out of the chain as pure noise.
struct Chain {
    PeqBandState bands[lintaq::kBandCount];
    std::vector<float> window;
    explicit Chain(int head) : window(head)
    {
        for (PeqBandState &b : bands)
            lintaq::resetBand(b);
        lintaq::makeFadeWindow(window.data(), head);
    }
    std::vector<float> mono(int head, int tail, uint32_t noise)
    {
        std::vector<float> in(head + tail), acc(2 * head), work(head + tail);
        lintaq::filterFrameMono(in.data(), acc.data(), work.data(), window.data(), bands, head, tail, noise);
        return work;
    }
};

TEST(FrameNoise, StartsFromTheLoadTimeStateWithTheKnownValues)
{
    NoiseStateGuard guard;
    lintaq::pokeNoiseState(lintaq::kNoiseSeed);
    ASSERT_EQ(lintaq::kNoiseSeed, 688332804u);
    const std::vector<float> work = Chain(4).mono(4, 4, 1);
    const int32_t expected[3] = {-14095, -13979, 22358};
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(work[i], static_cast<float>(expected[i] * 1e-20)) << i;
}

TEST(FrameNoise, IsTinyMultiplesOf1e20AndAdvancesByTheFrameLength)
{
    NoiseStateGuard guard;
    const uint32_t start = 123456789u;
    for (const int tail : {6144, 34816}) { // frames of 8192 and 36864 samples
        lintaq::pokeNoiseState(start);
        const std::vector<float> work = Chain(2048).mono(2048, tail, 1);
        ReferenceNoise ref{start};
        for (size_t i = 0; i < work.size(); ++i) {
            const int32_t v = ref.nextV();
            ASSERT_EQ(work[i], static_cast<float>(v * 1e-20)) << i;
            ASSERT_LE(std::fabs(work[i]), 3.2768e-16f);
        }
        const uint32_t frame = static_cast<uint32_t>(work.size());
        EXPECT_EQ(lintaq::peekNoiseState(), ref.x);
        EXPECT_EQ(lintaq::jumpNoiseState(start, frame), ref.x);
        Chain(2048).mono(2048, tail, 0);
        EXPECT_EQ(lintaq::peekNoiseState(), ref.x) << "noise off must not draw";
    }
}

TEST(FrameNoise, MonoThenStereoContinueOneSequenceWithOneValuePerIndex)
{
    NoiseStateGuard guard;
    const uint32_t start = 42u;
    lintaq::pokeNoiseState(start);
    const int head = 64, tail = 192, frame = head + tail;
    Chain chain(head);
    const std::vector<float> mono = chain.mono(head, tail, 1);
    std::vector<float> src(frame), accL(2 * head), accR(2 * head), workL(frame), workR(frame);
    lintaq::filterFrameStereo(src.data(), src.data(), accL.data(), accR.data(), workL.data(),
                              workR.data(), chain.window.data(), chain.bands, head, tail, 1);
    // Equal noise in both channels: side is 0, and (2e + 0) * 0.5 gives e back exactly.
    ReferenceNoise ref{start};
    for (int i = 0; i < frame; ++i)
        ASSERT_EQ(mono[i], ref.next()) << i;
    for (int i = 0; i < frame; ++i) {
        const float e = ref.next();
        ASSERT_EQ(workL[i], e) << i;
        ASSERT_EQ(workR[i], e) << i;
    }
    EXPECT_EQ(lintaq::peekNoiseState(), ref.x);
}

} // namespace
