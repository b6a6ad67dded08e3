# A long batch keeps the result window alive: its title counts the photos,
# keys pressed meanwhile are dropped, and the window's own title returns when
# the batch is done; only a key after that ends the run.
source "$E2E_LIB"

readonly kResult="Image and areas used to create LUTs | Press any key to exit"
readonly kPhotos=300

echo "case: the title counts $kPhotos photos, then returns; an early key is dropped"
new_sandbox
seed_inputs
"$E2E_TOOL" image noise "$WORK/photo.jpg" || fail "could not make a photo"
for i in $(seq -w 1 "$kPhotos"); do cp "$WORK/photo.jpg" "$WORK/Photos/IMG_$i.jpg"; done
rm "$WORK/photo.jpg"
start_program
id=$(wait_window "Settings")
toggle_box "$id" 200 160 on  # "Batch Process Photos"
tick_classic "$id"
key "$id" Escape

# the window comes up under its count
deadline=$((SECONDS + 120))
id=""
while [ -z "$id" ]; do
    kill -0 "$PID" 2>/dev/null || fail "program ended before the batch was seen"
    [ "$SECONDS" -lt "$deadline" ] || fail "no window titled 'Correcting photos: k of $kPhotos'"
    id=$(xdotool search --onlyvisible --pid "$PID" --name "^Correcting photos: [0-9]+ of $kPhotos\$" 2>/dev/null | head -n 1)
done
key "$id" space  # during the batch: must not end the run

# every title until the window's own one returns
counts=()
while :; do
    kill -0 "$PID" 2>/dev/null || fail "program ended during the batch (titles: ${counts[*]})"
    [ "$SECONDS" -lt "$deadline" ] || fail "the title did not return (titles: ${counts[*]})"
    title=$(xdotool getwindowname "$id" 2>/dev/null) || fail "the result window went away"
    [ "$title" = "$kResult" ] && break
    [[ "$title" =~ ^Correcting\ photos:\ ([0-9]+)\ of\ $kPhotos$ ]] || fail "unexpected title '$title'"
    k=${BASH_REMATCH[1]}
    [ "${#counts[@]}" -eq 0 ] || [ "$k" -ge "${counts[-1]}" ] || fail "the count went back: ${counts[*]} $k"
    [ "${#counts[@]}" -gt 0 ] && [ "$k" -eq "${counts[-1]}" ] || counts+=("$k")
done
[ "${#counts[@]}" -ge 2 ] || fail "the title did not count (titles: ${counts[*]})"
echo "  counts seen: ${counts[*]}"

# the early key was dropped: the program waits for one now
kill -0 "$PID" 2>/dev/null || fail "the key pressed during the batch ended the run"
key "$id" space
wait_exit 60
expect_status 0
expect_line 1 "Batch: $kPhotos corrected, 0 skipped, 0 failed; the corrected photos are in $WORK/ccPhotos/"
expect_report
[ "$(ls "$WORK/ccPhotos" | wc -l)" -eq "$kPhotos" ] || fail "not every photo was corrected"
"$E2E_TOOL" cube-matches "$WORK/cc_LUT.cube" "$WORK/cc_LUT.png" >/dev/null || fail "LUT files not written whole"

echo "PASS"
