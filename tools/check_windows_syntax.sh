#!/usr/bin/env bash
# Compiles every source file of the Windows build for Windows, syntax only,
# with MinGW-w64 (the POSIX platform files are not part of it): the Windows
# build cannot be linked here, but it must not break unseen.
set -euo pipefail
cd "$(dirname "$0")/.."
compiler=x86_64-w64-mingw32-g++-posix
# libjpeg's, libpng's, zlib's and Exiv2's headers alone, without the rest of the system's own
jpeg=$(mktemp -d)
trap 'rm -rf "$jpeg"' EXIT
ln -s /usr/include/jpeglib.h /usr/include/jmorecfg.h /usr/include/jerror.h \
    "$(dirname "$(find /usr/include -name jconfig.h -print -quit)")/jconfig.h" \
    /usr/include/zlib.h /usr/include/zconf.h /usr/include/libpng16/png.h \
    /usr/include/libpng16/pngconf.h /usr/include/libpng16/pnglibconf.h /usr/include/exiv2 \
    "$jpeg/"
# Debian's Exiv2 is configured with POSIX regex.h, which MinGW lacks (the
# Windows build's own Exiv2 is not): its one type stands in
echo 'typedef struct { int unused; } regex_t;' >"$jpeg/regex.h"
failed=0
for file in src/*/*.cpp src/*/*/*.cpp tools/*.cpp bench/*.cpp; do
    [ -e "$file" ] || continue
    [[ "$file" == *_posix.cpp ]] && continue
    # the formats whose libraries the Windows build lacks
    [[ "$file" == */io/tiff.cpp || "$file" == */io/webp.cpp || "$file" == */io/jpeg2000.cpp ]] &&
        continue
    # the version the build passes in
    "$compiler" -std=c++17 -fsyntax-only -Wall -Isrc -isystem /usr/include/opencv4 \
        -DTINTSMITH_VERSION='"0"' \
        -isystem "$jpeg" "$file" || { echo "FAILED: $file"; failed=1; }
done
[ "$failed" -eq 0 ] && echo "Windows syntax check passed"
exit "$failed"
