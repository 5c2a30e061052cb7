#!/usr/bin/env bash
# Installs what is missing, builds, and opens the viewer. With no display to open it on, it runs
# the viewer on a virtual display instead and saves a screenshot to build/helixview.png.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh run
scripts/build.sh -DBUILD_TESTING=OFF

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    echo "Opening helixview on $DISPLAY (left, middle, right button: spin about X, Y, Z)."
    exec build/helixview
fi

echo "No display to open a window on: running helixview on a virtual display instead."
scripts/install-deps.sh headless
xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" scripts/screenshot.sh build/helixview.png
echo "Screenshot saved to $(pwd)/build/helixview.png"
