#!/usr/bin/env bash
# The Debian package, built from the already built tree: what it holds, what
# lintian, desktop-file-validate and appstreamcli say of it, whether its
# manual pages cover every option of --help, and whether the programs run
# from an unpacked copy and put the seed files where the user can find them.
# Usage: package_test.sh SOURCE_DIR BUILD_DIR
set -uo pipefail
src=$1 build=$2

passes=0 failures=0
pass() { echo "PASS: $1"; passes=$((passes + 1)); }
fail() { echo "FAIL: $1${2:+ ($2)}"; failures=$((failures + 1)); }
check() { # check NAME COMMAND...
    local name=$1
    shift
    if "$@"; then pass "$name"; else fail "$name"; fi
}

work=$(mktemp -d)
trap 'chmod -R u+w "$work" 2>/dev/null; rm -rf "$work"' EXIT
# Readable by an unprivileged user, for the checks that run as one.
chmod 755 "$work"

deb=$(PACKAGE_ONLY=1 BUILD_DIR=$build bash "$src/scripts/package.sh") || {
    echo "FAIL: scripts/package.sh"
    exit 1
}
pass "package built: $deb"
root=$work/root
dpkg-deb -x "$deb" "$root"

# --- Contents.
programs=(vnotp vnkey)
[ -x "$build/bin/vnotp-cli" ] && programs+=(vnotp-cli)
listing=$(dpkg-deb -c "$deb" | awk '{ print $6 }' | sed 's|^\./|/|')
has() { grep -qxE "$1" <<<"$listing"; }
metainfo=$(grep -E '^/usr/share/metainfo/.+\.metainfo\.xml$' <<<"$listing")
expected=(/usr/include/VN_Manager.h
    '/usr/lib/(.+/)?libVN_Manager\.so\.1'
    /usr/share/applications/vnotp.desktop
    '/usr/share/metainfo/.+\.metainfo\.xml'
    /usr/share/icons/hicolor/scalable/apps/vnotp.svg
    /usr/lib/udev/rules.d/70-vnotp.rules
    /usr/share/doc/vnotp/copyright /usr/share/doc/vnotp/changelog.gz)
for size in 16 22 24 32 48 64 128; do
    expected+=("/usr/share/icons/hicolor/${size}x$size/apps/vnotp.png")
done
for p in "${programs[@]}"; do expected+=("/usr/bin/$p" "/usr/share/man/man1/$p.1.gz"); done
for p in vnkey vnotp-cli; do expected+=("/usr/share/bash-completion/completions/$p"); done
expected+=(/usr/share/vnotp/vnotp-cli.schema.json)
for f in "${expected[@]}"; do check "package holds $f" has "$f"; done
check "nothing but the programs in /usr/bin" \
    test "$(grep -c '^/usr/bin/.' <<<"$listing")" = "${#programs[@]}"
lib=$(find "$root/usr/lib" -name 'libVN_Manager.so.1' | head -1)
check "libVN_Manager.so.1 carries its soname" \
    grep -q 'SONAME.*libVN_Manager\.so\.1$' <<<"$(objdump -p "$lib" 2>/dev/null)"
check "udev rule tags vendor 096e uaccess" \
    grep -qE 'idVendor\}=="096e".*TAG\+="uaccess"' "$root/usr/lib/udev/rules.d/70-vnotp.rules"
check "dependencies computed from the libraries (libqt6widgets6, libc6)" \
    grep -qE 'libc6.*libqt6widgets6' <<<"$(dpkg-deb -f "$deb" Depends)"

# --- Linters.
lint=$(lintian --fail-on error "$deb" 2>&1 | grep -v 'root privileges')
check "lintian reports no errors" test -z "$(grep '^E:' <<<"$lint")"
[ -n "$lint" ] && echo "$lint"
check "desktop-file-validate" desktop-file-validate "$root/usr/share/applications/vnotp.desktop"
check "appstreamcli validate --no-net" appstreamcli validate --no-net "$root$metainfo"
mapfile -t shots < <(grep -o '[a-z-]*\.png</image>' "$root$metainfo" | sed 's|</image>||')
for shot in "${shots[@]}"; do check "screenshot $shot is in docs/" test -f "$src/docs/$shot"; done
check "metainfo has the README's screenshots" test "${#shots[@]}" = \
    "$(grep -o '(docs/[a-z-]*\.png)' "$src/README.md" | sort -u | wc -l)"

# --- The programs run from the unpacked tree and find its library.
# No display and a platform that needs one: --help and --version must not
# touch the window system.
env_clean=(env -u LD_LIBRARY_PATH -u VNOTP_SEED_DIR -u XDG_DATA_HOME -u DISPLAY -u WAYLAND_DISPLAY
    QT_QPA_PLATFORM=xcb LC_ALL=C.UTF-8)
