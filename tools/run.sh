#!/usr/bin/env bash
# Builds Tintsmith, puts the sample chart photo and the identity lattice into
# the working folder where they are missing (never overwriting a file), and
# starts the program. Its exit code is the program's.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/lib/common.sh
ensure_packages "${kBuildPackages[@]}"

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)" --target tintsmith make_lattice working_folder

folder=$(build/working_folder)
mkdir -p "$folder/Photos" "$folder/ccPhotos"
[ -e "$folder/cc.jpg" ] || cp assets/cc.jpg "$folder/cc.jpg"
[ -e "$folder/original.png" ] || build/tintsmith-make-lattice "$folder/original.png"
echo "Working folder: $folder"
exec build/tintsmith
