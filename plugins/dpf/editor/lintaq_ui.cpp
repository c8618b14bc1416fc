// The plugin's editor: the equaliser's curve with a handle per band, a band
// strip to type values into, and the quality, oversampling and view
// selectors. It shares nothing with the processing side but parameters:
// values go out with setParameterValue and come back through
// parameterChanged (LV2 loads it as a separate binary).
//
// Two curves are drawn: the ideal one (the library's graph functions) and
// the response the engine really produces at these settings, computed on a
// worker thread (TrueResponseWorker). Where they differ by more than half a
// decibel the area between them is shaded.
//
// NanoVG on OpenGL: DGL's Cairo variant has no Windows build, and the same
// drawing code must run in both.
#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "DistrhoUI.hpp"

#include "editor_model.h"
#include "graph_grid.h"
#include "parameters.h"
#include "true_response.h"

START_NAMESPACE_DISTRHO

namespace {

using namespace lintaq_plugin;
using namespace lintaq_editor;
using namespace lintaq_response;

constexpr Variant kVariant = DISTRHO_PLUGIN_NUM_INPUTS == 2 ? Variant::stereo : Variant::mono;
constexpr int kCurvePoints = 480;
constexpr float kDifferenceDb = 0.5f;   // below this the true curve is drawn as equal
constexpr uint kDoubleClickMs = 400;
constexpr float kHandleRadius = 9.0f;   // logical pixels, before the scale factor

struct Rgb {
    int r, g, b;
};
// Twelve hues, distinct on a dark background.
constexpr Rgb kBandColour[LINTAQ_BANDS] = {{230, 90, 90},  {240, 150, 70}, {230, 200, 70}, {160, 220, 80},
                                           {90, 210, 120}, {70, 210, 190}, {80, 180, 240}, {110, 140, 250},
                                           {160, 120, 250}, {210, 110, 230}, {240, 110, 180}, {200, 200, 200}};

const char *typeShort(uint32_t type)
{
    switch (type) {
    case LINTAQ_PEAK: return "Peak";
    case LINTAQ_LOW_SHELF: return "Lo shelf";
    case LINTAQ_HIGH_SHELF: return "Hi shelf";
    case LINTAQ_HIGH_PASS: return "High-pass";
    case LINTAQ_LOW_PASS: return "Low-pass";
    default: return "?";
    }
}

const char *routeShort(uint32_t routing)
{
    switch (routing) {
    case LINTAQ_OFF: return "Off";
    case LINTAQ_BOTH: return "Both";
    case LINTAQ_LEFT: return "Left";
    case LINTAQ_RIGHT: return "Right";
    case LINTAQ_MID: return "Mid";
    case LINTAQ_SIDE: return "Side";
    default: return "?";
    }
}

constexpr int kViews[] = {LINTAQ_LEFT, LINTAQ_RIGHT, LINTAQ_MID, LINTAQ_SIDE};

// A clickable rectangle in the top bar or the band strip and what it does.
enum class Control { none, quality, oversample, evenLoad, zoom, view, bandNumber, bandType, bandRoute, bandField };
struct Hot {
    Rect box;
    Control what = Control::none;
    int arg = 0;        // view code, or band
    uint32_t param = 0; // the band field typed into
};

} // namespace

class LintaqUI : public UI {
public:
    LintaqUI() : UI(DISTRHO_UI_DEFAULT_WIDTH, DISTRHO_UI_DEFAULT_HEIGHT, true)
    {
        for (uint32_t p = 0; p < kParamCount; ++p)
            fValues[p] = paramRange(kVariant, p).def;
        loadSharedResources();
        const double s = getScaleFactor();
        setGeometryConstraints(static_cast<uint>(640 * s), static_cast<uint>(400 * s), false);
        fSampleRate = getSampleRate() > 0 ? getSampleRate() : 48000.0;
        markChanged();
    }

    ~LintaqUI() override
    {
        if (fGrid) ExitPeqGraph(fGrid);
    }

protected:
    // ---- host → editor
    void parameterChanged(uint32_t index, float value) override
    {
        if (index >= kParamCount) return;
        fValues[index] = clampParam(paramRange(kVariant, index), value);
        markChanged();
    }

