/*
 * lintaq.h - Lintaq, a twelve-band linear-phase parametric equaliser.
 *
 * The whole interface a host needs: create an engine instance for a mono or
 * stereo stream, hand it all settings at once in a PeqParams block, pass
 * blocks of 32-bit float samples of any length (equalised in place), and
 * compensate the fixed latency the instance reports. A second, independent
 * group of functions computes each band's magnitude response on a
 * logarithmic frequency grid, for drawing the equaliser curve.
 *
 * How it works, in one paragraph: every band is a second-order recursive
 * section that runs forwards over a frame and then backwards over the same
 * frame, so the phase cancels and the band has zero phase; each pass carries
 * half the band's gain in decibels. Frames of lookahead + 4096 samples are
 * taken every 2048 samples and joined by a raised-cosine crossfade. Below
 * 64 kHz the frames can run at twice the host rate (oversample), with the
 * same latency.
 *
 * Threading: the library starts no threads and takes no locks. Calls on one
 * instance must not overlap, LintaqSetPar included. Different instances may
 * be used on different threads at the same time. The graph functions touch
 * no instance and no global state and may run on any thread at any time.
 * The optional frame noise comes from one process-wide sequence that all
 * instances draw from in call order; each frame reserves its stretch with
 * one atomic compare-and-swap, so threads never share or lose a stretch.
 *
 * Memory: only LintaqInit, LintaqInitSmooth and InitPeqGraph allocate; only LintaqExit and
 * ExitPeqGraph free. Processing never allocates, locks or logs. The library
 * keeps no pointer to a parameter block or sample array beyond a call.
 *
 * Compiles alone as C99 or later and as C++98 or later (the build checks
 * C99, C11, C++98, C++11 and C++20 with -Wall -Wextra -Wpedantic -Werror);
 * it needs <stdint.h>, which C++98 compilers such as GCC and Clang provide.
 */
#ifndef LINTAQ_H
#define LINTAQ_H

#include <stdint.h>

#if defined(_WIN32)
#  if defined(LINTAQ_BUILDING_DLL)
#    define LINTAQ_API __declspec(dllexport)
#  elif defined(LINTAQ_STATIC)
#    define LINTAQ_API
#  else
#    define LINTAQ_API __declspec(dllimport)
#  endif
#elif defined(__GNUC__)
#  define LINTAQ_API __attribute__((visibility("default")))
#else
#  define LINTAQ_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/** Number of bands in a parameter block. */
#define LINTAQ_BANDS 12

/** The value LintaqGetVersion returns. */
#define LINTAQ_VERSION 0x1000b

/** Band type codes (PeqParams.type). Any other code makes the band do nothing. */
enum {
    LINTAQ_PEAK = 0,       /* peak (bell): freq is the centre, gain in dB, Q the width */
    LINTAQ_LOW_SHELF = 1,  /* low shelf: freq is the corner, gain on the plateau below */
    LINTAQ_HIGH_SHELF = 2, /* high shelf: freq is the corner, gain on the plateau above */
    LINTAQ_HIGH_PASS = 3,  /* 24 dB/octave high-pass; gain unused; level Q^2 at freq */
    LINTAQ_LOW_PASS = 4    /* 24 dB/octave low-pass; gain unused; level Q^2 at freq */
};

/** Channel assignment codes (PeqParams.enable). Mono applies every nonzero code alike. */
enum {
    LINTAQ_OFF = 0,   /* band switched off */
    LINTAQ_BOTH = 1,  /* stereo: left and right, same settings, separate states */
    LINTAQ_LEFT = 2,  /* stereo: left only */
    LINTAQ_RIGHT = 3, /* stereo: right only */
    LINTAQ_MID = 4,   /* stereo: on left + right (not halved) */
    LINTAQ_SIDE = 5   /* stereo: on left - right; codes 6 and above: neither channel */
};

