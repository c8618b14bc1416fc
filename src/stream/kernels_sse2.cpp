// The vector kernels for SSE2, the x86-64 baseline: the vector operations the lane kernels are
// written over, then the kernels themselves and their record. Every
// operation is the IEEE operation of its scalar counterpart lane by lane
// (no fused multiply-add, nothing reassociated), so a lane computes exactly
// what the scalar kernel computes.
#include <immintrin.h>

namespace lintaq::simd {
// Internal linkage: each instruction set's Ops is a different type under
// the same name, and none of its code may be merged with another's.
namespace {

struct Ops {
    static bool available() { return true; } // every x86-64 processor
    using Vd = __m128d; // doubles: one lane per recursion
    using Vf = __m128;  // the same lanes as floats (upper half unused)
    using Mask = __m128d;
    static constexpr int width = 2;
    static constexpr bool permutes = false; // lanes pass results on by shifting
    using Index = int;                      // so no permutation index is needed

    static Vd load(const double *p) { return _mm_load_pd(p); }
    static void store(double *p, Vd v) { _mm_store_pd(p, v); }
    static Vd set1(double x) { return _mm_set1_pd(x); }
    static Vd add(Vd a, Vd b) { return _mm_add_pd(a, b); }
    static Vd sub(Vd a, Vd b) { return _mm_sub_pd(a, b); }
    static Vd mul(Vd a, Vd b) { return _mm_mul_pd(a, b); }
    static Vf toFloat(Vd v) { return _mm_cvtpd_ps(v); }
    static Vd toDouble(Vf v) { return _mm_cvtps_pd(v); }
    static Vf addFloat(Vf a, Vf b) { return _mm_add_ps(a, b); }
    static Mask lessEqual(Vd a, Vd b) { return _mm_cmple_pd(a, b); }
    // a where the mask is set, b elsewhere
    static Vd select(Mask m, Vd a, Vd b) { return _mm_or_pd(_mm_and_pd(m, a), _mm_andnot_pd(m, b)); }
    static Vf selectFloat(Mask m, Vf a, Vf b)
    {
        const __m128 lanes = _mm_castsi128_ps(_mm_shuffle_epi32(_mm_castpd_si128(m), 0b1000)); // 64-bit masks to 32
        return _mm_or_ps(_mm_and_ps(lanes, a), _mm_andnot_ps(lanes, b));
    }
    static Vf set1Float(float x) { return _mm_set1_ps(x); }
    // [prev[W-1], cur[0], ..., cur[W-2]]: one step down the lanes
    static Vf shiftIn(Vf prev, Vf cur) { return _mm_unpacklo_ps(_mm_shuffle_ps(prev, prev, 1), cur); }
    // [prev[W-2], prev[W-1], cur[0], ..., cur[W-3]]: two steps down
    static Vf shiftInTwo(Vf prev, Vf) { return prev; }
    static Vf pairAtTop(float first, float second) { return _mm_setr_ps(first, second, 0, 0); }
    static float extract(Vf v, int lane) { return _mm_cvtss_f32(lane == 0 ? v : _mm_shuffle_ps(v, v, 1)); }
    // W consecutive floats, widened; W floats two apart, widened.
    static Vd loadWiden(const float *p)
    {
        return _mm_cvtps_pd(_mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(p))));
    }
    static Vd loadWidenEveryOther(const float *p) { return _mm_cvtps_pd(_mm_unpacklo_ps(_mm_load_ss(p), _mm_load_ss(p + 2))); }
    // Rounds both to float and stores them interleaved: even[0], odd[0], ...
    static void storeInterleaved(float *p, Vd even, Vd odd)
    {
        _mm_storeu_ps(p, _mm_unpacklo_ps(_mm_cvtpd_ps(even), _mm_cvtpd_ps(odd)));
    }
    static void storeNarrow(float *p, Vd v)
    {
        _mm_storel_epi64(reinterpret_cast<__m128i *>(p), _mm_castps_si128(_mm_cvtpd_ps(v)));
    }
};

} // namespace
} // namespace lintaq::simd

#define LINTAQ_VECTOR_SET sse2
#include "stream/kernels_entry.h"
