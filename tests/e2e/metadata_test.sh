# Corrected photos keep their metadata, as exiftool reads it: a JPEG its Exif
# (date, camera, lens, exposure, GPS), XMP and comment, turned upright and
# without the uncorrected thumbnail; a PNG its Exif and text. The colour
# profile is not copied. (Regression: 70 Exif tags became 23.)
source "$E2E_LIB"

command -v exiftool >/dev/null || { echo "SKIP: exiftool is not installed (libimage-exiftool-perl)"; exit 0; }

# exiftool's value of tag $2 in file $1, as a number where it has one
tag() { exiftool -s -s -s -n "-$2" "$1"; }
expect_tag() { [ "$(tag "$1" "$2")" = "$3" ] || fail "$(basename "$1"): $2 is '$(tag "$1" "$2")', expected '$3'"; }

echo "case: a JPEG and a PNG keep their metadata; the JPEG stands upright, without its thumbnail"
new_sandbox
seed_inputs
"$E2E_TOOL" image noise "$SANDBOX/photo.jpg" || fail "could not make a photo"
"$E2E_TOOL" image photo "$SANDBOX/thumb.jpg" || fail "could not make a thumbnail"
cp "$SANDBOX/photo.jpg" "$WORK/Photos/IMG_0001.jpg"
exiftool -q -overwrite_original -DateTimeOriginal="2024:05:17 10:11:12" -Make="Tintsmith Optics" \
    -Model="Test Camera" -LensModel="50mm F1.8" -ExposureTime=0.008 -FNumber=2.8 -ISO=200 \
    -GPSLatitude=48.8584 -GPSLatitudeRef=N -GPSLongitude=2.2945 -GPSLongitudeRef=E \
    -Orientation#=6 "-ThumbnailImage<=$SANDBOX/thumb.jpg" -Comment="on the beach" \
    -XMP-dc:Creator="A. Photographer" "$WORK/Photos/IMG_0001.jpg" ||
    fail "exiftool could not write the JPEG's metadata"
[ -n "$(tag "$WORK/Photos/IMG_0001.jpg" ThumbnailImage)" ] || fail "the test photo has no thumbnail"
"$E2E_TOOL" image photo "$WORK/Photos/scan.png" || fail "could not make a PNG"
exiftool -q -overwrite_original -Make="Tintsmith Scanner" -DateTimeOriginal="2023:01:02 03:04:05" \
    -PNG:Title="Beach" "$WORK/Photos/scan.png" || fail "exiftool could not write the PNG's metadata"

run_batch
expect_status 0
expect_report

out="$WORK/ccPhotos/IMG_0001.jpg"
expect_tag "$out" DateTimeOriginal "2024:05:17 10:11:12"
expect_tag "$out" Make "Tintsmith Optics"
expect_tag "$out" Model "Test Camera"
expect_tag "$out" LensModel "50mm F1.8"
expect_tag "$out" ExposureTime "0.008"
expect_tag "$out" ISO "200"
expect_tag "$out" GPSLatitude "48.8584"
expect_tag "$out" Comment "on the beach"
expect_tag "$out" Creator "A. Photographer"
expect_tag "$out" Orientation "1"
expect_tag "$out" ImageWidth "480"   # turned: 640 x 480 stored on its side
expect_tag "$out" ImageHeight "640"
[ -z "$(tag "$out" ThumbnailImage)" ] || fail "the uncorrected thumbnail is still in the corrected photo"
[ -z "$(tag "$out" ThumbnailOffset)" ] || fail "the thumbnail's directory is still in the corrected photo"
echo "  JPEG: $(exiftool -q -q -s -s -s -EXIF:all "$out" | wc -l) Exif tags of $(exiftool -q -q -s -s -s -EXIF:all "$WORK/Photos/IMG_0001.jpg" | wc -l) kept"
expect_tag "$WORK/ccPhotos/scan.png" Make "Tintsmith Scanner"
expect_tag "$WORK/ccPhotos/scan.png" DateTimeOriginal "2023:01:02 03:04:05"
expect_tag "$WORK/ccPhotos/scan.png" Title "Beach"

echo "PASS"
