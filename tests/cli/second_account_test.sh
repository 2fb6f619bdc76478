#!/bin/sh
# A second account, as an attacker on the same machine would, plants links
# and files in a seed folder it can write; vnotp-cli, run by the test's own
# account, must refuse each before the key is touched, and no seed may reach
# a file the second account can read. Then: an installed copy of the program
# writes no seed beside itself, and neither program can leave a core dump.
# Usage: second_account_test.sh VNOTP-CLI VNOTP
set -u
cli=$1 window=$2
if [ "$(id -u)" != 0 ]; then
    echo "SKIP: only root can act as a second account (uid 4242)"
    exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"
as_other() { setpriv --reuid=4242 --regid=4242 --clear-groups "$@"; }
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

export VN_KEY_DIR="$work/keys"
"$(dirname "$cli")/vnkey" create VT42000001 --touch auto:0 --plug >/dev/null
seed=3132333435363738393031323334353637383930
printf '%s\n' $seed >"$work/seed" && chmod 600 "$work/seed"
mkdir "$work/own" && echo "victim's own" >"$work/own/profile"
mkdir "$work/other" && chown 4242:4242 "$work/other"

# folder mode owner | file planted | how | what the refusal names
while IFS='|' read -r mode owner file how names; do
    case=$mode-$owner-$file-$how
    dir=$work/seeds-$case
    mkdir "$dir" && chown "$owner" "$dir" && chmod "$mode" "$dir"
    loot=$work/other/loot-$case
    as_other sh -c "umask 0; : >'$loot'"
    case $how in
    link) as_other ln -s "$loot" "$dir/$file" ;;
    dangling) as_other ln -s "$dir/gone" "$dir/$file" ;;
    hardlink) as_other ln "$loot" "$dir/$file" ;;
    own-file) as_other ln -s "$work/own/profile" "$dir/$file" ;;
    file) as_other sh -c "umask 0; : >'$dir/$file'" ;;
    fifo) as_other mkfifo -m 666 "$dir/$file" ;;
    esac
    out=$(timeout 20 "$cli" program --type hotp --serial "S$$" --seed-file "$work/seed" \
        --out-dir "$dir" 2>&1)
    code=$?
    [ $code = 2 ] || fail "$case: exit code $code, not 2: $out"
    case $out in *"$names"*) ;; *) fail "$case: no '$names' in: $out" ;; esac
    case $out in *"Please touch"*) fail "$case: the key was touched" ;; esac
    # Every byte the second account can read, seeds in any of their forms.
    readable=$(as_other find "$work" -type f -readable -exec cat {} + 2>/dev/null | tr -d '\0')
    case $readable in *$seed* | *GEZDGNBVGY3TQOJQ* | *3132333435363738*) fail "$case: seed leaked" ;; esac
    [ "$(cat "$work/own/profile")" = "victim's own" ] || fail "$case: the user's own file changed"
done <<'EOF'
2770|root:4242|hseeds.csv|link|can be written by other accounts
1777|root:root|hseeds.csv|file|chmod go-w
755|4242:4242|hseeds.csv|link|hseeds.csv: is a symbolic link
755|4242:4242|hseeds.csv|own-file|hseeds.csv: is a symbolic link
755|4242:4242|hseeds.csv|hardlink|hseeds.csv: belongs to another account
755|4242:4242|hseeds.csv|file|hseeds.csv: belongs to another account
755|4242:4242|hseeds.xml|dangling|hseeds.xml: is a symbolic link
755|4242:4242|hseeds.xml|fifo|hseeds.xml: is not a regular file
EOF

# An installed copy (no build tree around it) keeps seeds out of its own folder.
mkdir -p "$work/usr/bin" "$work/home"
cp "$cli" "$work/usr/bin/"
HOME=$work/home XDG_DATA_HOME='' VNOTP_SEED_DIR='' "$work/usr/bin/vnotp-cli" program \
    --serial I1 >/dev/null 2>&1 || fail "installed copy: cannot program"
! ls "$work/usr/bin" | grep -q seeds || fail "installed copy: seeds beside the program"
[ -f "$work/home/.local/share/vnotp/tseeds.csv" ] || fail "installed copy: no seeds in the XDG folder"

# No core dumps: a process of the second account, blocked on a FIFO or in its
# event loop, has no core size and /proc entries it does not own (not dumpable).
mkfifo "$work/wait" && chmod 666 "$work/wait"
mkdir -m 777 "$work/h" "$work/k"
undumpable() {
    grep -q '^Max core file size *0 *0 ' "/proc/$pid/limits" &&
        [ "$(stat -c %u "/proc/$pid/status")" = 0 ]
}
for program in "$cli program --seed-file $work/wait" "$window"; do
    ulimit -c unlimited
    # Not through as_other: a function in the background is a shell of its own.
    setpriv --reuid=4242 --regid=4242 --clear-groups env HOME="$work/h" VN_KEY_DIR="$work/k" \
        QT_QPA_PLATFORM=offscreen $program >/dev/null 2>&1 &
    pid=$!
    for _ in $(seq 20); do undumpable && break; sleep 0.25; done
    undumpable || fail "$program: may dump core"
    kill $pid && wait $pid 2>/dev/null
done

[ $failures = 0 ] && echo "PASS" || exit 1
