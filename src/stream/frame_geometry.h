// The sizes every stream path is built from: the frame, its hop, the
// resampling histories and the compensation delay ring.
#pragma once

namespace lintaq {

inline constexpr int kSegmentLength = 4096;     // N: the filtered part of a frame
inline constexpr int kHop = kSegmentLength / 2; // H: frames overlap by half, so a new one starts every N/2

// Resampling pairs: an interpolator of 2P taps (two phases of P) and a
// decimator of K taps.
inline constexpr int kLongUpTaps = 278;   // below 45000 Hz: P = 139
inline constexpr int kShortUpTaps = 156;  // 45000..63999 Hz: P = 78
inline constexpr int kLongDownTaps = 22;  // below 45000 Hz
inline constexpr int kShortDownTaps = 20; // 45000..63999 Hz
// Double-rate hosts from this rate up use the short pair and the ring.
inline constexpr int kShortFiltersFrom = 45000;

// Host-rate samples a pair delays a hop by: the interpolator P - 1/2
// double-rate samples, the decimator (K - 1)/2, less the one double-rate
// sample its odd output positions save; halved back to the host rate.
// (P - 1/2 + (K - 1)/2 - 1) / 2 = (2P + K - 4) / 4.
inline constexpr int resamplingDelay(int upTaps, int downTaps)
{
    return (upTaps + downTaps - 4) / 4;
}
static_assert((kLongUpTaps + kLongDownTaps - 4) % 4 == 0 && (kShortUpTaps + kShortDownTaps - 4) % 4 == 0,
              "both pairs delay by a whole number of host-rate samples");

// 74: the delay of the slower pair (278/22). The host-rate path delays its
// output by as much through the ring, so the latency is the same on every
// path and with the oversampling switch either way.
inline constexpr int kRingHostRate = resamplingDelay(kLongUpTaps, kLongDownTaps);
// 31: the 156/20 pair delays by 43; the ring tops that up to 74.
inline constexpr int kRingDoubleRate = kRingHostRate - resamplingDelay(kShortUpTaps, kShortDownTaps);
static_assert(kRingHostRate == 74 && kRingDoubleRate == 31, "the latency hosts have been told");

// 278: the interpolators' history buffer holds a whole long table's worth
// of samples, though the long interpolator keeps only its last P - 1 = 138.
inline constexpr int kUpHistoryLength = kLongUpTaps;
// 22: the decimators keep their last K input samples, the longer K.
inline constexpr int kDownHistoryLength = kLongDownTaps;
// 2010: the ring's allocation as the instance record has always had it.
// Only its first kRingHostRate slots are ever used (both ring sizes share
// them); the rest is room for a longer compensation delay.
inline constexpr int kDelayRingLength = 2010;
static_assert(kDelayRingLength >= kRingHostRate, "the ring holds every slot count in use");

} // namespace lintaq
