// The stream paths as a host sees them: where an impulse lands, freedom of
// block sizes, and stereo routing identities that hold for any settings.
// The faster kernel sets are compared bit for bit with the plain loops in
// test_fast_paths.cpp.
#include <gtest/gtest.h>

#include "test_support.h"

namespace {

using test::Band;
using test::Channels;

constexpr size_t kLength = 24000; // past the 8266-sample latency of mode 3 by several hops
constexpr double kUlp = 0x1p-24; // relative rounding bound of a float

struct Path { const char *name; int rate; uint32_t oversample; bool hostRate; };

// The host-rate path, both double-rate filter sets, and the boundary rates
// that select them.
const Path kHost48{"48000 host rate", 48000, 0, true}, kDouble48{"48000 double rate", 48000, 1, false},
    kDouble22050{"22050 double rate", 22050, 1, false};
const Path kPaths[] = {kHost48, {"96000 oversample (host rate)", 96000, 1, true}, kDouble48,
                       {"63999 double rate", 63999, 1, false}, {"44999 double rate", 44999, 1, false}, kDouble22050};

Channels silence(bool stereo, size_t length)
{
    return Channels(stereo ? 2 : 1, std::vector<float>(length, 0.0f));
}

// Half-width of a pulse through the resampling pair: the prototype of up
// to 278 double-rate taps convolved with the decimator's 22 spans 299
// double-rate samples, of which every second one is kept: at most 150
// host-rate samples, 75 either side of the centre.
constexpr long kPulseReach = 75;

// The response of a path that changes nothing to a unit impulse: centred
// on `centre`, with exact zeros everywhere else. On the double-rate paths
// the symmetry about `centre` pins each filter pair's whole-sample delay
// (43 samples topped up by the 31-slot ring, or 74).
::testing::AssertionResult isUnitPulse(const std::vector<float> &out, long centre, bool hostRate)
{
    const long reach = hostRate ? 0 : kPulseReach;
    for (long t = 0; t < long(out.size()); ++t)
        if (std::labs(t - centre) > reach && out[size_t(t)] != 0.0f)
            return ::testing::AssertionFailure() << "nonzero sample " << out[size_t(t)] << " at " << t
                                                 << ", pulse due at " << centre;
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
        if (std::fabs(a - b) > 1e-6 || std::fabs(a) >= peak)
            return ::testing::AssertionFailure() << "not symmetric about its peak at +-" << k << ": " << a << ", " << b;
        sum += double(a) + double(b);
    }
    // The pulse sums to the pair's gain at 0 Hz, within 1e-4 of 1 for both
    // filter sets, plus 150 roundings of at most 6e-8 each.
    if (std::fabs(sum - 1.0) > 2e-4)
        return ::testing::AssertionFailure() << "pulse sums to " << sum;
    return ::testing::AssertionSuccess();
}

TEST(Latency, IsFixedByTheModeAndAnImpulseAloneLandsThereOnEveryPath)
{
    // At 48000 Hz a fresh instance runs its twelve identity sections. On
    // the other paths every band is off, except in mode 3, where peaks of
    // gain +0 or -0 on every routing are real sections that must pass each
    // sample exactly.
    const long kLatency[] = {36938, 20554, 12362, 8266};
    PeqParams flat = test::creationValues();
    for (int k = 0; k < 5; ++k)
        flat = test::withBands({{k, 1 + uint32_t(k) % 5, 0, 50.0f * float((k + 1) * (k + 1)),
                                 k % 2 == 0 ? 0.0f : -0.0f, 0.3f + 0.5f * float(k)}}, flat);
    for (const test::Kind &kind : test::kKinds)
    for (const Path &path : kPaths)
        for (int mode = 0; mode <= 3; ++mode)
            for (const bool stereo : {false, true}) {
                SCOPED_TRACE(::testing::Message() << kind.name << ", " << path.name << ", mode " << mode
                                                  << (stereo ? ", stereo" : ", mono"));
                test::Instance inst(kind.create(mode, stereo ? 1 : 0));
                if (path.rate != 48000 || path.oversample != 0) {
                    PeqParams p = mode == 3 ? flat : test::creationValues();
                    p.sampleRate = path.rate, p.oversample = path.oversample;
                    LintaqSetPar(inst.get(), &p);
                }
                const long latency = LintaqGetLatency(inst.get());
                EXPECT_EQ(latency, kLatency[mode] + kind.extraDelay) << "the same at every rate";
                const long at[2] = {1000, 1500}; // a different position per channel, so crossed channels show
                Channels io = silence(stereo, size_t(at[1] + latency + 2 * kPulseReach));
                for (size_t c = 0; c < io.size(); ++c)
                    io[c][size_t(at[c])] = 1.0f;
                test::process(inst.get(), io, {1500, 777, 4096});
                for (size_t c = 0; c < io.size(); ++c)
                    EXPECT_TRUE(isUnitPulse(io[c], at[c] + latency, path.hostRate)) << "channel " << c;
            }
}

