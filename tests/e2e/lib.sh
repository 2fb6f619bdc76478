# shellcheck shell=bash disable=SC2034,SC2154 # shared variables with the sourcing script
# Helpers shared by e2e.sh and scripts/screenshots.sh: a private copy of the program
# with its own key directory, on a private X display (x11.sh). Source it after
# setting bin_dir.

caption="Vornik/Tessel OTP Programming Tool G2"
work=$(mktemp -d)
app_dir="$work/app"
mkdir -p "$app_dir" "$work/runtime"
chmod 700 "$work/runtime"
# shellcheck source=x11.sh
source "$(dirname "${BASH_SOURCE[0]}")/x11.sh"
# The seed files land in the private copy's folder: a copy outside its build tree
# would otherwise write them into the home folder.
export VN_KEY_DIR="$work/keys" XDG_RUNTIME_DIR="$work/runtime" LC_ALL=C.UTF-8 VNOTP_SEED_DIR="$app_dir" \
    XDG_CONFIG_HOME="$work/config"
# A copy in a private folder, so that a run never writes into the build tree.
cp -P "$bin_dir/vnotp" "$bin_dir"/libVN_Manager.so* "$app_dir/"
vnkey() { "$bin_dir/vnkey" "$@"; }

app_pid=""
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
