#!/usr/bin/env bash
# Cross-compiles Tintsmith for Windows with MinGW-w64 into one static
# build-windows/tintsmith.exe that needs only the system's DLLs.
#
# OpenCV 4.6 (with the contrib module mcc) and the libraries it needs (zlib,
# libpng, libjpeg-turbo and protobuf for dnn, which mcc needs), and Exiv2 with
# expat for its XMP, are built from
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

# apt-get source needs deb-src entries, and Debian 12 ships only deb ones. The
# machine's own deb entries, each turned into a deb-src one, go into an apt
# configuration inside the cache, with lists of its own, so that the
# machine's package sources stay exactly as they were.
private_apt() {
    local apt=$cache/apt
    mkdir -p "$apt/sources.list.d" "$apt/lists/partial" "$apt/cache/archives/partial"
    : >"$apt/sources.list"
    local file
    # one-line entries: "deb [options] URI suite components"
    for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -f "$file" ] || continue
        sed -n 's/^[[:space:]]*deb[[:space:]]/deb-src /p' "$file" >>"$apt/sources.list"
    done
    # deb822 stanzas whose types name deb, as deb-src
    rm -f "$apt/sources.list.d/"*.sources
    for file in /etc/apt/sources.list.d/*.sources; do
        [ -f "$file" ] || continue
        awk 'BEGIN { RS = ""; ORS = "\n\n" }
             /(^|\n)Types:[^\n]*[[:space:]]deb([[:space:]]|\n|$)/ && !/(^|\n)Enabled:[[:space:]]*no/ {
                 sub(/(^|\n)Types:[^\n]*/, "\nTypes: deb-src"); print }' \
            "$file" >"$apt/sources.list.d/$(basename "$file")"
    done
    cat >"$apt/apt.conf" <<EOF
Dir::Etc::SourceList "$apt/sources.list";
Dir::Etc::SourceParts "$apt/sources.list.d";
Dir::State::Lists "$apt/lists";
Dir::Cache "$apt/cache";
EOF
    APT_CONFIG="$apt/apt.conf" apt-get update -qq
}

ensure_packages build-essential cmake pkg-config dpkg-dev g++-mingw-w64-x86-64-posix \
    gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 nasm protobuf-compiler
# an earlier version of this script added a deb-src entry to the machine's own
# sources; it goes again, as the private configuration takes its place
legacy=/etc/apt/sources.list.d/tintsmith-deb-src.sources
if [ -e "$legacy" ]; then
    echo "Removing $legacy, which an earlier build added"
    as_root rm -f "$legacy"
fi

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
        [ -e "$cache/apt/apt.conf" ] || private_apt >&2
        # a mirror may carry a suite's packages but not its sources (the security
        # suite's, say): the release's own version then serves
        local release
        release=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
        (cd "$cache/sources" && export APT_CONFIG="$cache/apt/apt.conf" &&
            { apt-get source -qq "$package" || apt-get source -qq "$package/$release"; } \
            >/dev/null 2>&1) ||
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

# expat's build lives in a folder of its source; static, so its users say
# XML_STATIC. Without DTDs, which XMP never has (and Debian's patches compare
# XML_DTD with 1, where CMake defines it empty)
source_subfolder=/expat build_library expat expat -DEXPAT_SHARED_LIBS=OFF \
    -DEXPAT_BUILD_TOOLS=OFF -DEXPAT_BUILD_EXAMPLES=OFF -DEXPAT_BUILD_TESTS=OFF \
    -DEXPAT_BUILD_DOCS=OFF -DEXPAT_BUILD_FUZZERS=OFF -DEXPAT_MSVC_STATIC_CRT=OFF -DEXPAT_DTD=OFF

build_library exiv2 exiv2 -DEXIV2_ENABLE_XMP=ON -DEXIV2_ENABLE_PNG=ON -DEXIV2_ENABLE_NLS=OFF \
    -DEXIV2_ENABLE_WEBREADY=OFF -DEXIV2_ENABLE_CURL=OFF -DEXIV2_ENABLE_SSH=OFF \
    -DEXIV2_ENABLE_BMFF=OFF -DEXIV2_ENABLE_VIDEO=OFF -DEXIV2_BUILD_SAMPLES=OFF \
    -DEXIV2_BUILD_EXIV2_COMMAND=OFF -DEXIV2_BUILD_UNIT_TESTS=OFF -DEXIV2_BUILD_DOC=OFF \
    -DCMAKE_C_FLAGS=-DXML_STATIC -DCMAKE_CXX_FLAGS=-DXML_STATIC -DCMAKE_DISABLE_FIND_PACKAGE_Iconv=ON \
    -DEXPAT_LIBRARY="$prefix/lib/libexpat.a" -DEXPAT_INCLUDE_DIR="$prefix/include" \
    -DZLIB_LIBRARY="$prefix/lib/libz.a" -DZLIB_INCLUDE_DIR="$prefix/include"

echo "== tintsmith.exe"
start=$(date +%s)
cmake -S "$checkout" -B "$checkout/build-windows" "${common_flags[@]}" \
    -DOpenCV_DIR="$prefix" -DOpenCV_STATIC=ON -DTINTSMITH_TESTS=OFF -DTINTSMITH_BENCH=OFF \
    -Dexiv2_DIR="$prefix/lib/cmake/exiv2" \
    -DZLIB_LIBRARY="$prefix/lib/libz.a" -DZLIB_INCLUDE_DIR="$prefix/include" \
    -DPNG_LIBRARY="$prefix/lib/libpng16.a" -DPNG_PNG_INCLUDE_DIR="$prefix/include" \
    -DCMAKE_EXE_LINKER_FLAGS="-static -s" >/dev/null
cmake --build "$checkout/build-windows" -j"$jobs" --target tintsmith make_lattice
echo "== tintsmith.exe: done in $(seconds_since "$start") s; everything in $(seconds_since "$total_start") s"
echo "Built $checkout/build-windows/tintsmith.exe"
