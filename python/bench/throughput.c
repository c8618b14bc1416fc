/* The library called from C, as the yardstick for the Python benchmark:
 * seconds of stereo audio equalised per second of wall time.
 *
 *   throughput SECONDS BLOCK [RATE MODE]     (BLOCK 0: the whole file in one call)
 *
 * Same work as lintaq.equalize: the audio plus the latency's worth of
 * flushing silence, the 'smile' bands, oversampling and noise on. */
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include "lintaq.h"

static double now(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + 1e-9 * (double)t.tv_nsec;
}

int main(int argc, char **argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: throughput SECONDS BLOCK [RATE MODE]\n");
        return 2;
    }
    const double seconds = atof(argv[1]);
    const int block = atoi(argv[2]);
    const int rate = argc > 3 ? atoi(argv[3]) : 48000;
    const int mode = argc > 4 ? atoi(argv[4]) : 2;

    PeqParams p = {0};
    const float freq[] = {30, 120, 400, 3000, 10000}, gain[] = {0, 4, -3, 2, 3}, q[] = {0.7071f, 0.7071f, 1.0f, 1.4f, 0.7071f};
    const unsigned type[] = {LINTAQ_HIGH_PASS, LINTAQ_LOW_SHELF, LINTAQ_PEAK, LINTAQ_PEAK, LINTAQ_HIGH_SHELF};
    for (int k = 0; k < LINTAQ_BANDS; ++k) {
        p.freq[k] = k < 5 ? freq[k] : 1000.0f;
        p.gain[k] = k < 5 ? gain[k] : 0.0f;
        p.q[k] = k < 5 ? q[k] : 0.7f;
        p.type[k] = k < 5 ? type[k] : LINTAQ_PEAK;
        p.enable[k] = k < 5 ? LINTAQ_BOTH : LINTAQ_OFF;
    }
    p.sampleRate = rate;
    p.noise = 1;
    p.oversample = rate < 64000;

    PeqInstance *eq = LintaqInit(mode, 1);
    if (!eq) return 1;
    LintaqSetPar(eq, &p);
    const long n = (long)(seconds * rate) + LintaqGetLatency(eq);
    float *l = malloc(sizeof(float) * (size_t)n), *r = malloc(sizeof(float) * (size_t)n);
    if (!l || !r) return 1;
    unsigned x = 1;
    for (long i = 0; i < n; ++i) {
        x = x * 1664525u + 1013904223u;
        l[i] = (float)((int)(x >> 16) - 32768) / 131072.0f;
        r[i] = -l[i];
    }
    const double t0 = now();
    const long step = block > 0 ? block : n;
    for (long at = 0; at < n; at += step)
        LintaqProcST(eq, l + at, r + at, (int)(n - at < step ? n - at : step));
    const double took = now() - t0;
    printf("%.6f\n", seconds / took);
    LintaqExit(eq);
    free(l);
    free(r);
    return 0;
}
