#!/usr/bin/env bash
# Checks that a screenshot of the viewer's window shows the helix as it is at start-up: 500 × 500
# pixels, a green and a red strand on black, upright in the middle. The check is
# tests/check_picture.cpp, on the thresholds the end-to-end tests use; this builds it with the
# C++ compiler in a temporary folder and feeds it the shot as a PPM, which ImageMagick makes.
# Usage: scripts/check-picture.sh SHOT.png
set -euo pipefail
shot=${1:?usage: scripts/check-picture.sh SHOT.png}
tests=$(dirname "$0")/../tests

if ! command -v convert >/dev/null; then
    echo "check-picture: ImageMagick is not installed (Debian package imagemagick)." >&2
    exit 1
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

c++ -std=c++17 -O2 -o "$work/check_picture" "$tests/check_picture.cpp"
convert "$shot" -depth 8 ppm:- | "$work/check_picture" "$shot"
