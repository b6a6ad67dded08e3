# The live detection window on recorded sequences (no camera exists here).
source "$E2E_LIB"
title="ColorChecker detection | Press ESC when ready to create LUT"
message="ChartColor not detected - Show the ColorChecker to the Camera"

start_probe() {
    (cd "$SANDBOX" && exec "$PREVIEW_PROBE" "$1" "$SANDBOX/reference.png" >"$OUT" 2>"$ERR") &
    PID=$!
}
wait_line() {
    local deadline=$((SECONDS + 60))
    until grep -qx "$1" "$OUT"; do
        [ "$SECONDS" -lt "$deadline" ] || fail "no line '$1'"
        kill -0 "$PID" 2>/dev/null || fail "probe ended early"
        sleep 0.2
    done
}

echo "case: ESC ends the loop on the frame shown, and closes the window"
new_sandbox
mkdir "$SANDBOX/frames"
"$E2E_TOOL" sequence counted "$SANDBOX/frames" || fail "could not make frames"
start_probe "$SANDBOX/frames/frame_%03d.png"
id=$(wait_window "$title")
key "$id" Escape
wait_line "loop ended"
has_window "$title" && fail "the detection window stayed open after ESC"
told=$(grep -cx "$message" "$OUT")
index=$("$E2E_TOOL" frame-index "$SANDBOX/reference.png") || fail "no reference frame"
# one message per pass, so the frame of the last pass is number told - 1
[ "$index" -eq $((told - 1)) ] || fail "reference is frame $index after $told passes"
[ "$index" -lt 999 ] || fail "the sequence ran to its end: ESC was not seen"
kill "$PID"

echo "case: the window closed by the window manager cancels, before the stream's end"
new_sandbox
mkdir "$SANDBOX/frames"
"$E2E_TOOL" sequence counted "$SANDBOX/frames" || fail "could not make frames"
start_probe "$SANDBOX/frames/frame_%03d.png"
id=$(wait_window "$title")
"$WM_CLOSE" "$id" || fail "could not send WM_DELETE_WINDOW"
wait_line "loop cancelled"
has_window "$title" && fail "the detection window came back"
expect_no_file "$SANDBOX/reference.png"
[ "$(grep -cx "$message" "$OUT")" -lt 999 ] || fail "the sequence ran to its end: the close was not seen"
kill "$PID"

echo "case: at the end of the stream the last raw frame is kept and the window stays"
new_sandbox
mkdir "$SANDBOX/frames"
"$E2E_TOOL" sequence mixed "$SANDBOX/frames" || fail "could not make frames"
start_probe "$SANDBOX/frames/frame_%03d.png"
wait_line "loop ended"
[ "$(grep -cx "$message" "$OUT")" -eq 1 ] || fail "expected one message, for the frame without a chart"
"$E2E_TOOL" same-pixels "$SANDBOX/reference.png" "$SANDBOX/frames/frame_002.png" ||
    fail "the reference is not the last raw frame (outlines drawn into it?)"
has_window "$title" || fail "the detection window closed at the end of the stream"
id=$(wait_window "$title")
key "$id" space
wait_exit 30
expect_status 0

echo "PASS"
