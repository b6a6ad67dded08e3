#!/usr/bin/env bash
# Builds Tintsmith and runs every test: the unit tests, the end-to-end tests of
# the real program under a private Xvfb display, a syntax-only compile of every
# source file for Windows, and the unit tests again under AddressSanitizer and
# UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/lib/common.sh
ensure_packages "${kBuildPackages[@]}" googletest libgtest-dev xvfb xdotool x11-utils \
    imagemagick g++-mingw-w64-x86-64

jobs=$(nproc)
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
cmake --build build -j"$jobs"

# a display of our own, stopped whatever happens
display=90
while [ -e "/tmp/.X${display}-lock" ] || [ -e "/tmp/.X11-unix/X${display}" ]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 1920x1200x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
trap 'kill "$xvfb_pid" 2>/dev/null || true' EXIT
export DISPLAY=":$display"
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

status=0
ctest --test-dir build --output-on-failure -j"$jobs" || status=1

echo "== Windows syntax check"
tools/check_windows_syntax.sh || status=1

echo "== Unit tests under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DTINTSMITH_SANITIZE=ON -DTINTSMITH_BENCH=OFF >/dev/null
cmake --build build-sanitize -j"$jobs" --target tintsmith_tests
LSAN_OPTIONS=suppressions="$PWD/tools/lsan.supp":print_suppressions=0 ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build-sanitize --output-on-failure -j"$jobs" -L unit || status=1

exit "$status"
