#include "curve.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <sstream>
#include <vector>

#include "audio_file.h"
#include "errors.h"
#include "graph_grid.h"
#include "true_response.h"

namespace lintaq_cli {
namespace {

constexpr float kLowestHz = 20.0f;
constexpr float kHighestHz = 20000.0f;

// Canvas and plot area, in SVG user units.
constexpr double kWidth = 1000, kPlotLeft = 72, kPlotRight = 972, kPlotTop = 72, kPlotBottom = 472;

const char *const kBandColours[LINTAQ_BANDS] = {
    "#e6194b", "#3cb44b", "#f58231", "#4363d8", "#911eb4", "#008080",
    "#9a6324", "#f032e6", "#808000", "#000075", "#46a0a0", "#800000",
};

struct View {
    std::string key, label;
    const char *colour;
    std::vector<bool> include;  // by band index
    std::vector<float> total;   // dB at the grid points
    std::vector<float> measured;
};

struct GridDeleter {
    void operator()(PeqGraph *g) const { ExitPeqGraph(g); }
};
using GridPtr = std::unique_ptr<PeqGraph, GridDeleter>;

bool routedTo(Routing r, const std::string &view)
{
    if (view == "mono") return true;
    if (r == Routing::Both) return true;
    return view == routingName(r);
}

std::vector<View> chooseViews(const Settings &s, const std::string &channel)
{
    static const struct { const char *key, *label, *colour; } kViews[] = {
        {"both", "both channels", "#1a1a1a"},
        {"left", "left channel", "#1f5fbf"},
        {"right", "right channel", "#c0392b"},
        {"mid", "mid (L+R)", "#1e8449"},
        {"side", "side (L\u2212R)", "#7d3c98"},
        {"mono", "mono file (every band)", "#1a1a1a"},
    };
    bool leftRight = false, midSide = false;
    for (const Band &b : s.bands) {
        if (!b.enabled) continue;
        leftRight |= b.routing == Routing::Left || b.routing == Routing::Right;
        midSide |= b.routing == Routing::Mid || b.routing == Routing::Side;
    }
    std::vector<std::string> keys;
    if (channel != "auto") {
        keys.push_back(channel);
    } else {
        if (!leftRight && !midSide) keys.push_back("both");
        if (leftRight) keys.insert(keys.end(), {"left", "right"});
        if (midSide) keys.insert(keys.end(), {"mid", "side"});
    }
    std::vector<View> views;
    for (const std::string &key : keys) {
        for (const auto &v : kViews) {
            if (key != v.key) continue;
            View view{v.key, v.label, v.colour, {}, {}, {}};
            for (const Band &b : s.bands) view.include.push_back(b.enabled && routedTo(b.routing, key));
            views.push_back(view);
        }
    }
    if (views.empty())
        throw usageError("--channel \"" + channel + "\" is not auto, left, right, mid, side or mono");
    return views;
}

// Response of the engine itself, as the plugin's editor draws it: an
// impulse through a mono instance with the view's bands, aligned by the
// latency, its spectrum taken at the grid points.
std::vector<float> measureResponse(const Settings &s, int rate, const std::vector<bool> &include,
                                   const std::vector<float> &freqs)
{
    lintaq_response::TrueResponseRequest req;
    req.params = toParams(s, rate, &include);
    req.mode = s.mode;
    req.channels = 1;
    req.frequencies = freqs;
    const lintaq_response::TrueResponse got = lintaq_response::computeTrueResponse(req);
    // Every grid point lies below half the rate, so a NaN means no engine.
    if (std::any_of(got.magnitudeDb.begin(), got.magnitudeDb.end(), [](float v) { return std::isnan(v); }))
        throw ioError("out of memory creating the equaliser");
    return got.magnitudeDb;
}

std::string num(double v)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.2f", v);
    return buf;
}

std::string escapeXml(const std::string &s)
{
    std::string out;
    for (char c : s) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string frequencyLabel(double f)
{
    char buf[16];
    if (f >= 1000) std::snprintf(buf, sizeof buf, "%gk", f / 1000);
    else std::snprintf(buf, sizeof buf, "%g", f);
    return buf;
}

struct Axes {
    double fLow, fHigh, dbTop, dbBottom;
    double x(double f) const
    {
        return kPlotLeft + (std::log(f / fLow) / std::log(fHigh / fLow)) * (kPlotRight - kPlotLeft);
    }
    double y(double db) const
    {
        // Far outside the plot, points only need to be off it; the clip
        // path hides them.
        const double span = dbTop - dbBottom;
        db = std::clamp(db, dbBottom - span, dbTop + span);
        return kPlotTop + (dbTop - db) / span * (kPlotBottom - kPlotTop);
    }
};

std::string polyline(const std::string &id, const Axes &ax, const std::vector<float> &freqs,
                     const std::vector<float> &db, const std::string &style)
{
    std::ostringstream o;
    o << "<polyline id=\"" << id << "\" clip-path=\"url(#plot-area)\" fill=\"none\" " << style << " points=\"";
    for (std::size_t i = 0; i < db.size(); ++i)
        o << (i ? " " : "") << num(ax.x(freqs[i])) << ',' << num(ax.y(db[i]));
    o << "\"/>\n";
    return o.str();
}

double niceRange(double maxAbs)
{
    for (double r : {12.0, 18.0, 24.0, 30.0, 36.0})
        if (maxAbs + 1.0 <= r) return r;
    return 48.0;
}

}  // namespace

int runCurve(const CurveOptions &opt)
{
    const Settings &s = opt.settings;
    validateSettings(s);
    if (opt.rate < 8000 || opt.rate > 768000)
        throw usageError("--rate " + std::to_string(opt.rate) + " must lie from 8000 to 768000 Hz");
    if (opt.points < 16 || opt.points > 10000)
        throw usageError("--points must lie from 16 to 10000");
    if (opt.output.empty()) throw usageError("curve needs -o FILE.svg (or -o - for standard output)");
    validateForRate(s, opt.rate);
    std::vector<View> views = chooseViews(s, opt.channel);

    const PeqParams params = toParams(s, opt.rate);
    const float top = std::min(kHighestHz, static_cast<float>(opt.rate) / 2.0f);
    GridPtr grid(InitPeqGraph(&params, opt.points, kLowestHz, top));
    if (!grid) throw ioError("out of memory building the response grid");
    const int count = grid->pointCount;
    std::vector<float> freqs = lintaq_grid::gridFrequencies(opt.points, kLowestHz, top);
    freqs.resize(static_cast<std::size_t>(count));

    std::vector<std::vector<float>> bandDb(s.bands.size());
    for (std::size_t k = 0; k < s.bands.size(); ++k) {
        if (!s.bands[k].enabled) continue;
        bandDb[k].resize(static_cast<std::size_t>(count));
        LintaqGraph(&params, grid.get(), bandDb[k].data(), static_cast<int>(k));
    }
    double maxAbs = 0.0;
    for (View &v : views) {
        v.total.assign(static_cast<std::size_t>(count), 0.0f);
        std::vector<float> shaping(static_cast<std::size_t>(count), 0.0f);
        for (std::size_t k = 0; k < s.bands.size(); ++k) {
            if (!v.include[k]) continue;
            for (int i = 0; i < count; ++i) {
                v.total[i] += bandDb[k][i];
                if (!isPassType(s.bands[k].type)) shaping[i] += bandDb[k][i];
            }
        }
        // Size the dB axis to the bells and shelves and any boost; the
        // stop band of a pass filter may run off the bottom.
        for (int i = 0; i < count; ++i)
            maxAbs = std::max({maxAbs, std::fabs(static_cast<double>(shaping[i])),
                               static_cast<double>(v.total[i])});
        if (opt.measured) v.measured = measureResponse(s, opt.rate, v.include, freqs);
    }
    const double range = opt.dbRange > 0 ? opt.dbRange : niceRange(maxAbs);
    const Axes ax{kLowestHz, top, range, -range};

    // Legend rows: one per view (and its measurement), then the bands.
    const int activeBands = static_cast<int>(std::count_if(s.bands.begin(), s.bands.end(),
                                                           [](const Band &b) { return b.enabled; }));
    const int bandRows = (activeBands + 2) / 3;
    const double legendTop = kPlotBottom + 62;
    const double height = legendTop + 22.0 * static_cast<double>(views.size()) + 20.0 * bandRows + 16;

    std::ostringstream o;
    o << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << kWidth << "\" height=\"" << num(height)
      << "\" viewBox=\"0 0 " << kWidth << ' ' << num(height) << "\" font-family=\"DejaVu Sans, Arial, sans-serif\">\n";
    const std::string name = s.name.empty() ? "bands from the command line" : s.name;
    o << "<title>Lintaq response: " << escapeXml(name) << "</title>\n";
    // Machine-readable axes, so the picture can be checked against numbers.
    o << "<metadata><lintaq:plot xmlns:lintaq=\"urn:lintaq:curve\" x-left=\"" << kPlotLeft << "\" x-right=\""
      << kPlotRight << "\" f-low=\"" << kLowestHz << "\" f-high=\"" << top << "\" y-top=\"" << kPlotTop
      << "\" y-bottom=\"" << kPlotBottom << "\" db-top=\"" << range << "\" db-bottom=\"" << -range
      << "\" rate=\"" << opt.rate << "\" oversample=\"" << params.oversample << "\"/></metadata>\n";
    o << "<defs><clipPath id=\"plot-area\"><rect x=\"" << kPlotLeft << "\" y=\"" << kPlotTop << "\" width=\""
      << kPlotRight - kPlotLeft << "\" height=\"" << kPlotBottom - kPlotTop << "\"/></clipPath></defs>\n";
    o << "<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n";
    o << "<text x=\"" << kPlotLeft << "\" y=\"30\" font-size=\"18\" font-weight=\"bold\">Lintaq: "
      << escapeXml(name) << "</text>\n";
    {
        std::string sub = std::to_string(opt.rate) + " Hz, " +
                          (params.oversample ? "2x oversampling" : "no oversampling") + ", " +
                          std::to_string(activeBands) + (activeBands == 1 ? " band" : " bands");
        if (opt.measured) sub += ", measured in mode " + std::to_string(s.mode);
        o << "<text x=\"" << kPlotLeft << "\" y=\"52\" font-size=\"13\" fill=\"#555555\">" << escapeXml(sub)
          << "</text>\n";
    }
    o << "<rect x=\"" << kPlotLeft << "\" y=\"" << kPlotTop << "\" width=\"" << kPlotRight - kPlotLeft
      << "\" height=\"" << kPlotBottom - kPlotTop << "\" fill=\"#fbfbfb\" stroke=\"#999999\"/>\n";

    // Frequency grid: every 1..9 × decade, labels at 2, 5 and 10 steps.
    o << "<g id=\"frequency-grid\" font-size=\"12\" text-anchor=\"middle\" fill=\"#333333\">\n";
    for (double decade = 10; decade <= 10000; decade *= 10) {
        for (int m = 1; m <= 9; ++m) {
            const double f = decade * m;
            if (f < kLowestHz || f > top) continue;
            const double x = ax.x(f);
            o << "<line x1=\"" << num(x) << "\" y1=\"" << kPlotTop << "\" x2=\"" << num(x) << "\" y2=\""
              << kPlotBottom << "\" stroke=\"" << (m == 1 ? "#bbbbbb" : "#e4e4e4") << "\"/>\n";
            if (m == 1 || m == 2 || m == 5)
                o << "<text x=\"" << num(x) << "\" y=\"" << kPlotBottom + 18 << "\">" << frequencyLabel(f)
                  << "</text>\n";
        }
    }
    o << "<text x=\"" << (kPlotLeft + kPlotRight) / 2 << "\" y=\"" << kPlotBottom + 40
      << "\" font-size=\"13\">frequency (Hz)</text>\n</g>\n";

    // Gain grid.
    const double step = range <= 6 ? 1 : range <= 18 ? 3 : range <= 36 ? 6 : 12;
    o << "<g id=\"gain-grid\" font-size=\"12\" text-anchor=\"end\" fill=\"#333333\">\n";
    for (double db = -range; db <= range + 1e-9; db += step) {
        const double y = ax.y(db);
        o << "<line x1=\"" << kPlotLeft << "\" y1=\"" << num(y) << "\" x2=\"" << kPlotRight << "\" y2=\""
          << num(y) << "\" stroke=\"" << (db == 0 ? "#888888" : "#e4e4e4") << "\"/>\n";
        char label[16];
        std::snprintf(label, sizeof label, "%+g", db);
        o << "<text x=\"" << kPlotLeft - 8 << "\" y=\"" << num(y + 4) << "\">" << (db == 0 ? "0" : label)
          << "</text>\n";
    }
    o << "<text transform=\"translate(20," << (kPlotTop + kPlotBottom) / 2
      << ") rotate(-90)\" text-anchor=\"middle\" font-size=\"13\">gain (dB)</text>\n</g>\n";

    if (count < opt.points) {
        // The graph stops short of the top of the axis near the Nyquist frequency.
        const double x = ax.x(freqs.back());
        o << "<rect x=\"" << num(x) << "\" y=\"" << kPlotTop << "\" width=\"" << num(kPlotRight - x)
          << "\" height=\"" << kPlotBottom - kPlotTop << "\" fill=\"#eeeeee\"/>\n";
    }

    // Bands faint, then the totals bold, then the measurements on top.
    for (std::size_t k = 0; k < s.bands.size(); ++k) {
        if (!s.bands[k].enabled) continue;
        o << polyline("band-" + std::to_string(k + 1), ax, freqs, bandDb[k],
                      std::string("stroke=\"") + kBandColours[k] + "\" stroke-width=\"1.5\" stroke-opacity=\"0.5\"");
    }
    for (const View &v : views)
        o << polyline("total-" + v.key, ax, freqs, v.total,
                      std::string("stroke=\"") + v.colour + "\" stroke-width=\"3.5\" stroke-linejoin=\"round\"");
    for (const View &v : views)
        if (!v.measured.empty())
            o << polyline("measured-" + v.key, ax, freqs, v.measured,
                          "stroke=\"#f1c40f\" stroke-width=\"1.8\" stroke-dasharray=\"7 5\"");

    // A numbered marker on each band's own curve at its frequency.
    for (std::size_t k = 0; k < s.bands.size(); ++k) {
        const Band &b = s.bands[k];
        if (!b.enabled || b.freq < kLowestHz || b.freq > freqs.back()) continue;
        const auto i = static_cast<std::size_t>(
            std::lower_bound(freqs.begin(), freqs.end(), static_cast<float>(b.freq)) - freqs.begin());
        const double y = std::clamp(ax.y(bandDb[k][std::min(i, freqs.size() - 1)]), kPlotTop + 9, kPlotBottom - 9);
        o << "<g id=\"marker-" << k + 1 << "\"><circle cx=\"" << num(ax.x(b.freq)) << "\" cy=\"" << num(y)
          << "\" r=\"8\" fill=\"#ffffff\" stroke=\"" << kBandColours[k] << "\" stroke-width=\"1.5\"/>"
          << "<text x=\"" << num(ax.x(b.freq)) << "\" y=\"" << num(y + 4) << "\" font-size=\"11\" text-anchor=\"middle\" fill=\""
          << kBandColours[k] << "\">" << k + 1 << "</text></g>\n";
    }

    // Legend: what each bold line is, then one entry per band.
    o << "<g id=\"legend\" font-size=\"13\" fill=\"#222222\">\n";
    double ly = legendTop;
    for (const View &v : views) {
        o << "<line x1=\"" << kPlotLeft << "\" y1=\"" << ly - 4 << "\" x2=\"" << kPlotLeft + 34 << "\" y2=\""
          << ly - 4 << "\" stroke=\"" << v.colour << "\" stroke-width=\"3.5\"/>";
        std::string text = "total, " + v.label;
        if (v.key == "left" || v.key == "right")
            text += " (bands on both and on this channel)";
        else if (v.key == "mid" || v.key == "side")
            text += " (bands on both and on " + v.key + ")";
        o << "<text x=\"" << kPlotLeft + 42 << "\" y=\"" << ly << "\">" << escapeXml(text) << "</text>";
        if (!v.measured.empty() && &v == &views.front())
            o << "<line x1=\"" << 640 << "\" y1=\"" << ly - 4 << "\" x2=\"" << 674 << "\" y2=\"" << ly - 4
              << "\" stroke=\"#f1c40f\" stroke-width=\"1.8\" stroke-dasharray=\"7 5\"/><text x=\"682\" y=\"" << ly
              << "\">measured through the engine</text>";
        o << "\n";
        ly += 22;
    }
    int column = 0;
    for (std::size_t k = 0; k < s.bands.size(); ++k) {
        const Band &b = s.bands[k];
        if (!b.enabled) continue;
        char text[128];
        if (isPassType(b.type))
            std::snprintf(text, sizeof text, "%zu %s %g Hz, Q %g, %s", k + 1, typeName(b.type), b.freq, b.q,
                          routingName(b.routing));
        else
            std::snprintf(text, sizeof text, "%zu %s %g Hz, %+g dB, Q %g, %s", k + 1, typeName(b.type), b.freq,
                          b.gain, b.q, routingName(b.routing));
        const double x = kPlotLeft + 300.0 * column;
        o << "<text x=\"" << num(x) << "\" y=\"" << ly << "\" font-size=\"12\" fill=\"" << kBandColours[k] << "\">"
          << escapeXml(text) << "</text>\n";
        if (++column == 3) {
            column = 0;
            ly += 20;
        }
    }
    o << "</g>\n</svg>\n";

    if (opt.output == "-") {
        std::fputs(o.str().c_str(), stdout);
    } else {
        SafeOutput out(opt.output, nullptr, false);
        out.writeAll(o.str());
        out.commit();
    }
    if (!opt.quiet) {
        std::string shown;
        for (const View &v : views) shown += (shown.empty() ? "" : ", ") + v.label;
        std::fprintf(stderr, "lintaq: curve for %s at %d Hz%s\n", shown.c_str(), opt.rate,
                     opt.output == "-" ? "" : (" written to \"" + opt.output + "\"").c_str());
        for (const View &v : views) {
            if (v.measured.empty()) continue;
            // Where the curve is far down, both sit in rounding noise.
            double worst = 0.0, at = 0.0;
            for (int i = 0; i < count; ++i) {
                if (v.total[i] < -30.0f) continue;
                const double d = std::fabs(static_cast<double>(v.measured[i]) - v.total[i]);
                if (d > worst) {
                    worst = d;
                    at = freqs[i];
                }
            }
            std::fprintf(stderr, "lintaq: %s: measured response within %.2f dB of the curve (largest at %.0f Hz, where the curve is above -30 dB)\n",
                         v.label.c_str(), worst, at);
            if (worst > 0.5)
                std::fprintf(stderr, "lintaq: (the curve draws each bell and shelf as one section of the full gain;"
                                     " the engine runs two passes of half the gain, which is narrower for strong bands)\n");
        }
    }
    return kExitOk;
}

}  // namespace lintaq_cli
