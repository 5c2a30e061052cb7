#!/usr/bin/env bash
# Installs what is missing (install-deps.sh run), builds into build/ and opens the viewer. With no
# display to open it on, it runs the viewer on a virtual display instead and saves its first
# picture to build/helixview.png.
set -euo pipefail
cd "$(dirname "$0")/.."

# On the virtual display: the first picture of the viewer's window, saved with ImageMagick.
if [ "${1:-}" = --on-display ]; then
    build/helixview &
    trap 'kill $!' EXIT
    if ! window=$(timeout 10 xdotool search --sync --name '^simple$' | head -n1); then
        echo "run: the viewer's window did not appear" >&2
        exit 1
    fi
    sleep 1 # its first frame
    import -window "$window" build/helixview.png
    exit
fi

scripts/install-deps.sh run
scripts/build.sh -DBUILD_TESTING=OFF
if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    echo "Opening helixview on $DISPLAY (left, middle, right button: spin about X, Y, Z)."
    exec build/helixview
fi
echo "No display to open a window on: running helixview on a virtual display instead."
scripts/install-deps.sh headless
xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten local" "$0" --on-display
echo "Screenshot saved to $PWD/build/helixview.png"
