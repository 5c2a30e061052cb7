#!/usr/bin/env bash
# Starts helixview (build/helixview, or the PROGRAM given) on the current DISPLAY, waits for its
# first picture, saves it as a PNG and stops the viewer. Usage: scripts/screenshot.sh OUTPUT.png [PROGRAM]
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:?usage: scripts/screenshot.sh OUTPUT.png [PROGRAM]}
program=${2:-build/helixview}

"$program" &
viewer=$!
trap 'kill "$viewer" 2>/dev/null || true' EXIT

if ! window=$(timeout 10 xdotool search --sync --name '^simple$' | head -n1) || [ -z "$window" ]; then
    echo "screenshot: the viewer's window did not appear." >&2
    exit 1
fi
sleep 1 # its first frame
import -window "$window" "$out"
