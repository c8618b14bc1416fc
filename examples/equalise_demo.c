/*
 * A small host: equalises generated test tones with a built-in setting and
 * reports the latency and the gain measured at a few frequencies. Uses only
 * the public header.
 */
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "lintaq.h"

#define RATE 48000
#define BLOCK 512

static const double kPi = 3.14159265358979323846;

static void defaultSetting(PeqParams *p)
{
    memset(p, 0, sizeof *p);
    for (int k = 0; k < LINTAQ_BANDS; ++k) {
        p->freq[k] = 1000.0f;
        p->q[k] = 0.7f;
    }
    /* A gentle "smile": rumble filter, warm low shelf, a dip in the
       boxy mids, presence and air. */
    const struct { unsigned type; float freq, gain, q; } bands[] = {
        {LINTAQ_HIGH_PASS, 30.0f, 0.0f, 0.7071f},
        {LINTAQ_LOW_SHELF, 120.0f, 4.0f, 0.7071f},
        {LINTAQ_PEAK, 400.0f, -3.0f, 1.0f},
        {LINTAQ_PEAK, 3000.0f, 2.0f, 1.4f},
        {LINTAQ_HIGH_SHELF, 10000.0f, 3.0f, 0.7071f},
    };
    for (size_t k = 0; k < sizeof bands / sizeof bands[0]; ++k) {
        p->type[k] = bands[k].type;
        p->freq[k] = bands[k].freq;
        p->gain[k] = bands[k].gain;
        p->q[k] = bands[k].q;
        p->enable[k] = LINTAQ_BOTH;
    }
    p->sampleRate = RATE;
    p->oversample = 1;
}

/* Gain in dB of a sine at `freq` through the equaliser: the RMS of the
   output over a second, after the latency, against the input's. */
static double measureGain(const PeqParams *setting, double freq)
{
    PeqInstance *eq = LintaqInit(3, 0);
    if (eq == NULL) {
        fprintf(stderr, "equalise_demo: out of memory\n");
        exit(1);
    }
    LintaqSetPar(eq, setting);
    const int latency = LintaqGetLatency(eq);
    const int total = latency + RATE + RATE / 2;
    const int measureFrom = latency + RATE / 2;
    float block[BLOCK];
    double inEnergy = 0, outEnergy = 0;
    for (int start = 0; start < total; start += BLOCK) {
        const int n = total - start < BLOCK ? total - start : BLOCK;
        for (int i = 0; i < n; ++i)
            block[i] = (float)(0.5 * sin(2 * kPi * freq * (start + i) / RATE));
        for (int i = 0; i < n; ++i)
            if (start + i >= measureFrom)
                inEnergy += (double)block[i] * block[i];
        LintaqProc(eq, block, n);
        for (int i = 0; i < n; ++i)
            if (start + i >= measureFrom)
                outEnergy += (double)block[i] * block[i];
    }
    LintaqExit(eq);
    return 10 * log10(outEnergy / inEnergy);
}

int main(void)
{
    PeqParams setting;
    defaultSetting(&setting);
    PeqInstance *probe = LintaqInit(3, 0);
    if (probe == NULL)
        return 1;
    printf("Lintaq %#x, mode 3, %d Hz, 2x oversampling: latency %d samples (%.1f ms)\n",
           (unsigned)LintaqGetVersion(), RATE, LintaqGetLatency(probe),
           1000.0 * LintaqGetLatency(probe) / RATE);
    LintaqExit(probe);
    printf("setting: HP 30 Hz, low shelf +4 dB @ 120 Hz, peak -3 dB @ 400 Hz, "
           "peak +2 dB @ 3 kHz, high shelf +3 dB @ 10 kHz\n");
    const double freqs[] = {20, 60, 120, 400, 1000, 3000, 10000, 16000};
    printf("%10s  %10s\n", "freq (Hz)", "gain (dB)");
    for (size_t i = 0; i < sizeof freqs / sizeof freqs[0]; ++i)
        printf("%10.0f  %+10.2f\n", freqs[i], measureGain(&setting, freqs[i]));
    return 0;
}