    void programLoaded(uint32_t) override { repaint(); }

#if DISTRHO_PLUGIN_WANT_STATE
    // The plugin keeps no state of its own beyond parameters (CLAP's state
    // switch is on only to carry them).
    void stateChanged(const char *, const char *) override {}
#endif

    void sampleRateChanged(double rate) override
    {
        fSampleRate = rate > 0 ? rate : 48000.0;
        markChanged();
    }

    void uiIdle() override
    {
        ensureGrid();
        if (fRequestPending && !fGridFreqs.empty()) {
            fRequestPending = false;
            TrueResponseRequest req;
            req.params = engineParams(fValues, fSampleRate);
            req.mode = static_cast<int>(fValues[kQuality]);
            req.channels = kVariant == Variant::stereo ? 2 : 1;
            req.view = fView;
            req.frequencies = fGridFreqs;
            fWanted = fWorker.request(req);
        }
        TrueResponse r;
        if (fWorker.takeResult(r)) {
            fTrue = std::move(r);
            repaint();
        }
    }

    // ---- drawing
    void onNanoDisplay() override
    {
        layout();
        const float s = scale();
        beginPath();
        rect(0, 0, static_cast<float>(getWidth()), static_cast<float>(getHeight()));
        fillColor(Color(24, 26, 31));
        fill();
        fontFace(NANOVG_DEJAVU_SANS_TTF);
        fHots.clear();
        drawTopBar(s);
        drawGrid(s);
        drawCurves(s);
        drawHandles(s);
        drawStrip(s);
    }

    // ---- pointer and keys
    bool onMouse(const MouseEvent &ev) override
    {
        const float x = static_cast<float>(ev.pos.getX()), y = static_cast<float>(ev.pos.getY());
        if (!ev.press) {
            if (ev.button == 1 && fDrag.band >= 0) endDrag();
            return true;
        }
        const bool doubleClick = ev.button == 1 && ev.time - fLastPressTime < kDoubleClickMs &&
                                 std::fabs(x - fLastPressX) < 4 && std::fabs(y - fLastPressY) < 4;
        fLastPressTime = ev.time;
        fLastPressX = x;
        fLastPressY = y;

        for (const Hot &h : fHots)
            if (h.box.contains(x, y)) {
                clickControl(h, ev.button);
                return true;
            }
        cancelTyping();
        if (!fPlot.area().contains(x, y) || ev.button != 1) return false;
        const int band = hitHandle(fValues, fPlot, x, y, kHandleRadius * scale());
        if (doubleClick && fLastClickedBand >= 0) {
            // The first click of the pair started a drag that moved nothing.
            Values next = fValues;
            toggleBand(next, kVariant, fLastClickedBand);
            commit(next);
            fLastClickedBand = -1;
            return true;
        }
        if (band >= 0) {
            fLastClickedBand = band;
            startDrag(band, x, y);
            return true;
        }
        fLastClickedBand = -1;
        Values next = fValues;
        const int added = addBandAt(next, kVariant, fPlot, x, y, fSampleRate);
        if (added >= 0) {
            commit(next);
            fLastClickedBand = added;
            startDrag(added, x, y);
        }
        return true;
    }

    bool onMotion(const MotionEvent &ev) override
    {
        fPointerX = static_cast<float>(ev.pos.getX());
        fPointerY = static_cast<float>(ev.pos.getY());
        if (fDrag.band >= 0) {
            Values next = fValues;
            applyDrag(next, fDrag, fPlot, fPointerX, fPointerY, (ev.mod & (kModifierControl | kModifierShift)) != 0,
                      fSampleRate);
            send(next);
        }
        repaint();
        return true;
    }

    bool onScroll(const ScrollEvent &ev) override
    {
        const float x = static_cast<float>(ev.pos.getX()), y = static_cast<float>(ev.pos.getY());
        int band = fDrag.band >= 0 ? fDrag.band : hitHandle(fValues, fPlot, x, y, 2 * kHandleRadius * scale());
        if (band < 0) return false;
        Values next = fValues;
        applyWheel(next, band, static_cast<float>(ev.delta.getY()));
        commit(next);
        return true;
    }

