#include "editor_model.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "ring_rule.h"

namespace lintaq_editor {

using namespace lintaq_plugin;

namespace {

float clampTo(Variant variant, uint32_t param, float value) { return clampParam(paramRange(variant, param), value); }

float clampQ(const Values &v, int band, float q)
{
    const float qMax = maxQFor(bandType(v, band));
    return q < kMinQ ? kMinQ : (q > qMax ? qMax : q);
}

} // namespace

float PlotMapping::xOfFreq(float hz) const
{
    const float t = std::log(hz / kViewMinHz) / std::log(kViewMaxHz / kViewMinHz);
    return fArea.x + t * fArea.w;
}

float PlotMapping::freqOfX(float x) const
{
    const float t = (x - fArea.x) / fArea.w;
    return kViewMinHz * std::exp(t * std::log(kViewMaxHz / kViewMinHz));
}

float PlotMapping::yOfDb(float db) const { return fArea.y + (0.5f - 0.5f * db / fDbRange) * fArea.h; }

float PlotMapping::dbOfY(float y) const { return (0.5f - (y - fArea.y) / fArea.h) * 2.0f * fDbRange; }

Rect plotArea(float width, float height, float scale)
{
    Rect a;
    a.x = kAxisLeft * scale;
    a.y = kTopBar * scale;
    a.w = std::max(width - a.x - kMargin * scale, 10.0f);
    a.h = std::max(height - a.y - kAxisBottom * scale - (kStripRows * kStripRowH + kMargin) * scale, 10.0f);
    return a;
}

Rect stripCell(float width, float height, float scale, int band, int row)
{
    const Rect plot = plotArea(width, height, scale);
    const float top = plot.y + plot.h + (kAxisBottom + 4) * scale;
    const float colW = (width - 2 * kMargin * scale) / LINTAQ_BANDS, rowH = kStripRowH * scale;
    return {kMargin * scale + static_cast<float>(band) * colW, top + static_cast<float>(row) * rowH, colW, rowH};
}

bool bandEnabled(const Values &v, int band) { return v[bandParam(band, kEnable)] >= 0.5f; }

bool isPass(uint32_t type) { return type == LINTAQ_HIGH_PASS || type == LINTAQ_LOW_PASS; }

uint32_t bandType(const Values &v, int band) { return static_cast<uint32_t>(v[bandParam(band, kType)]); }

float handleDb(const Values &v, int band)
{
    if (isPass(bandType(v, band)))
        return 40.0f * std::log10(clampQ(v, band, v[bandParam(band, kQ)]));
    return v[bandParam(band, kGain)];
}

int hitHandle(const Values &v, const PlotMapping &m, float x, float y, float radius)
{
    int best = -1;
    float bestDistSq = radius * radius;
    for (int k = 0; k < LINTAQ_BANDS; ++k) {
        if (!bandEnabled(v, k)) continue;
        const float dx = m.xOfFreq(v[bandParam(k, kFreq)]) - x;
        // A handle beyond the zoomed range is drawn on the edge: hit it there.
        float hy = m.yOfDb(handleDb(v, k));
        const Rect &a = m.area();
        hy = hy < a.y ? a.y : (hy > a.y + a.h ? a.y + a.h : hy);
        const float dy = hy - y;
        const float d = dx * dx + dy * dy;
        if (d <= bestDistSq) { // ties: the later band, drawn on top
            bestDistSq = d;
            best = k;
        }
    }
    return best;
}

float maxBandFreq(double sampleRate)
{
    // Just under the bypass limit (0.453515 × rate), so a dragged band never
    // silently stops acting.
    const float limit = static_cast<float>(sampleRate * 0.4535);
    return limit < kViewMaxHz ? limit : kViewMaxHz;
}

DragStart beginDrag(const Values &v, int band, float x, float y)
{
    DragStart d;
    d.band = band;
    d.x = x;
    d.y = y;
    d.freq = v[bandParam(band, kFreq)];
    d.gain = v[bandParam(band, kGain)];
    d.q = clampQ(v, band, v[bandParam(band, kQ)]);
    return d;
}

void applyDrag(Values &v, const DragStart &d, const PlotMapping &m, float x, float y, bool fineQ, double sampleRate)
{
    const int k = d.band;
    if (k < 0 || k >= LINTAQ_BANDS) return;
    float freq = m.freqOfX(m.xOfFreq(d.freq) + (x - d.x));
    const float top = maxBandFreq(sampleRate);
    freq = freq < kMinFreq ? kMinFreq : (freq > top ? top : freq);
    v[bandParam(k, kFreq)] = freq;
    const float dy = y - d.y;
    if (fineQ) {
        v[bandParam(k, kQ)] = clampQ(v, k, d.q * std::exp2(-dy / kQPixelsPerOctave));
        return;
    }
    if (isPass(bandType(v, k))) {
        // The handle follows the level at the frequency: Q = 10^(dB/40).
        const float db = m.dbOfY(m.yOfDb(40.0f * std::log10(d.q)) + dy);
        v[bandParam(k, kQ)] = clampQ(v, k, std::pow(10.0f, db / 40.0f));
        return;
    }
    const float gain = m.dbOfY(m.yOfDb(d.gain) + dy);
    v[bandParam(k, kGain)] = gain < -kMaxGain ? -kMaxGain : (gain > kMaxGain ? kMaxGain : gain);
}

void applyWheel(Values &v, int band, float steps)
{
    if (band < 0 || band >= LINTAQ_BANDS) return;
    const float q = clampQ(v, band, v[bandParam(band, kQ)]);
    v[bandParam(band, kQ)] = clampQ(v, band, q * std::exp2(steps * kWheelStepOctaves));
}

void toggleBand(Values &v, Variant variant, int band)
{
    if (band < 0 || band >= LINTAQ_BANDS) return;
    const uint32_t p = bandParam(band, kEnable);
    const float on = variant == Variant::stereo ? static_cast<float>(LINTAQ_BOTH) : 1.0f;
    v[p] = bandEnabled(v, band) ? static_cast<float>(LINTAQ_OFF) : on;
}

int addBandAt(Values &v, Variant variant, const PlotMapping &m, float x, float y, double sampleRate)
{
    for (int k = 0; k < LINTAQ_BANDS; ++k) {
        if (bandEnabled(v, k)) continue;
        const float top = maxBandFreq(sampleRate);
        float freq = m.freqOfX(x);
        freq = freq < kMinFreq ? kMinFreq : (freq > top ? top : freq);
        v[bandParam(k, kType)] = static_cast<float>(LINTAQ_PEAK);
        v[bandParam(k, kFreq)] = freq;
        v[bandParam(k, kGain)] = clampTo(variant, bandParam(k, kGain), m.dbOfY(y));
        v[bandParam(k, kQ)] = kPeakQ;
        toggleBand(v, variant, k);
        return k;
    }
    return -1;
}

bool bandRingsPastLookahead(const Values &v, int band, double sampleRate)
{
    if (!bandEnabled(v, band) || !(sampleRate > 0)) return false;
    const int mode = static_cast<int>(v[kQuality]);
    const float q = clampQ(v, band, v[bandParam(band, kQ)]);
    return lintaq_ring::ringsPastLookahead(v[bandParam(band, kFreq)], q, mode, sampleRate);
}

int latencySamples(const Values &v)
{
    // lookahead + 4096 + 74, and one hop (2048) more on the even-load kind.
    const int mode = static_cast<int>(v[kQuality]);
    return lintaq_ring::kLookaheadSamples[mode] + 4096 + 74 + (v[kEvenLoad] > 0.5f ? 2048 : 0);
}

std::vector<std::pair<uint32_t, float>> changedParams(const Values &before, const Values &after)
{
    std::vector<std::pair<uint32_t, float>> out;
    for (uint32_t p = 0; p < kParamCount; ++p)
        if (before[p] != after[p]) out.emplace_back(p, after[p]);
    return out;
}

std::string formatFreq(float hz)
{
    char text[32];
    if (hz >= 1000.0f)
        std::snprintf(text, sizeof text, hz >= 10000.0f ? "%.1f kHz" : "%.2f kHz", hz / 1000.0f);
    else
        std::snprintf(text, sizeof text, hz >= 100.0f ? "%.0f Hz" : "%.1f Hz", hz);
    return text;
}

std::string formatDb(float db)
{
    char text[32];
    std::snprintf(text, sizeof text, "%+.1f dB", std::fabs(db) < 0.05f ? 0.0f : db);
    return text;
}

std::string formatQ(float q)
{
    char text[32];
    std::snprintf(text, sizeof text, q < 10.0f ? "%.2f" : "%.1f", q);
    return text;
}

bool parseNumberText(const std::string &text, bool allowKilo, float &out)
{
    const char *begin = text.c_str();
    char *end = nullptr;
    const double x = std::strtod(begin, &end);
    if (end == begin || !std::isfinite(x)) return false;
    std::string rest(end);
    std::string unit;
    for (char c : rest)
        if (c != ' ') unit += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    double scale = 1.0;
    if (allowKilo && !unit.empty() && unit[0] == 'k') {
        scale = 1000.0;
        unit.erase(0, 1);
    }
    if (!(unit.empty() || unit == "hz" || unit == "db")) return false;
    out = static_cast<float>(x * scale);
    return true;
}

bool setFromText(Values &v, Variant variant, uint32_t param, const std::string &text)
{
    float x = 0;
    const bool kilo = isBandParam(param) && fieldOf(param) == kFreq;
    if (!parseNumberText(text, kilo, x)) return false;
    x = clampTo(variant, param, x);
    if (isBandParam(param) && fieldOf(param) == kQ) x = clampQ(v, bandOf(param), x);
    v[param] = x;
    return true;
}

PeqParams engineParams(const Values &v, double sampleRate)
{
    PeqParams p{};
    fillEngineParams(v.data(), sampleRate, p);
    p.oversample = v[kOversample] > 0.5f ? 1u : 0u;
    return p;
}

bool bandInView(const Values &v, Variant variant, int band, int view)
{
    if (!bandEnabled(v, band)) return false;
    if (variant == Variant::mono) return true;
    const uint32_t routing = static_cast<uint32_t>(v[bandParam(band, kEnable)]);
    return routing == LINTAQ_BOTH || routing == static_cast<uint32_t>(view);
}

} // namespace lintaq_editor
