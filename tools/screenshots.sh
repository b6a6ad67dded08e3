#!/usr/bin/env bash
# Remakes the README's pictures: the Settings window as it opens, the result
# window on the sample chart photo (a classic ColorChecker, so its box is
# ticked) and the LUT check picture of that run, from the real program under a
# private Xvfb display in a sandbox HOME.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/lib/common.sh
ensure_packages "${kBuildPackages[@]}" xvfb xdotool x11-utils imagemagick
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)" --target tintsmith make_lattice

display=90
while [ -e "/tmp/.X${display}-lock" ]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 1920x1200x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
sandbox=$(mktemp -d)
pid=""
trap 'kill $xvfb 2>/dev/null; [ -n "$pid" ] && kill -9 $pid 2>/dev/null; rm -rf "$sandbox"' EXIT
export DISPLAY=":$display" HOME="$sandbox"
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

work="$HOME/Documents/Tintsmith"
mkdir -p "$work/Photos" "$work/ccPhotos"
cp assets/cc.jpg "$work/cc.jpg"
build/tintsmith-make-lattice "$work/original.png"

window() {  # waits up to 60 s for our window titled exactly $1
    for _ in $(seq 300); do
        id=$(xdotool search --onlyvisible --pid "$pid" --name "^${1//|/\\|}\$" 2>/dev/null | head -n 1)
        [ -n "$id" ] && { sleep 0.5; echo "$id"; return; }
        sleep 0.2
    done
    echo "window '$1' did not appear" >&2
    exit 1
}

mkdir -p docs
xdotool mousemove 1900 1150
build/tintsmith >/dev/null 2>&1 &
pid=$!
id=$(window "Settings")
import -window "$id" docs/settings.png
# "Classic ColorChecker (X-Rite, Passport, Macbeth)", waited for until the
# window shows its check mark
xdotool mousemove --window "$id" 205 50 click 1
for _ in $(seq 100); do
    import -window "$id" "$sandbox/settings.png"
    [ "$(convert "$sandbox/settings.png" -format '%[fx:int(255*p{207,52}.b)]' info:)" = 255 ] && break
    sleep 0.1
done
xdotool windowfocus --sync "$id"; xdotool key Escape
id=$(window "Image and areas used to create LUTs | Press any key to exit")
import -window "$id" -resize 50% -quality 85 docs/result.jpg
xdotool windowfocus --sync "$id"; xdotool key space
wait "$pid"
pid=""
convert "$work/cc_LUT_check.png" -quality 90 docs/lut_check.jpg
echo "wrote docs/settings.png, docs/result.jpg and docs/lut_check.jpg"
