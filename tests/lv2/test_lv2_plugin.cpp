// The bundle in-process through liblilv: its Turtle against the port table,
// its output against the library's, bad controls and samples, the latency
// report, quality-mode changes, restarts and real-time safety; then inside
// two real hosts, lv2apply (lilv) and lv2file, on WAV files made here.
//
// Outputs are compared exactly: the plugin hands the engine the very
// samples and parameter block the reference gets, and the engine's output
// does not depend on how a stream is cut into blocks, so any difference is
// a fault, not rounding.
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <set>

#include <dlfcn.h>
#include <pthread.h>

#include <gtest/gtest.h>
#include <lv2/port-props/port-props.h>
#include <sndfile.hh>

#include "lv2_support.h"
#include "port_table.h"

// Counting wrappers for the C allocator and pthread_mutex_lock, which the
// plugin, loaded with dlopen, binds to (operator new ends in malloc). Under
// AddressSanitizer, which owns the allocator, they are left out and the
// real-time test skips, as do the hosts, which cannot load that plugin.
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

namespace {

using namespace lv2test;
using lintaq_lv2::Kind;

// Runs a shell command; returns its exit status and the command with its output.
std::pair<int, std::string> shell(const std::string &cmd)
{
    std::string log = cmd + "\n";
    FILE *p = popen((cmd + " 2>&1").c_str(), "r");
    for (int ch; (ch = std::fgetc(p)) != EOF;)
        log += char(ch);
    return {pclose(p), log};
}

std::string quote(std::string s)
{
    for (size_t i = 0; (i = s.find('\'', i)) != std::string::npos; i += 4)
        s.replace(i, 1, "'\\''");
    return "'" + s + "'";
}

TEST(Description, PortsRangesAndLatencyAgreeWithThePortTable)
{
    auto node = [](const char *uri) { return lilv_new_uri(world(), uri); };
    static LilvNode *const control = node(LV2_CORE__ControlPort), *const output = node(LV2_CORE__OutputPort),
                           *const integer = node(LV2_CORE__integer), *const enumeration = node(LV2_CORE__enumeration),
                           *const toggled = node(LV2_CORE__toggled), *const log = node(LV2_PORT_PROPS__logarithmic),
                           *const latency = node(LV2_CORE__latency), *const reports = node(LV2_CORE__reportsLatency);
    for (size_t channels : {1, 2}) {
        const auto variant = channels == 1 ? lintaq_lv2::Variant::mono : lintaq_lv2::Variant::stereo;
        const LilvPlugin *p = plugin(channels);
        ASSERT_NE(p, nullptr);
        EXPECT_TRUE(lilv_plugin_verify(p));
        const auto sym = symbols(channels);
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
            const lintaq_lv2::Range r = lintaq_lv2::controlRange(variant, i);
            // The Turtle holds each float's shortest decimal, which reads back
            // as the same float: exact.
            EXPECT_EQ(std::tuple(lo[i], hi[i], def[i]), std::tuple(r.min, r.max, r.def));
            EXPECT_TRUE(lo[i] < hi[i] && lo[i] <= def[i] && def[i] <= hi[i]);
            EXPECT_EQ(std::tuple(has(integer), has(toggled), has(enumeration)),
                      std::tuple(r.kind != Kind::real, r.kind == Kind::toggle, r.kind == Kind::enumeration));
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
        const LilvPort *lat = lilv_plugin_get_port_by_designation(p, output, latency);
        ASSERT_NE(lat, nullptr);
        EXPECT_EQ(lilv_port_get_index(p, lat), uint32_t(lintaq_lv2::kLatency));
        EXPECT_TRUE(lilv_port_has_property(p, lat, reports));
    }
}

TEST(Description, TurtleValidatesAgainstTheLv2Schemas)
{
    // lv2_validate runs sord_validate (Debian's sordi) on the LV2 schemas
    // and our files together.
    if (std::string(SORD_VALIDATE LV2_VALIDATE).find("NOTFOUND") != std::string::npos)
        GTEST_SKIP() << "sord_validate not installed (Debian package sordi)";
    const auto [status, log] = shell(quote(LV2_VALIDATE) + " " + quote(LINTAQ_LV2_BUNDLE "/manifest.ttl") + " " +
                                     quote(LINTAQ_LV2_BUNDLE "/lintaq.ttl"));
    EXPECT_EQ(status, 0) << log;
    EXPECT_NE(log.find("Found 0 errors"), std::string::npos) << log;
    EXPECT_EQ(log.find("warning"), std::string::npos) << log;
}


TEST(Lifecycle, RefusesRatesTheEngineCannotTake)
{
    // The engine takes a whole number of Hz, at least 1, in an int.
    for (double rate : {0.0, 0.5, -48000.0, 3e9, double(kNaN)})
        EXPECT_FALSE(Runner(2, rate).ok()) << rate;
}

TEST(Processing, OutputIsTheLibrarysAndTheLatencyPortItsDelay)
{
    // Hostile rows: hostile values and non-finite samples, then sane values
    // from frame 6144 on, all but the quality, whose NaN stays, so only band
    // ports change; both stretches are the library's on the tamed values and
    // clean samples. Quality values are hostile too: held to the range,
    // rounded to the nearest. Impulse rows find the delay.
    const struct {
        const char *what;
        size_t channels;
        std::vector<size_t> blocks;
        Layout layout = Layout::separate;
        float quality = 3;
        int mode = 3;
        bool impulse = false, oversample = false, hostile = false;
        int rate = kRate;
    } cases[] = {
        {"frame by frame, as lv2apply", 1, {1}},
        {"frame by frame, as lv2apply", 2, {1}},
        {"odd sizes across hops", 1, {7, 1024, 333, 4096, 64, 2049}},
        {"odd sizes across hops", 2, {7, 1024, 333, 4096, 64, 2049}},
        {"in place", 1, {8192}, Layout::inPlace},
        {"in place", 2, {1000}, Layout::inPlace},
        {"crossed", 2, {1000}, Layout::crossed},
        {"hostile", 1, {2048, 1, 1023}, Layout::separate, kNaN, 2, false, false, true},
        {"hostile", 2, {2048, 1, 1023}, Layout::separate, kNaN, 2, false, false, true},
        {"quality", 2, {512}, Layout::separate, -7, 0, true},
        {"quality", 2, {512}, Layout::separate, 1.4f, 1, true},
        {"quality", 2, {512}, Layout::separate, 1.6f, 2, true},
        {"quality", 2, {512}, Layout::separate, kInf, 3, true},
        {"quality", 1, {512}, Layout::separate, 99, 3, true},
        {"quality", 1, {512}, Layout::separate, -kInf, 0, true},
        // Oversampled: each rate takes its own double-rate path.
        {"oversampled", 1, {512}, Layout::separate, 2, 2, true, true},
        {"oversampled", 2, {512}, Layout::separate, 3, 3, false, true, false, 44100},
        {"oversampled", 2, {512}, Layout::separate, 3, 3, true, true, false, 44100},
        {"oversampled", 2, {512}, Layout::separate, 3, 3, true, true, false, 96000},
    };
    constexpr size_t kSane = 6144;
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.what) + ", " + std::to_string(c.channels) + " channels at " +
                     std::to_string(c.rate) + ", quality " + std::to_string(c.quality));
        Controls s = busy(c.channels, c.mode);
        s["oversample"] = c.oversample;
        const size_t latency = size_t(modeLatency(c.mode)), impulseAt = 300;
        Channels input = testSignal(c.channels, latency + 6000);
        for (auto &ch : input)
            if (c.impulse)
                std::fill(ch.begin(), ch.end(), 0.0f), ch[impulseAt] = 0.5f;
        const Channels clean = c.hostile ? poison(input) : input;
        Runner r(c.channels, c.rate);
        r.apply(c.hostile ? hostile(s, false) : s);
        r.set("quality", c.quality);
        const Channels got = runInBlocks(r, input, c.blocks, c.layout, [&](size_t pos) {
            if (c.hostile && pos == kSane)
                r.apply(s), r.set("quality", kNaN);
        });
        std::vector<std::pair<Controls, size_t>> parts = {{s, 0}};
        if (c.hostile)
            parts.insert(parts.begin(), {hostile(s, true), kSane});
        expectWithin(got, libraryOutput(parts, clean, c.rate));
        EXPECT_EQ(r.latency(), float(latency));
        for (size_t ch = 0; c.impulse && ch < got.size(); ++ch)
            EXPECT_EQ(peak(got[ch]), long(impulseAt + latency));
    }
}

