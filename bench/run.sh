#!/usr/bin/env bash
# Benchmarks helixview on a private virtual display and prints its figures (bench/README.md says
# what each is and how it is taken): frame pacing, CPU still and spinning, start-up and memory,
# through perf, which needs root. With --frame-costs: the per-frame costs through Google Benchmark,
# which takes the options after it. Installs what is missing (install-deps.sh bench) and builds
# into build-bench/, where the traces stay; the figures go to the terminal.
set -euo pipefail
cd "$(dirname "$0")/.."
viewer=build-bench/helixview
work=build-bench/traces

fail() {
    echo "bench: $*" >&2
    exit 1
}
# Median, 95th percentile and maximum of numbers one a line, as "a / b / c".
spread() {
    sort -n | awk '{ v[NR] = $1 } END {
        p = int(0.95 * NR); if (p < 0.95 * NR) p++
        printf "%.2f / %.2f / %.2f", v[int((NR + 1) / 2)], v[p], v[NR] }'
}
# Per cent of one core that process $1 uses over 10 s, all its threads together.
cpu() {
    perf stat -x, -e task-clock -p "$1" -- sleep 10 2>&1 >/dev/null |
        awk -F, '$3 == "task-clock" { printf "%.2f", 100 * $6 }'
}
# A figure of /proc/PID/status (VmRSS now, VmHWM the peak), in MiB.
memory() {
    awk -v f="$2:" '$1 == f { printf "%.1f", $2 / 1024 }' "/proc/$1/status"
}

# On the virtual display.
measure() {
    mkdir -p "$work"
    trap 'kill "${viewer_pid:-}" 2>/dev/null || true' EXIT
    # From the viewer's exec to its first frame's delay, which starts once the first picture has
    # gone to the window.
    echo "bench: start-up, 5 runs" >&2
    for _ in 1 2 3 4 5; do
        perf trace -e execve,clock_nanosleep -o "$work/trace" -- timeout 4 "$viewer" >/dev/null 2>&1 || true
        awk '/ helixview\/[0-9]+ execve\(/ { exec = $1 }
            / helixview\/[0-9]+ clock_nanosleep\(/ && exec != "" { print $1 - exec; exit }' "$work/trace" |
            grep . || fail "perf trace saw no first frame within 4 s; it needs root"
    done >"$work/start"

    "$viewer" &
    viewer_pid=$!
    timeout 20 xdotool search --sync --name '^simple$' >/dev/null || fail "the viewer's window did not appear"
    sleep 1
    echo "bench: still for 10 s" >&2
    cpu_still=$(cpu "$viewer_pid")
    xdotool mousemove 250 250 click 1
    spin_start=$SECONDS
    sleep 2
    rss_start=$(memory "$viewer_pid" VmRSS)
    echo "bench: spinning: 10 s of CPU, 10 s of frames, and on to 60 s for memory" >&2
    cpu_spin=$(cpu "$viewer_pid")
    perf trace -e clock_nanosleep -p "$viewer_pid" -o "$work/trace" -- sleep 10 >/dev/null 2>&1 ||
        fail "perf trace failed; it needs root"
    sleep $((60 - (SECONDS - spin_start)))
    rss_end=$(memory "$viewer_pid" VmRSS)
    peak=$(memory "$viewer_pid" VmHWM)

    # Each frame's delay as "start duration", in ms, from the main thread's trace.
    sed -nE "s/^ *([0-9.]+) \( *([0-9.]+) ms\): helixview\/$viewer_pid clock_nanosleep\(.*/\1 \2/p" \
        "$work/trace" >"$work/frames"
    frames=$(wc -l <"$work/frames")
    [ "$frames" -gt 50 ] || fail "only $frames frames traced; is the viewer spinning?"
    fps=$(awk '{ t[NR] = $1 } END { printf "%.2f", 1000 * (NR - 1) / (t[NR] - t[1]) }' "$work/frames")
    period=$(awk 'NR > 1 { print $1 - last } { last = $1 }' "$work/frames" | spread)
    slept=$(awk '{ print $2 }' "$work/frames" | spread)
    growth=$(awk -v a="$rss_start" -v b="$rss_end" 'BEGIN { printf "%+.1f %%", 100 * (b - a) / a }')
    cat <<TABLE

helixview on Xvfb; $(glxinfo -B | sed -n 's/^OpenGL renderer string: //p'); $(nproc) cores;
load average $(cut -d' ' -f1-3 /proc/loadavg). Times in ms as median / 95th percentile / maximum
over $frames frames.

| Figure | helixview |
|---|---|
| Frames a second while spinning | $fps |
| Frame period, ms | $period |
| Delay of 70 ms as slept, ms | $slept |
| CPU while still, % of a core | $cpu_still |
| CPU while spinning, % of a core | $cpu_spin |
| Start-up to the first picture, ms (5 runs) | $(spread <"$work/start") |
| Peak RSS, MiB | $peak |
| RSS over a 60 s spin, MiB | $rss_start → $rss_end ($growth) |
TABLE
}

if [ "${1:-}" = --on-display ]; then
    measure
    exit
fi
if [ $# -gt 0 ] && [ "$1" != --frame-costs ]; then
    fail "unknown option '$1' (the only one is --frame-costs)"
fi
scripts/install-deps.sh bench
HELIXVIEW_BUILD_DIR=build-bench scripts/build.sh -DBUILD_TESTING=OFF -DHELIXVIEW_BENCH=ON >/dev/null
# -noreset: otherwise Xvfb resets when its last client leaves and refuses the next one meanwhile.
if [ "${1:-}" = --frame-costs ]; then
    shift
    exec xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" build-bench/bench/frame_bench "$@"
fi
xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" "$0" --on-display
