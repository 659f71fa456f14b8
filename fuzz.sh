#!/usr/bin/env bash
# Fuzzes the program on the simulated line: builds both fuzz targets with
# clang's libFuzzer and the address and undefined-behaviour sanitizers, then
# runs each for the given number of seconds (default 60), starting from a
# copy of its committed corpus (the committed corpus is never grown).
#
#   ./fuzz.sh [seconds]
#
# Prints executions, time, coverage and crashes per target; exits non-zero
# if any target crashed or broke an invariant. The inputs that did are kept
# under build-fuzz/runs/<target>/crashes/; replay one with
#   ISP_FUZZ_TRACE=1 build-fuzz/tests/<target>_fuzz <file>
set -euo pipefail
cd "$(dirname "$0")"

seconds=${1:-60}
if ! [[ $seconds =~ ^[0-9]+$ ]] || [ "$seconds" -lt 1 ]; then
    echo "usage: $0 [seconds per target]" >&2
    exit 2
fi

./scripts/install-deps.sh clang-14 libclang-rt-14-dev

cmake -S . -B build-fuzz -G Ninja \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=clang++-14 \
    -DISP_SANITIZE=ON -DISP_FUZZ=ON >/dev/null
cmake --build build-fuzz --target request_path_fuzz state_machine_fuzz

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

# The last value libFuzzer printed for one of its final statistics.
final_stat() { sed -n "s/^stat::$2: *//p" "$1" | tail -1; }

failed=0
summary=()
for target in request_path state_machine; do
    run=build-fuzz/runs/$target
    rm -rf "$run"
    mkdir -p "$run/corpus" "$run/crashes"
    cp tests/fuzz/corpus/$target/* "$run/corpus/"
    seeds=$(find "$run/corpus" -type f | wc -l)

    echo "== $target: $seconds s from $seeds seeds"
    status=0
    started=$SECONDS
    "build-fuzz/tests/${target}_fuzz" \
        -max_total_time="$seconds" -max_len=2048 -timeout=20 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$run/crashes/" \
        "$run/corpus" >"$run/log" 2>&1 || status=$?
    elapsed=$((SECONDS - started))

    executions=$(final_stat "$run/log" number_of_executed_units)
    per_second=$(final_stat "$run/log" average_exec_per_sec)
    coverage=$(grep -o 'cov: [0-9]* ft: [0-9]*' "$run/log" | tail -1)
    crashes=$(find "$run/crashes" -type f | wc -l)
    grown=$(find "$run/corpus" -type f | wc -l)
    line="$target: ${executions:-?} executions in $elapsed s (${per_second:-?}/s),"
    line+=" ${coverage:-no coverage reported}, corpus $seeds -> $grown, crashes $crashes"
    summary+=("$line")
    echo "$line"
    if [ "$status" -ne 0 ] || [ "$crashes" -ne 0 ]; then
        failed=1
        echo "   $target failed (exit $status); log: $run/log"
        grep -m1 -A6 'invariant broken\|ERROR: AddressSanitizer\|runtime error\|ERROR: libFuzzer' "$run/log" \
            | sed 's/^/   /' || true
        find "$run/crashes" -type f | sed 's/^/   input: /'
    fi
done

echo "== summary"
printf '%s\n' "${summary[@]}"
exit "$failed"
