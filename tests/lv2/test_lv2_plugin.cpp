// The bundle in-process through liblilv: its Turtle against the port table,
// its output against the library's, bad controls and samples, the latency
// report, quality-mode changes and restarts.
//
// Outputs are compared exactly: the plugin hands the engine the very
// samples and parameter block the reference gets, and the engine's output
// does not depend on how a stream is cut into blocks, so any difference is
// a fault, not rounding.
#include <set>

#include <gtest/gtest.h>
#include <lv2/port-props/port-props.h>

#include "lv2_support.h"
#include "port_table.h"

namespace {

using namespace lv2test;
using lintaq_lv2::Kind;

void expectSame(const Channels &got, const Channels &want, size_t from = 0, size_t to = SIZE_MAX)
{
    for (size_t c = 0; c < want.size(); ++c)
        for (size_t i = from; i < std::min(to, want[c].size()); ++i)
            if (!(got[c][i] == want[c][i])) {
                ADD_FAILURE() << "channel " << c << " first differs at " << i;
                break;
            }
}

TEST(Description, PortsRangesAndLatencyAgreeWithThePortTable)
{
    struct Nodes {
        std::vector<LilvNode *> all;
        LilvNode *operator()(const char *uri) { return all.emplace_back(lilv_new_uri(world(), uri)); }
        ~Nodes() { std::for_each(all.begin(), all.end(), lilv_node_free); }
    } node;
    LilvNode *control = node(LV2_CORE__ControlPort), *output = node(LV2_CORE__OutputPort);
    LilvNode *integer = node(LV2_CORE__integer), *enumeration = node(LV2_CORE__enumeration);
    LilvNode *toggled = node(LV2_CORE__toggled), *log = node(LV2_PORT_PROPS__logarithmic);
    for (auto v : {lintaq_lv2::Variant::mono, lintaq_lv2::Variant::stereo}) {
        const bool mono = v == lintaq_lv2::Variant::mono;
        const LilvPlugin *p = plugin(uriFor(mono ? 1 : 2));
        ASSERT_NE(p, nullptr);
        EXPECT_TRUE(lilv_plugin_verify(p));
        // Symbols written out here, not taken from the code, so a reordering shows.
        std::vector<std::string> sym = {"quality", "oversample", "noise", "latency"};
        for (int k = 1; k <= LINTAQ_BANDS; ++k)
            for (const char *f : {"enable", "type", "freq", "gain", "q"})
                sym.push_back("band" + std::to_string(k) + "_" + f);
        sym.insert(sym.end(), mono ? std::initializer_list<std::string>{"in", "out"}
                                   : std::initializer_list<std::string>{"in_l", "in_r", "out_l", "out_r"});
        ASSERT_EQ(lilv_plugin_get_num_ports(p), sym.size());
        std::vector<float> lo(sym.size()), hi(sym.size()), def(sym.size());
        lilv_plugin_get_port_ranges_float(p, lo.data(), hi.data(), def.data());
        for (uint32_t i = 0; i < sym.size(); ++i) {
            SCOPED_TRACE(sym[i]);
            const LilvPort *port = lilv_plugin_get_port_by_index(p, i);
            auto has = [&](const LilvNode *property) { return lilv_port_has_property(p, port, property); };
            EXPECT_EQ(lilv_node_as_string(lilv_port_get_symbol(p, port)), sym[i]);
            EXPECT_EQ(lilv_port_is_a(p, port, control), i < lintaq_lv2::kControlCount);
            EXPECT_EQ(lilv_port_is_a(p, port, output), sym[i] == "latency" || sym[i].starts_with("out"));
            if (i >= lintaq_lv2::kControlCount || i == lintaq_lv2::kLatency)
                continue;
            const lintaq_lv2::Range r = lintaq_lv2::controlRange(v, i);
            // The Turtle holds each float's shortest decimal, which reads back
            // as the same float: exact.
            EXPECT_EQ(lo[i], r.min);
            EXPECT_EQ(hi[i], r.max);
            EXPECT_EQ(def[i], r.def);
            EXPECT_TRUE(lo[i] < hi[i] && lo[i] <= def[i] && def[i] <= hi[i]);
            EXPECT_EQ(has(integer), r.kind != Kind::real);
            EXPECT_EQ(has(toggled), r.kind == Kind::toggle);
            EXPECT_EQ(has(enumeration), r.kind == Kind::enumeration);
            EXPECT_TRUE(!has(log) || lo[i] > 0) << "a log scale cannot reach zero";
            std::multiset<int> labelled, values;
            LilvScalePoints *points = lilv_port_get_scale_points(p, port);
            LILV_FOREACH (scale_points, it, points)
                labelled.insert(lilv_node_as_int(lilv_scale_point_get_value(lilv_scale_points_get(points, it))));
            lilv_scale_points_free(points);
            for (int x = int(r.min); r.kind == Kind::enumeration && x <= int(r.max); ++x)
                values.insert(x);
            EXPECT_EQ(labelled, values) << "one label for each enumerated value";
        }
        const LilvPort *latency = lilv_plugin_get_port_by_designation(p, output, node(LV2_CORE__latency));
        ASSERT_NE(latency, nullptr);
        EXPECT_EQ(lilv_port_get_index(p, latency), uint32_t(lintaq_lv2::kLatency));
        EXPECT_TRUE(lilv_port_has_property(p, latency, node(LV2_CORE__reportsLatency)));
    }
}

TEST(Lifecycle, InstantiatesAtRatesTheEngineTakesOnly)
{
    const std::pair<double, bool> cases[] = {{22050, true}, {192000, true}, {0, false},  {-48000, false},
                                             {0.5, false},  {3e9, false},   {kNaN, false}};
    for (auto [rate, ok] : cases)
        EXPECT_EQ(Runner(kStereoUri, rate).ok(), ok) << rate;
}

constexpr size_t kFrames = 8266 + 12000; // mode 3's latency and a stretch of audio

TEST(Processing, OutputIsTheLibrarysForAnySplitAndBufferLayout)
{
    // Hostile rows: hostile values and non-finite samples, then the sane
    // values from frame 6144 on; both stretches are the library's on the
    // tamed values and clean samples.
    const struct {
        const char *what;
        size_t channels;
        std::vector<size_t> blocks;
        Layout layout = Layout::separate;
        bool oversample = false, hostile = false;
        int rate = kRate;
    } cases[] = {
        {"frame by frame, as lv2apply", 1, {1}},
        {"frame by frame, as lv2apply", 2, {1}},
        {"odd sizes across hops", 1, {7, 1024, 333, 4096, 64, 2049}},
        {"odd sizes across hops", 2, {7, 1024, 333, 4096, 64, 2049}},
        {"in place", 1, {8192}, Layout::inPlace},
        {"in place", 2, {1000}, Layout::inPlace},
        {"crossed", 2, {1000}, Layout::crossed},
        {"oversampled", 1, {512}, Layout::separate, true},
        {"oversampled, another rate", 2, {512}, Layout::separate, true, false, 44100},
        {"hostile", 1, {2048, 1, 1023}, Layout::separate, false, true},
        {"hostile", 2, {2048, 1, 1023}, Layout::separate, false, true},
    };
    constexpr size_t kSane = 6144;
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.what) + ", channels " + std::to_string(c.channels));
        Controls s = busy(c.channels == 2, c.hostile ? 2 : 3);
        s["oversample"] = c.oversample;
        Channels input = testSignal(c.channels, kFrames), clean = c.hostile ? poison(input) : input;
        Runner r(uriFor(c.channels), c.rate);
        r.apply(c.hostile ? hostile(s, false) : s);
        const Channels got = runInBlocks(r, input, c.blocks, c.layout, [&](size_t pos) {
            if (pos == kSane)
                r.apply(s);
        });
        std::vector<std::pair<Controls, size_t>> parts = {{s, 0}};
        if (c.hostile)
            parts.insert(parts.begin(), {hostile(s, true), kSane});
        expectSame(got, libraryOutput(parts, clean, c.rate));
    }
}

