// The lintaq command end to end: each group names the property it checks.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "lintaq.h"

namespace {

std::string readBytes(const std::string &path)
{
    std::ostringstream s;
    s << std::ifstream(path, std::ios::binary).rdbuf();
    return s.str();
}
void writeText(const std::string &path, const std::string &text) { std::ofstream(path, std::ios::binary) << text; }

struct ScratchDir {
    std::string path = std::filesystem::temp_directory_path() / "lintaq-cli-test-XXXXXX";
    ScratchDir() { if (mkdtemp(path.data()) == nullptr) throw std::runtime_error("mkdtemp failed"); }
    ~ScratchDir() { std::filesystem::remove_all(path); }
    std::string operator/(const std::string &name) const { return path + "/" + name; }
    std::map<std::string, std::string> contents() const  // every entry, hidden too, and the files' bytes
    {
        std::map<std::string, std::string> m;
        for (const auto &e : std::filesystem::directory_iterator(path))
            m[e.path().filename()] = e.is_regular_file() ? readBytes(e.path()) : "<folder>";
        return m;
    }
};

struct RunResult { int exitCode; std::string err; };
RunResult runProgram(const std::string &program, const std::vector<std::string> &args)
{
    ScratchDir capture;
    std::string cmd = "'" + program + "'";
    for (const auto &a : args) cmd += " '" + a + "'";  // no test argument holds a quote
    const int status = std::system((cmd + " </dev/null >/dev/null 2>" + (capture / "err")).c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 128, readBytes(capture / "err")};
}
RunResult runCli(std::vector<std::string> args, const std::vector<std::string> &more = {})
{
    args.insert(args.end(), more.begin(), more.end());
    return runProgram(LINTAQ_CLI_PATH, args);
}
std::string describe(const RunResult &r) { return "exit " + std::to_string(r.exitCode) + ", stderr: " + r.err; }

constexpr double kPi = 3.14159265358979323846;
constexpr int kFloatWav = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
struct Audio {
    int rate, channels, format;
    std::vector<float> samples;  // interleaved
    long frames() const { return static_cast<long>(samples.size()) / channels; }
    float at(long frame, int ch) const { return samples[frame * channels + ch]; }
};
// `frames` frames of `channels` channels, sample (i, ch) from `f`.
template <class F>
Audio make(int rate, int channels, long frames, F f, int format = kFloatWav)
{
    Audio a{rate, channels, format, std::vector<float>(static_cast<std::size_t>(frames * channels))};
    for (long i = 0; i < frames * channels; ++i) a.samples[i] = f(i / channels, static_cast<int>(i % channels));
    return a;
}
Audio silence(int rate, int channels, long frames) { return make(rate, channels, frames, [](long, int) { return 0.0f; }); }
void writeAudio(const std::string &path, const Audio &a)
{
    SF_INFO info{0, a.rate, a.channels, a.format, 0, 0};
    SNDFILE *sf = sf_open(path.c_str(), SFM_WRITE, &info);
    sf_writef_float(sf, a.samples.data(), a.frames());
    sf_close(sf);
}
Audio readAudio(const std::string &path)
{
    SF_INFO info{};
    SNDFILE *sf = sf_open(path.c_str(), SFM_READ, &info);
    Audio a{info.samplerate, info.channels, info.format, std::vector<float>(static_cast<std::size_t>(info.frames * info.channels))};
    sf_readf_float(sf, a.samples.data(), info.frames);
    sf_close(sf);
    return a;
}

// Sum of LintaqGraph over `bands` at exactly `at` Hz (a two-point grid
// starts there); band k is (type[k], freq[k], gain[k], q[k]).
double graphDb(int rate, const std::vector<unsigned> &type, const std::vector<float> &freq,
               const std::vector<float> &gain, const std::vector<float> &q, const std::vector<int> &bands, float at)
{
    PeqParams p{};
    for (std::size_t k = 0; k < type.size(); ++k) p.type[k] = type[k], p.freq[k] = freq[k], p.gain[k] = gain[k], p.q[k] = q[k];
    p.sampleRate = rate;
    p.oversample = 1;  // the tool's default
    PeqGraph *g = InitPeqGraph(&p, 2, at, at * 1.001f);
    double sum = 0.0;
    float out[2];
    for (int b : bands) LintaqGraph(&p, g, out, b), sum += out[0];
    ExitPeqGraph(g);
    return sum;
}

#define NAMED_CASES(Suite, table) \
    INSTANTIATE_TEST_SUITE_P(Cases, Suite, ::testing::ValuesIn(table), [](const auto &p) { return std::string(p.param.name); })

// Output sample i carries input sample i on every path through the engine,
// and the output keeps the input's length, rate and channels.
struct PathCase { const char *name; int rate; bool oversample; int channels; };
const PathCase kPaths[] = {
    {"Mono48kDirect", 48000, false, 1},       {"Mono48kOversampled", 48000, true, 1},
    {"Mono44k1Oversampled", 44100, true, 1},   {"Stereo48kDirect", 48000, false, 2},
    {"Stereo48kOversampled", 48000, true, 2},  {"Stereo44k1Oversampled", 44100, true, 2},
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
    ASSERT_EQ(out.channels, c.channels);
    ASSERT_EQ(out.frames(), n);
    // A zero-phase response peaks at its centre; 400 samples covers the
    // band's main lobe and stays clear of the neighbouring impulse.
    for (int ch = 0; ch < c.channels; ++ch)
        for (long t : positions[ch]) {
            long best = std::max(0L, t - 400);
            for (long i = best; i < std::min(n, t + 400); ++i)
                if (std::fabs(out.at(i, ch)) > std::fabs(out.at(best, ch))) best = i;
            EXPECT_EQ(best, t) << "channel " << ch;
        }
}
NAMED_CASES(TimeAlignment, kPaths);

// The output format is --format or --float, else OUT's extension, else the
// input's container and encoding.
struct FormatCase { const char *name; int inFormat; const char *outName; std::vector<std::string> options; int expected; };
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

TEST_P(OutputFormat, FollowsOptionsThenExtensionThenInput)
{
    const FormatCase &c = GetParam();
    ScratchDir dir;
    writeAudio(dir / "in", make(44100, 1, 4410, [](long i, int) { return 0.3f * std::sin(0.05f * static_cast<float>(i)); }, c.inFormat));
    const RunResult r = runCli({"process", dir / "in", dir / c.outName, "--mode", "3", "--quiet"}, c.options);
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    const Audio out = readAudio(dir / c.outName);
    EXPECT_EQ(out.format, c.expected);
    EXPECT_EQ(out.frames(), 4410);
}
NAMED_CASES(OutputFormat, kFormats);

// A sine comes out with the gain the response graph draws for it, on the
// channels the band is routed to.
enum class Feed { Mono, SameBothSides, OppositeSides };
// 48000 / sineHz is whole, so the measuring window holds whole periods.
struct GainCase { const char *name, *typeName; unsigned type; float freq, gain, q; const char *channel; Feed feed; float sineHz; bool toLeft, toRight; };
const GainCase kGains[] = {
    {"PeakBoostAtCentre", "peak", LINTAQ_PEAK, 1000, 6, 1.4f, "both", Feed::Mono, 1000, true, true},
    {"PeakCutAtCentre", "peak", LINTAQ_PEAK, 3000, -8, 2, "both", Feed::Mono, 3000, true, true},
    {"LowShelfAtCorner", "lowshelf", LINTAQ_LOW_SHELF, 400, 5, 0.7071f, "both", Feed::Mono, 400, true, true},
    {"HighShelfAtCorner", "highshelf", LINTAQ_HIGH_SHELF, 6000, 4, 0.7071f, "both", Feed::Mono, 6000, true, true},
    {"HighPassBelowCorner", "highpass", LINTAQ_HIGH_PASS, 200, 0, 0.7071f, "both", Feed::Mono, 100, true, true},
    {"LowPassAboveCorner", "lowpass", LINTAQ_LOW_PASS, 8000, 0, 1, "both", Feed::Mono, 12000, true, true},
    {"LeftOnly", "peak", LINTAQ_PEAK, 1000, 6, 1, "left", Feed::SameBothSides, 1000, true, false},
    {"RightOnly", "peak", LINTAQ_PEAK, 1000, 6, 1, "right", Feed::SameBothSides, 1000, false, true},
    {"MidActsOnCentredSound", "peak", LINTAQ_PEAK, 1000, 6, 1, "mid", Feed::SameBothSides, 1000, true, true},
    {"MidIgnoresSideSound", "peak", LINTAQ_PEAK, 1000, 6, 1, "mid", Feed::OppositeSides, 1000, false, false},
    {"SideActsOnSideSound", "peak", LINTAQ_PEAK, 1000, 6, 1, "side", Feed::OppositeSides, 1000, true, true},
    {"SideIgnoresCentredSound", "peak", LINTAQ_PEAK, 1000, 6, 1, "side", Feed::SameBothSides, 1000, false, false},
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
    const int rate = 48000;
    const Audio in = make(rate, c.feed == Feed::Mono ? 1 : 2, rate, [&](long i, int ch) {
        const float v = 0.25f * static_cast<float>(std::sin(2 * kPi * c.sineHz * static_cast<double>(i) / rate));
        return ch == 1 && c.feed == Feed::OppositeSides ? -v : v;
    });
    writeAudio(dir / "in.wav", in);
    char band[160];
    std::snprintf(band, sizeof band, "%s,freq=%g,gain=%g,q=%g,channel=%s", c.typeName, static_cast<double>(c.freq),
                  static_cast<double>(c.gain), static_cast<double>(c.q), c.channel);
    const RunResult r = runCli({"process", dir / "in.wav", dir / "out.wav", "--mode", "3", "--quiet", "--band", band});
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    const Audio out = readAudio(dir / "out.wav");
    const double curve = graphDb(rate, {c.type}, {c.freq}, {c.gain}, {c.q}, {0}, c.sineHz);
    // The middle half second: the band's rise and fall at the ends of the
    // one-second sine are over by then (the slowest here, the 200 Hz
    // high-pass, settles in well under 0.2 s). At centres, corners and on
    // pass-filter skirts graph and engine meet in theory; what is left is
    // the 2x resampling filters' ripple and float rounding, seen below
    // 0.001 dB. A misplaced band or a wrong routing is off by decibels.
    constexpr double kTolDb = 0.005;
    for (int ch = 0; ch < in.channels; ++ch) {
        const double measured = 20 * std::log10(amplitude(out, ch, c.sineHz, rate / 4, rate / 2) /
                                                amplitude(in, ch, c.sineHz, rate / 4, rate / 2));
        EXPECT_NEAR(measured, (ch == 0 ? c.toLeft : c.toRight) ? curve : 0.0, kTolDb) << "channel " << ch;
    }
}
NAMED_CASES(GainAgainstGraph, kGains);

// Every refusal exits non-zero with one clear message and leaves the folder
// as it was: no output, no temporary file, the input and an earlier output
// (out.opus, which the encoder case fails to replace) byte for byte.
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
    {"BatchNamesCollide", {"process", "@in.wav", "@sub/in.wav", "-d", "@sub"}, 2, "two inputs are named \"in.wav\""},
    {"BatchFolderMissing", {"process", "@in.wav", "-d", "@missing"}, 1, "output folder \"@missing\" does not exist"},
    {"JobsOutOfRange", {"process", "@in.wav", "-d", "@sub", "-j", "0"}, 2, "--jobs"},
    {"UnknownOption", {"process", "@in.wav", "@out.wav", "--loud"}, 2, "--loud (see lintaq process --help)"},
    {"ModeNotANumber", {"process", "@in.wav", "@out.wav", "--mode", "two"}, 2, "--mode"},
    {"CurveBandAboveLimit", {"curve", "--rate", "44100", "--band", "highshelf,freq=21000", "-o", "@out.svg"}, 2, "band limit of 20000.0 Hz"},
};
class Refusal : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(Refusal, ExitsNonZeroWithOneMessageAndLeavesTheFolderAsItWas)
{
    const ErrorCase &c = GetParam();
    ScratchDir dir;
    const auto expand = [&](std::string s) {
        for (size_t at = s.find('@'); at != std::string::npos; at = s.find('@', at + dir.path.size() + 1))
            s.replace(at, 1, dir.path + "/");
        return s;
    };
    writeAudio(dir / "in.wav", make(48000, 2, 4800, [](long i, int) { return i == 50 ? 0.5f : 0.0f; }));
    writeAudio(dir / "in44.wav", silence(44100, 2, 4410));
    writeText(dir / "out.opus", "an earlier result");
    writeText(dir / "notaudio.wav", "hello, not a sound\n");
    writeText(dir / "broken.json", "{\"bands\": [ {\"type\": \"peak\",, } ]}");
    writeText(dir / "wrongtype.json", R"({"bands": [{"type": "peak", "freq": 100}, {"type": "peak", "freq": "loud"}]})");
    std::string bands13 = R"({"type": "peak", "freq": 1000})";
    for (int i = 1; i < 13; ++i) bands13 += R"(, {"type": "peak", "freq": 1000})";
    writeText(dir / "thirteen.json", "{\"bands\": [" + bands13 + "]}");
    mkdir((dir / "sub").c_str(), 0755);
    const auto before = dir.contents();
    std::vector<std::string> args;
    for (const auto &a : c.args) args.push_back(expand(a));
    const RunResult r = runCli(args);
    EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
    EXPECT_NE(r.err.find(expand(c.message)), std::string::npos) << r.err;
    EXPECT_EQ(r.err.rfind("lintaq: error: ", 0), 0u) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << "one line on stderr, got: " << r.err;
    EXPECT_TRUE(dir.contents() == before) << "the folder changed";
}
NAMED_CASES(Refusal, kErrors);