    bool onKeyboard(const KeyboardEvent &ev) override
    {
        if (!ev.press || fTyping < 0) return false;
        const uint key = ev.key;
        if (key == kKeyEscape) {
            cancelTyping();
        } else if (key == '\r' || key == '\n') {
            Values next = fValues;
            if (setFromText(next, kVariant, static_cast<uint32_t>(fTyping), fTyped)) commit(next);
            cancelTyping();
        } else if (key == kKeyBackspace) {
            if (!fTyped.empty()) fTyped.pop_back();
        } else if (key < 128 && (std::isdigit(static_cast<int>(key)) || std::strchr(".-+kK ", static_cast<int>(key)))) {
            if (fTyped.size() < 16) fTyped += static_cast<char>(key);
        } else {
            return false;
        }
        repaint();
        return true;
    }

    void onResize(const ResizeEvent &ev) override
    {
        UI::onResize(ev);
        repaint();
    }

private:
    float scale() const { return static_cast<float>(getScaleFactor()); }

    void markChanged()
    {
        fRequestPending = true;
        repaint();
    }

    // The plot's rectangle for the window's size and the grid of frequencies
    // the curves are drawn at (rebuilt when the rate or oversampling changes).
    void layout()
    {
        const Rect area = plotArea(static_cast<float>(getWidth()), static_cast<float>(getHeight()), scale());
        fPlot = PlotMapping(area, kZoomSteps[fZoom]);
        ensureGrid();
    }

    void ensureGrid()
    {
        const PeqParams p = engineParams(fValues, fSampleRate);
        if (fGrid == nullptr || p.sampleRate != fGridRate || p.oversample != fGridOversample) {
            if (fGrid) ExitPeqGraph(fGrid);
            fGrid = InitPeqGraph(&p, kCurvePoints, kViewMinHz, kViewMaxHz);
            fGridRate = p.sampleRate;
            fGridOversample = p.oversample;
            fGridFreqs = lintaq_grid::gridFrequencies(kCurvePoints, kViewMinHz, kViewMaxHz);
            fGridFreqs.resize(fGrid ? static_cast<size_t>(fGrid->pointCount) : 0);
            fRequestPending = true;
        }
    }

    // ---- the top bar
    void button(float &x, float s, const std::string &label, bool lit, Control what, int arg = 0)
    {
        fontSize(12 * s);
        Rectangle<float> bounds;
        textBounds(0, 0, label.c_str(), nullptr, bounds);
        const float w = bounds.getWidth() + 14 * s, y = 6 * s, h = 19 * s;
        beginPath();
        roundedRect(x, y, w, h, 4 * s);
        fillColor(lit ? Color(70, 110, 170) : Color(44, 48, 56));
        fill();
        fillColor(Color(230, 232, 236));
        textAlign(ALIGN_CENTER | ALIGN_MIDDLE);
        text(x + w / 2, y + h / 2, label.c_str(), nullptr);
        fHots.push_back({{x, y, w, h}, what, arg, 0});
        x += w + 5 * s;
    }

