#!/usr/bin/env bash
# End to end, as a user runs the tool: the built program, linked at load time
# to the built libVN_Manager.so, on a real X display (Xvfb), driven by key
# presses only. Usage: e2e.sh BIN_DIR
set -uo pipefail

bin_dir=$(cd "$1" && pwd)
# A session bus of its own, for the accessibility bus the window answers on.
if [ -z "${E2E_SESSION_BUS:-}" ]; then
    E2E_SESSION_BUS=1 exec dbus-run-session -- bash "$0" "$@" 2> >(grep -v "fd limit" >&2)
fi
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
# shellcheck source=lib.sh
source "$(dirname "$0")/lib.sh"
a11y_buttons() { /usr/bin/python3 "$(dirname "$0")/a11y_buttons.py" "$caption" "$@"; }
# Pixels of PNG file $1 that differ from $2 within the rectangle WxH+X+Y $3.
pixels_changed() {
    convert "$1" -crop "$3" +repage "$work/crop1.png" &&
        convert "$2" -crop "$3" +repage "$work/crop2.png" &&
        compare -metric AE -fuzz 10% "$work/crop1.png" "$work/crop2.png" null: 2>&1 | cut -d' ' -f1
}
# WxH+X+Y of window $1 inside window $2.
geometry_in() {
    local x y w h px py
    read -r x y w h < <(xwininfo -id "$1" | awk '/Absolute upper-left X/ {x=$NF}
        /Absolute upper-left Y/ {y=$NF} /Width/ {w=$NF} /Height/ {h=$NF} END {print x, y, w, h}')
    read -r px py < <(xwininfo -id "$2" | awk '/Absolute upper-left X/ {x=$NF}
        /Absolute upper-left Y/ {y=$NF} END {print x, y}')
    echo "${w}x${h}+$((x - px))+$((y - py))"
}

at_least() { [ "$(grep -cF "$2")" -ge "$1" ]; } # at_least N TEXT < input
# The latest discovery (the panel from the last "Found a ..." on) listed tokens.
listed_again() {
    local b
    b=$(awk '/^Found a Vornik/ { b = "" } { b = b $0 "\n" } END { printf "%s", b }' <<<"$panel")
    grep -qFx "List tokens succeeded!" <<<"$b" && ! grep -qF "No OTP token" <<<"$b"
}

start_display
vnkey create E2EKEY01 --touch auto:0 --plug >/dev/null || { echo "FAIL: vnkey create"; exit 1; }

# --- Exit codes: Enter on the token list is command 1 (Escape's 2: at the end).
start_app
# The window manager is given the icon's own pixels (decoded off the start's
# path): 128x128 ARGB as the file holds them, opaque pixels exactly and
# translucent ones up to the rounding of Qt's premultiplied pixmaps.
icon_matches_file() {
    xprop -id "$main_win" -notype 32c _NET_WM_ICON 2>/dev/null |
        /usr/bin/python3 -c '
import struct, subprocess, sys
values = [int(v) for v in sys.stdin.read().split("=", 1)[1].split(",")]
rgba = subprocess.run(["convert", sys.argv[1], "-depth", "8", "rgba:-"], capture_output=True).stdout
pixels = list(struct.iter_unpack("4B", rgba))
def same(file, shown):
    r, g, b, a = file
    got = [shown >> 16 & 255, shown >> 8 & 255, shown & 255]
    slack = 0 if a == 255 else 4
    return shown >> 24 == a and (a == 0 or all(abs(x - y) <= slack for x, y in zip(got, (r, g, b))))
sys.exit(values[:2] != [128, 128] or len(values) != 2 + len(pixels) or len(pixels) != 128 * 128
         or not all(same(p, v) for p, v in zip(pixels, values[2:])))' "$(dirname "$0")/../../res/icon128.png"
}
check "the window carries the icon file's pixels" icon_matches_file
press 3 Tab
key Return
app_exit
check "Enter on the token list ends the program with 1 (got $rc)" test "$rc" = 1

# --- New Token: Tab to the button, Space; in the dialog Tab to the seed's
# Generate button, Space, Tab to Save, Space.
start_app
press 8 Tab
key space
dialog=$(focus_window "New Token")
check "New Token dialog opened by the keyboard" test -n "$dialog"
press 8 Tab
key space
press 2 Tab
key space
check "Save closes the New Token dialog" wait_for 30 window_gone "New Token"
# Without a window manager nobody gives the focus back to the main window.
focus_window "$caption" >/dev/null

# The seed file and the key hold the same token (a 20-byte seed, or the key
# would refuse it). The seed files' format, byte for byte: records_test.
csv_text=$(iconv -f UTF-16LE -t UTF-8 "$app_dir/tseeds.csv" 2>/dev/null | tr -d '\r')
IFS=, read -r _ serial base32 _ <<<"$(sed -n 2p <<<"$csv_text")"
check "tseeds.csv holds one row" test "$(wc -l <<<"$csv_text")" = 2
check "serial proposed from the key's serial" test "$serial" = E2EKEY0101
hex=$(base32 -d <<<"$base32" 2>/dev/null | od -An -tx1 | tr -d ' \n')
check "the key holds the token with that seed" grep -Eq \
    "^ +$serial +TOTP SHA-1 +6 digits, interval 30, seed $hex\$" \
    <<<"$(vnkey show E2EKEY01 --secrets)"

# --- Get OTP: Shift+Tab back to the token list, Down and Space select the
# row (the list puts its focus on the first row when tabbed into, so with one
# row Down alone does not move), Tab to Get OTP, Space; then to the Messages
# panel to copy its text.
press 5 shift+Tab
key Down space
press 4 Tab
before=$(date +%s)
key space
press 6 shift+Tab
panel_until 30 grep -Eq "^TOTP = [0-9]{6}\$"
after=$(date +%s)
otp=$(grep -Eo "^TOTP = [0-9]{6}\$" <<<"$panel" | tail -1 | cut -c8-)
expected=$(for t in "$before" "$after"; do oathtool --totp -b -N "@$t" "$base32"; done)
check "Get OTP shows the value oathtool computes ($otp)" \
    test -n "$otp" -a -n "$(grep -Fx "$otp" <<<"$expected")"
check "Messages panel names the serial and seed" grep -qF "SN=$serial, SEED=${hex^^}" <<<"$panel"

# --- A wait for a touch, seen from outside. A PIN policy and a PIN (PIN Policy
# is nine Tabs from the panel, Update PIN one further), then Get OTP on the
# selected token with a key that waits for `vnkey touch`: the PIN dialog
# closes and the key waits. Meanwhile the window answers the accessibility
# bus at once, its buttons that start work on the key are off, it shows the
# prompt, and where the PIN dialog was it shows what it showed before.
pin=k7Rv9q2m
press 9 Tab
key space
focus_window "PIN Policy" >/dev/null
key space
for value in 6 2 0 0 0 3 2 90; do
    key Tab
    xdotool type "$value"
done
key Return
check "PIN policy saved" wait_for 30 window_gone "PIN Policy"
main_win=$(focus_window "$caption")
key Tab space
focus_window "Update PIN" >/dev/null
xdotool type --delay 50 "$pin"
key Tab
xdotool type --delay 50 "$pin"
key Return
check "PIN set" wait_for 30 window_gone "Update PIN"
main_win=$(focus_window "$caption")
vnkey set E2EKEY01 --touch manual --timeout 60 >/dev/null
check "the window is on the accessibility bus" wait_for 20 a11y_buttons 5000
press 4 shift+Tab
import -window "$main_win" "$work/before.png"
key space
dialog=$(focus_window "PIN")
region=$(geometry_in "$dialog" "$main_win")
xdotool type --delay 50 "$pin"
key Return
check "the PIN dialog closes" wait_for 10 window_gone "PIN"
sleep 0.5
answer=$(a11y_buttons 200)
check "the waiting window answers the accessibility bus within 200 ms ($(head -1 <<<"$answer"))" \
    test "$(head -1 <<<"$answer" | tr -dc 0-9)" -le 200
check "no button that starts work on the key is on" test "$(grep -P '\ton$' <<<"$answer" |
    cut -f1 | sort | tr '\n' ,)" = "About,Clear,"
check "the touch prompt is in the status line" grep -qxF "Please touch the key...	label" \
    <<<"$(a11y_buttons 200 --labels)"
import -window "$main_win" "$work/during.png"
changed=$(pixels_changed "$work/before.png" "$work/during.png" "$region")
area=$(($(cut -dx -f1 <<<"$region") * $(cut -dx -f2 <<<"$region" | cut -d+ -f1)))
check "no ghost of the PIN dialog ($changed of $area pixels changed)" \
    test "$changed" -lt $((area / 50))
vnkey touch E2EKEY01 >/dev/null
vnkey set E2EKEY01 --touch auto:0 >/dev/null
xdotool mousemove --window "$main_win" 100 "$(($(xwininfo -id "$main_win" |
    awk '/Height/ {print $NF}') - 60))" click 1
check "Get OTP goes on after the touch" panel_until 30 at_least 2 "Get OTP succeeded!"

# --- Hot-plug while the program runs. The focus stays on the Messages panel:
# Tab is Refresh, Shift+Tab comes back.
vnkey unplug E2EKEY01 >/dev/null
sleep 1 # the removal reaches the program before the Refresh does
key Tab space shift+Tab
check "Refresh without the key reports it missing" \
    panel_until 20 grep -qF "Failed to list tokens (error = 0x80564E02)"

vnkey plug E2EKEY01 >/dev/null
check "the plugged-in key is found again" \
    panel_until 30 at_least 2 "Found a Vornik/Tessel device."
check "its token is listed again" listed_again

vnkey create E2EKEY02 --touch auto:0 --plug >/dev/null
check "a second key is reported" \
    panel_until 30 grep -qF "Multiple Vornik/Tessel devices found (Error= 0x80564E03)"
key Escape
app_exit
check "Escape ends the program with 2 (got $rc)" test "$rc" = 2

check "no sanitizer report" test -z "$(grep -E "ERROR: (Address|Leak)Sanitizer|runtime error:" \
    "$work/vnotp.log")"
finish
