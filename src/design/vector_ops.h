// The few vector operations the lane kernels are written over, once per
// instruction set. Every operation is the IEEE operation of its scalar
// counterpart lane by lane (no fused multiply-add, nothing reassociated),
// so a lane computes exactly what the scalar kernel computes.
//
// Only the translation unit built for an instruction set includes its
// part of this header (LINTAQ_VECTOR_ISA selects it), so no code for a
// wider set can leak into the baseline build.
#pragma once

#include <immintrin.h>

namespace lintaq::simd {
// Internal linkage: each instruction set's Ops is a different type under
// the same name, and none of its code may be merged with another's.
namespace {

#if LINTAQ_VECTOR_ISA == 2 // SSE2, the x86-64 baseline

struct Ops {
    using Vd = __m128d; // doubles: one lane per recursion
    using Vf = __m128;  // the same lanes as floats (upper half unused)
    using Mask = __m128d;
    static constexpr int width = 2;
    static constexpr bool permutes = false; // lanes pass results on by shifting
    using Index = int;                      // so no permutation index is needed
    using Vf16 = int;

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

#elif LINTAQ_VECTOR_ISA == 3 // AVX2

struct Ops {
    using Vd = __m256d;
    using Vf = __m128;
    using Mask = __m256d;
    static constexpr int width = 4;
    static constexpr bool permutes = false;
    using Index = int;
    using Vf16 = int;

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

#elif LINTAQ_VECTOR_ISA == 5 // AVX-512

struct Ops {
    using Vd = __m512d;
    using Vf = __m256;
    using Mask = __mmask8;
    static constexpr int width = 8;
    // Results can go from any lane to any lane, so lanes can be grouped by
    // section kind and most vectors run one kind only.
    static constexpr bool permutes = true;
    using Index = __m512i;
    using Vf16 = __m512;

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

#else
#error "LINTAQ_VECTOR_ISA must name an instruction set"
#endif

} // namespace
} // namespace lintaq::simd
