# The file-source workflow from the Settings window to the exit code.
source "$E2E_LIB"

echo "case: a chart photo gives both LUT files and exit 0 after a key"
new_sandbox
seed_inputs
run_clean
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

echo "case: a missing cc.jpg gives 'Invalid Image!' and 1, and no window after Settings"
new_sandbox
"$E2E_TOOL" lattice "$WORK/original.png"
start_program
pass_settings
wait_exit 60
expect_status 1
expect_stdout "Invalid Image!"
expect_no_file "$WORK/cc_LUT.png"

echo "case: a photo without a chart gives 2 and writes nothing"
new_sandbox
"$E2E_TOOL" image noise "$WORK/cc.jpg"
"$E2E_TOOL" lattice "$WORK/original.png"
start_program
pass_settings
wait_exit 60
expect_status 2
expect_stdout "ChartColor not detected "
expect_no_file "$WORK/cc_LUT.png"
expect_no_file "$WORK/cc_LUT.cube"
expect_no_file "$WORK/cc_LUT_check.png"

echo "PASS"
