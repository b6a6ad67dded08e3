# Every bad input a user can drop into the working folder ends in a defined
# exit code and a clear line, never loses or truncates a file, and never
# changes an input. One case a row: set-up, exit code, a line the console must
# hold, and what must be true of the files afterwards.
source "$E2E_LIB"

result_title="Image and areas used to create LUTs | Press any key to exit"

# Starts the program as start_program does, with the standard streams STREAMS
# names ("closed": all three closed; "pipe-closed": standard output a pipe
# whose reader has gone before the first line) and a file-size limit of
# LIMIT_KIB KiB when set.
start_run() {
    xdotool mousemove 1900 1150
    (
        cd "$SANDBOX" || exit 1
        if [ -n "$LIMIT_KIB" ]; then ulimit -f "$LIMIT_KIB"; fi
        case "$STREAMS" in
            closed) exec "$TINTSMITH" <&- >&- 2>&- ;;
            pipe-closed)
                # read-write first, so that opening the writing end does not
                # wait for a reader; then the only reader goes
                mkfifo "$SANDBOX/stdout.pipe"
                exec 3<>"$SANDBOX/stdout.pipe" 4>"$SANDBOX/stdout.pipe"
                exec 3<&-
                exec "$TINTSMITH" >&4 4>&- 2>"$ERR" ;;
            *) exec "$TINTSMITH" >"$OUT" 2>"$ERR" ;;
        esac
    ) &
    PID=$!
}

# Runs the program through the Settings window (ticking "Batch Process Photos"
# when $1 is "batch") to its end, pressing a key in the result window if one
# appears. With $1 "wmclose" the Settings window is closed by the window
# manager's message, and with "resultclose" the result window is; with
# "noresult" a result window fails the case (a run that wrote nothing). With
# $1 "direct" no window is expected: the program runs with the environment
# changes in RUN_ENV and the arguments in RUN_ARGS. With "second" a second run
# starts while the first waits in its Settings window (STATUS and OUT are the
# second's; the first is then killed); with "displaylost" the program's own
# display is stopped there. Sets STATUS.
run_to_end() {
    if [ "${1:-}" = second ]; then
        OUT="$SANDBOX/first.txt" start_run
        wait_window "Settings" >/dev/null
        (cd "$SANDBOX" && exec timeout 60 "$TINTSMITH" >"$OUT" 2>"$ERR")
        STATUS=$?
        kill -9 "$PID"; wait "$PID" 2>/dev/null; PID=""
        flock -n "$WORK" true || fail "the killed run's lock outlived it"
        return
    fi
    if [ "${1:-}" = displaylost ]; then
        local outer=$DISPLAY number
        OWN_DISPLAY="$SANDBOX/display"
        bash "$DISPLAY_SCRIPT" start "$OWN_DISPLAY" >/dev/null || fail "no display of its own"
        read -r number _ <"$OWN_DISPLAY"
        export DISPLAY=":$number"
        start_run
        wait_window "Settings" >/dev/null
        bash "$DISPLAY_SCRIPT" stop "$OWN_DISPLAY"
        export DISPLAY=$outer
        wait_exit 60
        return
    fi
    if [ "${1:-}" = direct ]; then
        (cd "$SANDBOX" && exec env "${RUN_ENV[@]}" "$TINTSMITH" "${RUN_ARGS[@]}" >"$OUT" 2>"$ERR") &
        PID=$!
        wait_exit 60
        return
    fi
    start_run
    local id
    id=$(wait_window "Settings")
    if [ "${1:-}" = batch ]; then toggle_box "$id" 200 160 on; fi
    [ "${1:-}" = wmclose ] || tick_classic "$id"
    if [ "${1:-}" = wmclose ]; then "$WM_CLOSE" "$id" || fail "could not send WM_DELETE_WINDOW"
    else key "$id" Escape; fi
    local deadline=$((SECONDS + 240))
    while kill -0 "$PID" 2>/dev/null; do
        [ "$SECONDS" -lt "$deadline" ] || fail "program did not end"
        if has_window "$result_title"; then
            [ "${1:-}" = noresult ] && fail "a result window, although nothing was written"
            if [ "${1:-}" = resultclose ]; then
                id=$(wait_window "$result_title")
                "$WM_CLOSE" "$id" || fail "could not send WM_DELETE_WINDOW"
            else
                close_result
            fi
            break
        fi
        sleep 0.3
    done
    wait_exit 60
}

# A PNG of $2 x $3 pixels of one colour, written by hand (no image library).
make_png() {
    python3 - "$@" <<'PY'
import struct, sys, zlib
path, width, height = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
header_only = len(sys.argv) > 4
def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
if not header_only:
    row = b"\x00" + bytes([40, 140, 220]) * width
    png += chunk(b"IDAT", zlib.compress(row * height, 9))
png += chunk(b"IEND", b"")
open(path, "wb").write(png)
PY
}

# The first $2 per cent of file $1's bytes into $3.
cut_file() { head -c $(($(stat -c %s "$1") * $2 / 100)) "$1" >"$3"; }

# A process id that has ended, as a killed run leaves behind.
dead_pid() { sh -c 'exit 0' & wait $!; echo $!; }

MOUNTS=()
# The working folder, Photos and ccPhotos inside, on a tmpfs of 2 MB; else SKIP set.
mount_small_work() {
    if [ "$(id -u)" -ne 0 ] || ! mount -t tmpfs -o size=2m tmpfs "$WORK" 2>/dev/null; then
        SKIP="mounting a small tmpfs needs root and a system that allows it"
        return 1
    fi
    MOUNTS+=("$WORK")
    mkdir -p "$WORK/Photos" "$WORK/ccPhotos"
}
unmount_all() { for mount in "${MOUNTS[@]}"; do umount "$mount" 2>/dev/null; done; MOUNTS=(); }
DISPLAY_SCRIPT="$(dirname "$E2E_LIB")/display.sh" OWN_DISPLAY=""
trap 'unmount_all; [ -z "$OWN_DISPLAY" ] || bash "$DISPLAY_SCRIPT" stop "$OWN_DISPLAY"; cleanup' EXIT

