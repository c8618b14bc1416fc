// The vector kernels for AArch64's Advanced SIMD (NEON, present on every
// AArch64 processor): the vector operations the lane kernels are written
// over, then the kernels themselves and their record. Every operation is
// the IEEE operation of its scalar counterpart lane by lane. AArch64 has
// fused multiply-add instructions: none is used here (vmulq_f64 then
// vaddq_f64, never vfmaq), and -ffp-contract=off keeps the compiler from
// fusing them itself.
#include <arm_neon.h>

namespace lintaq::simd {
// Internal linkage, as for every set's Ops.
namespace {

struct Ops {
    static bool available() { return true; }
    using Vd = float64x2_t; // doubles: one lane per recursion
    using Vf = float32x2_t; // the same lanes as floats
    using Mask = uint64x2_t;
    static constexpr int width = 2;
    static constexpr bool permutes = false; // lanes pass results on by shifting
    using Index = int;

    static Vd load(const double *p) { return vld1q_f64(p); }
    static void store(double *p, Vd v) { vst1q_f64(p, v); }
    static Vd set1(double x) { return vdupq_n_f64(x); }
    static Vd add(Vd a, Vd b) { return vaddq_f64(a, b); }
    static Vd sub(Vd a, Vd b) { return vsubq_f64(a, b); }
    static Vd mul(Vd a, Vd b) { return vmulq_f64(a, b); }
    static Vf toFloat(Vd v) { return vcvt_f32_f64(v); } // rounds to nearest, as a scalar cast does
    static Vd toDouble(Vf v) { return vcvt_f64_f32(v); }
    static Vf addFloat(Vf a, Vf b) { return vadd_f32(a, b); }
    static Mask lessEqual(Vd a, Vd b) { return vcleq_f64(a, b); }
    // a where the mask is set, b elsewhere
    static Vd select(Mask m, Vd a, Vd b) { return vbslq_f64(m, a, b); }
    static Vf selectFloat(Mask m, Vf a, Vf b) { return vbsl_f32(vmovn_u64(m), a, b); } // 64-bit masks to 32
    static Vf set1Float(float x) { return vdup_n_f32(x); }
    // [prev[1], cur[0]]: one step down the lanes
    static Vf shiftIn(Vf prev, Vf cur) { return vext_f32(prev, cur, 1); }
    // two steps down: all of prev
    static Vf shiftInTwo(Vf prev, Vf) { return prev; }
    static Vf pairAtTop(float first, float second) { return vset_lane_f32(second, vdup_n_f32(first), 1); }
    static float extract(Vf v, int lane) { return lane == 0 ? vget_lane_f32(v, 0) : vget_lane_f32(v, 1); }
    // two consecutive floats, widened; two floats two apart, widened
    static Vd loadWiden(const float *p) { return vcvt_f64_f32(vld1_f32(p)); }
    static Vd loadWidenEveryOther(const float *p) { return vcvt_f64_f32(vld1_lane_f32(p + 2, vld1_dup_f32(p), 1)); }
    // Rounds both to float and stores them interleaved: even[0], odd[0], ...
    static void storeInterleaved(float *p, Vd even, Vd odd)
    {
        vst2_f32(p, float32x2x2_t{{vcvt_f32_f64(even), vcvt_f32_f64(odd)}});
    }
    static void storeNarrow(float *p, Vd v) { vst1_f32(p, vcvt_f32_f64(v)); }
};

} // namespace
} // namespace lintaq::simd

#define LINTAQ_VECTOR_SET neon
#include "stream/kernels_entry.h"