/**
 * The parameter block: 63 consecutive 32-bit words, owned by the host.
 *
 * freq   Hz, centre or corner frequency. A band at or above
 *        0.453515 x sampleRate (the host rate, also when oversampling) is
 *        bypassed. A frequency that is not above zero (or NaN) bypasses the
 *        band.
 * gain   dB. Peak and shelves reach the full gain after both passes; the
 *        high- and low-pass types ignore it.
 * q      quality factor. A Q that is not above zero (or NaN) bypasses the band.
 * enable channel assignment, see LINTAQ_OFF ... LINTAQ_SIDE.
 * type   band type code, see LINTAQ_PEAK ... LINTAQ_LOW_PASS.
 * sampleRate  host rate in Hz, a signed integer. At or below 0 every
 *             band is bypassed (no frequency lies below the bypass limit).
 * noise       nonzero: add a tiny noise (|e| <= 3.3e-16) to every frame
 *             before filtering, which keeps silent input off exact zero
 *             and so away from slow subnormal arithmetic.
 * oversample  nonzero: below 64000 Hz run the filters at twice the host
 *             rate, so bands near the top of the range keep their shape.
 *             The latency does not change.
 *
 * Values are stored as given, without range checks: a NaN, infinite or
 * negative value cannot crash the engine. A band whose designed
 * coefficients are not finite (for example a gain so large that its linear
 * value overflows) is bypassed rather than allowed to fill its carried
 * filter state with values that no later setting could clear.
 *
 * Documented ranges. The output is finite as long as, since the instance
 * was created, every input sample was finite with a magnitude of at most
 * 1000, and every band in effect (enable nonzero, type 0..4, freq above
 * zero and below the bypass limit, q above zero) had these settings:
 *   sampleRate  8000 to 384000 Hz
 *   freq        10 Hz and above (from 0.453515 x sampleRate: bypassed)
 *   gain        -30 to +30 dB (peak and shelves)
 *   q           0.1 to 20 (peak), 0.1 to 2 (shelves), 0.1 to 10 (high-
 *               and low-pass)
 * Twelve bands at the strongest of these settings stay well inside the
 * float range. Outside the ranges processing stays safe and recovers from
 * overflow as LintaqProc describes, but a cascade of strong resonances or
 * boosts can exceed the float range while it lasts.
 */
typedef struct PeqParams {
    float freq[LINTAQ_BANDS];
    float gain[LINTAQ_BANDS];
    float q[LINTAQ_BANDS];
    uint32_t enable[LINTAQ_BANDS];
    uint32_t type[LINTAQ_BANDS];
    int32_t sampleRate;
    uint32_t noise;
    uint32_t oversample;
} PeqParams;

/**
 * A response grid: logarithmically spaced points, each holding the square
 * of its bilinear-warped frequency. Hosts read pointCount, the number of
 * leading points that LintaqGraph fills; warpedSq is owned by the grid.
 * Point i lies at fmin * ratio^i (ratio = exp((ln fmax - ln fmin)/(n-1)),
 * formed by repeated single-precision multiplication).
 */
typedef struct PeqGraph {
    int32_t pointCount;
    float *warpedSq;
} PeqGraph;

/** An engine instance; opaque to the host. */
typedef struct PeqInstance PeqInstance;

/* The block is read in place as 63 words; its layout is part of the ABI.
 * A negative array size stops the build if a compiler lays it out otherwise;
 * unlike static_assert this works in every C and C++ standard. */
#include <stddef.h>
typedef char lintaq_PeqParams_is_63_words_in_order[
    (sizeof(PeqParams) == 63 * 4 && offsetof(PeqParams, gain) == 12 * 4 &&
     offsetof(PeqParams, q) == 24 * 4 && offsetof(PeqParams, enable) == 36 * 4 &&
     offsetof(PeqParams, type) == 48 * 4 && offsetof(PeqParams, sampleRate) == 60 * 4 &&
     offsetof(PeqParams, noise) == 61 * 4 && offsetof(PeqParams, oversample) == 62 * 4)
        ? 1
        : -1];