// One in-place run checks two things. --overwrite replaces the input
// through the temporary file: no other file is left and the permissions
// are kept. NaN and infinity become silence before the engine sees them:
// the result is what the same file with zeros there gives, bit for bit,
// and stderr reports the count once.
TEST(InPlaceRun, KeepsPermissionsAndSilencesNonFiniteInput)
{
    ScratchDir dir;
    const long spots[] = {1000, 1001, 15000};
    const float bad[] = {std::nanf(""), INFINITY, -INFINITY};
    Audio clean = make(48000, 2, 24000, [](long i, int) { return 0.2f * std::sin(0.07f * static_cast<float>(i)); });
    for (long t : spots) clean.samples[t * 2] = 0.0f;
    Audio dirty = clean;
    for (int k = 0; k < 3; ++k) dirty.samples[spots[k] * 2] = bad[k];
    writeAudio(dir / "clean.wav", clean);
    writeAudio(dir / "dirty.wav", dirty);
    chmod((dir / "dirty.wav").c_str(), 0640);
    // Noise off: it is the one input that differs between two runs.
    const std::vector<std::string> settings = {"--mode", "3", "--no-noise", "--band", "peak,freq=500,gain=6,q=2"};
    const RunResult r = runCli({"process", dir / "dirty.wav", dir / "dirty.wav", "--overwrite"}, settings);
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    EXPECT_EQ(r.err.find("non-finite"), r.err.rfind("non-finite")) << r.err;
    EXPECT_NE(r.err.find("3 non-finite"), std::string::npos) << r.err;
    struct stat st {};
    stat((dir / "dirty.wav").c_str(), &st);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    ASSERT_EQ(runCli({"process", dir / "clean.wav", dir / "clean-out.wav"}, settings).exitCode, 0);
    EXPECT_EQ(dir.contents().size(), 3u);
    EXPECT_EQ(readAudio(dir / "dirty.wav").samples, readAudio(dir / "clean-out.wav").samples);
}

