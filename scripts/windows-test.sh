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
# Xvfb: the window's tests run on a headless X server, where xdotool and
# xprop read its windows' icons; NSIS makes the setup program.
./scripts/install-deps.sh g++-mingw-w64-x86-64-posix wine wine64 xvfb xdotool x11-utils nsis
stage_start=$(date +%s%N)

linux=${1:-build}
folder=build-windows
here=$(pwd)

cmake -S . -B "$folder" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
    -DISP_BUILD_QT_WINDOW=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$folder"
cmake --build "$linux" --target wine_line_test win32_window_test

# Wine, quiet, in a prefix of this build folder's own, on a headless X
# server of its own: the window's tests need one, and Wine's desktop takes
# the display its server first saw.
export WINEPREFIX=$here/$folder/wine WINEDEBUG=-all WINEARCH=win64
unset WAYLAND_DISPLAY
xvfb_pid=
cleanup() {
    wineserver -k 2>/dev/null || true
    [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT
display=99
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.1; done
export DISPLAY=":$display"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    rm -rf "$WINEPREFIX"
    # No offer to install Mono or Gecko: nothing here needs them.
    WINEDLLOVERRIDES="mscoree,mshtml=" timeout 300 wineboot -i </dev/null >/dev/null 2>&1
    # Let the server that made the prefix end, so the one below is ours.
    timeout 60 wineserver -w || true
fi
# A persistent wineserver, and Wine's helper processes (services.exe,
# winedevice.exe, ...) started now with their output on /dev/null: they
# inherit the output of the first Windows program otherwise, and a test
# reading that program's output would wait for them to end.
# (A server already running for this prefix stays, and is stopped at the end.)
wineserver -p </dev/null >/dev/null 2>&1 || true
timeout 120 wine cmd /c exit </dev/null >/dev/null 2>&1
# No test may open a real serial port: when its server starts, Wine maps
# every /dev/ttyS*, ttyUSB* and ttyACM* it finds onto a COM port, a link in
# the prefix's dosdevices. Those links go now that the server is up (it
# makes them once); the tests map the ports they use onto pseudo-terminals.
find "$WINEPREFIX/dosdevices" -maxdepth 1 -iname 'com*' -type l -delete

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
echo "-- the window on Windows"
ISP_WIN32_WINDOW=$here/$folder/app/win32/velmora-isp2.exe \
    ISP_WIN32_DRIVER=$here/$folder/tests/windows/window_driver.exe \
    timeout 900 "$linux/tests/win32_window_test"
# Once more on a screen of 144 dpi (150 %): the layout at the window's own
# density. Wine reads the density when its server starts.
set_dpi() {
    timeout 60 wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f </dev/null >/dev/null 2>&1
    wineserver -k 2>/dev/null || true
    timeout 60 wineserver -w || true
    wineserver -p </dev/null >/dev/null 2>&1 || true
    timeout 120 wine cmd /c exit </dev/null >/dev/null 2>&1
    find "$WINEPREFIX/dosdevices" -maxdepth 1 -iname 'com*' -type l -delete
}
set_dpi 144
ISP_WIN32_WINDOW=$here/$folder/app/win32/velmora-isp2.exe \
    ISP_WIN32_DRIVER=$here/$folder/tests/windows/window_driver.exe ISP_WIN32_EXPECTED_DPI=144 \
    timeout 300 "$linux/tests/win32_window_test" --gtest_filter='*BuiltAsLaidOut*'
set_dpi 96
echo "-- Wine tests: $((($(date +%s%N) - start) / 1000000)) ms"

echo "-- the downloads"
rm -f "$folder"/velmora-isp2-*.zip
(cd "$folder" && cpack -G ZIP >/dev/null && ls -1 ./*.zip)
zip=$(ls "$folder"/velmora-isp2-*-windows-x86_64.zip)
cmake -E tar tf "$zip" >"$folder/zip-contents.txt"
for file in velmora-isp2.exe velmora-isp2-cli.exe QUICKSTART.txt LICENSE.txt README.md; do
    if ! grep -q "/$file\$" "$folder/zip-contents.txt"; then
        echo "the zip lacks $file" >&2
        exit 1
    fi
done
if ! grep -q $'\r$' "$folder/windows-texts/QUICKSTART.txt"; then
    echo "QUICKSTART.txt does not have Windows line ends" >&2
    exit 1
fi
# Each program one file: nothing but the system's own DLLs.
for program in "$folder/app/win32/velmora-isp2.exe" "$folder/cli/velmora-isp2-cli.exe"; do
    if x86_64-w64-mingw32-objdump -p "$program" | grep -i 'DLL Name' | grep -qiE 'libstdc|libgcc|winpthread|Qt'; then
        echo "$program needs a DLL beside it" >&2
        exit 1
    fi
done
cmake --build "$folder" --target windows_installer >/dev/null
tests/package/check_windows_installer.sh "$(ls "$folder"/velmora-isp2-*-setup.exe)"
echo "-- Windows stage: $((($(date +%s%N) - stage_start) / 1000000)) ms"
