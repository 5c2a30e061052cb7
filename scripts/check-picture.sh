#!/usr/bin/env bash
# Checks that a screenshot of the viewer's window shows the helix as it is at start-up: 500 × 500
# pixels, a green and a red strand, upright in the middle. Needs ImageMagick.
# Usage: scripts/check-picture.sh SHOT.png
set -euo pipefail
shot=${1:?usage: scripts/check-picture.sh SHOT.png}

if ! command -v identify >/dev/null; then
    echo "check-picture: ImageMagick is not installed (Debian package imagemagick)." >&2
    exit 1
fi
fail() {
    echo "check-picture: $shot: $*" >&2
    exit 1
}

size=$(identify -format '%wx%h' "$shot")
[ "$size" = 500x500 ] || fail "the window is $size, not 500x500"

# Pixels by kind, from the histogram's "count: (r,g,b...)" lines.
read -r black green red other < <(convert "$shot" -format %c histogram:info: | awk -F'[:(,)]' '
    { n = $1; r = $3; g = $4; b = $5 }
    r < 16 && g < 16 && b < 16 { black += n; next }
    g > 128 && r < 64 && b < 64 { green += n; next }
    r > 128 && g < 64 && b < 64 { red += n; next }
    { other += n }
    END { print black + 0, green + 0, red + 0, other + 0 }')
[ "$green" -gt 1000 ] || fail "no green strand ($green green pixels)"
[ "$red" -gt 1000 ] || fail "no red strand ($red red pixels)"
[ "$black" -gt 200000 ] || fail "not on black ($black black pixels)"

# Everything not black lies in this box: the strands' radius and height in the -100..100 view,
# and 5-pixel lines reaching up to 3 pixels beyond their vertices.
IFS='x+' read -r w h x y < <(convert "$shot" -format '%@\n' info:)
extent="columns $x-$((x + w - 1)), rows $y-$((y + h - 1))"
near() { [ $(($1 - $2)) -le 4 ] && [ $(($2 - $1)) -le 4 ]; }
if ! near "$x" 162 || ! near $((x + w - 1)) 337 || ! near "$y" 120 || ! near $((y + h - 1)) 449; then
    fail "the helix is not where it belongs: $extent, expected columns 162-337, rows 120-449"
fi
echo "$shot: the helix on black ($green green, $red red, $other other pixels; $extent)"