// A file of more than two channels runs channel by channel: each output
// channel has the bits of that channel run alone as a mono file.
TEST(WideFiles, EachChannelEqualsItsMonoRun)
{
    ScratchDir dir;
    const Audio in = make(44100, 3, 30000, [](long i, int ch) {
        return 0.3f * std::sin(0.013f * static_cast<float>(i) * static_cast<float>(ch + 1)) + (i == 777 ? 0.5f : 0.0f);
    });
    writeAudio(dir / "in.wav", in);
    const std::vector<std::string> settings = {"--float", "--quiet", "--band", "peak,freq=2000,gain=6,q=2"};
    const RunResult r = runCli({"process", dir / "in.wav", dir / "out.wav"}, settings);
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    const Audio out = readAudio(dir / "out.wav");
    ASSERT_EQ(out.channels, 3);
    ASSERT_EQ(out.frames(), in.frames());
    for (int ch = 0; ch < 3; ++ch) {
        writeAudio(dir / "mono.wav", make(44100, 1, in.frames(), [&](long i, int) { return in.at(i, ch); }));
        ASSERT_EQ(runCli({"process", dir / "mono.wav", dir / "mono-out.wav"}, settings).exitCode, 0);
        const Audio mono = readAudio(dir / "mono-out.wav");
        bool same = true;
        for (long i = 0; i < in.frames(); ++i) same = same && mono.at(i, 0) == out.at(i, ch);
        EXPECT_TRUE(same) << "channel " << ch;
    }
}

