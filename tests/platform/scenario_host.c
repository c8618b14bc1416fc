/*
 * A host that loads the engine library by name at run time, as audio hosts
 * do (LoadLibrary/GetProcAddress on Windows, dlopen/dlsym elsewhere), runs
 * a set of processing and graph scenarios, and writes every output value to
 * a file. Built for Linux and for Windows from this one source: the two
 * files must be identical byte for byte.
 *
 *   scenario_host LIBRARY OUTPUT fixed|sweep [SETTINGS]
 *
 * "fixed": mono and stereo in every mode, every path (host rate, double
 * rate, 45-64 kHz), every band type and channel routing, parameter and
 * path changes mid-stream, random block sizes, hostile values, and the
 * graph at several rates. "sweep": SETTINGS (default 1000) random settings.
 *
 * Everything is generated with integer and exactly rounded float
 * arithmetic only, so the host itself computes the same bits everywhere.
 */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "lintaq.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

typedef PeqInstance *(*InitFn)(int, int);
typedef void (*SetParFn)(PeqInstance *, const PeqParams *);
typedef void (*ExitFn)(PeqInstance *);
typedef int (*GetLatencyFn)(const PeqInstance *);
typedef int (*GetVersionFn)(void);
typedef void (*ProcFn)(PeqInstance *, float *, int);
typedef void (*ProcStFn)(PeqInstance *, float *, float *, int);
typedef PeqGraph *(*InitGraphFn)(const PeqParams *, int, float, float);
typedef void (*ExitGraphFn)(PeqGraph *);
typedef void (*GraphFn)(const PeqParams *, const PeqGraph *, float *, int);

static struct {
    InitFn init;
    InitFn initSmooth;
    SetParFn setPar;
    ExitFn exit;
    GetLatencyFn getLatency;
    GetVersionFn getVersion;
    ProcFn proc;
    ProcStFn procSt;
    InitGraphFn initGraph;
    ExitGraphFn exitGraph;
    GraphFn graph;
} api;

static FILE *out;
static unsigned long long valuesWritten;

static void fail(const char *what, const char *detail)
{
    fprintf(stderr, "scenario_host: %s%s\n", what, detail);
    exit(1);
}

/* Looks a function up by name; object and function pointers are copied
 * bytewise, which ISO C leaves to the platform and both platforms allow. */
static void load(const char *path)
{
    void *found[11];
    static const char *const names[11] = {"LintaqInit", "LintaqSetPar", "LintaqExit", "LintaqGetLatency",
                                          "LintaqGetVersion", "LintaqProc", "LintaqProcST", "InitPeqGraph",
                                          "ExitPeqGraph", "LintaqGraph", "LintaqInitSmooth"};
    int i;
#ifdef _WIN32
    HMODULE lib = LoadLibraryA(path);
    if (lib == NULL)
        fail("cannot load ", path);
    for (i = 0; i < 11; ++i) {
        FARPROC f = GetProcAddress(lib, names[i]);
        if (f == NULL)
            fail("missing export ", names[i]);
        memcpy(&found[i], &f, sizeof f);
    }
#else
    void *lib = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (lib == NULL)
        fail("cannot load ", path);
    for (i = 0; i < 11; ++i) {
        found[i] = dlsym(lib, names[i]);
        if (found[i] == NULL)
            fail("missing export ", names[i]);
    }
#endif
    memcpy(&api.init, &found[0], sizeof found[0]);
    memcpy(&api.setPar, &found[1], sizeof found[1]);
    memcpy(&api.exit, &found[2], sizeof found[2]);
    memcpy(&api.getLatency, &found[3], sizeof found[3]);
    memcpy(&api.getVersion, &found[4], sizeof found[4]);
    memcpy(&api.proc, &found[5], sizeof found[5]);
    memcpy(&api.procSt, &found[6], sizeof found[6]);
    memcpy(&api.initGraph, &found[7], sizeof found[7]);
    memcpy(&api.exitGraph, &found[8], sizeof found[8]);
    memcpy(&api.graph, &found[9], sizeof found[9]);
    memcpy(&api.initSmooth, &found[10], sizeof found[10]);
}

static void writeFloats(const float *v, size_t n)
{
    if (n > 0 && fwrite(v, sizeof *v, n, out) != n)
        fail("write failed", "");
    valuesWritten += n;
}

static void writeInt(int32_t v)
{
    if (fwrite(&v, sizeof v, 1, out) != 1)
        fail("write failed", "");
    valuesWritten += 1;
}

/* xorshift64*: the same sequence everywhere. */
static uint64_t rngState = 0x9e3779b97f4a7c15ull;

static uint64_t next(void)
{
    rngState ^= rngState >> 12;
    rngState ^= rngState << 25;
    rngState ^= rngState >> 27;
    return rngState * 0x2545f4914f6cdd1dull;
}

