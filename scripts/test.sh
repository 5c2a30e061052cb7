#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test of two builds, each on a private
# virtual display: the plain build in build/ (with a spin under valgrind's memcheck), then the same
# tests built with AddressSanitizer and UndefinedBehaviorSanitizer in build-asan/. Both run even
# when the first fails; it ends with one line per build and fails if either did.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh test memcheck

summary=()
failed=0

# Build into folder $1 (called $2) with the cmake options that follow, run its tests, and add its
# line to the summary.
check() {
    local dir=$1 name=$2
    shift 2
    echo "Building and testing the $name in $dir/"
    if ! HELIXVIEW_BUILD_DIR=$dir scripts/build.sh -DBUILD_TESTING=ON "$@"; then
        summary+=("$dir: the build failed, no test ran")
        failed=1
        return
    fi
    local status=0 bad total
    # xvfb-run -a takes the next display number when one is busy. -noreset: otherwise Xvfb resets
    # when its last client leaves and refuses the next test's client while it does.
    xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" \
        ctest --test-dir "$dir" --output-on-failure | tee "$dir/ctest.log" || status=$?
    # ctest's count ("100% tests passed, 1 tests failed out of 8") as a plain "7 passed, 1 failed".
    local count='s/.*tests passed, \([0-9]*\) tests\{0,1\} failed out of \([0-9]*\).*/\1 \2/p'
    if read -r bad total < <(sed -n "$count" "$dir/ctest.log"); then
        summary+=("$dir: $((total - bad)) passed, $bad failed")
    else
        summary+=("$dir: ctest ended with status $status before its count")
    fi
    [ "$status" -eq 0 ] || failed=1
}

check build "plain build"
check build-asan "sanitizer build" -DHELIXVIEW_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo

echo
printf '%s\n' "${summary[@]}"
exit "$failed"
