#!/usr/bin/env bash
# Builds every libFuzzer target with clang (in FUZZ_BUILD_DIR, default
# build-fuzz) and runs each from its committed corpus and regression inputs.
# Fails on any crash, leak, timeout or sanitizer report, and prints per target
# the executions run, the coverage reached and the inputs it kept; an input
# that broke a target is kept in FUZZ_ARTIFACTS.
#
#   scripts/fuzz.sh [TARGET...]          each target FUZZ_SECONDS (default 30)
#                                        from a random start
#   scripts/fuzz.sh --merge [TARGET...]  the same, then adds to fuzz/corpus the
#                                        inputs found that reach new code
#   scripts/fuzz.sh --ci [TARGET...]     replays the corpus and regression
#                                        inputs, then FUZZ_RUNS (default 100000)
#                                        executions from seed 1: the same work
#                                        for the same commit on every run
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
mode=explore
case "${1:-}" in
--ci | --merge) mode=${1#--} && shift ;;
-*) sed -n 's/^#   //p' "$0" >&2 && exit 2 ;;
esac
build_dir=${FUZZ_BUILD_DIR:-$root/build-fuzz}
seconds=${FUZZ_SECONDS:-30}
runs=${FUZZ_RUNS:-100000}
artifacts=${FUZZ_ARTIFACTS:-$build_dir/artifacts}
targets=("$@")

CC=clang CXX=clang++ cmake -S "$root" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DOTP_FUZZ=ON -DOTP_BUILD_TESTS=OFF -DOTP_BUILD_BENCH=OFF >/dev/null
# Every target fuzz/CMakeLists.txt defines, unless some are named.
[ ${#targets[@]} -gt 0 ] || mapfile -t targets <"$build_dir/fuzz-targets.txt"
cmake --build "$build_dir" -j "${FUZZ_JOBS:-$(nproc)}" --target "${targets[@]/#/fuzz_}"

mkdir -p "$artifacts"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}
export LC_ALL=C.UTF-8
# The targets that write files (the seed files, the key file) do so in a
# temporary folder; in memory their flushes cost nothing.
scratch=$(mktemp -d -p "$([ -w /dev/shm ] && echo /dev/shm || echo "${TMPDIR:-/tmp}")")
trap 'rm -rf "$scratch"' EXIT
export TMPDIR=$scratch

# The values a target compares feed libFuzzer's mutations, and pointers are
# among them: only without address randomisation does seed 1 take the same
# path on every run.
fixed=()
if [ "$mode" = ci ]; then
    if setarch -R true 2>/dev/null; then
        fixed=(setarch -R)
    else
        echo "fuzz.sh: cannot switch address randomisation off (setarch -R); runs may differ" >&2
    fi
fi

# Runs one target and leaves its summary line in $build_dir/fuzz-$t.summary;
# the line ends in FAILED when the target broke.
run_target() {
    local t=$1 work seeds common options log status execs last cov ft took line
    work=$(mktemp -d)
    seeds=("$root/fuzz/corpus/$t")
    [ -d "$root/fuzz/regressions/$t" ] && seeds+=("$root/fuzz/regressions/$t")
    common=(-timeout=10 -rss_limit_mb=2048 -artifact_prefix="$artifacts/$t-")
    options=("${common[@]}" -print_final_stats=1)
    [ -f "$root/fuzz/dict/$t.dict" ] && options+=(-dict="$root/fuzz/dict/$t.dict")
    if [ "$mode" = ci ]; then
        # The inputs in a fixed order (not the folder's, which varies from
        # one file system to the next), so that seed 1 takes the same path.
        find "${seeds[@]}" -type f | LC_ALL=C sort | paste -sd, >"$work.seeds"
        options+=(-runs="$runs" -seed=1 -reload=0 -seed_inputs=@"$work.seeds")
        seeds=()
    else
        options+=(-max_total_time="$seconds")
    fi
    log="$build_dir/fuzz-$t.log"
    status=0
    "${fixed[@]}" "$build_dir/bin/fuzz_$t" "${options[@]}" "$work" "${seeds[@]}" >"$log" 2>&1 || status=$?
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    last=$(grep -E '^#[0-9]+' "$log" | tail -1 || true)
    cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
    ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
    took=$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$log")
    line=$(printf '%-16s execs %-8s cov %-5s ft %-5s new inputs %-4s %4ss' "$t" "${execs:-?}" \
        "${cov:-?}" "${ft:-?}" "$(find "$work" -type f | wc -l)" "${took:-?}")
    if [ "$status" -ne 0 ] || grep -qE 'ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error:|property broken' "$log"; then
        line+=" FAILED (exit $status, log $log)"
        grep -E 'ERROR:|runtime error:|property broken|Test unit written' "$log" | head -5 >&2 || true
    elif [ "$mode" = merge ]; then
        # Only what reaches code the committed corpus does not.
        "$build_dir/bin/fuzz_$t" -merge=1 "${common[@]}" "$root/fuzz/corpus/$t" "$work" \
            >>"$log" 2>&1 || line+=" (merge failed, log $log)"
        line+=$(sed -n 's/^MERGE-OUTER: \([0-9]*\) new files.*/, \1 added to fuzz\/corpus/p' "$log")
    fi
    rm -rf "$work" "$work.seeds"
    echo "$line" >"$build_dir/fuzz-$t.summary"
}

# One target per core at a time: each fuzzer is single-threaded.
parallel=${FUZZ_PARALLEL:-$(nproc)}
case $mode in
ci) what="$runs executions from seed 1" ;;
*) what="${seconds}s" ;;
esac
running=0
for t in "${targets[@]}"; do
    echo "== $t: $what"
    rm -f "$build_dir/fuzz-$t.summary"
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
echo "Fuzzing summary ($what per target, $parallel at a time):"
printf '  %s\n' "${summary[@]}"
if [ ${#failed[@]} -gt 0 ]; then
    echo "Fuzz targets failed: ${failed[*]}" >&2
    exit 1
fi
