#!/usr/bin/env bash
# Pictures of the Win32 window under Wine for the user guide, with the frames
# and icons a Wine virtual desktop draws:
#   docs/windows-main-window.png     the main window during an upload
#   docs/windows-message-window.png  the message window
# Builds the Windows programs (scripts/windows-test.sh builds the same), runs
# them in a prefix of their own on Xvfb, plays a device on a pty mapped to
# COM3 (tests/tools/pty_pager.py) and drives the window with the test driver.
#   scripts/windows-screenshots.sh
set -euo pipefail
cd "$(dirname "$0")/.."
# fonts-wine: the glyphs of the frames' buttons (Marlett).
./scripts/install-deps.sh g++-mingw-w64-x86-64-posix wine wine64 xvfb imagemagick fonts-wine

folder=build-windows
here=$(pwd)
cmake -S . -B "$folder" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
    -DISP_BUILD_QT_WINDOW=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$folder" --target velmora-isp2 window_driver

export WINEPREFIX=$here/$folder/wine-pictures WINEDEBUG=-all WINEARCH=win64
display=99
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 1024x768x24 -dpi 96 -nolisten tcp </dev/null >/dev/null 2>&1 &
xvfb=$!
pager=
work=$(mktemp -d)
cleanup() {
    [ -z "$pager" ] || kill "$pager" 2>/dev/null || true
    wineserver -k 2>/dev/null || true
    kill "$xvfb" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.1; done
export DISPLAY=":$display"

if [ ! -f "$WINEPREFIX/system.reg" ]; then
    WINEDLLOVERRIDES="mscoree,mshtml=" timeout 300 wineboot -i </dev/null >/dev/null 2>&1
    timeout 60 wineserver -w || true
fi
# The glyphs of the frames' buttons, where this Wine does not find them.
cp -n /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
# A virtual desktop the size of the screen: Wine draws frames, captions and
# icons there itself.
wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f </dev/null >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f </dev/null >/dev/null 2>&1
timeout 60 wineserver -w || true
wineserver -p </dev/null >/dev/null 2>&1
timeout 120 wine cmd /c exit </dev/null >/dev/null 2>&1
# No real serial port (see scripts/windows-test.sh).
find "$WINEPREFIX/dosdevices" -maxdepth 1 -iname 'com*' -type l -delete

driver() { wine "$here/$folder/tests/windows/window_driver.exe" "$(winepath -w "$work/out.json")" "$@" </dev/null >/dev/null 2>&1; }
# picture NAME OUTPUT: the window's frame, cut out of the screen.
picture() {
    driver tree
    geometry=$(python3 -c "import json,sys
for w in json.load(open('$work/out.json'))['windows']:
    if w['name'] == '$1':
        f = w['frame']; print('%dx%d+%d+%d' % (f['width'], f['height'], f['left'], f['top']))")
    import -window root -crop "$geometry" +repage -strip "$2"
}

tests/tools/pty_pager.py "$WINEPREFIX/dosdevices/com3" 150 &
pager=$!
sleep 1
wine "$here/$folder/app/win32/velmora-isp2.exe" </dev/null >/dev/null 2>&1 &
driver wait Form1 30000
head -c 28672 /dev/urandom >"$work/firmware.bin"
driver click Form1 OpenFile
driver open-in-dialog "$(winepath -w "$work/firmware.bin")"
driver gone dialog 10000
driver click Form1 OpenUart
sleep 12 # the pager's 151 pages
mkdir -p docs
picture Form1 docs/windows-main-window.png

head -c 100 /dev/urandom >"$work/short.bin"
driver click Form1 OpenFile
driver open-in-dialog "$(winepath -w "$work/short.bin")"
driver wait PromptForm 10000
sleep 1
picture PromptForm docs/windows-message-window.png
driver click PromptForm Command1
driver click Form1 ExitCommand
echo "wrote docs/windows-main-window.png and docs/windows-message-window.png"