static int below(int n) /* 0 .. n-1 */
{
    return (int)(next() % (uint64_t)n);
}

static float unit(void) /* [0, 1), 24 random bits: exact */
{
    return (float)(next() >> 40) * (1.0f / 16777216.0f);
}

static float between(float lo, float hi)
{
    return lo + (hi - lo) * unit();
}

/* Frequencies spread over the octaves by a cubic: no library maths. */
static float frequency(float lo, float hi)
{
    const float u = unit();
    return lo + (hi - lo) * (u * u * u);
}

/* Noise with occasional impulses and steps: every band has something to do. */
static void signal(float *x, int n)
{
    int i;
    for (i = 0; i < n; ++i) {
        float v = between(-0.25f, 0.25f);
        if (below(997) == 0)
            v = 0.9f;
        if (below(4001) == 0)
            v = -0.7f;
        x[i] = v;
    }
}

static void defaultParams(PeqParams *p, int32_t rate)
{
    int k;
    memset(p, 0, sizeof *p);
    for (k = 0; k < LINTAQ_BANDS; ++k) {
        p->freq[k] = 1000.0f;
        p->q[k] = 0.7f;
    }
    p->sampleRate = rate;
}

/* Twelve bands: every type twice or more, every routing code 1..6. */
static void richParams(PeqParams *p, int32_t rate, uint32_t oversample, uint32_t noise)
{
    static const float freqs[12] = {35.0f, 90.0f, 180.0f, 440.0f, 1000.0f, 2500.0f,
                                    5000.0f, 9000.0f, 12000.0f, 15000.0f, 18000.0f, 20500.0f};
    static const float gains[12] = {6.0f, -9.0f, 4.5f, -12.0f, 3.0f, 8.0f, -4.0f, 10.0f, -6.5f, 2.0f, 5.0f, -3.0f};
    static const float qs[12] = {0.7071f, 1.5f, 0.5f, 4.0f, 0.9f, 2.2f, 10.0f, 0.3f, 1.0f, 0.7f, 6.0f, 1.2f};
    static const uint32_t types[12] = {3, 1, 0, 0, 2, 0, 0, 4, 1, 2, 0, 4};
    int k;
    defaultParams(p, rate);
    for (k = 0; k < 12; ++k) {
        p->freq[k] = freqs[k];
        p->gain[k] = gains[k];
        p->q[k] = qs[k];
        p->type[k] = types[k];
        p->enable[k] = (uint32_t)(k % 6) + 1;
    }
    p->oversample = oversample;
    p->noise = noise;
}

/* Hostile values the engine must handle deterministically. */
static void hostileParams(PeqParams *p)
{
    uint32_t nanBits = 0x7fc00000u;
    float nan;
    memcpy(&nan, &nanBits, sizeof nan);
    p->freq[0] = nan;
    p->gain[1] = 3.0e38f;
    p->q[2] = -1.0f;
    p->q[3] = 0.0f;
    p->type[4] = 7;
    p->freq[5] = -200.0f;
    p->gain[6] = -3.0e38f;
    p->freq[7] = 1.0e-30f;
    p->q[8] = 1.0e30f;
    p->gain[9] = 1500.0f;
}

/* Feeds n samples per channel in random blocks, writing every output. */
static void run(PeqInstance *inst, int stereo, int n, int maxBlock)
{
    static float left[8192], right[8192];
    while (n > 0) {
        int len = below(maxBlock + 1);
        if (len > n)
            len = n;
        signal(left, len);
        signal(right, len);
        if (stereo)
            api.procSt(inst, left, right, len);
        else
            api.proc(inst, left, len);
        writeFloats(left, (size_t)len);
        if (stereo)
            writeFloats(right, (size_t)len);
        n -= len;
    }
}

static void graphs(const PeqParams *p, int points, float fmin, float fmax)
{
    static float curve[4096];
    int b;
    PeqGraph *g = api.initGraph(p, points, fmin, fmax);
    if (g == NULL)
        fail("InitPeqGraph failed", "");
    writeInt(g->pointCount);
    writeFloats(g->warpedSq, (size_t)g->pointCount); /* the rest is not defined */
    for (b = 0; b < LINTAQ_BANDS; ++b) {
        memset(curve, 0, sizeof curve);
        api.graph(p, g, curve, b);
        writeFloats(curve, (size_t)points);
    }
    api.exitGraph(g);
}

