// The bundle inside two real LV2 hosts, lv2apply (lilv) and lv2file, run on
// WAV files made here. Neither host compensates latency, so an output file
// is the input's length with the equalised signal delayed by the latency.
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sndfile.h>

#include "lv2_support.h"

namespace {

using namespace lv2test;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

// Mode 3 keeps the files short: its latency plus a stretch of audio.
constexpr int kFrames = 8266 + 8000;

enum class Host { lv2apply, lv2file };

std::string quote(const std::string &s)
{
    std::string out = "'";
    for (char c : s)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

std::string number(float v)
{
    if (std::isnan(v))
        return "nan";
    if (std::isinf(v))
        return v > 0 ? "inf" : "-inf";
    std::ostringstream s;
    s.precision(9);
    s << v;
    return s.str();
}

struct HostRun {
    int status;
    std::string log;
};

// Runs a host on one file with the given controls, with LV2_PATH at the
// build-tree bundle only.
HostRun runHost(Host host, const char *uri, const std::string &in, const std::string &out,
                const std::vector<std::pair<std::string, float>> &controls, const TempDir &dir,
                const std::string &extra = "")
{
    std::string cmd = "LV2_PATH=" + quote(LINTAQ_LV2_DIR) + " ";
    if (host == Host::lv2apply) {
        cmd += quote(LV2APPLY) + " -i " + quote(in) + " -o " + quote(out);
        for (const auto &[sym, v] : controls)
            cmd += " -c " + sym + " " + number(v);
    } else {
        cmd += quote(LV2FILE) + " -i " + quote(in) + " -o " + quote(out) + " " + extra;
        for (const auto &[sym, v] : controls)
            cmd += " -p " + sym + ":" + number(v);
    }
    const std::string log = dir.file("host.log");
    cmd.append(" ").append(uri).append(" > ").append(quote(log)).append(" 2>&1");
    HostRun r;
    r.status = std::system(cmd.c_str());
    std::ifstream f(log);
    std::stringstream ss;
    ss << f.rdbuf();
    r.log = cmd + "\n" + ss.str();
    return r;
}

const char *name(Host h) { return h == Host::lv2apply ? "lv2apply" : "lv2file"; }

class InHost : public testing::TestWithParam<Host> {
protected:
    void SetUp() override
    {
        const std::string path = GetParam() == Host::lv2apply ? LV2APPLY : LV2FILE;
        ASSERT_EQ(path.find("NOTFOUND"), std::string::npos)
            << name(GetParam()) << " is missing: scripts/install-deps.sh installs it";
    }
    Host host() const { return GetParam(); }
};

// Float WAV carries the host's own 32-bit samples both ways, so the file
// holds exactly what run() wrote, and run() gives exactly the library's
// output: the comparison is exact.
void expectExactThroughHost(Host host, int channels, const std::string &extra)
{
    TempDir dir;
    const Settings s = twelveBands(channels == 2);
    const Channels input = testSignal(channels, kFrames);
    writeWav(dir.file("in.wav"), input, kRate, SF_FORMAT_FLOAT);
    const HostRun run = runHost(host, channels == 2 ? kStereoUri : kMonoUri, dir.file("in.wav"),
                                dir.file("out.wav"), toControls(s), dir, extra);
    ASSERT_EQ(run.status, 0) << run.log;
    int rate = 0;
    const Channels got = readWav(dir.file("out.wav"), &rate);
    EXPECT_EQ(rate, kRate);
    const Channels want = libraryOutput(toParams(s), s.quality, input);
    ASSERT_EQ(got.size(), want.size()) << run.log;
    for (int c = 0; c < channels; ++c) {
        ASSERT_EQ(got[c].size(), want[c].size());
        long first = -1;
        for (size_t i = 0; i < want[c].size() && first < 0; ++i)
            if (!(got[c][i] == want[c][i]))
                first = static_cast<long>(i);
        EXPECT_EQ(first, -1) << "channel " << c << "\n" << run.log;
    }
}

TEST_P(InHost, OutputIsTheLibrarysBitForBit)
{
    // lv2file in odd blocks that straddle the engine's hops; lv2apply
    // always runs frame by frame.
    expectExactThroughHost(host(), 2, "-b 1000");
    expectExactThroughHost(host(), 1, "-b 4097");
}

TEST_P(InHost, SixteenBitOutputIsTheLibrarysWithinTheConversion)
{
    // The host reads 16-bit samples as k/32768 (the test reads the input the
    // same way, so both start from the same floats) and libsndfile writes a
    // float y as round(y * 32767), read back as that over 32768. The product
    // is formed in single precision, off by at most half an ulp, |y| * 32767
    // * 2^-24, which can tip a tie. So |file - y| <= (|y| + 0.5 + |y| * 32767
    // * 2^-24) / 32768: the scale mismatch, half a step, and that rounding.
    TempDir dir;
    const Settings s = twelveBands(true);
    writeWav(dir.file("in.wav"), testSignal(2, kFrames), kRate, SF_FORMAT_PCM_16);
    const Channels input = readWav(dir.file("in.wav"));
    const HostRun run =
        runHost(host(), kStereoUri, dir.file("in.wav"), dir.file("out.wav"), toControls(s), dir);
    ASSERT_EQ(run.status, 0) << run.log;
    const Channels got = readWav(dir.file("out.wav"));
    const Channels want = libraryOutput(toParams(s), s.quality, input);
    ASSERT_EQ(got.size(), 2u);
    for (int c = 0; c < 2; ++c) {
        ASSERT_EQ(got[c].size(), want[c].size());
        int bad = 0;
        for (size_t i = 0; i < want[c].size(); ++i) {
            const double y = want[c][i];
            const double bound = (std::fabs(y) * (1.0 + 32767.0 / 16777216.0) + 0.5) / 32768.0;
            bad += std::fabs(got[c][i] - y) <= bound ? 0 : 1;
        }
        EXPECT_EQ(bad, 0) << "channel " << c;
    }
}

TEST_P(InHost, ImpulseComesOutAtTheReportedLatency)
{
    for (int quality : {3, 2}) {
        SCOPED_TRACE(quality);
        // What the plugin reports on its latency port, read in-process.
        Runner probe(kStereoUri);
        probe.set("quality", static_cast<float>(quality));
        probe.activate();
        Channels one(2, std::vector<float>(1, 0.0f));
        runInBlocks(probe, one, {1});
        const long reported = static_cast<long>(probe.latency());
        PeqInstance *e = LintaqInit(quality, 1);
        EXPECT_EQ(reported, LintaqGetLatency(e));
        LintaqExit(e);

        // A linear-phase boost: its impulse response is symmetric about the
        // peak, which is where the impulse lands.
        TempDir dir;
        constexpr int kAt = 123;
        Channels x(2, std::vector<float>(static_cast<size_t>(reported + 3000), 0.0f));
        x[0][kAt] = 0.5f;
        x[1][kAt] = -0.5f;
        writeWav(dir.file("in.wav"), x, kRate, SF_FORMAT_FLOAT);
        const HostRun run = runHost(host(), kStereoUri, dir.file("in.wav"), dir.file("out.wav"),
                                    {{"quality", static_cast<float>(quality)},
                                     {"band7_enable", 1},
                                     {"band7_gain", 6},
                                     {"band7_q", 3}},
                                    dir);
        ASSERT_EQ(run.status, 0) << run.log;
        const Channels y = readWav(dir.file("out.wav"));
        for (const auto &c : y) {
            size_t peak = 0;
            for (size_t i = 1; i < c.size(); ++i)
                if (std::fabs(c[i]) > std::fabs(c[peak]))
                    peak = i;
            EXPECT_EQ(static_cast<long>(peak) - kAt, reported);
        }
    }
}

TEST_P(InHost, HostileControlsAndSamplesNeitherCrashNorPoison)
{
    // NaN, infinities and out-of-range values on the command line, and a
    // burst of non-finite samples at the start of the file. Expected: the
    // values held to their ranges (NaN to the port default, stated here),
    // the bad samples taken as silence, and every later sample exactly the
    // library's.
    TempDir dir;
    Settings s = twelveBands(true);
    auto controls = toControls(s);
    const std::vector<std::pair<std::string, float>> hostile = {
        {"band2_freq", kNaN},  {"band3_freq", kInf},   {"band4_gain", -kInf}, {"band5_q", kNaN},
        {"band6_q", -3},       {"band8_type", 17},     {"band9_enable", -2},  {"band10_gain", 500},
        {"band12_enable", kInf}, {"oversample", kNaN}, {"quality", kNaN},
    };
    controls.insert(controls.end(), hostile.begin(), hostile.end());
    // The same, as the plugin must clamp it.
    s.bands[1].freq = 90;     // band 2's default
    s.bands[2].freq = 24000;
    s.bands[3].gain = -24;
    s.bands[4].q = 1;         // a peak band's default
    s.bands[5].q = 0.1f;
    s.bands[7].type = LINTAQ_LOW_PASS;
    s.bands[8].enable = LINTAQ_OFF;
    s.bands[9].gain = 24;
    s.bands[11].enable = LINTAQ_SIDE;
    s.oversample = false;
    const int mode = 2; // NaN quality takes the default mode

    Channels input = testSignal(2, 12362 + 6000);
    Channels clean = input;
    const float bad[] = {kNaN, kInf, -kInf};
    for (int i = 0; i < 300; i += 7) {
        input[i % 2][i] = bad[i % 3];
        clean[i % 2][i] = 0.0f;
    }
    writeWav(dir.file("in.wav"), input, kRate, SF_FORMAT_FLOAT);
    const HostRun run =
        runHost(host(), kStereoUri, dir.file("in.wav"), dir.file("out.wav"), controls, dir, "--ignore-clipping");
    ASSERT_EQ(run.status, 0) << run.log;
    const Channels got = readWav(dir.file("out.wav"));
    const Channels want = libraryOutput(toParams(s), mode, clean);
    ASSERT_EQ(got.size(), 2u);
    for (int c = 0; c < 2; ++c) {
        ASSERT_EQ(got[c].size(), want[c].size());
        long first = -1, nonFinite = 0;
        for (size_t i = 0; i < want[c].size(); ++i) {
            nonFinite += std::isfinite(got[c][i]) ? 0 : 1;
            if (first < 0 && !(got[c][i] == want[c][i]))
                first = static_cast<long>(i);
        }
        EXPECT_EQ(nonFinite, 0) << c;
        EXPECT_EQ(first, -1) << "channel " << c << "\n" << run.log;
    }
}

INSTANTIATE_TEST_SUITE_P(Hosts, InHost, testing::Values(Host::lv2apply, Host::lv2file),
                         [](const auto &p) { return std::string(name(p.param)); });

TEST(Bundle, TurtleValidatesAgainstTheLv2Schemas)
{
    // sord_validate (Debian's sordi package) is optional; lv2_validate
    // feeds it the installed LV2 schemas together with our files.
    if (std::string(SORD_VALIDATE).find("NOTFOUND") != std::string::npos ||
        std::string(LV2_VALIDATE).find("NOTFOUND") != std::string::npos)
        GTEST_SKIP() << "sord_validate not installed (Debian package sordi)";
    TempDir dir;
    const std::string log = dir.file("validate.log");
    const std::string cmd = quote(LV2_VALIDATE) + " " + quote(LINTAQ_LV2_BUNDLE "/manifest.ttl") + " " +
                            quote(LINTAQ_LV2_BUNDLE "/lintaq.ttl") + " > " + quote(log) + " 2>&1";
    const int status = std::system(cmd.c_str());
    std::ifstream f(log);
    std::stringstream ss;
    ss << f.rdbuf();
    EXPECT_EQ(status, 0) << ss.str();
    EXPECT_NE(ss.str().find("Found 0 errors"), std::string::npos) << ss.str();
    EXPECT_EQ(ss.str().find("warning"), std::string::npos) << ss.str();
}

} // namespace