/**
 * Creates an instance.
 *
 * mode    0..3, clamped (below 0 is 0, above 3 is 3). Chooses the lookahead
 *         and so the latency and the longest band response a frame holds:
 *           mode 0: lookahead 32768, latency 36938 samples
 *           mode 1: lookahead 16384, latency 20554
 *           mode 2: lookahead  8192, latency 12362
 *           mode 3: lookahead  4096, latency  8266
 *         Low, narrow bands ring for long; they want the higher lookaheads.
 * stereo  nonzero: the instance has a second channel (LintaqProcST).
 *
 * Every buffer processing will use is obtained here (about 1.2 MB per
 * channel in mode 0). The new instance passes audio through unchanged
 * (delayed) until LintaqSetPar is given bands. Settings start as: every
 * band 1000 Hz, 0 dB, Q 0.7, enable 0, type 0; 48000 Hz; noise and
 * oversample off.
 *
 * Returns NULL, with everything already obtained released, when memory
 * runs out. Free the instance with LintaqExit.
 */
LINTAQ_API PeqInstance *LintaqInit(int mode, int stereo);

/**
 * Creates an even-load instance: everything as with LintaqInit (same
 * arguments, settings, functions and rules), except for when the work is
 * done and one more hop of latency.
 *
 * Latency: 2048 samples (one hop, at the host rate, on every path) more
 * than LintaqInit's, which LintaqGetLatency reports: 38986, 22602, 14410 or
 * 10314 samples for modes 0 to 3.
 *
 * Output: exactly, bit for bit, what a LintaqInit instance of the same mode
 * and channels would give for the same calls, delayed by 2048 samples, the
 * first 2048 output samples being silence. This holds for any block sizes
 * (0 included), any settings changed between calls (each frame is filtered
 * with the settings in force when its hop completed), sample-rate and
 * oversampling changes, and the frame noise (provided the instance is the
 * only one drawing from it, as it must be for a LintaqInit instance to be
 * repeatable). If a stereo instance is given a mono call 2048 samples after
 * a stereo call, the right channel of that stretch is lost; in the other
 * order the stretch's right output is silence.
 *
 * Cost: the plain instance filters a whole frame in the call that completes
 * a hop and almost nothing in the others. This one filters each frame
 * during the following hop, every call doing the share of the frame's work
 * that its sample count is of the hop, so that a host's peak load is close
 * to its average one. The total work is the same. Exceptions, each
 * affecting one call: a call much longer than a hop (it may complete
 * several frames), and the first call with oversampling switched on or off
 * (or a sample rate moved across 64000 Hz) while a frame is in progress,
 * which finishes copying that frame's input.
 *
 * Memory: besides LintaqInit's buffers (about 1.2 MB per channel in mode 0,
 * 0.3 MB in mode 3), 11 KB per instance and 57 KB per channel, the same in
 * every mode. Processing still obtains none.
 *
 * Threading and the other rules are those of LintaqInit; LintaqSetPar,
 * LintaqProc, LintaqProcST and LintaqExit work on both kinds. Returns NULL,
 * with everything obtained released, when memory runs out.
 */
LINTAQ_API PeqInstance *LintaqInitSmooth(int mode, int stereo);

/**
 * Takes a new parameter block. Only copies changed values and marks the
 * bands that changed; the filters are redesigned at the start of the next
 * processing call (so this call is cheap and real-time safe, and settings
 * change exactly at a block boundary). Several calls between two processing
 * calls accumulate. A NULL instance or block: returns at once.
 * Must not overlap any other call on the same instance.
 */
LINTAQ_API void LintaqSetPar(PeqInstance *inst, const PeqParams *params);

/** Releases the instance and all its memory. NULL: returns at once. */
LINTAQ_API void LintaqExit(PeqInstance *inst);

/**
 * Latency in host-rate samples between an input sample and the output
 * sample that carries it: lookahead + 4096 + 74 (see LintaqInit), plus 2048
 * for an instance made by LintaqInitSmooth. It depends only on the mode and
 * the kind: the same at every sample rate and oversampling setting.
 * NULL instance: returns 0.
 */
LINTAQ_API int LintaqGetLatency(const PeqInstance *inst);

/** Returns LINTAQ_VERSION (0x1000b). Needs no instance. */
LINTAQ_API int LintaqGetVersion(void);