TEST(Processing, NoiseSwitchReachesTheEngine)
{
    // Silence in: with the noise some sample is not zero (without it the
    // output is the library's above, which adds none).
    Runner r(kMonoUri);
    r.apply(busy(false, 3));
    r.set("noise", 1);
    const Channels out = runInBlocks(r, Channels(1, std::vector<float>(kFrames, 0.0f)), {1024});
    EXPECT_TRUE(std::any_of(out[0].begin(), out[0].end(), [](float x) { return x != 0; }));
}

TEST(Latency, PortEqualsTheImpulsePositionInEveryMode)
{
    // The quality values are hostile too: held to the range, rounded to the nearest.
    const struct {
        size_t channels;
        double rate;
        float quality;
        int mode;
        bool oversample;
    } cases[] = {
        {2, kRate, -7, 0, false}, {2, kRate, 1.4f, 1, false}, {2, kRate, 1.6f, 2, false}, {2, kRate, kNaN, 2, false},
        {2, kRate, kInf, 3, false}, {1, kRate, 99, 3, false}, {1, kRate, -kInf, 0, false},
        // Oversampled: each rate takes its own double-rate path.
        {2, 44100, 3, 3, true}, {2, 96000, 3, 3, true}, {1, kRate, 2, 2, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.channels) + " channels at " + std::to_string(c.rate) + ", quality " +
                     std::to_string(c.quality));
        Runner r(uriFor(c.channels), c.rate);
        r.apply(busy(c.channels == 2, 0));
        r.set("quality", c.quality);
        r.set("oversample", c.oversample);
        Channels x(c.channels, std::vector<float>(size_t(modeLatency(c.mode)) + 4000, 0.0f));
        for (auto &ch : x)
            ch[300] = 0.5f;
        const Channels y = runInBlocks(r, x, {512});
        EXPECT_EQ(r.latency(), float(modeLatency(c.mode)));
        for (const auto &ch : y)
            EXPECT_EQ(peak(ch) - 300, long(r.latency()));
    }
}

