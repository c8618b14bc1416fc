// What the LV2 tests share: the ports as hosts know them, a busy setting and
// hostile values by port symbol, the library's own output (the plugin must
// give the same bits), and a small in-process host on liblilv.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <lilv/lilv.h>

#include "lintaq.h"

namespace lv2test {

inline constexpr int kRate = 48000;
inline constexpr float kNaN = std::numeric_limits<float>::quiet_NaN(), kInf = std::numeric_limits<float>::infinity();
using Channels = std::vector<std::vector<float>>;
using Controls = std::map<std::string, float>; // by port symbol
using Frame = std::array<float *, 2>;            // a buffer per channel, without allocating

// URIs and symbols written out, not taken from the plugin's table: hosts,
// sessions and presets keep them, so a change or reordering must show.
inline const char *uriFor(size_t channels) { return channels == 2 ? "urn:lintaq:lv2:stereo" : "urn:lintaq:lv2:mono"; }
inline std::vector<std::string> symbols(size_t channels)
{
    std::vector<std::string> s = {"quality", "oversample", "noise", "latency"};
    for (int k = 1; k <= LINTAQ_BANDS; ++k)
        for (const char *f : {"enable", "type", "freq", "gain", "q"})
            s.push_back("band" + std::to_string(k) + "_" + f);
    for (const char *a : channels == 2 ? std::vector{"in_l", "in_r", "out_l", "out_r"} : std::vector{"in", "out"})
        s.push_back(a);
    return s;
}

// Every type, boosts and cuts, and in stereo every routing, so a wrong port
// index, range or routing shows in the output.
inline Controls busy(size_t channels, int quality)
{
    const float B = LINTAQ_BOTH, L = LINTAQ_LEFT, R = LINTAQ_RIGHT, M = LINTAQ_MID, S = LINTAQ_SIDE, PK = LINTAQ_PEAK;
    const float rows[LINTAQ_BANDS][5] = { // as the band's ports: enable, type, freq, gain, q
        {B, LINTAQ_HIGH_PASS, 40, 0, 0.7071f}, {B, LINTAQ_LOW_SHELF, 120, 4, 0.7f}, {L, PK, 250, -6, 2},
        {R, PK, 500, 5, 1.5f}, {M, PK, 1000, -8, 3}, {S, PK, 2000, 6, 1}, {B, PK, 3500, -3, 0.5f}, {M, PK, 6000, 9, 4},
        {S, PK, 9000, -12, 6}, {L, PK, 13000, 3, 1}, {B, LINTAQ_HIGH_SHELF, 15000, -4, 0.7f},
        {R, LINTAQ_LOW_PASS, 19000, 0, 0.7071f}};
    Controls c = {{"quality", float(quality)}, {"oversample", 0}, {"noise", 0}};
    const std::vector<std::string> sym = symbols(channels);
    for (size_t k = 0; k < LINTAQ_BANDS; ++k)
        for (size_t f = 0; f < 5; ++f) // five ports a band, after the first four
            c[sym[4 + 5 * k + f]] = f == 0 && channels == 1 ? 1 : rows[k][f];
    return c;
}

// Hostile values, or what the engine must get instead, stated here from the
// port ranges: NaN takes the port default, the rest is held to the range,
// enumerations round to the nearest, toggles are on above zero. Each row
// changes the output if mishandled. Meant for busy(..., 2), the default mode.
inline Controls hostile(Controls c, bool tamed)
{
    const struct {
        const char *symbol;
        float raw, tamed;
    } rows[] = {
        {"quality", kNaN, 2},        {"oversample", 0.25f, 1},  {"noise", -kInf, 0},     {"band1_freq", kNaN, 30},
        {"band2_freq", kInf, 24000}, {"band3_freq", -kInf, 10}, {"band3_gain", kNaN, 0}, {"band4_q", kInf, 20},
        {"band5_q", kNaN, 1},        {"band6_enable", -2, 0},   {"band7_gain", 1e9f, 24}, {"band8_gain", -kInf, -24},
        {"band8_q", -1, 0.1f},       {"band9_type", 9, LINTAQ_LOW_PASS}, {"band10_type", 2.6f, LINTAQ_HIGH_PASS},
        {"band11_type", kNaN, LINTAQ_HIGH_SHELF}, {"band12_enable", 99, LINTAQ_SIDE}, // mono: any nonzero is on
    };
    for (const auto &r : rows)
        c[r.symbol] = tamed ? r.tamed : r.raw;
    return c;
}

// Puts non-finite samples across the signal and channels; returns the input
// as the plugin must take it, silence in their place.
inline Channels poison(Channels &x)
{
    Channels clean = x;
    for (size_t c = 0; c < x.size(); ++c)
        for (size_t i : {0, 1, 2, 500, 2047, 2048, 6000, 9000, 9001, 15000}) {
            x[c][i + c] = std::array{kNaN, kInf, -kInf, -kNaN}[(i + c) % 4];
            clean[c][i + c] = 0.0f;
        }
    return clean;
}

// Deterministic noise, |x| <= 0.25; channels differ.
inline Channels testSignal(size_t channels, size_t frames)
{
    uint32_t seed = 1;
    Channels out(channels, std::vector<float>(frames));
    for (auto &c : out)
        for (float &x : c)
            x = float((seed = seed * 1664525u + 1013904223u) >> 8) / 16777216.0f * 0.5f - 0.25f;
    return out;
}

// A fresh instance of the first part's mode over the whole signal; each
// part's controls take over at its start, the last part runs to the end.
inline Channels libraryOutput(const std::vector<std::pair<Controls, size_t>> &parts, Channels x, int rate = kRate)
{
    PeqInstance *e = LintaqInit(int(parts[0].first.at("quality")), x.size() == 2);
    for (size_t k = 0, pos = 0; k < parts.size(); pos += parts[k++].second) {
        const Controls &c = parts[k].first;
        PeqParams p{};
        for (int b = 0; b < LINTAQ_BANDS; ++b) {
            auto at = [&](const char *f) { return c.at("band" + std::to_string(b + 1) + "_" + f); };
            p.enable[b] = uint32_t(at("enable")), p.type[b] = uint32_t(at("type"));
            p.freq[b] = at("freq"), p.gain[b] = at("gain"), p.q[b] = at("q");
        }
        p.sampleRate = rate, p.noise = c.at("noise") > 0, p.oversample = c.at("oversample") > 0;
        LintaqSetPar(e, &p);
        const int n = int(k + 1 < parts.size() ? parts[k].second : x[0].size() - pos);
        x.size() == 2 ? LintaqProcST(e, x[0].data() + pos, x[1].data() + pos, n) : LintaqProc(e, x[0].data() + pos, n);
    }
    LintaqExit(e);
    return x;
}
inline Channels libraryOutput(const Controls &c, Channels x, int rate = kRate) { return libraryOutput({{c, 0}}, x, rate); }

inline int modeLatency(int mode)
{
    PeqInstance *e = LintaqInit(mode, 0);
    const int latency = LintaqGetLatency(e);
    LintaqExit(e);
    return latency;
}

// Fails at the first sample of a channel further from the reference than
// bound(reference), 0 if none is given; NaN fails too.
inline void expectWithin(const Channels &got, const Channels &want, const std::function<double(double)> &bound = {})
{
    ASSERT_EQ(got.size(), want.size());
    for (size_t c = 0; c < want.size(); ++c) {
        ASSERT_EQ(got[c].size(), want[c].size());
        for (size_t i = 0; i < want[c].size(); ++i)
            if (!(std::fabs(double(got[c][i]) - want[c][i]) <= (bound ? bound(want[c][i]) : 0.0))) {
                ADD_FAILURE() << "channel " << c << " first differs at " << i << ": " << got[c][i] << ", not " << want[c][i];
                break;
            }
    }
}

// The build-tree bundle in a private lilv world (no LV2_PATH), kept for the
// whole process.
inline LilvWorld *world()
{
    static LilvWorld *w = [] {
        LilvWorld *nw = lilv_world_new();
        LilvNode *bundle = lilv_new_file_uri(nw, nullptr, LINTAQ_LV2_BUNDLE "/");
        lilv_world_load_bundle(nw, bundle);
        lilv_node_free(bundle);
        return nw;
    }();
    return w;
}
inline const LilvPlugin *plugin(size_t channels)
{
    LilvNode *uri = lilv_new_uri(world(), uriFor(channels));
    const LilvPlugin *p = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world()), uri);
    lilv_node_free(uri);
    return p;
}

