// `lintaq process`: equalise an audio file, sample-aligned with its input.
#pragma once

#include <string>

#include "settings.h"

namespace lintaq_cli {

struct ProcessOptions {
    std::string input;
    std::string output;
    Settings settings;
    std::string format;      // empty: from the output's extension, else the input's
    bool floatSamples = false;
    bool overwrite = false;
    bool quiet = false;
};

int runProcess(const ProcessOptions &opt);

}  // namespace lintaq_cli
