// Stand-in for editor/true_response.h while the engine's measured response
// is built elsewhere: the same interface, used only when
// editor/true_response.cpp is absent (see plugins/ui.cmake).
#pragma once

#include "lintaq.h"
#include <cstdint>
#include <vector>

namespace lintaq_editor {

struct TrueResponseRequest {
    PeqParams params;               // as the plugin hands it to LintaqSetPar (sampleRate = host rate)
    int mode = 2;                   // quality 0..3
    int channels = 2;               // 1 or 2
    int view = LINTAQ_LEFT;         // stereo: LINTAQ_LEFT, LINTAQ_RIGHT, LINTAQ_MID or LINTAQ_SIDE; mono: ignored
    std::vector<float> frequencies; // Hz, where to evaluate
};

struct TrueResponse {
    uint64_t generation = 0;        // the value request() returned for this request
    std::vector<float> frequencies;
    std::vector<float> magnitudeDb; // the engine's measured response at each frequency
};

TrueResponse computeTrueResponse(const TrueResponseRequest &request);

class TrueResponseWorker {
public:
    TrueResponseWorker();
    ~TrueResponseWorker();
    uint64_t request(const TrueResponseRequest &req);
    bool takeResult(TrueResponse &out);

private:
    struct State;
    State *fState;
};

} // namespace lintaq_editor