// A batch writes every input into the folder under its own name, with the
// bytes a run of that file alone gives; a file that fails is reported and
// the others are still written.
TEST(Batch, SameBytesAsOneAtATimeAndOneFailureLosesNothingElse)
{
    ScratchDir dir;
    mkdir((dir / "in").c_str(), 0755);
    mkdir((dir / "out").c_str(), 0755);
    mkdir((dir / "alone").c_str(), 0755);
    const std::vector<std::string> names = {"a.wav", "b.wav", "c.flac", "d.wav"};
    for (std::size_t k = 0; k < names.size(); ++k) {
        Audio a = make(k == 1 ? 44100 : 48000, k == 3 ? 1 : 2, 20000 + 1000 * static_cast<long>(k), [k](long i, int ch) {
            return 0.2f * std::sin(0.01f * static_cast<float>(i * (ch + 1) * (static_cast<long>(k) + 1)));
        }, k == 2 ? (SF_FORMAT_FLAC | SF_FORMAT_PCM_16) : kFloatWav);
        writeAudio(dir / ("in/" + names[k]), a);
    }
    writeText(dir / "in/broken.wav", "not audio");
    const std::vector<std::string> settings = {"--mode", "3", "--band", "peak,freq=900,gain=-5,q=3"};
    std::vector<std::string> args = {"process", "-j", "2", "-d", dir / "out"};
    for (const auto &n : names) args.push_back(dir / ("in/" + n));
    const std::string broken = dir / "in/broken.wav";
    args.insert(args.begin() + 3, broken);  // among the first two jobs
    const RunResult r = runCli(args, settings);
    EXPECT_EQ(r.exitCode, 1) << describe(r);
    std::string reported = "\"";
    reported.append(broken).append("\": cannot read");
    EXPECT_NE(r.err.find(reported), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("1 of 5 files failed"), std::string::npos) << r.err;
    for (const auto &n : names) {
        ASSERT_EQ(runCli({"process", dir / ("in/" + n), dir / ("alone/" + n), "--quiet"}, settings).exitCode, 0);
        EXPECT_EQ(readBytes(dir / ("out/" + n)), readBytes(dir / ("alone/" + n))) << n;
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir / "out"), {}), 4);
}

