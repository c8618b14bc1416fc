// The editor's true response: the engine's measured response against the
// mathematics of its bands (the response graph), the departures the issue
// measured, the stereo views, and the worker thread.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>
#include <vector>

#include "band_params.h"
#include "true_response.h"

namespace {

using lintaq_response::computeTrueResponse;
using lintaq_response::TrueResponse;
using lintaq_response::TrueResponseRequest;
using lintaq_response::TrueResponseWorker;
using true_response_test::Band;
using true_response_test::graphFrequencies;
using true_response_test::paramsOf;

TrueResponseRequest requestOf(const std::vector<Band> &bands, int rate, bool oversample, int mode,
                              std::vector<float> freqs, int channels = 1, int view = LINTAQ_LEFT)
{
    TrueResponseRequest r;
    r.params = paramsOf(bands, rate, oversample);
    r.mode = mode;
    r.channels = channels;
    r.view = view;
    r.frequencies = std::move(freqs);
    return r;
}

// Sum of the graph's curves of the given bands on that grid; with
// `asProcessed`, peaks and shelves are taken as the engine designs them:
// two sections of half the gain in dB (the graph draws one of the full gain).
std::vector<float> idealDb(const PeqParams &params, int n, float fmin, float fmax, bool asProcessed)
{
    PeqParams p = params;
    std::vector<float> total(n, 0.0f), one(n);
    for (int k = 0; k < LINTAQ_BANDS; ++k) {
        if (p.enable[k] == LINTAQ_OFF) continue;
        const bool halves = asProcessed && p.type[k] <= LINTAQ_HIGH_SHELF;
        if (halves) p.gain[k] = params.gain[k] / 2;
        PeqGraph *g = InitPeqGraph(&p, n, fmin, fmax);
        EXPECT_EQ(g->pointCount, n);
        LintaqGraph(&p, g, one.data(), k);
        ExitPeqGraph(g);
        for (int i = 0; i < n; ++i) total[i] += (halves ? 2 : 1) * one[i];
    }
    return total;
}

// Ordinary bands (within a frame's reach, well below the top of the band):
// what the engine does is its design, to within the float rounding of the
// processing and the engine's frame crossfade (~0.01 dB seen). Measured
// with the impulse response's spectrum taken exactly at each grid point,
// so no bin interpolation widens the tolerance.
TEST(TrueResponse, OrdinaryBandsAreTheirDesignedCurves)
{
    const struct {
        const char *name;
        std::vector<Band> bands;
    } cases[] = {
        {"peak +6 dB Q 1 at 1 kHz", {{LINTAQ_PEAK, 1000, 6, 1}}},
        {"shelves and a cut", {{LINTAQ_LOW_SHELF, 120, 4, 0.7f}, {LINTAQ_HIGH_SHELF, 6000, -5, 0.7f},
                               {LINTAQ_PEAK, 400, -3, 2}}},
        {"high-pass and low-pass", {{LINTAQ_HIGH_PASS, 40, 0, 0.7071f}, {LINTAQ_LOW_PASS, 12000, 0, 0.7071f}}},
    };
    constexpr int kPoints = 256;
    const std::vector<float> f = graphFrequencies(kPoints, 20, 15000);
    for (const auto &c : cases) {
        const TrueResponseRequest req = requestOf(c.bands, 48000, true, 2, f);
        const TrueResponse got = computeTrueResponse(req);
        const std::vector<float> want = idealDb(req.params, kPoints, 20, 15000, true);
        ASSERT_EQ(got.magnitudeDb.size(), f.size());
        EXPECT_EQ(got.frequencies, f);
        for (int i = 0; i < kPoints; ++i) {
            if (want[i] < -30) continue;  // deep in a stop band both sit in rounding noise
            EXPECT_NEAR(got.magnitudeDb[i], want[i], 0.1) << c.name << " at " << f[i] << " Hz";
        }
    }
}

// Where the picture and the sound part, as measured when the editor was
// designed, in sign and size against the graph's own (one-section) curve.
// The two bells depart alike in every mode (the bench prints all four):
// the two half-gain passes narrow strong bells, the frames play no part;
// mode 2 is used. The band near the top needs oversampling off.
TEST(TrueResponse, DepartsFromTheGraphWhereStrongBellsAndTheTopBandDo)
{
    const struct {
        const char *name;
        Band band;
        int rate;
        bool oversample;
        float fmax, lowest, highest;  // signed largest departure expected in [lowest, highest]
    } cases[] = {
        {"-12 dB Q 8 at 1 kHz", {LINTAQ_PEAK, 1000, -12, 8}, 48000, true, 20000, 1.7f, 2.1f},
        {"+15 dB Q 20 at 200 Hz", {LINTAQ_PEAK, 200, 15, 20}, 48000, true, 20000, -3.1f, -2.7f},
        {"+10 dB Q 1 at 19 kHz, no oversampling", {LINTAQ_PEAK, 19000, 10, 1}, 48000, false, 21000, 7.0f, 9.0f},
    };
    constexpr int kPoints = 512;
    for (const auto &c : cases) {
        const std::vector<float> f = graphFrequencies(kPoints, 20, c.fmax);
        const TrueResponseRequest req = requestOf({c.band}, c.rate, c.oversample, 2, f);
        const TrueResponse got = computeTrueResponse(req);
        const std::vector<float> drawn = idealDb(req.params, kPoints, 20, c.fmax, false);
        double worst = 0;
        for (int i = 0; i < kPoints; ++i)
            if (std::fabs(got.magnitudeDb[i] - drawn[i]) > std::fabs(worst)) worst = got.magnitudeDb[i] - drawn[i];
        EXPECT_GE(worst, c.lowest) << c.name;
        EXPECT_LE(worst, c.highest) << c.name;
    }
}

// Every band off, oversampling on: flat to 20 kHz, then the 2x resampler's
// roll-off, which the graph (0 dB everywhere) cannot show. Figures seen:
// 44.1 kHz -1.3 dB at 20.5 kHz, -10.5 at 21 kHz; 48 kHz -1.4 at 21 kHz.
TEST(TrueResponse, ShowsTheResamplersRollOffWithEveryBandOff)
{
    const struct {
        int rate;
        float flatTo, downByOneDbAt, downBySixDbAt;
    } cases[] = {{44100, 20000, 20500, 21000}, {48000, 20000, 21000, 21750}};
    for (const auto &c : cases) {
        std::vector<float> f = graphFrequencies(200, 20, c.flatTo);
        f.push_back(c.downByOneDbAt);
        f.push_back(c.downBySixDbAt);
        const TrueResponse got = computeTrueResponse(requestOf({}, c.rate, true, 3, f));
        for (std::size_t i = 0; i + 2 < f.size(); ++i)
            EXPECT_NEAR(got.magnitudeDb[i], 0.0, 0.02) << c.rate << " Hz, at " << f[i] << " Hz";
        EXPECT_LT(got.magnitudeDb[f.size() - 2], -1.0) << c.rate;
        EXPECT_LT(got.magnitudeDb[f.size() - 1], -6.0) << c.rate;
    }
    // Without oversampling nothing rolls off below the band limit.
    const TrueResponse plain = computeTrueResponse(requestOf({}, 44100, false, 3, {21000}));
    EXPECT_NEAR(plain.magnitudeDb[0], 0.0, 0.02);
}

// A band that rings longer than a frame holds is cut short: the shorter
// the mode's lookahead, the lower its peak (+15 dB Q 20 at 30 Hz rings
// for about 15000 samples at 48 kHz; mode 3's frames hold 8192).
TEST(TrueResponse, ShowsTheFrameCuttingALowNarrowBand)
{
    const std::vector<Band> band = {{LINTAQ_PEAK, 30, 15, 20}};
    const double mode0 = computeTrueResponse(requestOf(band, 48000, true, 0, {30})).magnitudeDb[0];
    const double mode3 = computeTrueResponse(requestOf(band, 48000, true, 3, {30})).magnitudeDb[0];
    EXPECT_NEAR(mode0, 15.0, 0.3);
    EXPECT_LT(mode3, mode0 - 2.0);
}

// The engine repeats itself every hop but is not time-invariant: for a
// band ringing far past a frame (Q 20 at 30 Hz in mode 3), the response to
// an impulse depends on where in the hop it falls. A steady tone meets the
// average over all positions (the mean of the impulse responses, aligned on
// the impulse). The impulse half a hop in, which the measurement uses, stays
// close to that average (0.14 dB seen against 64 positions); one on a hop
// boundary does not (0.54 dB).
TEST(TrueResponse, HalfAHopInIsCloseToTheAverageOverTheHop)
{
    const TrueResponseRequest req =
        requestOf({{LINTAQ_PEAK, 30, 15, 20}}, 48000, true, 3, graphFrequencies(100, 20, 200));
    const std::atomic<bool> never{false};
    std::vector<lintaq_response::ImpulseResponse> each;
    const lintaq_response::ImpulseResponse mean = true_response_test::meanOverHop(req, 16, each);
    const lintaq_response::ImpulseResponse &atBoundary = each[0];
    lintaq_response::ImpulseResponse halfway;
    ASSERT_TRUE(lintaq_response::measureImpulseResponse(req, never, halfway));
    std::vector<float> meanDb, boundaryDb, halfwayDb;
    lintaq_response::spectrumDb(mean, req.frequencies, never, meanDb);
    lintaq_response::spectrumDb(atBoundary, req.frequencies, never, boundaryDb);
    lintaq_response::spectrumDb(halfway, req.frequencies, never, halfwayDb);
    double halfwayOff = 0, boundaryOff = 0;
    for (std::size_t i = 0; i < meanDb.size(); ++i) {
        halfwayOff = std::max(halfwayOff, double(std::fabs(halfwayDb[i] - meanDb[i])));
        boundaryOff = std::max(boundaryOff, double(std::fabs(boundaryDb[i] - meanDb[i])));
    }
    EXPECT_LT(halfwayOff, 0.2);
    EXPECT_GT(boundaryOff, 0.3);
    EXPECT_EQ(halfwayDb, computeTrueResponse(req).magnitudeDb);
}

// Each view is the response of one input to one output (or the mid or
// side pair): a band shows where it is routed and nowhere else, and a mid
// band reaches the left output as (1 + G) / 2, side being untouched.
TEST(TrueResponse, StereoViewsShowTheBandsRoutedToThem)
{
    const float gainDb = 9;
    const double g = std::pow(10.0, gainDb / 20.0);
    const double midOnLeftDb = 20 * std::log10((1 + g) / 2);
    const struct {
        unsigned routing;
        int view;
        double wantDb;
    } cases[] = {
        {LINTAQ_LEFT, LINTAQ_LEFT, gainDb}, {LINTAQ_LEFT, LINTAQ_RIGHT, 0},  {LINTAQ_RIGHT, LINTAQ_RIGHT, gainDb},
        {LINTAQ_MID, LINTAQ_MID, gainDb},   {LINTAQ_MID, LINTAQ_SIDE, 0},    {LINTAQ_SIDE, LINTAQ_SIDE, gainDb},
        {LINTAQ_SIDE, LINTAQ_MID, 0},       {LINTAQ_MID, LINTAQ_LEFT, midOnLeftDb},
        {LINTAQ_BOTH, LINTAQ_SIDE, gainDb},
    };
    for (const auto &c : cases) {
        const std::vector<Band> band = {{LINTAQ_PEAK, 1000, gainDb, 3, c.routing}};
        const TrueResponse got = computeTrueResponse(requestOf(band, 48000, false, 3, {1000, 50}, 2, c.view));
        EXPECT_NEAR(got.magnitudeDb[0], c.wantDb, 0.02) << "routing " << c.routing << ", view " << c.view;
        EXPECT_NEAR(got.magnitudeDb[1], 0.0, 0.05) << "routing " << c.routing << ", view " << c.view;
    }
}

// The mono shortcut measures the same thing as the stereo engine, also
// where frames cut a band short (so the order of the bands matters), for
// each view it serves.
TEST(TrueResponse, MonoShortcutMeasuresWhatTheStereoEngineDoes)
{
    const std::vector<Band> bands = {{LINTAQ_PEAK, 30, 15, 20, LINTAQ_BOTH}, {LINTAQ_PEAK, 1000, -9, 4, LINTAQ_LEFT},
                                     {LINTAQ_HIGH_SHELF, 5000, 6, 0.7f, LINTAQ_RIGHT}, {LINTAQ_LOW_SHELF, 80, 4, 0.7f, 7}};
    const std::vector<float> f = graphFrequencies(200, 20, 20000);
    const auto compare = [&](const std::vector<Band> &chosen, int rate, bool oversample, int view) {
        TrueResponseRequest req = requestOf(chosen, rate, oversample, 3, f, 2, view);
        const TrueResponse shortcut = computeTrueResponse(req);
        req.useMonoWherePossible = false;
        const TrueResponse stereo = computeTrueResponse(req);
        for (std::size_t i = 0; i < f.size(); ++i)
            EXPECT_NEAR(shortcut.magnitudeDb[i], stereo.magnitudeDb[i], 1e-3) << "view " << view << " at " << f[i];
    };
    compare(bands, 44100, true, LINTAQ_LEFT);
    compare(bands, 44100, true, LINTAQ_RIGHT);
    const std::vector<Band> both = {bands[0], {LINTAQ_PEAK, 3000, 5, 2, LINTAQ_BOTH}};
    compare(both, 48000, false, LINTAQ_MID);
    compare(both, 48000, false, LINTAQ_SIDE);
}

// Where there is nothing to measure the answer says so (NaN) instead of
// inventing a value; the private instance ignores the noise switch; a
// hostile request is answered, not crashed on.
TEST(TrueResponse, OutOfRangeFrequenciesAndRatesAreNotANumber)
{
    TrueResponseRequest req = requestOf({{LINTAQ_PEAK, 1000, 6, 1}}, 48000, true, 3, {0, -5, 24000, 30000, 1000});
    req.params.noise = 1;
    const TrueResponse got = computeTrueResponse(req);
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(std::isnan(got.magnitudeDb[i])) << i;
    EXPECT_NEAR(got.magnitudeDb[4], 6.0, 0.01);
    // A hostile block, mode, channel count and view: an answer of the
    // right size, nothing worse.
    TrueResponseRequest hostile = requestOf({{LINTAQ_PEAK, 1000, 1e30f, 0.01f}, {LINTAQ_LOW_PASS, -1, 0, NAN},
                                             {99, 500, 6, 1}, {LINTAQ_HIGH_SHELF, 1e9f, -1e9f, 1e9f, 77}},
                                            48000, true, 17, {100, 1000, 10000}, 5, 99);
    EXPECT_EQ(computeTrueResponse(hostile).magnitudeDb.size(), 3u);
    for (int rate : {0, -48000, 7999, 384001}) {
        req.params.sampleRate = rate;
        const TrueResponse bad = computeTrueResponse(req);
        ASSERT_EQ(bad.magnitudeDb.size(), 5u);
        for (float db : bad.magnitudeDb) EXPECT_TRUE(std::isnan(db)) << rate;
    }
}

// Waits (with a generous limit, against a hang) for the worker's next result.
bool waitForResult(TrueResponseWorker &w, TrueResponse &out)
{
    for (int i = 0; i < 6000; ++i) {
        if (w.takeResult(out)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

// A burst of requests: the newest always comes out, last, and is exactly
// the synchronous answer. Results only move forwards: a request the worker
// had already taken when a newer one came is delivered (on a slow machine
// that may be any of the burst), one replaced while waiting never is.
TEST(TrueResponseWorker, NewestRequestWins)
{
    TrueResponseWorker worker;
    TrueResponse out;
    EXPECT_FALSE(worker.takeResult(out));
    std::vector<float> f = graphFrequencies(64, 20, 20000);
    TrueResponseRequest last;
    uint64_t first = 0, newest = 0;
    for (int i = 0; i < 10; ++i) {
        last = requestOf({{LINTAQ_PEAK, 1000, float(i), 1}}, 48000, true, 1, f, 2, LINTAQ_MID);
        newest = worker.request(last);
        if (i == 0) first = newest;
        EXPECT_EQ(newest, first + uint64_t(i));
    }
    uint64_t previous = 0;
    do {
        ASSERT_TRUE(waitForResult(worker, out));
        ASSERT_GT(out.generation, previous);
        ASSERT_LE(out.generation, newest);
        previous = out.generation;
    } while (out.generation != newest);
    const TrueResponse want = computeTrueResponse(last);
    EXPECT_EQ(out.frequencies, want.frequencies);
    EXPECT_EQ(out.magnitudeDb, want.magnitudeDb);
    EXPECT_FALSE(worker.takeResult(out));
}

// Destroyed in the middle of a long computation (mode 0) or before its
// thread ever ran: no hang, and (under the sanitizers) no leak or race.
TEST(TrueResponseWorker, DestroysCleanlyWhileComputing)
{
    const TrueResponseRequest req = requestOf({{LINTAQ_PEAK, 100, 6, 4}}, 96000, false, 0, {100, 1000}, 2);
    for (int waitMs : {0, 1, 20}) {
        TrueResponseWorker worker;
        worker.request(req);
        std::this_thread::sleep_for(std::chrono::milliseconds(waitMs));
    }
    { TrueResponseWorker idle; }
}

}  // namespace