    void drawTopBar(float s)
    {
        float x = kMargin * s;
        const int mode = static_cast<int>(fValues[kQuality]);
        button(x, s, "Quality " + std::to_string(mode), false, Control::quality);
        button(x, s, fValues[kOversample] > 0.5f ? "2x oversampling: on" : "2x oversampling: off",
               fValues[kOversample] > 0.5f, Control::oversample);
        button(x, s, fValues[kEvenLoad] > 0.5f ? "Even load: on" : "Even load: off", fValues[kEvenLoad] > 0.5f,
               Control::evenLoad);
        char zoom[24];
        std::snprintf(zoom, sizeof zoom, "\xc2\xb1%.0f dB", kZoomSteps[fZoom]);
        button(x, s, zoom, false, Control::zoom);
        if (kVariant == Variant::stereo) {
            static const char *const names[] = {"L", "R", "M", "S"};
            for (int i = 0; i < 4; ++i) button(x, s, names[i], fView == kViews[i], Control::view, kViews[i]);
        }
        const int latency = latencySamples(fValues);
        char info[96];
        std::snprintf(info, sizeof info, "latency %d samples, %.1f ms", latency, 1000.0 * latency / fSampleRate);
        fontSize(12 * s);
        fillColor(Color(170, 175, 185));
        textAlign(ALIGN_LEFT | ALIGN_MIDDLE);
        text(x + 4 * s, 15.5f * s, info, nullptr);

        if (fPlot.area().contains(fPointerX, fPointerY)) {
            const std::string at = formatFreq(fPlot.freqOfX(fPointerX)) + "  " + formatDb(fPlot.dbOfY(fPointerY));
            textAlign(ALIGN_RIGHT | ALIGN_MIDDLE);
            fillColor(Color(240, 240, 200));
            text(static_cast<float>(getWidth()) - kMargin * s, 15.5f * s, at.c_str(), nullptr);
        }
    }

    // ---- grid and axes
    void drawGrid(float s)
    {
        const Rect &a = fPlot.area();
        beginPath();
        rect(a.x, a.y, a.w, a.h);
        fillColor(Color(30, 33, 40));
        fill();
        fontSize(10.5f * s);
        // Frequency lines: 1-2-5 per decade, labels at 1, 2 and 5.
        for (float decade = 10; decade <= 10000; decade *= 10)
            for (int m = 1; m <= 9; ++m) {
                const float f = decade * static_cast<float>(m);
                if (f > kViewMaxHz) break;
                const float x = std::round(fPlot.xOfFreq(f)) + 0.5f;
                const bool major = m == 1;
                beginPath();
                moveTo(x, a.y);
                lineTo(x, a.y + a.h);
                strokeColor(major ? Color(70, 75, 86) : Color(44, 48, 56));
                strokeWidth(1);
                stroke();
                if (m == 1 || m == 2 || m == 5) {
                    char label[16];
                    if (f >= 1000) std::snprintf(label, sizeof label, "%.0fk", f / 1000);
                    else std::snprintf(label, sizeof label, "%.0f", f);
                    fillColor(Color(150, 155, 165));
                    // The last label ends at the plot's edge rather than past it.
                    const bool last = f * 2 > kViewMaxHz;
                    textAlign((last ? ALIGN_RIGHT : ALIGN_CENTER) | ALIGN_TOP);
                    text(last ? x + 0.5f : x, a.y + a.h + 3 * s, label, nullptr);
                }
            }
        // Gain lines every 6 dB (2 dB at ±6), labelled.
        const float range = fPlot.dbRange(), step = range <= 6 ? 2 : (range <= 12 ? 3 : 6);
        for (float db = -range; db <= range + 0.01f; db += step) {
            const float y = std::round(fPlot.yOfDb(db)) + 0.5f;
            beginPath();
            moveTo(a.x, y);
            lineTo(a.x + a.w, y);
            strokeColor(db == 0 ? Color(95, 100, 112) : Color(50, 54, 63));
            strokeWidth(1);
            stroke();
            char label[16];
            std::snprintf(label, sizeof label, "%+.0f", db);
            fillColor(Color(150, 155, 165));
            textAlign(ALIGN_RIGHT | ALIGN_MIDDLE);
            text(a.x - 4 * s, y, db == 0 ? "0" : label, nullptr);
        }
    }

    // ---- curves
    void polyline(const std::vector<float> &db, int count)
    {
        beginPath();
        const Rect &a = fPlot.area();
        for (int i = 0; i < count; ++i) {
            const float x = fPlot.xOfFreq(fGridFreqs[static_cast<size_t>(i)]);
            float y = fPlot.yOfDb(db[static_cast<size_t>(i)]);
            y = std::clamp(y, a.y - 2, a.y + a.h + 2);
            if (i == 0) moveTo(x, y);
            else lineTo(x, y);
        }
    }

