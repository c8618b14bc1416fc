// `lintaq generate-demo`: a short piece of music-like sound to try the
// equaliser on, made from scratch (no samples shipped).
#pragma once

#include <string>

namespace lintaq_cli {

struct DemoOptions {
    std::string output;
    int rate = 48000;
    double seconds = 8.0;
    int channels = 2;
    std::string format;
    bool floatSamples = false;
    bool quiet = false;
};

int runGenerateDemo(const DemoOptions &opt);

}  // namespace lintaq_cli
