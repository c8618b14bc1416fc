#include "design/fade_window.h"

#include "maths/elementary.h"

namespace lintaq {

void makeFadeWindow(float *window, int n)
{
    const double step = maths::kPi / n;
    // A running phase rather than i*step: the window's exact values depend on it.
    double phase = step * 0.5;
    for (int i = 0; i < n; ++i) {
        window[i] = static_cast<float>((1.0 - maths::cos(phase)) * 0.5);
        phase += step;
    }
}

void addWindowed(float *acc, const float *frame, const float *window, int n)
{
    const int last = 2 * n - 1;
    for (int i = 0; i < n; ++i) {
        const float w = window[i];
        acc[i] += frame[i] * w;
        acc[last - i] += frame[last - i] * w;
    }
}

} // namespace lintaq