    void drawCurves(float s)
    {
        if (fGrid == nullptr) return;
        const int n = fGrid->pointCount;
        const Rect &a = fPlot.area();
        const PeqParams p = engineParams(fValues, fSampleRate);
        std::vector<float> band(static_cast<size_t>(n)), total(static_cast<size_t>(n), 0.0f);
        scissor(a.x, a.y, a.w, a.h);
        const float zeroY = fPlot.yOfDb(0);
        for (int k = 0; k < LINTAQ_BANDS; ++k) {
            if (!bandInView(fValues, kVariant, k, fView)) continue;
            LintaqGraph(&p, fGrid, band.data(), k);
            for (int i = 0; i < n; ++i) total[static_cast<size_t>(i)] += band[static_cast<size_t>(i)];
            // Each band faintly: its area against 0 dB.
            polyline(band, n);
            lineTo(fPlot.xOfFreq(fGridFreqs[static_cast<size_t>(n - 1)]), zeroY);
            lineTo(fPlot.xOfFreq(fGridFreqs[0]), zeroY);
            closePath();
            const Rgb c = kBandColour[k];
            fillColor(Color(c.r, c.g, c.b, 0.10f));
            fill();
            polyline(band, n);
            strokeColor(Color(c.r, c.g, c.b, 0.35f));
            strokeWidth(1.0f * s);
            stroke();
        }

        // The true response, where it is for these settings' grid.
        const bool haveTrue = fTrue.generation == fWanted && fTrue.magnitudeDb.size() == static_cast<size_t>(n);
        if (haveTrue) {
            // The area between the two where they differ by more than kDifferenceDb.
            for (int i = 0; i + 1 < n; ++i) {
                const size_t i0 = static_cast<size_t>(i), i1 = i0 + 1;
                const float d0 = fTrue.magnitudeDb[i0] - total[i0], d1 = fTrue.magnitudeDb[i1] - total[i1];
                if (std::fabs(d0) <= kDifferenceDb && std::fabs(d1) <= kDifferenceDb) continue;
                const float x0 = fPlot.xOfFreq(fGridFreqs[i0]), x1 = fPlot.xOfFreq(fGridFreqs[i1]);
                beginPath();
                moveTo(x0, fPlot.yOfDb(total[i0]));
                lineTo(x1, fPlot.yOfDb(total[i1]));
                lineTo(x1, fPlot.yOfDb(fTrue.magnitudeDb[i1]));
                lineTo(x0, fPlot.yOfDb(fTrue.magnitudeDb[i0]));
                closePath();
                fillColor(Color(255, 120, 40, 0.45f));
                fill();
            }
        }
        // The ideal total, then the true one over it.
        polyline(total, n);
        strokeColor(Color(235, 238, 245, haveTrue ? 0.55f : 1.0f));
        strokeWidth(haveTrue ? 1.5f * s : 2.5f * s);
        stroke();
        if (haveTrue) {
            polyline(fTrue.magnitudeDb, n);
            strokeColor(Color(255, 210, 90));
            strokeWidth(2.5f * s);
            stroke();
        }
        resetScissor();

        // Legend.
        fontSize(10.5f * s);
        textAlign(ALIGN_RIGHT | ALIGN_TOP);
        fillColor(Color(235, 238, 245, 0.7f));
        text(a.x + a.w - 6 * s, a.y + 4 * s, "ideal", nullptr);
        fillColor(Color(255, 210, 90));
        text(a.x + a.w - 6 * s, a.y + 17 * s, haveTrue ? "what the engine does" : "measuring...", nullptr);
        fillColor(Color(255, 140, 60));
        text(a.x + a.w - 6 * s, a.y + 30 * s, "differs > 0.5 dB", nullptr);
    }

