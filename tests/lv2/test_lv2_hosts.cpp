// The bundle inside two real LV2 hosts, lv2apply (lilv) and lv2file, on WAV
// files made here, and its Turtle through lv2_validate. Neither host
// compensates latency: an output file is the input's length, delayed.
#include <cstdio>
#include <filesystem>
#include <sstream>

#include <gtest/gtest.h>
#include <sndfile.hh>

#include "lv2_support.h"

namespace {

using namespace lv2test;

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

// Runs a shell command; returns its exit status and the command with its output.
std::pair<int, std::string> shell(const std::string &cmd)
{
    std::string log = cmd + "\n";
    FILE *p = popen((cmd + " 2>&1").c_str(), "r");
    for (int ch; (ch = std::fgetc(p)) != EOF;)
        log += char(ch);
    return {pclose(p), log};
}

std::string quote(const std::string &s)
{
    std::string out = "'";
    for (char c : s)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// Values as strtod reads them, which both hosts use: "nan" and "inf" too.
std::string number(float v)
{
    std::ostringstream s;
    s.precision(9);
    s << v;
    return std::isnan(v) ? "nan" : std::isinf(v) ? (v > 0 ? "inf" : "-inf") : s.str();
}

TEST(Hosts, OutputIsTheLibrarysAndHostileValuesSurvive)
{
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
            const Controls sane = busy(c.channels == 2, c.mode);
            Channels x = testSignal(c.channels, size_t(modeLatency(c.mode)) + 6000), clean = x;
            if (c.impulse) {
                x = Channels(2, std::vector<float>(x[0].size(), 0.0f));
                x[0][123] = x[1][123] = 0.5f;
                clean = x;
            }
            if (c.hostile)
                clean = poison(x);
            writeWav(in, x, c.subtype);
            if (c.subtype != SF_FORMAT_FLOAT)
                clean = readWav(in); // the same quantised floats the host reads

            // lv2file in odd blocks across the engine's hops; lv2apply always
            // runs frame by frame.
            std::string cmd = "LV2_PATH=" + quote(LINTAQ_LV2_DIR) + " " + quote(host) + " -i " + quote(in) + " -o " +
                              quote(out) + (lv2apply ? "" : " --ignore-clipping -b 4097");
            for (const auto &[symbol, v] : c.hostile ? hostile(sane, false) : sane)
                cmd += (lv2apply ? " -c " + symbol + " " : " -p " + symbol + ":") + number(v);
            std::filesystem::remove(out);
            const auto [status, log] = shell(cmd + " " + uriFor(c.channels));
            ASSERT_EQ(status, 0) << log;
            const Channels got = readWav(out), want = libraryOutput(c.hostile ? hostile(sane, true) : sane, clean);
            ASSERT_EQ(got.size(), want.size()) << log;
            for (size_t ch = 0; ch < want.size(); ++ch) {
                ASSERT_EQ(got[ch].size(), want[ch].size());
                long bad = 0;
                for (size_t i = 0; i < want[ch].size(); ++i) {
                    // Float files carry run()'s own samples: exact. 16-bit:
                    // libsndfile writes y as round(y * 32767), read back over
                    // 32768; the single-precision product is off by up to half
                    // an ulp, |y| * 32767 * 2^-24, which can tip a tie. So the
                    // bound is the scale mismatch, half a step, and that ulp.
                    const double y = want[ch][i];
                    bad += !(std::fabs(got[ch][i] - y) <=
                             (c.subtype == SF_FORMAT_FLOAT ? 0.0 : (std::fabs(y) * (1 + 32767.0 / (1 << 24)) + 0.5) / 32768));
                }
                EXPECT_EQ(bad, 0) << "channel " << ch << "\n" << log;
                if (c.impulse) {
                    EXPECT_EQ(peak(got[ch]) - 123, modeLatency(c.mode));
                }
            }
        }
    }
}

TEST(Bundle, TurtleValidatesAgainstTheLv2Schemas)
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

} // namespace
