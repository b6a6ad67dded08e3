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
head -n 1 "$WORK/cc_LUT_check.csv" | grep -qx "patch,ref_r,ref_g,ref_b,measured_r,measured_g,measured_b,after_r,after_g,after_b,de2000_before,de2000_after,used,clipped" ||
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
Looked for the chart in the whole picture, then in the picture inside a plain border, in overlapping crops of it and in enlarged parts of it, for a small chart.
No Classic ColorChecker (X-Rite, Passport, Macbeth) was found in $WORK/cc.jpg. Check that this is the chart in the photo (the chart type chosen in the Settings window), that the whole chart is in the picture, at least 150 pixels across, and that it is evenly lit, without glare."
expect_no_file "$WORK/cc_LUT.png"
expect_no_file "$WORK/cc_LUT.cube"
expect_no_file "$WORK/cc_LUT_check.png"

echo "case: the wrong chart type: its colours do not match, so 2 and nothing written"
new_sandbox
seed_inputs
start_program
id=$(wait_window "Settings")
toggle_box "$id" 200 60 on  # "X-Rite ColorChecker Passport Video", not the classic chart it is
key "$id" Escape
wait_exit 60
expect_status 2
expect_line 1 "ChartColor not detected "
expect_stdout_has "A chart-like pattern was seen in $WORK/cc.jpg, but its colours do not match the chosen chart type, X-Rite ColorChecker Passport Video ("
expect_stdout_has "); check the chart choice: tick the chart that is in the photo in the Settings window."
expect_no_file "$WORK/cc_LUT.png"
expect_no_file "$WORK/cc_LUT.cube"

# The first pair of an earlier run, to be kept or replaced.
older_pair() {
    printf 'older cube' >"$WORK/cc_LUT.cube"
    printf 'older png' >"$WORK/cc_LUT.png"
}

echo "case: a near chart type (the clone) makes the greys worse: 6, the reason, the older pair kept"
new_sandbox
seed_inputs
older_pair
start_program
pass_settings_as_shown() { local id; id=$(wait_window "Settings"); key "$id" Escape; }
pass_settings_as_shown
close_result
wait_exit
expect_status 6
expect_stdout_has "Warning: the cube does not correct the chart as a whole"
expect_stdout_has "- the grey patches get worse ("
expect_stdout_has "likely the wrong chart type. ColorChecker clone is chosen; the closest other is Classic ColorChecker (X-Rite, Passport, Macbeth): tick it in the Settings window if that is your chart."
expect_stdout_has "Worst patches after the cube: "
expect_stdout_has "Kept the LUT it replaced as $WORK/cc_LUT.previous.cube and $WORK/cc_LUT.previous.png: to go back to it, rename them to cc_LUT.cube and cc_LUT.png."
[ "$(cat "$WORK/cc_LUT.previous.cube")" = "older cube" ] || fail "the older cube was not kept"
[ "$(cat "$WORK/cc_LUT.previous.png")" = "older png" ] || fail "the older PNG was not kept"
"$E2E_TOOL" cube-matches "$WORK/cc_LUT.cube" "$WORK/cc_LUT.png" || fail "the new pair does not match"

echo "case: an over-exposed chart: 6, clipped patches named, the older pair kept; a good run keeps none"
new_sandbox
seed_inputs
convert "$ASSETS/cc.jpg" -evaluate multiply 1.8 "$WORK/cc.jpg"
older_pair
run_to_six() { start_program; pass_settings; close_result; wait_exit; expect_status 6; }
run_to_six
expect_stdout_has " of 24 patches are clipped, too bright to measure: expose the chart darker and photograph it again."
[ "$(cat "$WORK/cc_LUT.previous.cube")" = "older cube" ] || fail "the older cube was not kept"
cp "$ASSETS/cc.jpg" "$WORK/cc.jpg"
rm "$WORK/cc_LUT.previous.cube" "$WORK/cc_LUT.previous.png"
run_clean
expect_no_file "$WORK/cc_LUT.previous.cube"
expect_no_file "$WORK/cc_LUT.previous.png"

echo "case: a chart shown on a laptop screen: 6, the screen's white turned cyan is the reason"
new_sandbox
seed_inputs
cp "$ASSETS/../bench/photos/IMG_20140613_203500.jpg" "$WORK/cc.jpg"
run_to_six
expect_stdout_has "% of the picture), far brighter than its lightest grey, turn cyan after the cube (C* "
expect_stdout_has "a chart lit otherwise than the scene (shown on a screen, or in shade) gives a LUT for its own light alone"

echo "PASS"
