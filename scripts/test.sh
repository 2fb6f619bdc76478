#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh"
build_dir=${BUILD_DIR:-$root/build}
cd "$build_dir"
ctest --output-on-failure -j "$(nproc)"
