#!/usr/bin/env bash
# Installs what is missing, builds twice and runs every test of each build on a private virtual
# display: the plain build in build/ (with a spin under valgrind's memcheck), then the same tests
# built with AddressSanitizer and UndefinedBehaviorSanitizer in build-asan/.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh test memcheck
scripts/build.sh -DBUILD_TESTING=ON
HELIXVIEW_BUILD_DIR=build-asan scripts/build.sh -DBUILD_TESTING=ON -DHELIXVIEW_SANITIZE=ON \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo

echo "Tests of the plain build (build/):"
scripts/with-xvfb.sh ctest --test-dir build --output-on-failure
echo "Tests of the sanitizer build (build-asan/):"
scripts/with-xvfb.sh ctest --test-dir build-asan --output-on-failure