TEST(BlockSizes, AnyCutOfTheStreamGivesTheSameOutput)
{
    std::mt19937 gen(7);
    std::vector<int> mixed(64);
    for (int &n : mixed)
        n = std::uniform_int_distribution<int>(1, 5000)(gen);
    const std::vector<std::vector<int>> cuts = {{100000}, {1}, {2047}, {2048}, {2049}, mixed}; // 100000: one call
    // A mix of all five types on every routing that does something.
    const std::vector<test::Band> bands = {
        {0, 1, 0, 120.0f, 9.0f, 0.8f},   {1, 2, 0, 3000.0f, -12.0f, 4.0f}, {2, 3, 1, 200.0f, 6.0f, 0.7f},
        {3, 4, 2, 8000.0f, -6.0f, 0.7f}, {4, 5, 3, 40.0f, 0.0f, 0.7f},     {5, 1, 4, 15000.0f, 0.0f, 1.2f},
    };
    for (const test::Kind &kind : test::kKinds)
    for (const Path &path : {kHost48, kDouble48, kDouble22050})
        for (const bool stereo : {false, true})
            for (const uint32_t noise : {0u, 1u}) {
                SCOPED_TRACE(::testing::Message() << kind.name << ", " << path.name
                                                  << (stereo ? ", stereo" : ", mono") << ", noise " << noise);
                const PeqParams p = test::withBands(bands, test::creationValues(path.rate, path.oversample, noise));
                Channels input = silence(stereo, kLength), whole;
                for (size_t c = 0; c < input.size(); ++c)
                    input[c] = test::randomSignal(kLength, uint32_t(c + 1));
                whole.clear();
                for (const std::vector<int> &cut : cuts) {
                    test::NoiseStateGuard sameNoiseForEveryRun;
                    test::Instance inst(kind.create(3, stereo ? 1 : 0));
                    LintaqSetPar(inst.get(), &p);
                    Channels io = input;
                    test::process(inst.get(), io, cut);
                    if (whole.empty())
                        whole = io;
                    for (size_t c = 0; c < io.size(); ++c)
                        EXPECT_EQ(test::firstMismatch(io[c], whole[c]), -1)
                            << "first block " << cut[0] << ", channel " << c;
                }
            }
}

// Each run starts the shared noise generator from the same state, so runs
// with noise on are comparable.
Channels run(const std::vector<Band> &bands, Channels io, uint32_t noise = 0)
{
    test::NoiseStateGuard guard;
    test::Instance inst(LintaqInit(3, io.size() == 2 ? 1 : 0));
    const PeqParams p = test::withBands(bands, test::creationValues(48000, 0, noise));
    LintaqSetPar(inst.get(), &p);
    test::process(inst.get(), io, {int(kLength)});
    return io;
}

TEST(StereoRouting, EquivalentAssignmentsGiveTheSameBits)
{
    const std::vector<Band> common = {{0, 1, 0, 500.0f, 8.0f, 2.0f}, {1, 4, 2, 4000.0f, -6.0f, 0.7f}};
    const std::vector<Band> unrouted = {{0, 6, 0, 1000.0f, 12.0f, 1.0f}, {4, 7, 1, 200.0f, -9.0f, 0.7f},
                                        {11, 1000, 4, 2000.0f, 0.0f, 0.7f}};
    const struct { const char *name; std::vector<Band> a, b; bool sameInput; } cases[] = {
        {"a both-channel band shares coefficients but keeps separate states, as a left plus a right band",
         {{2, 1, 0, 1000.0f, 6.0f, 1.0f}, {6, 1, 3, 80.0f, 0.0f, 0.7071f}, {10, 4, 1, 300.0f, -4.0f, 0.8f}},
         {{2, 2, 0, 1000.0f, 6.0f, 1.0f}, {3, 3, 0, 1000.0f, 6.0f, 1.0f}, {6, 3, 3, 80.0f, 0.0f, 0.7071f},
          {7, 2, 3, 80.0f, 0.0f, 0.7071f}, {10, 4, 1, 300.0f, -4.0f, 0.8f}}, false},
        // Equal inputs through both-channel and mid bands stay equal, so
        // the side is exactly zero (the shared noise cancels too), and a
        // side band on zeros from zero state puts out zeros.
        {"identical channels leave side bands nothing to change", common,
         {common[0], common[1], {5, 5, 0, 3000.0f, 12.0f, 1.0f}, {8, 5, 3, 200.0f, 0.0f, 0.7f}}, true},
        {"enable 6 and above reaches no stereo channel", {}, unrouted, false},
    };
    for (const auto &c : cases) {
        const std::vector<float> x = test::randomSignal(kLength, 1, 0.5f);
        const Channels in{x, c.sameInput ? x : test::randomSignal(kLength, 2, 0.5f)};
        const Channels a = run(c.a, in, 1), b = run(c.b, in, 1);
        EXPECT_EQ(test::firstMismatch(a[0], b[0]), -1) << c.name << ", left";
        EXPECT_EQ(test::firstMismatch(a[1], b[1]), -1) << c.name << ", right";
        EXPECT_TRUE(!c.sameInput || test::firstMismatch(a[0], a[1]) == -1) << c.name << ", left against right";
    }
    // Mono applies every nonzero code, so the unrouted bands do act there.
    const std::vector<float> x = test::randomSignal(kLength, 3, 0.5f);
    EXPECT_NE(test::firstMismatch(run({}, {x})[0], run(unrouted, {x})[0]), -1);
}

TEST(StereoRouting, ChannelsNeverCross)
{
    // A signal in one channel only, through both-channel, left-only and
    // right-only bands: the silent channel stays exactly zero (no noise).
    const std::vector<Band> bands = {{0, 1, 0, 1000.0f, 6.0f, 1.0f}, {1, 2, 1, 150.0f, 10.0f, 0.7f},
                                     {2, 3, 2, 6000.0f, -8.0f, 0.7f}};
    const std::vector<float> tone = test::randomSignal(kLength, 7, 0.5f), zeros(kLength, 0.0f);
    const Channels leftOnly = run(bands, {tone, zeros}), rightOnly = run(bands, {zeros, tone});
    EXPECT_EQ(test::firstMismatch(leftOnly[1], zeros), -1);
    EXPECT_EQ(test::firstMismatch(rightOnly[0], zeros), -1);
    EXPECT_NE(test::firstMismatch(leftOnly[0], zeros), -1);
    EXPECT_NE(test::firstMismatch(rightOnly[1], zeros), -1);
}

} // namespace
