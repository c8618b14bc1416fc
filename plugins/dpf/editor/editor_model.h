// The curve editor's rules, without a display: where a frequency and a gain
// are drawn, which handle the pointer is on, and what a drag, a wheel step,
// a double-click or a click on empty space does to the parameter values.
// The editor's drawing code calls these; tests call them without a window.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "lintaq.h"
#include "parameters.h"

namespace lintaq_editor {

using lintaq_plugin::Values;
using lintaq_plugin::Variant;

// The frequency axis: 10 Hz to 20 kHz, logarithmic.
inline constexpr float kViewMinHz = 10.0f, kViewMaxHz = 20000.0f;
// Gain axis half-ranges the zoom steps through; 24 dB first.
inline constexpr float kZoomSteps[] = {24.0f, 30.0f, 6.0f, 12.0f};
inline constexpr int kZoomCount = sizeof kZoomSteps / sizeof kZoomSteps[0];

struct Rect {
    float x = 0, y = 0, w = 1, h = 1;
    bool contains(float px, float py) const { return px >= x && px < x + w && py >= y && py < y + h; }
};

// Pixels <-> Hz and dB inside the plot area.
class PlotMapping {
public:
    PlotMapping(Rect area, float dbRange) : fArea(area), fDbRange(dbRange) {}
    float xOfFreq(float hz) const;
    float freqOfX(float x) const;
    float yOfDb(float db) const;
    float dbOfY(float y) const;
    const Rect &area() const { return fArea; }
    float dbRange() const { return fDbRange; }

private:
    Rect fArea;
    float fDbRange;
};

// The editor's layout in logical pixels (times the scale factor): the top
// bar, the plot with its axis labels, and the band strip below.
inline constexpr float kTopBar = 30.0f, kStripRowH = 17.0f, kStripRows = 6.0f, kMargin = 8.0f;
inline constexpr float kAxisLeft = 40.0f, kAxisBottom = 18.0f;
// The plot area of a window of width × height pixels.
Rect plotArea(float width, float height, float scale);
// One cell of the band strip below the plot: a column per band, rows
// number, type, routing, frequency, gain, Q.
enum StripRow { kRowNumber = 0, kRowType, kRowRouting, kRowFreq, kRowGain, kRowQ };
Rect stripCell(float width, float height, float scale, int band, int row);

bool bandEnabled(const Values &v, int band);
bool isPass(uint32_t type);
uint32_t bandType(const Values &v, int band);
// Where a band's handle sits vertically: its gain, or for the pass types the
// level at its frequency, 40·log10(Q) dB, since their drag moves Q.
float handleDb(const Values &v, int band);

// The enabled band whose handle is nearest (x, y) within radius pixels, or
// -1. Disabled bands have no handle on the curve (only in the band strip),
// so clicks near their default places add a band instead.
int hitHandle(const Values &v, const PlotMapping &m, float x, float y, float radius);

// The highest frequency a handle may be moved to at a host rate: the view's
// top or just under the engine's band limit, whichever is lower.
float maxBandFreq(double sampleRate);

// A drag from the press point: horizontal moves the frequency, vertical the
// gain (pass types: Q through the level at the frequency). With fineQ
// (a modifier held) vertical movement changes Q instead, an octave of Q
// per kQPixelsPerOctave pixels, up for narrower.
inline constexpr float kQPixelsPerOctave = 60.0f;
struct DragStart {
    int band = -1;
    float x = 0, y = 0;       // pointer at the press
    float freq = 0, gain = 0, q = 0;
};
DragStart beginDrag(const Values &v, int band, float x, float y);
void applyDrag(Values &v, const DragStart &d, const PlotMapping &m, float x, float y, bool fineQ, double sampleRate);

// One wheel step (positive: away from the user) multiplies Q by 2^(1/6),
// held to the band type's range.
inline constexpr float kWheelStepOctaves = 1.0f / 6.0f;
void applyWheel(Values &v, int band, float steps);

// Double-click on a handle: the band off, or (from the strip) back on,
// routed to both channels.
void toggleBand(Values &v, Variant variant, int band);

// A click on empty curve space: the lowest-numbered band that is off becomes
// a peak at the click's frequency and gain with Q 1, on both channels.
// Returns the band, or -1 when all twelve are in use (nothing changes).
int addBandAt(Values &v, Variant variant, const PlotMapping &m, float x, float y, double sampleRate);

// The bands whose response rings past the quality mode's lookahead.
bool bandRingsPastLookahead(const Values &v, int band, double sampleRate);

// Latency of the chosen quality and even-load setting, in host samples, as
// the engine documents it (LintaqInit, LintaqInitSmooth).
int latencySamples(const Values &v);

// Parameter changes between two sets of values, in table order.
std::vector<std::pair<uint32_t, float>> changedParams(const Values &before, const Values &after);

// Text shown and typed in the band strip and the pointer readout.
std::string formatFreq(float hz);  // "95.0 Hz", "1.20 kHz"
std::string formatDb(float db);    // "+3.0 dB"
std::string formatQ(float q);      // "0.71"
// Parses typed text: a number, optionally followed by k (×1000) and a
// unit; returns false on anything else. The value is then held to the
// parameter's range by the caller.
bool parseNumberText(const std::string &text, bool allowKilo, float &out);
// Sets a parameter from typed text, held to its range (and the type's Q
// limit); false when the text is not a number.
bool setFromText(Values &v, Variant variant, uint32_t param, const std::string &text);

// A PeqParams for drawing: the bands as the engine gets them, at a rate.
PeqParams engineParams(const Values &v, double sampleRate);

// The curve of one view of the stereo plugin: a band contributes to the
// left view when routed to both or left, and so on; mono shows every
// enabled band.
bool bandInView(const Values &v, Variant variant, int band, int view);

} // namespace lintaq_editor
