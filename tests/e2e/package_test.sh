# The Debian package as a user gets it: built by CPack, unpacked into a
# temporary root, and the installed program run on the installed sample photo,
# making its own lattice as the installed lattice writer does.
source "$E2E_LIB"
: "${CPACK_CONFIG:?path of CPackConfig.cmake in the build folder}"

new_sandbox
packages="$SANDBOX/packages"
(cd "$SANDBOX" && cpack -G DEB --config "$CPACK_CONFIG" -B "$packages" >"$SANDBOX/cpack.txt" 2>&1) ||
    { cat "$SANDBOX/cpack.txt"; fail "cpack could not build the package"; }
deb=$(find "$packages" -maxdepth 1 -name 'tintsmith_*.deb' | head -n 1)
[ -n "$deb" ] || fail "no .deb was made"
root="$SANDBOX/root"
dpkg-deb -x "$deb" "$root" || fail "the package does not unpack"

echo "case: the package holds the program, its lattice writer, menu entry, icon and sample photo"
for file in usr/bin/tintsmith usr/bin/tintsmith-make-lattice usr/share/tintsmith/cc.jpg \
    usr/share/applications/tintsmith.desktop usr/share/icons/hicolor/scalable/apps/tintsmith.svg \
    usr/share/icons/hicolor/48x48/apps/tintsmith.png usr/share/doc/tintsmith/copyright \
    usr/share/man/man1/tintsmith.1.gz; do
    expect_file "$root/$file"
done
entry="$root/usr/share/applications/tintsmith.desktop"
for line in "Exec=tintsmith --hold" "Icon=tintsmith" "Terminal=true" "Type=Application"; do
    grep -qx "$line" "$entry" || fail "the menu entry lacks '$line'"
done
depends=$(dpkg-deb -f "$deb" Depends)
[[ "$depends" == *libopencv-core* && "$depends" == *libc6* ]] ||
    fail "dependencies do not come from the linked libraries: '$depends'"
cmp -s "$root/usr/share/tintsmith/cc.jpg" "$ASSETS/cc.jpg" || fail "the sample photo differs"

export PATH="$root/usr/bin:$PATH"
TINTSMITH="$root/usr/bin/tintsmith"
cp "$root/usr/share/tintsmith/cc.jpg" "$WORK/cc.jpg"

echo "case: without original.png the installed program writes it, as the installed lattice writer does"
run_clean
(cd "$SANDBOX" && tintsmith-make-lattice "$SANDBOX/lattice.png") || fail "the lattice writer failed"
cmp -s "$WORK/original.png" "$SANDBOX/lattice.png" || fail "original.png is not the lattice writer's file"
expect_stdout_has "Wrote the identity lattice that Tintsmith turns into the LUT: $WORK/original.png"
"$E2E_TOOL" cube-matches "$WORK/cc_LUT.cube" "$WORK/cc_LUT.png" || fail "cube and PNG LUT differ"

echo "case: the lattice writer's help, and wrong arguments that are never a file name"
(cd "$SANDBOX" && tintsmith-make-lattice --help >"$OUT") || fail "--help did not exit 0"
expect_line 1 "usage: tintsmith-make-lattice OUTPUT.png"
for wrong in --bogus ""; do
    (cd "$SANDBOX" && tintsmith-make-lattice $wrong >"$OUT")
    [ $? -eq 2 ] || fail "'tintsmith-make-lattice $wrong' did not exit 2"
done
expect_no_file "$SANDBOX/--bogus"

echo "case: from the menu, the console tells how the run ended and stays until Enter"
exec_line=$(sed -n 's/^Exec=//p' "$entry")
session="tintsmith-menu-$$"
# no display here: the run ends at once, exit 4, as a run from the menu would
tmux new-session -d -s "$session" -x 220 -y 40 \
    "cd '$SANDBOX' && env -u DISPLAY HOME='$HOME' PATH='$PATH' $exec_line; echo \"ended \$?\"; sleep 60"
trap 'tmux kill-session -t "$session" 2>/dev/null; cleanup' EXIT
pane() { tmux capture-pane -p -J -t "$session"; }
deadline=$((SECONDS + 30))
until pane | grep -q "Press Enter to close this window."; do
    [ "$SECONDS" -lt "$deadline" ] || fail "the console did not wait: $(pane)"
    sleep 0.2
done
pane | grep -q "Tintsmith ended without writing all it set out to" || fail "no words on how it ended: $(pane)"
pgrep -x -P "$(tmux list-panes -t "$session" -F '#{pane_pid}')" tintsmith >/dev/null ||
    fail "the program did not wait for Enter: $(pane)"
tmux send-keys -t "$session" Enter
deadline=$((SECONDS + 30))
until pane | grep -q "^ended 4$"; do
    [ "$SECONDS" -lt "$deadline" ] || fail "Enter did not end it (or not with 4): $(pane)"
    sleep 0.2
done

echo "PASS"
