#!/usr/bin/env bash
# Configures and builds into build/ (Release). Usage: scripts/build.sh [extra cmake options]
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
cmake --build build --parallel "$(nproc 2>/dev/null || echo 2)"
