#!/usr/bin/env bash
# Measures the per-frame costs (the turning step, and a frame without its delay) in a real GL
# context on a private virtual display. Builds into build-bench/; results go to the terminal.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh bench
HELIXVIEW_BUILD_DIR=build-bench scripts/build.sh -DBUILD_TESTING=OFF -DHELIXVIEW_BENCH=ON >/dev/null
scripts/with-xvfb.sh build-bench/bench/frame_bench "$@"
