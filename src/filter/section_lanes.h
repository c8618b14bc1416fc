// The two sections of section_kernels.h, one sample in every lane of a
// vector at once. Each lane performs the scalar kernel's operations in the
// scalar kernel's order, with the same float roundings, so a lane's
// results are those of the scalar kernel bit for bit.
#pragma once

namespace lintaq::simd {
namespace { // instantiated with each instruction set's own Ops

// Peak: s0, s1 as in PeakKernel; c the allpass coefficient, d = -cos(w0),
// h = (V - 1) / 2. xf is the input sample, x the same widened.
template <class Ops>
[[gnu::always_inline]] inline typename Ops::Vf peakLanes(typename Ops::Vf xf, typename Ops::Vd x,
                                                        typename Ops::Vd &s0, typename Ops::Vd &s1,
                                                        typename Ops::Vd c, typename Ops::Vd d,
                                                        typename Ops::Vd h)
{
    using V = typename Ops::Vd;
    const V u = Ops::add(x, Ops::mul(c, s1));
    const V v = Ops::sub(u, Ops::mul(d, s0));
    const V a = Ops::sub(s1, Ops::mul(c, u));
    const typename Ops::Vf e = Ops::toFloat(Ops::mul(h, Ops::sub(x, a)));
    s1 = Ops::add(Ops::mul(d, v), s0);
    s0 = v;
    return Ops::addFloat(xf, e);
}

// Direct-form-II biquad: w1, w2 as in BiquadKernel, feedback stored negated.
template <class Ops>
[[gnu::always_inline]] inline typename Ops::Vf
biquadLanes(typename Ops::Vd x, typename Ops::Vd &w1, typename Ops::Vd &w2, typename Ops::Vd fb1,
            typename Ops::Vd fb2, typename Ops::Vd ff0, typename Ops::Vd ff1, typename Ops::Vd ff2)
{
    using V = typename Ops::Vd;
    const V w = Ops::add(Ops::add(Ops::mul(fb2, w2), Ops::mul(fb1, w1)), x);
    const V y = Ops::add(Ops::add(Ops::mul(ff0, w), Ops::mul(ff1, w1)), Ops::mul(ff2, w2));
    w2 = w1;
    w1 = w;
    return Ops::toFloat(y);
}

} // namespace
} // namespace lintaq::simd
