#!/usr/bin/env bash
# The pam_oath users file that vnotp-cli writes while it programs a virtual
# key, checked against the programs that read it: liboath (usersfile),
# pam_oath loaded by libpam with our own PAM folder (pam), and FreeRADIUS
# through rlm_pam (radius, root only). The OTPs come from the key
# (vnotp-cli otp), those no key gives from oathtool.
# usage: oath_reference_test.sh OATH_CHECK PAM_OATH_MODULE BIN_DIR BACKEND...
# Exit 0 passed, 1 failed, 77 skipped.
set -uo pipefail
check=$1 module=$2 bin=$3
shift 3
source "$(dirname "$0")/radius.sh"
RADIUS_PAM_OATH=$module
work=$(mktemp -d)
trap 'radius_stop; rm -rf "$work"' EXIT
trap 'exit 1' INT TERM HUP
umask 077

sa=3132333435363738393031323334353637383930 # alice, HOTP
sb=0f1e2d3c4b5a69788796a5b4c3d2e1f001234567 # bob, TOTP 30 s, 6 digits
se=A1B2C3D4E5F60718293A4B5C6D7E8F9001122334 # erin, TOTP 60 s, 8 digits, upper case
sf=5566778899aabbccddeeff001122334455667788 # frank, HOTP 8 digits
sc=00112233445566778899aabbccddeeff00112233 # carol, programmed first
so=99887766554433221100ffeeddccbbaa99887766 # carol's token before it was replaced
sd=ffeeddccbbaa99887766554433221100ffeeddcc # dave, written by hand, never asked for
sg=0123456789abcdef0123456789abcdef01234567 # gina, TOTP, from a PSKC file by pskc convert
hotp() { oathtool -c "$2" "$1"; }
declare -A last
key() { last[$1]=$("$bin/vnotp-cli" otp "$1") && echo "${last[$1]}"; } # the key's OTP
again() { echo "${last[$1]}"; }
T=$'\t' ts='[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}L'

# Lines by hand (a CR LF line end, no final newline), then what vnotp-cli
# appends; each line as it must read after the cases below: an accepted OTP
# rewrites its user's line with counter, OTP and time; every other line stays.
head=("# users file of the reference test  "$'\r' "HOTP   dave$T-  $sd  ")
after=("${head[@]}" "HOTP${T}carol$T-$T$sc${T}0$T$(hotp $sc 0)$T$ts"
    "HOTP${T}alice$T-$T$sa${T}1$T$(hotp $sa 1)$T$ts" "HOTP/T30/6${T}bob$T-$T$sb$T[0-9]+$T[0-9]{6}$T$ts"
    "HOTP/T60/8${T}erin$T-$T${se,,}$T[0-9]+$T[0-9]{8}$T$ts" "HOTP/E/8${T}frank$T-$T$sf${T}0$T$(oathtool -d 8 -c 0 $sf)$T$ts"
    "HOTP/T30/6${T}gina$T-$T$sg$T[0-9]+$T[0-9]{6}$T$ts")

# serial | user | seed | options, in the order vnotp-cli writes them
tokens=("CAROL|carol|$so|--type hotp" "CAROLNEW|carol|$sc|--type hotp --oath-users-replace"
    "ALICE|alice|$sa|--type hotp" "BOB|bob|$sb|--type totp" "ERIN|erin|$se|--type totp --interval 60 --digits 8"
    "FRANK|frank|$sf|--type hotp --digits 8")
# user | command that prints the OTP | 0 accepted, 1 refused | what
cases=("alice|key ALICE|0|HOTP: the key's first OTP is accepted"
    "alice|again ALICE|1|HOTP: a replayed OTP is refused"
    "alice|key ALICE|0|HOTP: the key's next OTP is accepted"
    "alice|hotp $sa 40|1|HOTP: an OTP far beyond the counter is refused"
    "bob|key BOB|0|TOTP 30 s 6 digits: the key's OTP is accepted"
    "bob|again BOB|1|TOTP: a replayed OTP is refused"
    "bob|oathtool --totp -N 'now -1 hour' $sb|1|TOTP: an hour-old OTP is refused"
    "erin|key ERIN|0|TOTP 60 s 8 digits, upper-case seed: the key's OTP is accepted"
    "erin|oathtool --totp -s 60 -d 8 $sb|1|TOTP: another seed's OTP is refused"
    "frank|key FRANK|0|HOTP 8 digits: the key's OTP is accepted"
    "carol|hotp $so 0|1|a replaced token is refused"
    "carol|key CAROLNEW|0|a user written before the others still authenticates"
    "gina|key GINA|0|TOTP, from a PSKC file by pskc convert: the key's OTP is accepted"
    "mallory|hotp $sa 2|1|a user not in the file is refused")

failed=0
fail() { echo "FAIL [$backend] $*"; failed=1; }
program() { # SERIAL USER SEED OPTIONS...
    local serial=$1 user=$2 seed=$3
    shift 3
    echo "$seed" | "$bin/vnotp-cli" program --serial "$serial" --user "$user" --seed-file - \
        --oath-users "$file" --no-plaintext "$@"
}
for backend in "$@"; do
    file=$work/users.$backend
    export VN_KEY_DIR=$work/keys.$backend
    "$bin/vnkey" create VTOATH01 --touch auto:0 --plug >/dev/null || exit 1
    printf '%s\n%s' "${head[@]}" >"$file"
    for t in "${tokens[@]}"; do
        IFS='|' read -r serial user seed options <<<"$t"
        # shellcheck disable=SC2086 # the options are words
        program "$serial" "$user" "$seed" $options >/dev/null || fail "vnotp-cli program $serial"
    done
    # (What the file cannot take is refused before the key is touched: records_test, cli_commands_test.)
    "$bin/vnotp-cli" batch --keys 2 --user zed --oath-users "$file" 2>/dev/null
    [ $? = 2 ] || fail "a batch of two tokens for one user was not refused"
    pskc=("$work/gina.$backend.pskc" --pskc-key-file "$work/key") && printf '%064d\n' 7 >"$work/key"
    echo "$sg" | "$bin/vnotp-cli" program --serial GINA --seed-file - --user gina --no-plaintext --pskc "${pskc[@]}" >/dev/null &&
        "$bin/vnotp-cli" pskc convert "${pskc[@]}" --oath-users "$file" >/dev/null || fail "pskc convert --oath-users"
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
        eval "$otp" >"$work/otp" && otp=$(<"$work/otp") && [ -n "$otp" ] || fail "no OTP for: $what"
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
