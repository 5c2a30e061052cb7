#!/usr/bin/env bash
# The end-to-end tests against helixview through Xwayland in sway, mutter (GNOME's) and kwin (KDE Plasma's),
# each nested on a private Xvfb whose pointer xdotool moves as its mouse, each closing the window its own way.
# Installs what is missing (install-deps.sh test wayland); output goes to build/check-wayland*.log.
# Usage: scripts/check-wayland.sh [sway|mutter|kwin...]
set -euo pipefail
cd "$(dirname "$0")/.."
log=$PWD/build/check-wayland.log

fail() { echo "check-wayland: $*" >&2 && exit 1; }

# How a compositor starts nested on $DISPLAY and runs $run/ready once its Xwayland is up (held where it
# would end with it), closes the window, where it puts it (HELIXVIEW_FRAMED), and its version.
compositor() {
    case $1 in
    sway)
        # Floating, the window keeps its 500 x 500; tiled, sway stretches it. The output at 0,0 and
        # scale 1 makes Xvfb's pointer coordinates Xwayland's root coordinates.
        printf '%s\n' 'xwayland force' 'output * position 0 0 scale 1' \
            'for_window [title="^simple$"] floating enable' "exec $run/ready" >"$run/sway.conf"
        start=(env WLR_BACKENDS=x11 WLR_RENDERER=pixman sway -c "$run/sway.conf")
        close="swaymsg -q '[title=\"^simple\$\"] kill'" framed=placed place="where sway floats it, unchecked"
        version="$(sway --version) (X11 back end, pixman)" ;;
    mutter)
        start=(env MUTTER_DEBUG_DUMMY_MODE_SPECS=1280x1024 mutter --nested --wayland -- "$run/ready" hold)
        close="wmctrl -c simple" framed=title version=$(mutter --version | sed -n 1p) ;;
    kwin)
        # A copy without Debian's file capability, which exec refuses where the bounding set lacks it
        # (containers). Its script closes the window and says which desktop entry kwin tied it to.
        cp /usr/bin/kwin_wayland "$run"
        start=(env QT_LOGGING_RULES=kwin_scripting=true "$run/kwin_wayland" --x11-display "$DISPLAY"
            --width 1280 --height 1024 --xwayland "$run/ready")
        echo '(workspace.windowList ? workspace.windowList() : workspace.clientList()).forEach(function (w) { if
            (w.caption == "simple") { print("desktop entry: " + w.desktopFileName); w.closeWindow(); } });' >"$run/close.js"
        local kwin="dbus-send --session --print-reply --dest=org.kde.KWin /Scripting org.kde.kwin.Scripting"
        close="$kwin.unloadScript string:close; $kwin.loadScript string:$run/close.js string:close && $kwin.start"
        framed=title version=$("$run/kwin_wayland" --version 2>/dev/null) ;;
    *) fail "unknown compositor '$1' (sway, mutter or kwin)" ;;
    esac
}