// One active instance driven by hand, its ports found by the symbols above
// (the description test holds them to the Turtle). set() and run() neither
// allocate nor lock, which the real-time test needs.
class Runner {
public:
    explicit Runner(size_t channels, double rate = kRate)
        : sym_(symbols(channels)), values_(sym_.size()), audio_(uint32_t(sym_.size() - 2 * channels))
    {
        const LilvPlugin *p = plugin(channels);
        if (p == nullptr || (i_ = lilv_plugin_instantiate(p, rate, nullptr)) == nullptr)
            return;
        lilv_plugin_get_port_ranges_float(p, nullptr, nullptr, values_.data());
        for (uint32_t k = 0; k < audio_; ++k)
            lilv_instance_connect_port(i_, k, sym_[k] == "latency" ? &latency_ : &values_[k]);
        lilv_instance_activate(i_);
    }
    ~Runner()
    {
        if (i_ != nullptr)
            lilv_instance_deactivate(i_), lilv_instance_free(i_);
    }
    Runner(const Runner &) = delete;
    bool ok() const { return i_ != nullptr; }
    float latency() const { return latency_; }
    void set(const std::string &symbol, float v) { values_.at(size_t(std::find(sym_.begin(), sym_.end(), symbol) - sym_.begin())) = v; }
    void apply(const Controls &c)
    {
        for (const auto &[symbol, v] : c)
            set(symbol, v);
    }
    void restart() { lilv_instance_deactivate(i_), lilv_instance_activate(i_); }
    // Input and output may alias.
    void run(const Frame &in, const Frame &out, size_t n)
    {
        for (uint32_t c = 0, channels = (uint32_t(sym_.size()) - audio_) / 2; c < channels; ++c) {
            lilv_instance_connect_port(i_, audio_ + c, in[c]);
            lilv_instance_connect_port(i_, audio_ + channels + c, out[c]);
        }
        lilv_instance_run(i_, uint32_t(n));
    }

private:
    std::vector<std::string> sym_;
    std::vector<float> values_;
    uint32_t audio_; // the first audio port
    LilvInstance *i_ = nullptr;
    float latency_ = -1.0f;
};