TEST(Processing, NoiseSwitchReachesTheEngine)
{
    // Silence in: with the noise some sample is not zero (without it the
    // output is the library's above, which adds none).
    Runner r(1);
    r.apply(busy(1, 3));
    r.set("noise", 1);
    const Channels out = runInBlocks(r, Channels(1, std::vector<float>(20000, 0.0f)), {1024});
    EXPECT_TRUE(std::any_of(out[0].begin(), out[0].end(), [](float x) { return x != 0; }));
}

TEST(ModeChange, NewModeStartsFreshALeftModeNeverReplaysAndRestartsAreClean)
{
    // 2 -> 3 -> 2 in quick succession, in blocks, the return asked for with
    // a new setting. Mode 3 must start from silence at the switch; mode 2,
    // left holding audio, must not play it again, so the return waits for
    // its flush (twice its latency), then takes the new setting.
    Controls s = busy(2, 2);
    const Controls first3 = busy(2, 3);
    const size_t lat2 = size_t(modeLatency(2)), lat3 = size_t(modeLatency(3)), kBlock = 256, kLeft = 48 * kBlock;
    Channels input = testSignal(2, 250 * kBlock), out = input;
    Runner r(2);
    size_t pos = 0, back = 0;
    auto block = [&](const Controls &c) {
        r.apply(c);
        r.run(at(input, pos), at(out, pos), kBlock);
        pos += kBlock;
        return r.latency();
    };
    while (pos < kLeft)
        block(s);
    EXPECT_EQ(block(first3), float(lat3)) << "reported in the call that switches";
    s = hostile(s, true); // tamed: a sane setting in mode 2, every band changed
    while (pos < input[0].size())
        if (block(s) == float(lat2) && back == 0)
            back = pos - kBlock;
    ASSERT_NE(back, 0u) << "never returned to mode 2";
    EXPECT_LE(back, kLeft + 2 * lat2 + kBlock) << "the wait is at most the flush, in whole blocks";
    expectWithin(slice(out, kLeft, back), libraryOutput({{first3, kBlock}, {s, 0}}, slice(input, kLeft, back)));
    // After the return, not to the bit: the returning instance still holds
    // its bands' state, rung down through the flush (1e-22 here). A replay
    // of the old audio (at the signal's level, 0.1 to 10), a flush cut to
    // one latency (-30 dB of it), the old setting, or even the first
    // pre-ringing of a wrong instance (1e-6) is far above 1e-12.
    expectWithin(slice(out, back, pos), libraryOutput(s, slice(input, back, pos)), [](double) { return 1e-12; });

    // A restart in the mode left, which its flush alone would not bring back
    // to the bit, gives what a fresh instance gives.
    r.apply(first3);
    r.restart();
    expectWithin(runInBlocks(r, input, {1000}), libraryOutput(first3, input));
}

