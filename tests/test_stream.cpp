// The stream paths as a host sees them: where an impulse lands, freedom
// of block sizes, start-up, design-only calls, transparency and path
// switches, for mono and stereo.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "interface/instance.h"
#include "lintaq.h"
#include "stream/noise.h"

namespace {

struct InstanceDeleter {
    void operator()(PeqInstance *p) const { LintaqExit(p); }
};
using Instance = std::unique_ptr<PeqInstance, InstanceDeleter>;

constexpr int kHop = 2048;
constexpr double kUlp = 1.0 / (1 << 24); // relative rounding bound of a float: 2^-24

struct Path {
    const char *name;
    int rate;
    uint32_t oversample;
    bool hostRate;
};

const Path kHost48{"48000 host rate", 48000, 0, true};
const Path kHost96{"96000 oversample (host rate)", 96000, 1, true};
const Path kDouble48{"48000 double rate", 48000, 1, false};
const Path kDouble63999{"63999 double rate", 63999, 1, false};
const Path kDouble44999{"44999 double rate", 44999, 1, false};
const Path kDouble22050{"22050 double rate", 22050, 1, false};
// The host-rate path, both double-rate filter sets, and the boundary rates
// that select them.
const Path kPaths[] = {kHost48, kHost96, kDouble48, kDouble63999, kDouble44999, kDouble22050};

// Every band switched off.
PeqParams silentBands(int rate, uint32_t oversample)
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

// A mix of all five types on every routing that does something.
PeqParams activeBands(int rate, uint32_t oversample, uint32_t noise)
{
    PeqParams p = silentBands(rate, oversample);
    const struct { float freq, gain, q; uint32_t type, enable; } bands[] = {
        {120.0f, 9.0f, 0.8f, 0, 1},   {3000.0f, -12.0f, 4.0f, 0, 2}, {200.0f, 6.0f, 0.7f, 1, 3},
        {8000.0f, -6.0f, 0.7f, 2, 4}, {40.0f, 0.0f, 0.7f, 3, 5},     {15000.0f, 0.0f, 1.2f, 4, 1},
    };
    for (int k = 0; k < 6; ++k) {
        p.freq[k] = bands[k].freq;
        p.gain[k] = bands[k].gain;
        p.q[k] = bands[k].q;
        p.type[k] = bands[k].type;
        p.enable[k] = bands[k].enable;
    }
    p.noise = noise;
    return p;
}

std::vector<float> randomSignal(size_t n, uint32_t seed, float scale = 1.0f)
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

Channels channels(bool stereo, size_t length)
{
    return Channels(stereo ? 2 : 1, std::vector<float>(length, 0.0f));
}

// Feeds the whole stream through in blocks whose sizes cycle through `cuts`.
void process(PeqInstance *inst, Channels &io, const std::vector<int> &cuts)
{
    const size_t length = io[0].size();
    size_t pos = 0;
    for (size_t c = 0; pos < length; ++c) {
        const size_t n = std::min(static_cast<size_t>(cuts[c % cuts.size()]), length - pos);
        if (io.size() == 2)
            LintaqProcST(inst, &io[0][pos], &io[1][pos], static_cast<int>(n));
        else
            LintaqProc(inst, &io[0][pos], static_cast<int>(n));
        pos += n;
    }
}

// Half-width of a pulse through the resampling pair: the prototype of up
// to 278 double-rate taps convolved with the decimator's 22 spans 299
// double-rate samples, of which every second one is kept: at most 150
// host-rate samples, 75 either side of the centre.
constexpr long kPulseReach = 75;

// The response of a path with no band in effect to a unit impulse: centred
// on `centre`, with exact zeros elsewhere in [from, to).
::testing::AssertionResult isUnitPulse(const std::vector<float> &out, long centre, bool hostRate,
                                       long from, long to)
{
    const long reach = hostRate ? 0 : kPulseReach;
    for (long t = from; t < to; ++t)
        if (std::labs(t - centre) > reach && out[size_t(t)] != 0.0f)
            return ::testing::AssertionFailure()
                   << "nonzero sample " << out[size_t(t)] << " at " << t << ", pulse due at "
                   << centre;
    const float peak = out[size_t(centre)];
    if (hostRate) {
        // The impulse reaches the output as 1*w[j] + 1*w[H-1-j]: two window
        // entries whose float sum lies within 2^-24 of 1, rounded once
        // more, so at most one step of 2^-23 (the spacing above 1) away.
        if (std::fabs(peak - 1.0) > 2 * kUlp)
            return ::testing::AssertionFailure() << "pulse " << peak << " at " << centre;
        return ::testing::AssertionSuccess();
    }
    // Mirror samples differ by rounding only. Each interpolated sample is
    // rounded once (2^-24 relative) and crossfaded (two products and a sum:
    // 3 * 2^-24 including the window's pair sum), so it carries at most
    // 4 * 2^-24 * 0.87 (the largest tap); the decimator weighs those errors
    // by sum|D| < 1.92 and rounds once more: < 4.6e-7 per sample, < 1e-6
    // for the difference of two.
    double sum = peak;
    for (long k = 1; k <= reach; ++k) {
        const float a = out[size_t(centre - k)], b = out[size_t(centre + k)];
        if (std::fabs(a - b) > 1e-6)
            return ::testing::AssertionFailure() << "asymmetric at +-" << k << ": " << a << ", " << b;
        if (std::fabs(a) >= peak)
            return ::testing::AssertionFailure() << "not centred: " << a << " at -" << k;
        sum += double(a) + double(b);
    }
    // The pulse sums to the pair's gain at 0 Hz, within 1e-4 of 1 for both
    // filter sets, plus 150 roundings of at most 6e-8 each.
    if (std::fabs(sum - 1.0) > 2e-4)
        return ::testing::AssertionFailure() << "pulse sums to " << sum;
    return ::testing::AssertionSuccess();
}

// ---------------------------------------------------------------------------

TEST(Latency, ImpulseLandsOnTheReportedLatencyOnEveryPathAndMode)
{
    for (const Path &path : kPaths)
        for (int mode = 0; mode <= 3; ++mode)
            for (bool stereo : {false, true}) {
                SCOPED_TRACE(::testing::Message() << path.name << ", mode " << mode
                                                  << (stereo ? ", stereo" : ", mono"));
                Instance inst(LintaqInit(mode, stereo ? 1 : 0));
                // At 48000 Hz a fresh instance runs (twelve identity
                // sections); the other paths have every band off.
                if (path.rate != 48000 || path.oversample != 0) {
                    const PeqParams p = silentBands(path.rate, path.oversample);
                    LintaqSetPar(inst.get(), &p);
                }
                const long latency = LintaqGetLatency(inst.get());
                // A different position per channel, so crossed channels show.
                const long at[2] = {1000, 1500};
                const long length = at[1] + latency + 2 * kPulseReach;
                Channels io = channels(stereo, size_t(length));
                for (size_t c = 0; c < io.size(); ++c)
                    io[c][size_t(at[c])] = 1.0f;
                process(inst.get(), io, {1500, 777, 4096});
                for (size_t c = 0; c < io.size(); ++c)
                    EXPECT_TRUE(isUnitPulse(io[c], at[c] + latency, path.hostRate, 0, length))
                        << "channel " << c;
            }
}

TEST(BlockSizes, AnyCutOfTheStreamGivesTheSameOutput)
{
    std::mt19937 gen(7);
    std::vector<int> mixed(64);
    for (int &n : mixed)
        n = std::uniform_int_distribution<int>(1, 5000)(gen);
    const std::vector<std::vector<int>> cuts = {
        {100000}, {1}, {5}, {400}, {2047}, {2048}, {2049}, mixed,
    };
    const size_t length = 24000; // about twelve hops; 100000 takes it in one call
    const uint32_t noiseStart = lintaq::peekNoiseState();

    for (const Path &path : {kHost48, kDouble48, kDouble22050})
        for (bool stereo : {false, true})
            for (uint32_t noise : {0u, 1u}) {
                SCOPED_TRACE(::testing::Message() << path.name << (stereo ? ", stereo" : ", mono")
                                                  << ", noise " << noise);
                const PeqParams p = activeBands(path.rate, path.oversample, noise);
                Channels input = channels(stereo, length);
                for (size_t c = 0; c < input.size(); ++c)
                    input[c] = randomSignal(length, uint32_t(c + 1));
                Channels whole;
                for (const std::vector<int> &cut : cuts) {
                    SCOPED_TRACE(::testing::Message() << "first block " << cut[0]);
                    Instance inst(LintaqInit(3, stereo ? 1 : 0));
                    LintaqSetPar(inst.get(), &p);
                    lintaq::pokeNoiseState(noiseStart); // the same noise for every run
                    Channels io = input;
                    process(inst.get(), io, cut);
                    if (whole.empty())
                        whole = io;
                    // Bit patterns: the output must not depend on the cut at all.
                    for (size_t c = 0; c < io.size(); ++c)
                        EXPECT_EQ(std::memcmp(io[c].data(), whole[c].data(), length * sizeof(float)), 0)
                            << "channel " << c;
                }
            }
}

TEST(Startup, FirstHopOfANewInstanceIsSilentWhateverTheInput)
{
    const float wild[] = {1e30f, -3e38f, 1e-42f, -1.0f, 65504.0f, 0.5f, -1e-20f, 2e38f};
    for (const Path &path : {kHost48, kDouble48, kDouble22050})
        for (bool stereo : {false, true}) {
            SCOPED_TRACE(::testing::Message() << path.name << (stereo ? ", stereo" : ", mono"));
            Instance inst(LintaqInit(3, stereo ? 1 : 0));
            const PeqParams p = activeBands(path.rate, path.oversample, 1);
            LintaqSetPar(inst.get(), &p);
            Channels io = channels(stereo, 3 * kHop);
            for (size_t c = 0; c < io.size(); ++c)
                for (size_t i = 0; i < io[c].size(); ++i)
                    io[c][i] = wild[(i + 3 * c) % 8];
            process(inst.get(), io, {3 * kHop});
            for (size_t c = 0; c < io.size(); ++c)
                for (size_t i = 0; i < kHop; ++i)
                    ASSERT_EQ(io[c][i], 0.0f) << "channel " << c << ", sample " << i;
        }
}

// What a design-only call must leave alone.
struct StreamSnapshot {
    std::vector<float> inFrame, outAccum, inFrame2x, ring;
    int pending, pending2x, ringPos;
    uint32_t noise;

