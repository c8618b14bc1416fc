// The lintaq command end to end: each group names the property it checks.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>

#include "cli_support.h"
#include "xml_reader.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kFloatWav = SF_FORMAT_WAV | SF_FORMAT_FLOAT;

Audio silence(int rate, int channels, long frames, int format = kFloatWav)
{
    return {rate, channels, format, std::vector<float>(static_cast<std::size_t>(frames * channels), 0.0f)};
}

template <class Case>
std::string caseName(const ::testing::TestParamInfo<Case> &p)
{
    return p.param.name;
}

std::string describe(const RunResult &r) { return "exit " + std::to_string(r.exitCode) + ", stderr: " + r.err; }

// ---------------------------------------------------------------------------
// Output sample i carries input sample i, on every path through the engine,
// and the output is exactly as long as the input.

struct PathCase {
    const char *name;
    int rate;
    bool oversample;
    int channels;
};
const PathCase kPaths[] = {
    {"Mono48kDirect", 48000, false, 1},     {"Mono48kOversampled", 48000, true, 1},
    {"Mono44k1Oversampled", 44100, true, 1}, {"Stereo48kDirect", 48000, false, 2},
    {"Stereo48kOversampled", 48000, true, 2}, {"Stereo44k1Oversampled", 44100, true, 2},
};

class TimeAlignment : public ::testing::TestWithParam<PathCase> {};

