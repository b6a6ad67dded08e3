# The file-source workflow from the Settings window to the exit code.
source "$E2E_LIB"

echo "case: a chart photo gives both LUT files and exit 0 after a key; Photos untouched"
new_sandbox
seed_inputs
"$E2E_TOOL" image photo "$WORK/Photos/a.png"
run_clean
[ -z "$(ls "$WORK/ccPhotos")" ] || fail "ccPhotos was written with batch mode off"
"$E2E_TOOL" size "$WORK/cc_LUT.png" | grep -qx "512 512 3 8" || fail "cc_LUT.png is not 512 x 512 8-bit colour"
[ "$(stat -c %s "$WORK/cc_LUT.cube")" -eq 7340048 ] || fail "cc_LUT.cube has the wrong size"
"$E2E_TOOL" cube-matches "$WORK/cc_LUT.cube" "$WORK/cc_LUT.png" || fail "cube and PNG LUT differ"
# the check of the cube: one CSV row per patch, closer to the reference after it
"$E2E_TOOL" size "$WORK/cc_LUT_check.png" | grep -q " 3 8$" || fail "cc_LUT_check.png is not an 8-bit colour image"
head -n 1 "$WORK/cc_LUT_check.csv" | grep -qx "patch,ref_r,ref_g,ref_b,measured_r,measured_g,measured_b,after_r,after_g,after_b,de2000_before,de2000_after,used" ||
    fail "cc_LUT_check.csv has the wrong header"
[ "$(tail -n +2 "$WORK/cc_LUT_check.csv" | wc -l)" -eq 24 ] || fail "cc_LUT_check.csv has not one row per patch"
awk -F, 'NR > 1 { before += $11; after += $12 } END { exit !(after < before) }' "$WORK/cc_LUT_check.csv" ||
    fail "the mean difference after the cube is not below the one before"
ls "$WORK" | grep -q tmp && fail "a temporary file was left behind"

echo "case: a missing cc.jpg is told before the Settings window, then gives 'Invalid Image!' and 1"
new_sandbox
"$E2E_TOOL" lattice "$WORK/original.png"
start_program
pass_settings
wait_exit 60
expect_status 1
missing="There is no chart photo at $WORK/cc.jpg: save your photo of the colour chart there as a JPEG named cc.jpg, or tick \"Use camera\" in the Settings window."
expect_stdout "$missing
Invalid Image!
$missing"
expect_no_file "$WORK/cc_LUT.png"

echo "case: a photo without a chart gives 2 and writes nothing"
new_sandbox
"$E2E_TOOL" image noise "$WORK/cc.jpg"
"$E2E_TOOL" lattice "$WORK/original.png"
start_program
pass_settings
wait_exit 60
expect_status 2
expect_stdout "ChartColor not detected 
No ColorChecker clone was found in $WORK/cc.jpg. Check that this is the chart in the photo (the chart type chosen in the Settings window), that the whole chart is in the picture, at least 150 pixels across, and that it is evenly lit, without glare."
expect_no_file "$WORK/cc_LUT.png"
expect_no_file "$WORK/cc_LUT.cube"
expect_no_file "$WORK/cc_LUT_check.png"

echo "case: the wrong chart type gives a warning that names the likely causes, here and in the check picture"
new_sandbox
seed_inputs
start_program
id=$(wait_window "Settings")
toggle_box "$id" 200 60 on  # "X-Rite ColorChecker Passport Video", not the classic chart it is
key "$id" Escape
close_result
wait_exit
expect_status 0
expect_stdout_has "Warning: after the cube the chart's colours are still far from their reference"
expect_stdout_has "Likely causes: the wrong chart type, a chart photographed on a screen, or an over-exposed chart."
"$E2E_TOOL" size "$WORK/cc_LUT_check.png" >/dev/null || fail "no check picture"

echo "PASS"
