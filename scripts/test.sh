#!/usr/bin/env bash
# Installs what is missing (install-deps.sh test), then builds and runs every test of two
# builds through CTest, side by side and each on a virtual display of its own: the plain build in
# build/, then the same tests built with AddressSanitizer and UndefinedBehaviorSanitizer in
# build-asan/. Both run even when the first fails; it ends with one line per build and fails if
# either did.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh test
summary=()
failed=0

# Build into folder $1 with the cmake options that follow, run its tests, and add its summary line.
check() {
    local dir=$1 status=0 bad total
    shift
    echo "Building and testing $dir/"
    if ! HELIXVIEW_BUILD_DIR=$dir scripts/build.sh -DBUILD_TESTING=ON "$@"; then
        summary+=("$dir: the build failed, no test ran")
        failed=1
        return
    fi
    # In the build folder: ctest --test-dir needs CMake 3.20, Debian 11 has 3.18.
    (cd "$dir" && ctest --output-on-failure --parallel "$(nproc)") | tee "$dir/ctest.log" || status=$?
    # ctest's count ("100% tests passed, 1 tests failed out of 8") as a plain "7 passed, 1 failed".
    local count='s/.*tests passed, \([0-9]*\) tests\{0,1\} failed out of \([0-9]*\).*/\1 \2/p'
    if read -r bad total < <(sed -n "$count" "$dir/ctest.log"); then
        summary+=("$dir: $((total - bad)) passed, $bad failed")
    else
        summary+=("$dir: ctest ended with status $status before its count")
    fi
    [ "$status" -eq 0 ] || failed=1
}

check build
check build-asan -DHELIXVIEW_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
echo
printf '%s\n' "${summary[@]}"
exit "$failed"
