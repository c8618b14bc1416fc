#!/usr/bin/env bash
# Our stereo plugin beside two open-source LV2 equalisers, LSP Parametric
# Equalizer x16 Stereo and x42 fil4, on one twelve-band curve at 48000 Hz:
# CPU time inside run() per minute of stereo audio, real-time factor and
# reported latency, then each row's measured magnitude response against the
# curve, all from one run of the bench host.
#   bash bench/lv2_host/run_compare.sh [BUILD_DIR] [extra lintaq_lv2_bench options]
# Installs what is missing (the peers too), configures BUILD_DIR (default
# build-bench) with the benchmarks on and builds what the run needs.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-build-bench}
shift || true
bash "$root/scripts/install-deps.sh" --bench
cmake -S "$root" -B "$build" -DLINTAQ_BUILD_BENCH=ON >/dev/null
cmake --build "$build" -j2 --target lintaq-stereo-lv2 lintaq_lv2_bench lintaq_curve_points >/dev/null
bench=$build/bench/lv2_host/lintaq_lv2_bench
curve=$build/bench/lv2_host/lintaq_curve_points
# Our bundle first; the peers from the system folder (not /usr/local, where
# an installed copy of ours could shadow the fresh build).
export LV2_PATH=$(cd "$build" && pwd)/lv2:/usr/lib/lv2

rate=48000
at=31,80,150,1000,6000,10000,18000 # measured response, Hz: 5 Hz apart at least

# The curve, one band a line: type freq gain q (0 peak, 1 low shelf, 2 high
# shelf, 3 high-pass, 4 low-pass). Eight peaks log-spaced from 150 Hz to
# 6 kHz, alternating +3/-3 dB at Q 1; passes and shelves at Q 0.7071.
bands=(
  "3 30 0 0.7071"   "1 80 4 0.7071"
  "0 150 3 1"       "0 254 -3 1"      "0 430 3 1"       "0 728 -3 1"
  "0 1233 3 1"      "0 2088 -3 1"     "0 3536 3 1"      "0 6000 -3 1"
  "2 10000 3 0.7071" "4 18000 0 0.7071"
)
# fil4 has a high-pass, a low-pass, two shelves and four peaks: it gets the
# peaks at 150, 728, 1233 and 6000 Hz (both signs, over the whole range).
fil4_peaks=(2 5 6 9)

lin() { awk -v db="$1" 'BEGIN { printf "%.6f", 10 ^ (db / 20) }'; }

ours=() lsp=() fil4=() fil4_curve=() curve_args=()
for k in "${!bands[@]}"; do
  read -r type freq gain q <<<"${bands[$k]}"
  curve_args+=("$type,$freq,$gain,$q")
  b=band$((k + 1))
  ours+=("${b}_enable=1" "${b}_type=$type" "${b}_freq=$freq" "${b}_gain=$gain" "${b}_q=$q")
  # LSP: a pass is its Linkwitz-Riley x1 at no resonance, the same 24 dB per
  # octave and -6 dB corner as ours at Q 0.7071; bells and shelves are its
  # "APO (DR)" biquads, which take our Q as it is. Gains are linear.
  case $type in
    0) lsp+=("ft_$k=Bell" "fm_$k=APO (DR)" "q_$k=$q" "g_$k=$(lin "$gain")") ;;
    1) lsp+=("ft_$k=Lo-shelf" "fm_$k=APO (DR)" "q_$k=$q" "g_$k=$(lin "$gain")") ;;
    2) lsp+=("ft_$k=Hi-shelf" "fm_$k=APO (DR)" "q_$k=$q" "g_$k=$(lin "$gain")") ;;
    3) lsp+=("ft_$k=Hi-pass" "fm_$k=LRX (BT)" "q_$k=0") ;;
    4) lsp+=("ft_$k=Lo-pass" "fm_$k=LRX (BT)" "q_$k=0") ;;
  esac
  lsp+=("s_$k=x1" "f_$k=$freq")
done
# fil4's passes are gentler than ours and its widths count differently, so
# each takes the value whose measured curve lay closest to our band's at the
# frequencies below (tried one band at a time): high-pass resonance 0.3,
# low-pass 1.4 (its flattest top end at 18 kHz), peak width 0.5 for our Q 1,
# shelf width 1.
fil4=(enable=1 gain=0
  HighPass=1 HPfreq=30 HPQ=0.3 LowPass=1 LPfreq=18000 LPQ=1.4
  LSsec=1 LSfreq=80 LSgain=4 LSq=1 HSsec=1 HSfreq=10000 HSgain=3 HSq=1)
fil4_curve=("${curve_args[0]}" "${curve_args[1]}" "${curve_args[10]}" "${curve_args[11]}")
for s in 1 2 3 4; do
  read -r type freq gain q <<<"${bands[${fil4_peaks[$((s - 1))]}]}"
  fil4+=("sec$s=1" "freq$s=$freq" "gain$s=$gain" "q$s=0.5")
  fil4_curve+=("$type,$freq,$gain,$q")
done

# Targets: the curve as the library draws it, at the host rate and, for the
# 2x rows, at the doubled rate their bands are designed for.
target=$("$curve" --rate $rate --at $at "${curve_args[@]}")
target2x=$("$curve" --rate $rate --oversample --at $at "${curve_args[@]}")
target_fil4=$("$curve" --rate $rate --at $at "${fil4_curve[@]}")

stereo=urn:lintaq:lv2:stereo
lsp_uri=http://lsp-plug.in/plugins/lv2/para_equalizer_x16_stereo
fil4_uri='http://gareus.org/oss/lv2/fil4#stereo'
# Ours with the frame noise on, the costlier setting.
rows=(--target "12 bands" "$target")
for q in 0 1 2 3; do rows+=(--row "lintaq mode $q" $stereo quality=$q oversample=0 noise=1 "${ours[@]}"); done
for m in IIR FIR FFT; do rows+=(--row "LSP x16 $m" $lsp_uri "mode=$m" "${lsp[@]}"); done
rows+=(--target "12 bands 2x" "$target2x")
for q in 0 1 2 3; do rows+=(--row "lintaq mode $q 2x" $stereo quality=$q oversample=1 noise=1 "${ours[@]}"); done
rows+=(--target "fil4's 8 bands" "$target_fil4")
rows+=(--row "x42 fil4 (8 of 12)" "$fil4_uri" "${fil4[@]}")

exec nice "$bench" --rate $rate --block 1024 --measure $at "$@" "${rows[@]}"
