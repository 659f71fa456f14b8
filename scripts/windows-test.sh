#!/usr/bin/env bash
# Cross-builds the core and the command line for 64-bit Windows (MinGW-w64)
# and runs the Windows tests under Wine, each COM port a pseudo-terminal
# (a link in the prefix's dosdevices). Installs what is missing first.
#   scripts/windows-test.sh [LINUX_BUILD_FOLDER]      (default: build)
# The Linux build folder's programs play the devices on the ptys; the test
# suite has built them. The Windows build and its Wine prefix live in
# build-windows.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh g++-mingw-w64-x86-64-posix wine wine64

linux=${1:-build}
folder=build-windows
here=$(pwd)

cmake -S . -B "$folder" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
    -DISP_BUILD_WINDOW=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$folder"
cmake --build "$linux" --target wine_line_test

# Wine, headless and quiet, in a prefix of this build folder's own.
export WINEPREFIX=$here/$folder/wine WINEDEBUG=-all WINEARCH=win64
unset DISPLAY WAYLAND_DISPLAY
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    rm -rf "$WINEPREFIX"
    timeout 300 wineboot -i </dev/null >/dev/null 2>&1
    # Let the server that made the prefix end, so the one below is ours.
    timeout 60 wineserver -w || true
fi
# A persistent wineserver, and Wine's helper processes (services.exe,
# winedevice.exe, ...) started now with their output on /dev/null: they
# inherit the output of the first Windows program otherwise, and a test
# reading that program's output would wait for them to end.
# (A server already running for this prefix stays, and is stopped at the end.)
trap 'wineserver -k 2>/dev/null || true' EXIT
wineserver -p </dev/null >/dev/null 2>&1 || true
timeout 120 wine cmd /c exit </dev/null >/dev/null 2>&1
# Wine maps COM1 to COM4 onto the machine's /dev/ttyS0 to /dev/ttyS3: no test
# may open a real port.
rm -f "$WINEPREFIX"/dosdevices/com[1-4]

start=$(date +%s%N)
echo "-- the event loop and clock (GoogleTest under Wine)"
ctest --test-dir "$folder" --output-on-failure --timeout 120
echo "-- the serial line over a pseudo-terminal"
ISP_WINE_LINE_SMOKE=$here/$folder/tests/windows/line_smoke.exe timeout 300 "$linux/tests/wine_line_test"
# The command line's end-to-end tests of the Linux build, against the
# Windows program (tests/cli/CliUnderTest.h); suites named Posix* need Linux.
cli=$here/$folder/cli/velmora-isp2-cli.exe
if [ -d cli ]; then
    echo "-- the command line's resources: icon, version information, manifest"
    resources=$(x86_64-w64-mingw32-windres -i "$cli" -O rc)
    for wanted in 'RT_GROUP_ICON' 'RT_MANIFEST' '1 VERSIONINFO' '"ProductName", "Velmora ISP2"' \
        '"OriginalFilename", "velmora-isp2-cli.exe"' 'GPL-3.0-or-later'; do
        if ! grep -qF "$wanted" <<<"$resources"; then
            echo "velmora-isp2-cli.exe lacks $wanted" >&2
            exit 1
        fi
    done
    echo "-- the command line, end to end"
    cmake --build "$linux" --target cli_end_to_end_test
    # A UTF-8 locale: Wine hands the program's arguments over in UTF-16 from it.
    LC_ALL=C.UTF-8 ISP_CLI_COMMAND="wine $cli" ISP_CLI_PORT_NAMING=wine \
        timeout 900 "$linux/tests/cli_end_to_end_test" --gtest_filter='-Posix*'
else
    echo "-- no command line in this tree: its end-to-end tests do not run"
fi
echo "-- Wine tests: $((($(date +%s%N) - start) / 1000000)) ms"

(cd "$folder" && cpack -G ZIP >/dev/null && ls -1 ./*.zip)
if [ -d cli ] && ! (cd "$folder" && cmake -E tar tf velmora-isp2-cli-*-windows-x86_64.zip) | grep -q 'velmora-isp2-cli\.exe$'; then
    echo "the zip lacks velmora-isp2-cli.exe" >&2
    exit 1
fi