# the inputs, but one the case expects the run to make (HASH_SKIP)
hash_inputs() { (cd "$WORK" 2>/dev/null && find . -path ./ccPhotos -prune -o -type f ! -name 'cc_LUT.*' ! -name 'cc_LUT_check.*' ! -name '.tintsmith-*' ! -name "${HASH_SKIP:-/}" -print0 | sort -z | xargs -0 -r sha256sum); }
older_outputs() { printf 'older png' >"$WORK/cc_LUT.png"; printf 'older cube' >"$WORK/cc_LUT.cube"; }
expect_older_outputs() {
    [ "$(cat "$WORK/cc_LUT.png")" = "older png" ] || fail "cc_LUT.png was changed"
    [ "$(cat "$WORK/cc_LUT.cube")" = "older cube" ] || fail "cc_LUT.cube was changed"
}
expect_luts() {
    "$E2E_TOOL" cube-matches "$WORK/cc_LUT.cube" "$WORK/cc_LUT.png" >/dev/null || fail "LUT files not written whole"
}
expect_no_temporaries() {
    local left
    left=$(find "$WORK" -name '.tintsmith-*' -o -name '*.tmp[0-9]*' 2>/dev/null)
    [ -z "$left" ] || fail "temporary files left: $left"
    return 0
}

# --- the cases: set-up | expected exit | line | checks ------------------------
setup_cc_missing() { "$E2E_TOOL" lattice "$WORK/original.png"; older_outputs; }
check_cc_missing() { expect_older_outputs; }
setup_cc_empty() { setup_cc_missing; : >"$WORK/cc.jpg"; }
check_cc_empty() { expect_older_outputs; }
setup_cc_truncated() { setup_cc_missing; head -c 40000 "$ASSETS/cc.jpg" >"$WORK/cc.jpg"; }
check_cc_truncated() { expect_older_outputs; }
setup_cc_folder() { setup_cc_missing; mkdir "$WORK/cc.jpg"; }
check_cc_folder() { expect_older_outputs; }
setup_cc_tiny() { setup_cc_missing; "$E2E_TOOL" image tiny "$WORK/cc.png" && mv "$WORK/cc.png" "$WORK/cc.jpg"; }
check_cc_tiny() { expect_older_outputs; }
setup_cc_grey() { seed_inputs; "$E2E_TOOL" from-chart grey "$ASSETS/cc.jpg" "$WORK/cc.jpg"; }
check_cc_grey() { expect_luts; }
setup_cc_deep() { seed_inputs; "$E2E_TOOL" from-chart deep "$ASSETS/cc.jpg" "$WORK/cc.png" && mv "$WORK/cc.png" "$WORK/cc.jpg"; }
check_cc_deep() { expect_luts; }
setup_cc_huge() { seed_inputs; "$E2E_TOOL" from-chart huge "$ASSETS/cc.jpg" "$WORK/cc.jpg"; }
# a missing lattice is made, the same bytes as the lattice writer's, and used
setup_lattice_missing() { cp "$ASSETS/cc.jpg" "$WORK/cc.jpg"; older_outputs; HASH_SKIP=original.png; }
check_lattice_missing() {
    expect_luts
    "$E2E_TOOL" lattice "$SANDBOX/l.png" && cmp -s "$WORK/original.png" "$SANDBOX/l.png" || fail "not the lattice writer's file"
}
# a lattice that cannot be made ends the run before the Settings window
setup_lattice_unwritable() {
    mount_small_work || return
    cp "$ASSETS/cc.jpg" "$WORK/cc.jpg"
    mount -o remount,ro "$WORK" || SKIP="the tmpfs cannot be made read-only"
}
check_lattice_unwritable() { expect_no_file "$WORK/original.png"; unmount_all; }
setup_lattice_damaged() { setup_lattice_missing; printf 'not a png' >"$WORK/original.png"; HASH_SKIP=""; }
check_lattice_damaged() { expect_older_outputs; expect_stdout_has "delete it, and Tintsmith makes it anew"; }
# a chart 120 pixels wide on the pavement of a 12-megapixel scene: the first
# look misses it, the further search finds it and the run goes on as usual
setup_cc_far() { seed_inputs; "$E2E_TOOL" from-chart far "$ASSETS/cc.jpg" "$WORK/cc.jpg"; }
check_cc_far() { expect_luts; }
# the same scene without the chart: the search ends with nothing written
setup_cc_no_chart() { setup_cc_missing; "$E2E_TOOL" from-chart none "$ASSETS/cc.jpg" "$WORK/cc.jpg"; }
check_cc_no_chart() {
    expect_older_outputs
    [ ! -e "$WORK/cc_LUT_check.png" ] && [ ! -e "$WORK/cc_LUT_check.csv" ] || fail "a check file was written"
}
setup_lattice_small() { seed_inputs; "$E2E_TOOL" image small-lattice "$WORK/original.png"; older_outputs; }
# regression: the PNG followed a lattice of another size beside the older cube
check_lattice_small() { expect_older_outputs; }
# a lattice that is not the identity (grey, resaved as JPEG): neither LUT file
# is written from it
setup_lattice_grey() { seed_inputs; "$E2E_TOOL" lattice "$SANDBOX/l.png"; "$E2E_TOOL" from-chart grey "$SANDBOX/l.png" "$WORK/original.png"; older_outputs; }
check_lattice_grey() {
    expect_older_outputs
    grep -qF "tintsmith-make-lattice \"$WORK/original.png\"" "$OUT" || fail "the lattice writer's command is not given"
}
setup_lattice_jpeg() { seed_inputs; "$E2E_TOOL" lattice "$SANDBOX/l.png"; convert "$SANDBOX/l.png" -quality 95 "$SANDBOX/l.jpg" && mv "$SANDBOX/l.jpg" "$WORK/original.png"; older_outputs; }
check_lattice_jpeg() { check_lattice_grey; }
# the LUT files are a pair: when one cannot be replaced, the other stays as it was
setup_png_blocked() { seed_inputs; mkdir "$WORK/cc_LUT.png"; printf 'older cube' >"$WORK/cc_LUT.cube"; }
check_png_blocked() {
    [ -d "$WORK/cc_LUT.png" ] || fail "the folder was replaced"
    [ "$(cat "$WORK/cc_LUT.cube")" = "older cube" ] || fail "a new cube beside the old PNG"
}
setup_cube_blocked() { seed_inputs; mkdir "$WORK/cc_LUT.cube"; printf 'older png' >"$WORK/cc_LUT.png"; }
check_cube_blocked() {
    [ -d "$WORK/cc_LUT.cube" ] || fail "the folder was replaced"
    [ "$(cat "$WORK/cc_LUT.png")" = "older png" ] || fail "a new PNG beside the old cube"
}
setup_check_blocked() { seed_inputs; mkdir "$WORK/cc_LUT_check.png"; }
check_check_blocked() { expect_luts; [ -d "$WORK/cc_LUT_check.png" ] || fail "the folder was replaced"; [ -s "$WORK/cc_LUT_check.csv" ] || fail "no csv"; }
setup_photos_stray() {
    seed_inputs
    : >"$WORK/Photos/zero.jpg"
    head -c 20000 /dev/urandom >"$WORK/Photos/random.jpg"
    "$E2E_TOOL" image photo "$WORK/Photos/Hochzeit am Strand é.png"
}
check_photos_stray() {
    expect_luts
    [ -s "$WORK/ccPhotos/Hochzeit am Strand é.png" ] || fail "the good photo was not corrected"
    grep -qF "zero.jpg" "$OUT" && grep -qF "random.jpg" "$OUT" || fail "skipped files not named"
    [ "$(ls "$WORK/ccPhotos" | wc -l)" -eq 1 ] || fail "ccPhotos holds more than the good photo"
}
# a folder the batch cannot write into or list: one line for it, none per photo
setup_ccphotos_missing() {
    seed_inputs
    "$E2E_TOOL" image photo "$WORK/Photos/a.png"
    "$E2E_TOOL" image photo "$WORK/Photos/b.png"
    rmdir "$WORK/ccPhotos"
}
check_ccphotos_missing() {
    expect_luts
    [ ! -e "$WORK/ccPhotos" ] && [ "$(grep -c "ccPhotos" "$OUT")" -eq 1 ] || fail "ccPhotos made, or not told once"
    expect_stdout_has "Batch: 0 corrected, 0 skipped, 2 failed; no photo was corrected"
}
setup_photos_missing() { seed_inputs; rmdir "$WORK/Photos"; }
check_photos_missing() { expect_luts; expect_stdout_has "Batch: 0 corrected, 0 skipped, 1 failed; no photo was corrected"; }

