// A small LV2 host for benchmarks: loads plugins by URI through liblilv,
// runs each over the same stereo signal in fixed blocks and times only the
// plugin's own run() calls, in CPU time of this thread. One row per plugin
// and setting, printed side by side after one run of the program.
//
// usage: lintaq_lv2_bench [options] --row LABEL URI [SYM=VAL ...] [--row ...]
//   --rate HZ       rate of the generated signal (48000)
//   --seconds S     length of the generated signal (60)
//   --input FILE    a mono or stereo sound file instead (libsndfile)
//   --block N       frames per run() call (1024)
//   --repeat R      passes per row, taken in turn across rows; the median
//                   pass is reported (3)
//   --bundle DIR    load this bundle folder in addition to LV2_PATH
//   -c SYM=VAL      a control value for every row, before the row's own
//   --measure F,F,...  also measure each row's magnitude response at these
//                   frequencies (Hz) and print it in dB
//   --target NAME DB,DB,...  the response the rows given after it should
//                   have at the --measure frequencies; deviations are printed
//
// VAL is a number or, for a port with scale points, one of their labels
// (LSP's "mode=FIR"). A value outside the port's range is warned about.
// A plugin with two audio inputs and two outputs runs once; one with one of
// each runs as two instances, one per channel, so every row costs a stereo
// signal. Atom ports get an empty sequence; the host offers urid:map and
// options (block lengths, rate).
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <climits>
#include <ctime>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <lilv/lilv.h>
#include <lv2/atom/atom.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/options/options.h>
#include <lv2/parameters/parameters.h>
#include <lv2/urid/urid.h>
#include <sndfile.h>

#include "number_list.h"