inline Frame at(Channels &x, size_t pos) { return {x[0].data() + pos, x.size() == 2 ? x[1].data() + pos : nullptr}; }
inline Channels slice(const Channels &x, size_t from, size_t to)
{
    Channels s;
    for (const auto &c : x)
        s.emplace_back(c.begin() + long(from), c.begin() + long(to));
    return s;
}

// Separate buffers, in place, or crossed: each output on the other
// channel's input buffer (stereo), so an input read late is already lost.
enum class Layout { separate, inPlace, crossed };

// The whole signal in blocks of the given sizes, cycled; `before` is called
// with the position of each block before it runs.
inline Channels runInBlocks(Runner &r, Channels in, const std::vector<size_t> &blocks,
                            Layout layout = Layout::separate, const std::function<void(size_t)> &before = {})
{
    Channels out(in.size(), std::vector<float>(in[0].size(), -1.0f));
    for (size_t pos = 0, b = 0, n; pos < in[0].size(); pos += n) {
        n = std::min(blocks[b++ % blocks.size()], in[0].size() - pos);
        if (before)
            before(pos);
        Frame pi = at(in, pos), po = layout == Layout::separate ? at(out, pos) : pi;
        if (layout == Layout::crossed)
            std::swap(po[0], po[1]);
        r.run(pi, po, n);
        if (layout == Layout::crossed)
            std::swap_ranges(pi[0], pi[0] + n, pi[1]);
    }
    return layout == Layout::separate ? out : in;
}

// Where the largest magnitude is. Each band runs forwards and backwards, so
// the response is zero-phase and nowhere negative, and such a response
// peaks at its centre (|h[n]| <= mean of H = h[0]): at the latency.
inline long peak(const std::vector<float> &x)
{
    auto louder = [](float a, float b) { return std::fabs(a) < std::fabs(b); };
    return long(std::max_element(x.begin(), x.end(), louder) - x.begin());
}

} // namespace lv2test
