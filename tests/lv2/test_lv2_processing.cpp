// The plugin driven in-process through liblilv: what it gives out against
// the library's own output, how it treats bad controls and samples, its
// latency report, quality-mode changes and restarts.
//
// Where outputs are compared exactly: the plugin hands the engine the very
// samples and parameter block the reference gets, and the engine's output
// does not depend on how a stream is cut into blocks, so any difference at
// all is a fault, not rounding.
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "lv2_support.h"

namespace {

using namespace lv2test;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

int modeLatency(int mode)
{
    PeqInstance *e = LintaqInit(mode, 0);
    const int latency = LintaqGetLatency(e);
    LintaqExit(e);
    return latency;
}

// Index of the first difference, or -1.
long firstDifference(const std::vector<float> &a, const std::vector<float> &b, size_t from = 0)
{
    if (a.size() != b.size())
        return 0;
    for (size_t i = from; i < a.size(); ++i)
        if (!(a[i] == b[i]))
            return static_cast<long>(i);
    return -1;
}

bool allFinite(const Channels &ch)
{
    for (const auto &c : ch)
        for (float x : c)
            if (!std::isfinite(x))
                return false;
    return true;
}

std::vector<float *> pointers(Channels &ch, size_t pos)
{
    std::vector<float *> p;
    for (auto &c : ch)
        p.push_back(c.data() + pos);
    return p;
}

// Long enough for the latency of mode 3 and a stretch of equalised audio.
constexpr int kFrames = 8266 + 12000;

class ByChannels : public testing::TestWithParam<int> {
protected:
    int channels() const { return GetParam(); }
    const char *uri() const { return channels() == 2 ? kStereoUri : kMonoUri; }
};

TEST_P(ByChannels, OutputIsTheLibrarysForAnyBlockSplitAndBufferLayout)
{
    const Settings s = twelveBands(channels() == 2);
    const Channels input = testSignal(channels(), kFrames);
    const Channels want = libraryOutput(toParams(s), s.quality, input);
    // Single frames as lv2apply gives them, odd sizes straddling the hop,
    // and blocks longer than a hop; separate buffers.
    const std::vector<std::vector<uint32_t>> splits = {{1}, {7, 1024, 333, 4096, 64, 2049}, {8192}};
    for (const auto &blocks : splits) {
        Runner r(uri());
        ASSERT_TRUE(r.ok());
        r.apply(s);
        r.activate();
        const Channels got = runInBlocks(r, input, blocks);
        for (int c = 0; c < channels(); ++c)
            EXPECT_EQ(firstDifference(got[c], want[c]), -1) << "channel " << c << ", first block " << blocks[0];
    }
    // In place, and in stereo also crossed (the right input's buffer as the
    // left output and the other way round): every input must be read
    // before its buffer is written.
    for (bool crossed : {false, true}) {
        if (crossed && channels() == 1)
            continue;
        Runner r(uri());
        r.apply(s);
        r.activate();
        Channels buf = input;
        for (size_t pos = 0; pos < kFrames; pos += 1000) {
            const auto n = static_cast<uint32_t>(std::min<size_t>(1000, kFrames - pos));
            auto p = pointers(buf, pos);
            r.run(p, crossed ? std::vector<float *>{p[1], p[0]} : p, n);
            if (crossed)
                std::swap_ranges(p[0], p[0] + n, p[1]);
        }
        for (int c = 0; c < channels(); ++c)
            EXPECT_EQ(firstDifference(buf[c], want[c]), -1) << "channel " << c << (crossed ? " crossed" : " in place");
    }
}

TEST_P(ByChannels, SwitchesReachTheEngine)
{
    // Oversampling: exactly the library's oversampled output, which differs
    // from the plain one.
    Settings s = twelveBands(channels() == 2);
    s.oversample = true;
    const Channels input = testSignal(channels(), kFrames);
    const Channels want = libraryOutput(toParams(s), s.quality, input);
    s.oversample = false;
    ASSERT_NE(firstDifference(want[0], libraryOutput(toParams(s), s.quality, input)[0]), -1);
    s.oversample = true;
    Runner r(uri());
    r.apply(s);
    r.activate();
    const Channels got = runInBlocks(r, input, {512});
    for (int c = 0; c < channels(); ++c)
        EXPECT_EQ(firstDifference(got[c], want[c]), -1) << c;

    // Frame noise: with silence in, the output is exactly zero unless the
    // noise is added.
    const Channels silence(channels(), std::vector<float>(kFrames, 0.0f));
    for (bool noise : {false, true}) {
        Runner q(uri());
        q.set("noise", noise ? 1.0f : 0.0f);
        q.set("band5_enable", 1.0f);
        q.set("band5_gain", 12.0f);
        q.activate();
        const Channels out = runInBlocks(q, silence, {1024});
        bool anyNonZero = false;
        for (float x : out[0])
            anyNonZero = anyNonZero || x != 0.0f;
        EXPECT_EQ(anyNonZero, noise);
    }
}

TEST_P(ByChannels, NonFiniteSamplesBecomeSilenceAndLeaveNoTrace)
{
    const Settings s = twelveBands(channels() == 2);
    Channels input = testSignal(channels(), kFrames);
    Channels clean = input;
    const float bad[] = {kNaN, kInf, -kInf, -kNaN};
    for (int c = 0; c < channels(); ++c) {
        for (int i : {0, 1, 2, 500, 2047, 2048, 6000, 9000, 9001, 15000}) {
            input[c][i + c] = bad[(i + c) % 4];
            clean[c][i + c] = 0.0f;
        }
    }
    const Channels want = libraryOutput(toParams(s), s.quality, clean);
    Runner r(uri());
    r.apply(s);
    r.activate();
    const Channels got = runInBlocks(r, input, {100, 3000});
    EXPECT_TRUE(allFinite(got));
    for (int c = 0; c < channels(); ++c)
        EXPECT_EQ(firstDifference(got[c], want[c]), -1) << c;
}

// Hostile values and what the plugin must make of them, stated here from
// the port ranges: NaN takes the default, the rest is held to the range.
struct Hostile {
    const char *symbol;
    float value;
};

Settings applyExpectedClamping(Settings s, bool stereo)
{
    s.bands[0].gain = 0.0f;       // NaN gain: default 0 dB
    s.bands[1].freq = 24000.0f;   // +inf frequency: maximum
    s.bands[2].freq = 10.0f;      // -inf frequency: minimum
    s.bands[3].q = 20.0f;         // +inf Q: maximum
    s.bands[4].q = 1.0f;          // NaN Q of a peak band: default 1
    s.bands[5].q = 0.1f;          // negative Q: minimum
    s.bands[6].gain = 24.0f;      // 1e9 dB: maximum
    s.bands[7].gain = -24.0f;     // -inf dB: minimum
    s.bands[8].type = LINTAQ_LOW_PASS; // type 9: highest type
    s.bands[9].type = LINTAQ_PEAK;     // NaN type: band 10's default, a peak
    s.bands[10].type = LINTAQ_HIGH_PASS; // 2.6 rounds to 3
    s.bands[4].freq = 700.0f;     // NaN frequency: band 5's default
    s.bands[11].enable = stereo ? LINTAQ_SIDE : 1; // 99: highest routing
    return s;
}

const std::vector<Hostile> kHostile = {
    {"band1_gain", kNaN},  {"band2_freq", kInf}, {"band3_freq", -kInf}, {"band4_q", kInf},
    {"band5_q", kNaN},     {"band6_q", -1.0f},   {"band7_gain", 1e9f},  {"band8_gain", -kInf},
    {"band9_type", 9.0f},  {"band10_type", kNaN}, {"band11_type", 2.6f}, {"band5_freq", kNaN},
    {"band12_enable", 99.0f}, {"oversample", kNaN}, {"noise", -kInf},
};

TEST_P(ByChannels, HostileControlsAreHeldToTheirRangesAndLeaveNoTrace)
{
    const bool stereo = channels() == 2;
    const Settings sane = twelveBands(stereo);
    const Channels input = testSignal(channels(), kFrames);
    constexpr int kSwitch = 6144; // a block boundary, mid-stream

    // Reference: the settings as the plugin must clamp them, then the sane
    // ones at the same point; the plugin gets the hostile values, then the
    // sane ones. Equal to the bit in both stretches.
    Channels want = input;
    PeqInstance *e = LintaqInit(3, stereo ? 1 : 0);
    const PeqParams hostileParams = toParams(applyExpectedClamping(sane, stereo));
    const PeqParams saneParams = toParams(sane);
    LintaqSetPar(e, &hostileParams);
    auto proc = [&](int from, int n) {
        if (stereo)
            LintaqProcST(e, want[0].data() + from, want[1].data() + from, n);
        else
            LintaqProc(e, want[0].data() + from, n);
    };
    proc(0, kSwitch);
    LintaqSetPar(e, &saneParams);
    proc(kSwitch, kFrames - kSwitch);
    LintaqExit(e);

    Runner r(uri());
    r.apply(sane);
    for (const Hostile &h : kHostile)
        r.set(h.symbol, h.value);
    r.activate();
    Channels in = input, got(channels(), std::vector<float>(kFrames));
    r.run(pointers(in, 0), pointers(got, 0), kSwitch);
    r.apply(sane);
    r.run(pointers(in, kSwitch), pointers(got, kSwitch), kFrames - kSwitch);
    EXPECT_TRUE(allFinite(got));
    for (int c = 0; c < channels(); ++c)
        EXPECT_EQ(firstDifference(got[c], want[c]), -1) << c;
}

INSTANTIATE_TEST_SUITE_P(MonoAndStereo, ByChannels, testing::Values(1, 2),
                         [](const auto &p) { return p.param == 1 ? "Mono" : "Stereo"; });

TEST(Controls, QualityOutOfRangeIsHeldToTheNearestMode)
{
    const struct {
        float value;
        int mode;
    } cases[] = {{-7.0f, 0}, {99.0f, 3}, {kInf, 3}, {-kInf, 0}, {kNaN, 2}, {1.4f, 1}, {1.6f, 2}};
    for (const auto &c : cases) {
        Runner r(kMonoUri);
        r.set("quality", c.value);
        r.activate();
        Channels x(1, std::vector<float>(16, 0.0f));
        runInBlocks(r, x, {16});
        EXPECT_EQ(r.latency(), static_cast<float>(modeLatency(c.mode))) << c.value;
    }
}

// The impulse response of a linear-phase setting is symmetric about its
// peak, which lies exactly at the latency.
long peakPosition(const std::vector<float> &x)
{
    long best = 0;
    for (size_t i = 1; i < x.size(); ++i)
        if (std::fabs(x[i]) > std::fabs(x[static_cast<size_t>(best)]))
            best = static_cast<long>(i);
    return best;
}

void checkImpulseAtLatency(const char *uri, double rate, int quality, bool oversample)
{
    SCOPED_TRACE(std::string(uri) + " rate " + std::to_string(rate) + " quality " +
                 std::to_string(quality) + (oversample ? " oversampled" : ""));
    Runner r(uri, rate);
    ASSERT_TRUE(r.ok());
    r.set("quality", static_cast<float>(quality));
    r.set("oversample", oversample ? 1.0f : 0.0f);
    r.set("band6_enable", 1.0f);
    r.set("band6_gain", 9.0f);
    r.set("band6_q", 2.0f);
    r.activate();
    constexpr int kAt = 300;
    const int frames = modeLatency(quality) + 4000;
    Channels x(static_cast<size_t>(r.channels()), std::vector<float>(static_cast<size_t>(frames), 0.0f));
    for (auto &c : x)
        c[kAt] = 0.5f;
    const Channels y = runInBlocks(r, x, {512});
    EXPECT_EQ(r.latency(), static_cast<float>(modeLatency(quality)));
    for (const auto &c : y)
        EXPECT_EQ(peakPosition(c) - kAt, static_cast<long>(r.latency()));
}

TEST(Latency, PortMatchesTheImpulsePosition)
{
    for (int q = 0; q <= 3; ++q)
        checkImpulseAtLatency(kStereoUri, 48000, q, false);
    checkImpulseAtLatency(kMonoUri, 48000, 3, false);
    // Oversampled: each rate takes a different double-rate path in the engine.
    for (double rate : {44100.0, 48000.0, 96000.0})
        checkImpulseAtLatency(kStereoUri, rate, 3, true);
}

// Runs `n` frames of `input` from `pos` through the runner in one call.
void runSpan(Runner &r, Channels &in, Channels &out, size_t pos, uint32_t n)
{
    r.run(pointers(in, pos), pointers(out, pos), n);
}

TEST(ModeChange, NewModeStartsFreshAtItsLatency)
{
    const Settings s = twelveBands(true);
    constexpr size_t kSwitch = 10240;
    const int newLatency = modeLatency(1);
    const size_t total = kSwitch + static_cast<size_t>(newLatency) + 8000;
    Channels input = testSignal(2, static_cast<int>(total));
    Channels out(2, std::vector<float>(total, -1.0f));

    Runner r(kStereoUri);
    r.apply(s);
    r.activate();
    runSpan(r, input, out, 0, kSwitch);
    EXPECT_EQ(r.latency(), static_cast<float>(modeLatency(3)));
    r.set("quality", 1.0f);
    runSpan(r, input, out, kSwitch, 1);
    EXPECT_EQ(r.latency(), static_cast<float>(newLatency)) << "reported in the call that switches";
    runSpan(r, input, out, kSwitch + 1, static_cast<uint32_t>(total - kSwitch - 1));

    // What a fresh mode-1 engine makes of the input from the switch on.
    Channels tail(2);
    for (int c = 0; c < 2; ++c)
        tail[c].assign(input[c].begin() + kSwitch, input[c].end());
    PeqParams p = toParams(s);
    const Channels want = libraryOutput(p, 1, tail);
    // Equal to the bit, so nothing of the audio before the switch comes
    // out; before the new latency there is only the start of the new
    // input's linear-phase response (its pre-ringing).
    for (int c = 0; c < 2; ++c) {
        const std::vector<float> got(out[c].begin() + kSwitch, out[c].end());
        EXPECT_EQ(firstDifference(got, want[c]), -1) << c;
    }
}

TEST(ModeChange, ReturningToALeftModeNeverReplaysItsOldAudio)
{
    // 3 -> 2 -> 3 in quick succession. The mode-3 instance still holds the
    // audio it had when it was left; going back must not play that again.
    const Settings s = twelveBands(true);
    const int lat3 = modeLatency(3), lat2 = modeLatency(2);
    constexpr uint32_t kBlock = 256;
    const size_t total = 60000;
    Channels input = testSignal(2, static_cast<int>(total));
    Channels out(2, std::vector<float>(total, -1.0f));
    Runner r(kStereoUri);
    r.apply(s);
    r.activate();
    size_t pos = 0;
    auto block = [&] {
        runSpan(r, input, out, pos, kBlock);
        pos += kBlock;
    };
    while (pos < 12288)
        block();
    const size_t leftAt = pos;
    r.set("quality", 2.0f);
    block();
    EXPECT_EQ(r.latency(), static_cast<float>(lat2));
    r.set("quality", 3.0f);
    size_t backAt = 0;
    while (pos + kBlock <= total && backAt == 0) {
        const size_t at = pos;
        block();
        if (r.latency() == static_cast<float>(lat3))
            backAt = at;
    }
    ASSERT_NE(backAt, 0u) << "never returned to mode 3";
    // The wait is bounded: twice the left instance's latency (the flush),
    // rounded up to whole blocks.
    EXPECT_LE(backAt - leftAt, static_cast<size_t>(2 * lat3 + 2 * kBlock));
    while (pos + kBlock <= total)
        block();

    // After the return: what a fresh mode-3 engine makes of the input from
    // the return on. Not to the bit: the returning instance cuts the stream
    // into frames at other points than a fresh one, which moves roundings by
    // a few ulps of the +-0.5 signal (6e-8 each), and its bands' state
    // has decayed for over 16000 samples at time constants of a few ms. A
    // replay of the old audio (about -10 dBFS) or a flush cut short (a
    // latency alone leaves -30 dB of it) would be far above 1e-6.
    Channels tail(2);
    for (int c = 0; c < 2; ++c)
        tail[c].assign(input[c].begin() + static_cast<long>(backAt), input[c].begin() + static_cast<long>(pos));
    const Channels want = libraryOutput(toParams(s), 3, tail);
    for (int c = 0; c < 2; ++c) {
        double worst = 0;
        for (size_t i = 0; i < want[c].size(); ++i)
            worst = std::max(worst, std::fabs(double(out[c][backAt + i]) - want[c][i]));
        EXPECT_LE(worst, 1e-6) << c;
    }
}

TEST(Lifecycle, ActivateAfterUseStartsFromSilence)
{
    const Settings s = twelveBands(true);
    const Channels input = testSignal(2, kFrames);
    const Channels want = libraryOutput(toParams(s), 3, input);
    Runner r(kStereoUri);
    r.apply(s);
    r.activate();
    // Use two modes, so both instances hold audio.
    runInBlocks(r, testSignal(2, 9000, 7), {1000});
    r.set("quality", 1.0f);
    runInBlocks(r, testSignal(2, 9000, 8), {1000});
    r.deactivate();
    r.set("quality", 3.0f);
    r.activate();
    const Channels got = runInBlocks(r, input, {1000});
    for (int c = 0; c < 2; ++c)
        EXPECT_EQ(firstDifference(got[c], want[c]), -1) << c;
}

TEST(Lifecycle, InstantiateRefusesRatesTheEngineCannotTake)
{
    for (double rate : {0.0, -48000.0, 0.5, 3e9, std::nan("")}) {
        Runner r(kStereoUri, rate);
        EXPECT_FALSE(r.ok()) << rate;
    }
}

} // namespace
