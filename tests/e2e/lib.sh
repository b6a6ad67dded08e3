# Helpers for end-to-end tests: the real program in a sandbox HOME on the
# test display, driven by xdotool. Every wait has a limit, and the program a
# test started is ended when the test ends, whatever happens.
set -uo pipefail

: "${TINTSMITH:?path of the program}"
: "${E2E_TOOL:?path of the e2e tool}"
: "${ASSETS:?path of the assets folder}"
# the private display the ctest fixture started (display.sh), else the caller's
if [ -n "${E2E_DISPLAY_FILE:-}" ]; then
    read -r number _ <"$E2E_DISPLAY_FILE" || { echo "FAIL: no test display"; exit 1; }
    export DISPLAY=":$number"
fi
: "${DISPLAY:?the tests need a display}"

PID=""
SANDBOXES=()
unset XDG_CONFIG_HOME

# A fresh HOME with an empty working folder (Photos and ccPhotos included);
# sets HOME, WORK, OUT and ERR. Each case of a test starts with one.
new_sandbox() {
    SANDBOX=$(mktemp -d /tmp/tintsmith-e2e.XXXXXX)
    SANDBOXES+=("$SANDBOX")
    export HOME="$SANDBOX"
    WORK="$HOME/Documents/Tintsmith"
    OUT="$SANDBOX/stdout.txt"
    ERR="$SANDBOX/stderr.txt"
    mkdir -p "$WORK/Photos" "$WORK/ccPhotos"
}

cleanup() {
    if [ -n "$PID" ] && kill -0 "$PID" 2>/dev/null; then kill -9 "$PID" 2>/dev/null; fi
    for box in "${SANDBOXES[@]}"; do rm -rf "$box"; done
}
trap cleanup EXIT

fail() {
    [ -f "${ERR:-}" ] && { echo "--- stderr:"; tail -5 "$ERR"; }
    echo "FAIL: $*"
    [ -f "$OUT" ] && { echo "--- program stdout:"; cat "$OUT"; }
    [ -s "$ERR" ] && { echo "--- program stderr:"; cat "$ERR"; }
    exit 1
}

# The sample chart photo and the identity lattice in the working folder.
seed_inputs() {
    cp "$ASSETS/cc.jpg" "$WORK/cc.jpg"
    "$E2E_TOOL" lattice "$WORK/original.png" || fail "could not make the lattice"
}

start_program() {
    # the pointer waits off every window, so nothing opens in its hover look
    xdotool mousemove 1900 1150
    (cd "$SANDBOX" && exec "$TINTSMITH" >"$OUT" 2>"$ERR") &
    PID=$!
}

# Prints the id of the visible window of our program titled exactly $1.
wait_window() {
    local title=$1 limit=${2:-60} id=""
    local deadline=$((SECONDS + limit))
    while [ "$SECONDS" -lt "$deadline" ]; do
        kill -0 "$PID" 2>/dev/null || fail "program ended before window '$title' appeared"
        id=$(xdotool search --onlyvisible --pid "$PID" --name "^${title//|/\\|}\$" 2>/dev/null | head -n 1)
        if [ -n "$id" ]; then
            # shown at last: the window has taken its image's size and kept it
            local size last=""
            while [ "$SECONDS" -lt "$deadline" ]; do
                size=$(xdotool getwindowgeometry "$id" 2>/dev/null | sed -n 's/.*Geometry: //p')
                [ -n "$size" ] && [ "$size" = "$last" ] && [ "${size%%x*}" -gt 100 ] && break
                last=$size
                sleep 0.2
            done
            echo "$id"
            return 0
        fi
        sleep 0.2
    done
    fail "window '$title' did not appear within ${limit}s"
}

