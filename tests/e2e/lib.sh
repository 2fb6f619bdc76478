# shellcheck shell=bash disable=SC2034,SC2154 # shared variables with the sourcing script
# Helpers shared by e2e.sh and screenshots.sh: a private X display, a private
# copy of the program with its own key directory, key presses, waits and
# window shots. Source it after setting bin_dir and shot_dir.

caption="Vornik/Tessel OTP Programming Tool G2"
work=$(mktemp -d)
app_dir="$work/app"
mkdir -p "$app_dir" "$shot_dir" "$work/runtime"
chmod 700 "$work/runtime"
# The seed files land in the private copy's folder: a copy outside its build tree
# would otherwise write them into the home folder.
export VN_KEY_DIR="$work/keys" XDG_RUNTIME_DIR="$work/runtime" LC_ALL=C.UTF-8 VNOTP_SEED_DIR="$app_dir" \
    XDG_CONFIG_HOME="$work/config"
# A copy in a private folder, so that a run never writes into the build tree.
cp -P "$bin_dir/vnotp" "$bin_dir"/libVN_Manager.so* "$app_dir/"
vnkey() { "$bin_dir/vnkey" "$@"; }

passes=0
failures=0
app_pid=""
xvfb_pid=""
main_win=""
panel=""
rc=""

cleanup() {
    [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

pass() { echo "PASS: $1"; passes=$((passes + 1)); }
fail() { echo "FAIL: $1${2:+ ($2)}"; failures=$((failures + 1)); }
check() { # check NAME COMMAND...: passes when the command succeeds
    local name=$1
    shift
    if "$@"; then pass "$name"; else fail "$name"; fi
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

find_window() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -1; }
window_shown() { [ -n "$(find_window "$1")" ]; }
window_gone() { ! window_shown "$1"; }
has_focus() { [ "$(xdotool getwindowfocus 2>/dev/null)" = "$1" ]; }
# (xwininfo without a window id would wait for a mouse click.)
mapped() { [ -n "$1" ] && timeout 5 xwininfo -id "$1" 2>/dev/null | grep -q "Map State: IsViewable"; }

# Waits until the window titled TITLE is shown and holds the keyboard focus;
# prints its id. Without a window manager nobody else hands out the focus.
focus_window() {
    local win=""
    wait_for 60 window_shown "$1" || return 1
    win=$(find_window "$1")
    wait_for 5 has_focus "$win" || xdotool windowfocus --sync "$win" 2>/dev/null
    wait_for 5 has_focus "$win" || return 1
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

# Saves a shot of window WIN as NAME.png; fails unless the window is mapped.
shot() {
    mapped "$1" && import -window "$1" "$shot_dir/$2.png" 2>/dev/null && [ -s "$shot_dir/$2.png" ]
}

# Starts the program; sets main_win once its window is mapped and focused.
# Without the window nothing that follows means anything: the run ends.
start_app() {
    # Qt and X11 keep allocations until exit that LeakSanitizer would report
    # in a sanitizer build; the sanitizers' own exit code stays apart from
    # the program's 1 and 2.
    (cd "$app_dir" && QT_QPA_PLATFORM=xcb \
        ASAN_OPTIONS="detect_leaks=0:exitcode=86" UBSAN_OPTIONS="exitcode=87:print_stacktrace=1" \
        exec ./vnotp >>"$work/vnotp.log" 2>&1) &
    app_pid=$!
    wait_for 60 shown_or_ended
    if app_running && main_win=$(focus_window "$caption"); then
        pass "main window mapped and focused"
        sleep 0.3
        return 0
    fi
    fail "main window mapped and focused"
    finish
    exit 1
}

app_running() { [ -n "$app_pid" ] && kill -0 "$app_pid" 2>/dev/null; }
app_ended() { ! kill -0 "$app_pid" 2>/dev/null; }
shown_or_ended() { window_shown "$caption" || app_ended; }

# Waits up to 30 s for the program to end and leaves its exit code in $rc,
# or "hung" after killing it.
app_exit() {
    if wait_for 30 app_ended; then
        wait "$app_pid"
        rc=$?
    else
        kill "$app_pid" 2>/dev/null
        rc=hung
    fi
    app_pid=""
}

# Copies the focused Messages panel as a user would (select all, copy) and
# prints the clipboard. A hung program cannot answer the clipboard request,
# hence the timeout.
panel_text() {
    key ctrl+a ctrl+c
    timeout 10 xclip -o -selection clipboard 2>/dev/null | tr -d '\r'
}

# Copies the panel until COMMAND... accepts its text on standard input, up
# to SECONDS; leaves the last text copied in $panel.
panel_until() {
    local seconds=$1 i
    shift
    for ((i = 0; i < seconds; i++)); do
        panel=$(panel_text)
        "$@" <<<"$panel" && return 0
        sleep 1
    done
    return 1
}

finish() {
    if [ "$failures" -ne 0 ] && [ -s "$work/vnotp.log" ]; then
        echo "--- program output ---"
        tail -40 "$work/vnotp.log"
    fi
    if [ "$failures" -ne 0 ] && [ -s "$work/xvfb.log" ]; then
        echo "--- X server output ---"
        tail -20 "$work/xvfb.log"
    fi
    echo "$passes passed, $failures failed"
    [ "$failures" -eq 0 ]
}
