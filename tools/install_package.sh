#!/usr/bin/env bash
# Builds Tintsmith's Debian package and installs it with its dependencies:
# the program and tintsmith-make-lattice in /usr/bin, a menu entry under
# Graphics, and the sample chart photo in /usr/share/tintsmith.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/lib/common.sh
ensure_packages "${kBuildPackages[@]}" dpkg-dev

cmake -S . -B build-package -DCMAKE_BUILD_TYPE=Release -DTINTSMITH_TESTS=OFF \
    -DTINTSMITH_BENCH=OFF >/dev/null
cmake --build build-package -j"$(nproc)"
(cd build-package && cpack -G DEB >/dev/null)
package=$(ls build-package/tintsmith_*.deb)
run=()
[ "$(id -u)" -eq 0 ] || run=(sudo)
DEBIAN_FRONTEND=noninteractive "${run[@]}" apt-get install -y -qq "$PWD/$package"
echo "Installed $package: start Tintsmith from the menu or type tintsmith"
