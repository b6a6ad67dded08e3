#!/usr/bin/env bash
# Builds Tintsmith, makes the working folder and puts the sample chart photo
# into it where they are missing (never overwriting a file), and starts the
# program, which writes the identity lattice there itself. Its exit code is
# the program's.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/lib/common.sh
ensure_packages "${kBuildPackages[@]}"

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)" --target tintsmith make_lattice working_folder

folder=$(build/working_folder)
mkdir -p "$folder/Photos" "$folder/ccPhotos"
[ -e "$folder/cc.jpg" ] || cp assets/cc.jpg "$folder/cc.jpg"
echo "Working folder: $folder"
echo "The lattice writer, for an original.png elsewhere: $PWD/build/tintsmith-make-lattice"
exec build/tintsmith
