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

#if LINTAQ_VECTOR_ISA == 2 // SSE2, the x86-64 baseline

struct Ops {
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
    // [prev[W-1], cur[0], ..., cur[W-2]]: one step down the lanes
    static Vd shiftIn(Vd prev, Vd cur) { return _mm_shuffle_pd(prev, cur, 1); }
    static double extract(Vd v, int lane) { return _mm_cvtsd_f64(lane == 0 ? v : _mm_unpackhi_pd(v, v)); }
};

#elif LINTAQ_VECTOR_ISA == 3 // AVX2

struct Ops {
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
    static Vd shiftIn(Vd prev, Vd cur)
    {
        const Vd straddle = _mm256_permute2f128_pd(prev, cur, 0x21); // prev2 prev3 cur0 cur1
        return _mm256_shuffle_pd(straddle, cur, 0b0101);             // prev3 cur0 cur1 cur2
    }
    static double extract(Vd v, int lane)
    {
        const __m256i pick = _mm256_setr_epi32(2 * lane, 2 * lane + 1, 0, 0, 0, 0, 0, 0);
        return _mm256_cvtsd_f64(_mm256_castps_pd(_mm256_permutevar8x32_ps(_mm256_castpd_ps(v), pick)));
    }
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
    static Vd shiftIn(Vd prev, Vd cur)
    {
        return _mm512_castsi512_pd(_mm512_alignr_epi64(_mm512_castpd_si512(cur), _mm512_castpd_si512(prev), 7));
    }
    static Index loadIndex(const long long *p) { return _mm512_load_si512(p); }
    static double extract(Vd v, int lane) { return _mm512_cvtsd_f64(_mm512_permutexvar_pd(_mm512_set1_epi64(lane), v)); }
    // Lane l of the result is lane index[l] of the 32 lanes of q0..q3.
    static Vd route(Vd q0, Vd q1, Vd q2, Vd q3, Index index)
    {
        const __mmask8 upper = _mm512_cmpge_epi64_mask(index, _mm512_set1_epi64(16));
        return _mm512_mask_blend_pd(upper, _mm512_permutex2var_pd(q0, index, q1),
                                    _mm512_permutex2var_pd(q2, index, q3));
    }
    // Chain 0's sample in lane 0, chain 1's in lane 1.
    static Vd pair(double first, double second) { return _mm512_set_pd(0, 0, 0, 0, 0, 0, second, first); }
};

#else
#error "LINTAQ_VECTOR_ISA must name an instruction set"
#endif

} // namespace lintaq::simd