    void drawHandles(float s)
    {
        const Rect &a = fPlot.area();
        for (int k = 0; k < LINTAQ_BANDS; ++k) {
            if (!bandEnabled(fValues, k)) continue;
            const float x = fPlot.xOfFreq(fValues[bandParam(k, kFreq)]);
            const float y = std::clamp(fPlot.yOfDb(handleDb(fValues, k)), a.y, a.y + a.h);
            const Rgb c = kBandColour[k];
            const bool dim = !bandInView(fValues, kVariant, k, fView);
            const float r = kHandleRadius * s;
            if (bandRingsPastLookahead(fValues, k, fSampleRate)) {
                // Rings longer than the mode's frames hold: a red ring and a note.
                beginPath();
                circle(x, y, r + 4 * s);
                strokeColor(Color(255, 60, 60));
                strokeWidth(2 * s);
                stroke();
                const char *note = "rings past this quality";
                fontSize(10.5f * s);
                Rectangle<float> box;
                textBounds(0, 0, note, nullptr, box);
                const float bw = box.getWidth() + 8 * s, bh = 15 * s, by = y - r - 6 * s - bh;
                beginPath();
                roundedRect(x - bw / 2, by, bw, bh, 3 * s);
                fillColor(Color(24, 26, 31, 0.85f));
                fill();
                fillColor(Color(255, 90, 90));
                textAlign(ALIGN_CENTER | ALIGN_MIDDLE);
                text(x, by + bh / 2, note, nullptr);
            }
            beginPath();
            circle(x, y, r);
            fillColor(Color(c.r, c.g, c.b, dim ? 0.35f : 0.95f));
            fill();
            strokeColor(fDrag.band == k ? Color(255, 255, 255) : Color(20, 20, 24));
            strokeWidth(1.5f * s);
            stroke();
            char num[4];
            std::snprintf(num, sizeof num, "%d", k + 1);
            fontSize(11 * s);
            fillColor(Color(15, 15, 18));
            textAlign(ALIGN_CENTER | ALIGN_MIDDLE);
            text(x, y + 0.5f * s, num, nullptr);
        }
    }

    // ---- the band strip: one column per band
    void cell(const Rect &box, const std::string &label, Color fg, Color bg, Control what, int band, uint32_t param)
    {
        beginPath();
        roundedRect(box.x + 1, box.y + 1, box.w - 2, box.h - 2, 3);
        fillColor(bg);
        fill();
        fillColor(fg);
        textAlign(ALIGN_CENTER | ALIGN_MIDDLE);
        text(box.x + box.w / 2, box.y + box.h / 2, label.c_str(), nullptr);
        if (what != Control::none) fHots.push_back({box, what, band, param});
    }

    void drawStrip(float s)
    {
        const float w = static_cast<float>(getWidth()), h = static_cast<float>(getHeight());
        fontSize(11 * s);
        for (int k = 0; k < LINTAQ_BANDS; ++k) {
            const auto at = [&](int row) { return stripCell(w, h, s, k, row); };
            const bool on = bandEnabled(fValues, k);
            const Rgb c = kBandColour[k];
            const Color fg = on ? Color(230, 232, 236) : Color(120, 124, 132);
            const Color bg = Color(38, 42, 50);
            const bool rings = bandRingsPastLookahead(fValues, k, fSampleRate);
            char num[16];
            std::snprintf(num, sizeof num, rings ? "%d  rings!" : "%d", k + 1);
            cell(at(kRowNumber), num, on ? Color(15, 15, 18) : fg,
                 on ? (rings ? Color(255, 80, 80) : Color(c.r, c.g, c.b)) : Color(50, 54, 62), Control::bandNumber, k,
                 0);
            const uint32_t type = bandType(fValues, k);
            cell(at(kRowType), typeShort(type), fg, bg, Control::bandType, k, 0);
            const uint32_t routing = static_cast<uint32_t>(fValues[bandParam(k, kEnable)]);
            if (kVariant == Variant::stereo)
                cell(at(kRowRouting), routeShort(routing), fg, bg, Control::bandRoute, k, 0);
            else
                cell(at(kRowRouting), on ? "On" : "Off", fg, bg, Control::bandNumber, k, 0);
            const uint32_t fields[3] = {bandParam(k, kFreq), bandParam(k, kGain), bandParam(k, kQ)};
            for (int f = 0; f < 3; ++f) {
                const uint32_t p = fields[f];
                std::string label;
                if (fTyping == static_cast<int>(p)) label = fTyped + "|";
                else if (f == 0) label = formatFreq(fValues[p]);
                else if (f == 1) label = isPass(type) ? "-" : formatDb(fValues[p]);
                else label = formatQ(std::min(fValues[p], maxQFor(type)));
                const Color editBg = fTyping == static_cast<int>(p) ? Color(70, 110, 170) : bg;
                cell(at(kRowFreq + f), label, fg, editBg, Control::bandField, k, p);
            }
        }
    }

