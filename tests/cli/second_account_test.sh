#!/bin/sh
# A second account, as an attacker on the same machine would, plants links
# and files in folders it can write, or owns the folders and files the tool
# is given; vnotp-cli, run by root, must refuse each before the key is
# touched, naming the destination, and no seed may reach a file the second
# account can read. Then: an installed copy of the program writes no seed
# beside itself, and neither program can leave a core dump.
# Usage: second_account_test.sh VNOTP-CLI VNOTP
set -u
if [ "$(id -u)" != 0 ]; then
    echo "SKIP: only root can act as a second account (uid 4242)"
    exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"
as_other() { setpriv --reuid=4242 --regid=4242 --clear-groups "$@"; }
# The build may lie below a folder the second account cannot enter (a clone
# in /root): it runs copies of the programs, with their library beside them.
mkdir "$work/bin"
bin=$(dirname "$1")
cp "$1" "$2" "$bin/vnkey" "$bin"/libVN_Manager.so* "$work/bin/" 2>/dev/null
cli=$work/bin/vnotp-cli window=$work/bin/vnotp
export LD_LIBRARY_PATH="$work/bin${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
if ! as_other "$cli" --version >/dev/null 2>&1; then
    echo "SKIP: the second account cannot run a copy of the programs in $work"
    exit 77
fi
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

export VN_KEY_DIR="$work/keys"
"$work/bin/vnkey" create VT42000001 --touch auto:0 --plug >/dev/null
seed=3132333435363738393031323334353637383930
printf '%s\n' $seed >"$work/seed" && chmod 600 "$work/seed"
printf 'pass phrase\n' >"$work/pw" && chmod 600 "$work/pw"
mkdir "$work/own" && echo "victim's own" >"$work/own/profile"
mkdir "$work/other" && chown 4242:4242 "$work/other"

# Every byte the second account can read, seeds in any of their forms.
no_leak() {
    readable=$(as_other find "$work" -path "$work/bin" -prune -o -type f -readable \
        -exec cat {} + 2>/dev/null | tr -d '\0')
    case $readable in *$seed* | *GEZDGNBVGY3TQOJQ* | *3132333435363738*) fail "$1: seed leaked" ;; esac
}
# NAME WHAT-THE-REFUSAL-SAYS ARGUMENTS...: exit code 2, the key untouched.
refused() {
    name=$1 names=$2
    shift 2
    out=$(timeout 20 "$cli" "$@" 2>&1)
    code=$?
    [ $code = 2 ] || fail "$name: exit code $code, not 2: $out"
    case $out in *"$names"*) ;; *) fail "$name: no '$names' in: $out" ;; esac
    case $out in *"Please touch"*) fail "$name: the key was touched" ;; esac
    no_leak "$name"
}

# folder mode owner | file planted | how | what the refusal names
while IFS='|' read -r mode owner file how names; do
    case=$mode-$owner-$file-$how
    dir=$work/seeds-$case
    mkdir "$dir" && chown "$owner" "$dir" && chmod "$mode" "$dir"
    loot=$work/other/loot-$case
    as_other sh -c "umask 0; : >'$loot'"
    case $how in
    link) as_other ln -s "$loot" "$dir/$file" ;;
    hardlink) as_other ln "$loot" "$dir/$file" ;;
    file) as_other sh -c "umask 0; : >'$dir/$file'" ;;
    fifo) as_other mkfifo -m 666 "$dir/$file" ;;
    esac
    refused "$case" "the seed folder $dir $names" program --type hotp --serial "S$$" \
        --seed-file "$work/seed" --out-dir "$dir"
    [ -e "$dir/.seedfiles.lock" ] && fail "$case: a lock file in a refused folder"
done <<'EOF'
2770|root:4242|hseeds.csv|link|can be written by other accounts
1777|root:root|hseeds.csv|file|can be written by other accounts
755|4242:4242|hseeds.csv|hardlink|belongs to another account (uid 4242)
755|4242:4242|hseeds.xml|fifo|belongs to another account (uid 4242)
EOF

# A private folder in a team folder, which a member could rename and replace
# by a link to a folder of their own while the key waits for its touch.
mkdir -m 2770 "$work/team" && chown root:4242 "$work/team"
mkdir -m 700 "$work/team/private" "$work/mine"
refused "team folder above" \
    "the seed folder $work/team/private lies inside $work/team, which other accounts can write" \
    program --seed-file "$work/seed" --out-dir "$work/team/private"
# The PSKC file's folder is a destination as well.
mkdir -m 1777 "$work/drop"
refused "PSKC file in 1777" \
    "the folder $work/drop of the PSKC file $work/drop/t.pskc can be written by other accounts" \
    program --seed-file "$work/seed" --no-plaintext --pskc "$work/drop/t.pskc" \
    --pskc-password-file "$work/pw"
