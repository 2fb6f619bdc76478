#!/usr/bin/env bash
# Builds every libFuzzer target with clang (in FUZZ_BUILD_DIR, default
# build-fuzz) and runs each for FUZZ_SECONDS (default 30), starting from its
# committed corpus and regression inputs. Fails on any crash, leak, timeout
# or sanitizer report, and prints per target the executions run and the
# coverage reached. New corpus entries go to a scratch folder, not into the
# repository; an input that broke a target is kept in FUZZ_ARTIFACTS.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${FUZZ_BUILD_DIR:-$root/build-fuzz}
seconds=${FUZZ_SECONDS:-30}
artifacts=${FUZZ_ARTIFACTS:-$build_dir/artifacts}
targets=(pin_record hex_to_bytes serial_proposal pin_complexity seed_xml csv_row key_file pskc_reader)

CC=clang CXX=clang++ cmake -S "$root" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DOTP_FUZZ=ON -DOTP_BUILD_TESTS=OFF >/dev/null
cmake --build "$build_dir" -j "${FUZZ_JOBS:-$(nproc)}" --target fuzz_targets

mkdir -p "$artifacts"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}
export LC_ALL=C.UTF-8
# Runs one target and leaves its summary line in $build_dir/fuzz-$t.summary;
# the line ends in FAILED when the target broke.
run_target() {
    local t=$1 work seeds options log status execs last cov ft line
    work=$(mktemp -d)
    seeds=("$root/fuzz/corpus/$t")
    [ -d "$root/fuzz/regressions/$t" ] && seeds+=("$root/fuzz/regressions/$t")
    options=()
    [ -f "$root/fuzz/dict/$t.dict" ] && options+=(-dict="$root/fuzz/dict/$t.dict")
    log="$build_dir/fuzz-$t.log"
    status=0
    "$build_dir/bin/fuzz_$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$artifacts/$t-" "${options[@]}" \
        "$work" "${seeds[@]}" >"$log" 2>&1 || status=$?
    rm -rf "$work"
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    last=$(grep -E '^#[0-9]+' "$log" | tail -1 || true)
    cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
    ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
    line=$(printf '%-16s execs %-10s cov %-6s ft %-6s' "$t" "${execs:-?}" "${cov:-?}" "${ft:-?}")
    if [ "$status" -ne 0 ] || grep -qE 'ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error:|property broken' "$log"; then
        line+=" FAILED (exit $status, log $log)"
        grep -E 'ERROR:|runtime error:|property broken|Test unit written' "$log" | head -5 >&2 || true
    fi
    echo "$line" >"$build_dir/fuzz-$t.summary"
}

# One target per core at a time: each fuzzer is single-threaded.
parallel=${FUZZ_PARALLEL:-$(nproc)}
running=0
for t in "${targets[@]}"; do
    echo "== $t: ${seconds}s"
    run_target "$t" &
    running=$((running + 1))
    if [ "$running" -ge "$parallel" ]; then
        wait -n || true
        running=$((running - 1))
    fi
done
wait

failed=()
summary=()
for t in "${targets[@]}"; do
    line=$(cat "$build_dir/fuzz-$t.summary" 2>/dev/null || echo "$t did not report FAILED")
    summary+=("$line")
    [[ "$line" == *FAILED* ]] && failed+=("$t")
done
echo
echo "Fuzzing summary (${seconds}s per target, $parallel at a time):"
printf '  %s\n' "${summary[@]}"
if [ ${#failed[@]} -gt 0 ]; then
    echo "Fuzz targets failed: ${failed[*]}" >&2
    exit 1
fi
