#!/usr/bin/env bash
# Benchmarks helixview beside glxgears (Debian's mesa-utils) on a private virtual display and prints
# a table: frame pacing, CPU, start-up and memory. Installs what is missing (apt-get), builds a
# Release build with the start-up probe into build-bench/, and takes about two minutes.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh bench
HELIXVIEW_BUILD_DIR=build-bench scripts/build.sh -DBUILD_TESTING=OFF -DHELIXVIEW_BENCH=ON >/dev/null
scripts/with-xvfb.sh bench/measure.sh build-bench
