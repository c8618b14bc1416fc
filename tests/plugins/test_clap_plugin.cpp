// The CLAP plugins, loaded by their entry point as a DAW loads them.
#include <cstdlib>

#include "clap_host.h"
#include "plugin_expect.h"

namespace ptest {
namespace {

std::string clapPath(Variant v)
{
    return std::string(LINTAQ_CLAP_DIR) + (v == Variant::stereo ? "/lintaq-stereo.clap" : "/lintaq-mono.clap");
}

constexpr Variant kBoth[] = {Variant::mono, Variant::stereo};

// Runs `length` samples of the test signal through a fresh instance with
// the values set by events in the first block.
Channels runClap(Variant v, const Values &x, double rate, const Channels &input, uint32_t block)
{
    ClapModule module(clapPath(v));
    ClapInstance p(module);
    EXPECT_NE(p.plugin, nullptr);
    if (p.plugin == nullptr || !p.activate(rate))
        return {};
    Channels io = input;
    p.setAll(x);
    p.process(io, block);
    return io;
}

TEST(ClapPlugin, ListsEveryParameterWithItsPermanentIdAndRange)
{
    for (Variant v : kBoth) {
        ClapModule module(clapPath(v));
        ClapInstance p(module);
        ASSERT_NE(p.plugin, nullptr) << clapPath(v);
        EXPECT_EQ(p.id, v == Variant::stereo ? "org.lintaq.eq.stereo" : "org.lintaq.eq.mono");
        ASSERT_EQ(p.params->count(p.plugin), kParamCount);
        for (uint32_t i = 0; i < kParamCount; ++i) {
            clap_param_info_t info{};
            ASSERT_TRUE(p.params->get_info(p.plugin, i, &info));
            EXPECT_EQ(info.id, i) << "ids are the table's indices, which hosts store";
            EXPECT_NE(info.name[0], '\0');
            if (i == kBypass) {
                EXPECT_NE(info.flags & CLAP_PARAM_IS_BYPASS, 0u);
                continue;
            }
            const Range r = paramRange(v, i);
            EXPECT_EQ(info.min_value, r.min) << info.name;
            EXPECT_EQ(info.max_value, r.max) << info.name;
            EXPECT_EQ(info.default_value, r.def) << info.name;
            EXPECT_EQ((info.flags & CLAP_PARAM_IS_STEPPED) != 0, r.kind == Kind::enumeration || r.kind == Kind::toggle)
                << info.name;
            EXPECT_NE(info.flags & CLAP_PARAM_IS_AUTOMATABLE, 0u) << info.name;
        }
    }
}

TEST(ClapPlugin, OutputEqualsTheLibrarysBitForBit)
{
    for (Variant v : kBoth)
        for (int rate : {44100, 48000}) {
            Values x = busy(v, 3);
            x[kOversample] = rate == 44100 ? 1.0f : 0.0f;
            x[kEvenLoad] = v == Variant::mono && rate == 48000 ? 0.0f : 1.0f; // both kinds of engine
            const Channels in = testSignal(channelsOf(v), static_cast<size_t>(modeLatency(3)) + 9000, 100, rate);
            // An odd block size, so blocks never line up with the engine's hops.
            expectSameBits(runClap(v, x, rate, in, 1000 - 3), libraryOutput(x, rate, in), "busy setting");
        }
}

TEST(ClapPlugin, ImpulsePeaksAtTheReportedLatencyInEveryMode)
{
    for (int mode = 0; mode < kModeCount; ++mode)
        for (bool evenLoad : {false, true}) {
            const int rate = mode % 2 ? 44100 : 48000;
            ClapModule module(clapPath(Variant::stereo));
            ClapInstance p(module);
            ASSERT_NE(p.plugin, nullptr);
            Values x = defaults(Variant::stereo);
            x[kQuality] = static_cast<float>(mode);
            x[kEvenLoad] = evenLoad ? 1.0f : 0.0f;
            x[bandParam(4, kEnable)] = LINTAQ_BOTH; // a gentle bell keeps the peak where it is
            x[bandParam(4, kGain)] = 3;
            p.setAll(x);
            p.flush();
            ASSERT_TRUE(p.activate(rate));
            const uint32_t latency = p.reportedLatency();
            EXPECT_EQ(latency, static_cast<uint32_t>(modeLatency(mode, evenLoad))) << "mode " << mode;
            if (evenLoad) {
                EXPECT_EQ(latency, static_cast<uint32_t>(modeLatency(mode, false)) + 2048) << "mode " << mode;
            }
            Channels io = impulse(2, latency + 3000, 0);
            p.process(io, 512);
            EXPECT_EQ(peakIndex(io[0]), latency) << "mode " << mode;
            EXPECT_EQ(peakIndex(io[1]), latency) << "mode " << mode;
        }
}

// Quality and the even-load switch both change the latency; either goes to
// a fresh instance, so an impulse sent after the switch comes out exactly
// at the new latency.
TEST(ClapPlugin, LatencyChangeWhileRunningTellsTheHostTheNewLatency)
{
    struct Switch {
        uint32_t param;
        float value;
        int newLatency;
    };
    for (const Switch &sw : {Switch{kQuality, 3, modeLatency(3)},
                             Switch{kEvenLoad, 0, modeLatency(kDefaultMode, false)}}) {
        ClapModule module(clapPath(Variant::stereo));
        ClapInstance p(module);
        ASSERT_NE(p.plugin, nullptr);
        ASSERT_TRUE(p.activate(48000));
        Channels warm = impulse(2, 4096, 0);
        p.process(warm, 256);
        EXPECT_EQ(p.reportedLatency(), static_cast<uint32_t>(modeLatency(kDefaultMode)));
        p.restartRequested = false;
        p.set(sw.param, sw.value);
        Channels after = impulse(2, static_cast<size_t>(sw.newLatency) + 2000, 0);
        p.process(after, 256);
        EXPECT_EQ(p.reportedLatency(), static_cast<uint32_t>(sw.newLatency)) << paramSymbol(sw.param);
        EXPECT_TRUE(p.restartRequested) << "a CLAP plugin must ask for a restart to change its latency";
        EXPECT_EQ(peakIndex(after[0]), static_cast<size_t>(sw.newLatency)) << paramSymbol(sw.param);
    }
}

TEST(ClapPlugin, SavedStateRestoresEveryParameterAndTheOutput)
{
    for (Variant v : kBoth) {
        const Values x = busy(v, 3);
        std::vector<uint8_t> saved;
        {
            ClapModule module(clapPath(v));
            ClapInstance a(module);
            ASSERT_NE(a.plugin, nullptr);
            a.setAll(x);
            a.flush();
            saved = a.save();
            ASSERT_FALSE(saved.empty());
        }
        ClapModule module(clapPath(v));
        ClapInstance b(module);
        ASSERT_NE(b.plugin, nullptr);
        ASSERT_TRUE(b.load(saved));
        for (uint32_t i = 0; i < kParamCount; ++i) {
            double value = 0;
            ASSERT_TRUE(b.params->get_value(b.plugin, i, &value));
            EXPECT_EQ(static_cast<float>(value), x[i]) << paramSymbol(i);
        }
        ASSERT_TRUE(b.activate(48000));
        Channels io = testSignal(channelsOf(v), static_cast<size_t>(modeLatency(3)) + 5000, 10, 48000);
        const Channels want = libraryOutput(x, 48000, io);
        b.process(io, 700);
        expectSameBits(io, want, "after loading the state");
    }
}

TEST(ClapPlugin, BypassPassesTheInputDelayedByTheLatency)
{
    for (Variant v : kBoth) {
        Values x = busy(v, 3);
        x[kBypass] = 1;
        x[kTrim] = -6; // the trim is bypassed too
        const Channels in = testSignal(channelsOf(v), static_cast<size_t>(modeLatency(3)) + 5000, 0, 48000);
        expectSameBits(runClap(v, x, 48000, in, 512), delayed(in, static_cast<size_t>(modeLatency(3))), "bypassed");
    }
}

// Sample-accurate automation is not wanted: a block full of changes takes
// effect once, at its start, with the last value of each parameter (a
// plugin that split blocks at events would redesign once per event and
// give other output).
TEST(ClapPlugin, ManyEventsInOneBlockTakeEffectOnceAtItsStart)
{
    Values x = busy(Variant::stereo, 3);
    const Channels in = testSignal(2, static_cast<size_t>(modeLatency(3)) + 6000, 0, 48000);
    const uint32_t block = 1024;
    ClapModule module(clapPath(Variant::stereo));
    ClapInstance p(module);
    ASSERT_NE(p.plugin, nullptr);
    ASSERT_TRUE(p.activate(48000));
    p.setAll(x);
    Channels first(2), second(2);
    for (size_t c = 0; c < 2; ++c) {
        first[c].assign(in[c].begin(), in[c].begin() + block);
        second[c].assign(in[c].begin() + block, in[c].end());
    }
    p.process(first, block);
    for (uint32_t t = 0; t < 200; ++t) { // a sweep of a band's gain across the second block
        p.set(bandParam(4, kGain), -12.0f + 0.1f * static_cast<float>(t), t * 5);
        p.set(bandParam(4, kFreq), 500.0f + static_cast<float>(t), t * 5);
    }
    p.process(second, block);

    PeqInstance *e = newEngine(3, x[kEvenLoad] > 0.5f, true);
    PeqParams pp = engineParams(x, 48000);
    Channels want = in;
    LintaqSetPar(e, &pp);
    LintaqProcST(e, want[0].data(), want[1].data(), static_cast<int>(block));
    pp.gain[4] = -12.0f + 0.1f * 199.0f;
    pp.freq[4] = 500.0f + 199.0f;
    LintaqSetPar(e, &pp);
    LintaqProcST(e, want[0].data() + block, want[1].data() + block, static_cast<int>(in[0].size() - block));
    LintaqExit(e);
    Channels got = first;
    for (size_t c = 0; c < 2; ++c)
        got[c].insert(got[c].end(), second[c].begin(), second[c].end());
    expectSameBits(got, want, "a block of 400 events");
}

TEST(ClapPlugin, TrimScalesTheEnginesOutput)
{
    Values x = busy(Variant::stereo, 3);
    x[kTrim] = -6;
    const Channels in = testSignal(2, static_cast<size_t>(modeLatency(3)) + 3000, 0, 48000);
    const Channels got = runClap(Variant::stereo, x, 48000, in, 512);
    const Channels engine = libraryOutput(x, 48000, in);
    const float gain = std::pow(10.0f, -6.0f / 20.0f);
    ASSERT_EQ(got.size(), 2u);
    for (size_t c = 0; c < 2; ++c)
        for (size_t i = 512; i < in[c].size(); ++i) // the first block ramps from 0 dB
            ASSERT_NEAR(got[c][i], engine[c][i] * gain, 1e-6f) << "sample " << i;
}

// Windowed RMS and peak of a steady sine through a band near the top,
// switching oversampling on halfway.
struct Levels {
    std::vector<double> rms, peak;
};
Levels windowLevels(const std::vector<float> &x, size_t from, size_t window)
{
    Levels l;
    for (size_t w = from; w + window <= x.size(); w += window) {
        double sum = 0, peak = 0;
        for (size_t i = w; i < w + window; ++i) {
            sum += double(x[i]) * x[i];
            peak = std::max(peak, std::fabs(double(x[i])));
        }
        l.rms.push_back(std::sqrt(sum / static_cast<double>(window)));
        l.peak.push_back(peak);
    }
    return l;
}

TEST(ClapPlugin, OversamplingSwitchIsAGaplessCrossfadeWithoutOvershoot)
{
    const int rate = 48000, latency = modeLatency(3);
    Values x = defaults(Variant::stereo);
    x[kQuality] = 3;
    x[bandParam(9, kEnable)] = LINTAQ_BOTH;
    x[bandParam(9, kFreq)] = 15000; // high enough that oversampling changes the level
    x[bandParam(9, kGain)] = 6;
    const size_t before = static_cast<size_t>(latency) + 12000, after = 3 * static_cast<size_t>(latency) + 16000;
    const size_t window = 480;
    Channels sine(2, std::vector<float>(before + after));
    for (auto &ch : sine)
        for (size_t i = 0; i < ch.size(); ++i)
            ch[i] = static_cast<float>(0.3 * std::sin(2 * std::numbers::pi * 11000.0 * double(i) / rate));

    ClapModule module(clapPath(Variant::stereo));
    ClapInstance p(module);
    ASSERT_NE(p.plugin, nullptr);
    p.setAll(x);
    p.flush();
    ASSERT_TRUE(p.activate(rate));
    Channels first(2), second(2);
    for (int c = 0; c < 2; ++c) {
        first[c].assign(sine[c].begin(), sine[c].begin() + static_cast<long>(before));
        second[c].assign(sine[c].begin() + static_cast<long>(before), sine[c].end());
    }
    p.process(first, 512);
    p.set(kOversample, 1);
    p.process(second, 512);
    std::vector<float> out = first[0];
    out.insert(out.end(), second[0].begin(), second[0].end());

    const Levels l = windowLevels(out, static_cast<size_t>(latency) + 4096, window);
    const double rmsBefore = l.rms.front(), rmsAfter = l.rms.back();
    const double peakSteady = std::max(l.peak.front(), l.peak.back());
    ASSERT_GT(std::fabs(rmsAfter - rmsBefore), 1e-3 * rmsBefore) << "the band must sound different with oversampling";
    for (size_t w = 0; w < l.rms.size(); ++w) {
        EXPECT_GE(l.rms[w], 0.995 * std::min(rmsBefore, rmsAfter)) << "a gap in window " << w;
        EXPECT_LE(l.peak[w], 1.005 * peakSteady) << "overshoot in window " << w;
    }

    // The same switch made on a running engine dips: the test can see it.
    PeqInstance *e = newEngine(3, x[kEvenLoad] > 0.5f, true);
    PeqParams pp = engineParams(x, rate);
    LintaqSetPar(e, &pp);
    Channels direct = sine;
    LintaqProcST(e, direct[0].data(), direct[1].data(), static_cast<int>(before));
    pp.oversample = 1;
    LintaqSetPar(e, &pp);
    LintaqProcST(e, direct[0].data() + before, direct[1].data() + before, static_cast<int>(after));
    LintaqExit(e);
    const Levels d = windowLevels(direct[0], static_cast<size_t>(latency) + 4096, window);
    EXPECT_LT(*std::min_element(d.rms.begin(), d.rms.end()), 0.9 * rmsBefore);
}

// DPF 1.6 tells the host of a latency change through the host's latency
// extension without checking that the host offers one.
TEST(ClapPluginDeathTest, HostWithoutLatencyExtensionSurvivesAQualityChange)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            ClapModule module(clapPath(Variant::stereo));
            {
                ClapInstance p(module, false);
                if (p.plugin == nullptr || !p.activate(48000))
                    std::exit(3);
                Channels io = impulse(2, 2048, 0);
                p.process(io, 256);
                p.set(kQuality, 3);
                p.process(io, 256);
                p.deactivate();
                p.set(kQuality, 0);
                p.flush();
                if (!p.activate(44100))
                    std::exit(4);
                p.process(io, 256);
            }
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

} // namespace
} // namespace ptest