TEST(RealTime, RunNeitherAllocatesNorLocks)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer owns the allocator";
#endif
    for (size_t channels : {1, 2}) {
        Runner r(channels);
        const Controls sane = busy(channels, 3), bad = hostile(sane, false);
        Channels in = testSignal(channels, 40000), out = in;
        size_t pos = 0;
        auto run = [&](size_t n, int times) {
            for (int i = 0; i < times; ++i, pos += n)
                r.run(at(in, pos), at(out, pos), n);
        };
        r.apply(sane);
        counting = true;
        run(1, 3000); // frame by frame, as lv2apply
        run(4096, 1);
        r.apply(bad); // mode 2 among them
        run(1000, 1);
        r.set("quality", 0); // a switch, and the flush of the instance left
        run(1024, 20);
        r.apply(sane); // and back to mode 3, flushed by now
        run(1024, 8);
        counting = false;
        EXPECT_EQ(allocations.exchange(0), 0) << channels;
        EXPECT_EQ(locks.exchange(0), 0) << channels;
        // The counters see the plugin's own code: activate renews used instances.
        counting = true;
        r.restart();
        counting = false;
        EXPECT_GT(allocations.exchange(0), 0) << "the wrappers miss the plugin";
    }
}

void writeWav(const std::string &path, const Channels &x, int subtype)
{
    std::vector<float> frames;
    for (size_t i = 0; i < x[0].size(); ++i)
        for (const auto &c : x)
            frames.push_back(c[i]);
    SndfileHandle(path, SFM_WRITE, SF_FORMAT_WAV | subtype, int(x.size()), kRate).writef(frames.data(), sf_count_t(x[0].size()));
}