TEST(ModeChange, NewModeStartsFreshAndALeftModeNeverReplaysItsAudio)
{
    // 2 -> 3 -> 2 in quick succession, in blocks, with a band changed along
    // with the return. Mode 3 must start from silence at the switch; mode 2,
    // left holding audio, must not play it again, so the return waits for
    // its flush (twice its latency), and then takes the new band.
    Controls s = busy(true, 2);
    const size_t lat2 = size_t(modeLatency(2)), lat3 = size_t(modeLatency(3)), kBlock = 256;
    const size_t kLeft = 48 * kBlock, kTotal = 64000;
    Channels input = testSignal(2, kTotal), out = input;
    Runner r(kStereoUri);
    r.apply(s);
    size_t pos = 0, back = 0;
    auto block = [&] {
        r.run(at(input, pos), at(out, pos), kBlock);
        pos += kBlock;
    };
    while (pos < kLeft)
        block();
    r.set("quality", 3);
    block();
    EXPECT_EQ(r.latency(), float(lat3)) << "reported in the call that switches";
    const Controls before = s;
    r.apply(s = hostile(s, true)); // tamed values: a different, sane setting
    while (back == 0 && pos + kBlock <= kTotal) {
        block();
        back = r.latency() == float(lat2) ? pos - kBlock : 0;
    }
    ASSERT_GE(back, kLeft + lat3) << "mode 3 gave audio before the return";
    EXPECT_LE(back, kLeft + 2 * lat2 + kBlock) << "the wait is the flush, in whole blocks";
    while (pos + kBlock <= kTotal)
        block();

    // What a fresh instance of the mode makes of the input from `start` on
    // (with `first` for `n` frames, then the new setting), and what the
    // plugin gave from there.
    auto tails = [&](size_t start, int mode, const Controls &first, size_t n) {
        Channels want(2), got(2);
        for (int c = 0; c < 2; ++c) {
            want[c].assign(input[c].begin() + long(start), input[c].begin() + long(pos));
            got[c].assign(out[c].begin() + long(start), out[c].begin() + long(pos));
        }
        Controls m = first;
        m["quality"] = float(mode);
        return std::pair{got, libraryOutput({{m, n}, {s, 0}}, want)};
    };
    const auto [got3, want3] = tails(kLeft, 3, before, kBlock);
    expectSame(got3, want3, 0, back - kLeft);
    // After the return, not to the bit: the returning instance cuts frames
    // at other points than a fresh one, moving roundings by a few ulps of
    // the +-0.5 signal (6e-8 each), and its bands' carried state has rung
    // down through the flush. A replay of the old audio (about -10 dBFS), a
    // flush cut to one latency (-30 dB left) or the old band is far above 1e-6.
    const auto [got2, want2] = tails(back, 2, s, 0);
    for (int c = 0; c < 2; ++c) {
        double worst = 0;
        for (size_t i = 0; i < want2[c].size(); ++i)
            worst = std::max(worst, std::fabs(double(got2[c][i]) - want2[c][i]));
        EXPECT_LE(worst, 1e-6) << c;
    }
}

TEST(Lifecycle, ActivateAfterUseStartsFromSilence)
{
    // Two modes used, so both instances hold audio; the restart is in the
    // one left, which its flush alone would not bring back to the bit.
    const Channels input = testSignal(2, kFrames);
    Runner r(kStereoUri);
    r.apply(busy(true, 3));
    runInBlocks(r, testSignal(2, 9000, 7), {1000});
    r.set("quality", 1);
    runInBlocks(r, testSignal(2, 9000, 8), {1000});
    r.set("quality", 3);
    r.restart();
    expectSame(runInBlocks(r, input, {1000}), libraryOutput(busy(true, 3), input));
}

} // namespace
