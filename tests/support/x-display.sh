#!/bin/bash
# Sourced by the tests that drive the program on a real X display: a private Xvfb, and searches
# that stand up to windows coming and going while xdotool looks at them.
# The caller ends the processes in its array pids afterwards.

# A display number of its own, drawn at random above the ones desktops and other tools take, so
# that test runs side by side never meet over the first free number; one that is taken makes the
# server end at once, and another is drawn. Without -noreset the server resets whenever its last
# client leaves, and refuses a client that connects meanwhile: the program starting while a search
# of xdotool ends.
#   start_display SCRATCH-FOLDER
start_display() {
    local number server
    for _ in $(seq 20); do
        number=$((100 + RANDOM % 800))
        rm -f "$1/display"
        Xvfb ":$number" -displayfd 3 -nolisten tcp -noreset -screen 0 1280x900x24 3>"$1/display" 2>/dev/null &
        server=$!
        for _ in $(seq 100); do
            [ -s "$1/display" ] && break
            kill -0 "$server" 2>/dev/null || break
            sleep 0.1
        done
        if [ -s "$1/display" ]; then
            pids+=("$server")
            DISPLAY=":$number"
            export DISPLAY
            unset QT_QPA_PLATFORM
            return 0
        fi
        kill "$server" 2>/dev/null
        wait "$server" 2>/dev/null
    done
    echo "FAIL: no virtual display could be started" >&2
    exit 1
}

# One search can come back empty or fail when a window goes while it looks (a box closing, another
# instance ending): search again until the bound.
window_id() {
    local deadline=$((SECONDS + $2)) id
    while [ "$SECONDS" -lt "$deadline" ]; do
        id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1 || true)
        [ -n "$id" ] && { echo "$id"; return 0; }
        sleep 0.1
    done
}

# No window manager runs here, and a window just mapped may not take the focus yet: give it the
# focus directly, trying for a few seconds.
press() {
    for _ in $(seq 25); do
        xdotool windowfocus --sync "$1" key "$2" 2>/dev/null && return 0
        sleep 0.2
    done
    fail "could not press $2 in window $1"
}
