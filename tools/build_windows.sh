#!/usr/bin/env bash
# Cross-compiles Tintsmith for Windows with MinGW-w64 into one static
# build-windows/tintsmith.exe that needs only the system's DLLs.
#
# OpenCV 4.6 (with the contrib module mcc) and the libraries it needs (zlib,
# libpng, libjpeg-turbo and protobuf for dnn, which mcc needs) are built from
# Debian's own source packages into a prefix kept outside the checkout, so only
# the first run takes long. The cache is TINTSMITH_WINDOWS_CACHE, else
# $XDG_CACHE_HOME/tintsmith-windows, else ~/.cache/tintsmith-windows.
set -euo pipefail
cd "$(dirname "$0")/.."
checkout=$PWD
source tools/lib/common.sh

cache=${TINTSMITH_WINDOWS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/tintsmith-windows}
prefix=$cache/prefix
jobs=$(nproc)
triplet=x86_64-w64-mingw32

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

seconds_since() { echo $(($(date +%s) - $1)); }

# apt-get source needs a deb-src entry; Debian 12 ships only the deb one.
ensure_source_entry() {
    if grep -rqs '^[^#]*deb-src' /etc/apt/sources.list /etc/apt/sources.list.d/ ||
        grep -rqsE '^Types:.*deb-src' /etc/apt/sources.list.d/; then
        return 0
    fi
    echo "Adding a deb-src entry for bookworm"
    as_root tee /etc/apt/sources.list.d/tintsmith-deb-src.sources >/dev/null <<'EOF'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
    as_root apt-get update -qq
}

ensure_packages build-essential cmake pkg-config dpkg-dev g++-mingw-w64-x86-64-posix \
    gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 nasm protobuf-compiler
ensure_source_entry

mkdir -p "$cache/sources" "$cache/build" "$prefix"
# one build at a time in the cache: a second run waits for the first
exec 9>"$cache/lock"
flock 9

toolchain=$cache/toolchain.cmake
cat >"$toolchain" <<EOF
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER $triplet-gcc-posix)
set(CMAKE_CXX_COMPILER $triplet-g++-posix)
set(CMAKE_RC_COMPILER $triplet-windres)
set(CMAKE_FIND_ROOT_PATH /usr/$triplet $prefix)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
EOF
common_flags=(-G "Unix Makefiles" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release
    -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_PREFIX_PATH="$prefix" -DBUILD_SHARED_LIBS=OFF)

# Fetches and unpacks a Debian source package once; prints its folder.
fetch_source() {
    local package=$1
    local folder
    folder=$(find "$cache/sources" -mindepth 1 -maxdepth 1 -type d -name "$package-*" | head -n 1)
    if [ -z "$folder" ]; then
        (cd "$cache/sources" && apt-get source -qq "$package" >/dev/null 2>&1) ||
            { echo "Could not fetch the Debian source package $package" >&2; return 1; }
        folder=$(find "$cache/sources" -mindepth 1 -maxdepth 1 -type d -name "$package-*" | head -n 1)
    fi
    echo "$folder"
}

# Builds one library into the prefix unless an earlier run did: NAME SOURCE-PACKAGE [cmake flags].
build_library() {
    local name=$1 package=$2
    shift 2
    local stamp="$prefix/.built-$name"
    [ -e "$stamp" ] && return 0
    local start source
    start=$(date +%s)
    echo "== $name: fetching the Debian source package $package"
    source=$(fetch_source "$package")
    echo "== $name: building"
    local build="$cache/build/$name"
    rm -rf "$build"
    local install=(cmake --install "$build") target=()
    if declare -F "install_$name" >/dev/null; then
        install=("install_$name" "$source" "$build")
        target=(--target "${only_target:?}")
    fi
    cmake -S "$source${source_subfolder:-}" -B "$build" "${common_flags[@]}" "$@" >"$cache/$name.log" 2>&1 &&
        cmake --build "$build" -j"$jobs" "${target[@]}" >>"$cache/$name.log" 2>&1 &&
        "${install[@]}" >>"$cache/$name.log" 2>&1 ||
        { echo "Building $name failed; see $cache/$name.log" >&2; return 1; }
    rm -rf "$build"
    touch "$stamp"
    echo "== $name: done in $(seconds_since "$start") s"
}

total_start=$(date +%s)

# Debian's zlib source lacks the DLL's resource file, and only the static
# library is wanted anyway: it is built and installed alone, as libz.a.
install_zlib() {
    mkdir -p "$prefix/lib" "$prefix/include"
    cp "$2/libzlibstatic.a" "$prefix/lib/libz.a"
    cp "$1/zlib.h" "$2/zconf.h" "$prefix/include/"
}
only_target=zlibstatic build_library zlib zlib

build_library libpng libpng1.6 -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF \
    -DPNG_EXECUTABLES=OFF -DZLIB_ROOT="$prefix" -DZLIB_LIBRARY="$prefix/lib/libz.a" \
    -DZLIB_INCLUDE_DIR="$prefix/include"