// The parser keeps one value per --band, so a band never takes the file
// names after it; every command has its own help.
TEST(CommandLine, BandsTakeOneValueAndEveryCommandHasHelp)
{
    ScratchDir dir;
    writeAudio(dir / "in.wav", silence(48000, 1, 4800));
    const RunResult r = runCli({"process", "--band", "peak,freq=1000", "--band=lowpass,f=9k", dir / "in.wav",
                                dir / "out.wav", "--quiet"});
    EXPECT_EQ(r.exitCode, 0) << describe(r);
    EXPECT_EQ(readAudio(dir / "out.wav").frames(), 4800);
    for (const char *command : {"process", "curve", "info", "preset", "generate-demo"}) {
        std::string cmd = std::string("'") + LINTAQ_CLI_PATH + "' " + command + " --help >" + (dir / "help") + " 2>&1";
        EXPECT_EQ(std::system(cmd.c_str()), 0) << command;
        EXPECT_NE(readBytes(dir / "help").find("--help"), std::string::npos) << command;
    }
    EXPECT_NE(readBytes(dir / "help").find("--seconds"), std::string::npos);
}

// Frame noise is off unless asked for: the defaults give the --no-noise
// bytes on a burst followed by silence, where noise would change the
// lowest bits, and the summary says so.
TEST(Defaults, FrameNoiseIsOffUnlessAskedFor)
{
    ScratchDir dir;
    writeAudio(dir / "in.wav", make(48000, 2, 96000, [](long i, int ch) {
        return i < 4800 ? 0.3f * std::sin(0.01f * static_cast<float>(i * (ch + 1))) : 0.0f;
    }));
    const RunResult plain = runCli({"process", dir / "in.wav", dir / "default.wav", "--float"});
    ASSERT_EQ(plain.exitCode, 0) << describe(plain);
    EXPECT_NE(plain.err.find("noise off"), std::string::npos) << plain.err;
    ASSERT_EQ(runCli({"process", dir / "in.wav", dir / "off.wav", "--float", "--quiet", "--no-noise"}).exitCode, 0);
    ASSERT_EQ(runCli({"process", dir / "in.wav", dir / "on.wav", "--float", "--quiet", "--noise"}).exitCode, 0);
    EXPECT_EQ(readBytes(dir / "default.wav"), readBytes(dir / "off.wav"));
    EXPECT_NE(readBytes(dir / "on.wav"), readBytes(dir / "off.wav"));
}

