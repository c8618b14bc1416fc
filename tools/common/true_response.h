// true_response.h - the equaliser's response as the engine really produces it.
//
// The response graph (InitPeqGraph, LintaqGraph) draws each band's ideal
// curve. Processing departs from it in places: a band that rings longer
// than a frame holds is cut short (narrow, low bands in the short modes),
// bands close to the top of the host rate lose their shape without
// oversampling, and the 2x resampler rolls off above about 20.5 kHz
// (44.1 kHz) or 21 kHz (48 kHz). This module measures what the engine does:
// a unit impulse through a private engine instance at the given settings,
// read at the reported latency, and its spectrum evaluated exactly (one
// Goertzel recursion in double per frequency, no bin interpolation) at the
// requested frequencies.
//
// Used by the plugin's editor (through TrueResponseWorker, off the UI and
// audio threads) and by the command-line tool's `curve --measured`.
// Depends on the standard library, lintaq.h and threads only.
#pragma once

#include "lintaq.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace lintaq_response {

struct TrueResponseRequest {
    // As the plugin hands it to LintaqSetPar (sampleRate = the host rate).
    // The noise switch is ignored: the private instance runs without it, so
    // the measurement is repeatable and free of the noise's own spectrum.
    PeqParams params{};
    int mode = 2;       // quality 0..3, clamped as LintaqInit clamps it
    int channels = 2;   // 1: a mono instance; anything else: stereo
    // Which response of a stereo instance (mono: ignored):
    //   LINTAQ_LEFT   impulse into the left input, read the left output
    //   LINTAQ_RIGHT  impulse into the right input, read the right output
    //   LINTAQ_MID    impulse into both inputs (L = R), read (L + R) / 2
    //   LINTAQ_SIDE   impulse into left, its negative into right (L = -R),
    //                 read (L - R) / 2
    // Any other code is taken as LINTAQ_LEFT. Left and right include the
    // bands routed to mid and side as they act on that channel (a mid band
    // of gain G gives the left channel (1 + G) / 2, since side is untouched).
    int view = LINTAQ_LEFT;
    std::vector<float> frequencies;  // Hz, where to evaluate
    // A stereo view that only bands on both channels (and, for left and
    // right, bands on that channel) reach is measured through a mono
    // instance with those bands, at half the cost; the result is the same
    // (to float rounding, far below what a curve shows). False: always
    // through a stereo instance.
    bool useMonoWherePossible = true;
};

struct TrueResponse {
    uint64_t generation = 0;         // the value request() returned for this request
    std::vector<float> frequencies;  // the request's frequencies
    // The engine's measured response in dB at each frequency. NaN where
    // the frequency is not above 0 and below half the host rate, and
    // everywhere when the rate is outside 8000..384000 Hz (no response is
    // measured then). A response below -200 dB is given as -200 dB, one
    // that overflows as +500 dB; settings far outside the engine's
    // documented ranges can also give NaN.
    std::vector<float> magnitudeDb;
};

// The calculation itself, synchronous (tests, tools). Takes about as long
// as the engine needs to equalise the latency's worth of samples plus the
// bands' ringing (a few hops for ordinary bands, at most 2 s), plus a few
// milliseconds for the spectrum: tens of milliseconds in mode 3, around a
// hundred in mode 0 at 48 kHz (bench/editor/bench_true_response).
TrueResponse computeTrueResponse(const TrueResponseRequest &request);

// The same, giving up early (and returning false, with `out` unspecified)
// as soon as `abandon` reads true; it is polled once per hop of 2048
// samples. `out.generation` is left as it was.
bool computeTrueResponse(const TrueResponseRequest &request, const std::atomic<bool> &abandon,
                         TrueResponse &out);

// The impulse response the spectrum is taken of, for tests and tools:
// element `centre` lines up with the impulse (after the latency). Empty
// when the rate is out of range or the engine could not be created;
// measureImpulseResponse returns false (and leaves it empty) when
// abandoned.
//
// The engine works in frames taken every 2048 samples and crossfaded, so
// its response depends slightly on where in that hop the impulse falls.
// `hopPhase` (0..2047) chooses it. A steady tone meets the average over
// all phases; the default, half a hop, where the two crossfaded frames
// weigh equally, stays closest to that average (within 0.14 dB for a band
// ringing four times longer than mode 3's frame, against 0.54 dB at a hop
// boundary). Bands that a frame holds do not depend on the phase at all.
constexpr int kEngineHop = 2048;
struct ImpulseResponse {
    std::vector<double> samples;
    std::size_t centre = 0;
    int sampleRate = 0;
};
bool measureImpulseResponse(const TrueResponseRequest &request, const std::atomic<bool> &abandon,
                            ImpulseResponse &out, int hopPhase = kEngineHop / 2);

// The magnitude in dB of an impulse response's spectrum at each frequency
// (NaN outside 0 < f < rate / 2, -200 to +500 dB), as computeTrueResponse
// gives it. Returns false (out unspecified) when abandoned.
bool spectrumDb(const ImpulseResponse &ir, const std::vector<float> &frequencies,
                const std::atomic<bool> &abandon, std::vector<float> &out);

// One background thread that computes the newest request. request() and
// takeResult() may be called from any thread (the plugin's UI thread);
// neither waits for a computation: they only hold a lock while swapping a
// request or a result. Requests queue one deep: a request replaces any
// request not yet started, so the newest request wins and is always
// computed. The computation already running is finished and its result
// given out (so a curve follows a long drag at the pace of the
// computations instead of waiting for the drag to stop); its generation
// tells a caller that it is behind the newest request.
class TrueResponseWorker {
public:
    TrueResponseWorker();
    ~TrueResponseWorker();  // abandons the computation in progress, stops and joins the thread
    TrueResponseWorker(const TrueResponseWorker &) = delete;
    TrueResponseWorker &operator=(const TrueResponseWorker &) = delete;

    // Queues req (replacing any request not yet started) and returns its
    // generation: 1 for the first request, then one more each time.
    uint64_t request(const TrueResponseRequest &req);
    // Non-blocking: true, with the result in `out`, when a result newer
    // than the last one taken is ready.
    bool takeResult(TrueResponse &out);

private:
    void run();

    std::mutex mutex_;
    std::condition_variable wake_;
    TrueResponseRequest pending_;
    bool hasPending_ = false;
    bool stopping_ = false;
    uint64_t newestGeneration_ = 0;
    TrueResponse ready_;
    bool hasReady_ = false;
    std::atomic<bool> abandon_{false};
    std::thread thread_;
};

}  // namespace lintaq_response
