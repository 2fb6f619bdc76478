# shellcheck shell=bash disable=SC2034,SC2154 # shared variables with the sourcing script
# Checks, a private X display and key presses, shared by e2e.sh, scripts/screenshots.sh
# and the package test. Source it after setting work (a scratch folder).

passes=0
failures=0
xvfb_pid=""
pass() { echo "PASS: $1"; passes=$((passes + 1)); }
fail() { echo "FAIL: $1${2:+ ($2)}"; failures=$((failures + 1)); }
check() { # check NAME COMMAND...: passes when the command succeeds
    local name=$1
    shift
    if "$@"; then pass "$name"; else fail "$name"; fi
}

# Polls COMMAND... every 0.1 s for up to SECONDS.
wait_for() {
    local seconds=$1
    shift
    local i
    for ((i = 0; i < seconds * 10; i++)); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}

# A display of our own. Xvfb picks a free number itself (-displayfd) and
# writes it only once it listens, so nothing connects before the server is
# there and no other X server's number is taken. -noreset: by default the
# server resets when its last client disconnects and drops every connection
# that arrives during the reset, so a program started just after another one
# ended (xdotool, the previous run of the tool) could not connect.
start_display() {
    : >"$work/display"
    Xvfb -displayfd 3 -noreset -screen 0 1280x1024x24 -nolisten tcp \
        3>"$work/display" >"$work/xvfb.log" 2>&1 &
    xvfb_pid=$!
    if wait_for 30 display_reported && kill -0 "$xvfb_pid" 2>/dev/null; then
        DISPLAY=":$(head -1 "$work/display")"
        export DISPLAY
        # The pointer rests in a corner, off every window, so that keys reach
        # only the window that holds the focus.
        xdotool mousemove 0 0 && return 0
    fi
    echo "FAIL: no X display could be started"
    sed 's/^/Xvfb: /' "$work/xvfb.log"
    exit 1
}
# The number is complete with its newline; a server that died reports none.
display_reported() { [ "$(wc -l <"$work/display")" -ge 1 ] || ! kill -0 "$xvfb_pid" 2>/dev/null; }

find_window() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -1; }
window_shown() { [ -n "$(find_window "$1")" ]; }
window_gone() { ! window_shown "$1"; }
has_focus() { [ "$(xdotool getwindowfocus 2>/dev/null)" = "$1" ]; }
# Without a window manager nobody else hands out the focus: asks for it until
# the window has it (a window only just mapped may refuse it).
take_focus() { has_focus "$1" || { xdotool windowfocus "$1" 2>/dev/null; false; }; }

# Waits until the window titled TITLE is shown and holds the keyboard focus;
# prints its id.
focus_window() {
    local win=""
    wait_for 60 window_shown "$1" || return 1
    win=$(find_window "$1")
    wait_for 5 take_focus "$win" || return 1
    echo "$win"
}

key() { # one key press at a time, as a person types
    local k
    for k in "$@"; do
        xdotool key --clearmodifiers "$k"
        sleep 0.15
    done
}
press() { # press N KEY
    local i
    for ((i = 0; i < $1; i++)); do key "$2"; done
}

# The program's and the X server's last words when a check failed; the count.
finish() {
    local log
    for log in vnotp.log xvfb.log; do
        if [ "$failures" -ne 0 ] && [ -s "$work/$log" ]; then
            echo "--- $log ---"
            tail -40 "$work/$log"
        fi
    done
    echo "$passes passed, $failures failed"
    [ "$failures" -eq 0 ]
}