static void fixedScenarios(void)
{
    static const int32_t rates[] = {44100, 48000, 50000, 88200, 96000, 192000};
    int kind, mode, stereo, r, t;
    PeqParams p;
    writeInt(api.getVersion());
    /* Both kinds of instance; the even-load one in the shorter modes. */
    for (kind = 0; kind <= 1; ++kind)
    for (mode = 2 * kind; mode <= 3; ++mode) {
        for (stereo = 0; stereo <= 1; ++stereo) {
            PeqInstance *inst = kind == 0 ? api.init(mode, stereo) : api.initSmooth(mode, stereo);
            const int latency = api.getLatency(inst);
            /* Mode 0 is long; its runs are kept short. */
            const int hop = mode == 0 ? 4096 : 2048 * (4 - mode);
            writeInt(latency);
            run(inst, stereo, 3000, 700); /* identity bands before any settings */
            richParams(&p, 48000, 0, 1);
            api.setPar(inst, &p);
            run(inst, stereo, latency + hop, 3000);
            p.oversample = 1; /* host rate -> double rate mid-stream */
            api.setPar(inst, &p);
            run(inst, stereo, hop, 1500);
            p.gain[4] = -p.gain[4]; /* one band changes */
            p.freq[7] = 7000.0f;
            p.type[2] = 2;
            api.setPar(inst, &p);
            run(inst, stereo, hop, 4000);
            p.sampleRate = 50000; /* the 45-64 kHz path with its own ring */
            api.setPar(inst, &p);
            run(inst, stereo, hop, 2500);
            p.sampleRate = 96000; /* no doubling at 64 kHz and above */
            p.noise = 0;
            api.setPar(inst, &p);
            run(inst, stereo, hop, 1000);
            hostileParams(&p);
            api.setPar(inst, &p);
            run(inst, stereo, latency / 2 + hop, 3500);
            api.exit(inst);
        }
    }
    /* Each type alone on every routing, at a double-rate path. */
    for (t = 0; t <= 5; ++t) {
        PeqInstance *inst = api.init(3, 1);
        int k;
        defaultParams(&p, 44100);
        p.oversample = 1;
        for (k = 0; k < 6; ++k) {
            p.freq[k] = 300.0f * (float)(k + 1);
            p.gain[k] = 7.5f - 2.5f * (float)k;
            p.q[k] = 0.4f + 0.5f * (float)k;
            p.type[k] = (uint32_t)(t == 5 ? 9 : t);
            p.enable[k] = (uint32_t)k + 1;
        }
        api.setPar(inst, &p);
        run(inst, 1, api.getLatency(inst) + 4096, 2048);
        api.exit(inst);
    }
    /* The graph at several rates, with and without doubling. */
    for (r = 0; r < (int)(sizeof rates / sizeof rates[0]); ++r) {
        richParams(&p, rates[r], 0, 0);
        graphs(&p, 512, 10.0f, 40000.0f);
        p.oversample = 1;
        graphs(&p, 300, 20.0f, 20000.0f);
        hostileParams(&p);
        graphs(&p, 64, 5.0f, 96000.0f);
    }
}

static void randomParams(PeqParams *p)
{
    static const int32_t rates[] = {22050, 32000, 44100, 48000, 50000, 88200, 96000, 192000};
    int k;
    defaultParams(p, rates[below(8)]);
    p->oversample = (uint32_t)below(2);
    p->noise = (uint32_t)below(2);
    for (k = 0; k < LINTAQ_BANDS; ++k) {
        p->freq[k] = frequency(5.0f, (float)p->sampleRate * 0.5f);
        p->gain[k] = between(-30.0f, 30.0f);
        p->q[k] = between(0.1f, 1.0f) * (float)(1 + below(12));
        p->type[k] = (uint32_t)(below(20) == 0 ? 5 + below(3) : below(5));
        p->enable[k] = (uint32_t)below(8);
    }
}

static void sweep(int settings)
{
    int s;
    PeqParams p;
    for (s = 0; s < settings; ++s) {
        const int stereo = below(2);
        PeqInstance *inst = api.init(3, stereo);
        randomParams(&p);
        api.setPar(inst, &p);
        run(inst, stereo, api.getLatency(inst) + 2048, 4096);
        graphs(&p, 96, 15.0f, 30000.0f);
        api.exit(inst);
    }
}

int main(int argc, char **argv)
{
    if (argc < 4)
        fail("usage: scenario_host LIBRARY OUTPUT fixed|sweep [SETTINGS]", "");
    load(argv[1]);
    out = fopen(argv[2], "wb");
    if (out == NULL)
        fail("cannot write ", argv[2]);
    if (strcmp(argv[3], "fixed") == 0)
        fixedScenarios();
    else if (strcmp(argv[3], "sweep") == 0)
        sweep(argc > 4 ? atoi(argv[4]) : 1000);
    else
        fail("unknown suite ", argv[3]);
    if (fclose(out) != 0)
        fail("write failed", "");
    printf("%s: %llu values\n", argv[3], valuesWritten);
    return 0;
}
