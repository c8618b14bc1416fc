#include "reference/reference_engine.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "stream/resample_tables.h"

namespace reference {

uint32_t noiseState = 688332804u;

namespace {

constexpr int H = 2048; // hop at the host rate

// ---- crossfade window -------------------------------------------------

void makeFadeWindow(float *w, int n)
{
    const double pi = std::atan(1.0) * 4.0;
    const double step = pi / n;
    double phase = step * 0.5;
    for (int i = 0; i < n; ++i) {
        w[i] = static_cast<float>((1.0 - std::cos(phase)) * 0.5);
        phase += step;
    }
}

void addWindowed(float *acc, const float *frame, const float *w, int n)
{
    for (int i = 0; i < n; ++i) {
        acc[i] = acc[i] + frame[i] * w[i];
        const int j = 2 * n - 1 - i;
        acc[j] = acc[j] + frame[j] * w[i];
    }
}

// ---- sections ---------------------------------------------------------

void peakSample(float &sample, double d, double c, double h, double &s0, double &s1)
{
    const double x = sample;
    const double u = x + c * s1;
    const double v = u - d * s0;
    const double a = s1 - c * u;
    const float e = static_cast<float>(h * (x - a));
    sample = sample + e;
    s1 = d * v + s0;
    s0 = v;
}

void runPeakSection(float *samples, int count, bool forward, double d, double c, double V,
                    double &s0, double &s1)
{
    const double h = (V - 1.0) * 0.5;
    if (forward) {
        for (int i = 0; i < count; ++i)
            peakSample(samples[i], d, c, h, s0, s1);
    } else {
        for (int i = count - 1; i >= 0; --i)
            peakSample(samples[i], d, c, h, s0, s1);
    }
}

void biquadSample(float &sample, const Band &b, double &w1, double &w2)
{
    const double x = sample;
    const double w = (b.fb2 * w2 + b.fb1 * w1) + x;
    const double y = (b.ff0 * w + b.ff1 * w1) + b.ff2 * w2;
    sample = static_cast<float>(y);
    w2 = w1;
    w1 = w;
}

double flush(double s) { return std::fabs(s) < 1e-10 ? 0.0 : s; }

void runForward(float *frame, const Band &b, double *state, int headLen, int tailLen)
{
    if (b.bandType == 0) {
        double s0 = state[0], s1 = state[1];
        runPeakSection(frame, headLen, true, b.negCosW0, b.fb1, b.peakGain, s0, s1);
        s0 = flush(s0);
        s1 = flush(s1);
        state[0] = s0;
        state[1] = s1;
        runPeakSection(frame + headLen, tailLen, true, b.negCosW0, b.fb1, b.peakGain, s0, s1);
    } else {
        double w1 = state[0], w2 = state[1];
        for (int i = 0; i < headLen; ++i)
            biquadSample(frame[i], b, w1, w2);
        state[0] = w1;
        state[1] = w2;
        for (int i = headLen; i < headLen + tailLen; ++i)
            biquadSample(frame[i], b, w1, w2);
    }
}

void runBackward(float *frame, const Band &b, int frameLength)
{
    double s0 = 0.0, s1 = 0.0;
    if (b.bandType == 0) {
        runPeakSection(frame, frameLength, false, b.negCosW0, b.fb1, b.peakGain, s0, s1);
    } else {
        for (int i = frameLength - 1; i >= 0; --i)
            biquadSample(frame[i], b, s0, s1);
    }
}

bool takesPart(const Band &b) { return b.bypass == 0 && b.bandType <= 4; }

// ---- frame chains -----------------------------------------------------

float nextNoise(uint32_t &x)
{
    x = x * 1664525u + 1013904223u;
    const int32_t v = static_cast<int32_t>(x >> 16) - 32768;
    return static_cast<float>(static_cast<double>(v) * 1e-20);
}

void filterFrameMono(const float *input, float *acc, float *work, const float *window, Band *bands,
                     int headLen, int tailLen, uint32_t noise)
{
    const int F = headLen + tailLen;
    if (noise == 0) {
        std::copy(input, input + F, work);
    } else {
        uint32_t x = noiseState;
        for (int i = 0; i < F; ++i)
            work[i] = input[i] + nextNoise(x);
        noiseState = x;
    }
    for (int k = 0; k < LINTAQ_BANDS; ++k)
        if (takesPart(bands[k]))
            runForward(work, bands[k], bands[k].fwdState, headLen, tailLen);
    for (int k = 0; k < LINTAQ_BANDS; ++k)
        if (takesPart(bands[k]))
            runBackward(work, bands[k], F);
    addWindowed(acc, work, window, headLen);
}

// One stage of the stereo chain: the bands routed to the first work frame
// by `first` and to the second by `second`, forwards, then backwards.
void stereoStage(float *workL, float *workR, Band *bands, int headLen, int tailLen,
                 bool (*first)(uint32_t), bool (*second)(uint32_t))
{
    for (int k = 0; k < LINTAQ_BANDS; ++k) {
        Band &b = bands[k];
        if (!takesPart(b))
            continue;
        if (first(b.enable))
            runForward(workL, b, b.fwdState, headLen, tailLen);
        if (second(b.enable))
            runForward(workR, b, b.fwdState2, headLen, tailLen);
    }
    for (int k = 0; k < LINTAQ_BANDS; ++k) {
        const Band &b = bands[k];
        if (!takesPart(b))
            continue;
        if (first(b.enable))
            runBackward(workL, b, headLen + tailLen);
        if (second(b.enable))
            runBackward(workR, b, headLen + tailLen);
    }
}

bool onLeft(uint32_t e) { return e == 1 || e == 2; }
bool onRight(uint32_t e) { return e == 1 || e == 3; }
bool onMid(uint32_t e) { return e == 4; }
bool onSide(uint32_t e) { return e == 5; }

void filterFrameStereo(const float *srcL, const float *srcR, float *accL, float *accR, float *workL,
                       float *workR, const float *window, Band *bands, int headLen, int tailLen,
                       uint32_t noise)
{
    const int F = headLen + tailLen;
    if (noise == 0) {
        std::copy(srcL, srcL + F, workL);
        std::copy(srcR, srcR + F, workR);
    } else {
        uint32_t x = noiseState;
        for (int i = 0; i < F; ++i) {
            const float e = nextNoise(x);
            workL[i] = srcL[i] + e;
            workR[i] = srcR[i] + e;
        }
        noiseState = x;
    }
    stereoStage(workL, workR, bands, headLen, tailLen, onLeft, onRight);
    for (int i = 0; i < F; ++i) {
        const float m = workL[i] + workR[i];
        const float s = workL[i] - workR[i];
        workL[i] = m;
        workR[i] = s;
    }
    stereoStage(workL, workR, bands, headLen, tailLen, onMid, onSide);
    for (int i = 0; i < F; ++i) {
        const float l = (workL[i] + workR[i]) * 0.5f;
        const float r = (workL[i] - workR[i]) * 0.5f;
        workL[i] = l;
        workR[i] = r;
    }
    addWindowed(accL, workL, window, headLen);
    addWindowed(accR, workR, window, headLen);
}

// ---- resampling filters -----------------------------------------------

void interpolate2x(float *dest, const float *src, int n, const double *U, float *history,
                   int tableLength)
{
    const int P = tableLength / 2;
    auto x = [&](int m) { return m >= 0 ? src[m] : history[P - 1 + m]; };
    for (int t = 0; t < n; ++t) {
        double odd = 0.0, even = 0.0;
        for (int j = 0; j < P; ++j)
            odd += static_cast<double>(x(t - j)) * U[P - 1 - j];
        for (int j = 0; j < P; ++j)
            even += static_cast<double>(x(t - j)) * U[2 * P - 1 - j];
        dest[2 * t + 1] = static_cast<float>(odd);
        dest[2 * t] = static_cast<float>(even);
    }
    for (int k = 0; k < P - 1; ++k)
        history[k] = src[n - (P - 1) + k];
}

void decimate2x(float *dest, const float *src, int outCount, float *history, const double *D,
                int K)
{
    auto y = [&](int m) { return m >= 0 ? src[m] : history[K + m]; };
    for (int i = 0; i < outCount; ++i) {
        double sum = 0.0;
        for (int k = 0; k < K; ++k)
            sum += static_cast<double>(y(2 * i + 1 - k)) * D[K - 1 - k];
        dest[i] = static_cast<float>(sum);
    }
    for (int m = 0; m < K; ++m)
        history[m] = src[2 * outCount - K + m];
}

// ---- delay ring -------------------------------------------------------

void runRing(float *x, int count, Channel &ch, int slots)
{
    for (int i = 0; i < count; ++i) {
        const float out = ch.delayRing[ch.ringPos];
        ch.delayRing[ch.ringPos] = x[i];
        x[i] = out;
        ch.ringPos = ch.ringPos <= slots - 2 ? ch.ringPos + 1 : 0;
    }
}

// ---- band design ------------------------------------------------------

constexpr double kPi = 3.141592653589793;

bool finite(double v) { return std::isfinite(v); }

// Writes the coefficients of `type`; returns whether those the section
// reads are finite (the engine bypasses the band otherwise).
bool designBand(Band &b, uint32_t type, double f, double g, double Q, double Fd)
{
    if (type == 0) {
        const double w0 = (2.0 * kPi / Fd) * f;
        const double d = -std::cos(w0);
        double omega = w0 / Q;
        omega = std::min(3.1101767270538954, omega);
        const double t = std::tan(omega * 0.5);
        const double V = std::pow(10.0, g * 0.05 * 0.5);
        const double k = std::min(1.0, V);
        const double c = (t - k) / (t + k);
        b.fb1 = c;
        b.negCosW0 = d;
        b.peakGain = V;
        return finite(c) && finite(d) && finite(V);
    }
    if (type == 1 || type == 2) {
        const double w0 = (f * 2.0 * kPi) / Fd;
        const double cw = std::cos(w0);
        const double sw = std::sin(w0);
        const double A = std::pow(10.0, g * 0.025 * 0.5);
        const double s = (std::sqrt(A) / Q) * sw;
        if (type == 1) {
            const double a0 = (A + 1) + (A - 1) * cw + s;
            b.ff0 = A * ((A + 1) - (A - 1) * cw + s) / a0;
            b.ff1 = 2 * A * ((A - 1) - (A + 1) * cw) / a0;
            b.ff2 = A * ((A + 1) - (A - 1) * cw - s) / a0;
            b.fb1 = 2 * ((A - 1) + (A + 1) * cw) / a0;
            b.fb2 = -((A + 1) + (A - 1) * cw - s) / a0;
        } else {
            const double a0 = (A + 1) - (A - 1) * cw + s;
            b.ff0 = A * ((A + 1) + (A - 1) * cw + s) / a0;
            b.ff1 = -2 * A * ((A - 1) + (A + 1) * cw) / a0;
            b.ff2 = A * ((A + 1) + (A - 1) * cw - s) / a0;
            b.fb1 = -2 * ((A - 1) - (A + 1) * cw) / a0;
            b.fb2 = -((A + 1) - (A - 1) * cw - s) / a0;
        }
    } else if (type == 3 || type == 4) {
        const double t = std::tan((f * kPi) / Fd);
        const double n = 1 / ((t / Q + 1) + t * t);
        b.fb1 = -2 * (t * t - 1) * n;
        b.fb2 = -(1 - t / Q + t * t) * n;
        if (type == 3) {
            b.ff0 = n;
            b.ff1 = -2 * n;
            b.ff2 = n;
        } else {
            b.ff0 = t * t * n;
            b.ff1 = 2 * t * t * n;
            b.ff2 = t * t * n;
        }
    } else {
        return true; // unknown type: no coefficients, and the band never runs
    }
    return finite(b.fb1) && finite(b.fb2) && finite(b.ff0) && finite(b.ff1) && finite(b.ff2);
}

bool positiveFinite(float v) { return std::isfinite(v) && v > 0.0f; }

} // namespace

// ---- instance -----------------------------------------------------------

Engine::Engine(int mode, int stereoFlag) : stereo(static_cast<uint32_t>(stereoFlag))
{
    mode = std::clamp(mode, 0, 3);
    static const int lookaheads[4] = {32768, 16384, 8192, 4096};
    lookahead = lookaheads[mode];
    const size_t F = static_cast<size_t>(lookahead + segmentLength);
    for (int c = 0; c < (stereo != 0 ? 2 : 1); ++c) {
        Channel &ch = channel[c];
        ch.upHistory.assign(278, 0.0f);
        ch.downHistory.assign(22, 0.0f);
        ch.inFrame.assign(F, 0.0f);
        ch.outAccum.assign(F, 0.0f);
        ch.inFrame2x.assign(2 * F, 0.0f);
        ch.outAccum2x.assign(2 * F, 0.0f);
        ch.delayRing.assign(2010, 0.0f);
        ch.workFrame.assign(2 * F, 0.0f);
    }
    windowHalf.resize(H);
    windowFull.resize(2 * H);
    pending = H;
    pending2x = H;
    makeFadeWindow(windowHalf.data(), H);
    makeFadeWindow(windowFull.data(), 2 * H);
    for (int k = 0; k < LINTAQ_BANDS; ++k) {
        freq[k] = 1000.0f;
        gain[k] = 0.0f;
        q[k] = 0.7f;
    }
}

void Engine::setPar(const PeqParams *p)
{
    if (p == nullptr)
        return;
    if (p->noise != noise)
        noise = p->noise;
    if (p->sampleRate != sampleRate || p->oversample != oversample) {
        sampleRate = p->sampleRate;
        oversample = p->oversample;
        redesignAll = 1;
    }
    for (int k = 0; k < LINTAQ_BANDS; ++k) {
        const bool same = freq[k] == p->freq[k] && gain[k] == p->gain[k] && q[k] == p->q[k] &&
                          enable[k] == p->enable[k] && type[k] == p->type[k];
        if (same)
            continue;
        std::memcpy(&freq[k], &p->freq[k], sizeof(float));
        std::memcpy(&gain[k], &p->gain[k], sizeof(float));
        std::memcpy(&q[k], &p->q[k], sizeof(float));
        enable[k] = p->enable[k];
        type[k] = p->type[k];
        bandDirty[k] = 1;
        bandsChanged = 1;
    }
}

void Engine::designBands()
{
    if (redesignAll == 0 && bandsChanged == 0)
        return;
    const double limit = sampleRate * 0.453515;
    float Fd = static_cast<float>(sampleRate);
    if (sampleRate < 64000 && oversample != 0)
        Fd = Fd * 2.0f;
    for (int k = 0; k < LINTAQ_BANDS; ++k) {
        if (redesignAll == 0 && bandDirty[k] == 0)
            continue;
        Band &b = bands[k];
        const double f = freq[k];
        b.bypass = !(f < limit) || enable[k] == 0 ? 1 : 0;
        b.enable = enable[k];
        b.bandType = type[k];
        // Settings that cannot make a working filter bypass the band rather
        // than fill its carried state with values no later setting clears.
        if (!positiveFinite(freq[k]) || !positiveFinite(q[k]))
            b.bypass = 1;
        else if (!designBand(b, type[k], f, gain[k], q[k], Fd))
            b.bypass = 1;
        bandDirty[k] = 0;
    }
    redesignAll = 0;
    bandsChanged = 0;
}

// ---- stream paths -------------------------------------------------------

namespace {

enum class Path { hostRate, doubleA, doubleB };

Path choosePath(int32_t sampleRate, uint32_t oversample)
{
    if (oversample == 0 || sampleRate >= 64000)
        return Path::hostRate;
    return sampleRate >= 45000 ? Path::doubleA : Path::doubleB;
}

void shiftDown(std::vector<float> &v, int by, int keep)
{
    std::memmove(v.data(), v.data() + by, static_cast<size_t>(keep) * sizeof(float));
}

void shiftAccum(std::vector<float> &acc, int half)
{
    std::memmove(acc.data(), acc.data() + half, static_cast<size_t>(half) * sizeof(float));
    std::fill(acc.begin() + half, acc.begin() + 2 * half, 0.0f);
}

} // namespace

void Engine::proc(float *samples, int n)
{
    float *io[1] = {samples};
    stream(io, 1, n);
}

void Engine::procST(float *left, float *right, int count)
{
    if (stereo == 0)
        return; // a mono instance has no second channel to work with
    float *io[2] = {left, right};
    stream(io, 2, count);
}

// Both stream paths for one or two channels. Stereo does each per-channel
// step for the left channel, then for the right, and one stereo frame per
// hop where mono runs the mono frame.
void Engine::stream(float *const *io, int channels, int n)
{
    n = std::max(n, 0);
    const Path path = choosePath(sampleRate, oversample);
    designBands();
    const int F = lookahead + segmentLength, E = lookahead + H;
    Channel &L = channel[0];
    Channel &R = channel[1];
    int pos = 0, rem = n;

    if (path == Path::hostRate) {
        while (rem >= pending) {
            const int p = pending;
            for (int c = 0; c < channels; ++c) {
                Channel &ch = channel[c];
                std::copy(io[c] + pos, io[c] + pos + p, ch.inFrame.begin() + (F - p));
                runRing(&ch.outAccum[H - p], p, ch, 74);
                std::copy(ch.outAccum.begin() + (H - p), ch.outAccum.begin() + H, io[c] + pos);
                shiftAccum(ch.outAccum, H);
            }
            pos += p;
            if (channels == 1)
                filterFrameMono(L.inFrame.data(), L.outAccum.data(), L.workFrame.data(),
                                windowHalf.data(), bands, H, E, noise);
            else
                filterFrameStereo(L.inFrame.data(), R.inFrame.data(), L.outAccum.data(),
                                  R.outAccum.data(), L.workFrame.data(), R.workFrame.data(),
                                  windowHalf.data(), bands, H, E, noise);
            for (int c = 0; c < channels; ++c)
                shiftDown(channel[c].inFrame, H, E);
            rem -= p;
            pending = H;
        }
        const int p = pending;
        for (int c = 0; c < channels; ++c) {
            Channel &ch = channel[c];
            std::copy(io[c] + pos, io[c] + pos + rem, ch.inFrame.begin() + (F - p));
            runRing(&ch.outAccum[H - p], rem, ch, 74);
            std::copy(ch.outAccum.begin() + (H - p), ch.outAccum.begin() + (H - p + rem),
                      io[c] + pos);
        }
        pending -= rem;
        return;
    }

    const bool caseA = path == Path::doubleA;
    const double *up = caseA ? lintaq::upTaps156 : lintaq::upTaps278;
    const int upLength = caseA ? 156 : 278;
    const double *down = caseA ? lintaq::downTaps20 : lintaq::downTaps22;
    const int downLength = caseA ? 20 : 22;
    while (rem >= pending2x) {
        const int p = pending2x;
        for (int c = 0; c < channels; ++c) {
            Channel &ch = channel[c];
            std::copy(io[c] + pos, io[c] + pos + p, ch.inFrame.begin() + (H - p));
            if (caseA)
                runRing(&ch.outAccum[H - p], p, ch, 31);
        }
        for (int c = 0; c < channels; ++c)
            std::copy(channel[c].outAccum.begin() + (H - p), channel[c].outAccum.begin() + H,
                      io[c] + pos);
        for (int c = 0; c < channels; ++c)
            shiftDown(channel[c].inFrame2x, 2 * H, 2 * E);
        for (int c = 0; c < channels; ++c)
            interpolate2x(&channel[c].inFrame2x[2 * E], channel[c].inFrame.data(), H, up,
                          channel[c].upHistory.data(), upLength);
        if (channels == 1)
            filterFrameMono(L.inFrame2x.data(), L.outAccum2x.data(), L.workFrame.data(),
                            windowFull.data(), bands, 2 * H, 2 * E, noise);
        else
            filterFrameStereo(L.inFrame2x.data(), R.inFrame2x.data(), L.outAccum2x.data(),
                              R.outAccum2x.data(), L.workFrame.data(), R.workFrame.data(),
                              windowFull.data(), bands, 2 * H, 2 * E, noise);
        for (int c = 0; c < channels; ++c)
            decimate2x(channel[c].outAccum.data(), channel[c].outAccum2x.data(), H,
                       channel[c].downHistory.data(), down, downLength);
        for (int c = 0; c < channels; ++c)
            shiftAccum(channel[c].outAccum2x, 2 * H);
        pos += p;
        rem -= p;
        pending2x = H;
    }
    const int p = pending2x;
    for (int c = 0; c < channels; ++c) {
        Channel &ch = channel[c];
        std::copy(io[c] + pos, io[c] + pos + rem, ch.inFrame.begin() + (H - p));
        if (caseA)
            runRing(&ch.outAccum[H - p], rem, ch, 31);
        std::copy(ch.outAccum.begin() + (H - p), ch.outAccum.begin() + (H - p + rem), io[c] + pos);
    }
    pending2x -= rem;
}

} // namespace reference
