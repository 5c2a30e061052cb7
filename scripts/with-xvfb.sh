#!/usr/bin/env bash
# Runs a command on a private virtual X display, on a free display number, and stops the
# display afterwards whatever the outcome. Usage: scripts/with-xvfb.sh COMMAND [ARGS...]
set -euo pipefail

if ! command -v Xvfb >/dev/null; then
    echo "with-xvfb: Xvfb is not installed (Debian package xvfb)." >&2
    exit 1
fi

ready=$(mktemp)
xvfb_pid=
stop() {
    if [ -n "$xvfb_pid" ]; then
        kill "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
    fi
    rm -f "$ready"
}
trap stop EXIT
trap 'exit 130' INT TERM

# -displayfd picks a free display number and writes it once the server accepts clients.
# -noreset: otherwise the server resets whenever its last client leaves, and refuses the next
# client (a test starting right after another) while it does.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$ready" 2>/dev/null &
xvfb_pid=$!
for _ in $(seq 100); do
    [ -s "$ready" ] && break
    if ! kill -0 "$xvfb_pid" 2>/dev/null; then
        echo "with-xvfb: Xvfb failed to start." >&2
        exit 1
    fi
    sleep 0.1
done
if [ ! -s "$ready" ]; then
    echo "with-xvfb: Xvfb did not come up within 10 s." >&2
    exit 1
fi
DISPLAY=":$(head -n1 "$ready")"
export DISPLAY
status=0
"$@" || status=$?
exit "$status"
