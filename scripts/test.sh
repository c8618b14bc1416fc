#!/usr/bin/env bash
# Sets up, builds and runs every test: the release build and the Python
# package, the Windows DLL under Wine and the 64-bit ARM build under
# qemu-user against the release build's output, then the same C++ suite
# built with AddressSanitizer and UndefinedBehaviorSanitizer, a short
# fuzzing run, and the threaded noise test under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
jobs=$(nproc)

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DLINTAQ_WERROR=ON >/dev/null
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"

# The Python package against the library and tool just built (Debian's
# interpreter, which has the Debian numpy, pytest and hypothesis).
LINTAQ_LIBRARY="$PWD/build/liblintaq.so" LINTAQ_CLI="$PWD/build/tools/lintaq/lintaq" \
  /usr/bin/python3 -m pytest -p no:cacheprovider -q -rs python/tests

# The Windows DLL and the LV2, VST3 and CLAP plugins, cross-built: the DLL's
# export and import tables checked, and the DLL's and the plugins' output
# under Wine compared byte for byte with the Linux build's.
cmake -S . -B build-mingw -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DLINTAQ_WERROR=ON -DLINTAQ_BUILD_PLUGINS=ON \
  -DLINTAQ_LINUX_BUILD_DIR="$PWD/build" >/dev/null
cmake --build build-mingw -j "$jobs"
ctest --test-dir build-mingw -j "$jobs" -V |
  grep -vE '^[0-9]+: (Test command|Working Directory|Environment variables|Test timeout| +WINEPREFIX=)'

# The library and its C++ tests for 64-bit ARM, cross-built and run under
# qemu-user, with the scenario host's output compared byte for byte with
# the x86-64 build's. Emulated, the recovery, block-size and impulse-
# latency tests and the smooth-against-plain comparisons of modes 0 to 2
# take most of the emulated time; they check stream logic shared by every
# processor, and nothing processor-specific that the fast-path, cascade,
# scenario and mode 3 smooth comparisons there do not, so they run
# natively only. So does the scalar kernel set's comparison: processing
# there always takes the NEON set, which is compared with the plain loops
# in every scenario. (The MPFR test is not built there.)
cmake -S . -B build-aarch64 -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake -DLINTAQ_WERROR=ON \
  -DLINTAQ_LINUX_BUILD_DIR="$PWD/build" >/dev/null
cmake --build build-aarch64 -j "$jobs"
ctest --test-dir build-aarch64 --output-on-failure -j "$jobs" \
  -E '^(Recovery\.|BlockSizes\.AnyCut|Latency\.IsFixedByTheMode|Kinds/SideBySide\..*/mode[012]|Scenarios/FastPaths\..*/scalar_)'

# The editor's drawing (DGL, NanoVG) is left out here: its rules and the
# true-response library are built and tested without it, and the screen
# test runs in the plain build only.
sanitize="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLINTAQ_WERROR=ON -DLINTAQ_BUILD_PLUGIN_UI=OFF \
  -DCMAKE_CXX_FLAGS="$sanitize" -DCMAKE_C_FLAGS="$sanitize" \
  -DCMAKE_EXE_LINKER_FLAGS="$sanitize" -DCMAKE_SHARED_LINKER_FLAGS="$sanitize" \
  -DCMAKE_MODULE_LINKER_FLAGS="$sanitize" >/dev/null
cmake --build build-asan -j "$jobs"
ctest --test-dir build-asan --output-on-failure -j "$jobs" -LE no-sanitizer

# The C interface under libFuzzer with hostile arguments, for about a
# minute from the committed seeds (fuzz/run.sh SECONDS runs longer).
bash fuzz/run.sh 60

# Two things run on several threads: the frame noise generator, which
# instances share, and the editor's true-response worker. Their tests run
# once more under ThreadSanitizer (the tools and plugins are configured, for
# the worker's test, but not built).
tsan="-fsanitize=thread -fno-omit-frame-pointer"
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLINTAQ_WERROR=ON \
  -DLINTAQ_BUILD_EXAMPLES=OFF -DLINTAQ_BUILD_TOOLS=ON -DLINTAQ_BUILD_PLUGINS=ON \
  -DCMAKE_CXX_FLAGS="$tsan" -DCMAKE_C_FLAGS="$tsan" \
  -DCMAKE_EXE_LINKER_FLAGS="$tsan" -DCMAKE_SHARED_LINKER_FLAGS="$tsan" >/dev/null
cmake --build build-tsan -j "$jobs" --target test_noise_threads test_true_response
ctest --test-dir build-tsan --output-on-failure -R "^(NoiseThreads|TrueResponseWorker)\\."