# (vnkey works on the key files itself and does not link the library.)
resolved_lib() { ldd "$1" | sed -n 's/^\s*libVN_Manager\.so\.1 => \(\S*\) .*/\1/p'; }
for p in "${programs[@]}"; do
    objdump -p "$root/usr/bin/$p" | grep -q 'NEEDED *libVN_Manager' || continue
    check "$p finds the unpacked libVN_Manager.so.1" \
        test "$(realpath -e "$(resolved_lib "$root/usr/bin/$p")")" = "$(realpath "$lib")"
done
check "vnotp --version" test "$("${env_clean[@]}" "$root/usr/bin/vnotp" --version)" = \
    "vnotp $(dpkg-deb -f "$deb" Version)"
check "vnkey list" "${env_clean[@]}" VN_KEY_DIR="$work/keys" "$root/usr/bin/vnkey" list
[ -x "$root/usr/bin/vnotp-cli" ] &&
    check "vnotp-cli --help" "${env_clean[@]}" "$root/usr/bin/vnotp-cli" --help

# --- Manual pages against --help: the same options and subcommands both ways.
options_of() { grep -oE -- '(^|[ ,])--?[a-zA-Z][a-zA-Z0-9-]*' | sed 's/^[ ,]//' | sort -u; }
subcommands_of() {
    awk 'tolower($0) ~ /^subcommands:/ { on = 1; next }
         on && /^  [a-z]/ { print $1; next } on && !/^ / { on = 0 }'
}
# The help of the program, its subcommands and theirs ("pskc convert").
help_all() {
    local p=$1 text sub subsub
    text=$("${env_clean[@]}" "$root/usr/bin/$p" --help)
    echo "$text"
    for sub in $(subcommands_of <<<"$text"); do
        echo "SUBCOMMAND $sub"
        text=$("${env_clean[@]}" "$root/usr/bin/$p" "$sub" --help)
        echo "$text"
        for subsub in $(subcommands_of <<<"$text"); do
            echo "SUBCOMMAND $sub $subsub"
            "${env_clean[@]}" "$root/usr/bin/$p" "$sub" "$subsub" --help
        done
    done
}
for p in "${programs[@]}"; do
    help=$(help_all "$p")
    page=$(zcat "$root/usr/share/man/man1/$p.1.gz" | sed -e 's/\\-/-/g' -e 's/\\e/\\/g')
    # Examples may show other programs' options; a macro's name is no option.
    check "man $p: same options as --help" diff <(options_of <<<"$help") \
        <(awk '/^\.SH/ { skip = /EXAMPLES/ } !skip' <<<"$page" | sed -E 's/^\.[A-Za-z]+ ?//' |
            options_of)
    while read -r sub; do
        [ -n "$sub" ] && check "man $p: section for $p $sub" grep -qE "^\.SS $p $sub( |$)" <<<"$page"
    done < <(sed -n 's/^SUBCOMMAND //p' <<<"$help")
    [ "$p" = vnotp ] || for section in NAME SYNOPSIS DESCRIPTION COMMANDS OPTIONS "EXIT STATUS" \
        ENVIRONMENT FILES EXAMPLES "SEE ALSO"; do
        check "man $p: section $section" grep -qE "^\.SH \"?$section\"?$" <<<"$page"
    done
    check "man $p: names VNOTP_SEED_DIR and VN_KEY_DIR" test "$p" = vnotp -o \
        "$(grep -cE '^\.B (VNOTP_SEED_DIR|VN_KEY_DIR)$' <<<"$page")" = 2
    check "man $p renders without warnings" \
        test -z "$(MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z \
            "$root/usr/share/man/man1/$p.1.gz" 2>&1 >/dev/null)"
done

