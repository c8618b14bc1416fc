// The LV2 bundles through liblilv: the Turtle DPF generates against the
// parameter table and the earlier plugin's URIs and symbols (saved sessions
// rely on them), the schemas, bad control values, factory presets and
// real-time safety. What every format must do is in test_plugin_formats.cpp.
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>

#include <dlfcn.h>
#include <pthread.h>

#include <lilv/lilv.h>
#include <lv2/atom/atom.h>
#include <lv2/port-props/port-props.h>
#include <lv2/presets/presets.h>
#include <sndfile.hh>

#include "lv2_host.h"
#include "lv2_port_layout.h"
#include "plugin_expect.h"
#include "presets.h"

// Counting wrappers for the C allocator and pthread_mutex_lock, which the
// plugin, loaded with dlopen, binds to (operator new ends in malloc). Under
// AddressSanitizer, which owns the allocator, they are left out and the
// real-time test skips.
namespace {
std::atomic<bool> counting{false};
std::atomic<long> allocations{0}, locks{0};
} // namespace
#if !defined(__SANITIZE_ADDRESS__)
static void note(std::atomic<long> &n)
{
    if (counting.load(std::memory_order_relaxed))
        n.fetch_add(1, std::memory_order_relaxed);
}
extern "C" {
void *__libc_malloc(size_t), *__libc_calloc(size_t, size_t), *__libc_realloc(void *, size_t);
void *__libc_memalign(size_t, size_t);
void *malloc(size_t n) { return note(allocations), __libc_malloc(n); }
void *calloc(size_t n, size_t s) { return note(allocations), __libc_calloc(n, s); }
void *realloc(void *p, size_t n) { return note(allocations), __libc_realloc(p, n); }
void *aligned_alloc(size_t a, size_t n) { return note(allocations), __libc_memalign(a, n); }
int posix_memalign(void **out, size_t a, size_t n) { return note(allocations), (*out = __libc_memalign(a, n)) ? 0 : 12; }
int pthread_mutex_lock(pthread_mutex_t *m)
{
    static auto real = reinterpret_cast<int (*)(pthread_mutex_t *)>(dlsym(RTLD_NEXT, "pthread_mutex_lock"));
    return note(locks), real(m);
}
}
#endif