// The curve picture: well-formed SVG that renders, whose lines are the
// response graph and whose measured lines are the engine's response.
// Bands routed so that left and right differ; the high-pass runs off the
// bottom of the plot, the name needs escaping, the switched-off band is
// neither drawn nor summed.
const char kCurvePreset[] = R"({"name": "test <&> curve", "bands": [
    {"type": "highpass", "freq": 40, "q": 0.7071},
    {"type": "lowshelf", "freq": 150, "gain": 5},
    {"type": "peak", "freq": 1000, "gain": -6, "q": 2, "channel": "left"},
    {"type": "highshelf", "freq": 6000, "gain": 4, "channel": "right"},
    {"type": "peak", "freq": 3000, "gain": 9, "enabled": false}]})";

// The attribute `key` of the first element whose opening tag holds `mark`.
std::string attr(const std::string &svg, const std::string &mark, const std::string &key)
{
    const auto at = svg.find(mark), end = svg.find('>', at), k = svg.find(" " + key + "=\"", at);
    if (at == std::string::npos || k > end) throw std::runtime_error("no " + key + " at " + mark);
    return svg.substr(k + key.size() + 3, svg.find('"', k + key.size() + 3) - k - key.size() - 3);
}

const std::vector<unsigned> kType = {LINTAQ_HIGH_PASS, LINTAQ_LOW_SHELF, LINTAQ_PEAK, LINTAQ_HIGH_SHELF};
const std::vector<float> kFreq = {40, 150, 1000, 6000}, kGain = {0, 5, -6, 4}, kQ = {0.7071f, 0.7071f, 2, 0.7071f};

// Processing runs each bell and shelf as two passes of half the gain in
// dB, while the graph draws one section of the full gain: the two meet at
// centres, corners and plateaus only. So the engine's own response is two
// half-gain graph curves per band; pass filters are drawn as processed.
double processedDb(const std::vector<int> &bands, float f)
{
    double sum = 0.0;
    for (int k : bands) {
        const bool pass = kType[k] == LINTAQ_HIGH_PASS;
        std::vector<float> gain = kGain;
        gain[k] /= pass ? 1.0f : 2.0f;
        sum += (pass ? 1 : 2) * graphDb(48000, kType, kFreq, gain, kQ, {k}, f);
    }
    return sum;
}