# On its own display: nobody's folder in $1, the compositor in $2. The viewer and tests run as the compositor's
# user, as on a desktop: Xwayland refuses other users (kwin's), and takes their pictures torn.
on_display() {
    run=$1 failed=0 framed='' place="below the title bar: x 0 to 2, y 16 to 48"
    local clog=${log%.log}-$2.log env window viewer entry
    local as_nobody=(setpriv --reuid=nobody --regid=nogroup --clear-groups --reset-env env XDG_RUNTIME_DIR="$run/$2"
        HOME="$run/$2" XDG_DATA_DIRS="$run/share:/usr/share")
    compositor "$2"
    printf '#!/bin/sh\n%s\n' "$close" >"$run/close"
    printf '%s\n' '#!/bin/sh' "env | grep -E '^(DISPLAY|XAUTHORITY|SWAYSOCK|DBUS_SESSION_BUS_ADDRESS)=' >$run/env" \
        "[ \"\${1:-}\" != hold ] || exec sleep infinity" >"$run/ready"
    chmod +x "$run/ready" "$run/close"
    mkdir -m 700 "$run/$2" && mkfifo "$run/env" && chown -R nobody: "$run"
    # Its own process group (and D-Bus session), which ends with it: the bus, Xwayland, the rest.
    # wait sees only the group's first process; the others (kwin saving its settings) may still be
    # writing in nobody's folder, which is removed next, so the group's end is waited for (pidwait,
    # on each process's pidfd, which an ended one makes readable even as a zombie where nothing
    # reaps orphans, as in mmdebstrap's systems), 10 s at most.
    setsid "${as_nobody[@]}" DISPLAY="$DISPLAY" dbus-run-session -- "${start[@]}" >"$clog" 2>&1 &
    group=$!
    trap 'kill -- -$group 2>/dev/null; wait; timeout 10 pidwait -g "$group" || true
        kill -KILL -- -$group 2>/dev/null || true' EXIT
    mapfile -t env < <(timeout 30 cat "$run/env")
    [ ${#env[@]} -gt 0 ] || fail "$2 did not start; see $clog"
    local up=$EPOCHREALTIME
    # Xwayland up is not yet its window manager taking windows, and a window shown before that is
    # taken and framed under the test (under load kwin's first window was at 0,0, and reading it
    # once gave an X error). A window manager names its check window on the root once set up:
    # xprop -spy prints the property, then again at each change of it.
    coproc spy { exec timeout 60 "${as_nobody[@]}" "${env[@]}" xprop -root -spy _NET_SUPPORTING_WM_CHECK 2>/dev/null; }
    grep -q -m 1 'window id' <&"${spy[0]}" || fail "$2's window manager did not take Xwayland's windows within 60 s; see $clog"
    kill "$spy_PID" 2>/dev/null || true
    echo "Compositor: $version, $(Xwayland -version 2>&1 | grep -o 'Xwayland Version [^ ]*')," \
        "$(printf '%s\n' "${env[@]}" | grep '^DISPLAY=');" \
        "its window manager took windows $(awk -v a="$up" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.1f", b - a }') s after Xwayland"
    # A failed check shows the test's own output (its assertion, the figures, the times) here too.
    check() {
        local result=passed
        "${as_nobody[@]}" "${env[@]}" HELIXVIEW_MOUSE_DISPLAY="$DISPLAY" HELIXVIEW_FRAMED="$framed" HELIXVIEW_COMMAND="$run/helixview" \
            HELIXVIEW_CLOSE="$run/close" "$run/$2" --gtest_filter="$3" >"$run/test.log" 2>&1 || result=FAILED failed=1
        cat "$run/test.log" >>"$log"
        echo "$1: $result"
        [ "$result" = passed ] || sed 's/^/    /' "$run/test.log"
    }
    check "The first picture, with the window's WM_CLASS and _NET_WM_PID" e2e_test 'Viewer.OpensTheHelixUpright*'
    check "The middle button starts and stops the spin" e2e_test 'Viewer.MiddleClick*'
    check "$2's close ends it with status 0, printing nothing" abuse_test 'Viewer.CloseRequest*'
    check "500 x 500 whatever -geometry says, $place" e2e_test 'Viewer.GeometryOption*'
    # The window in Xwayland, closed the compositor's way; xdotool ends at a window going as it looks.
    "${as_nobody[@]}" "${env[@]}" "$run/helixview" &
    viewer=$!
    window=$(timeout 10 "${as_nobody[@]}" "${env[@]}" xdotool search --sync --onlyvisible --classname '^helixview$' \
        2>/dev/null | sed -n 1p) || kill "$viewer"
    "${as_nobody[@]}" "${env[@]}" xprop -id "$window" WM_CLASS _NET_WM_PID WM_NAME | sed 's/^/The window: /'
    "${as_nobody[@]}" "${env[@]}" xwininfo -id "$window" | awk '/Absolute upper-left|Width|Height/ { v[++n] = $NF }
        END { print "Its client area: " v[3] " x " v[4] " at (" v[1] "," v[2] ")" }'
    "${as_nobody[@]}" "${env[@]}" "$run/close" >>"$log" 2>&1 || failed=1
    # A close that never reaches the viewer fails the check instead of hanging it (seen under load).
    (sleep 30 && kill "$viewer" 2>/dev/null && echo "The viewer still ran 30 s after $2's close") &
    local watchdog=$!
    wait "$viewer" || failed=1
    kill "$watchdog" 2>/dev/null || true
    entry=$(sed -n 's/.*desktop entry: //p' "$clog" | sed -n 1p)
    [ "$2" != kwin ] || { echo "kwin ties the window to the desktop entry: $entry" && [ "$entry" = org.helixview.viewer ]; } || failed=1
    return "$failed"
}

[ "${1:-}" != --on-display ] || { on_display "$2" "$3"; exit; }
[ "$(id -u)" -eq 0 ] || fail "needs root, to run the compositors and the tests as nobody"
scripts/install-deps.sh test wayland
scripts/build.sh -DBUILD_TESTING=ON
: >"$log"
failed=()
[ $# -gt 0 ] || set -- sway mutter kwin
for name in "$@"; do
    # Copies that nobody can reach wherever this tree is, the desktop entry where kwin looks. The
    # tests' own display (a free number that Xvfb picks itself) has no authorization: nobody's
    # compositor and xdotool use it too.
    run=$(mktemp -d)
    cp build/helixview build/tests/e2e_test build/tests/abuse_test "$run"
    install -D -m 644 -t "$run/share/applications" packaging/org.helixview.viewer.desktop
    tests/own-display.sh "$0" --on-display "$run" "$name" || failed+=("$name")
    rm -rf "$run"
done
[ ${#failed[@]} -eq 0 ] || fail "failed in ${failed[*]}; see $log and each compositor's own log, ${log%.log}-COMPOSITOR.log"
