#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: in the ordinary
# build, then the layout and static checks, then the Windows build
# (MinGW-w64) under Wine, and last in a build with address and
# undefined-behaviour sanitizers, whose CTest summary ends the output. The
# windows are tested headless on Qt's offscreen platform.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh

export QT_QPA_PLATFORM=offscreen
jobs=$(nproc)

run_suite() {
    local folder=$1
    shift
    cmake -S . -B "$folder" -G Ninja "$@" >/dev/null
    cmake --build "$folder"
    ctest --test-dir "$folder" --output-on-failure -j"$jobs" --timeout 300
}

echo "== tests =="
run_suite build -DCMAKE_BUILD_TYPE=RelWithDebInfo

echo "== layout and static checks =="
./scripts/check-style.sh build

echo "== the Windows build under Wine =="
./scripts/windows-test.sh build

echo "== tests with address and undefined-behaviour sanitizers =="
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DISP_SANITIZE=ON