TEST_P(TimeAlignment, ImpulsesStayAtTheirSampleAndLengthIsKept)
{
    const PathCase &c = GetParam();
    ScratchDir dir;
    const long n = c.rate + 777;  // not a whole number of engine hops
    // Near both ends (so trimming and flushing are both needed) and in the
    // middle; the right channel's elsewhere, so a swap or offset shows.
    const long positions[2][3] = {{3, n / 2 + 11, n - 5}, {8, n / 2 - 101, n - 9}};
    Audio in = silence(c.rate, c.channels, n);
    for (int ch = 0; ch < c.channels; ++ch)
        for (long t : positions[ch]) in.samples[t * c.channels + ch] = 0.5f;
    writeAudio(dir / "in.wav", in);

    const RunResult r = runCli({"process", dir / "in.wav", dir / "out.wav", "--mode", "3", "--no-noise", "--quiet",
                                c.oversample ? "--oversample" : "--no-oversample", "--band", "peak,freq=2000,gain=6,q=1"});
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    const Audio out = readAudio(dir / "out.wav");
    EXPECT_EQ(out.rate, c.rate);
    EXPECT_EQ(out.channels, c.channels);
    EXPECT_EQ(out.format, kFloatWav);
    ASSERT_EQ(out.frames(), n);
    // A zero-phase response peaks at its centre; 400 samples covers the
    // band's main lobe and stays clear of the neighbouring impulse.
    for (int ch = 0; ch < c.channels; ++ch) {
        for (long t : positions[ch]) {
            long best = -1;
            for (long i = std::max(0L, t - 400); i < std::min(n, t + 400); ++i)
                if (best < 0 || std::fabs(out.at(i, ch)) > std::fabs(out.at(best, ch))) best = i;
            EXPECT_EQ(best, t) << "channel " << ch;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(EveryPath, TimeAlignment, ::testing::ValuesIn(kPaths),
                         caseName<PathCase>);

// ---------------------------------------------------------------------------
// The output keeps the input's container and encoding unless told otherwise.

struct FormatCase {
    const char *name;
    int inFormat;
    const char *outName;
    std::vector<std::string> options;
    int expected;
};
const FormatCase kFormats[] = {
    {"WavPcm16Kept", SF_FORMAT_WAV | SF_FORMAT_PCM_16, "out.wav", {}, SF_FORMAT_WAV | SF_FORMAT_PCM_16},
    {"FlacKept", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, "out.flac", {}, SF_FORMAT_FLAC | SF_FORMAT_PCM_24},
    {"AiffKept", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, "out.aiff", {}, SF_FORMAT_AIFF | SF_FORMAT_PCM_16},
    {"UnknownExtensionKeepsInput", SF_FORMAT_WAV | SF_FORMAT_PCM_24, "out.data", {}, SF_FORMAT_WAV | SF_FORMAT_PCM_24},
    {"ExtensionChoosesFlac", kFloatWav, "out.flac", {}, SF_FORMAT_FLAC | SF_FORMAT_PCM_24},
    {"FormatOptionWins", SF_FORMAT_WAV | SF_FORMAT_PCM_16, "out.wav", {"--format", "aiff"}, SF_FORMAT_AIFF | SF_FORMAT_PCM_16},
    {"FloatOption", SF_FORMAT_WAV | SF_FORMAT_PCM_16, "out.wav", {"--float"}, kFloatWav},
};

class OutputFormat : public ::testing::TestWithParam<FormatCase> {};

TEST_P(OutputFormat, FollowsInputThenExtensionThenOptions)
{
    const FormatCase &c = GetParam();
    ScratchDir dir;
    Audio in = silence(44100, 1, 4410, c.inFormat);
    for (long i = 0; i < in.frames(); ++i) in.samples[i] = 0.3f * static_cast<float>(std::sin(0.05 * static_cast<double>(i)));
    writeAudio(dir / "in", in);
    std::vector<std::string> args = {"process", dir / "in", dir / c.outName, "--mode", "3", "--quiet"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const RunResult r = runCli(args);
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    const Audio out = readAudio(dir / c.outName);
    EXPECT_EQ(out.format, c.expected);
    EXPECT_EQ(out.frames(), in.frames());
    EXPECT_EQ(out.rate, 44100);
}

INSTANTIATE_TEST_SUITE_P(Cases, OutputFormat, ::testing::ValuesIn(kFormats),
                         caseName<FormatCase>);

// ---------------------------------------------------------------------------
// A sine comes out with the gain the response graph draws for it, on the
// channels the band is routed to.

enum class Feed { Mono, SameBothSides, OppositeSides };
struct GainCase {
    const char *name;
    unsigned type;
    float freq, gain, q;
    const char *channel;
    Feed feed;
    float sineHz;  // 48000 / sineHz is whole, so the window holds whole periods
    bool toLeft, toRight;
};
const GainCase kGains[] = {
    {"PeakBoostAtCentre", LINTAQ_PEAK, 1000, 6, 1.4f, "both", Feed::Mono, 1000, true, true},
    {"PeakCutAtCentre", LINTAQ_PEAK, 3000, -8, 2, "both", Feed::Mono, 3000, true, true},
    {"LowShelfAtCorner", LINTAQ_LOW_SHELF, 400, 5, 0.7071f, "both", Feed::Mono, 400, true, true},
    {"HighShelfAtCorner", LINTAQ_HIGH_SHELF, 6000, 4, 0.7071f, "both", Feed::Mono, 6000, true, true},
    {"HighPassBelowCorner", LINTAQ_HIGH_PASS, 200, 0, 0.7071f, "both", Feed::Mono, 100, true, true},
    {"LowPassAboveCorner", LINTAQ_LOW_PASS, 8000, 0, 1, "both", Feed::Mono, 12000, true, true},
    {"LeftOnly", LINTAQ_PEAK, 1000, 6, 1, "left", Feed::SameBothSides, 1000, true, false},
    {"RightOnly", LINTAQ_PEAK, 1000, 6, 1, "right", Feed::SameBothSides, 1000, false, true},
    {"MidActsOnCentredSound", LINTAQ_PEAK, 1000, 6, 1, "mid", Feed::SameBothSides, 1000, true, true},
    {"MidIgnoresSideSound", LINTAQ_PEAK, 1000, 6, 1, "mid", Feed::OppositeSides, 1000, false, false},
    {"SideActsOnSideSound", LINTAQ_PEAK, 1000, 6, 1, "side", Feed::OppositeSides, 1000, true, true},
    {"SideIgnoresCentredSound", LINTAQ_PEAK, 1000, 6, 1, "side", Feed::SameBothSides, 1000, false, false},
};

// Amplitude of the `hz` component over frames [from, from + count).
double amplitude(const Audio &a, int ch, double hz, long from, long count)
{
    double s = 0, c = 0;
    for (long i = from; i < from + count; ++i) {
        const double phase = 2 * kPi * hz * static_cast<double>(i) / a.rate;
        s += a.at(i, ch) * std::sin(phase);
        c += a.at(i, ch) * std::cos(phase);
    }
    return 2.0 * std::hypot(s, c) / static_cast<double>(count);
}

class GainAgainstGraph : public ::testing::TestWithParam<GainCase> {};

TEST_P(GainAgainstGraph, MeasuredSineGainMatchesTheDrawnCurve)
{
    const GainCase &c = GetParam();
    ScratchDir dir;
    const int rate = 48000, channels = c.feed == Feed::Mono ? 1 : 2;
    Audio in = silence(rate, channels, rate, kFloatWav);
    for (long i = 0; i < in.frames(); ++i) {
        const float v = 0.25f * static_cast<float>(std::sin(2 * kPi * c.sineHz * static_cast<double>(i) / rate));
        in.samples[i * channels] = v;
        if (channels == 2) in.samples[i * 2 + 1] = c.feed == Feed::OppositeSides ? -v : v;
    }
    writeAudio(dir / "in.wav", in);
    char band[160];
    std::snprintf(band, sizeof band, "%s,freq=%g,gain=%g,q=%g,channel=%s",
                  c.type == LINTAQ_PEAK ? "peak" : c.type == LINTAQ_LOW_SHELF ? "lowshelf"
                  : c.type == LINTAQ_HIGH_SHELF ? "highshelf" : c.type == LINTAQ_HIGH_PASS ? "highpass" : "lowpass",
                  static_cast<double>(c.freq), static_cast<double>(c.gain), static_cast<double>(c.q), c.channel);
    const RunResult r = runCli({"process", dir / "in.wav", dir / "out.wav", "--mode", "3", "--quiet", "--band", band});
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    const Audio out = readAudio(dir / "out.wav");

    PeqParams p = emptyParams(rate, true);
    p.type[0] = c.type;
    p.freq[0] = c.freq;
    p.gain[0] = c.gain;
    p.q[0] = c.q;
    const double curve = graphDb(p, {0}, c.sineHz);
    // The middle half second: the band's rise and fall at the ends of the
    // one-second sine are over by then (its longest response here, the
    // 200 Hz high-pass, settles in well under 0.2 s).
    const long from = rate / 4, count = rate / 2;
    // At centres, corners and on pass-filter skirts the graph and the
    // engine meet in theory; what is left is the 2x resampling filters'
    // passband ripple and float rounding, seen below 0.001 dB here. A
    // misplaced band or a wrong routing is off by decibels.
    constexpr double kTolDb = 0.005;
    for (int ch = 0; ch < channels; ++ch) {
        const bool applied = ch == 0 ? c.toLeft : c.toRight;
        const double measured = 20 * std::log10(amplitude(out, ch, c.sineHz, from, count) /
                                                amplitude(in, ch, c.sineHz, from, count));
        EXPECT_NEAR(measured, applied ? curve : 0.0, kTolDb) << "channel " << ch << ", curve " << curve << " dB";
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, GainAgainstGraph, ::testing::ValuesIn(kGains),
                         caseName<GainCase>);

// ---------------------------------------------------------------------------
// Every refusal exits non-zero with one clear message, and leaves the
// folder as it was: no output, no temporary file, the input untouched.

struct ErrorCase {
    const char *name;
    std::vector<std::string> args;  // "@x" means the file x in the scratch folder
    int exitCode;
    const char *message;
};
const ErrorCase kErrors[] = {
    {"MissingInput", {"process", "@nothere.wav", "@out.wav"}, 1, "input \"@nothere.wav\" does not exist"},
    {"InputIsNotAudio", {"process", "@notaudio.wav", "@out.wav"}, 1, "cannot read \"@notaudio.wav\" as audio"},
    {"InputIsAFolder", {"process", "@sub", "@out.wav"}, 1, "is a folder"},
    {"ThreeChannels", {"process", "@three.wav", "@out.wav"}, 2, "has 3 channels"},
    {"BrokenPresetJson", {"process", "@in.wav", "@out.wav", "--preset", "@broken.json"}, 2, "invalid JSON: parse error at line 1"},
    {"PresetFieldOfWrongType", {"process", "@in.wav", "@out.wav", "--preset", "@wrongtype.json"}, 2, "band 2: freq must be a number"},
    {"MissingPreset", {"process", "@in.wav", "@out.wav", "--preset", "@nothere.json"}, 2, "cannot read preset"},
    {"ThirteenBands", {"process", "@in.wav", "@out.wav", "--preset", "@thirteen.json"}, 2, "13 bands given"},
    {"FreqAtBandLimit", {"process", "@in.wav", "@out.wav", "--band", "peak,freq=21769"}, 2, "#1 \"peak,freq=21769\": freq 21769 Hz is at or above the band limit"},
    {"FreqZero", {"process", "@in.wav", "@out.wav", "--band", "peak,freq=0"}, 2, "freq 0 Hz must be above 0"},
    {"QZero", {"process", "@in.wav", "@out.wav", "--band", "peak,freq=100,q=0"}, 2, "q 0 must be above 0"},
    {"GainNotFinite", {"process", "@in.wav", "@out.wav", "--band", "peak,freq=100,gain=inf"}, 2, "gain inf is not a finite"},
    {"GainTooLarge", {"process", "@in.wav", "@out.wav", "--band", "lowshelf,freq=100,gain=45"}, 2, "gain 45 dB must lie within"},
    {"UnknownType", {"process", "@in.wav", "@out.wav", "--band", "notch,freq=100"}, 2, "unknown type \"notch\""},
    {"UnknownChannel", {"process", "@in.wav", "@out.wav", "--band", "peak,freq=100,channel=centre"}, 2, "unknown channel \"centre\""},
    {"ModeOutOfRange", {"process", "@in.wav", "@out.wav", "--mode", "4"}, 2, "quality mode 4"},
    {"UnknownFormat", {"process", "@in.wav", "@out.wav", "--format", "mp4"}, 2, "unknown --format \"mp4\""},
    {"FloatInFlac", {"process", "@in.wav", "@out.flac", "--float"}, 2, "cannot hold 32-bit float"},
    {"OutputFolderMissing", {"process", "@in.wav", "@missing/out.wav"}, 1, "folder \"@missing\" does not exist"},
    {"OutputFolderUnwritable", {"process", "@in.wav", "/sys/lintaq-test.wav"}, 1, "cannot create a file in \"/sys\""},
    {"OutputIsInput", {"process", "@in.wav", "@in.wav"}, 1, "pass --overwrite"},
    {"OutputIsAFolder", {"process", "@in.wav", "@sub"}, 1, "is a folder"},
    // Fails inside the encoder, after the temporary file exists.
    {"EncoderRefusesRate", {"process", "@in44.wav", "@out.opus"}, 1, "Opus only supports"},
    {"CurveBandAboveLimit", {"curve", "--rate", "44100", "--band", "highshelf,freq=21000", "-o", "@out.svg"}, 2, "band limit of 20000.0 Hz"},
};

std::string expand(const std::string &s, const ScratchDir &dir)
{
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) out += s[i] == '@' ? dir.path + "/" : std::string(1, s[i]);
    return out;
}

class Refusal : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(Refusal, ExitsNonZeroWithOneMessageAndLeavesNoFile)
{
    const ErrorCase &c = GetParam();
    ScratchDir dir;
    Audio in = silence(48000, 2, 4800);
    in.samples[100] = 0.5f;
    writeAudio(dir / "in.wav", in);
    writeAudio(dir / "in44.wav", silence(44100, 2, 4410));
    writeAudio(dir / "three.wav", silence(48000, 3, 4800));
    writeText(dir / "notaudio.wav", "hello, not a sound\n");
    writeText(dir / "broken.json", "{\"bands\": [ {\"type\": \"peak\",, } ]}");
    writeText(dir / "wrongtype.json", R"({"bands": [{"type": "peak", "freq": 100},
                                                   {"type": "peak", "freq": "loud"}]})");
    std::string thirteen = R"({"bands": [)";
    for (int i = 0; i < 13; ++i) thirteen += std::string(i ? "," : "") + R"({"type": "peak", "freq": 1000})";
    writeText(dir / "thirteen.json", thirteen + "]}");
    mkdir((dir / "sub").c_str(), 0755);
    const auto before = dir.entries();
    const std::string inBytes = readBytes(dir / "in.wav");

    std::vector<std::string> args;
    for (const auto &a : c.args) args.push_back(expand(a, dir));
    const RunResult r = runCli(args);

    EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
    EXPECT_NE(r.err.find(expand(c.message, dir)), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << "one line on stderr, got: " << r.err;
    EXPECT_EQ(r.err.rfind("lintaq: error: ", 0), 0u) << r.err;
    EXPECT_EQ(dir.entries(), before);
    EXPECT_EQ(readBytes(dir / "in.wav"), inBytes);
}

INSTANTIATE_TEST_SUITE_P(Cases, Refusal, ::testing::ValuesIn(kErrors), caseName<ErrorCase>);

// ---------------------------------------------------------------------------
// Replacing files: only whole results land, and the input needs consent.

TEST(SafeReplacement, OverwriteReplacesTheInputAndKeepsItsPermissions)
{
    ScratchDir dir;
    Audio in = silence(48000, 1, 9600);
    for (long i = 0; i < in.frames(); ++i) in.samples[i] = 0.25f * static_cast<float>(std::sin(0.3 * static_cast<double>(i)));
    writeAudio(dir / "in.wav", in);
    chmod((dir / "in.wav").c_str(), 0640);
    const RunResult r = runCli({"process", dir / "in.wav", dir / "in.wav", "--overwrite", "--mode", "3", "--quiet",
                                "--band", "highshelf,freq=2000,gain=6"});
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    EXPECT_EQ(dir.entries(), std::set<std::string>{"in.wav"});
    struct stat st {};
    stat((dir / "in.wav").c_str(), &st);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    const Audio out = readAudio(dir / "in.wav");
    ASSERT_EQ(out.frames(), in.frames());
    EXPECT_NE(out.samples, in.samples);
}

TEST(SafeReplacement, FailedRunLeavesAnExistingOutputAsItWas)
{
    ScratchDir dir;
    writeAudio(dir / "in.wav", silence(44100, 1, 4410));
    writeText(dir / "out.opus", "an earlier result");
    const RunResult r = runCli({"process", dir / "in.wav", dir / "out.opus"});
    EXPECT_NE(r.exitCode, 0);
    EXPECT_EQ(readBytes(dir / "out.opus"), "an earlier result");
    EXPECT_EQ(dir.entries(), (std::set<std::string>{"in.wav", "out.opus"}));
}

// ---------------------------------------------------------------------------
// NaN and infinity in the input become silence before the engine sees them:
// the output is what the same file with zeros there gives, bit for bit.

TEST(NonFiniteInput, IsReplacedBySilenceAndReportedOnce)
{
    ScratchDir dir;
    Audio clean = silence(48000, 2, 24000);
    for (long i = 0; i < clean.frames(); ++i)
        clean.samples[i * 2] = clean.samples[i * 2 + 1] = 0.2f * static_cast<float>(std::sin(0.07 * static_cast<double>(i)));
    const long spots[] = {1000, 1001, 15000};
    for (long t : spots) clean.samples[t * 2] = 0.0f;
    Audio dirty = clean;
    dirty.samples[spots[0] * 2] = std::nanf("");
    dirty.samples[spots[1] * 2] = INFINITY;
    dirty.samples[spots[2] * 2] = -INFINITY;
    writeAudio(dir / "clean.wav", clean);
    writeAudio(dir / "dirty.wav", dirty);
    // Noise off: it is the one input that differs between two runs.
    const std::vector<std::string> settings = {"--mode", "3", "--no-noise", "--band", "peak,freq=500,gain=6,q=2"};
    auto run = [&](const std::string &in, const std::string &out) {
        std::vector<std::string> args = {"process", dir / in, dir / out};
        args.insert(args.end(), settings.begin(), settings.end());
        return runCli(args);
    };
    const RunResult r = run("dirty.wav", "dirty-out.wav");
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    ASSERT_EQ(run("clean.wav", "clean-out.wav").exitCode, 0);
    const Audio got = readAudio(dir / "dirty-out.wav"), want = readAudio(dir / "clean-out.wav");
    EXPECT_TRUE(std::all_of(got.samples.begin(), got.samples.end(), [](float v) { return std::isfinite(v); }));
    EXPECT_EQ(got.samples, want.samples);
    std::size_t reports = 0;
    for (std::size_t at = r.err.find("non-finite"); at != std::string::npos; at = r.err.find("non-finite", at + 1)) ++reports;
    EXPECT_EQ(reports, 1u) << r.err;
    EXPECT_NE(r.err.find("3 non-finite"), std::string::npos) << r.err;
}

// ---------------------------------------------------------------------------
// The curve picture: well-formed SVG whose lines are the response graph.

struct Plot {
    double xLeft, xRight, fLow, fHigh, yTop, yBottom, dbTop, dbBottom;
    double freq(double x) const { return fLow * std::pow(fHigh / fLow, (x - xLeft) / (xRight - xLeft)); }
    double db(double y) const { return dbTop - (y - yTop) / (yBottom - yTop) * (dbTop - dbBottom); }
};

Plot readPlot(const XmlElement &svg)
{
    std::vector<const XmlElement *> found;
    svg.collect("lintaq:plot", found);
    if (found.size() != 1) throw std::runtime_error("no plot description in the SVG");
    auto a = [&](const char *k) { return std::stod(found[0]->attributes.at(k)); };
    return {a("x-left"), a("x-right"), a("f-low"), a("f-high"), a("y-top"), a("y-bottom"), a("db-top"), a("db-bottom")};
}

std::vector<std::pair<double, double>> points(const XmlElement *line)
{
    if (line == nullptr) throw std::runtime_error("line missing from the SVG");
    std::vector<std::pair<double, double>> pts;
    std::istringstream in(line->attributes.at("points"));
    for (std::string p; in >> p;) {
        const auto comma = p.find(',');
        pts.emplace_back(std::stod(p.substr(0, comma)), std::stod(p.substr(comma + 1)));
    }
    return pts;
}

// Bands of the curve tests, routed so that left and right differ; the
// high-pass runs off the bottom of the plot.
const char kCurvePreset[] = R"({"name": "test <&> curve", "bands": [
    {"type": "highpass", "freq": 40, "q": 0.7071},
    {"type": "lowshelf", "freq": 150, "gain": 5},
    {"type": "peak", "freq": 1000, "gain": -6, "q": 2, "channel": "left"},
    {"type": "highshelf", "freq": 6000, "gain": 4, "channel": "right"},
    {"type": "peak", "freq": 3000, "gain": 9, "enabled": false}]})";

