# The Settings window clicked for real: what it shows and where its choices go.
source "$E2E_LIB"
settings_title="Settings"
result_title="Image and areas used to create LUTs | Press any key to exit"

echo "case: the window opens 550 x 200 exactly as drawn off-screen"
new_sandbox
seed_inputs
start_program
id=$(wait_window "$settings_title")
xdotool getwindowgeometry "$id" | grep -q "Geometry: 550x200" || fail "window is not 550 x 200"
import -window "$id" "$SANDBOX/screen.png" || fail "no screenshot"
"$UI_PROBE" "$SANDBOX/expected.png" || fail "could not render the frame"
"$E2E_TOOL" same-pixels "$SANDBOX/screen.png" "$SANDBOX/expected.png" || fail "the window differs from its frame"
tick_classic "$id"
key "$id" Escape
close_result
wait_exit
expect_status 0

echo "case: 'Use camera' then the button ends with 3 where no camera exists"
new_sandbox
seed_inputs
start_program
id=$(wait_window "$settings_title")
toggle_box "$id" 15 45 on           # "Use camera"
click "$id" 50 170                  # "Use selected settings"
wait_exit 60
expect_status 3
expect_line 1 "Unable to open camera!"
expect_line 2 "Camera 0 could not be opened: check that it is connected and no other program uses it, or choose another camera number in the Settings window."
expect_no_file "$WORK/cc_LUT.png"

echo "case: clearing the file box leaves no source: no chart, exit 2"
new_sandbox
seed_inputs
start_program
id=$(wait_window "$settings_title")
toggle_box "$id" 15 30 off          # "Use file cc.jpg" cleared
key "$id" Escape
wait_exit 60
expect_status 2
expect_stdout "ChartColor not detected 
No picture was taken: tick \"Use file cc.jpg\" or \"Use camera\" in the Settings window."

echo "case: another chart box changes the LUT written"
lut_for_box() {  # $1: y of the chart box to click
    new_sandbox
    seed_inputs
    start_program
    local id
    id=$(wait_window "$settings_title")
    toggle_box "$id" 200 "$1" on
    key "$id" Escape
    close_result
    wait_exit
    expect_status 0
    cp "$WORK/cc_LUT.png" "$2"
}
keep=$(mktemp -d)
lut_for_box 45 "$keep/classic.png"  # "Classic ColorChecker (X-Rite, Passport, Macbeth)"
lut_for_box 75 "$keep/legacy.png"   # "X-Rite Colorchecker Classic Legacy"
"$E2E_TOOL" same-pixels "$keep/classic.png" "$keep/legacy.png" >/dev/null &&
    { rm -rf "$keep"; fail "chart box 3 gave the same LUT as chart box 1"; }
rm -rf "$keep"

echo "case: batch mode ticked with a click corrects the photos"
new_sandbox
seed_inputs
"$E2E_TOOL" image photo "$WORK/Photos/IMG_0001.JPG"
"$E2E_TOOL" image photo "$WORK/Photos/b.png"
start_program
id=$(wait_window "$settings_title")
toggle_box "$id" 200 160 on         # "Batch Process Photos"
tick_classic "$id"
click "$id" 50 170
close_result
wait_exit
expect_status 0
expect_line 1 "Batch: 2 corrected, 0 skipped, 0 failed; the corrected photos are in $WORK/ccPhotos/"
expect_report
"$E2E_TOOL" size "$WORK/ccPhotos/IMG_0001.JPG" | grep -qx "320 240 3 8" || fail "IMG_0001.JPG not corrected"
"$E2E_TOOL" size "$WORK/ccPhotos/b.png" | grep -qx "320 240 3 8" || fail "b.png not corrected"

echo "case: the Settings window's close button cancels: 5, nothing written, nothing replaced"
new_sandbox
seed_inputs
printf 'older cube' >"$WORK/cc_LUT.cube"
start_program
id=$(wait_window "$settings_title")
toggle_box "$id" 200 160 on  # batch mode too: still nothing is written
"$WM_CLOSE" "$id" || fail "could not send WM_DELETE_WINDOW"
wait_exit 60
expect_status 5
expect_stdout "Cancelled: the Settings window was closed, so nothing was read or written."
[ "$(cat "$WORK/cc_LUT.cube")" = "older cube" ] || fail "cc_LUT.cube was replaced"
expect_no_file "$WORK/cc_LUT.png"
# regression: with the lattice made at start, "nothing was read or written" was said all the same
rm "$WORK/original.png"
start_program
"$WM_CLOSE" "$(wait_window "$settings_title")" || fail "could not send WM_DELETE_WINDOW"
wait_exit 60
expect_status 5
expect_stdout "Wrote the identity lattice that Tintsmith turns into the LUT: $WORK/original.png
Cancelled: the Settings window was closed, so nothing more was read or written."

echo "PASS"
