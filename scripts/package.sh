#!/usr/bin/env bash
# Builds the Debian package: ./scripts/package.sh
# Installs what is missing, builds into BUILD_DIR (default: build), lets CPack
# install the built tree into a staging folder and pack it, and prints the
# path of the .deb (in BUILD_DIR/package).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${BUILD_DIR:-$root/build}
if [ "${PACKAGE_ONLY:-0}" != 1 ]; then # the packaging test packs a tree it has built
    # Their progress goes to stderr, so that stdout is the path alone.
    "$root/scripts/setup.sh" >&2
    BUILD_DIR=$build_dir "$root/scripts/build.sh" >&2
fi
out=$(cd "$build_dir" && cpack -G DEB 2>&1) || { echo "$out" >&2; exit 1; }
deb=$(sed -n 's/^CPack: - package: \(.*\.deb\) generated\.$/\1/p' <<<"$out" | tail -1)
[ -f "$deb" ] || { echo "$out" >&2; echo "package.sh: no .deb produced" >&2; exit 1; }
echo "$deb"