    explicit StreamSnapshot(const PeqInstance &inst)
        : inFrame(inst.inFrame[0], inst.inFrame[0] + lintaq::frameLength(inst)),
          outAccum(inst.outAccum[0], inst.outAccum[0] + 2 * kHop),
          inFrame2x(inst.inFrame2x[0], inst.inFrame2x[0] + 2 * lintaq::frameLength(inst)),
          ring(inst.delayRing[0], inst.delayRing[0] + kRingHostRate), pending(inst.pending),
          pending2x(inst.pending2x), ringPos(inst.ringPos[0]), noise(lintaq::peekNoiseState())
    {
    }
    bool operator==(const StreamSnapshot &) const = default;
};

TEST(DesignOnly, EmptyCallAppliesNewParametersAndMovesNothing)
{
    for (bool stereo : {false, true})
        for (int n : {0, -7}) { // a negative count counts as 0
            SCOPED_TRACE(::testing::Message() << (stereo ? "stereo" : "mono") << ", n " << n);
            Instance inst(LintaqInit(3, stereo ? 1 : 0));
            PeqParams p = activeBands(48000, 1, 1);
            LintaqSetPar(inst.get(), &p);
            Channels io = channels(stereo, 3000); // ends mid-hop, buffers full
            for (auto &x : io)
                x = randomSignal(3000, 3);
            process(inst.get(), io, {3000});

            p.type[0] = 4;
            p.enable[0] = 5;
            p.freq[7] = 500.0f;
            p.enable[7] = 3;
            p.gain[7] = 12.0f;
            LintaqSetPar(inst.get(), &p);
            const StreamSnapshot before(*inst);
            float sentinel[2] = {123.0f, -456.0f};
            if (stereo)
                LintaqProcST(inst.get(), &sentinel[0], &sentinel[1], n);
            else
                LintaqProc(inst.get(), sentinel, n);

            EXPECT_TRUE(StreamSnapshot(*inst) == before);
            EXPECT_EQ(sentinel[0], 123.0f);
            EXPECT_EQ(sentinel[1], -456.0f);
            EXPECT_EQ(inst->bandsChanged, 0u);
            EXPECT_EQ(inst->bandDirty[0] | inst->bandDirty[7], 0u);
            EXPECT_EQ(inst->bands[0].bandType, 4u);
            EXPECT_EQ(inst->bands[0].enable, 5u);
            EXPECT_EQ(inst->bands[7].bypass, 0u);
            EXPECT_EQ(inst->bands[7].enable, 3u);
            // 12 dB over two passes: one pass carries 10^(12/40).
            EXPECT_NEAR(inst->bands[7].peakGain, std::pow(10.0, 0.3), 1e-12);
        }
}

TEST(Transparency, FreshInstanceAndFlatPeaksPassTheSignalDelayed)
{
    const struct {
        const char *name;
        int mode;
        bool flatPeaks; // otherwise a fresh instance, never given parameters
        int rate;
        uint32_t oversample;
    } cases[] = {
        {"fresh, mode 3", 3, false, 48000, 0},
        {"fresh, mode 1", 1, false, 48000, 0},
        {"flat peaks at 96000 with oversample (host rate)", 2, true, 96000, 1},
        {"flat peaks at 44100 without oversample", 3, true, 44100, 0},
    };
    for (const auto &c : cases)
        for (bool stereo : {false, true}) {
            SCOPED_TRACE(::testing::Message() << c.name << (stereo ? ", stereo" : ", mono"));
            Instance inst(LintaqInit(c.mode, stereo ? 1 : 0));
            if (c.flatPeaks) {
                PeqParams p = silentBands(c.rate, c.oversample);
                for (int k = 0; k < LINTAQ_BANDS; ++k) {
                    p.freq[k] = 50.0f * float(k + 1) * float(k + 1);
                    p.q[k] = 0.3f + 0.5f * float(k);
                    p.gain[k] = k % 2 == 0 ? 0.0f : -0.0f;
                    p.enable[k] = 1 + uint32_t(k) % 5; // every routing
                }
                LintaqSetPar(inst.get(), &p);
            }
            const size_t latency = size_t(LintaqGetLatency(inst.get()));
            const size_t span = 20000;
            // The right channel is much quieter, so the mid/side round trip
            // rounds it coarsely.
            Channels input = channels(stereo, latency + span);
            for (size_t ch = 0; ch < input.size(); ++ch)
                input[ch] = randomSignal(latency + span, uint32_t(5 + ch), ch == 0 ? 1.0f : 1e-3f);
            Channels io = input;
            process(inst.get(), io, {999, 4097});

            for (size_t t = 0; t < latency; ++t)
                ASSERT_EQ(io[0][t], 0.0f) << "before the latency, at " << t;
            for (size_t t = 0; t < span; ++t) {
                // A gain-1 section leaves each sample exactly as it is, so
                // the only rounding is the crossfade: x*w[j] and x*w[H-1-j]
                // rounded (2^-24 relative each), their sum rounded (2^-24),
                // and the two window entries summing to within 2^-24 of 1.
                // Stereo adds the mid/side round trip: m and s rounded, then
                // (m + s)/2 rounded, at most 2^-24 * (max(|l|,|r|) + |l|).
                double scale = 0;
                for (const auto &x : input)
                    scale = std::max(scale, std::fabs(double(x[t])));
                const double tol = (stereo ? 5 : 3) * kUlp * scale;
                for (size_t ch = 0; ch < io.size(); ++ch)
                    ASSERT_LE(std::fabs(io[ch][t + latency] - input[ch][t]), tol)
                        << "channel " << ch << ", input sample " << t;
            }
        }
}

TEST(PathSwitch, StreamSettlesBackToTheLatencyAfterEverySwitch)
{
    // Every transition between the host-rate path and the two double-rate
    // filter sets, in both directions.
    const Path order[] = {kDouble48,    kDouble22050, kHost48,      kDouble63999, kHost96,
                          kDouble44999, kDouble48,    kHost48,      kDouble22050, kHost96};
    for (bool stereo : {false, true}) {
        SCOPED_TRACE(stereo ? "stereo" : "mono");
        Instance inst(LintaqInit(3, stereo ? 1 : 0));
        const long latency = LintaqGetLatency(inst.get());
        const long frame = lintaq::frameLength(*inst);
        std::mt19937 gen(11);
        for (const Path &path : order) {
            SCOPED_TRACE(path.name);
            // Audio of a random length fills the buffers of the path being
            // left and ends mid-hop.
            const size_t busy = std::uniform_int_distribution<size_t>(1, 3 * kHop)(gen);
            Channels io = channels(stereo, busy);
            for (auto &x : io)
                x = randomSignal(busy, uint32_t(busy));
            process(inst.get(), io, {1000});

            const PeqParams p = silentBands(path.rate, path.oversample);
            LintaqSetPar(inst.get(), &p);
            // Whatever the buffers held at the switch, from the path just
            // left or from this path's last use, has been given out a frame
            // and a hop after it. From two hops later on, the output must be
            // exact silence but for the impulse, which comes a latency
            // after it went in.
            const long settled = frame + 3 * kHop;
            const long at[2] = {settled, settled + 300};
            io = channels(stereo, size_t(at[1] + latency + 2 * kPulseReach));
            for (size_t c = 0; c < io.size(); ++c)
                io[c][size_t(at[c])] = 1.0f;
            process(inst.get(), io, {1500, 2048, 333});
            for (size_t c = 0; c < io.size(); ++c)
                EXPECT_TRUE(isUnitPulse(io[c], at[c] + latency, path.hostRate, settled,
                                        long(io[c].size())))
                    << "channel " << c;
        }
    }
}

} // namespace