namespace {

[[noreturn]] void fail(const std::string &msg)
{
    std::fprintf(stderr, "lintaq_lv2_bench: %s\n", msg.c_str());
    std::exit(1);
}

double threadCpuSeconds()
{
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// --- URID map, the one feature most plugins require ---------------------

struct UridMap {
    std::map<std::string, LV2_URID> ids;
    std::vector<std::string> uris;
    LV2_URID map(const char *uri)
    {
        auto it = ids.find(uri);
        if (it != ids.end())
            return it->second;
        uris.emplace_back(uri);
        return ids[uri] = static_cast<LV2_URID>(uris.size());
    }
    static LV2_URID mapFn(LV2_URID_Map_Handle h, const char *uri) { return static_cast<UridMap *>(h)->map(uri); }
    static const char *unmapFn(LV2_URID_Unmap_Handle h, LV2_URID id)
    {
        auto *m = static_cast<UridMap *>(h);
        return id >= 1 && id <= m->uris.size() ? m->uris[id - 1].c_str() : nullptr;
    }
};

struct Features {
    UridMap urids;
    LV2_URID_Map map{&urids, UridMap::mapFn};
    LV2_URID_Unmap unmap{&urids, UridMap::unmapFn};
    int32_t blockLength = 1024;
    float rateValue = 48000;
    std::vector<LV2_Options_Option> options;
    LV2_Feature mapF{LV2_URID__map, &map}, unmapF{LV2_URID__unmap, &unmap};
    LV2_Feature optionsF{LV2_OPTIONS__options, nullptr};
    LV2_Feature bounded{LV2_BUF_SIZE__boundedBlockLength, nullptr};
    const LV2_Feature *list[5] = {};

    void build(int block, double rate)
    {
        blockLength = block;
        rateValue = static_cast<float>(rate);
        const LV2_URID intType = urids.map(LV2_ATOM__Int), floatType = urids.map(LV2_ATOM__Float);
        auto opt = [&](const char *key, uint32_t size, LV2_URID type, const void *value) {
            options.push_back({LV2_OPTIONS_INSTANCE, 0, urids.map(key), size, type, value});
        };
        opt(LV2_BUF_SIZE__minBlockLength, 4, intType, &blockLength);
        opt(LV2_BUF_SIZE__maxBlockLength, 4, intType, &blockLength);
        opt(LV2_BUF_SIZE__nominalBlockLength, 4, intType, &blockLength);
        opt(LV2_PARAMETERS__sampleRate, 4, floatType, &rateValue);
        options.push_back({LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr});
        optionsF.data = options.data();
        list[0] = &mapF;
        list[1] = &unmapF;
        list[2] = &optionsF;
        list[3] = &bounded;
        list[4] = nullptr;
    }
};

// --- the signal ----------------------------------------------------------

struct Signal {
    double rate = 48000;
    std::vector<float> ch[2];
    size_t frames() const { return ch[0].size(); }
};

Signal generate(double rate, double seconds)
{
    // Noise at about -12 dBFS, different in each channel: every band and
    // every frame does real work, and no silence invites shortcuts.
    Signal s;
    s.rate = rate;
    const auto n = static_cast<size_t>(rate * seconds);
    uint32_t state = 12345;
    for (auto &c : s.ch) {
        c.resize(n);
        for (float &x : c) {
            state = state * 1664525u + 1013904223u;
            x = (static_cast<float>(state >> 8) / 16777216.0f - 0.5f) * 0.5f;
        }
    }
    return s;
}

Signal load(const std::string &path)
{
    SF_INFO info{};
    SNDFILE *f = sf_open(path.c_str(), SFM_READ, &info);
    if (f == nullptr)
        fail("cannot read " + path);
    if (info.channels < 1 || info.channels > 2)
        fail(path + ": only mono and stereo files");
    std::vector<float> inter(static_cast<size_t>(info.frames * info.channels));
    const sf_count_t got = sf_readf_float(f, inter.data(), info.frames);
    sf_close(f);
    Signal s;
    s.rate = info.samplerate;
    for (int c = 0; c < 2; ++c) {
        s.ch[c].resize(static_cast<size_t>(got));
        for (sf_count_t i = 0; i < got; ++i)
            s.ch[c][static_cast<size_t>(i)] = inter[static_cast<size_t>(i * info.channels + (info.channels == 2 ? c : 0))];
    }
    return s;
}

// --- one row: a plugin with its settings ---------------------------------

using Setting = std::pair<std::string, std::string>; // symbol, value as given

struct Target {
    std::string name;
    std::vector<double> db;
};

struct Row {
    std::string label, uri;
    std::vector<Setting> controls;
    const Target *target = nullptr;
};

struct Instance {
    LilvInstance *lilv = nullptr;
    std::vector<float> controls; // one slot per port, control ports only used
    struct AtomBuffer {
        std::vector<uint8_t> bytes;
        bool input;
        LV2_URID sequence;
        // An input holds an empty sequence; an output offers all its room.
        void reset()
        {
            auto *seq = reinterpret_cast<LV2_Atom_Sequence *>(bytes.data());
            seq->atom.type = input ? sequence : 0;
            seq->atom.size = input ? sizeof(LV2_Atom_Sequence_Body)
                                   : static_cast<uint32_t>(bytes.size() - sizeof(LV2_Atom));
            seq->body.unit = 0;
            seq->body.pad = 0;
        }
    };
    std::vector<AtomBuffer> atoms;
    std::vector<uint32_t> audioIn, audioOut;
    uint32_t latencyPort = UINT32_MAX;
};

struct Prepared {
    Row row;
    std::vector<Instance> instances; // one stereo, or two mono
    std::vector<double> passCpu;
    double worstBlock = 0;
    float latency = -1;
    std::vector<double> responseL, responseR; // dB at the --measure frequencies
};

// A control value: a number, or the label of one of the port's scale points.
float controlValue(const LilvPlugin *plugin, const LilvPort *port, const Row &row, const Setting &setting)
{
    const std::string &text = setting.second;
    char *end = nullptr;
    const float v = std::strtof(text.c_str(), &end);
    if (end != text.c_str() && *end == '\0')
        return v;
    LilvScalePoints *points = lilv_port_get_scale_points(plugin, port);
    std::string known;
    float found = NAN;
    if (points != nullptr) {
        LILV_FOREACH(scale_points, it, points)
        {
            const LilvScalePoint *sp = lilv_scale_points_get(points, it);
            const std::string label = lilv_node_as_string(lilv_scale_point_get_label(sp));
            if (label == text)
                found = lilv_node_as_float(lilv_scale_point_get_value(sp));
            known += (known.empty() ? "" : ", ") + ("'" + label + "'");
        }
        lilv_scale_points_free(points);
    }
    if (std::isnan(found))
        fail(row.uri + ": '" + text + "' is neither a number nor a label of port '" + setting.first +
             "'" + (known.empty() ? std::string() : " (labels: " + known + ")"));
    return found;
}

Instance instantiate(LilvWorld *world, const LilvPlugin *plugin, const Row &row, double rate,
                     int block, Features &features)
{
    Instance in;
    in.lilv = lilv_plugin_instantiate(plugin, rate, features.list);
    if (in.lilv == nullptr)
        fail(row.uri + ": instantiate failed");
    const uint32_t n = lilv_plugin_get_num_ports(plugin);
    in.controls.assign(n, 0.0f);
    std::vector<float> defaults(n, 0.0f), mins(n, NAN), maxs(n, NAN);
    lilv_plugin_get_port_ranges_float(plugin, mins.data(), maxs.data(), defaults.data());
    for (size_t i = 0; i < n; ++i)
        in.controls[i] = std::isnan(defaults[i]) ? 0.0f : defaults[i];
    if (lilv_plugin_has_latency(plugin))
        in.latencyPort = lilv_plugin_get_latency_port_index(plugin);

    auto uri = [&](const char *u) { return lilv_new_uri(world, u); };
    LilvNode *input = uri(LV2_CORE__InputPort), *audio = uri(LV2_CORE__AudioPort);
    LilvNode *control = uri(LV2_CORE__ControlPort), *atom = uri(LV2_ATOM__AtomPort);
    LilvNode *optional = uri(LV2_CORE__connectionOptional);
    for (const Setting &setting : row.controls) {
        LilvNode *s = lilv_new_string(world, setting.first.c_str());
        const LilvPort *port = lilv_plugin_get_port_by_symbol(plugin, s);
        lilv_node_free(s);
        if (port == nullptr || !lilv_port_is_a(plugin, port, control))
            fail(row.uri + ": no control port '" + setting.first + "'");
        const uint32_t index = lilv_port_get_index(plugin, port);
        const float value = controlValue(plugin, port, row, setting);
        // A mistaken unit (dB on a linear gain port) often shows as this.
        if (value < mins[index] || value > maxs[index])
            std::fprintf(stderr, "lintaq_lv2_bench: warning: %s: %s=%g is outside [%g, %g]\n",
                         row.label.c_str(), setting.first.c_str(), static_cast<double>(value),
                         static_cast<double>(mins[index]), static_cast<double>(maxs[index]));
        in.controls[index] = value;
    }
    in.atoms.reserve(n);
    for (uint32_t i = 0; i < n; ++i) {
        const LilvPort *port = lilv_plugin_get_port_by_index(plugin, i);
        const bool isIn = lilv_port_is_a(plugin, port, input);
        if (lilv_port_is_a(plugin, port, audio)) {
            (isIn ? in.audioIn : in.audioOut).push_back(i);
        } else if (lilv_port_is_a(plugin, port, control)) {
            lilv_instance_connect_port(in.lilv, i, &in.controls[i]);
        } else if (lilv_port_is_a(plugin, port, atom)) {
            auto &buf = in.atoms.emplace_back();
            buf.bytes.assign(static_cast<size_t>(block) * 16 + 4096, 0);
            buf.input = isIn;
            buf.sequence = features.urids.map(LV2_ATOM__Sequence);
            buf.reset();
            lilv_instance_connect_port(in.lilv, i, buf.bytes.data());
        } else if (lilv_port_has_property(plugin, port, optional)) {
            lilv_instance_connect_port(in.lilv, i, nullptr);
        } else {
            fail(row.uri + ": port " + std::to_string(i) + " has a type this host does not offer");
        }
    }
    for (LilvNode *node : {input, audio, control, atom, optional})
        lilv_node_free(node);
    return in;
}

// Runs one block of n frames of both channels through a row's instances;
// returns the CPU seconds spent inside run().
double runBlock(Prepared &p, float *const in[2], float *const out[2], uint32_t n)
{
    const size_t perInstance = p.instances[0].audioIn.size();
    double cpu = 0;
    for (size_t k = 0; k < p.instances.size(); ++k) {
        Instance &inst = p.instances[k];
        for (size_t a = 0; a < perInstance; ++a) {
            const size_t c = perInstance == 2 ? a : k;
            lilv_instance_connect_port(inst.lilv, inst.audioIn[a], in[c]);
            lilv_instance_connect_port(inst.lilv, inst.audioOut[a], out[c]);
        }
        for (auto &atom : inst.atoms)
            atom.reset();
        const double t0 = threadCpuSeconds();
        lilv_instance_run(inst.lilv, n);
        cpu += threadCpuSeconds() - t0;
    }
    return cpu;
}

float reportedLatency(const Prepared &p)
{
    const Instance &first = p.instances[0];
    return first.latencyPort != UINT32_MAX ? first.controls[first.latencyPort] : -1.0f;
}

// Runs one pass of the whole signal through a row; returns its CPU seconds.
double runPass(Prepared &p, const Signal &s, int block)
{
    const size_t total = s.frames();
    std::vector<float> in[2], out[2];
    for (int c = 0; c < 2; ++c) {
        in[c].assign(static_cast<size_t>(block), 0.0f);
        out[c].assign(static_cast<size_t>(block), 0.0f);
    }
    float *const inPtr[2] = {in[0].data(), in[1].data()};
    float *const outPtr[2] = {out[0].data(), out[1].data()};
    for (Instance &inst : p.instances)
        lilv_instance_activate(inst.lilv);
    double cpu = 0;
    for (size_t pos = 0; pos < total; pos += static_cast<size_t>(block)) {
        const auto n = static_cast<uint32_t>(std::min(total - pos, static_cast<size_t>(block)));
        for (int c = 0; c < 2; ++c)
            std::memcpy(in[c].data(), s.ch[c].data() + pos, sizeof(float) * n);
        const double blockCpu = runBlock(p, inPtr, outPtr, n);
        cpu += blockCpu;
        p.worstBlock = std::max(p.worstBlock, blockCpu);
    }
    p.latency = reportedLatency(p);
    for (Instance &inst : p.instances)
        lilv_instance_deactivate(inst.lilv);
    return cpu;
}

// The magnitude of sum(w[i] x[i] e^(-j omega i)) over a stretch of samples:
// one bin of a windowed DFT, at any frequency.
double windowedBin(const float *x, size_t n, double omega)
{
    // 4-term Blackman-Harris: its side lobes (-92 dB) keep the other
    // tones out of the bin.
    const double a0 = 0.35875, a1 = 0.48829, a2 = 0.14128, a3 = 0.01168;
    const double step = 2.0 * M_PI / static_cast<double>(n);
    double re = 0, im = 0;
    for (size_t i = 0; i < n; ++i) {
        const double t = step * static_cast<double>(i);
        const double w = a0 - a1 * std::cos(t) + a2 * std::cos(2 * t) - a3 * std::cos(3 * t);
        const double phase = omega * static_cast<double>(i);
        re += w * x[i] * std::cos(phase);
        im -= w * x[i] * std::sin(phase);
    }
    return std::hypot(re, im);
}

// The row's gain in dB at each frequency, both channels: a steady sum of
// equal sines goes through a freshly activated plugin; after its reported
// latency and two seconds to settle (smoothed parameters, filter tails),
// one second of output is compared with one second of input, bin by bin.
// Linear plugins give each tone its own gain, so one run covers them all.
void measureResponse(Prepared &p, double rate, int block, const std::vector<double> &freqs)
{
    const auto settle = static_cast<size_t>(2 * rate), window = static_cast<size_t>(rate);
    const size_t limit = static_cast<size_t>(60 * rate) + settle + window;
    const double amplitude = 0.5 / static_cast<double>(freqs.size());
    std::vector<float> in[2], out[2];
    for (Instance &inst : p.instances)
        lilv_instance_activate(inst.lilv);
    size_t pos = 0, start = SIZE_MAX;
    while (start == SIZE_MAX || pos < start + window) {
        const auto n = static_cast<uint32_t>(block);
        for (int c = 0; c < 2; ++c) {
            in[c].resize(pos + n);
            out[c].resize(pos + n);
        }
        for (size_t i = pos; i < pos + n; ++i) {
            double x = 0;
            for (size_t k = 0; k < freqs.size(); ++k) // spread phases keep the peak low
                x += amplitude * std::sin(2 * M_PI * freqs[k] * static_cast<double>(i) / rate + 2.4 * static_cast<double>(k));
            in[0][i] = in[1][i] = static_cast<float>(x);
        }
        float *const inPtr[2] = {in[0].data() + pos, in[1].data() + pos};
        float *const outPtr[2] = {out[0].data() + pos, out[1].data() + pos};
        runBlock(p, inPtr, outPtr, n);
        pos += n;
        const float latency = reportedLatency(p);
        const size_t delay = latency > 0 ? static_cast<size_t>(latency) : 0;
        start = delay + settle;
        if (start + window > limit)
            fail(p.row.label + ": reported latency too long to measure (" + std::to_string(delay) + ")");
    }
    for (Instance &inst : p.instances)
        lilv_instance_deactivate(inst.lilv);
    for (double f : freqs) {
        const double omega = 2 * M_PI * f / rate;
        const double ref = windowedBin(in[0].data() + settle, window, omega);
        p.responseL.push_back(20 * std::log10(windowedBin(out[0].data() + start, window, omega) / ref));
        p.responseR.push_back(20 * std::log10(windowedBin(out[1].data() + start, window, omega) / ref));
    }
}

std::vector<double> parseList(const std::string &text)
{
    std::vector<double> v;
    if (!parseNumberList(text, v))
        fail("bad list of numbers '" + text + "'");
    return v;
}

// SYM=VALUE, the value checked against the port when the plugin is known.
bool parseSetting(const std::string &arg, Setting &out)
{
    const size_t eq = arg.find('=');
    if (eq == std::string::npos || eq == 0 || arg[0] == '-' || eq + 1 == arg.size())
        return false;
    out = {arg.substr(0, eq), arg.substr(eq + 1)};
    return true;
}

// Measured gain per row and frequency, with the deviation from the row's
// target beside it; the worst deviation closes the line. Only the left
// channel is shown: a right channel that differs is flagged.
void printResponses(const std::vector<std::unique_ptr<Prepared>> &rows, const std::vector<double> &freqs)
{
    std::printf("\nmagnitude response in dB, measured (deviation from target)\n%-24s", "row");
    for (double f : freqs) {
        char head[32];
        std::snprintf(head, sizeof head, "%g Hz", f);
        std::printf(" %15s", head);
    }
    std::printf(" %9s\n", "max |dev|");
    const Target *shown = nullptr;
    for (const auto &p : rows) {
        const Target *t = p->row.target;
        if (t != nullptr && t != shown) {
            std::printf("%-24s", ("target: " + t->name).c_str());
            for (double db : t->db)
                std::printf(" %15.2f", db);
            std::printf("\n");
            shown = t;
        }
        std::printf("%-24s", p->row.label.c_str());
        double worst = 0, channels = 0;
        for (size_t i = 0; i < freqs.size(); ++i) {
            const double db = p->responseL[i];
            channels = std::max(channels, std::fabs(db - p->responseR[i]));
            if (t != nullptr) {
                const double dev = db - t->db[i];
                worst = std::max(worst, std::fabs(dev));
                std::printf(" %7.2f (%+5.2f)", db, dev);
            } else {
                std::printf(" %15.2f", db);
            }
        }
        if (t != nullptr)
            std::printf(" %9.2f", worst);
        if (channels > 0.05)
            std::printf("  right channel differs by up to %.2f dB", channels);
        std::printf("\n");
    }
}

} // namespace

int main(int argc, char **argv)
{
    double rate = 48000, seconds = 60;
    int block = 1024, repeat = 3;
    std::string input, bundle;
    std::vector<Setting> common;
    std::vector<Row> rows;
    std::vector<double> measureAt;
    // Stable addresses: rows point at the target given before them.
    std::vector<std::unique_ptr<Target>> targets;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto next = [&]() -> std::string {
            if (i + 1 >= argc)
                fail("missing value after " + a);
            return argv[++i];
        };
        if (a == "--rate")
            rate = std::atof(next().c_str());
        else if (a == "--seconds")
            seconds = std::atof(next().c_str());
        else if (a == "--input")
            input = next();
        else if (a == "--block")
            block = std::atoi(next().c_str());
        else if (a == "--repeat")
            repeat = std::atoi(next().c_str());
        else if (a == "--bundle")
            bundle = next();
        else if (a == "--measure")
            measureAt = parseList(next());
        else if (a == "--target") {
            auto t = std::make_unique<Target>();
            t->name = next();
            t->db = parseList(next());
            targets.push_back(std::move(t));
        } else if (a == "-c") {
            Setting s;
            if (!parseSetting(next(), s))
                fail("bad setting '" + std::string(argv[i]) + "', want SYM=VALUE");
            common.push_back(s);
        } else if (a == "--row") {
            Row r;
            r.label = next();
            r.uri = next();
            r.controls = common;
            r.target = targets.empty() ? nullptr : targets.back().get();
            Setting s;
            while (i + 1 < argc && parseSetting(argv[i + 1], s)) {
                r.controls.push_back(s);
                ++i;
            }
            rows.push_back(r);
        } else {
            fail("unknown argument '" + a + "' (see the head of lv2_bench.cpp)");
        }
    }
    if (rows.empty())
        fail("no --row given");
    if (block < 1 || repeat < 1 || !(rate > 0) || !(seconds > 0))
        fail("block, repeat, rate and seconds must be positive");

