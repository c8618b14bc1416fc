#include "lv2_support.h"

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include <sndfile.h>

namespace lv2test {

Settings twelveBands(bool stereo)
{
    struct Row {
        int route, type;
        float freq, gain, q;
    };
    const Row rows[LINTAQ_BANDS] = {
        {LINTAQ_BOTH, LINTAQ_HIGH_PASS, 40, 0, 0.7071f},  {LINTAQ_BOTH, LINTAQ_LOW_SHELF, 120, 4, 0.7f},
        {LINTAQ_LEFT, LINTAQ_PEAK, 250, -6, 2},           {LINTAQ_RIGHT, LINTAQ_PEAK, 500, 5, 1.5f},
        {LINTAQ_MID, LINTAQ_PEAK, 1000, -8, 3},           {LINTAQ_SIDE, LINTAQ_PEAK, 2000, 6, 1},
        {LINTAQ_BOTH, LINTAQ_PEAK, 3500, -3, 0.5f},       {LINTAQ_MID, LINTAQ_PEAK, 6000, 9, 4},
        {LINTAQ_SIDE, LINTAQ_PEAK, 9000, -12, 6},         {LINTAQ_LEFT, LINTAQ_PEAK, 13000, 3, 1},
        {LINTAQ_BOTH, LINTAQ_HIGH_SHELF, 15000, -4, 0.7f}, {LINTAQ_RIGHT, LINTAQ_LOW_PASS, 19000, 0, 0.7071f},
    };
    Settings s;
    for (int k = 0; k < LINTAQ_BANDS; ++k)
        s.bands[k] = {stereo ? rows[k].route : 1, rows[k].type, rows[k].freq, rows[k].gain, rows[k].q};
    return s;
}

PeqParams toParams(const Settings &s, int rate)
{
    PeqParams p{};
    for (int k = 0; k < LINTAQ_BANDS; ++k) {
        p.freq[k] = s.bands[k].freq;
        p.gain[k] = s.bands[k].gain;
        p.q[k] = s.bands[k].q;
        p.enable[k] = static_cast<uint32_t>(s.bands[k].enable);
        p.type[k] = static_cast<uint32_t>(s.bands[k].type);
    }
    p.sampleRate = rate;
    p.noise = s.noise ? 1u : 0u;
    p.oversample = s.oversample ? 1u : 0u;
    return p;
}

std::vector<std::pair<std::string, float>> toControls(const Settings &s)
{
    std::vector<std::pair<std::string, float>> c = {
        {"quality", static_cast<float>(s.quality)},
        {"oversample", s.oversample ? 1.0f : 0.0f},
        {"noise", s.noise ? 1.0f : 0.0f},
    };
    for (int k = 0; k < LINTAQ_BANDS; ++k) {
        const std::string b = "band" + std::to_string(k + 1) + "_";
        const Band &band = s.bands[k];
        c.emplace_back(b + "enable", static_cast<float>(band.enable));
        c.emplace_back(b + "type", static_cast<float>(band.type));
        c.emplace_back(b + "freq", band.freq);
        c.emplace_back(b + "gain", band.gain);
        c.emplace_back(b + "q", band.q);
    }
    return c;
}

Channels testSignal(int channels, int frames, uint32_t seed)
{
    Channels out(channels, std::vector<float>(frames));
    uint32_t state = seed * 2654435761u + 1u;
    const double tones[3] = {100.0, 1000.0, 7000.0};
    for (int c = 0; c < channels; ++c) {
        for (int i = 0; i < frames; ++i) {
            state = state * 1664525u + 1013904223u;
            const double noise = (static_cast<double>(state >> 8) / 16777216.0 - 0.5) * 0.4;
            double tone = 0;
            for (double f : tones)
                tone += 0.08 * std::sin(2 * M_PI * f * i / kRate + c * 1.3);
            out[c][i] = static_cast<float>(noise + tone);
        }
    }
    return out;
}

Channels libraryOutput(const PeqParams &p, int mode, Channels input)
{
    PeqInstance *e = LintaqInit(mode, input.size() == 2 ? 1 : 0);
    if (e == nullptr)
        throw std::runtime_error("LintaqInit failed");
    LintaqSetPar(e, &p);
    const int n = static_cast<int>(input[0].size());
    if (input.size() == 2)
        LintaqProcST(e, input[0].data(), input[1].data(), n);
    else
        LintaqProc(e, input[0].data(), n);
    LintaqExit(e);
    return input;
}

void writeWav(const std::string &path, const Channels &ch, int rate, int subtype)
{
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = static_cast<int>(ch.size());
    info.format = SF_FORMAT_WAV | subtype;
    SNDFILE *f = sf_open(path.c_str(), SFM_WRITE, &info);
    if (f == nullptr)
        throw std::runtime_error("cannot write " + path);
    const size_t frames = ch[0].size();
    std::vector<float> inter(frames * ch.size());
    for (size_t i = 0; i < frames; ++i)
        for (size_t c = 0; c < ch.size(); ++c)
            inter[i * ch.size() + c] = ch[c][i];
    sf_writef_float(f, inter.data(), static_cast<sf_count_t>(frames));
    sf_close(f);
}

Channels readWav(const std::string &path, int *rate)
{
    SF_INFO info{};
    SNDFILE *f = sf_open(path.c_str(), SFM_READ, &info);
    if (f == nullptr)
        throw std::runtime_error("cannot read " + path);
    std::vector<float> inter(static_cast<size_t>(info.frames * info.channels));
    const sf_count_t got = sf_readf_float(f, inter.data(), info.frames);
    sf_close(f);
    if (rate != nullptr)
        *rate = info.samplerate;
    Channels out(info.channels, std::vector<float>(static_cast<size_t>(got)));
    for (sf_count_t i = 0; i < got; ++i)
        for (int c = 0; c < info.channels; ++c)
            out[c][i] = inter[i * info.channels + c];
    return out;
}

TempDir::TempDir()
{
    const char *base = std::getenv("TMPDIR");
    std::string tmpl = std::string(base ? base : "/tmp") + "/lintaq-lv2-XXXXXX";
    if (mkdtemp(tmpl.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    path = tmpl;
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
}

World::World() : world(lilv_world_new())
{
    bundle = lilv_new_file_uri(world, nullptr, LINTAQ_LV2_BUNDLE "/");
    lilv_world_load_bundle(world, bundle);
}

World::~World()
{
    lilv_node_free(bundle);
    lilv_world_free(world);
}

const LilvPlugin *World::plugin(const char *uri) const
{
    LilvNode *node = lilv_new_uri(world, uri);
    const LilvPlugin *p = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world), node);
    lilv_node_free(node);
    return p;
}

World &sharedWorld()
{
    static World w;
    return w;
}

Runner::Runner(const char *uri, double rate) : plugin_(sharedWorld().plugin(uri))
{
    if (plugin_ == nullptr)
        return;
    LilvWorld *w = sharedWorld().world;
    const uint32_t n = lilv_plugin_get_num_ports(plugin_);
    controls_.assign(n, 0.0f);
    std::vector<float> defaults(n, 0.0f);
    lilv_plugin_get_port_ranges_float(plugin_, nullptr, nullptr, defaults.data());
    instance_ = lilv_plugin_instantiate(plugin_, rate, nullptr);
    if (instance_ == nullptr)
        return;
    LilvNode *audio = lilv_new_uri(w, LV2_CORE__AudioPort);
    LilvNode *input = lilv_new_uri(w, LV2_CORE__InputPort);
    for (uint32_t i = 0; i < n; ++i) {
        const LilvPort *port = lilv_plugin_get_port_by_index(plugin_, i);
        const bool isInput = lilv_port_is_a(plugin_, port, input);
        if (lilv_port_is_a(plugin_, port, audio)) {
            (isInput ? audioIn_ : audioOut_).push_back(i);
        } else if (isInput) {
            controls_[i] = defaults[i];
            lilv_instance_connect_port(instance_, i, &controls_[i]);
        } else {
            lilv_instance_connect_port(instance_, i, &latency_);
        }
    }
    lilv_node_free(audio);
    lilv_node_free(input);
    channels_ = static_cast<int>(audioIn_.size());
}

Runner::~Runner()
{
    if (instance_ != nullptr) {
        deactivate();
        lilv_instance_free(instance_);
    }
}

void Runner::set(const std::string &symbol, float value)
{
    LilvNode *sym = lilv_new_string(sharedWorld().world, symbol.c_str());
    const LilvPort *port = lilv_plugin_get_port_by_symbol(plugin_, sym);
    lilv_node_free(sym);
    if (port == nullptr)
        throw std::runtime_error("no port " + symbol);
    controls_[lilv_port_get_index(plugin_, port)] = value;
}

void Runner::apply(const Settings &s)
{
    for (const auto &[sym, v] : toControls(s))
        set(sym, v);
}

void Runner::activate()
{
    lilv_instance_activate(instance_);
    active_ = true;
}

void Runner::deactivate()
{
    if (active_)
        lilv_instance_deactivate(instance_);
    active_ = false;
}

void Runner::run(const std::vector<float *> &in, const std::vector<float *> &out, uint32_t n)
{
    for (size_t c = 0; c < audioIn_.size(); ++c) {
        lilv_instance_connect_port(instance_, audioIn_[c], in[c]);
        lilv_instance_connect_port(instance_, audioOut_[c], out[c]);
    }
    lilv_instance_run(instance_, n);
}

Channels runInBlocks(Runner &r, const Channels &input, const std::vector<uint32_t> &blocks)
{
    Channels in = input;
    Channels out(input.size(), std::vector<float>(input[0].size(), -1.0f));
    const size_t total = input[0].size();
    size_t pos = 0;
    for (size_t b = 0; pos < total; ++b) {
        const uint32_t n = static_cast<uint32_t>(std::min<size_t>(blocks[b % blocks.size()], total - pos));
        std::vector<float *> pi, po;
        for (size_t c = 0; c < in.size(); ++c) {
            pi.push_back(in[c].data() + pos);
            po.push_back(out[c].data() + pos);
        }
        r.run(pi, po, n);
        pos += n;
    }
    return out;
}

} // namespace lv2test