refused "pskc convert --out in 2770" \
    "the folder $work/team of the PSKC file $work/team/t.pskc can be written by other accounts" \
    pskc convert "$work/seed" --digits 6 --out "$work/team/t.pskc" --pskc-password-file "$work/pw"
# Root refuses what another account owns, as any user does.
refused "users file in another's folder" \
    "the folder $work/other of the pam_oath users file $work/other/users.oath belongs to another account (uid 4242)" \
    program --seed-file "$work/seed" --no-plaintext --oath-users "$work/other/users.oath" --user ann
# Inputs that decide what is written: whoever can write them chooses.
as_other sh -c "echo ann >'$work/other/list'; echo 'pass phrase' >'$work/other/pw'"
printf 'ann\n' >"$work/open-list" && chown root:4242 "$work/open-list" && chmod 664 "$work/open-list"
refused "users list of another's" "$work/other/list: belongs to another account (uid 4242)" \
    batch --users "$work/other/list" --oath-users "$work/mine/users.oath" --oath-users-replace \
    --no-plaintext
refused "users list its group can write" "$work/open-list: can be written by other accounts" \
    batch --users "$work/open-list" --oath-users "$work/mine/users.oath" --oath-users-replace \
    --no-plaintext
refused "password file of another's" "$work/other/pw: belongs to another account (uid 4242)" \
    program --seed-file "$work/seed" --no-plaintext --pskc "$work/mine/t.pskc" \
    --pskc-password-file "$work/other/pw"
cp "$work/seed" "$work/team/seed"
refused "seed file in a team folder" "$work/team/seed lies inside $work/team, which other accounts can write" \
    program --seed-file "$work/team/seed" --out-dir "$work/mine"
# A seed file made by hand that every account can read gets no seed; one the
# administrator let a group read keeps that group when it is replaced.
chmod 711 "$work/mine"
touch "$work/mine/hseeds.csv" && chmod 644 "$work/mine/hseeds.csv"
refused "seed file readable by all" "$work/mine/hseeds.csv: can be read by every account" \
    program --type hotp --seed-file "$work/seed" --out-dir "$work/mine"
rm "$work/mine/hseeds.csv"
touch "$work/mine/hseeds.xml" && chown root:4242 "$work/mine/hseeds.xml" &&
    chmod 640 "$work/mine/hseeds.xml"
"$cli" program --type hotp --serial G1 --out-dir "$work/mine" >/dev/null 2>&1 ||
    fail "group-readable: not programmed"
[ "$(stat -c '%a %g' "$work/mine/hseeds.xml")" = "640 4242" ] ||
    fail "group-readable: now $(stat -c '%a %g' "$work/mine/hseeds.xml")"
as_other grep -q G1 "$work/mine/hseeds.xml" || fail "group-readable: the group cannot read it"
rm "$work/mine/hseeds.xml"

# An installed copy (no build tree around it) keeps seeds out of its own
# folder, and makes its folders owner-only whatever the umask; without a
# home it has no default folder, rather than one below where it is started.
mkdir -p "$work/usr/bin" "$work/home"
cp "$cli" "$work/usr/bin/"
(umask 0 && HOME=$work/home XDG_DATA_HOME='' VNOTP_SEED_DIR='' "$work/usr/bin/vnotp-cli" \
    program --serial I1 >/dev/null 2>&1) || fail "installed copy: cannot program"
! ls "$work/usr/bin" | grep -q seeds || fail "installed copy: seeds beside the program"
[ -f "$work/home/.local/share/vnotp/tseeds.csv" ] || fail "installed copy: no seeds in the XDG folder"
for made in .local .local/share .local/share/vnotp; do
    [ "$(stat -c %a "$work/home/$made")" = 700 ] ||
        fail "umask 0: ~/$made is $(stat -c %a "$work/home/$made")"
done
out=$(cd "$work/own" && env -u HOME XDG_DATA_HOME='' VNOTP_SEED_DIR='' \
    "$work/usr/bin/vnotp-cli" program --serial I2 2>&1)
[ $? = 2 ] || fail "no HOME: not refused: $out"
case $out in *"No seed folder can be chosen: HOME is not set"*) ;; *) fail "no HOME: $out" ;; esac
[ -e "$work/own/.local" ] && fail "no HOME: a folder below the working folder"

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
        LD_LIBRARY_PATH="$LD_LIBRARY_PATH" QT_QPA_PLATFORM=offscreen $program >/dev/null 2>&1 &
    pid=$!
    for _ in $(seq 20); do undumpable && break; sleep 0.25; done
    undumpable || fail "$program: may dump core"
    kill $pid && wait $pid 2>/dev/null
done

[ $failures = 0 ] && echo "PASS" || exit 1