    const Signal signal = input.empty() ? generate(rate, seconds) : load(input);
    for (size_t i = 0; i < measureAt.size(); ++i) {
        if (!(measureAt[i] > 0) || !(measureAt[i] < signal.rate / 2))
            fail("measure frequencies must lie between 0 and half the rate");
        // The window's main lobe is 4 Hz wide each side over one second.
        for (size_t j = 0; j < i; ++j)
            if (std::fabs(measureAt[i] - measureAt[j]) < 5)
                fail("measure frequencies must lie 5 Hz apart at least");
    }
    for (const auto &t : targets)
        if (t->db.size() != measureAt.size())
            fail("target '" + t->name + "' needs one value per --measure frequency");
    LilvWorld *world = lilv_world_new();
    lilv_world_load_all(world);
    if (!bundle.empty()) {
        // lilv wants an absolute file URI.
        char *absolute = realpath(bundle.c_str(), nullptr);
        if (absolute == nullptr)
            fail("no bundle folder " + bundle);
        bundle = absolute;
        std::free(absolute);
        if (bundle.back() != '/')
            bundle += '/';
        LilvNode *b = lilv_new_file_uri(world, nullptr, bundle.c_str());
        lilv_world_load_bundle(world, b);
        lilv_node_free(b);
    }
    Features features;
    features.build(block, signal.rate);