class CurveSvg : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        dir_ = new ScratchDir;
        writeText(*dir_ / "p.json", kCurvePreset);
        result_ = runCli({"curve", "--preset", *dir_ / "p.json", "--rate", "48000", "--measured", "--mode", "3",
                          "-o", *dir_ / "c.svg"});
    }
    static void TearDownTestSuite() { delete dir_; }
    void SetUp() override { ASSERT_EQ(result_.exitCode, 0) << describe(result_); }
    static XmlElement svg() { return parseXml(readBytes(*dir_ / "c.svg")); }
    static PeqParams params()
    {
        PeqParams p = emptyParams(48000, true);
        const unsigned types[] = {LINTAQ_HIGH_PASS, LINTAQ_LOW_SHELF, LINTAQ_PEAK, LINTAQ_HIGH_SHELF};
        const float freq[] = {40, 150, 1000, 6000}, gain[] = {0, 5, -6, 4}, q[] = {0.7071f, 0.7071f, 2, 0.7071f};
        for (int k = 0; k < 4; ++k) {
            p.type[k] = types[k];
            p.freq[k] = freq[k];
            p.gain[k] = gain[k];
            p.q[k] = q[k];
        }
        return p;
    }
    static inline ScratchDir *dir_;
    static inline RunResult result_;
};

