#!/usr/bin/env bash
# End to end, as a user runs the tool: the built program, linked at load time
# to the built libVN_Manager.so, on a real X display (Xvfb), driven by key
# presses only. Usage: e2e.sh BIN_DIR
set -uo pipefail

bin_dir=$(cd "$1" && pwd)
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

# --- Exit codes: Enter on the token list is command 1 (Escape's 2: at the end).
start_app
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
