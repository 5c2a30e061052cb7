#!/usr/bin/env bash
# Measures the per-frame costs (the turning step, and a frame without its delay) in a real GL
# context on a private virtual display. Builds into build-bench/; results go to the terminal.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh test bench
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DHELIXVIEW_BENCHMARKS=ON >/dev/null
cmake --build build-bench --parallel "$(nproc 2>/dev/null || echo 2)" --target frame_bench >/dev/null
scripts/with-xvfb.sh build-bench/bench/frame_bench "$@"
