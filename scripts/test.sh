#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test on a private virtual display.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh test
scripts/build.sh -DBUILD_TESTING=ON
scripts/with-xvfb.sh ctest --test-dir build --output-on-failure
