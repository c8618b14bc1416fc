#include "reference/reference_engine.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "stream/resample_tables.h"

namespace reference {

uint32_t noiseState = 688332804u;

namespace {

constexpr int H = 2048; // hop at the host rate

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

// One sample of each section kind; s0, s1 or w1, w2 are the two state cells.
void peakSample(float &sample, const Band &b, double &s0, double &s1)
{
    const double d = b.negCosW0, c = b.fb1, h = (b.peakGain - 1.0) * 0.5;
    const double x = sample;
    const double u = x + c * s1;
    const double v = u - d * s0;
    const double a = s1 - c * u;
    const float e = static_cast<float>(h * (x - a));
    sample = sample + e;
    s1 = d * v + s0;
    s0 = v;
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

void sectionSample(float &sample, const Band &b, double &s0, double &s1)
{
    if (b.bandType == 0)
        peakSample(sample, b, s0, s1);
    else
        biquadSample(sample, b, s0, s1);
}

double flush(double s) { return std::fabs(s) < 1e-10 ? 0.0 : s; }

// From the carried state; the state reached after headLen samples is
// stored (a peak's flushed first) and the run goes on to the frame's end.
void runForward(float *frame, const Band &b, double *state, int headLen, int tailLen)
{
    double s0 = state[0], s1 = state[1];
    for (int i = 0; i < headLen; ++i)
        sectionSample(frame[i], b, s0, s1);
    if (b.bandType == 0)
        s0 = flush(s0), s1 = flush(s1);
    if (!std::isfinite(s0))
        s0 = 0.0;
    if (!std::isfinite(s1))
        s1 = 0.0;
    state[0] = s0, state[1] = s1;
    for (int i = headLen; i < headLen + tailLen; ++i)
        sectionSample(frame[i], b, s0, s1);
}

void runBackward(float *frame, const Band &b, int frameLength)
{
    double s0 = 0.0, s1 = 0.0;
    for (int i = frameLength - 1; i >= 0; --i)
        sectionSample(frame[i], b, s0, s1);
}

bool takesPart(const Band &b) { return b.bypass == 0 && b.bandType <= 4; }

float nextNoise(uint32_t &x)
{
    x = x * 1664525u + 1013904223u;
    return static_cast<float>(static_cast<double>(static_cast<int32_t>(x >> 16) - 32768) * 1e-20);
}

// Copies each channel's frame into its work frame; with noise, one value
// per index serves every channel.
void fillFrame(float *const *src, float *const *work, int channels, int F, uint32_t noise)
{
    if (noise == 0) {
        for (int c = 0; c < channels; ++c)
            std::copy(src[c], src[c] + F, work[c]);
        return;
    }
    uint32_t x = noiseState;
    for (int i = 0; i < F; ++i) {
        const float e = nextNoise(x);
        for (int c = 0; c < channels; ++c)
            work[c][i] = src[c][i] + e;
    }
    noiseState = x;
}

// The bands routed to the first work frame by `onFirst` and to the second
// by `onSecond`, all forwards, then all backwards.
void runStage(float *first, float *second, Band *bands, int headLen, int tailLen, bool (*onFirst)(uint32_t),
              bool (*onSecond)(uint32_t))
{
    for (int k = 0; k < LINTAQ_BANDS; ++k) {
        Band &b = bands[k];
        if (takesPart(b) && onFirst(b.enable))
            runForward(first, b, b.fwdState, headLen, tailLen);
        if (takesPart(b) && onSecond(b.enable))
            runForward(second, b, b.fwdState2, headLen, tailLen);
    }
    for (int k = 0; k < LINTAQ_BANDS; ++k) {
        const Band &b = bands[k];
        if (takesPart(b) && onFirst(b.enable))
            runBackward(first, b, headLen + tailLen);
        if (takesPart(b) && onSecond(b.enable))
            runBackward(second, b, headLen + tailLen);
    }
}

bool anyCode(uint32_t) { return true; }
bool noCode(uint32_t) { return false; }
bool onLeft(uint32_t e) { return e == 1 || e == 2; }
bool onRight(uint32_t e) { return e == 1 || e == 3; }
bool onMid(uint32_t e) { return e == 4; }
bool onSide(uint32_t e) { return e == 5; }

// The mono chain applies every band that takes part, whatever its enable;
// the stereo chain routes them by enable, left/right first, then mid/side.
void filterFrame(float *const *src, float *const *acc, float *const *work, int channels, const float *window,
                 Band *bands, int headLen, int tailLen, uint32_t noise)
{
    const int F = headLen + tailLen;
    fillFrame(src, work, channels, F, noise);
    if (channels == 1) {
        runStage(work[0], nullptr, bands, headLen, tailLen, anyCode, noCode);
    } else {
        float *workL = work[0], *workR = work[1];
        runStage(workL, workR, bands, headLen, tailLen, onLeft, onRight);
        for (int i = 0; i < F; ++i) {
            const float m = workL[i] + workR[i];
            const float s = workL[i] - workR[i];
            workL[i] = m;
            workR[i] = s;
        }
        runStage(workL, workR, bands, headLen, tailLen, onMid, onSide);
        for (int i = 0; i < F; ++i) {
            const float l = (workL[i] + workR[i]) * 0.5f;
            const float r = (workL[i] - workR[i]) * 0.5f;
            workL[i] = l;
            workR[i] = r;
        }
    }
    for (int c = 0; c < channels; ++c)
        addWindowed(acc[c], work[c], window, headLen);
}

void interpolate2x(float *dest, const float *src, int n, const double *U, float *history, int tableLength)
{
    const int P = tableLength / 2;
    auto x = [&](int m) { return m >= 0 ? src[m] : history[P - 1 + m]; };
    for (int t = 0; t < n; ++t) {
        double odd = 0.0, even = 0.0;
        for (int j = 0; j < P; ++j) {
            odd += static_cast<double>(x(t - j)) * U[P - 1 - j];
            even += static_cast<double>(x(t - j)) * U[2 * P - 1 - j];
        }
        dest[2 * t + 1] = static_cast<float>(odd);
        dest[2 * t] = static_cast<float>(even);
    }
    for (int k = 0; k < P - 1; ++k)
        history[k] = src[n - (P - 1) + k];
}

void decimate2x(float *dest, const float *src, int outCount, float *history, const double *D, int K)
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

void runRing(float *x, int count, Channel &ch, int slots)
{
    for (int i = 0; i < count; ++i) {
        const float out = ch.delayRing[ch.ringPos];
        ch.delayRing[ch.ringPos] = x[i];
        x[i] = out;
        ch.ringPos = ch.ringPos <= slots - 2 ? ch.ringPos + 1 : 0;
    }
}

constexpr double kPi = 3.141592653589793;

// Writes the coefficients of `type`; returns whether those the section
// reads are finite (the engine bypasses the band otherwise).
bool designBand(Band &b, uint32_t type, double f, double g, double Q, double Fd)
{
    if (type == 0) {
        const double w0 = (2.0 * kPi / Fd) * f;
        const double d = -std::cos(w0);
        const double omega = std::min(3.1101767270538954, w0 / Q);
        const double t = std::tan(omega * 0.5);
        const double V = std::pow(10.0, g * 0.05 * 0.5);
        const double k = std::min(1.0, V);
        const double c = (t - k) / (t + k);
        b.fb1 = c;
        b.negCosW0 = d;
        b.peakGain = V;
        return std::isfinite(c) && std::isfinite(d) && std::isfinite(V);
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
    return std::isfinite(b.fb1) && std::isfinite(b.fb2) && std::isfinite(b.ff0) && std::isfinite(b.ff1) &&
           std::isfinite(b.ff2);
}

bool positiveFinite(float v) { return std::isfinite(v) && v > 0.0f; }

void shiftDown(std::vector<float> &v, int by, int keep)
{
    std::memmove(v.data(), v.data() + by, static_cast<size_t>(keep) * sizeof(float));
}

void shiftAccum(std::vector<float> &acc, int half)
{
    shiftDown(acc, half, half);
    std::fill(acc.begin() + half, acc.begin() + 2 * half, 0.0f);
}

} // namespace

Engine::Engine(int mode, int stereoFlag) : stereo(static_cast<uint32_t>(stereoFlag))
{
    static const int lookaheads[4] = {32768, 16384, 8192, 4096};
    lookahead = lookaheads[std::clamp(mode, 0, 3)];
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
    pending = pending2x = H;
    windowHalf.resize(H);
    windowFull.resize(2 * H);
    makeFadeWindow(windowHalf.data(), H);
    makeFadeWindow(windowFull.data(), 2 * H);
    std::fill(std::begin(freq), std::end(freq), 1000.0f);
    std::fill(std::begin(gain), std::end(gain), 0.0f);
    std::fill(std::begin(q), std::end(q), 0.7f);
}

void Engine::setPar(const PeqParams *p)
{
    if (p == nullptr)
        return;
    noise = p->noise;
    if (p->sampleRate != sampleRate || p->oversample != oversample) {
        sampleRate = p->sampleRate;
        oversample = p->oversample;
        redesignAll = 1;
    }
    for (int k = 0; k < LINTAQ_BANDS; ++k) {
        if (freq[k] == p->freq[k] && gain[k] == p->gain[k] && q[k] == p->q[k] && enable[k] == p->enable[k] &&
            type[k] == p->type[k])
            continue;
        std::memcpy(&freq[k], &p->freq[k], sizeof(float)); // bit for bit, NaN payloads included
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
        if (!positiveFinite(freq[k]) || !positiveFinite(q[k]) || !designBand(b, type[k], f, gain[k], q[k], Fd))
            b.bypass = 1;
        bandDirty[k] = 0;
    }
    redesignAll = 0;
    bandsChanged = 0;
}

void Engine::proc(float *samples, int n) { stream(&samples, 1, n); }

void Engine::procST(float *left, float *right, int count)
{
    float *io[2] = {left, right};
    if (stereo != 0) // a mono instance has no second channel to work with
        stream(io, 2, count);
}

// Both stream paths for one or two channels: every per-channel step for
// each channel, and one mono or stereo frame per hop.
void Engine::stream(float *const *io, int channels, int n)
{
    // The path: host rate, or double rate with the 156/20 filters and a
    // 31-slot ring (case A) or the 278/22 filters and no ring.
    const bool hostRate = oversample == 0 || sampleRate >= 64000, caseA = !hostRate && sampleRate >= 45000;
    designBands();
    const int F = lookahead + segmentLength, E = lookahead + H;
    int &pend = hostRate ? pending : pending2x;
    const auto frame = [&](std::vector<float> Channel::*src, std::vector<float> Channel::*acc,
                           const std::vector<float> &window, int headLen, int tailLen) {
        float *srcs[2], *accs[2], *works[2];
        for (int c = 0; c < channels; ++c) {
            srcs[c] = (channel[c].*src).data();
            accs[c] = (channel[c].*acc).data();
            works[c] = channel[c].workFrame.data();
        }
        filterFrame(srcs, accs, works, channels, window.data(), bands, headLen, tailLen, noise);
    };
    for (int pos = 0, rem = std::max(n, 0); rem > 0;) {
        // Take samples in where the hop being gathered has room and give as
        // many finished ones out: the whole rest of the hop, or what is left.
        const int p = std::min(rem, pend);
        for (int c = 0; c < channels; ++c) {
            Channel &ch = channel[c];
            std::transform(io[c] + pos, io[c] + pos + p, ch.inFrame.begin() + ((hostRate ? F : H) - pend),
                           [](float x) { return std::isfinite(x) ? x : 0.0f; });
            float *out = &ch.outAccum[H - pend];
            if (hostRate || caseA)
                runRing(out, p, ch, hostRate ? 74 : 31);
            std::copy(out, out + p, io[c] + pos);
        }
        pos += p;
        rem -= p;
        pend -= p;
        if (pend > 0)
            break;
        pend = H;
        if (hostRate) {
            for (int c = 0; c < channels; ++c)
                shiftAccum(channel[c].outAccum, H);
            frame(&Channel::inFrame, &Channel::outAccum, windowHalf, H, E);
            for (int c = 0; c < channels; ++c)
                shiftDown(channel[c].inFrame, H, E);
            continue;
        }
        for (int c = 0; c < channels; ++c) {
            shiftDown(channel[c].inFrame2x, 2 * H, 2 * E);
            interpolate2x(&channel[c].inFrame2x[2 * E], channel[c].inFrame.data(), H,
                          caseA ? lintaq::upTaps156 : lintaq::upTaps278, channel[c].upHistory.data(),
                          caseA ? 156 : 278);
        }
        frame(&Channel::inFrame2x, &Channel::outAccum2x, windowFull, 2 * H, 2 * E);
        for (int c = 0; c < channels; ++c) {
            decimate2x(channel[c].outAccum.data(), channel[c].outAccum2x.data(), H, channel[c].downHistory.data(),
                       caseA ? lintaq::downTaps20 : lintaq::downTaps22, caseA ? 20 : 22);
            shiftAccum(channel[c].outAccum2x, 2 * H);
        }
    }
}

} // namespace reference
