// A stream survives bad samples: after NaN, infinite or overflowing input
// the output is finite again within one frame length plus the latency of
// the input turning finite, on every path, mono and stereo, and an
// instance processed alongside gives exactly what it gives on its own.
#include <gtest/gtest.h>

#include <limits>

#include "test_support.h"

namespace {

using test::Band;
using test::Channels;

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr int kBlock = 4800;
constexpr size_t kBadAt = 3 * kBlock + 123;
constexpr int kMode = 3;
constexpr size_t kFrameLength = 4096 + 4096; // lookahead + segment in mode 3

struct Bad { const char *name; float value; size_t length; bool alternate; };
const Bad kBad[] = {
    {"NaN", std::numeric_limits<float>::quiet_NaN(), 1, false},
    {"+inf", kInf, 3, false},
    {"-inf", -kInf, 1, false},
    // Finite, but past what boosting sections and the mid sum can hold.
    {"3e38 burst", 3e38f, 300, true},
};

struct Path { const char *name; int rate; uint32_t oversample; };
const Path kPaths[] = {{"48000 host rate", 48000, 0}, {"48000 double rate", 48000, 1}, {"44100 double rate", 44100, 1}};

// Twelve bands in effect, every type, boosts that overflow on the burst,
// and in stereo every channel assignment.
PeqParams twelveBands(const Path &path)
{
    return test::withBands({{0, 1, 0, 1000, 6, 1},      {1, 2, 1, 120, 4, 0.7f},  {2, 3, 2, 8000, 3, 0.7f},
                            {3, 4, 3, 60, 0, 0.7f},     {4, 5, 4, 16000, 0, 0.7f}, {5, 1, 0, 3000, -9, 4},
                            {6, 4, 0, 250, 5, 2},       {7, 5, 0, 5000, 6, 1},     {8, 1, 1, 200, -3, 0.7f},
                            {9, 2, 0, 700, 9, 8},       {10, 3, 2, 12000, -6, 0.7f}, {11, 1, 0, 2000, 12, 0.5f}},
                           test::creationValues(path.rate, path.oversample));
}

Channels sine(int channels, size_t length)
{
    Channels x(static_cast<size_t>(channels), std::vector<float>(length));
    for (size_t c = 0; c < x.size(); ++c)
        for (size_t i = 0; i < length; ++i)
            x[c][i] = 0.5f * float(std::sin(0.031 * double(i) + double(c)));
    return x;
}

void runBlock(PeqInstance *inst, Channels &io, size_t pos, int n)
{
    if (io.size() == 2)
        LintaqProcST(inst, &io[0][pos], &io[1][pos], n);
    else
        LintaqProc(inst, &io[0][pos], n);
}

TEST(Recovery, OutputIsFiniteAgainWithinAFrameAndTheLatencyAndOtherInstancesAreUntouched)
{
    // Long enough for the longest bad stretch, the bound and three frames.
    const size_t length = kBadAt + 300 + kFrameLength + 8266 + 2048 + 3 * kFrameLength;
    for (const test::Kind &kind : test::kKinds)
    for (const Path &path : kPaths)
        for (int channels : {1, 2}) {
            const PeqParams p = twelveBands(path);
            const Channels clean = sine(channels, length);
            Channels aloneIo = clean;
            test::Instance alone(kind.create(kMode, channels - 1));
            LintaqSetPar(alone.get(), &p);
            test::process(alone.get(), aloneIo, {kBlock});
            for (const Bad &bad : kBad) {
                const std::string what = std::string(kind.name) + ", " + path.name +
                                         (channels == 2 ? ", stereo, " : ", mono, ") + bad.name;
                test::Instance hit(kind.create(kMode, channels - 1)), alongside(kind.create(kMode, channels - 1));
                LintaqSetPar(hit.get(), &p);
                LintaqSetPar(alongside.get(), &p);
                const size_t finiteFrom = kBadAt + bad.length;
                const size_t recovered = finiteFrom + kFrameLength + size_t(LintaqGetLatency(hit.get()));
                Channels hitIo = clean, alongsideIo = clean;
                for (auto &x : hitIo)
                    for (size_t i = 0; i < bad.length; ++i)
                        x[kBadAt + i] = bad.alternate && i % 2 != 0 ? -bad.value : bad.value;

                for (size_t pos = 0; pos < length; pos += kBlock) {
                    const int n = int(std::min<size_t>(kBlock, length - pos));
                    runBlock(hit.get(), hitIo, pos, n);
                    runBlock(alongside.get(), alongsideIo, pos, n);
                }
                for (size_t c = 0; c < hitIo.size(); ++c) {
                    // Non-finite samples enter as silence and never show;
                    // the burst overflows and must be gone within the bound.
                    const size_t from = bad.alternate ? recovered : 0;
                    for (size_t i = from; i < length; ++i)
                        ASSERT_TRUE(std::isfinite(hitIo[c][i])) << what << ", channel " << c << ": " << hitIo[c][i]
                                                                << " at " << long(i) - long(finiteFrom)
                                                                << " samples after the input is finite again";
                    // The burst's finite ringing then dies away like any
                    // response of the slowest band (60 Hz): two frames on the
                    // output is of the signal's size again (0.5, and at most
                    // +40 dB of boosts).
                    for (size_t i = recovered + 2 * kFrameLength; i < length; ++i)
                        ASSERT_LT(std::fabs(hitIo[c][i]), 50.0f) << what << ", channel " << c << " at " << i - recovered;
                    EXPECT_EQ(test::firstMismatch(alongsideIo[c], aloneIo[c]), -1) << what << ", channel " << c;
                }
            }
        }
}

} // namespace
