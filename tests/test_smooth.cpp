// The even-load instance against the plain one: driven side by side with
// the same calls, its output is the plain output one hop later, bit for
// bit, whatever happens between the calls.
#include <gtest/gtest.h>

#include <random>

#include "stream/kernel_set.h"
#include "test_support.h"

namespace {

using test::Channels;

constexpr int kSmoothDelay = 2048;

// A random curve: any of the five types on any channel assignment, gains
// and Qs from gentle to steep, and now and then a band beyond the rate.
PeqParams randomSettings(std::mt19937 &gen, int rate, uint32_t oversample, uint32_t noise)
{
    PeqParams p = test::creationValues(rate, oversample, noise);
    std::uniform_int_distribution<int> enable(0, 6), type(0, 5);
    std::uniform_real_distribution<float> logFreq(std::log(20.0f), std::log(30000.0f)), gain(-15.0f, 15.0f),
        q(0.3f, 8.0f);
    for (int k = 0; k < LINTAQ_BANDS; ++k) {
        p.enable[k] = uint32_t(enable(gen));
        p.type[k] = uint32_t(type(gen));
        p.freq[k] = std::exp(logFreq(gen));
        p.gain[k] = gain(gen);
        p.q[k] = q(gen);
    }
    return p;
}

struct Pair {
    test::Instance plain, smooth;
    bool stereo;
    Channels plainOut, smoothOut;
    std::vector<char> stereoCallAt; // per sample: taken by LintaqProcST
};

void feed(PeqInstance *inst, Channels &io, size_t pos, int n, bool stereo)
{
    // data() + pos: the position may be the end of the stream (n = 0).
    if (stereo)
        LintaqProcST(inst, io[0].data() + pos, io[1].data() + pos, n);
    else
        LintaqProc(inst, io[0].data() + pos, n);
}

// Drives both kinds through `calls` random calls: block sizes from 0 to
// beyond a hop, new settings now and then, the rate and the oversampling
// switch moved among the three paths. Returns the two output streams.
void driveSideBySide(Pair &pair, uint32_t seed, int calls, bool noise)
{
    std::mt19937 gen(seed);
    const int rates[] = {48000, 44100, 96000, 63999, 45000, 22050};
    std::uniform_int_distribution<int> pickRate(0, 5), sizeKind(0, 9), small(0, 300), large(0, 9000),
        coin(0, 99);
    PeqParams p = randomSettings(gen, 48000, 1, noise);
    LintaqSetPar(pair.plain.get(), &p);
    LintaqSetPar(pair.smooth.get(), &p);
    const int channels = pair.stereo ? 2 : 1;
    for (int c = 0; c < calls; ++c) {
        const int kind = sizeKind(gen);
        const int n = kind == 0 ? 0 : kind < 8 ? small(gen) : large(gen);
        if (coin(gen) < 6) {
            p = randomSettings(gen, p.sampleRate, p.oversample, noise);
            LintaqSetPar(pair.plain.get(), &p);
            LintaqSetPar(pair.smooth.get(), &p);
        }
        if (coin(gen) < 3) {
            p.sampleRate = rates[pickRate(gen)];
            p.oversample = uint32_t(coin(gen) < 70);
            LintaqSetPar(pair.plain.get(), &p);
            LintaqSetPar(pair.smooth.get(), &p);
        }
        const size_t pos = pair.plainOut[0].size();
        Channels block(size_t(channels), test::randomSignal(size_t(n), seed * 1000u + uint32_t(c)));
        if (channels == 2)
            block[1] = test::randomSignal(size_t(n), seed * 1000u + uint32_t(c) + 7u, 0.5f);
        for (int ch = 0; ch < channels; ++ch) {
            pair.plainOut[size_t(ch)].insert(pair.plainOut[size_t(ch)].end(), block[size_t(ch)].begin(),
                                             block[size_t(ch)].end());
            pair.smoothOut[size_t(ch)].insert(pair.smoothOut[size_t(ch)].end(), block[size_t(ch)].begin(),
                                              block[size_t(ch)].end());
        }
        // A stereo instance now and then gets a mono call, which shares
        // channel 0 and the framing.
        const bool stereoCall = pair.stereo && coin(gen) >= 8;
        // The noise sequence is process-wide: each kind must draw the
        // same stretch for the same frame, so each starts from where the
        // other started.
        const uint32_t before = lintaq::peekNoiseState();
        pair.stereoCallAt.insert(pair.stereoCallAt.end(), size_t(n), stereoCall);
        feed(pair.plain.get(), pair.plainOut, pos, n, stereoCall);
        const uint32_t plainAfter = lintaq::peekNoiseState();
        lintaq::pokeNoiseState(before);
        feed(pair.smooth.get(), pair.smoothOut, pos, n, stereoCall);
        ASSERT_EQ(lintaq::peekNoiseState(), plainAfter) << "call " << c;
    }
}

// Channel 0 always; the right channel where both the plain call at t and
// the even-load call at t + one hop were stereo calls. Where only the
// later call was, the even-load instance gives silence.
::testing::AssertionResult isPlainOneHopLater(const Pair &pair)
{
    const size_t length = pair.plainOut[0].size();
    if (length <= size_t(kSmoothDelay))
        return ::testing::AssertionFailure() << "stream too short";
    for (size_t ch = 0; ch < pair.plainOut.size(); ++ch) {
        const std::vector<float> &plain = pair.plainOut[ch], &smooth = pair.smoothOut[ch];
        for (size_t t = 0; t < size_t(kSmoothDelay); ++t)
            if (smooth[t] != 0.0f && (ch == 0 || pair.stereoCallAt[t]))
                return ::testing::AssertionFailure() << "channel " << ch << " not silent at " << t;
        for (size_t t = 0; t + kSmoothDelay < length; ++t) {
            const float later = smooth[t + kSmoothDelay];
            const bool compared = ch == 0 || (pair.stereoCallAt[t] && pair.stereoCallAt[t + kSmoothDelay]);
            const bool silent = ch == 1 && !pair.stereoCallAt[t] && pair.stereoCallAt[t + kSmoothDelay];
            if ((compared && test::firstMismatch(&plain[t], &later, 1) == 0) || (silent && later != 0.0f))
                return ::testing::AssertionFailure() << "channel " << ch << " differs at plain sample " << t << " of "
                                                     << length << ": " << plain[t] << " against " << later;
        }
    }
    return ::testing::AssertionSuccess();
}

struct Case {
    int mode;
    bool stereo;
    bool noise;
    bool plainLoops = false; // the plain kernel set instead of the fastest
};

class SideBySide : public ::testing::TestWithParam<Case> {};

TEST_P(SideBySide, SmoothOutputIsThePlainOutputOneHopLater)
{
    const Case c = GetParam();
    test::NoiseStateGuard guard;
    const lintaq::KernelSet before = lintaq::activeKernelSet();
    if (c.plainLoops)
        lintaq::forceKernelSet(lintaq::KernelSet::plain);
    for (uint32_t seed = 1; seed <= (c.plainLoops ? 1u : 3u); ++seed) {
        Pair pair{test::Instance(LintaqInit(c.mode, c.stereo)), test::Instance(LintaqInitSmooth(c.mode, c.stereo)),
                  c.stereo, Channels(c.stereo ? 2 : 1), Channels(c.stereo ? 2 : 1), {}};
        driveSideBySide(pair, seed + uint32_t(c.mode) * 10u, 260, c.noise);
        EXPECT_TRUE(isPlainOneHopLater(pair)) << "seed " << seed;
    }
    lintaq::forceKernelSet(before);
}

INSTANTIATE_TEST_SUITE_P(Kinds, SideBySide,
                         ::testing::Values(Case{3, false, false}, Case{3, true, false}, Case{3, true, true},
                                           Case{2, false, true}, Case{1, true, false}, Case{0, true, true},
                                           Case{3, true, true, true}),
                         [](const ::testing::TestParamInfo<Case> &param) {
                             return "mode" + std::to_string(param.param.mode) +
                                    (param.param.stereo ? "_stereo" : "_mono") +
                                    (param.param.noise ? "_noise" : "") + (param.param.plainLoops ? "_plain" : "");
                         });

} // namespace
