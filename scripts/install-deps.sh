#!/usr/bin/env bash
# Installs what building and testing Lintaq needs on Debian 12. Safe to run
# again: apt-get skips what is already there.
set -euo pipefail
packages=(
  build-essential cmake pkg-config
  libgtest-dev libbenchmark-dev
  libsndfile1-dev nlohmann-json3-dev librsvg2-bin
  lv2-dev lilv-utils lv2file liblilv-dev sordi dpf-source
  python3 python3-numpy python3-pytest python3-hypothesis python3-soundfile
  python3-matplotlib python3-venv python3-setuptools python3-pip python3-wheel mypy
  python3-dask python3-distributed libcli11-dev
  libmpfr-dev
  g++-mingw-w64-x86-64-posix mingw-w64-tools wine wine64
  g++-aarch64-linux-gnu qemu-user googletest
  clang libclang-rt-14-dev libfuzzer-14-dev
  libgl-dev libx11-dev libxext-dev libxrandr-dev libxcursor-dev
  xvfb xdotool imagemagick x11-apps
)
# With --bench, also the peer LV2 equalisers that bench/lv2_host/run_compare.sh
# measures beside ours; the tests never need them.
bench_packages=(lsp-plugins-lv2 x42-plugins)
case "${1:-}" in
  "") ;;
  --bench) packages+=("${bench_packages[@]}") ;;
  *) echo "usage: $0 [--bench]" >&2; exit 2 ;;
esac
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