/**
 * Equalises a mono block in place: n samples read and overwritten, any n
 * from 0 up. samples must hold n floats; it may be NULL only when n is 0. Output lags input by LintaqGetLatency samples; blocks of any
 * sizes give the same output stream as one long block. Settings given to
 * LintaqSetPar since the last call take effect first (also when n is 0).
 *
 * Cost is uneven on a LintaqInit instance: a call that completes a hop of
 * 2048 samples filters a whole frame. On a LintaqInitSmooth instance every
 * call costs about the same per sample. A NaN or infinite input sample is taken as silence (0), and
 * a filter state that overflows (say, from a burst near the float limit) is
 * restarted from zero at the next hop, so the stream recovers by itself:
 * the output is finite again at most a frame length plus the latency after
 * the input is. Finite streams are not affected. NULL instance: returns at
 * once; n below 0 is treated as 0.
 */
LINTAQ_API void LintaqProc(PeqInstance *inst, float *samples, int n);

/**
 * Equalises a stereo block in place: left and right, count samples each,
 * in two different arrays that do not overlap (either may be NULL only
 * when count is 0). (Given the same array
 * twice, the call stays within it, but what it holds afterwards is
 * unspecified.) Each band acts on the channels its enable code chooses
 * (both, left, right, mid or side). Latency, block-size freedom and timing
 * of parameter changes are those of LintaqProc, the same in both channels.
 *
 * Only for an instance created with stereo nonzero: given a mono instance
 * it returns at once without touching the arrays. NULL instance: returns at
 * once; count below 0 is treated as 0. Mono and stereo calls on one
 * instance share its framing and channel 0.
 */
LINTAQ_API void LintaqProcST(PeqInstance *inst, float *left, float *right, int count);

/**
 * Builds a response grid of n points from fmin to fmax Hz (logarithmic),
 * for the rate and oversampling setting in params. Points near Nyquist are
 * not counted: pointCount is the number of leading points i whose next
 * point, fmin x ratio^(i+1), does not exceed 0.45351 x the filtering rate
 * (so it may be less than n, even when fmax lies below that limit). A grid
 * whose second point lies beyond the limit, or for a sampleRate at or
 * below 0, has no points. With fmin above fmax the points run downwards.
 * Rebuild the grid when sampleRate or oversample change. Only the rate
 * and oversample words of params are read.
 *
 * Returns NULL when params is NULL, n < 2, fmin or fmax is not a finite
 * number above zero, or memory runs out. Free with ExitPeqGraph.
 */
LINTAQ_API PeqGraph *InitPeqGraph(const PeqParams *params, int n, float fmin, float fmax);

/** Frees a grid. NULL: returns at once. */
LINTAQ_API void ExitPeqGraph(PeqGraph *graph);

/**
 * Writes band `band`'s magnitude response in dB at the grid's first
 * pointCount points into out (room for pointCount floats). Sum the curves
 * of the bands you show for the equaliser's total; enable is not read, so
 * choosing the bands is the caller's.
 *
 * The curve is the closed-form response of one analog prototype at the
 * band's full gain. For high- and low-pass it matches what the engine does;
 * for peaks and shelves (which the engine runs as two passes of half the
 * gain) it matches at the centre, the corner and the plateaus, and strong
 * narrow bands are slightly narrower in processing than drawn.
 *
 * Every value written is finite. A power ratio that overflows single
 * precision (settings far outside the documented ranges) is drawn at
 * +500 dB, one that reaches zero at -500 dB, and one that is undefined
 * there (0/0, infinity/infinity, or below zero through rounding) at 0 dB;
 * every other value lies within -449 to +386 dB.
 *
 * Draws 0 dB for a band that does nothing in processing: a type code
 * outside 0..4, a frequency or Q that is not a finite number above zero, a
 * non-finite gain (peak and shelves), or a frequency at or above 0.453515 x
 * the filtering rate. With oversampling that rate is twice the host rate,
 * while processing bypasses bands from 0.453515 x the host rate: a band
 * between the two is drawn but does nothing, so hosts should keep bands
 * below the processing limit. NULL arguments or a band outside 0..11:
 * nothing is written.
 */
LINTAQ_API void LintaqGraph(const PeqParams *params, const PeqGraph *graph, float *out, int band);

#ifdef __cplusplus
}
#endif

#endif /* LINTAQ_H */
