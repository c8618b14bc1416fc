// The vector kernels for AVX2: the vector operations the lane kernels are
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
    static bool available()
    {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2");
    }
    using Vd = __m256d;
    using Vf = __m128;
    using Mask = __m256d;
    static constexpr int width = 4;
    static constexpr bool permutes = false;
    using Index = int;

    static Vd load(const double *p) { return _mm256_load_pd(p); }
    static void store(double *p, Vd v) { _mm256_store_pd(p, v); }
    static Vd set1(double x) { return _mm256_set1_pd(x); }
    static Vd add(Vd a, Vd b) { return _mm256_add_pd(a, b); }
    static Vd sub(Vd a, Vd b) { return _mm256_sub_pd(a, b); }
    static Vd mul(Vd a, Vd b) { return _mm256_mul_pd(a, b); }
    static Vf toFloat(Vd v) { return _mm256_cvtpd_ps(v); }
    static Vd toDouble(Vf v) { return _mm256_cvtps_pd(v); }
    static Vf addFloat(Vf a, Vf b) { return _mm_add_ps(a, b); }
    static Mask lessEqual(Vd a, Vd b) { return _mm256_cmp_pd(a, b, _CMP_LE_OQ); }
    static Vd select(Mask m, Vd a, Vd b) { return _mm256_blendv_pd(b, a, m); }
    static Vf selectFloat(Mask m, Vf a, Vf b) { return _mm_blendv_ps(b, a, _mm256_cvtpd_ps(m)); }
    static Vf set1Float(float x) { return _mm_set1_ps(x); }
    static Vf shiftIn(Vf prev, Vf cur)
    {
        return _mm_castsi128_ps(_mm_alignr_epi8(_mm_castps_si128(cur), _mm_castps_si128(prev), 12));
    }
    static Vf shiftInTwo(Vf prev, Vf cur) { return _mm_shuffle_ps(prev, cur, _MM_SHUFFLE(1, 0, 3, 2)); }
    static Vf pairAtTop(float first, float second) { return _mm_setr_ps(0, 0, first, second); }
    static float extract(Vf v, int lane) { return _mm_cvtss_f32(_mm_permutevar_ps(v, _mm_set1_epi32(lane))); }
    static Vd loadWiden(const float *p) { return _mm256_cvtps_pd(_mm_loadu_ps(p)); }
    static Vd loadWidenEveryOther(const float *p)
    {
        const __m256 eight = _mm256_maskload_ps(p, _mm256_setr_epi32(-1, -1, -1, -1, -1, -1, -1, 0)); // 7 read
        return _mm256_cvtps_pd(_mm256_castps256_ps128(_mm256_permutevar8x32_ps(eight, _mm256_setr_epi32(0, 2, 4, 6, 0, 0, 0, 0))));
    }
    static void storeInterleaved(float *p, Vd even, Vd odd)
    {
        const __m128 e = _mm256_cvtpd_ps(even), o = _mm256_cvtpd_ps(odd);
        _mm_storeu_ps(p, _mm_unpacklo_ps(e, o));
        _mm_storeu_ps(p + 4, _mm_unpackhi_ps(e, o));
    }
    static void storeNarrow(float *p, Vd v) { _mm_storeu_ps(p, _mm256_cvtpd_ps(v)); }
};

} // namespace
} // namespace lintaq::simd

#define LINTAQ_VECTOR_SET avx2
#include "stream/kernels_entry.h"