    // ---- edits
    void clickControl(const Hot &h, uint button)
    {
        const int dir = button == 3 ? -1 : 1; // right-click steps back
        Values next = fValues;
        if (h.what != Control::bandField) cancelTyping();
        switch (h.what) {
        case Control::quality:
            next[kQuality] = static_cast<float>((static_cast<int>(next[kQuality]) + dir + kModeCount) % kModeCount);
            break;
        case Control::oversample: next[kOversample] = next[kOversample] > 0.5f ? 0.0f : 1.0f; break;
        case Control::evenLoad: next[kEvenLoad] = next[kEvenLoad] > 0.5f ? 0.0f : 1.0f; break;
        case Control::zoom:
            fZoom = (fZoom + dir + kZoomCount) % kZoomCount;
            repaint();
            return;
        case Control::view:
            fView = h.arg;
            markChanged();
            return;
        case Control::bandNumber: toggleBand(next, kVariant, h.arg); break;
        case Control::bandType: {
            const uint32_t p = bandParam(h.arg, kType);
            constexpr int kTypeCount = LINTAQ_LOW_PASS + 1;
            next[p] = static_cast<float>((static_cast<int>(next[p]) + dir + kTypeCount) % kTypeCount);
            break;
        }
        case Control::bandRoute: {
            const uint32_t p = bandParam(h.arg, kEnable);
            constexpr int kRouteCount = LINTAQ_SIDE + 1;
            next[p] = static_cast<float>((static_cast<int>(next[p]) + dir + kRouteCount) % kRouteCount);
            break;
        }
        case Control::bandField:
            fTyping = static_cast<int>(h.param);
            fTyped.clear();
            repaint();
            return;
        case Control::none: return;
        }
        commit(next);
    }

    void cancelTyping()
    {
        fTyping = -1;
        fTyped.clear();
        repaint();
    }

    // Sends the changed parameters, each as one complete host gesture.
    void commit(const Values &next)
    {
        for (const auto &[p, value] : changedParams(fValues, next)) {
            editParameter(p, true);
            setParameterValue(p, value);
            editParameter(p, false);
            fValues[p] = value;
        }
        markChanged();
    }

    // Sends changes inside a gesture opened by startDrag.
    void send(const Values &next)
    {
        for (const auto &[p, value] : changedParams(fValues, next)) {
            setParameterValue(p, value);
            fValues[p] = value;
        }
        markChanged();
    }

    void startDrag(int band, float x, float y)
    {
        fDrag = beginDrag(fValues, band, x, y);
        for (BandField f : {kFreq, kGain, kQ}) editParameter(bandParam(band, f), true);
    }

    void endDrag()
    {
        for (BandField f : {kFreq, kGain, kQ}) editParameter(bandParam(fDrag.band, f), false);
        fDrag = DragStart{};
        repaint();
    }

    Values fValues{};
    double fSampleRate = 48000;
    PlotMapping fPlot{Rect{}, kZoomSteps[0]};
    int fZoom = 0;
    int fView = LINTAQ_LEFT;

    PeqGraph *fGrid = nullptr;
    int32_t fGridRate = 0;
    uint32_t fGridOversample = 0;
    std::vector<float> fGridFreqs;

    TrueResponseWorker fWorker;
    TrueResponse fTrue;
    uint64_t fWanted = 0;
    bool fRequestPending = true;

    std::vector<Hot> fHots;
    DragStart fDrag;
    int fLastClickedBand = -1;
    uint fLastPressTime = 0;
    float fLastPressX = -100, fLastPressY = -100;
    float fPointerX = -1, fPointerY = -1;
    int fTyping = -1; // the parameter typed into, or -1
    std::string fTyped;

    DISTRHO_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(LintaqUI)
};

UI *createUI() { return new LintaqUI(); }

END_NAMESPACE_DISTRHO
