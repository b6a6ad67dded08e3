# The Windows build under Wine on the test display: the sample photo run from a
# Documents folder with a non-ASCII name gives LUT files identical to the Linux
# build's; a corrected JPEG keeps its Exif; a cube another program holds open
# is told why; a name the ANSI code page cannot hold arrives with spaces in
# place.
# Needs WINDOWS_EXE (the .exe) beside the end-to-end tests' variables.
source "$E2E_LIB"
: "${WINDOWS_EXE:?path of tintsmith.exe}"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

# the Wine server outlives the program; it is stopped before the sandboxes go
finish() {
    [ -n "${WINEPREFIX:-}" ] && wineserver -k 2>/dev/null
    cleanup
}
trap finish EXIT

# Points the Windows shell's Documents folder at $1, a Windows path.
set_documents() {
    wine reg add 'HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\User Shell Folders' \
        /v Personal /t REG_EXPAND_SZ /d "$1" /f >/dev/null 2>&1 || fail "could not set the Documents folder"
}

# Runs the program to its result window, closes it with a key, and checks exit 0.
run_sample() {
    start_program
    key "$(wait_window "Settings" 180)" Escape
    close_result 240
    wait_exit 120
    expect_status 0
    # the report of the files written, with this system's own paths
    local said
    said=$(tr -d '\r' <"$OUT")
    # (the paths are in the ANSI code page, which need not be valid UTF-8)
    LC_ALL=C grep -q "^Wrote the LUT for your editor: .*cc_LUT.cube$" <<<"$said" ||
        fail "no report of the LUT"
    LC_ALL=C grep -q "^Better: " <<<"$said" || fail "no verdict of the check"
}

echo "case: the Linux build on the sample photo, as the reference"
new_sandbox
seed_inputs
run_sample
reference_work="$WORK"

echo "case: the .exe in a Documents folder named 'Dokumenté' gives the same cc_LUT.png and cube"
new_sandbox
export WINEPREFIX="$SANDBOX/wine"
wineboot -i >/dev/null 2>&1 || fail "Wine could not make its prefix"
documents="$SANDBOX/Dokumenté"
set_documents "Z:${documents//\//\\}"
WORK="$documents/Tintsmith"
mkdir -p "$WORK/Photos" "$WORK/ccPhotos"
seed_inputs
printf '#!/bin/sh\nexec wine "%s"\n' "$WINDOWS_EXE" >"$SANDBOX/tintsmith.sh"
chmod +x "$SANDBOX/tintsmith.sh"
TINTSMITH="$SANDBOX/tintsmith.sh"
run_sample
cmp "$WORK/cc_LUT.cube" "$reference_work/cc_LUT.cube" || fail "the cube differs from the Linux build's"
cmp "$WORK/cc_LUT.png" "$reference_work/cc_LUT.png" || fail "cc_LUT.png differs from the Linux build's"

echo "case: a corrected JPEG keeps its Exif, upright, without its thumbnail"
if command -v exiftool >/dev/null; then
    "$E2E_TOOL" image photo "$SANDBOX/thumb.jpg" || fail "could not make a thumbnail"
    "$E2E_TOOL" image noise "$WORK/Photos/IMG_0001.jpg" || fail "could not make a photo"
    exiftool -q -overwrite_original -Make="Tintsmith Optics" -DateTimeOriginal="2024:05:17 10:11:12" \
        -GPSLatitude=48.8584 -GPSLatitudeRef=N -Orientation#=6 "-ThumbnailImage<=$SANDBOX/thumb.jpg" \
        "$WORK/Photos/IMG_0001.jpg" || fail "exiftool could not write the photo's Exif"
    start_program
    id=$(wait_window "Settings" 180)
    toggle_box "$id" 200 160 on  # "Batch Process Photos"
    key "$id" Escape
    close_result 240
    wait_exit 120
    expect_status 0
    out="$WORK/ccPhotos/IMG_0001.jpg"
    tag() { exiftool -s -s -s -n "-$2" "$1"; }
    [ "$(tag "$out" Make)" = "Tintsmith Optics" ] || fail "the camera's make is lost"
    [ "$(tag "$out" DateTimeOriginal)" = "2024:05:17 10:11:12" ] || fail "the date taken is lost"
    [ "$(tag "$out" GPSLatitude)" = "48.8584" ] || fail "the GPS position is lost"
    [ "$(tag "$out" Orientation)" = "1" ] || fail "the orientation is not upright"
    [ -z "$(tag "$out" ThumbnailImage)" ] || fail "the uncorrected thumbnail is still there"
    rm -f "$WORK/Photos/IMG_0001.jpg" "$out"
else
    echo "  SKIP: exiftool is not installed (libimage-exiftool-perl)"
fi

echo "case: a cube another program holds open is told why, and the older pair is kept"
x86_64-w64-mingw32-gcc -O -o "$SANDBOX/hold_open.exe" "${BASH_SOURCE%/*}/hold_open.c" ||
    fail "could not build the holder"
printf 'older png' >"$WORK/cc_LUT.png"
wine "$SANDBOX/hold_open.exe" "Z:${WORK//\//\\}\\cc_LUT.cube" >"$SANDBOX/held.txt" 2>/dev/null &
holder=$!
deadline=$((SECONDS + 60))
until grep -q held "$SANDBOX/held.txt"; do
    kill -0 "$holder" 2>/dev/null && [ "$SECONDS" -lt "$deadline" ] || fail "the cube was not held open"
    sleep 0.2
done
start_program
key "$(wait_window "Settings" 180)" Escape
close_result 240
wait_exit 120
kill "$holder" 2>/dev/null
expect_status 4
LC_ALL=C grep -q "cc_LUT.cube: Permission denied" <(tr -d '\r' <"$OUT") ||
    fail "the cube held open is not told as such"
[ "$(cat "$WORK/cc_LUT.png")" = "older png" ] || fail "cc_LUT.png was replaced without its cube"

echo "case: a Documents folder named 'Документы' arrives as nine spaces: no such folder, exit 4"
mkdir "$SANDBOX/Документы"  # the shell gives no folder that does not exist
set_documents "Z:${SANDBOX//\//\\}\\Документы"
start_program
wait_exit 120
expect_status 4
# a Windows console line ends in CR LF
said=$(tr -d '\r' <"$OUT")
expected="No Documents folder found: Z:${SANDBOX//\//\\}\\$(printf '%9s') does not exist; Tintsmith works in the folder Tintsmith inside it, so make that folder, with Photos and ccPhotos inside, and put your chart photo there as cc.jpg"
[ "$said" = "$expected" ] || fail "expected the line '$expected'"

echo "PASS"
