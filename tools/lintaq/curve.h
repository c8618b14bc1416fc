// `lintaq curve`: the equaliser's response as an SVG picture, from the
// engine's response graph, optionally with the response measured from the
// engine's own impulse response on top.
#pragma once

#include <string>

#include "settings.h"

namespace lintaq_cli {

struct CurveOptions {
    Settings settings;
    int rate = 48000;
    std::string output;            // "-" writes to standard output
    bool measured = false;
    std::string channel = "auto";  // auto, left, right, mid, side, mono
    int points = 600;
    double dbRange = 0.0;          // half the dB span; 0 picks one to fit
    bool quiet = false;
};

int runCurve(const CurveOptions &opt);

}  // namespace lintaq_cli