# True when our program shows a window titled exactly $1 now.
has_window() {
    [ -n "$(xdotool search --onlyvisible --pid "$PID" --name "^${1//|/\\|}\$" 2>/dev/null)" ]
}

key() { xdotool windowfocus --sync "$1" 2>/dev/null; xdotool key "$2"; }
click() { xdotool mousemove --window "$1" "$2" "$3" click 1; }

# Clicks the tick box whose top-left corner is ($2, $3) in window $1 and waits
# until the window shows it $4 ("on" or "off"), so that the next click or key
# cannot reach the program in the same frame as this one.
toggle_box() {
    local id=$1 x=$2 y=$3 want
    [ "$4" = on ] && want="255 191 117" || want="41 41 41"  # check mark, or the empty fill
    click "$id" $((x + 5)) $((y + 5))
    local deadline=$((SECONDS + 30))
    until [ "$(import -window "$id" "$SANDBOX/box.png" 2>/dev/null &&
               "$E2E_TOOL" pixel "$SANDBOX/box.png" $((x + 7)) $((y + 7)))" = "$want" ]; do
        [ "$SECONDS" -lt "$deadline" ] || fail "the box at ($x, $y) did not turn $4"
        sleep 0.1
    done
}

# Waits for the program to end and sets STATUS to its exit code.
wait_exit() {
    local limit=${1:-120} deadline=$((SECONDS + ${1:-120}))
    while kill -0 "$PID" 2>/dev/null; do
        [ "$SECONDS" -lt "$deadline" ] || { kill -9 "$PID"; fail "program still running after ${limit}s"; }
        sleep 0.2
    done
    wait "$PID"
    STATUS=$?
    PID=""
}

expect_status() { [ "$STATUS" -eq "$1" ] || fail "exit code $STATUS, expected $1"; }
expect_stdout() { [ "$(cat "$OUT")" == "$1" ] || fail "stdout was '$(cat "$OUT")', expected '$1'"; }
expect_stdout_has() { grep -qF -- "$1" "$OUT" || fail "stdout lacks '$1'"; }
expect_line() { [ "$(sed -n "$1p" "$OUT")" == "$2" ] || fail "line $1 of stdout is not '$2'"; }

# The console of a run that wrote both LUT files and their check, which made
# the chart's colours better: those lines and no other (but the batch's).
expect_report() {
    expect_stdout_has "Wrote the LUT for your editor: $WORK/cc_LUT.cube"
    expect_stdout_has "Wrote the same LUT as a PNG LUT image: $WORK/cc_LUT.png"
    expect_stdout_has "Wrote the check picture: $WORK/cc_LUT_check.png"
    grep -q "^Better: the cube brings the chart's colours closer to their reference" "$OUT" ||
        fail "stdout gives no verdict of the check"
    only_report_lines
}
only_report_lines() {
    local other
    other=$(grep -vE '^(Wrote the |Better: |Batch: )' "$OUT")
    [ -z "$other" ] || fail "unexpected console lines: $other"
}
expect_file() { [ -f "$1" ] || fail "missing $1"; }
expect_no_file() { [ ! -e "$1" ] || fail "unexpected $1"; }

# Ticks the sample's own chart type, the classic chart, in the Settings
# window $1: with the first box's clone the check finds the greys made worse.
tick_classic() { toggle_box "$1" 200 45 on; }

# The Settings window with the sample's chart type ticked, passed with ESC.
pass_settings() {
    local id
    id=$(wait_window "Settings")
    tick_classic "$id"
    key "$id" Escape
}

# The result window, closed with a key. A key that reaches the window while
# it is still being set up can be lost, so the key is pressed again until the
# window has gone; a second key to a closing window does nothing. Sets
# RESULT_SIZE to the window's size as shown, "WIDTHxHEIGHT".
close_result() {
    local title="Image and areas used to create LUTs | Press any key to exit" id
    id=$(wait_window "$title" "${1:-120}")
    RESULT_SIZE=$(xdotool getwindowgeometry "$id" 2>/dev/null | sed -n 's/.*Geometry: //p')
    local deadline=$((SECONDS + 60))
    key "$id" space
    while kill -0 "$PID" 2>/dev/null && has_window "$title"; do
        [ "$SECONDS" -lt "$deadline" ] || fail "the result window did not close on a key"
        sleep 0.5
        # Qt may make the window anew when a picture larger than the screen
        # arrives, so the key goes to whichever window bears the title now
        id=$(xdotool search --onlyvisible --pid "$PID" --name "^${title//|/\\|}\$" 2>/dev/null | head -n 1)
        [ -n "$id" ] && key "$id" space
    done
}

# A run with "Batch Process Photos" ticked, through the result window to its end.
run_batch() {
    local id
    start_program
    id=$(wait_window "Settings")
    toggle_box "$id" 200 160 on  # "Batch Process Photos"
    tick_classic "$id"
    key "$id" Escape
    close_result
    wait_exit
}

# A whole run through the Settings window and the result window that ends in
# exit 0 with the report of the files written on the console.
run_clean() {
    start_program
    pass_settings
    close_result
    wait_exit
    expect_status 0
    expect_report
}
