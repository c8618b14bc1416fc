// The equaliser curve as the library draws it, at a few frequencies: the
// target that the comparison run measures every plugin against.
//
// usage: lintaq_curve_points --rate HZ [--oversample] --at F,F,... BAND [BAND ...]
//   BAND is TYPE,FREQ,GAIN,Q with the library's type codes (0 peak, 1 low
//   shelf, 2 high shelf, 3 high-pass, 4 low-pass); every band acts on both
//   channels.
// Prints the summed response in dB at each frequency, comma-separated, as
// lintaq_lv2_bench --target takes it.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "lintaq.h"
#include "number_list.h"

namespace {

[[noreturn]] void fail(const std::string &msg)
{
    std::fprintf(stderr, "lintaq_curve_points: %s\n", msg.c_str());
    std::exit(1);
}

std::vector<double> numbers(const std::string &text, size_t want)
{
    std::vector<double> v;
    if (!parseNumberList(text, v) || (want != 0 && v.size() != want))
        fail("'" + text + "' needs " + (want != 0 ? std::to_string(want) : std::string("some")) +
             " comma-separated numbers");
    return v;
}

} // namespace

int main(int argc, char **argv)
{
    PeqParams params{};
    params.sampleRate = 48000;
    std::vector<double> at;
    int bands = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if ((a == "--rate" || a == "--at") && i + 1 >= argc)
            fail("missing value after " + a);
        if (a == "--rate") {
            const double r = numbers(argv[++i], 1)[0];
            if (!(r >= 1000 && r <= 768000))
                fail("rate out of range");
            params.sampleRate = static_cast<int32_t>(r);
        } else if (a == "--oversample") {
            params.oversample = 1;
        } else if (a == "--at") {
            at = numbers(argv[++i], 0);
        } else if (a.rfind("--", 0) == 0) {
            fail("unknown option " + a);
        } else {
            if (bands == LINTAQ_BANDS)
                fail("at most " + std::to_string(LINTAQ_BANDS) + " bands");
            const std::vector<double> b = numbers(a, 4);
            if (b[0] < 0 || b[0] > static_cast<double>(LINTAQ_LOW_PASS) || b[0] != std::floor(b[0]))
                fail("bad band type in '" + a + "'");
            params.type[bands] = static_cast<uint32_t>(b[0]);
            params.freq[bands] = static_cast<float>(b[1]);
            params.gain[bands] = static_cast<float>(b[2]);
            params.q[bands] = static_cast<float>(b[3]);
            params.enable[bands] = LINTAQ_BOTH;
            ++bands;
        }
    }
    if (at.empty())
        fail("usage: lintaq_curve_points --rate HZ [--oversample] --at F,F,... TYPE,FREQ,GAIN,Q ...");
    for (size_t i = 0; i < at.size(); ++i) {
        const auto f = static_cast<float>(at[i]);
        PeqGraph *grid = InitPeqGraph(&params, 2, f, f);
        if (grid == nullptr || grid->pointCount < 1)
            fail("no curve at " + std::to_string(at[i]) + " Hz at this rate");
        double total = 0;
        for (int b = 0; b < bands; ++b) {
            float db[2] = {0, 0};
            LintaqGraph(&params, grid, db, b);
            total += db[0];
        }
        ExitPeqGraph(grid);
        std::printf("%s%.3f", i == 0 ? "" : ",", total);
    }
    std::printf("\n");
    return 0;
}
