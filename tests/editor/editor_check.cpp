// Reads what the editor showed and what the host kept, for the screenshot
// and drag tests (editor_screen_test.sh):
//
//   editor_check where WIDTH HEIGHT SCALE FREQ DB
//       prints the window pixel "X Y" where the editor draws FREQ Hz, DB dB
//   editor_check curve SHOT.ppm SCALE INDEX=VALUE ...
//       finds the total curve in the screenshot at 100 Hz and 1 kHz and
//       checks it lies within 2 pixels of the rows the settings' gains map to
//   editor_check cell WIDTH HEIGHT SCALE BAND ROW
//       prints the centre "X Y" of a band strip cell (ROW 3: frequency)
//   editor_check value STATE.txt INDEX VALUE
//       checks the saved state holds VALUE (to 1e-4 relative) for INDEX
//   editor_check drag STATE.txt WIDTH HEIGHT SCALE BAND FREQ DB DX DY
//       checks the saved state holds the frequency and gain that a drag of
//       band BAND's handle (from FREQ, DB) by DX, DY pixels sets
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "editor_model.h"

namespace {

using namespace lintaq_editor;
using namespace lintaq_plugin;

constexpr double kRate = 48000; // the editor host's rate

PlotMapping mappingFor(float width, float height, float scale)
{
    return PlotMapping(plotArea(width, height, scale), kZoomSteps[0]);
}

struct Image {
    int width = 0, height = 0;
    std::vector<unsigned char> rgb;
    const unsigned char *at(int x, int y) const { return &rgb[3 * (static_cast<size_t>(y) * width + x)]; }
};

bool readPpm(const char *path, Image &img)
{
    std::ifstream in(path, std::ios::binary);
    std::string magic;
    int maxval = 0;
    in >> magic >> img.width >> img.height >> maxval;
    in.get();
    if (magic != "P6" || maxval != 255 || img.width <= 0 || img.height <= 0) return false;
    img.rgb.resize(3 * static_cast<size_t>(img.width) * img.height);
    in.read(reinterpret_cast<char *>(img.rgb.data()), static_cast<std::streamsize>(img.rgb.size()));
    return static_cast<bool>(in);
}

// The total curve's colours: the ideal one (near white; greyed once the
// measured curve is drawn over it) and the measured one (amber), which
// covers the ideal where the two agree.
bool isCurvePixel(const unsigned char *p)
{
    const bool amber = p[0] > 200 && p[1] > 150 && p[2] < 150;
    const int lo = std::min({p[0], p[1], p[2]}), hi = std::max({p[0], p[1], p[2]});
    // Blended over a band's faint fill, the greyed ideal line turns a little
    // blue, never yellow.
    const bool neutral = lo > 110 && hi - lo < 40 && p[2] >= p[0];
    return amber || neutral;
}

// The centre of the run of consecutive curve rows nearest to `wantRow`: the
// ideal line and the measured one may both cross the column, apart where
// the engine departs from the ideal.
float nearestRunCentre(const std::vector<int> &rows, float wantRow)
{
    float best = -1e9f;
    for (size_t i = 0; i < rows.size();) {
        size_t j = i;
        while (j + 1 < rows.size() && rows[j + 1] - rows[j] <= 1) ++j;
        const float centre = 0.5f * static_cast<float>(rows[i] + rows[j]);
        if (std::fabs(centre - wantRow) < std::fabs(best - wantRow)) best = centre;
        i = j + 1;
    }
    return best;
}

Values settingsFrom(int argc, char **argv, int first)
{
    Values v{};
    for (uint32_t p = 0; p < kParamCount; ++p) v[p] = paramRange(Variant::stereo, p).def;
    for (int i = first; i < argc; ++i) {
        unsigned index = 0;
        float value = 0;
        if (std::sscanf(argv[i], "%u=%f", &index, &value) == 2 && index < kParamCount) v[index] = value;
    }
    return v;
}

// The ideal total in dB at one frequency, from the library's graph.
float idealTotalDb(const Values &v, float freq)
{
    const PeqParams p = engineParams(v, kRate);
    PeqGraph *g = InitPeqGraph(&p, 2, freq, 2 * freq);
    float total = 0, band[2];
    for (int k = 0; k < LINTAQ_BANDS; ++k) {
        if (!bandInView(v, Variant::stereo, k, LINTAQ_LEFT)) continue;
        LintaqGraph(&p, g, band, k);
        total += band[0];
    }
    ExitPeqGraph(g);
    return total;
}

int checkCurve(int argc, char **argv)
{
    Image img;
    if (!readPpm(argv[2], img)) {
        std::fprintf(stderr, "cannot read %s as a binary PPM\n", argv[2]);
        return 1;
    }
    const float scale = static_cast<float>(std::atof(argv[3]));
    const Values v = settingsFrom(argc, argv, 4);
    const PlotMapping m = mappingFor(static_cast<float>(img.width), static_cast<float>(img.height), scale);
    const Rect &a = m.area();
    int failures = 0;
    for (float freq : {100.0f, 1000.0f}) {
        const float db = idealTotalDb(v, freq), wantRow = m.yOfDb(db);
        const int x = static_cast<int>(std::lround(m.xOfFreq(freq)));
        std::vector<int> rows;
        for (int y = static_cast<int>(a.y); y < static_cast<int>(a.y + a.h) && y < img.height; ++y)
            if (isCurvePixel(img.at(x, y))) rows.push_back(y);
        if (rows.empty()) {
            std::printf("%g Hz: no curve found in column %d (expected row %.1f for %+.2f dB)\n", freq, x, wantRow, db);
            ++failures;
            continue;
        }
        const float found = nearestRunCentre(rows, wantRow);
        const bool ok = std::fabs(found - wantRow) <= 2.0f;
        std::printf("%g Hz: %+.2f dB expected at row %.1f, curve found at row %.1f (column %d): %s\n", freq, db,
                    wantRow, found, x, ok ? "ok" : "WRONG");
        failures += ok ? 0 : 1;
    }
    return failures == 0 ? 0 : 1;
}

int checkDrag(char **argv)
{
    std::ifstream in(argv[2]);
    std::map<unsigned, double> state;
    unsigned index;
    double value;
    while (in >> index >> value) state[index] = value;
    const PlotMapping m = mappingFor(static_cast<float>(std::atof(argv[3])), static_cast<float>(std::atof(argv[4])),
                                     static_cast<float>(std::atof(argv[5])));
    const int band = std::atoi(argv[6]);
    const float freq = static_cast<float>(std::atof(argv[7])), db = static_cast<float>(std::atof(argv[8]));
    const float dx = static_cast<float>(std::atof(argv[9])), dy = static_cast<float>(std::atof(argv[10]));
    const float wantFreq = m.freqOfX(m.xOfFreq(freq) + dx), wantDb = m.dbOfY(m.yOfDb(db) + dy);
    const double gotFreq = state[bandParam(band, kFreq)], gotDb = state[bandParam(band, kGain)];
    // The press lands on a whole pixel, up to half a pixel from the handle's
    // centre: about 0.4 % of frequency and 0.06 dB at this size.
    const bool ok = std::fabs(gotFreq / wantFreq - 1) < 0.01 && std::fabs(gotDb - wantDb) < 0.15;
    std::printf("band %d after the drag: %.1f Hz %+.2f dB saved, %.1f Hz %+.2f dB expected: %s\n", band + 1, gotFreq,
                gotDb, wantFreq, wantDb, ok ? "ok" : "WRONG");
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    const std::string cmd = argc > 1 ? argv[1] : "";
    if (cmd == "where" && argc == 7) {
        const PlotMapping m = mappingFor(static_cast<float>(std::atof(argv[2])), static_cast<float>(std::atof(argv[3])),
                                         static_cast<float>(std::atof(argv[4])));
        std::printf("%ld %ld\n", std::lround(m.xOfFreq(static_cast<float>(std::atof(argv[5])))),
                    std::lround(m.yOfDb(static_cast<float>(std::atof(argv[6])))));
        return 0;
    }
    if (cmd == "cell" && argc == 7) {
        const Rect c = stripCell(static_cast<float>(std::atof(argv[2])), static_cast<float>(std::atof(argv[3])),
                                 static_cast<float>(std::atof(argv[4])), std::atoi(argv[5]), std::atoi(argv[6]));
        std::printf("%ld %ld\n", std::lround(c.x + c.w / 2), std::lround(c.y + c.h / 2));
        return 0;
    }
    if (cmd == "value" && argc == 5) {
        std::ifstream in(argv[2]);
        unsigned index;
        double value, want = std::atof(argv[4]);
        while (in >> index >> value)
            if (index == static_cast<unsigned>(std::atoi(argv[3]))) {
                const bool ok = std::fabs(value - want) <= 1e-4 * std::fabs(want);
                std::printf("parameter %u saved as %g, expected %g: %s\n", index, value, want, ok ? "ok" : "WRONG");
                return ok ? 0 : 1;
            }
        std::printf("parameter %s not in the saved state\n", argv[3]);
        return 1;
    }
    if (cmd == "curve" && argc >= 4) return checkCurve(argc, argv);
    if (cmd == "drag" && argc == 11) return checkDrag(argv);
    std::fprintf(stderr, "usage: see the top of editor_check.cpp\n");
    return 2;
}
