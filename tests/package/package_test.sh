#!/usr/bin/env bash
# The Debian package, built from the already built tree: what it holds, what
# lintian, desktop-file-validate and appstreamcli say of it, whether its
# manual pages cover every option of --help, and whether the programs run
# from an unpacked copy and put the seed files where the user can find them.
# Usage: package_test.sh SOURCE_DIR BUILD_DIR
set -uo pipefail
src=$1 build=$2

work=$(mktemp -d)
trap 'chmod -R u+w "$work" 2>/dev/null; rm -rf "$work"' EXIT
# shellcheck source=../e2e/x11.sh
source "$src/tests/e2e/x11.sh"
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
programs=(vnotp vnkey vnotp-cli)
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
    check "$p --version" test "$("${env_clean[@]}" "$root/usr/bin/$p" --version)" = \
        "$p $(dpkg-deb -f "$deb" Version)"
    objdump -p "$root/usr/bin/$p" | grep -q 'NEEDED *libVN_Manager' || continue
    check "$p finds the unpacked libVN_Manager.so.1" \
        test "$(realpath -e "$(resolved_lib "$root/usr/bin/$p")")" = "$(realpath "$lib")"
done

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

# variable set | the folder, created owner-only (the program's own is read-only;
# VNOTP_SEED_DIR: records_test and e2e_keyboard)
for c in "HOME=$home|$home/.local/share/vnotp" "XDG_DATA_HOME=$home/data|$home/data/vnotp"; do
    folder=$(run_tool "${c%|*}" | seed_folder)
    check "seed folder with ${c%|*}: $folder" test "$folder" = "${c#*|}"
    check "$folder created owner-only" owner_only "${c#*|}"
done

# --- The installed tool, its own folder read-only, saves a new token into
# ~/.local/share/vnotp: key presses on a private X display, as in e2e.sh.
if command -v Xvfb >/dev/null && command -v xdotool >/dev/null; then
    start_display
    user_env=("${as_user[@]}" "${env_clean[@]}" DISPLAY="$DISPLAY" HOME="$home" VN_KEY_DIR="$home/keys")
    "${user_env[@]}" "$root/usr/bin/vnkey" create PKGKEY01 --touch auto:0 --plug >/dev/null
    "${user_env[@]}" "$root/usr/bin/vnotp" >"$work/vnotp.log" 2>&1 &
    app_pid=$!
    seeds=$home/.local/share/vnotp/tseeds.xml
    # New Token; in its dialog Generate the seed, then Save.
    focus_window "Vornik/Tessel OTP Programming Tool G2" >/dev/null && sleep 1 &&
        press 8 Tab && key space && focus_window "New Token" >/dev/null &&
        press 8 Tab && key space && press 2 Tab && key space
    check "installed tool saves the seed files into ~/.local/share/vnotp" wait_for 30 test -s "$seeds"
    check "no seed files beside the installed program" test -z "$(ls "$root/usr/bin" | grep seeds)"
    kill "$app_pid" "$xvfb_pid" 2>/dev/null
    wait 2>/dev/null
fi
finish
