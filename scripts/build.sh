#!/usr/bin/env bash
# Configures and builds into build/ (Release), or into the folder named by HELIXVIEW_BUILD_DIR.
# Usage: scripts/build.sh [extra cmake options]
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${HELIXVIEW_BUILD_DIR:-build}
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
cmake --build "$dir" --parallel "$(nproc)"
