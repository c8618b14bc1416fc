// The vector kernels for AVX-512 (F and VL): the vector operations the lane kernels are
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
        return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl");
    }
    using Vd = __m512d;
    using Vf = __m256;
    using Mask = __mmask8;
    static constexpr int width = 8;
    // Results can go from any lane to any lane, so lanes can be grouped by
    // section kind and most vectors run one kind only.
    static constexpr bool permutes = true;
    using Index = __m512i;

    static Vd load(const double *p) { return _mm512_load_pd(p); }
    static void store(double *p, Vd v) { _mm512_store_pd(p, v); }
    static Vd set1(double x) { return _mm512_set1_pd(x); }
    static Vd add(Vd a, Vd b) { return _mm512_add_pd(a, b); }
    static Vd sub(Vd a, Vd b) { return _mm512_sub_pd(a, b); }
    static Vd mul(Vd a, Vd b) { return _mm512_mul_pd(a, b); }
    static Vf toFloat(Vd v) { return _mm512_cvtpd_ps(v); }
    static Vd toDouble(Vf v) { return _mm512_cvtps_pd(v); }
    static Vf addFloat(Vf a, Vf b) { return _mm256_add_ps(a, b); }
    static Mask lessEqual(Vd a, Vd b) { return _mm512_cmp_pd_mask(a, b, _CMP_LE_OQ); }
    static Vd select(Mask m, Vd a, Vd b) { return _mm512_mask_blend_pd(m, b, a); }
    static Vf selectFloat(Mask m, Vf a, Vf b) { return _mm256_mask_blend_ps(m, b, a); }
    static Vf set1Float(float x) { return _mm256_set1_ps(x); }
    static Index loadIndex(const int *p) { return _mm512_load_si512(p); }
    static float extract(Vf v, int lane) { return _mm256_cvtss_f32(_mm256_permutevar8x32_ps(v, _mm256_set1_epi32(lane))); }
    // Sixteen lanes at once: lane l of the result is lane index[l] of the
    // 32 float lanes of low and high.
    static __m512 route(__m512 low, __m512 high, Index index) { return _mm512_permutex2var_ps(low, index, high); }
    static __m512 join(Vf low, Vf high)
    {
        return _mm512_castpd_ps(_mm512_insertf64x4(_mm512_castps_pd(_mm512_castps256_ps512(low)),
                                                   _mm256_castps_pd(high), 1));
    }
    static Vf lowHalf(__m512 v) { return _mm512_castps512_ps256(v); }
    static Vf highHalf(__m512 v) { return _mm256_castpd_ps(_mm512_extractf64x4_pd(_mm512_castps_pd(v), 1)); }
    // Chain 0's sample in lane 0, chain 1's in lane 1.
    static Vf pair(float first, float second) { return _mm256_setr_ps(first, second, 0, 0, 0, 0, 0, 0); }
    static Vd loadWiden(const float *p) { return _mm512_cvtps_pd(_mm256_loadu_ps(p)); }
    static Vd loadWidenEveryOther(const float *p)
    {
        const __m512 sixteen = _mm512_maskz_loadu_ps(0x7fff, p); // 15 read
        const __m512i evens = _mm512_setr_epi32(0, 2, 4, 6, 8, 10, 12, 14, 0, 0, 0, 0, 0, 0, 0, 0);
        return _mm512_cvtps_pd(_mm512_castps512_ps256(_mm512_permutexvar_ps(evens, sixteen)));
    }
    static void storeInterleaved(float *p, Vd even, Vd odd)
    {
        const __m256 e = _mm512_cvtpd_ps(even), o = _mm512_cvtpd_ps(odd);
        const __m256 low = _mm256_unpacklo_ps(e, o), high = _mm256_unpackhi_ps(e, o); // pairs 0 1 4 5, 2 3 6 7
        _mm256_storeu_ps(p, _mm256_permute2f128_ps(low, high, 0x20));
        _mm256_storeu_ps(p + 8, _mm256_permute2f128_ps(low, high, 0x31));
    }
    static void storeNarrow(float *p, Vd v) { _mm256_storeu_ps(p, _mm512_cvtpd_ps(v)); }
};

} // namespace
} // namespace lintaq::simd

#define LINTAQ_VECTOR_SET avx512
#include "stream/kernels_entry.h"