# a chart photo cut short: every cut is refused, the LUT files kept
for cut in 10 30 70 99; do
    eval "setup_cc_cut$cut() { setup_cc_missing; cut_file \"\$ASSETS/cc.jpg\" $cut \"\$WORK/cc.jpg\"; }"
    eval "check_cc_cut$cut() { expect_older_outputs; }"
done
setup_cc_png_cut() {
    setup_cc_missing
    "$E2E_TOOL" from-chart grey "$ASSETS/cc.jpg" "$SANDBOX/cc.png"
    cut_file "$SANDBOX/cc.png" 99 "$WORK/cc.jpg"
}
check_cc_png_cut() { expect_older_outputs; }
# 30000 x 30000 in a header: refused before a byte is decoded
setup_cc_oversize() { setup_cc_missing; make_png "$WORK/cc.jpg" 30000 30000 header-only; }
check_cc_oversize() { expect_older_outputs; }
setup_cc_fifo() { setup_cc_missing; mkfifo "$WORK/cc.jpg"; }
check_cc_fifo() { expect_older_outputs; [ -p "$WORK/cc.jpg" ] || fail "the pipe was replaced"; }
setup_lattice_large() { seed_inputs; make_png "$WORK/original.png" 600 600; older_outputs; }
check_lattice_large() { expect_older_outputs; }
# the disk fills while the cube is written: the new PNG must not stay beside the old cube
setup_disk_full() {
    mount_small_work || return
    seed_inputs
    older_outputs
}
check_disk_full() { expect_older_outputs; unmount_all; }
# names that fit, hold a backslash or pattern characters, or lead elsewhere;
# entries that are not photos or not regular files: none stops the batch
setup_photos_names() {
    seed_inputs
    make_png "$WORK/Photos/y.png" 30 20
    make_png "$WORK/Photos/x\\y.png" 40 10
    make_png "$WORK/Photos/[ab]*?.png" 50 10
    make_png "$WORK/Photos/$(printf 'n%.0s' $(seq 251)).png" 60 10
    make_png "$SANDBOX/elsewhere.png" 70 10
    ln -s "$SANDBOX/elsewhere.png" "$WORK/Photos/link.png"
    ln -s "$SANDBOX/gone.png" "$WORK/Photos/dangling.png"
    mkfifo "$WORK/Photos/pipe.jpg"
    printf 'notes' >"$WORK/Photos/notes.txt"
    mkdir "$WORK/Photos/sub"
    make_png "$WORK/Photos/sub/deeper.png" 10 10
}
check_photos_names() {
    expect_luts
    local name width
    for name in "y.png:30" "x\\y.png:40" "[ab]*?.png:50" "$(printf 'n%.0s' $(seq 251)).png:60" "link.png:70"; do
        width=${name##*:}
        name=${name%:*}
        "$E2E_TOOL" size "$WORK/ccPhotos/$name" | grep -q "^$width " || fail "ccPhotos/$name is not the corrected $name"
    done
    [ "$(ls "$WORK/ccPhotos" | wc -l)" -eq 5 ] || fail "ccPhotos holds $(ls "$WORK/ccPhotos")"
    for name in dangling.png pipe.jpg notes.txt; do grep -qF "Photos/$name: " "$OUT" || fail "$name not named"; done
    [ -p "$WORK/Photos/pipe.jpg" ] || fail "the pipe was replaced"
}
# photos that cannot be read whole or written in their own format: each one
# skipped and named, the others corrected, both LUT files written
setup_photos_failures() {
    seed_inputs
    make_png "$WORK/Photos/a_good.png" 40 30
    cut_file "$ASSETS/cc.jpg" 70 "$WORK/Photos/b_cut.jpg"
    make_png "$SANDBOX/c.png" 80 60 && cut_file "$SANDBOX/c.png" 30 "$WORK/Photos/c_cut.png"
    make_png "$WORK/Photos/d_oversize.png" 30000 30000 header-only
    make_png "$WORK/Photos/e_grey.pgm" 40 30
    make_png "$WORK/Photos/f_float.hdr" 40 30
    make_png "$WORK/Photos/g_too_wide.webp" 17000 4
    make_png "$WORK/Photos/h_good.png" 50 30
}
check_photos_failures() {
    expect_luts
    [ "$(ls "$WORK/ccPhotos")" = "$(printf 'a_good.png\nh_good.png')" ] || fail "ccPhotos holds $(ls "$WORK/ccPhotos")"
    for name in b_cut.jpg c_cut.png d_oversize.png e_grey.pgm f_float.hdr g_too_wide.webp; do
        [ "$(grep -cF "$name" "$OUT")" -eq 1 ] || fail "$name not named on one line"
    done
    grep -qF "30000 x 30000" "$OUT" || fail "the oversized photo's size is not told"
    # each with what to do about its own cause
    local cause advice
    while IFS='|' read -r cause advice; do
        grep -F "$cause" "$OUT" | grep -qF "$advice" || fail "$cause is not told: $advice"
    done <<'EOF_ADVICE'
b_cut.jpg: the JPEG file is cut short|; copy it again whole
d_oversize.png|; put a copy with fewer pixels in its place
e_grey.pgm|; save it as a JPEG, PNG or TIFF
Photos/g_too_wide.webp: the 17000 x 4 picture|; save it as a JPEG, PNG or TIFF
EOF_ADVICE
}
setup_photos_same_folder() {
    seed_inputs
    make_png "$WORK/Photos/a.png" 40 30
    rmdir "$WORK/ccPhotos" && ln -s Photos "$WORK/ccPhotos"
}
check_photos_same_folder() { expect_luts; [ "$(ls "$WORK/Photos")" = "a.png" ] || fail "Photos changed"; }
# The program under a wrapper that first runs $1 (a limit, a locale), then
# starts it through $2 (a tracer, another user), for one case.
wrap_program() {
    REAL_TINTSMITH=${REAL_TINTSMITH:-$TINTSMITH}
    printf '#!/bin/sh\n%s\nexec %s "%s"\n' "$1" "${2:-}" "$REAL_TINTSMITH" >"$SANDBOX/wrapped"
    chmod 755 "$SANDBOX/wrapped"
    TINTSMITH="$SANDBOX/wrapped"
}
unwrap_program() { TINTSMITH=${REAL_TINTSMITH:-$TINTSMITH}; }
# files of 40 GB that take no disk space (links to them in Photos, so that the
# inputs' hashes need not read them) under a memory limit of 1.3 GB: none is
# read whole, and the one that claims to be a small JPEG is refused by its
# size; a 256-megapixel PNG, within the machine's pixels but not this limit,
# runs out of memory alone
setup_photos_sparse() {
    local name
    seed_inputs
    "$E2E_TOOL" image photo "$WORK/Photos/a.png"
    make_png "$WORK/Photos/huge.png" 16000 16000
    truncate -s 40G "$SANDBOX/clip.mp4" "$SANDBOX/blob.bin"
    "$E2E_TOOL" image photo "$SANDBOX/big.jpg" && truncate -s 40G "$SANDBOX/big.jpg"
    for name in clip.mp4 blob.bin big.jpg; do ln -s "$SANDBOX/$name" "$WORK/Photos/$name"; done
    wrap_program "ulimit -v 1300000"
}
check_photos_sparse() {
    unwrap_program
    expect_luts
    [ "$(ls "$WORK/ccPhotos")" = "a.png" ] || fail "ccPhotos holds $(ls "$WORK/ccPhotos")"
    grep -qF "clip.mp4: a video" "$OUT" && grep -qF "blob.bin: not an image" "$OUT" || fail "the large files are not named"
    grep -qF "huge.png: there is not enough memory" "$OUT" || fail "the PNG too large for the limit is not told"
    grep -F "huge.png:" "$OUT" | grep -qF "close other programs" || fail "no advice for the PNG too large"
}
# RAW camera files and videos, by name and by content, and formats Tintsmith
# does not read: each named with what to do, none a failure
setup_photos_not_photos() {
    seed_inputs
    "$E2E_TOOL" image photo "$WORK/Photos/good.png"
    "$E2E_TOOL" image photo "$SANDBOX/raw.tif" && cp "$SANDBOX/raw.tif" "$WORK/Photos/DSC_0001.NEF"
    cp "$SANDBOX/raw.tif" "$WORK/Photos/IMG_0002.dng"
    printf '\0\0\0\030ftypcrx \0\0\0\001crx isom' >"$WORK/Photos/IMG_0003.CR3"
    printf '\0\0\0\030ftypisom\0\0\002\0isommp41' >"$WORK/Photos/clip.mp4"
    printf '\032\105\337\243 matroska' >"$WORK/Photos/clip_named_as_photo.jpg"
    printf 'GIF89a\001\0\001\0' >"$WORK/Photos/anim.gif"
    printf '\0\0\0\030ftypheic\0\0\0\0mif1heic' >"$WORK/Photos/IMG_0004.HEIC"
}
check_photos_not_photos() {
    local line
    expect_luts
    [ "$(ls "$WORK/ccPhotos")" = "good.png" ] || fail "ccPhotos holds $(ls "$WORK/ccPhotos")"
    for line in "DSC_0001.NEF: a RAW camera file (NEF)" "IMG_0002.dng: a RAW camera file (DNG)" \
        "IMG_0003.CR3: a RAW camera file (CR3)" "clip.mp4: a video (MP4)" \
        "clip_named_as_photo.jpg: a video (Matroska" "anim.gif: a picture in the GIF format" \
        "IMG_0004.HEIC: a picture in the HEIC/HEIF format" "lut3d=cc_LUT.cube"; do
        grep -qF "$line" "$OUT" || fail "the console lacks '$line'"
    done
}
# damaged files of every format: told as damaged, never as "not an image";
# whole files with flaws the decoder skips: corrected
setup_photos_damaged() {
    local extension
    seed_inputs
    for extension in tif webp ppm pam jp2 ras bmp png; do
        "$E2E_TOOL" image photo "$SANDBOX/p.$extension" || fail "could not make a .$extension"
        cut_file "$SANDBOX/p.$extension" 50 "$WORK/Photos/cut.$extension"
    done
    cut_file "$ASSETS/cc.jpg" 60 "$WORK/Photos/cut_then_ended.jpg"
    printf '\377\331' >>"$WORK/Photos/cut_then_ended.jpg"
    "$E2E_TOOL" image photo "$SANDBOX/p.jpg"
    head -c -2 "$SANDBOX/p.jpg" >"$WORK/Photos/whole_without_end.jpg"
    python3 - "$SANDBOX/p.png" "$WORK/Photos/whole_bad_text_checksum.png" <<'PY'
import sys
png = open(sys.argv[1], "rb").read()
text = b"\0\0\0\x09tEXtComment\0x" + b"\1\2\3\4"  # a checksum that does not match
open(sys.argv[2], "wb").write(png[:33] + text + png[33:])
PY
}
check_photos_damaged() {
    local name
    expect_luts
    [ "$(ls "$WORK/ccPhotos" | tr '\n' ' ')" = "whole_bad_text_checksum.png whole_without_end.jpg " ] ||
        fail "ccPhotos holds $(ls "$WORK/ccPhotos")"
    for name in cut.tif cut.webp cut.ppm cut.pam cut.jp2 cut.ras cut.bmp cut.png cut_then_ended.jpg; do
        grep -F "Photos/$name: " "$OUT" | grep -qE "cut short|damaged" || fail "$name is not told as damaged"
    done
    ! grep -q "not an image" "$OUT" || fail "a damaged file was called not an image"
}
setup_photos_empty() { seed_inputs; }
check_photos_empty() { expect_luts; }
setup_photos_subfolders() {
    seed_inputs
    mkdir "$WORK/Photos/2024-05" "$WORK/Photos/2024-06"
    "$E2E_TOOL" image photo "$WORK/Photos/2024-05/a.png"
    "$E2E_TOOL" image photo "$WORK/Photos/2024-06/b.png"
}
check_photos_subfolders() {
    expect_luts
    grep -qF "No photo was corrected" "$OUT" || fail "the batch did not say it corrected nothing"
    [ -z "$(ls "$WORK/ccPhotos")" ] || fail "ccPhotos holds $(ls "$WORK/ccPhotos")"
}
# ccPhotos on a disk that does not tell case apart (an exFAT card): two photos
# whose names meet there never overwrite each other
setup_photos_exfat() {
    if [ "$(id -u)" -ne 0 ] || ! command -v mkfs.exfat >/dev/null || ! command -v mount.exfat-fuse >/dev/null; then
        SKIP="an exFAT disk needs root, mkfs.exfat and mount.exfat-fuse (exfatprogs, exfat-fuse)"
        return
    fi
    truncate -s 16M "$SANDBOX/card.img"
    mkfs.exfat "$SANDBOX/card.img" >/dev/null 2>&1 || { SKIP="mkfs.exfat failed"; return; }
    LOOP=$(losetup -f --show "$SANDBOX/card.img" 2>/dev/null) || { SKIP="no loop device to be had"; return; }
    if ! mount.exfat-fuse "$LOOP" "$WORK/ccPhotos" >/dev/null 2>&1; then
        losetup -d "$LOOP"
        SKIP="this system does not mount FUSE file systems"
        return
    fi
    MOUNTS+=("$WORK/ccPhotos")
    losetup -d "$LOOP"  # while mounted: the device then frees itself when unmounted
    seed_inputs
    make_png "$SANDBOX/wide.png" 40 10 && mv "$SANDBOX/wide.png" "$WORK/Photos/IMG_0001.PNG"
    make_png "$WORK/Photos/img_0001.png" 60 10
    make_png "$WORK/Photos/other.png" 30 10
}
check_photos_exfat() {
    expect_luts
    [ "$(ls "$WORK/ccPhotos" | tr '\n' ' ')" = "IMG_0001.PNG other.png " ] || fail "ccPhotos holds $(ls "$WORK/ccPhotos")"
    "$E2E_TOOL" size "$WORK/ccPhotos/IMG_0001.PNG" | grep -q "^40 " || fail "IMG_0001.PNG was overwritten"
    grep -qF "img_0001.png: the disk of" "$OUT" || fail "the second photo is not told"
    unmount_all
}
# regression: under a Turkish locale upper-case extensions were not recognised
setup_photos_turkish() {
    if ! locale -a 2>/dev/null | grep -qix 'tr_TR.utf-\?8' &&
        ! localedef -i tr_TR -f UTF-8 tr_TR.UTF-8 >/dev/null 2>&1; then
        SKIP="no Turkish locale, and it cannot be made here (localedef needs root and the locales package)"
        return
    fi
    seed_inputs
    "$E2E_TOOL" image photo "$SANDBOX/p.tif" && mv "$SANDBOX/p.tif" "$WORK/Photos/SCAN.TIF"
    "$E2E_TOOL" image photo "$SANDBOX/p.jpg" && mv "$SANDBOX/p.jpg" "$WORK/Photos/IMG_0001.JPG"
    wrap_program "export LC_ALL=tr_TR.UTF-8 LANG=tr_TR.UTF-8"
}
check_photos_turkish() {
    unwrap_program
    expect_luts
    [ "$(ls "$WORK/ccPhotos" | tr '\n' ' ')" = "IMG_0001.JPG SCAN.TIF " ] || fail "ccPhotos holds $(ls "$WORK/ccPhotos")"
}
setup_cc_video() { setup_cc_missing; printf '\0\0\0\030ftypisom\0\0\002\0isommp41' >"$WORK/cc.jpg"; }
check_cc_video() { expect_older_outputs; }
# a killed run's temporary files go, also those whose number a live process
# bears now (this script's), and from ccPhotos without a batch too; other
# files that look alike stay
setup_temporaries_left() {
    seed_inputs
    make_png "$WORK/Photos/a.png" 40 30
    local pid
    pid=$(dead_pid)
    printf 'x' >"$WORK/.tintsmith-$pid-0.tmp"
    printf 'x' >"$WORK/.tintsmith-$$-1.tmp"
    printf 'x' >"$WORK/ccPhotos/.tintsmith-$pid-3.tmp"
    printf 'x' >"$WORK/ccPhotos/.tintsmith-$$-4.tmp"
    printf 'x' >"$WORK/ccPhotos/notes.tmp"
}
check_temporaries_left() {
    expect_luts
    [ "$(ls -A "$WORK/ccPhotos" | sort | tr '\n' ' ')" = "a.png notes.tmp " ] || fail "ccPhotos holds $(ls -A "$WORK/ccPhotos")"
    [ -z "$(find "$WORK" -maxdepth 1 -name '.tintsmith-*')" ] || fail "a temporary file was left"
}
setup_temporaries_plain() { setup_temporaries_left; rm "$WORK/Photos/a.png"; }
check_temporaries_plain() {
    expect_luts
    [ "$(ls -A "$WORK/ccPhotos")" = "notes.tmp" ] || fail "ccPhotos holds $(ls -A "$WORK/ccPhotos")"
}
# a run killed between the LUT pair's renames left a new PNG beside the older
# cube: the next run makes them a pair before anything else, even one that
# then ends for want of cc.jpg
setup_pair_stopped() {
    setup_cc_missing
    "$E2E_TOOL" stopped-pair "$WORK" || fail "could not stop a run between the renames"
    [ "$(cat "$WORK/cc_LUT.cube")" = "older cube" ] && ! cmp -s "$WORK/cc_LUT.png" <(printf 'older png') ||
        fail "the stopped run did not leave a new PNG beside the older cube"
}
check_pair_stopped() { expect_luts; expect_stdout_has "Invalid Image!"; expect_stdout_has "the replacement is now finished"; }
# the standard streams: all three closed (the console lines must not reach the
# display's connection), standard output a pipe closed early (the lines go to
# standard error, and a run that would end 0 ends 4), and a file-size limit
# the cube and one photo exceed (failed writes, told, no temporary left)
setup_streams_closed() { setup_photos_stray; STREAMS=closed; }
check_streams_closed() {
    expect_luts
    [ "$(ls "$WORK/ccPhotos")" = "Hochzeit am Strand é.png" ] || fail "ccPhotos holds $(ls "$WORK/ccPhotos")"
}
setup_stdout_pipe_closed() { setup_photos_stray; STREAMS=pipe-closed; }
check_stdout_pipe_closed() {
    check_streams_closed
    grep -qF "Standard output cannot be written (Broken pipe)" "$ERR" || fail "standard error does not tell why"
}
setup_file_size_limit() {
    seed_inputs
    older_outputs
    make_png "$WORK/Photos/a.png" 40 30
    make_png "$WORK/Photos/big.bmp" 1500 1000  # 4.5 MB as a BMP
    LIMIT_KIB=4096  # above the PNG LUT's size, below the cube's 7 MB
}
check_file_size_limit() {
    expect_older_outputs
    expect_stdout_has "cc_LUT.cube: File too large"
    expect_stdout_has "ccPhotos/big.bmp: File too large"
    [ "$(ls "$WORK/ccPhotos")" = "a.png" ] || fail "ccPhotos holds $(ls "$WORK/ccPhotos")"
}
# the Settings window's close button cancels; the result window's is any key
setup_wm_close() { seed_inputs; older_outputs; }
check_wm_close() { expect_older_outputs; }
setup_result_close() { seed_inputs; }
check_result_close() { expect_luts; }
# a photo larger than the screen (1920 x 1200 here) is shown scaled to fit
check_cc_huge() {
    expect_luts
    local width=${RESULT_SIZE%%x*} height=${RESULT_SIZE##*x}
    [ -n "$RESULT_SIZE" ] && [ "$width" -le 1920 ] && [ "$height" -le 1200 ] ||
        fail "the result window is $RESULT_SIZE, larger than the screen"
}
# the help and the version need no display and leave the working folder alone
setup_help() { older_outputs; RUN_ENV=(-u DISPLAY); RUN_ARGS=(--help); }
check_help() { expect_older_outputs; expect_stdout_has "Working folder on this machine: $WORK"; }
setup_version() { older_outputs; RUN_ENV=(-u DISPLAY); RUN_ARGS=(--version); }
check_version() { expect_older_outputs; expect_stdout "tintsmith 1.0.0"; }
setup_no_display() { seed_inputs; older_outputs; RUN_ENV=(-u DISPLAY); }
check_no_display() { expect_older_outputs; }
setup_display_unreachable() { seed_inputs; older_outputs; RUN_ENV=(DISPLAY=:4711); }
check_display_unreachable() { expect_older_outputs; }
setup_no_documents() { rm -rf "$HOME/Documents"; RUN_ENV=(); }
check_no_documents() { [ ! -e /Tintsmith ] || fail "/Tintsmith exists"; }
setup_no_working_folder() { rm -rf "$WORK"; RUN_ENV=(); }
check_no_working_folder() { expect_no_file "$WORK"; }
# the desktop names another Documents folder, while ~/Documents/Tintsmith waits
setup_xdg_documents() {
    seed_inputs
    mkdir -p "$HOME/.config" "$HOME/Dokumente"
    echo 'XDG_DOCUMENTS_DIR="$HOME/Dokumente"' >"$HOME/.config/user-dirs.dirs"
    RUN_ENV=()
}
check_xdg_documents() { grep -q "^Tintsmith works in $HOME/Dokumente/Tintsmith, .*; $WORK is not used" "$OUT" || fail "not told"; }
# a chart photo under a camera's capitals is named, never read
setup_cc_capitals() { setup_cc_missing; cp "$ASSETS/cc.jpg" "$WORK/cc.JPG"; }
check_cc_capitals() { expect_older_outputs; [ "$(grep -c "rename it cc.jpg" "$OUT")" -eq 2 ] || fail "not told at start and after the Settings window"; }
setup_unknown_option() { seed_inputs; older_outputs; RUN_ENV=(); RUN_ARGS=(--bogus); }
check_unknown_option() { expect_older_outputs; [ "$(wc -l <"$OUT")" -eq 1 ] || fail "more than one line"; }

# --- hostile folders: links, overlapping runs, power cuts, the console ------
# regression: links planted at the names of the next run's temporary files
# (the wrapper's process number is the program's) were written through,
# overwriting a file elsewhere; an output that is a link was replaced
setup_temporary_links() {
    seed_inputs
    make_png "$WORK/Photos/a.png" 40 30 && make_png "$WORK/Photos/b.png" 40 30
    printf 'theirs' >"$SANDBOX/victim" && ln -s "$SANDBOX/victim" "$WORK/ccPhotos/b.png"
    wrap_program "for n in \$(seq 0 20); do for d in '$WORK' '$WORK/ccPhotos'; do ln -s '$SANDBOX/victim' \"\$d/.tintsmith-\$\$-\$n.tmp\"; done; done"
}
check_temporary_links() {
    unwrap_program
    expect_luts
    [ "$(cat "$SANDBOX/victim")" = theirs ] || fail "a file outside the working folder was overwritten"
    [ -L "$WORK/ccPhotos/b.png" ] && [ ! -L "$WORK/ccPhotos/a.png" ] && [ ! -L "$WORK/cc_LUT.png" ] || fail "a link was replaced, or an output is one"
}
# regression: a ccPhotos that is a link to the working folder let corrected
# photos named cc.jpg and original.png overwrite the chart photo and the lattice
setup_ccphotos_is_working() {
    seed_inputs
    cp "$WORK/cc.jpg" "$WORK/original.png" "$WORK/Photos/"
    rmdir "$WORK/ccPhotos" && ln -s "$WORK" "$WORK/ccPhotos"
}
check_ccphotos_is_working() { expect_luts; }
# regression: a LUT pair and a corrected photo made read-only (444) were
# replaced; a private photo's corrected copy became world-readable
setup_read_only() {
    seed_inputs
    older_outputs && chmod 444 "$WORK/cc_LUT.png" "$WORK/cc_LUT.cube"
    make_png "$WORK/Photos/private.png" 40 30 && chmod 600 "$WORK/Photos/private.png"
    make_png "$WORK/Photos/kept.png" 40 30 && printf 'kept' >"$WORK/ccPhotos/kept.png" && chmod 444 "$WORK/ccPhotos/kept.png"
}
check_read_only() {
    expect_older_outputs
    [ "$(stat -c %a "$WORK/ccPhotos/private.png")" = 600 ] || fail "the corrected private photo is not 600"
    [ "$(cat "$WORK/ccPhotos/kept.png")" = kept ] || fail "the read-only corrected photo was replaced"
}
# regression: a stopped run's marker, older than the pair a later run wrote,
# was replayed over that pair, mixing it
setup_stale_marker() { setup_pair_stopped; printf 'newer png' >"$WORK/cc_LUT.png"; printf 'newer cube' >"$WORK/cc_LUT.cube"; }
check_stale_marker() {
    [ "$(cat "$WORK/cc_LUT.png" "$WORK/cc_LUT.cube")" = "newer pngnewer cube" ] || fail "the newer pair was changed"
    ! grep -q "An earlier run was stopped" "$OUT" || fail "the stale marker was replayed"
}
# regression: two runs at once mixed the LUT pair; the second now ends at
# once, touching nothing, while the first waits in its Settings window
setup_second_run() { seed_inputs; older_outputs; }
check_second_run() { expect_older_outputs; }
# regression: no folder was synced after a rename, so "Wrote ..." could be
# told of files a power cut then lost: under strace (-D keeps the program's
# process number), each file synced before its rename, its folder after, both
# before the line
setup_synced() {
    seed_inputs
    strace -o /dev/null true 2>/dev/null || { SKIP="strace cannot trace here"; return; }
    wrap_program "" "strace -D -f -y -qq -e trace=fsync,rename,write -o '$SANDBOX/trace'"
}
check_synced() {
    unwrap_program
    expect_luts
    python3 - "$SANDBOX/trace" "$WORK" <<'PY' || fail "the syncs are not in order"
import re, sys
lines, work = open(sys.argv[1]).read().splitlines(), re.escape(sys.argv[2])
def at(pattern, start=0):
    return next(i for i in range(start, len(lines)) if re.search(pattern, lines[i]))
for name, told in (("cc_LUT.cube", "Wrote the LUT for your editor"), ("cc_LUT_check.png", "Wrote the check picture")):
    rename = at(r'rename\("([^"]*\.tmp)", "' + work + "/" + name)
    temporary = re.escape(re.search(r'"([^"]*\.tmp)"', lines[rename]).group(1))
    assert any(re.search(r"fsync\(\d+<" + temporary + ">", l) for l in lines[:rename]), name
    assert at(r"fsync\(\d+<" + work + r">\)", rename) < at(r"write\(1<.*" + told, rename), name
PY
}
# regression: names' escape sequences, line breaks and carriage returns
# reached the console raw (retitled and cleared it, forged a line)
setup_console_names() {
    seed_inputs
    : >"$WORK/Photos/$(printf 'a\033]0;owned\007\033[2J.jpg')"
    : >"$WORK/Photos/$(printf 'b\nWrote the LUT for your editor: fake\r\233.jpg')"
}
check_console_names() {
    ! LC_ALL=C grep -q $'[\x01-\x08\x0b-\x1f\x7f\x9b]' "$OUT" || fail "a control character reached the console"
    grep -qF 'a\e]0;owned\x07\e[2J.jpg' "$OUT" && grep -qF 'b\nWrote the LUT for your editor: fake\r\x9b.jpg' "$OUT" || fail "the names are not shown escaped"
}
# start-up that cannot hang or abort: a user-dirs.dirs that is a pipe (hung),
# too few descriptors (hung, or SIGTRAP), a Wayland platform with no
# compositor (abort, 134), a HOME longer than a path may be ("HOME is not set")
setup_userdirs_fifo() { mkdir "$HOME/.config" && mkfifo "$HOME/.config/user-dirs.dirs"; RUN_ENV=(); RUN_ARGS=(--help); }
setup_few_descriptors() { older_outputs; wrap_program "ulimit -n 8"; RUN_ENV=(); }
setup_wayland_absent() { older_outputs; RUN_ENV=(QT_QPA_PLATFORM=wayland XDG_RUNTIME_DIR="$SANDBOX" WAYLAND_DISPLAY=none); }
setup_home_too_long() { older_outputs; RUN_ENV=(HOME="/$(printf 'h%.0s' $(seq 5000))"); }
for name in userdirs_fifo few_descriptors wayland_absent home_too_long; do eval "check_$name() { unwrap_program; [ ! -e \"\$WORK/cc_LUT.png\" ] || expect_older_outputs; }"; done
# regression: the display lost mid-run ended it with exit 1 and no line (the
# program has a display of its own here, stopped in the Settings window)
setup_display_lost() { seed_inputs; older_outputs; }
check_display_lost() { expect_older_outputs; }
# regression: a photo folder that may not be read was told as a missing one
# (run as nobody: the owner's rights would pass every check)
setup_photos_unreadable() {
    [ "$(id -u)" -eq 0 ] && command -v setpriv >/dev/null || { SKIP="running as another user needs root and setpriv"; return; }
    seed_inputs
    chmod 755 "$SANDBOX" "$HOME/Documents" && chmod 777 "$WORK" "$WORK/ccPhotos" && chmod 000 "$WORK/Photos"
    wrap_program "" "setpriv --reuid=65534 --regid=65534 --clear-groups"
}
check_photos_unreadable() { unwrap_program; chmod 755 "$WORK/Photos"; expect_luts; }

#      case              mode   exit  line on the console
cases="cc_missing        plain  1     Invalid Image!
cc_empty                 plain  1     Invalid Image!
cc_truncated             plain  1     Invalid Image!
cc_folder                plain  1     Invalid Image!
cc_tiny                  plain  2     ChartColor not detected
cc_far                   plain  0     The chart was found only by the further search
cc_no_chart              plain  2     Looked for the chart in the whole picture, then
cc_grey                  plain  0     The chart shows no colour
cc_deep                  plain  0     -
cc_huge                  plain  0     -
lattice_missing          plain  0     Wrote the identity lattice that Tintsmith turns into the LUT
lattice_unwritable       direct 4     Could not write the identity lattice
lattice_damaged          noresult 4   Could not read the lattice image original.png
lattice_small            plain  4     smaller than 512 x 512
lattice_grey             plain  4     not the identity lattice
lattice_jpeg             plain  4     not the identity lattice
png_blocked              plain  4     cc_LUT.png
cube_blocked             plain  4     cc_LUT.cube
check_blocked            plain  4     cc_LUT_check.png
photos_stray             batch  0     Skipping
ccphotos_missing         batch  4     Could not write into the folder
photos_missing           batch  4     Could not list the photo folder
cc_cut10                 plain  1     cut short
cc_cut30                 plain  1     cut short
cc_cut70                 plain  1     cut short
cc_cut99                 plain  1     cut short
cc_png_cut               plain  1     cut short
cc_oversize              plain  1     30000 x 30000 pixels
cc_fifo                  plain  1     not a regular file
lattice_large            plain  4     not 512 x 512
disk_full                plain  4     File Not Opened
photos_names             batch  0     Skipping
photos_failures          batch  4     Skipping
photos_same_folder       batch  4     same folder
photos_sparse            batch  4     far more than a picture of 320 x 240 pixels
photos_not_photos        batch  0     Skipping
photos_damaged           batch  4     cut short
photos_empty             batch  0     No photo was corrected
photos_subfolders        batch  0     not entered: 2024-05/, 2024-06/
photos_exfat             batch  4     for one name
photos_turkish           batch  0     -
cc_video                 plain  1     a video (MP4)
temporaries_left         batch  0     -
temporaries_plain        plain  0     -
pair_stopped             plain  1     An earlier run was stopped while replacing
streams_closed           batch  0     -
stdout_pipe_closed       batch  4     Skipping
file_size_limit          batch  4     File Not Opened
wm_close                 wmclose 5    Cancelled: the Settings window was closed
result_close             resultclose 0 -
help                     direct 0     tintsmith [--hold]
version                  direct 0     tintsmith 1.0.0
no_display               direct 4     graphical desktop session
display_unreachable      direct 4     cannot be reached
no_documents             direct 4     No Documents folder found
no_working_folder        direct 4     There is no working folder
xdg_documents            direct 4     is not used: move its files there
cc_capitals              plain  1     but there is cc.JPG beside it: rename it cc.jpg
unknown_option           direct 64    Unknown option --bogus: tintsmith --help lists the options
temporary_links          batch  4     it is a link
ccphotos_is_working      batch  4     so the chart photo and the lattice would be overwritten
read_only                batch  4     it is read-only
stale_marker             plain  1     Invalid Image!
second_run               second 4     Another Tintsmith run is working in this folder
synced                   plain  0     Wrote the check picture
console_names            batch  0     Skipping
userdirs_fifo            direct 0     tintsmith [--hold]
few_descriptors          direct 4     raise the limit
wayland_absent           direct 4     no Wayland compositor answers
home_too_long            direct 4     longer than this system allows
display_lost             displaylost 4 the connection to the display was lost
photos_unreadable        batch  4     it cannot be read (Permission denied); check that you may read and open it"

only=${1:-}
while read -r name mode code line; do
    [ -n "$only" ] && [ "$only" != "$name" ] && continue
    echo "case: $name"
    new_sandbox
    SKIP="" STREAMS="" LIMIT_KIB="" HASH_SKIP=""
    RESULT_SIZE=""
    RUN_ARGS=()
    "setup_$name"
    if [ -n "$SKIP" ]; then echo "  skipped: $SKIP"; continue; fi
    before=$(hash_inputs)
    run_to_end "$mode"
    [ "$STATUS" -eq "$code" ] || fail "$name: exit code $STATUS, expected $code"
    console=$OUT
    [ "$STREAMS" = pipe-closed ] && console=$ERR
    if [ "$line" = "-" ]; then
        [ "$STREAMS" = closed ] || only_report_lines  # closed: no console to read
    else
        grep -qF -- "$line" "$console" || fail "$name: the console lacks '$line'"
    fi
    [ "$(hash_inputs)" = "$before" ] || fail "$name: an input file changed"
    expect_no_temporaries
    "check_$name"
    echo "  exit $STATUS: $(head -c 200 "$console" 2>/dev/null | tr '\n' '|')"
done <<<"$cases"
echo "PASS"
