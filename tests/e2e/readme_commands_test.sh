# The ffmpeg and exiftool commands the README prints, and the one the console
# prints for a video in Photos, run exactly as printed: a video players take
# (8-bit 4:2:0 H.264, its sound kept), a photo at high quality with its Exif.
source "$E2E_LIB"

command -v ffmpeg >/dev/null && command -v ffprobe >/dev/null && command -v exiftool >/dev/null ||
    { echo "FAIL: ffmpeg, ffprobe and exiftool are needed (tools/test.sh installs them)"; exit 1; }
readme="$(dirname "$E2E_LIB")/../../README.md"

# A second of test picture with sound, as 4:2:0 H.264 and AAC.
make_clip() {
    ffmpeg -v error -y -f lavfi -i testsrc=size=320x240:rate=25 -f lavfi -i sine -t 1 \
        -pix_fmt yuv420p -c:v libx264 -c:a aac "$1" || fail "could not make $1"
}

# regression: without -pix_fmt the output was "High 4:4:4 Predictive", yuv444p
expect_playable() {
    local streams
    streams=$(ffprobe -v error -show_entries stream=codec_name,profile,pix_fmt -of csv=p=0 "$1" | tr '\n' ' ')
    [ "$streams" = "h264,High,yuv420p aac,LC " ] || fail "$1 is not 4:2:0 H.264 High with its sound: $streams"
}

echo "case: the README's commands, as printed"
new_sandbox
cd "$SANDBOX" || fail "no sandbox"
printf 'LUT_3D_SIZE 2\n0 0 0\n1 0 0\n0 1 0\n1 1 0\n0 0 1\n1 0 1\n0 1 1\n1 1 1\n' >cc_LUT.cube
make_clip clip.mp4
ffmpeg -v error -f lavfi -i testsrc=size=640x480 -frames:v 1 -q:v 2 photo.jpg || fail "no photo"
exiftool -q -overwrite_original -Model=TestCam "-DateTimeOriginal=2024:05:01 10:00:00" \
    "-ThumbnailImage<=photo.jpg" photo.jpg || fail "could not give the photo Exif"
mapfile -t commands < <(sed -n 's/^    \(ffmpeg .*\|exiftool .*\)$/\1/p' "$readme")
[ "${#commands[@]}" -eq 3 ] || fail "the README prints ${#commands[@]} such commands, not 3"
for line in "${commands[@]}"; do
    bash -c "$line" </dev/null >/dev/null 2>"$ERR" || fail "the README's command failed: $line"
done
expect_playable clip-corrected.mp4
[ "$(exiftool -s3 -Model -DateTimeOriginal photo-corrected.jpg | tr '\n' ' ')" = "TestCam 2024:05:01 10:00:00 " ] ||
    fail "the corrected photo lost its Exif"
[ -z "$(exiftool -s3 -ThumbnailImage photo-corrected.jpg)" ] || fail "the uncorrected preview was kept"
# ImageMagick's estimate of the JPEG quality: 94 for -q:v 2, 79 for ffmpeg's default
[ "$(identify -format %Q photo-corrected.jpg)" -ge 90 ] || fail "the corrected photo is not of high quality"

echo "case: the console's command for a video in Photos, as printed"
new_sandbox
seed_inputs
make_clip "$WORK/Photos/clip one.mp4"
run_batch
command=$(sed -n 's/^Skipping .*clip one.mp4: .* in the folder [^:]*: \(ffmpeg .*\)$/\1/p' "$OUT")
[ -n "$command" ] || fail "no ffmpeg command for the video"
(cd "$WORK" && bash -c "$command" </dev/null >/dev/null 2>"$ERR") || fail "the console's command failed: $command"
expect_playable "$WORK/clip one_cc.mp4"

echo "PASS"
