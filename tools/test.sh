#!/usr/bin/env bash
# Builds Tintsmith and runs every test: the unit tests, the end-to-end tests of
# the real program under a private Xvfb display (which ctest starts), the
# formatting, a syntax-only compile of every source file for Windows, the
# Windows build under Wine, and the unit tests again under AddressSanitizer and
# UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/lib/common.sh
ensure_packages "${kBuildPackages[@]}" googletest libgtest-dev xvfb xdotool x11-utils \
    imagemagick g++-mingw-w64-x86-64 libx11-dev python3 clang-format
# what the photo tests read metadata with, mount an exFAT card with, and a Turkish locale from;
# the README's ffmpeg commands, run as printed
ensure_packages libimage-exiftool-perl exfatprogs exfat-fuse locales ffmpeg

jobs=$(nproc)
cmake --preset ci
cmake --build build -j"$jobs"

status=0
echo "== Formatting (.clang-format)"
git ls-files -z '*.cpp' '*.hpp' | xargs -0 clang-format --dry-run --Werror || status=1

ctest --test-dir build --output-on-failure -j"$jobs" || status=1

echo "== Windows syntax check"
tools/check_windows_syntax.sh || status=1

echo "== The Windows build, and its .exe under Wine against the Linux build"
ensure_packages wine wine64
windows_start=$SECONDS
if bash tools/build_windows.sh; then
    echo "Windows build: $((SECONDS - windows_start)) s"
    wine_start=$SECONDS
    # a display of its own, stopped whatever happens
    display_file=$(mktemp)
    trap 'bash tests/e2e/display.sh stop "$display_file"' EXIT
    bash tests/e2e/display.sh start "$display_file"
    E2E_DISPLAY_FILE="$display_file" TINTSMITH="$PWD/build/tintsmith" \
        E2E_TOOL="$PWD/build/tests/e2e/e2e_tool" ASSETS="$PWD/assets" \
        E2E_LIB="$PWD/tests/e2e/lib.sh" WINDOWS_EXE="$PWD/build-windows/tintsmith.exe" \
        timeout 900 bash tests/windows/wine_test.sh || status=1
    echo "Wine run: $((SECONDS - wine_start)) s"
else
    status=1
fi

echo "== Unit tests under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake --preset ci-sanitize >/dev/null
cmake --build build-sanitize -j"$jobs"
# the slow unwinder sees through OpenCV's frames, which the suppressions name
LSAN_OPTIONS=suppressions="$PWD/tools/lsan.supp":print_suppressions=0 \
ASAN_OPTIONS=detect_leaks=1:fast_unwind_on_malloc=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build-sanitize --output-on-failure -j"$jobs" -L unit || status=1

exit "$status"