# --- Bash completion through bash itself, as bash-completion loads it: the
# commands of --help, and for each command the options of its --help.
completes() { # completes PROGRAM WORDS...: one completion a line, sorted
    bash -c 'source /usr/share/bash-completion/bash_completion
        source "$0/usr/share/bash-completion/completions/$1"
        COMP_WORDS=("$@") COMP_CWORD=$(($# - 1)) COMP_LINE="$*" COMP_POINT=${#COMP_LINE}
        $(complete -p "$1" | sed -E "s/.*-F ([^ ]+) .*/\1/") "$1" "${@: -1}" "${@: -2:1}"
        printf "%s\n" "${COMPREPLY[@]}"' "$root" "$@" | sort -u
}
for p in vnkey vnotp-cli; do
    help=$(help_all "$p")
    check "completion: $p's commands" diff <(completes "$p" "") \
        <(subcommands_of <<<"$("${env_clean[@]}" "$root/usr/bin/$p" --help)" | sort)
    while read -r sub; do
        check "completion: options of $p $sub" diff <(completes "$p" $sub -) \
            <(sed -n "/^SUBCOMMAND $sub\$/,/^SUBCOMMAND/p" <<<"$help" | sed 1d | options_of)
    done < <(sed -n 's/^SUBCOMMAND //p' <<<"$help" | grep -vx pskc)
done
check "completion: vnotp-cli --hash values" test "$(completes vnotp-cli batch -H "" | xargs)" = \
    "sha1 sha256"

# --- Where the installed tool puts its seed files, as vnotp --help names it.
seed_folder() { sed -n 's/^Seed folder in use: //p'; }
owner_only() { [ "$(stat -c %a "$1")" = 700 ]; }
as_user=()
if [ "$(id -u)" = 0 ]; then
    # root may write anywhere; an ordinary user cannot write into /usr/bin.
    as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
else
    chmod a-w "$root/usr/bin"
fi
home=$work/home
mkdir -p "$home" && chmod 755 "$home" && [ "$(id -u)" = 0 ] && chown 65534:65534 "$home"
run_tool() { "${as_user[@]}" "${env_clean[@]}" HOME="$home" "$@" "$root/usr/bin/vnotp" --help; }

folder=$(run_tool | seed_folder)
check "read-only program folder: ~/.local/share/vnotp (got $folder)" \
    test "$folder" = "$home/.local/share/vnotp"
check "~/.local/share/vnotp created owner-only" owner_only "$home/.local/share/vnotp"
folder=$(run_tool XDG_DATA_HOME="$home/data" | seed_folder)
check "read-only program folder: \$XDG_DATA_HOME/vnotp (got $folder)" \
    test "$folder" = "$home/data/vnotp"
folder=$(run_tool VNOTP_SEED_DIR="$home/seeds" | seed_folder)
check "VNOTP_SEED_DIR wins (got $folder)" test "$folder" = "$home/seeds"
check "VNOTP_SEED_DIR created owner-only" owner_only "$home/seeds"

# --- The installed tool, its own folder read-only, saves a new token: the seed
# files land in ~/.local/share/vnotp. Driven by key presses on a private X
# display, as the end-to-end test does.
wait_for() { # wait_for SECONDS COMMAND...
    local i
    for ((i = 0; i < $1 * 10; i++)); do
        "${@:2}" && return 0
        sleep 0.1
    done
    return 1
}
window_of() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -1; }
shown() { [ -n "$(window_of "$1")" ]; }
focus() { # focus TITLE: waits for the window and gives it the keyboard
    wait_for 20 shown "$1" && xdotool windowfocus --sync "$(window_of "$1")" 2>/dev/null
}
press() { # press N KEY
    local i
    for ((i = 0; i < $1; i++)); do
        xdotool key --clearmodifiers "$2"
        sleep 0.15
    done
}
if command -v Xvfb >/dev/null && command -v xdotool >/dev/null; then
    # A display number nobody holds (Xvfb refuses a locked one).
    for _ in $(seq 20); do
        display=$((100 + RANDOM % 800))
        [ -e "/tmp/.X$display-lock" ] || [ -e "/tmp/.X11-unix/X$display" ] || break
    done
    Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    user_env=("${as_user[@]}" "${env_clean[@]}" DISPLAY=":$display" HOME="$home" VN_KEY_DIR="$home/keys")
    export DISPLAY=:$display # for xdotool
    "${user_env[@]}" "$root/usr/bin/vnkey" create PKGKEY01 --touch auto:0 --plug >/dev/null
    "${user_env[@]}" "$root/usr/bin/vnotp" \
        >"$work/vnotp.log" 2>&1 &
    app_pid=$!
    seeds=$home/.local/share/vnotp/tseeds.xml
    # New Token; in its dialog Generate the seed, then Save.
    wait_for 20 xdotool getdisplaygeometry >/dev/null 2>&1 &&
        focus "Vornik/Tessel OTP Programming Tool G2" && sleep 1 && press 8 Tab && press 1 space &&
        focus "New Token" && press 8 Tab && press 1 space && press 2 Tab && press 1 space
    check "installed tool saves the seed files into ~/.local/share/vnotp" wait_for 30 test -s "$seeds"
    check "no seed files beside the installed program" test -z "$(ls "$root/usr/bin" | grep seeds)"
    kill "$app_pid" "$xvfb_pid" 2>/dev/null
    wait 2>/dev/null
    [ -s "$seeds" ] || tail -20 "$work/vnotp.log"
fi

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
