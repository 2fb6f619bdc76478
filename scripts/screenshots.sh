#!/usr/bin/env bash
# Takes the README's screenshots the way tests/e2e/e2e.sh drives the program: a fresh
# virtual key, three tokens programmed, a PIN policy enabled, a PIN set and
# asked for, all by keyboard. Not run by CTest.
# Usage: screenshots.sh BIN_DIR [OUT_DIR]   (OUT_DIR defaults to docs/)
set -uo pipefail

bin_dir=$(cd "$1" && pwd)
out_dir=${2:-$(cd "$(dirname "$0")/.." && pwd)/docs}
# shellcheck source=../tests/e2e/lib.sh
source "$(dirname "$0")/../tests/e2e/lib.sh"
pin="k7Rv9q2m"

# Saves window WIN, once it is mapped, as OUT_DIR/NAME.png, at most 800
# pixels wide, 256 colours. (xwininfo without a window id would wait for a
# mouse click.)
doc_shot() {
    [ -n "$1" ] && timeout 5 xwininfo -id "$1" 2>/dev/null | grep -q "Map State: IsViewable" &&
        import -window "$1" "$work/$2.png" 2>/dev/null && mkdir -p "$out_dir" &&
        convert "$work/$2.png" -resize '800x>' -strip -colors 256 "PNG8:$out_dir/$2.png"
}

# From the focused New Token button: the dialog, the keys KEYS... pressed
# from the Algorithm group (the dialog opens with the focus on its HOTP
# button; the keys end on the Time Interval group), a generated seed, a user
# name, Save.
new_token() {
    local user=$1 shot=$2 dialog
    shift 2
    key space
    dialog=$(focus_window "New Token") || return 1
    key "$@"
    press 5 Tab # Append ENTER, serial, its Generate, seed, its Generate
    key space Tab
    xdotool type --delay 80 "$user"
    [ -n "$shot" ] && doc_shot "$dialog" "$shot"
    key Tab space
    wait_for 30 window_gone "New Token" && main_win=$(focus_window "$caption")
}

start_display
vnkey create VT20240611 --touch auto:0 --plug >/dev/null
start_app
press 8 Tab # New Token
check "TOTP token, 6 digits, 30 s" new_token alice@example.org new-token-dialog Tab Tab Tab
check "TOTP token, 8 digits, 60 s" new_token bob@example.org "" Tab Tab Down Tab Down
check "HOTP token, SHA-256" new_token "" "" space Tab Down Tab Tab

# PIN Policy: two Tabs from New Token; Space ticks Enabled, then the values.
press 2 Tab
key space
dialog=$(focus_window "PIN Policy")
key space
for value in 6 2 0 0 0 3 2 90; do
    key Tab
    xdotool type "$value"
done
check "shot: PIN Policy" doc_shot "$dialog" pin-policy-dialog
key Return
check "PIN Policy saved" wait_for 30 window_gone "PIN Policy"
main_win=$(focus_window "$caption")

# Update PIN (now "Set PIN"): new PIN and its confirmation.
key Tab space
dialog=$(focus_window "Update PIN")
xdotool type --delay 80 "$pin"
key Tab
xdotool type --delay 80 "$pin"
check "shot: Update PIN" doc_shot "$dialog" update-pin-dialog
key Return
check "PIN set" wait_for 30 window_gone "Update PIN"
check "the key holds an access code" grep -q "Access code: set" <<<"$(vnkey show VT20240611)"
main_win=$(focus_window "$caption")

# Get OTP on the first token asks for the PIN.
press 8 shift+Tab
key Down space
press 4 Tab
key space
dialog=$(focus_window "PIN")
xdotool type --delay 80 "$pin"
check "shot: PIN" doc_shot "$dialog" pin-dialog
key Return
main_win=$(focus_window "$caption")
press 6 shift+Tab
check "OTP shown" panel_until 30 grep -q "^TOTP = "
key ctrl+End # drop the selection the copy left
check "shot: main window" doc_shot "$main_win" main-window
finish