TEST_F(CurveSvg, IsWellFormedWithTheExpectedLines)
{
    XmlElement root;
    ASSERT_NO_THROW(root = svg());
    EXPECT_EQ(root.name, "svg");
    EXPECT_EQ(root.attributes.at("xmlns"), "http://www.w3.org/2000/svg");
    for (const char *id : {"total-left", "total-right", "measured-left", "measured-right", "band-1", "band-2", "band-3", "band-4"})
        EXPECT_NE(root.findById(id), nullptr) << id;
    // The switched-off band is neither drawn nor summed.
    EXPECT_EQ(root.findById("band-5"), nullptr);
    EXPECT_EQ(root.findById("total-both"), nullptr);
}

TEST_F(CurveSvg, LinesAgreeWithTheResponseGraph)
{
    const XmlElement root = svg();
    const Plot plot = readPlot(root);
    const PeqParams p = params();
    const struct { const char *id; std::vector<int> bands; } lines[] = {
        {"total-left", {0, 1, 2}}, {"total-right", {0, 1, 3}}, {"band-1", {0}}, {"band-3", {2}}, {"band-4", {3}}};
    // Coordinates are written with two decimals: 0.005 units of x is 4e-5 of
    // a log-frequency span of 1000:1 over 900 units, at most 0.002 dB on the
    // steepest slope here (24 dB/octave); 0.005 units of y is under 0.001 dB.
    constexpr double kTolDb = 0.005;
    for (const auto &line : lines) {
        const auto pts = points(root.findById(line.id));
        ASSERT_GT(pts.size(), 500u) << line.id;
        EXPECT_NEAR(plot.freq(pts.front().first), 20.0, 0.01) << line.id;
        EXPECT_NEAR(plot.freq(pts.back().first), 20000.0, 20.0) << line.id;
        for (const auto &[x, y] : pts) {
            const double f = plot.freq(x), want = graphDb(p, line.bands, static_cast<float>(f));
            if (want > plot.dbBottom && want < plot.dbTop)
                EXPECT_NEAR(plot.db(y), want, kTolDb) << line.id << " at " << f << " Hz";
            else  // off the plot: drawn beyond the same edge
                EXPECT_EQ(plot.db(y) > plot.dbTop, want > plot.dbTop) << line.id << " at " << f << " Hz";
        }
    }
}

