# Every bad input a user can drop into the working folder ends in a defined
# exit code and a clear line, never loses or truncates a file, and never
# changes an input. One case a row: set-up, exit code, a line the console must
# hold, and what must be true of the files afterwards.
source "$E2E_LIB"

# Runs the program through the Settings window (ticking "Batch Process Photos"
# when $1 is "batch") to its end, pressing a key in the result window if one
# appears. Sets STATUS.
run_to_end() {
    start_program
    local id
    id=$(wait_window "Settings")
    if [ "${1:-}" = batch ]; then toggle_box "$id" 200 160 on; fi
    key "$id" Escape
    local deadline=$((SECONDS + 240))
    while kill -0 "$PID" 2>/dev/null; do
        [ "$SECONDS" -lt "$deadline" ] || fail "program did not end"
        if has_window "Image and areas used to create LUTs | Press any key to exit"; then
            close_result
            break
        fi
        sleep 0.3
    done
    wait_exit 60
}

hash_inputs() { (cd "$WORK" && find . -path ./ccPhotos -prune -o -type f ! -name 'cc_LUT.*' ! -name 'cc_LUT_check.*' -print0 | sort -z | xargs -0 -r sha256sum); }
older_outputs() { printf 'older png' >"$WORK/cc_LUT.png"; printf 'older cube' >"$WORK/cc_LUT.cube"; }
expect_older_outputs() {
    [ "$(cat "$WORK/cc_LUT.png")" = "older png" ] || fail "cc_LUT.png was changed"
    [ "$(cat "$WORK/cc_LUT.cube")" = "older cube" ] || fail "cc_LUT.cube was changed"
}
expect_luts() {
    "$E2E_TOOL" cube-matches "$WORK/cc_LUT.cube" "$WORK/cc_LUT.png" >/dev/null || fail "LUT files not written whole"
}
expect_no_temporaries() {
    find "$WORK" -name '*.tmp*' | grep -q . && fail "temporary files left: $(find "$WORK" -name '*.tmp*')"
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
check_cc_huge() { expect_luts; }
setup_lattice_missing() { cp "$ASSETS/cc.jpg" "$WORK/cc.jpg"; older_outputs; }
check_lattice_missing() { expect_older_outputs; }
setup_lattice_small() { seed_inputs; "$E2E_TOOL" image small-lattice "$WORK/original.png"; older_outputs; }
check_lattice_small() {
    "$E2E_TOOL" size "$WORK/cc_LUT.png" | grep -qx "256 256 3 8" || fail "cc_LUT.png does not follow the lattice's size"
    [ "$(cat "$WORK/cc_LUT.cube")" = "older cube" ] || fail "cc_LUT.cube was changed"
}
setup_lattice_grey() { seed_inputs; "$E2E_TOOL" lattice "$SANDBOX/l.png"; "$E2E_TOOL" from-chart grey "$SANDBOX/l.png" "$WORK/original.png"; }
check_lattice_grey() { expect_luts; }
setup_png_blocked() { seed_inputs; mkdir "$WORK/cc_LUT.png"; }
check_png_blocked() { [ -d "$WORK/cc_LUT.png" ] || fail "the folder was replaced"; [ -s "$WORK/cc_LUT.cube" ] || fail "no cube"; }
setup_cube_blocked() { seed_inputs; mkdir "$WORK/cc_LUT.cube"; }
check_cube_blocked() { [ -d "$WORK/cc_LUT.cube" ] || fail "the folder was replaced"; [ -s "$WORK/cc_LUT.png" ] || fail "no png"; }
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
setup_ccphotos_missing() { seed_inputs; "$E2E_TOOL" image photo "$WORK/Photos/a.png"; rmdir "$WORK/ccPhotos"; }
check_ccphotos_missing() { expect_luts; [ ! -e "$WORK/ccPhotos" ] || fail "ccPhotos was created"; }

#      case              mode   exit  line on the console
cases="cc_missing        plain  1     Invalid Image!
cc_empty                 plain  1     Invalid Image!
cc_truncated             plain  1     Invalid Image!
cc_folder                plain  1     Invalid Image!
cc_tiny                  plain  2     ChartColor not detected
cc_grey                  plain  0     -
cc_deep                  plain  0     -
cc_huge                  plain  0     -
lattice_missing          plain  4     original.png
lattice_small            plain  4     smaller than 512 x 512
lattice_grey             plain  0     -
png_blocked              plain  4     cc_LUT.png
cube_blocked             plain  4     cc_LUT.cube
check_blocked            plain  4     cc_LUT_check.png
photos_stray             batch  0     Skipping
ccphotos_missing         batch  4     ccPhotos/a.png"

only=${1:-}
while read -r name mode code line; do
    [ -n "$only" ] && [ "$only" != "$name" ] && continue
    echo "case: $name"
    new_sandbox
    "setup_$name"
    before=$(hash_inputs)
    run_to_end "$mode"
    [ "$STATUS" -eq "$code" ] || fail "$name: exit code $STATUS, expected $code"
    if [ "$line" = "-" ]; then
        [ ! -s "$OUT" ] || fail "$name: unexpected console output"
    else
        grep -qF -- "$line" "$OUT" || fail "$name: the console lacks '$line'"
    fi
    [ "$(hash_inputs)" = "$before" ] || fail "$name: an input file changed"
    expect_no_temporaries
    "check_$name"
    echo "  exit $STATUS: $(head -c 200 "$OUT" | tr '\n' '|')"
done <<<"$cases"
echo "PASS"
