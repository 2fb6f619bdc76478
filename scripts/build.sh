#!/usr/bin/env bash
# Configures and builds into BUILD_DIR (default: build). SANITIZE=1 builds with
# AddressSanitizer and UndefinedBehaviorSanitizer; WERROR=1 makes warnings fatal;
# BENCH=0 leaves out the benchmark programs.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${BUILD_DIR:-$root/build}
cmake -S "$root" -B "$build_dir" -G Ninja \
    -DCMAKE_BUILD_TYPE=${BUILD_TYPE:-RelWithDebInfo} \
    -DOTP_SANITIZE=$([ "${SANITIZE:-0}" = 1 ] && echo ON || echo OFF) \
    -DOTP_WERROR=$([ "${WERROR:-0}" = 1 ] && echo ON || echo OFF) \
    -DOTP_BUILD_BENCH=$([ "${BENCH:-1}" = 1 ] && echo ON || echo OFF) >/dev/null
cmake --build "$build_dir" -j "$(nproc)"