// Processing runs each bell and shelf as two passes of half the gain in
// dB, while the graph draws one section of the full gain: the two meet at
// centres, corners and plateaus only. So the engine's own response is two
// half-gain graph curves per band; pass filters are drawn as processed.
double processedDb(const PeqParams &p, const std::vector<int> &bands, float freq)
{
    double sum = 0.0;
    for (int k : bands) {
        if (p.type[k] == LINTAQ_HIGH_PASS || p.type[k] == LINTAQ_LOW_PASS) {
            sum += graphDb(p, {k}, freq);
        } else {
            PeqParams half = p;
            half.gain[k] = p.gain[k] / 2;
            sum += 2 * graphDb(half, {k}, freq);
        }
    }
    return sum;
}

TEST_F(CurveSvg, MeasuredResponseIsTheEnginesTwoPassResponse)
{
    const XmlElement root = svg();
    const Plot plot = readPlot(root);
    const PeqParams p = params();
    const struct { const char *id; std::vector<int> bands; } lines[] = {
        {"measured-left", {0, 1, 2}}, {"measured-right", {0, 1, 3}}};
    // Left over: the 40 Hz high-pass's tail cut at mode 3's lookahead and
    // the FFT bins interpolated, both largest just below 40 Hz (about
    // 0.006 dB seen), and the 0.002 dB of the written coordinates. A band
    // lost, doubled or misrouted in the measurement is off by decibels.
    constexpr double kTolDb = 0.02;
    for (const auto &line : lines) {
        for (const auto &[x, y] : points(root.findById(line.id))) {
            const double f = plot.freq(x), want = processedDb(p, line.bands, static_cast<float>(f));
            if (want > plot.dbBottom && want < plot.dbTop) {
                EXPECT_NEAR(plot.db(y), want, kTolDb) << line.id << " at " << f << " Hz";
            }
        }
    }
}

