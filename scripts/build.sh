#!/usr/bin/env bash
# Configures and builds into BUILD_DIR (default: build): everything, or only
# BUILD_TARGETS and what they need. SANITIZE=1 builds with AddressSanitizer
# and UndefinedBehaviorSanitizer, SANITIZE=thread with ThreadSanitizer (use
# its own BUILD_DIR; the tests then read tests/tsan.supp); WERROR=1 makes warnings fatal; BENCH=0
# leaves out the benchmark programs, FUZZ_REPLAY=0 the tests that replay the
# fuzz corpora.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${BUILD_DIR:-$root/build}
onoff() { [ "$1" = 1 ] && echo ON || echo OFF; }
cmake -S "$root" -B "$build_dir" -G Ninja \
    -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" \
    -DOTP_SANITIZE="$(onoff "${SANITIZE:-0}")" \
    -DOTP_SANITIZE_THREAD="$([ "${SANITIZE:-0}" = thread ] && echo ON || echo OFF)" \
    -DOTP_WERROR="$(onoff "${WERROR:-0}")" \
    -DOTP_BUILD_BENCH="$(onoff "${BENCH:-1}")" \
    -DOTP_FUZZ_REPLAY="$(onoff "${FUZZ_REPLAY:-1}")" >/dev/null
# shellcheck disable=SC2086 # a list of target names
cmake --build "$build_dir" -j "$(nproc)" ${BUILD_TARGETS:+--target $BUILD_TARGETS}
