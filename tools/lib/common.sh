# Shared by the run and test scripts: Debian packages on demand.

# Installs the named Debian packages that are missing (as root, or through sudo).
ensure_packages() {
    local missing=()
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
            missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing ${missing[*]}"
    local run=()
    if [ "$(id -u)" -ne 0 ]; then
        command -v sudo >/dev/null || { echo "Need root or sudo to install: ${missing[*]}"; return 1; }
        run=(sudo)
    fi
    "${run[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${run[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

kBuildPackages=(build-essential cmake pkg-config libopencv-dev libopencv-contrib-dev libexiv2-dev
  libpng-dev libtiff-dev libwebp-dev libopenjp2-7-dev)