// Well-formedness is rsvg-convert's: it refuses any XML fault (unescaped
// '<' or '&', unbalanced or repeated attributes, a second root), which the
// preset name "<&>" would provoke if left unescaped.
TEST(CurveSvg, RendersAndDrawsTheGraphAndTheEnginesResponse)
{
    ScratchDir dir;
    writeText(dir / "p.json", kCurvePreset);
    const RunResult r = runCli({"curve", "--preset", dir / "p.json", "--rate", "48000", "--measured", "--mode", "3",
                                "-o", dir / "c.svg"});
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    const RunResult png = runProgram(LINTAQ_RSVG_CONVERT, {dir / "c.svg", "-o", dir / "c.png"});
    EXPECT_EQ(png.exitCode, 0) << "rsvg-convert (librsvg2-bin) refused the SVG: " << png.err;
    EXPECT_EQ(readBytes(dir / "c.png").substr(0, 8), "\x89PNG\r\n\x1a\n");
    const std::string svg = readBytes(dir / "c.svg");
    EXPECT_TRUE(svg.find("id=\"band-5\"") == svg.npos && svg.find("id=\"total-both\"") == svg.npos);
    const auto a = [&](const char *key) { return std::stod(attr(svg, "<lintaq:plot", key)); };
    const auto freqAt = [&](double x) { return a("f-low") * std::pow(a("f-high") / a("f-low"), (x - a("x-left")) / (a("x-right") - a("x-left"))); };
    const auto dbAt = [&](double y) { return a("db-top") - (y - a("y-top")) / (a("y-bottom") - a("y-top")) * (a("db-top") - a("db-bottom")); };
    // Drawn lines: coordinates have two decimals; 0.005 units of x is 4e-5
    // of a 1000:1 log span over 900 units, at most 0.002 dB on the steepest
    // slope here (24 dB/octave); 0.005 units of y is under 0.001 dB.
    // Measured lines: add the 40 Hz high-pass's tail cut at mode 3's
    // lookahead (the spectrum itself is exact at each point). A band lost,
    // doubled or misrouted is off by decibels.
    const struct { const char *id; std::vector<int> bands; bool measured; } lines[] = {
        {"total-left", {0, 1, 2}, false}, {"total-right", {0, 1, 3}, false}, {"band-1", {0}, false},
        {"band-2", {1}, false}, {"band-3", {2}, false}, {"band-4", {3}, false},
        {"measured-left", {0, 1, 2}, true}, {"measured-right", {0, 1, 3}, true}};
    for (const auto &line : lines) {
        std::istringstream in(attr(svg, "id=\"" + std::string(line.id) + "\"", "points"));
        std::vector<std::pair<double, double>> pts;
        for (double x, y; in >> x && in.get() == ',' && in >> y;) pts.emplace_back(x, y);
        ASSERT_GT(pts.size(), 500u) << line.id;
        EXPECT_NEAR(freqAt(pts.front().first), 20.0, 0.01) << line.id;
        EXPECT_NEAR(freqAt(pts.back().first), 20000.0, 20.0) << line.id;
        for (const auto &[x, y] : pts) {
            const auto f = static_cast<float>(freqAt(x));
            const double want = line.measured ? processedDb(line.bands, f) : graphDb(48000, kType, kFreq, kGain, kQ, line.bands, f);
            if (want > a("db-bottom") && want < a("db-top")) {
                EXPECT_NEAR(dbAt(y), want, line.measured ? 0.02 : 0.005) << line.id << " at " << f << " Hz";
            } else if (!line.measured) {  // off the plot: drawn beyond the same edge
                EXPECT_EQ(dbAt(y) > a("db-top"), want > a("db-top")) << line.id << " at " << f << " Hz";
            }
        }
    }
}

// Which totals are drawn follows the routings in use.
struct ViewCase { const char *name; std::vector<std::string> args, totals; };
const ViewCase kViews[] = {
    {"AllBothOneCurve", {"--band", "peak,freq=1000,gain=3"}, {"total-both"}},
    {"LeftRightPair", {"--band", "peak,freq=1000,gain=3,channel=right"}, {"total-left", "total-right"}},
    {"MidSidePair", {"--band", "peak,freq=1000,gain=3,channel=side"}, {"total-mid", "total-side"}},
    {"ChosenView", {"--band", "peak,freq=1000,gain=3,channel=side", "--channel", "mono"}, {"total-mono"}},
};
class CurveViews : public ::testing::TestWithParam<ViewCase> {};

TEST_P(CurveViews, DrawOneTotalPerDistinctChannel)
{
    ScratchDir dir;
    const RunResult r = runCli({"curve", "-o", dir / "c.svg"}, GetParam().args);
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    const std::string svg = readBytes(dir / "c.svg");
    const std::string marker = "id=\"total-";
    std::vector<std::string> totals;
    for (size_t at = svg.find(marker); at != std::string::npos; at = svg.find(marker, at + 1)) {
        const size_t start = at + 4, end = svg.find('"', start);
        totals.push_back(svg.substr(start, end - start));
    }
    EXPECT_EQ(totals, GetParam().totals);
}
NAMED_CASES(CurveViews, kViews);

}  // namespace
