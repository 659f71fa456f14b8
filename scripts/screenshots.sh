#!/usr/bin/env bash
# Pictures of the two windows for the user guide: builds the program and the
# picture taker (tests/tools/qt_window_screenshots.cpp), starts it on a virtual
# X display (Xvfb) and writes
#   docs/main-window.png      the main window during an upload
#   docs/message-window.png   the message window
# each cropped to the window's client area. The program itself has no
# picture-taking mode: the taker builds the same windows and grabs them.
#   scripts/screenshots.sh [BUILD_FOLDER]    (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh xvfb xauth

build=${1:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target velmora-isp2 qt_window_screenshots

mkdir -p docs
# A fixed DPI and no desktop theme: the pictures show the windows at scale
# factor 1 with Qt's own style, as on a plain X desktop.
env -u QT_SCALE_FACTOR -u QT_QPA_PLATFORMTHEME QT_QPA_PLATFORM=xcb \
    xvfb-run -a -s "-screen 0 1280x1024x24 -dpi 96" \
    "$build/tests/qt_window_screenshots" docs/main-window.png docs/message-window.png
echo "wrote docs/main-window.png and docs/message-window.png"