namespace ptest {
namespace {

constexpr Variant kBoth[] = {Variant::mono, Variant::stereo};

std::pair<int, std::string> shell(const std::string &cmd)
{
    std::string log = cmd + "\n";
    FILE *p = popen((cmd + " 2>&1").c_str(), "r");
    for (int ch; (ch = std::fgetc(p)) != EOF;)
        log += static_cast<char>(ch);
    return {pclose(p), log};
}

TEST(Lv2Bundle, PortsCarryTheParameterTableUnderTheEarlierSymbols)
{
    auto node = [](const char *uri) { return lilv_new_uri(lv2World(), uri); };
    LilvNode *integer = node(LV2_CORE__integer), *enumeration = node(LV2_CORE__enumeration),
             *toggled = node(LV2_CORE__toggled), *log = node(LV2_PORT_PROPS__logarithmic),
             *output = node(LV2_CORE__OutputPort), *latency = node(LV2_CORE__latency),
             *enabled = node(LV2_CORE_PREFIX "enabled");
    for (Variant v : kBoth) {
        const LilvPlugin *p = lv2Plugin(v);
        ASSERT_NE(p, nullptr) << lv2Uri(v);
        EXPECT_TRUE(lilv_plugin_verify(p));
        const uint32_t ports = lilv_plugin_get_num_ports(p);
        std::vector<float> lo(ports), hi(ports), def(ports);
        lilv_plugin_get_port_ranges_float(p, lo.data(), hi.data(), def.data());
        // Symbols written out here, not taken from the table: sessions keep
        // them, so a change must show.
        std::vector<std::string> earlier = {"quality", "oversample"};
        for (int k = 1; k <= LINTAQ_BANDS; ++k)
            for (const char *f : {"enable", "type", "freq", "gain", "q"})
                earlier.push_back("band" + std::to_string(k) + "_" + f);
        for (uint32_t i = 0; i < kBypass; ++i) {
            const std::string symbol = paramSymbol(i);
            SCOPED_TRACE(symbol);
            if (i < earlier.size()) {
                EXPECT_EQ(symbol, earlier[i]);
            }
            LilvNode *s = lilv_new_string(lv2World(), symbol.c_str());
            const LilvPort *port = lilv_plugin_get_port_by_symbol(p, s);
            lilv_node_free(s);
            ASSERT_NE(port, nullptr);
            const uint32_t k = lilv_port_get_index(p, port);
            auto has = [&](const LilvNode *property) { return lilv_port_has_property(p, port, property); };
            const Range r = paramRange(v, i);
            EXPECT_EQ(std::tuple(lo[k], hi[k], def[k]), std::tuple(r.min, r.max, r.def));
            EXPECT_EQ(has(log), r.kind == Kind::logarithmic);
            EXPECT_EQ(has(toggled), r.kind == Kind::toggle);
            EXPECT_EQ(has(enumeration), r.kind == Kind::enumeration);
            EXPECT_EQ(has(integer), r.kind == Kind::enumeration || r.kind == Kind::toggle);
            std::set<int> labelled, values;
            LilvScalePoints *points = lilv_port_get_scale_points(p, port);
            LILV_FOREACH (scale_points, it, points)
                labelled.insert(lilv_node_as_int(lilv_scale_point_get_value(lilv_scale_points_get(points, it))));
            lilv_scale_points_free(points);
            for (int x = static_cast<int>(r.min); r.kind == Kind::enumeration && x <= static_cast<int>(r.max); ++x)
                values.insert(x);
            EXPECT_EQ(labelled, values) << "one label for each enumerated value";
        }
        const LilvPort *lat = lilv_plugin_get_port_by_designation(p, output, latency);
        ASSERT_NE(lat, nullptr);
        LilvNode *input = node(LV2_CORE__InputPort);
        const LilvPort *bypass = lilv_plugin_get_port_by_designation(p, input, enabled);
        lilv_node_free(input);
        ASSERT_NE(bypass, nullptr) << "the host's bypass";
    }
    for (LilvNode *n : {integer, enumeration, toggled, log, output, latency, enabled})
        lilv_node_free(n);
}

// The Windows bundles are checked under Wine by a host without lilv, which
// connects ports by this layout.
TEST(Lv2Bundle, PortLayoutIsTheOneTheLilvLessHostUses)
{
    const char *const in[2][2] = {{"lv2_in", nullptr}, {"lv2_in_l", "lv2_in_r"}};
    const char *const out[2][2] = {{"lv2_out", nullptr}, {"lv2_out_l", "lv2_out_r"}};
    for (Variant v : kBoth) {
        Lv2Instance p(v, 48000);
        ASSERT_TRUE(p.ok());
        const int s = v == Variant::stereo ? 1 : 0;
        for (int c = 0; c < channelsOf(v); ++c) {
            EXPECT_EQ(p.portIndex(in[s][c]), static_cast<int>(lv2AudioInPort(v, c)));
            EXPECT_EQ(p.portIndex(out[s][c]), static_cast<int>(lv2AudioOutPort(v, c)));
        }
        EXPECT_EQ(p.portIndex("lv2_latency"), static_cast<int>(lv2LatencyPort(v)));
        for (uint32_t i = 0; i < kParamCount; ++i)
            EXPECT_EQ(p.portIndex(i == kBypass ? "lv2_enabled" : paramSymbol(i)), static_cast<int>(lv2ControlPort(v, i)))
                << paramSymbol(i);
        EXPECT_EQ(lilv_plugin_get_num_ports(p.plugin()), lv2ControlPort(v, kParamCount));
    }
}

TEST(Lv2Bundle, TurtleValidatesAgainstTheLv2Schemas)
{
    if (std::string(LV2_VALIDATE).find("NOTFOUND") != std::string::npos)
        GTEST_SKIP() << "lv2_validate not installed (Debian package lilv-utils with sordi)";
    for (Variant v : kBoth) {
        const std::string b = lv2Bundle(v), name = v == Variant::stereo ? "lintaq-stereo" : "lintaq-mono";
        // DPF's program interface belongs to a vocabulary Debian does not
        // package; its one class is declared beside the test.
        const auto [status, log] = shell(std::string(LV2_VALIDATE) + " " + LINTAQ_TEST_DIR "/kxstudio-programs.ttl " +
                                         b + "manifest.ttl " + b + name + ".ttl " + b + "presets.ttl");
        EXPECT_EQ(status, 0) << log;
        EXPECT_NE(log.find("Found 0 errors"), std::string::npos) << log;
    }
}

// Hostile values as hosts may write them to a control port, and what the
// engine must see instead: NaN takes the default, the rest is held to the
// range, enumerations round to the nearest, toggles are on above the middle.
TEST(Lv2Plugin, HostileControlValuesAreHeldToTheirRanges)
{
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    const struct {
        uint32_t index;
        float raw, tamed;
    } rows[] = {{kOversample, 0.75f, 1},
                {bandParam(0, kFreq), nan, 30},
                {bandParam(1, kFreq), inf, kMaxFreq},
                {bandParam(2, kFreq), -inf, kMinFreq},
                {bandParam(2, kGain), nan, 0},
                {bandParam(3, kQ), inf, kMaxQ},
                {bandParam(4, kQ), nan, kPeakQ},
                {bandParam(5, kEnable), -2, 0},
                {bandParam(6, kGain), 1e9f, kMaxGain},
                {bandParam(7, kGain), -inf, -kMaxGain},
                {bandParam(7, kQ), -1, kMinQ},
                {bandParam(8, kType), 9, LINTAQ_LOW_PASS},
                {bandParam(9, kType), 2.6f, LINTAQ_HIGH_PASS},
                {bandParam(10, kType), nan, LINTAQ_HIGH_SHELF},
                {bandParam(11, kEnable), 99, LINTAQ_SIDE}};
    Values raw = busy(Variant::stereo, 3), tamed = raw;
    for (const auto &r : rows) {
        raw[r.index] = r.raw;
        tamed[r.index] = r.tamed;
    }
    Lv2Instance p(Variant::stereo, 48000);
    ASSERT_TRUE(p.ok());
    p.setAll(raw);
    const Channels in = testSignal(2, static_cast<size_t>(modeLatency(3)) + 9000, 0, 48000);
    Channels io = in;
    p.process(io, 2048);
    expectSameBits(io, libraryOutput(tamed, 48000, in), "hostile controls");
}

TEST(Lv2Plugin, FactoryPresetsCarryTheirSettings)
{
    LilvNode *presetClass = lilv_new_uri(lv2World(), LV2_PRESETS__Preset);
    LilvNode *label = lilv_new_uri(lv2World(), LILV_NS_RDFS "label");
    for (Variant v : kBoth) {
        const LilvPlugin *p = lv2Plugin(v);
        ASSERT_NE(p, nullptr);
        LilvNodes *presets = lilv_plugin_get_related(p, presetClass);
        std::map<std::string, const LilvNode *> byName;
        LILV_FOREACH (nodes, it, presets) {
            const LilvNode *preset = lilv_nodes_get(presets, it);
            lilv_world_load_resource(lv2World(), preset);
            LilvNodes *labels = lilv_world_find_nodes(lv2World(), preset, label, nullptr);
            if (labels != nullptr && lilv_nodes_size(labels) > 0)
                byName[lilv_node_as_string(lilv_nodes_get_first(labels))] = preset;
            lilv_nodes_free(labels);
        }
        ASSERT_EQ(byName.size(), kPresetCount);
        for (const Preset &preset : kPresets) {
            SCOPED_TRACE(preset.name);
            ASSERT_EQ(byName.count(preset.name), 1u);
            Lv2Instance inst(v, 48000);
            ASSERT_TRUE(inst.ok());
            ASSERT_TRUE(inst.applyPreset(byName[preset.name]));
            // What the preset says, from its table row.
            Values x = defaults(v);
            x[kQuality] = static_cast<float>(preset.quality);
            x[kOversample] = preset.oversample ? 1.0f : 0.0f;
            for (int k = 0; k < preset.bandCount; ++k) {
                const PresetBand &b = preset.bands[k];
                x[bandParam(b.band, kEnable)] = 1;
                x[bandParam(b.band, kType)] = static_cast<float>(b.type);
                x[bandParam(b.band, kFreq)] = b.freq;
                x[bandParam(b.band, kGain)] = b.gain;
                x[bandParam(b.band, kQ)] = b.q;
            }
            const Channels in = testSignal(channelsOf(v), static_cast<size_t>(modeLatency(preset.quality)) + 3000, 0, 48000);
            Channels io = in;
            inst.process(io, 4096);
            expectSameBits(io, libraryOutput(x, 48000, in), preset.name);
        }
        lilv_nodes_free(presets);
    }
    lilv_node_free(presetClass);
    lilv_node_free(label);
}

// The command-line tool's presets, converted to LV2 presets, give in the
// plugin what `lintaq process --preset` gives (without frame noise, which
// the plugin does not have), only delayed by the latency the tool trims.
TEST(Lv2Plugin, ToolPresetsConvertedGiveTheToolsOutput)
{
    const std::filesystem::path work = std::filesystem::path(LINTAQ_TEST_WORK_DIR) / "tool-presets";
    std::filesystem::remove_all(work);
    std::filesystem::create_directories(work);
    LilvNode *presetClass = lilv_new_uri(lv2World(), LV2_PRESETS__Preset);
    LilvNode *label = lilv_new_uri(lv2World(), LILV_NS_RDFS "label");
    int converted = 0;
    for (const auto &file : std::filesystem::directory_iterator(LINTAQ_CLI_PRESETS)) {
        if (file.path().extension() != ".json")
            continue;
        SCOPED_TRACE(file.path().string());
        const std::filesystem::path out = work / file.path().stem();
        const auto [status, log] = shell(std::string(LINTAQ_LV2_PRESET_TOOL) + " " + file.path().string() + " " + out.string());
        ASSERT_EQ(status, 0) << log;
        std::vector<std::filesystem::path> bundles;
        for (const auto &d : std::filesystem::directory_iterator(out))
            bundles.push_back(d.path());
        ASSERT_EQ(bundles.size(), 1u) << "one bundle, nothing left half-written";
        ASSERT_EQ(bundles[0].extension(), ".lv2");
        LilvNode *b = lilv_new_file_uri(lv2World(), nullptr, (bundles[0].string() + "/").c_str());
        lilv_world_load_bundle(lv2World(), b);
        lilv_node_free(b);

        // The preset's label is the JSON's name; find it among the plugin's.
        std::ifstream in(file.path());
        const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const size_t at = text.find("\"name\"");
        ASSERT_NE(at, std::string::npos);
        const size_t open = text.find('"', text.find(':', at)) + 1;
        const std::string name = text.substr(open, text.find('"', open) - open);
        const LilvNode *preset = nullptr;
        LilvNodes *presets = lilv_plugin_get_related(lv2Plugin(Variant::stereo), presetClass);
        LILV_FOREACH (nodes, it, presets) {
            const LilvNode *p = lilv_nodes_get(presets, it);
            lilv_world_load_resource(lv2World(), p);
            LilvNodes *labels = lilv_world_find_nodes(lv2World(), p, label, nullptr);
            if (labels != nullptr && lilv_nodes_size(labels) > 0 && name == lilv_node_as_string(lilv_nodes_get_first(labels)))
                preset = p;
            lilv_nodes_free(labels);
        }
        ASSERT_NE(preset, nullptr) << name;
        Lv2Instance inst(Variant::stereo, 48000);
        ASSERT_TRUE(inst.ok());
        const bool applied = inst.applyPreset(preset);
        lilv_nodes_free(presets);
        ASSERT_TRUE(applied);

        const Channels input = noiseSignal(2, 60000, 100);
        Channels io = input;
        inst.process(io, 4096);
        const size_t latency = static_cast<size_t>(inst.latency());
        ASSERT_LT(latency, input[0].size());

        const std::string wavIn = (work / "in.wav").string(), wavOut = (work / "out.wav").string();
        {
            SndfileHandle w(wavIn, SFM_WRITE, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, 48000);
            std::vector<float> frames;
            for (size_t i = 0; i < input[0].size(); ++i)
                frames.insert(frames.end(), {input[0][i], input[1][i]});
            ASSERT_EQ(w.writef(frames.data(), static_cast<sf_count_t>(input[0].size())), static_cast<sf_count_t>(input[0].size()));
        }
        const auto [cliStatus, cliLog] = shell(std::string(LINTAQ_CLI) + " process " + wavIn + " " + wavOut +
                                               " --preset " + file.path().string() + " --no-noise --float --overwrite --quiet");
        ASSERT_EQ(cliStatus, 0) << cliLog;
        SndfileHandle r(wavOut);
        ASSERT_EQ(r.frames(), static_cast<sf_count_t>(input[0].size()));
        std::vector<float> frames(2 * input[0].size());
        r.readf(frames.data(), r.frames());
        Channels tool(2), plugin(2);
        for (size_t i = 0; i + latency < input[0].size(); ++i)
            for (size_t c = 0; c < 2; ++c) {
                tool[c].push_back(frames[2 * i + c]);
                plugin[c].push_back(io[c][i + latency]);
            }
        expectSameBits(plugin, tool, name.c_str());
        ++converted;
    }
    EXPECT_GE(converted, 2);
    lilv_node_free(presetClass);
    lilv_node_free(label);
}

// Everything run() does in use, counted: settings every block, a quality
// change, an oversampling crossfade, bypass and the trim.
TEST(RealTime, RunNeitherAllocatesNorLocks)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the counting allocator is left out under AddressSanitizer";
#else
    for (Variant v : kBoth) {
        Lv2Instance p(v, 48000);
        ASSERT_TRUE(p.ok());
        Channels io = testSignal(channelsOf(v), 512, 0, 48000);
        Values x = busy(v, 3);
        counting = true;
        for (int block = 0; block < 300; ++block) {
            x[bandParam(2, kGain)] = static_cast<float>(block % 7);
            x[kQuality] = block < 100 ? 3.0f : 2.0f;
            x[kOversample] = block >= 150 ? 1.0f : 0.0f;
            x[kBypass] = block >= 200 && block < 250 ? 1.0f : 0.0f;
            x[kTrim] = block >= 250 ? -3.0f : 0.0f;
            p.setAll(x);
            p.process(io, 512);
        }
        counting = false;
        EXPECT_EQ(allocations.exchange(0), 0);
        EXPECT_EQ(locks.exchange(0), 0);
    }
    counting = true;
    void *probe = std::malloc(16);
    counting = false;
    std::free(probe);
    EXPECT_GT(allocations.exchange(0), 0) << "the wrappers miss the plugin";
#endif
}

} // namespace
} // namespace ptest
