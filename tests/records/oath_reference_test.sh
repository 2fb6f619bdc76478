#!/usr/bin/env bash
# A pam_oath users file checked against the programs that read it: liboath
# (usersfile), pam_oath loaded by libpam with our own PAM folder (pam), and
# FreeRADIUS through rlm_pam (radius, root only). OTPs come from oathtool.
# usage: oath_reference_test.sh OATH_CHECK PAM_OATH_MODULE BACKEND...
# Exit 0 passed, 1 failed, 77 skipped.
set -uo pipefail
check=$1 module=$2
shift 2
source "$(dirname "$0")/radius.sh"
RADIUS_PAM_OATH=$module
work=$(mktemp -d)
trap 'radius_stop; rm -rf "$work"' EXIT
trap 'exit 1' INT TERM HUP
umask 077

sa=3132333435363738393031323334353637383930 # alice, HOTP
sb=0f1e2d3c4b5a69788796a5b4c3d2e1f001234567 # bob, TOTP 30 s, 6 digits
se=A1B2C3D4E5F60718293A4B5C6D7E8F9001122334 # erin, TOTP 60 s, 8 digits, upper case
sc=00112233445566778899aabbccddeeff00112233 # carol, written first
sd=ffeeddccbbaa99887766554433221100ffeeddcc # dave, never asked for
hotp() { oathtool -c "$2" "$1"; }
bob_now=$(oathtool --totp "$sb") erin_now=$(oathtool --totp -s 60 -d 8 "$se")
T=$'\t' ts='[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}L'

# The file as written, and each line as it must read after the cases below:
# an accepted OTP rewrites its user's line with counter, OTP and time; every
# other line stays byte for byte.
lines=("# users file of the reference test  " "HOTP carol - $sc"
    "HOTP   dave$T-  $sd  " "HOTP alice - $sa" "HOTP/T30/6 bob - $sb" "HOTP/T60/8 erin - $se" "#")
after=("# users file of the reference test  " "HOTP${T}carol$T-$T$sc${T}0$T$(hotp $sc 0)$T$ts"
    "HOTP   dave$T-  $sd  " "HOTP${T}alice$T-$T$sa${T}1$T$(hotp $sa 1)$T$ts"
    "HOTP/T30/6${T}bob$T-$T$sb$T[0-9]+$T$bob_now$T$ts"
    "HOTP/T60/8${T}erin$T-$T$se$T[0-9]+$T$erin_now$T$ts" "#")

# user | OTP | 0 accepted, 1 refused | what
cases=("alice|$(hotp $sa 0)|0|HOTP: the first OTP is accepted"
    "alice|$(hotp $sa 0)|1|HOTP: a replayed OTP is refused"
    "alice|$(hotp $sa 1)|0|HOTP: the next OTP is accepted"
    "alice|$(hotp $sa 40)|1|HOTP: an OTP far beyond the counter is refused"
    "bob|$bob_now|0|TOTP 30 s 6 digits: the current OTP is accepted"
    "bob|$bob_now|1|TOTP: a replayed OTP is refused"
    "bob|$(oathtool --totp -N 'now -1 hour' "$sb")|1|TOTP: an hour-old OTP is refused"
    "erin|$erin_now|0|TOTP 60 s 8 digits, upper-case seed: the current OTP is accepted"
    "erin|$(oathtool --totp -s 60 -d 8 "$sb")|1|TOTP: another seed's OTP is refused"
    "carol|$(hotp $sc 0)|0|a user written before still authenticates"
    "mallory|$(hotp $sa 2)|1|a user not in the file is refused")

failed=0
fail() { echo "FAIL [$backend] $*"; failed=1; }
for backend in "$@"; do
    file=$work/users.$backend
    printf '%s\n' "${lines[@]}" >"$file"
    case $backend in
    usersfile) auth() { "$check" usersfile "$file" "$1" "$2" 5 >/dev/null; } ;;
    pam)
        mkdir -p "$work/pam.d"
        echo "auth required $module usersfile=$file window=5" >"$work/pam.d/oathref"
        auth() { "$check" pam "$work/pam.d" oathref "$1" "$2" >/dev/null 2>&1; }
        ;;
    radius)
        radius_start "$file" || exit
        auth() { radius_auth "$@"; }
        ;;
    *) echo "unknown backend $backend" && exit 2 ;;
    esac
    for c in "${cases[@]}"; do
        IFS='|' read -r user otp want what <<<"$c"
        got=0 && auth "$user" "$otp" || got=$?
        [ "$got" = "$want" ] && echo "ok [$backend] $what" || fail "$what: exit code $got, wanted $want"
    done
    mapfile -t now <"$file"
    [ ${#now[@]} -eq ${#after[@]} ] || fail "the file has ${#now[@]} lines, wanted ${#after[@]}"
    for i in "${!after[@]}"; do
        [[ ${now[i]-} =~ ^${after[i]}$ ]] || fail "line $((i + 1)) reads '${now[i]-}'"
    done
    [ "$(stat -c '%a %u' "$file")" = "600 $(id -u)" ] || fail "file mode/owner $(stat -c '%a %u' "$file")"
    [ ! -e "$file.lock" ] && [ ! -e "$file.new" ] || fail "lock or temporary file left behind"
    [ $failed -eq 0 ] && echo "ok [$backend] counters, OTPs and times written back, other lines kept"
    [ "$backend" != radius ] || radius_stop
done
[ $failed -eq 0 ] && echo "all passed: $*"
exit $failed
