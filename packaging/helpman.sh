#!/usr/bin/env bash
# Writes a section 1 manual page from a program's own --help, so that the page
# says what the program says:
#   helpman.sh PROGRAM NAME VERSION SUMMARY OUTPUT [SEE_ALSO...]
# Subcommands listed under the help's "SUBCOMMANDS:" heading (CLI11) get a
# subsection each with their own --help. Lines matching $HELPMAN_DROP (an
# extended regular expression) are left out: they describe the machine the
# page is built on, not the reader's.
set -euo pipefail
program=$1 name=$2 version=$3 summary=$4 output=$5
shift 5

# Preformatted roff: backslashes and minus signs escaped, a line that would
# start with a control character protected.
to_roff() {
    local drop=${HELPMAN_DROP:-'^\b$'} # by default a pattern nothing matches
    echo .nf
    grep -Ev -- "$drop" | sed -e 's/\\/\\e/g' -e 's/-/\\-/g' -e "s/^[.']/\\\\\\&&/"
    echo .fi
}
roff_text() { sed -e 's/\\/\\e/g' -e 's/-/\\-/g' <<<"$1"; }

# Run under its own name, so that its usage line does not show the build path.
help_of() { (exec -a "$name" "$program" "$@" --help); }
subcommands_of() {
    awk 'tolower($0) ~ /^subcommands:/ { on = 1; next }
         on && /^  [a-z]/ { print $1; next }
         on && !/^ / { on = 0 }'
}
help=$(help_of)
# Subcommands and, one level down, theirs ("pskc convert"), one per line.
subcommands=$(for sub in $(subcommands_of <<<"$help"); do
    echo "$sub"
    for subsub in $(help_of "$sub" | subcommands_of); do echo "$sub $subsub"; done
done)
{
    printf '.TH %s 1 "" "%s %s" "User Commands"\n' "${name^^}" "$name" "$version"
    printf '.SH NAME\n%s \\- %s\n' "$(roff_text "$name")" "$(roff_text "$summary")"
    echo .SH DESCRIPTION
    to_roff <<<"$help"
    if [ -n "$subcommands" ]; then
        echo .SH COMMANDS
        while read -r -a sub; do
            printf '.SS %s %s\n' "$(roff_text "$name")" "$(roff_text "${sub[*]}")"
            help_of "${sub[@]}" | to_roff
        done <<<"$subcommands"
    fi
    if [ $# -gt 0 ]; then
        echo .SH "SEE ALSO"
        refs=()
        for other in "$@"; do refs+=(".BR $(roff_text "$other") (1)"); done
        (IFS=$'\n'; sed '$!s/$/,/' <<<"${refs[*]}")
    fi
} >"$output.tmp"
mv "$output.tmp" "$output"
