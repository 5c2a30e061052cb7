#!/bin/sh
# Runs one test on an X server of its own, so that tests run side by side (ctest -j, as Debian's
# package build runs them) never meet each other's windows, pointer or window manager. Xvfb picks a
# free display number itself (-displayfd), which two servers starting at once cannot both take, and
# writes it once the display answers.
# Usage: own-display.sh COMMAND [ARGUMENTS...]
set -eu
run=$(mktemp -d "${TMPDIR:-/tmp}/helixview-display.XXXXXX")
server=
trap '[ -z "$server" ] || kill "$server" 2>/dev/null || true; rm -rf "$run"' EXIT
trap 'exit 143' TERM INT
mkfifo "$run/number"
# -noreset: Xvfb would otherwise reset when a test's last connection closes and refuse the next one
# meanwhile. It keeps its abstract socket, whose name the machine's chroots and namespaces share:
# Xvfb then skips a number that a server elsewhere holds, which clients would reach first.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -noreset -nolisten tcp 3>"$run/number" \
    >"$run/xvfb.log" 2>&1 &
server=$!
if ! read -r number <"$run/number"; then
    echo "own-display: Xvfb did not start:" >&2
    cat "$run/xvfb.log" >&2
    exit 1
fi
status=0
DISPLAY=:$number "$@" || status=$?
exit "$status"
