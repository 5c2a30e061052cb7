#!/usr/bin/env bash
# Benchmarks helixview on a private virtual display. Without options: beside glxgears (Debian's
# mesa-utils), a table of frame pacing, CPU, start-up and memory, in about two minutes. With
# --frame-costs: the per-frame costs (the turning step, and a frame without its delay) in a real
# GL context, through Google Benchmark, which takes the options after it. Installs what is missing
# (apt-get) and builds a Release build with the benchmarks into build-bench/; results go to the
# terminal. Usage: bench/run.sh [--frame-costs [Google Benchmark options]]
set -euo pipefail
cd "$(dirname "$0")/.."

frame_costs=false
if [ "${1:-}" = --frame-costs ]; then
    frame_costs=true
    shift
elif [ $# -gt 0 ]; then
    echo "bench/run.sh: unknown option '$1' (the only one is --frame-costs)" >&2
    exit 2
fi

scripts/install-deps.sh bench
HELIXVIEW_BUILD_DIR=build-bench scripts/build.sh -DBUILD_TESTING=OFF -DHELIXVIEW_BENCH=ON >/dev/null
if $frame_costs; then
    scripts/with-xvfb.sh build-bench/bench/frame_bench "$@"
else
    scripts/with-xvfb.sh bench/measure.sh build-bench
fi
