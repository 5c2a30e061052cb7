#!/usr/bin/env bash
# The end-to-end tests against helixview in sway, a Wayland compositor, through Xwayland, as most
# desktops start it. sway runs nested on a private Xvfb with its X11 back end: xdotool on Xvfb is
# the hand on sway's mouse. sway's kill closes the window as a close button does; sway places it, so
# only its place goes unchecked. Installs what is missing (install-deps.sh test wayland); output goes
# to build/check-wayland.log and build/check-wayland-sway.log.
set -euo pipefail
cd "$(dirname "$0")/.."
log=$PWD/build/check-wayland.log

fail() {
    echo "check-wayland: $*" >&2
    exit 1
}

# Run under xvfb-run, with nobody's folder in $1. sway refuses root; the viewer and tests run as its
# user, as on a desktop: Xwayland refuses other users, and cannot take their pictures in shared
# memory, so they come in two halves that a test reads torn.
on_display() {
    local run=$1 env display failed=0
    as_nobody() { setpriv --reuid=nobody --regid=nogroup --clear-groups --reset-env env XDG_RUNTIME_DIR="$run" HOME="$run" "$@"; }
    # Floating, the window keeps its 500 x 500; tiled, sway stretches it. The output at 0,0 and
    # scale 1 makes Xvfb's pointer coordinates Xwayland's root coordinates.
    printf '%s\n' 'xwayland force' 'output * position 0 0 scale 1' 'for_window [title="^simple$"] floating enable' \
        "exec printenv DISPLAY SWAYSOCK >$run/env" >"$run/sway.conf"
    mkfifo "$run/env"
    chown -R nobody: "$run"
    as_nobody DISPLAY="$DISPLAY" WLR_BACKENDS=x11 WLR_RENDERER=pixman sway -c "$run/sway.conf" \
        >"${log%.log}-sway.log" 2>&1 &
    sway=$!
    trap 'kill $sway; wait $sway || true' EXIT
    env=$(timeout 30 cat "$run/env") || fail "sway did not start; see ${log%.log}-sway.log"
    display=${env%%$'\n'*}
    echo "Compositor: $(sway --version) (X11 back end, pixman)," \
        "$(Xwayland -version 2>&1 | grep -o 'Xwayland Version [^ ]*'), DISPLAY $display"
    check() {
        if as_nobody DISPLAY="$display" HELIXVIEW_MOUSE_DISPLAY="$DISPLAY" HELIXVIEW_FRAMED=1 \
            HELIXVIEW_COMMAND="$run/helixview" SWAYSOCK="${env#*$'\n'}" \
            HELIXVIEW_CLOSE="swaymsg -q '[title=\"^simple\$\"] kill'" "$run/$2" --gtest_filter="$3" >>"$log" 2>&1; then
            echo "$1: passed"
        else
            echo "$1: FAILED"
            failed=1
        fi
    }
    check "The first picture" e2e_test 'Viewer.OpensTheHelixUpright*'
    check "The middle button starts and stops the spin" e2e_test 'Viewer.MiddleClick*'
    check "sway's kill ends it with status 0, printing nothing" abuse_test 'Viewer.CloseRequest*'
    check "500 x 500 whatever -geometry says, the place unchecked" e2e_test 'Viewer.GeometryOption*'
    return "$failed"
}

if [ "${1:-}" = --on-display ]; then
    on_display "$2"
    exit
fi
[ "$(id -u)" -eq 0 ] || fail "needs root, to run sway and the tests as nobody"
scripts/install-deps.sh test wayland
scripts/build.sh -DBUILD_TESTING=ON
# Copies that nobody can reach wherever this tree is.
run=$(mktemp -d)
trap 'rm -rf "$run"' EXIT
cp build/helixview build/tests/e2e_test build/tests/abuse_test "$run"
: >"$log"
# -ac: nobody's sway and xdotool use this display too.
xvfb-run -a -s "-ac -screen 0 1280x1024x24 -noreset" "$0" --on-display "$run" || fail "failed; see $log"
