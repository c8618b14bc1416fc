// The CLAP plugins, loaded by their entry point as a DAW loads them: what
// is particular to CLAP (what every format must do is in
// test_plugin_formats.cpp).
#include <cstdlib>

#include "clap_host.h"
#include "plugin_expect.h"

namespace ptest {
namespace {

constexpr Variant kBoth[] = {Variant::mono, Variant::stereo};

// Hosts store the plugin's id in their sessions.
TEST(ClapPlugin, EachVariantKeepsItsPermanentId)
{
    for (Variant v : kBoth) {
        ClapModule module(clapPath(v));
        EXPECT_EQ(ClapInstance(module).id, v == Variant::stereo ? "org.lintaq.eq.stereo" : "org.lintaq.eq.mono");
    }
}

// Quality and the even-load switch both change the latency (the numbers
// and the impulse are checked for every format in test_plugin_formats.cpp);
// a CLAP plugin must also ask the host for a restart.
TEST(ClapPlugin, LatencyChangeWhileRunningAsksTheHostForARestart)
{
    for (const auto &[param, value] : {std::pair{kQuality, 3.0f}, std::pair{kEvenLoad, 0.0f}}) {
        ClapModule module(clapPath(Variant::stereo));
        ClapInstance p(module);
        ASSERT_NE(p.plugin, nullptr);
        ASSERT_TRUE(p.activate(48000));
        Channels io = impulse(2, 4096, 0);
        p.process(io, 256);
        p.restartRequested = false;
        p.set(param, value);
        p.process(io, 256);
        EXPECT_TRUE(p.restartRequested) << paramSymbol(param);
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