    std::vector<std::unique_ptr<Prepared>> prepared;
    for (const Row &r : rows) {
        LilvNode *u = lilv_new_uri(world, r.uri.c_str());
        const LilvPlugin *plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world), u);
        lilv_node_free(u);
        if (plugin == nullptr)
            fail("plugin not found: " + r.uri);
        auto p = std::make_unique<Prepared>();
        p->row = r;
        p->instances.push_back(instantiate(world, plugin, r, signal.rate, block, features));
        const size_t ins = p->instances[0].audioIn.size(), outs = p->instances[0].audioOut.size();
        if (ins == 1 && outs == 1)
            p->instances.push_back(instantiate(world, plugin, r, signal.rate, block, features));
        else if (!(ins == 2 && outs == 2))
            fail(r.uri + ": wants 1 in/1 out or 2 in/2 out audio ports");
        prepared.push_back(std::move(p));
    }

    // Passes taken in turn across rows, so a change in machine load over the
    // run falls on every row alike.
    for (int pass = 0; pass < repeat; ++pass)
        for (auto &p : prepared)
            p->passCpu.push_back(runPass(*p, signal, block));

    const double audioSeconds = static_cast<double>(signal.frames()) / signal.rate;
    std::printf("%.1f s of stereo audio at %.0f Hz, %d-frame blocks, median of %d passes\n",
                audioSeconds, signal.rate, block, repeat);
    std::printf("%-24s %14s %10s %14s %10s  %s\n", "row", "cpu s/min", "x realtime", "worst block ms",
                "latency", "plugin");
    for (auto &p : prepared) {
        std::vector<double> v = p->passCpu;
        std::sort(v.begin(), v.end());
        const double cpu = v[v.size() / 2];
        const double perMinute = cpu / audioSeconds * 60.0;
        char latency[32];
        if (p->latency >= 0)
            std::snprintf(latency, sizeof latency, "%.0f", p->latency);
        else
            std::snprintf(latency, sizeof latency, "-");
        std::printf("%-24s %14.3f %10.1f %14.3f %10s  %s%s\n", p->row.label.c_str(), perMinute,
                    audioSeconds / cpu, p->worstBlock * 1e3, latency, p->row.uri.c_str(),
                    p->instances.size() == 2 ? " (x2 mono)" : "");
    }
    if (!measureAt.empty()) {
        for (auto &p : prepared)
            measureResponse(*p, signal.rate, block, measureAt);
        printResponses(prepared, measureAt);
    }
    for (auto &p : prepared)
        for (Instance &inst : p->instances)
            lilv_instance_free(inst.lilv);
    lilv_world_free(world);
    return 0;
}