TEST_F(CurveSvg, RendersWithRsvgConvert)
{
    const std::string rsvg = LINTAQ_RSVG_CONVERT;
    ASSERT_FALSE(rsvg.empty()) << "rsvg-convert not found: install librsvg2-bin";
    const RunResult r = runProgram(rsvg, {*dir_ / "c.svg", "-o", *dir_ / "c.png"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string png = readBytes(*dir_ / "c.png");
    ASSERT_GT(png.size(), 24u);
    EXPECT_EQ(png.substr(0, 8), "\x89PNG\r\n\x1a\n");
    // IHDR width, big-endian at byte 16: the SVG's 1000 units at 1:1.
    const auto byte = [&](int i) { return static_cast<unsigned>(static_cast<unsigned char>(png[i])); };
    EXPECT_EQ(byte(16) << 24 | byte(17) << 16 | byte(18) << 8 | byte(19), 1000u);
}

// Which totals are drawn follows the routings in use.
struct ViewCase {
    const char *name;
    std::vector<std::string> args;
    std::vector<std::string> totals;
};
const ViewCase kViews[] = {
    {"AllBothOneCurve", {"--band", "peak,freq=1000,gain=3"}, {"total-both"}},
    {"LeftRightPair", {"--band", "peak,freq=1000,gain=3,channel=right"}, {"total-left", "total-right"}},
    {"MidSidePair", {"--band", "peak,freq=1000,gain=3,channel=side"}, {"total-mid", "total-side"}},
    {"ChosenView", {"--band", "peak,freq=1000,gain=3,channel=side", "--channel", "mono"}, {"total-mono"}},
};

class CurveViews : public ::testing::TestWithParam<ViewCase> {};

TEST_P(CurveViews, DrawOneTotalPerDistinctChannel)
{
    const ViewCase &c = GetParam();
    ScratchDir dir;
    std::vector<std::string> args = {"curve", "-o", dir / "c.svg"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const RunResult r = runCli(args);
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    const XmlElement root = parseXml(readBytes(dir / "c.svg"));
    std::vector<const XmlElement *> lines;
    root.collect("polyline", lines);
    std::vector<std::string> totals;
    for (const auto *l : lines)
        if (l->attributes.at("id").rfind("total-", 0) == 0) totals.push_back(l->attributes.at("id"));
    EXPECT_EQ(totals, c.totals);
}

INSTANTIATE_TEST_SUITE_P(Cases, CurveViews, ::testing::ValuesIn(kViews), caseName<ViewCase>);

}  // namespace
