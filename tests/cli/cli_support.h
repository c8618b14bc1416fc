// What the command-line tests share: a scratch folder, running the built
// lintaq binary, audio files in and out, and the response graph as reference.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "lintaq.h"

struct ScratchDir {
    ScratchDir();
    ~ScratchDir();
    std::string path;
    std::string operator/(const std::string &name) const { return path + "/" + name; }
    std::set<std::string> entries() const;  // hidden ones too
};

struct RunResult {
    int exitCode;
    std::string out, err;
};
// Runs lintaq with `args` (no shell), capturing both output streams.
RunResult runCli(const std::vector<std::string> &args);
RunResult runProgram(const std::string &program, const std::vector<std::string> &args);

struct Audio {
    int rate = 0, channels = 0, format = 0;
    std::vector<float> samples;  // interleaved
    long frames() const { return channels ? static_cast<long>(samples.size()) / channels : 0; }
    float at(long frame, int ch) const { return samples[frame * channels + ch]; }
};
void writeAudio(const std::string &path, const Audio &a);
Audio readAudio(const std::string &path);
std::string readBytes(const std::string &path);
void writeText(const std::string &path, const std::string &text);

// Sum of LintaqGraph over the given bands, at exactly `freq` Hz.
double graphDb(const PeqParams &p, const std::vector<int> &bands, float freq);
PeqParams emptyParams(int rate, bool oversample);
