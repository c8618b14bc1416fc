// What the LV2 tests share: a busy setting as a host hands it over, hostile
// values, the library's own output (the plugin must give the same bits), and
// a small in-process host on liblilv.
#pragma once

#include <array>
#include <cmath>
#include <functional>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include <lilv/lilv.h>

#include "lintaq.h"

namespace lv2test {

// Written out, not taken from the plugin: hosts and sessions keep them.
inline constexpr const char *kMonoUri = "urn:lintaq:lv2:mono", *kStereoUri = "urn:lintaq:lv2:stereo";
inline const char *uriFor(size_t channels) { return channels == 2 ? kStereoUri : kMonoUri; }
inline constexpr int kRate = 48000;
inline constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
inline constexpr float kInf = std::numeric_limits<float>::infinity();

using Channels = std::vector<std::vector<float>>;
using Controls = std::map<std::string, float>; // by port symbol
using Frame = std::array<float *, 2>;            // a buffer per channel: no allocation

// Every type, boosts and cuts, and in stereo every routing, so a wrong port
// index, range or routing shows in the output.
inline Controls busy(bool stereo, int quality)
{
    const float B = LINTAQ_BOTH, L = LINTAQ_LEFT, R = LINTAQ_RIGHT, M = LINTAQ_MID, S = LINTAQ_SIDE, PK = LINTAQ_PEAK;
    const float rows[LINTAQ_BANDS][5] = { // as the band's ports: enable, type, freq, gain, q
        {B, LINTAQ_HIGH_PASS, 40, 0, 0.7071f}, {B, LINTAQ_LOW_SHELF, 120, 4, 0.7f}, {L, PK, 250, -6, 2},
        {R, PK, 500, 5, 1.5f}, {M, PK, 1000, -8, 3}, {S, PK, 2000, 6, 1}, {B, PK, 3500, -3, 0.5f}, {M, PK, 6000, 9, 4},
        {S, PK, 9000, -12, 6}, {L, PK, 13000, 3, 1}, {B, LINTAQ_HIGH_SHELF, 15000, -4, 0.7f},
        {R, LINTAQ_LOW_PASS, 19000, 0, 0.7071f}};
    const char *fields[5] = {"enable", "type", "freq", "gain", "q"};
    Controls c = {{"quality", float(quality)}, {"oversample", 0}, {"noise", 0}};
    for (int k = 0; k < LINTAQ_BANDS; ++k)
        for (int f = 0; f < 5; ++f)
            c["band" + std::to_string(k + 1) + "_" + fields[f]] = f == 0 && !stereo ? 1 : rows[k][f];
    return c;
}

// Hostile values and what the engine must get instead, stated here from the
// port ranges: NaN takes the port default, the rest is held to the range,
// enumerations round to the nearest, toggles are on above zero. Each row
// changes the output if mishandled. Meant for busy(..., 2), the default mode.
struct Hostile {
    const char *symbol;
    float raw, want;
};
inline const Hostile kHostile[] = {
    {"quality", kNaN, 2},        {"oversample", 0.25f, 1}, {"noise", -kInf, 0},     {"band1_freq", kNaN, 30},
    {"band2_freq", kInf, 24000}, {"band3_freq", -kInf, 10}, {"band3_gain", kNaN, 0}, {"band4_q", kInf, 20},
    {"band5_q", kNaN, 1},        {"band6_enable", -2, 0},  {"band7_gain", 1e9f, 24}, {"band8_gain", -kInf, -24},
    {"band8_q", -1, 0.1f},       {"band9_type", 9, LINTAQ_LOW_PASS}, {"band10_type", 2.6f, LINTAQ_HIGH_PASS},
    {"band11_type", kNaN, LINTAQ_HIGH_SHELF}, {"band12_enable", 99, LINTAQ_SIDE}, // mono: any nonzero is on
};
inline Controls hostile(Controls c, bool want)
{
    for (const Hostile &h : kHostile)
        c[h.symbol] = want ? h.want : h.raw;
    return c;
}

// Puts non-finite samples across the signal and channels; returns the input
// as the plugin must take it, silence in their place.
inline Channels poison(Channels &x)
{
    Channels clean = x;
    const float bad[] = {kNaN, kInf, -kInf, -kNaN};
    for (size_t c = 0; c < x.size(); ++c)
        for (size_t i : {0, 1, 2, 500, 2047, 2048, 6000, 9000, 9001, 15000}) {
            x[c][i + c] = bad[(i + c) % 4];
            clean[c][i + c] = 0.0f;
        }
    return clean;
}

// Deterministic noise with a few tones, |x| < 0.5; channels differ.
inline Channels testSignal(size_t channels, size_t frames, uint32_t seed = 1)
{
    Channels out(channels, std::vector<float>(frames));
    for (size_t c = 0; c < channels; ++c)
        for (size_t i = 0; i < frames; ++i) {
            seed = seed * 1664525u + 1013904223u;
            double x = (seed >> 8) / 16777216.0 * 0.4 - 0.2;
            for (double f : {100.0, 1000.0, 7000.0})
                x += 0.08 * std::sin(2 * M_PI * f * double(i) / kRate + double(c) * 1.3);
            out[c][i] = float(x);
        }
    return out;
}

// A fresh instance of the controls' mode over the whole signal; each part's
// controls take over at its start (the last part runs to the end).
inline Channels libraryOutput(const std::vector<std::pair<Controls, size_t>> &parts, Channels x, int rate = kRate)
{
    PeqInstance *e = LintaqInit(int(parts[0].first.at("quality")), x.size() == 2);
    for (size_t k = 0, pos = 0; k < parts.size(); pos += parts[k++].second) {
        PeqParams p{};
        for (int b = 0; b < LINTAQ_BANDS; ++b) {
            auto at = [&](const char *f) { return parts[k].first.at("band" + std::to_string(b + 1) + "_" + f); };
            p.enable[b] = uint32_t(at("enable"));
            p.type[b] = uint32_t(at("type"));
            p.freq[b] = at("freq");
            p.gain[b] = at("gain");
            p.q[b] = at("q");
        }
        p.sampleRate = rate;
        p.noise = parts[k].first.at("noise") > 0;
        p.oversample = parts[k].first.at("oversample") > 0;
        LintaqSetPar(e, &p);
        const int n = int(k + 1 < parts.size() ? parts[k].second : x[0].size() - pos);
        if (x.size() == 2)
            LintaqProcST(e, x[0].data() + pos, x[1].data() + pos, n);
        else
            LintaqProc(e, x[0].data() + pos, n);
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

// The build-tree bundle in a private lilv world (no LV2_PATH).
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
inline const LilvPlugin *plugin(const char *uri)
{
    LilvNode *node = lilv_new_uri(world(), uri);
    const LilvPlugin *p = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world()), node);
    lilv_node_free(node);
    return p;
}

// One active instance driven by hand. Controls are found by symbol up
// front, so set() neither allocates nor locks (the real-time test needs it).
class Runner {
public:
    explicit Runner(const char *uri, double rate = kRate) : p_(plugin(uri))
    {
        values_.resize(lilv_plugin_get_num_ports(p_));
        lilv_plugin_get_port_ranges_float(p_, nullptr, nullptr, values_.data());
        i_ = lilv_plugin_instantiate(p_, rate, nullptr);
        LilvNode *audio = lilv_new_uri(world(), LV2_CORE__AudioPort), *in = lilv_new_uri(world(), LV2_CORE__InputPort);
        for (uint32_t k = 0; i_ != nullptr && k < values_.size(); ++k) {
            const LilvPort *port = lilv_plugin_get_port_by_index(p_, k);
            const bool input = lilv_port_is_a(p_, port, in);
            index_[lilv_node_as_string(lilv_port_get_symbol(p_, port))] = k;
            if (lilv_port_is_a(p_, port, audio))
                (input ? audioIn_ : audioOut_).push_back(k);
            else
                lilv_instance_connect_port(i_, k, input ? &values_[k] : &latency_);
        }
        lilv_node_free(audio);
        lilv_node_free(in);
        if (i_ != nullptr)
            lilv_instance_activate(i_);
    }
    ~Runner()
    {
        if (i_ != nullptr) {
            lilv_instance_deactivate(i_);
            lilv_instance_free(i_);
        }
    }
    Runner(const Runner &) = delete;
    bool ok() const { return i_ != nullptr; }
    size_t channels() const { return audioIn_.size(); }
    float latency() const { return latency_; }
    void set(const std::string &symbol, float v) { values_[index_.at(symbol)] = v; }
    void apply(const Controls &c)
    {
        for (const auto &[symbol, v] : c)
            set(symbol, v);
    }
    void restart()
    {
        lilv_instance_deactivate(i_);
        lilv_instance_activate(i_);
    }
    // One pointer per channel; input and output may alias.
    void run(const Frame &in, const Frame &out, size_t n)
    {
        for (size_t c = 0; c < audioIn_.size(); ++c) {
            lilv_instance_connect_port(i_, audioIn_[c], in[c]);
            lilv_instance_connect_port(i_, audioOut_[c], out[c]);
        }
        lilv_instance_run(i_, uint32_t(n));
    }

private:
    const LilvPlugin *p_;
    LilvInstance *i_ = nullptr;
    std::vector<float> values_;
    std::map<std::string, uint32_t> index_;
    std::vector<uint32_t> audioIn_, audioOut_;
    float latency_ = -1.0f;
};

inline Frame at(Channels &x, size_t pos)
{
    Frame p{};
    for (size_t c = 0; c < x.size(); ++c)
        p[c] = x[c].data() + pos;
    return p;
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
    size_t best = 0;
    for (size_t i = 1; i < x.size(); ++i)
        best = std::fabs(x[i]) > std::fabs(x[best]) ? i : best;
    return long(best);
}

} // namespace lv2test
