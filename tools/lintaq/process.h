// `lintaq process`: equalise audio files, sample-aligned with their input,
// one at a time or a batch across threads.
#pragma once

#include <string>
#include <vector>

#include "settings.h"

namespace lintaq_cli {

// Where a run reports its progress instead of drawing its own bar: a
// batch's shared bar. Called from worker threads.
class ProgressSink {
public:
    virtual ~ProgressSink() = default;
    virtual void advance(double seconds) = 0;       // more audio done
    virtual void line(const std::string &text) = 0;  // a finished file's summary
};

struct ProcessOptions {
    std::string input;
    std::string output;
    Settings settings;
    std::string format;      // empty: from the output's extension, else the input's
    bool floatSamples = false;
    bool overwrite = false;
    bool quiet = false;
    ProgressSink *sink = nullptr;
};

int runProcess(const ProcessOptions &opt);

constexpr int kMaxJobs = 64;

struct BatchOptions {
    std::vector<std::string> inputs;
    std::string outputFolder;
    int jobs = 0;  // 0: one per processor core
    ProcessOptions common;  // settings and output options; input and output unused
};

// Every input into the folder under its own name, `jobs` at a time. A file
// that fails is reported and the others still finish; the exit status is
// the worst of them.
int runBatch(const BatchOptions &opt);

}  // namespace lintaq_cli