Channels readWav(const std::string &path)
{
    SndfileHandle f(path);
    std::vector<float> frames(size_t(f.frames() * f.channels()));
    f.readf(frames.data(), f.frames());
    Channels x(size_t(f.channels()), std::vector<float>(size_t(f.frames())));
    for (size_t i = 0; i < frames.size(); ++i)
        x[i % x.size()][i / x.size()] = frames[i];
    return x;
}

TEST(Hosts, OutputIsTheLibrarysAndHostileValuesSurvive)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the hosts cannot load an instrumented plugin";
#endif
    // Neither host compensates latency: an output file is the input's
    // length, delayed.
    const struct {
        const char *what;
        size_t channels;
        int subtype, mode;
        bool impulse, hostile;
    } cases[] = {
        {"float stereo", 2, SF_FORMAT_FLOAT, 3, false, false},
        {"float mono", 1, SF_FORMAT_FLOAT, 3, false, false},
        {"16-bit stereo", 2, SF_FORMAT_PCM_16, 3, false, false},
        {"impulse at the latency", 2, SF_FORMAT_FLOAT, 2, true, false},
        {"hostile values and samples", 2, SF_FORMAT_FLOAT, 2, false, true},
    };
    struct Dir {
        std::string path = testing::TempDir() + "lintaq-lv2-XXXXXX";
        ~Dir() { std::filesystem::remove_all(path); }
    } dir;
    ASSERT_NE(mkdtemp(dir.path.data()), nullptr);
    const std::string in = dir.path + "/in.wav", out = dir.path + "/out.wav";
    for (const std::string host : {LV2APPLY, LV2FILE}) {
        ASSERT_EQ(host.find("NOTFOUND"), std::string::npos) << "scripts/install-deps.sh installs it";
        const bool lv2apply = host.ends_with("lv2apply");
        for (const auto &c : cases) {
            SCOPED_TRACE(host + ": " + c.what);
            const Controls sane = busy(c.channels, c.mode);
            Channels x = testSignal(c.channels, size_t(modeLatency(c.mode)) + 6000);
            for (auto &ch : x)
                if (c.impulse)
                    std::fill(ch.begin(), ch.end(), 0.0f), ch[123] = 0.5f;
            Channels clean = c.hostile ? poison(x) : x;
            writeWav(in, x, c.subtype);
            if (c.subtype != SF_FORMAT_FLOAT)
                clean = readWav(in); // the same quantised floats the host reads

            // lv2file in odd blocks across the engine's hops; lv2apply always
            // runs frame by frame.
            std::string cmd = "LV2_PATH=" + quote(LINTAQ_LV2_DIR) + " " + quote(host) + " -i " + quote(in) + " -o " +
                              quote(out) + (lv2apply ? "" : " --ignore-clipping -b 4097");
            // Both hosts take "nan" and "inf" (std::to_string's spelling) as
            // values; six decimals carry every value used here.
            for (const auto &[symbol, v] : c.hostile ? hostile(sane, false) : sane)
                cmd += (lv2apply ? " -c " + symbol + " " : " -p " + symbol + ":") + std::to_string(v);
            std::filesystem::remove(out);
            const auto [status, log] = shell(cmd + " " + uriFor(c.channels));
            ASSERT_EQ(status, 0) << log;
            const Channels got = readWav(out);
            // Float files carry run()'s own samples: exact. 16-bit: libsndfile
            // writes y as round(y * 32767), read back over 32768; the single-
            // precision product is off by up to half an ulp, |y| * 32767 *
            // 2^-24, which can tip a tie. So the bound is the scale mismatch,
            // half a step, and that ulp.
            expectWithin(got, libraryOutput(c.hostile ? hostile(sane, true) : sane, clean), [&](double y) {
                return c.subtype == SF_FORMAT_FLOAT ? 0.0 : (std::fabs(y) * (1 + 32767.0 / (1 << 24)) + 0.5) / 32768;
            });
            for (size_t ch = 0; c.impulse && ch < got.size(); ++ch)
                EXPECT_EQ(peak(got[ch]) - 123, modeLatency(c.mode));
        }
    }
}

} // namespace
