#!/usr/bin/env bash
# End to end, as a user runs the tool: the built program, linked at load time
# to the built libVN_Manager.so, on a real X display (Xvfb), driven by key
# presses only. Usage: e2e.sh BIN_DIR [SHOT_DIR]
set -uo pipefail

bin_dir=$(cd "$1" && pwd)
shot_dir=${2:-$PWD/e2e-shots}
# shellcheck source=lib.sh
source "$(dirname "$0")/lib.sh"

at_least() { [ "$(grep -cF "$2")" -ge "$1" ]; } # at_least N TEXT < input
# The latest discovery (the panel from the last "Found a ..." on) listed tokens.
listed_again() {
    local b
    b=$(awk '/^Found a Vornik/ { b = "" } { b = b $0 "\n" } END { printf "%s", b }' <<<"$panel")
    grep -qFx "List tokens succeeded!" <<<"$b" && ! grep -qF "No OTP token" <<<"$b"
}

start_display
vnkey create E2EKEY01 --touch auto:0 --plug >/dev/null || { echo "FAIL: vnkey create"; exit 1; }

# --- Exit codes: Escape is command 2; Enter on the token list is command 1.
start_app
check "shot: start" shot "$main_win" 01-start
key Escape
app_exit
check "Escape ends the program with 2 (got $rc)" test "$rc" = 2

start_app
check "shot: second start" shot "$main_win" 02-restart
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
check "shot: New Token dialog with a seed" shot "$dialog" 03-new-token
press 2 Tab
key space
check "Save closes the New Token dialog" wait_for 30 window_gone "New Token"
# Without a window manager nobody gives the focus back to the main window.
main_win=$(focus_window "$caption")

# The seed files beside the executable, and the key, hold the same token.
xml="$app_dir/tseeds.xml"
csv_text=$(iconv -f UTF-16LE -t UTF-8 "$app_dir/tseeds.csv" 2>/dev/null | tr -d '\r')
check "tseeds.xml beside the executable" test -s "$xml"
check "tseeds.csv beside the executable" test -s "$app_dir/tseeds.csv"
check "tseeds.csv header" test "$(head -1 <<<"$csv_text")" = \
    "UPN, Serial Number, Secret Key, Time Interval, Manufacturer, Model"
IFS=, read -r upn serial base32 interval maker model <<<"$(sed -n 2p <<<"$csv_text")"
check "tseeds.csv holds one row" test "$(wc -l <<<"$csv_text")" = 2
check "tseeds.csv row fields" test "$upn|$interval|$maker|$model" = "|30|Halvorn Security|Vornik"
check "serial proposed from the key's serial" test "$serial" = E2EKEY0101
hex=$(base32 -d <<<"$base32" 2>/dev/null | od -An -tx1 | tr -d ' \n')
check "a 20-byte generated seed" test ${#hex} = 40
xml_has() { grep -qF "<serial>$serial</serial>" "$xml" && grep -qF "<seed>${hex^^}</seed>" "$xml"; }
check "tseeds.xml holds the serial and the seed in uppercase hex" xml_has
check "no HOTP seed files" test ! -e "$app_dir/hseeds.xml" -a ! -e "$app_dir/hseeds.csv"
check "the key holds the token with that seed" grep -Eq \
    "^ +$serial +TOTP SHA-1 +6 digits, interval 30, seed $hex\$" \
    <<<"$(vnkey show E2EKEY01 --secrets)"
check "shot: token saved" shot "$main_win" 04-token-saved

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
check "shot: OTP" shot "$main_win" 05-otp

# --- Hot-plug while the program runs. The focus stays on the Messages panel:
# Tab is Refresh, Shift+Tab comes back.
vnkey unplug E2EKEY01 >/dev/null
sleep 1 # the removal reaches the program before the Refresh does
key Tab space shift+Tab
check "Refresh without the key reports it missing" \
    panel_until 20 grep -qF "Failed to list tokens (error = 0x80564E02)"
check "shot: unplugged" shot "$main_win" 06-unplugged

vnkey plug E2EKEY01 >/dev/null
check "the plugged-in key is found again" \
    panel_until 30 at_least 2 "Found a Vornik/Tessel device."
check "its token is listed again" listed_again
check "shot: plugged in again" shot "$main_win" 07-replugged

vnkey create E2EKEY02 --touch auto:0 --plug >/dev/null
check "a second key is reported" \
    panel_until 30 grep -qF "Multiple Vornik/Tessel devices found (Error= 0x80564E03)"
check "shot: two keys" shot "$main_win" 08-two-keys
check "program still running" app_running
key Escape
app_exit
check "Escape after the hot-plugs ends the program with 2 (got $rc)" test "$rc" = 2

check "no sanitizer report" test -z "$(grep -E "ERROR: (Address|Leak)Sanitizer|runtime error:" \
    "$work/vnotp.log")"
finish
