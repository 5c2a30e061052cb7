#!/usr/bin/env bash
# Measures helixview beside glxgears on the current DISPLAY and prints the figures as a table.
# Usage: bench/measure.sh BUILD_DIR (bench/run.sh runs it on a private virtual display).
set -euo pipefail
build=${1:?usage: bench/measure.sh BUILD_DIR}
viewer=$build/helixview
probe=$build/bench/firstpicture
for tool in "$viewer" "$probe"; do
    [ -x "$tool" ] || { echo "measure: $tool is not built (bench/run.sh builds it)." >&2; exit 1; }
done
for tool in glxgears glxinfo perf xdotool; do
    command -v "$tool" >/dev/null || { echo "measure: $tool is missing (scripts/install-deps.sh bench)." >&2; exit 1; }
done
# glxgears as fast as it can draw (Xvfb has no vertical blank anyway); helixview's environment untouched.
gears=(env vblank_mode=0 glxgears)

work=$(mktemp -d)
running=()
cleanup() {
    for pid in "${running[@]}"; do kill "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

say() { echo "measure: $*" >&2; }
# CPU time of all the threads of a process so far, in nanoseconds.
cpu_ns() { cat /proc/"$1"/task/*/schedstat | awk '{ns += $1} END {print ns}'; }
# Per cent of one core that a process uses over the next $2 seconds.
cpu_percent() {
    local before after
    before=$(cpu_ns "$1")
    sleep "$2"
    after=$(cpu_ns "$1")
    awk -v a="$before" -v b="$after" -v s="$2" 'BEGIN {printf "%.2f", (b - a) / (s * 1e7)}'
}
# A memory figure of /proc/PID/status (VmRSS now, VmHWM the peak), in MiB.
memory() { awk -v f="$2:" '$1 == f {printf "%.1f", $2 / 1024}' /proc/"$1"/status; }
# Median, 95th percentile and maximum of numbers one a line, as "a / b / c".
spread() {
    sort -n | awk '{v[NR] = $1} END {
        p = int(0.95 * NR); if (p < 0.95 * NR) p++
        printf "%.2f / %.2f / %.2f", v[int((NR + 1) / 2)], v[p], v[NR] }'
}
median() { sort -n | awk '{v[NR] = $1} END {printf "%.0f", v[int((NR + 1) / 2)]}'; }
window() {
    timeout 20 xdotool search --sync --name "^$1\$" >/dev/null ||
        { echo "measure: no window titled $1 appeared." >&2; exit 1; }
}

say "start-up: exec to the first complete picture, 5 runs of each"
start_viewer=$(for _ in 1 2 3 4 5; do "$probe" simple "$viewer"; done | median)
start_gears=$(for _ in 1 2 3 4 5; do "$probe" glxgears "${gears[@]}"; done | median)

"$viewer" &
viewer_pid=$!
running+=("$viewer_pid")
window simple
sleep 1
say "helixview still for 10 s"
cpu_still=$(cpu_percent "$viewer_pid" 10)
xdotool mousemove 250 250 click 1
spin_start=$SECONDS
sleep 2
rss_start=$(memory "$viewer_pid" VmRSS)
say "helixview spinning: 10 s of CPU, then 10 s of frame timing"
cpu_spin=$(cpu_percent "$viewer_pid" 10)
perf trace -e clock_nanosleep,writev -p "$viewer_pid" -o "$work/trace" -- sleep 10 >/dev/null 2>&1 ||
    { echo "measure: perf trace failed; it needs access to the kernel's tracepoints (root)." >&2; exit 1; }
say "helixview spinning on to 60 s, for memory"
sleep $((60 - (SECONDS - spin_start)))
rss_end=$(memory "$viewer_pid" VmRSS)
peak_viewer=$(memory "$viewer_pid" VmHWM)
kill "$viewer_pid"

say "glxgears for 11 s"
"${gears[@]}" >"$work/gears" 2>&1 &
gears_pid=$!
running+=("$gears_pid")
window glxgears
sleep 1
cpu_gears=$(cpu_percent "$gears_pid" 10)
peak_gears=$(memory "$gears_pid" VmHWM)
kill "$gears_pid"
fps_gears=$(awk '/FPS/ {fps += $(NF - 1); n++} END {if (n) printf "%.0f", fps / n; else print "?"}' "$work/gears")

# One line per frame of the main thread: period, drawing, the delay before it, the rest. A frame
# runs from one delay's start to the next; its first X request (Mesa asking the window's size
# in glClear) marks where drawing begins, since nothing between the delay and the clear talks to X.
sed -nE 's/^ *([0-9.]+) \( *([0-9.]+) ms\): [^ ]+ (clock_nanosleep|writev)\(.*/\1 \2 \3/p' "$work/trace" |
    awk '$3 == "clock_nanosleep" {
            if (drawn != "") printf "%.3f %.3f %.3f %.3f\n", $1 - slept, $1 - drawn, delay, drawn - woke
            slept = $1; delay = $2; woke = $1 + $2; drawn = ""
         }
         $3 == "writev" && woke != "" && drawn == "" {drawn = $1}' >"$work/frames"
frames=$(wc -l <"$work/frames")
[ "$frames" -gt 50 ] || { echo "measure: only $frames frames traced; is the viewer spinning?" >&2; exit 1; }
fps=$(awk '{ms += $1} END {printf "%.2f", 1000 * NR / ms}' "$work/frames")
column() { awk -v c="$1" '{print $c}' "$work/frames" | spread; }
growth=$(awk -v a="$rss_start" -v b="$rss_end" 'BEGIN {printf "%+.1f %%", 100 * (b - a) / a}')
renderer=$(glxinfo -B 2>/dev/null | sed -n 's/^OpenGL renderer string: //p')
load=$(cut -d' ' -f1-3 /proc/loadavg)

cat <<TABLE

helixview beside glxgears on one virtual display; renderer: $renderer; $(nproc) cores,
load average $load.
Timings in ms as median / 95th percentile / maximum over $frames frames.

| Figure | helixview | glxgears | Target for helixview |
|---|---|---|---|
| Frames a second while spinning | $fps | $fps_gears | about 14 |
| Frame period, ms | $(column 1) | $(awk -v f="$fps_gears" 'BEGIN {printf "%.2f (mean)", 1000 / f}') | median ≤ 71.2, 95th < 72 |
| - drawing, ms | $(column 2) | | about 1.0 |
| - delay of 70 ms, as slept, ms | $(column 3) | | overshoot < 0.2 |
| - rest, ms | $(column 4) | | |
| CPU while still, % of a core | $cpu_still | never still | 0.0 |
| CPU while spinning, % of a core | $cpu_spin | $cpu_gears | < 3 |
| Start-up to first complete picture, ms (median of 5) | $start_viewer | $start_gears | |
| Peak RSS, MiB | $peak_viewer | $peak_gears | ≤ glxgears |
| RSS over a 60 s spin, MiB | $rss_start → $rss_end ($growth) | | growth ≤ 1 % |

Drawing: from the frame's first X request (Mesa asks the window's size in glClear) to the start of
the delay: clear, turn, the two strands, and Mesa rendering and putting the picture on the window.
Delay: the 70 ms sleep as the kernel served it. Rest: from the end of the delay to the next frame's
first X request: the flush after the delay and the event loop's look for X events. Frame timings come
from perf trace of the two system calls (no stop of the traced process); CPU from the kernel's
per-thread run time over 10 s, a separate stretch from the trace.
TABLE
