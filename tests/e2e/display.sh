#!/usr/bin/env bash
# A private X display, for the end-to-end tests (a ctest fixture) and the
# Windows build under Wine.
#   display.sh start FILE   starts Xvfb and writes "display-number process-id" to FILE
#   display.sh stop FILE    stops it
set -euo pipefail
file=${2:?usage: display.sh start|stop FILE}
case ${1:-} in
start)
    # Xvfb picks a free number and writes it to the pipe once it accepts
    # clients; -noreset, because a server that resets when its last client
    # leaves refuses the next client meanwhile. Its own session, and no
    # descriptor of ours, so that it outlives this script.
    pipe=$(mktemp -u)
    mkfifo "$pipe"
    setsid Xvfb -displayfd 3 -screen 0 1920x1200x24 -nolisten tcp -noreset \
        3>"$pipe" </dev/null >/dev/null 2>&1 &
    pid=$!
    if ! read -r -t 60 display <"$pipe"; then
        kill "$pid" 2>/dev/null || true
        rm -f "$pipe"
        echo "Xvfb did not start"
        exit 1
    fi
    rm -f "$pipe"
    echo "$display $pid" >"$file"
    echo "display :$display (Xvfb $pid)"
    ;;
stop)
    [ -f "$file" ] || exit 0
    read -r display pid <"$file"
    kill "$pid" 2>/dev/null || true
    rm -f "$file"
    ;;
*)
    echo "usage: display.sh start|stop FILE"
    exit 2
    ;;
esac