build_library libjpeg libjpeg-turbo -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_TURBOJPEG=OFF \
    -DWITH_SIMD=ON -DREQUIRE_SIMD=ON -DCMAKE_ASM_NASM_COMPILER=nasm

host_protobuf=$(protoc --version | awk '{print $2}')
protobuf_source=$(fetch_source protobuf)
[ -e "$protobuf_source/CMakeLists.txt" ] || source_subfolder=/cmake
build_library protobuf protobuf -Dprotobuf_BUILD_TESTS=OFF -Dprotobuf_BUILD_PROTOC_BINARIES=OFF \
    -Dprotobuf_BUILD_LIBPROTOC=OFF -Dprotobuf_WITH_ZLIB=OFF -Dprotobuf_BUILD_SHARED_LIBS=OFF \
    -Dprotobuf_MSVC_STATIC_RUNTIME=OFF -Dprotobuf_BUILD_EXAMPLES=OFF
unset source_subfolder
echo "   (protobuf's generated files are made with the host protoc $host_protobuf)"

opencv_source=$(fetch_source opencv)
build_library opencv opencv \
    -DOPENCV_EXTRA_MODULES_PATH="$opencv_source/contrib/modules" \
    -DBUILD_LIST=core,imgproc,imgcodecs,videoio,highgui,dnn,flann,features2d,calib3d,mcc \
    -DBUILD_TESTS=OFF -DBUILD_PERF_TESTS=OFF -DBUILD_EXAMPLES=OFF -DBUILD_DOCS=OFF \
    -DBUILD_opencv_apps=OFF -DBUILD_JAVA=OFF -DBUILD_opencv_python2=OFF \
    -DBUILD_opencv_python3=OFF -DINSTALL_CREATE_DISTRIB=OFF \
    -DBUILD_ZLIB=OFF -DBUILD_PNG=OFF -DBUILD_JPEG=OFF -DBUILD_TIFF=OFF -DBUILD_WEBP=OFF \
    -DBUILD_OPENJPEG=OFF -DBUILD_JASPER=OFF -DBUILD_OPENEXR=OFF -DBUILD_PROTOBUF=OFF \
    -DBUILD_ITT=OFF -DBUILD_IPP_IW=OFF \
    -DWITH_PNG=ON -DWITH_JPEG=ON -DWITH_TIFF=OFF -DWITH_WEBP=OFF -DWITH_OPENJPEG=OFF \
    -DWITH_JASPER=OFF -DWITH_OPENEXR=OFF -DWITH_IMGCODEC_HDR=ON -DWITH_IMGCODEC_SUNRASTER=OFF \
    -DWITH_IMGCODEC_PXM=ON -DWITH_IMGCODEC_PFM=OFF -DWITH_QUIRC=OFF -DWITH_ADE=OFF \
    -DWITH_IPP=OFF -DWITH_ITT=OFF -DWITH_OPENCL=OFF -DWITH_EIGEN=OFF -DWITH_LAPACK=OFF \
    -DWITH_FFMPEG=OFF -DWITH_GSTREAMER=OFF -DWITH_MSMF=OFF -DWITH_DSHOW=ON -DWITH_OBSENSOR=OFF \
    -DWITH_VTK=OFF -DWITH_QT=OFF -DWITH_GTK=OFF -DWITH_WIN32UI=ON -DWITH_OPENGL=OFF \
    -DWITH_1394=OFF -DWITH_PROTOBUF=ON -DPROTOBUF_UPDATE_FILES=ON \
    -DProtobuf_PROTOC_EXECUTABLE="$(command -v protoc)" \
    -DWITH_PTHREADS_PF=ON -DHAVE_PTHREAD=ON \
    -DZLIB_LIBRARY="$prefix/lib/libz.a" -DZLIB_INCLUDE_DIR="$prefix/include" \
    -DPNG_LIBRARY="$prefix/lib/libpng16.a" -DPNG_PNG_INCLUDE_DIR="$prefix/include" \
    -DJPEG_LIBRARY="$prefix/lib/libjpeg.a" -DJPEG_INCLUDE_DIR="$prefix/include"

echo "== tintsmith.exe"
start=$(date +%s)
cmake -S "$checkout" -B "$checkout/build-windows" "${common_flags[@]}" \
    -DOpenCV_DIR="$prefix" -DOpenCV_STATIC=ON -DTINTSMITH_TESTS=OFF -DTINTSMITH_BENCH=OFF \
    -DZLIB_LIBRARY="$prefix/lib/libz.a" -DZLIB_INCLUDE_DIR="$prefix/include" \
    -DCMAKE_EXE_LINKER_FLAGS="-static -s" >/dev/null
cmake --build "$checkout/build-windows" -j"$jobs" --target tintsmith make_lattice
echo "== tintsmith.exe: done in $(seconds_since "$start") s; everything in $(seconds_since "$total_start") s"
echo "Built $checkout/build-windows/tintsmith.exe"
