#!/usr/bin/env bash
# Checks that every release file can be rebuilt bit for bit, as the README says: makes the release
# of dist/'s commit again with scripts/release.sh, later, in another folder (a clone in
# /var/tmp), from a caller with another umask (077), time zone and locale, and compares each file
# of dist/ with the rebuild's. reprotest, in check-debian.sh, varies the amd64 package's build
# further; this covers the rest: the source tarball, the .dsc and its .tar.xz, the arm64, armhf
# and riscv64 packages and the Windows zip. Where a file differs, diffoscope's report on it is
# kept in build-rebuild/FILE.diffoscope.txt. The rebuild's log is build-rebuild/release.log.
# Needs root (release.sh's build user). Run it after scripts/release.sh.
# Usage: scripts/check-rebuild.sh
set -euo pipefail
cd "$(dirname "$0")/.."
out=$PWD/build-rebuild

fail() {
    echo "check-rebuild: $*" >&2
    exit 1
}

[ -f dist/SHA256SUMS ] || fail "no release in dist/: make it first (scripts/release.sh)"
commit=$(git get-tar-commit-id < <(zcat dist/helixview-*.tar.gz)) || fail "dist/'s tarball names no commit"
rm -rf "$out"
mkdir -p "$out"
other=$(mktemp -d /var/tmp/helixview-rebuild.XXXXXX)
trap 'rm -rf "$other"' EXIT
git clone -q . "$other/source"
git -C "$other/source" checkout -q "$commit"
echo "check-rebuild: making the release of $commit again in $other/source, with umask 077," \
    "TZ=Pacific/Kiritimati and LC_ALL=C.UTF-8 (log in $out/release.log)"
started=$SECONDS
(cd "$other/source" && umask 077 && TZ=Pacific/Kiritimati LC_ALL=C.UTF-8 scripts/release.sh) >"$out/release.log" 2>&1 ||
    fail "the rebuild failed; see $out/release.log"
echo "check-rebuild: rebuilt in $((SECONDS - started)) s"

status=0
for file in $(cd dist && ls); do
    if cmp -s "dist/$file" "$other/source/dist/$file"; then
        echo "same bytes: $(cd dist && sha256sum "$file")"
    else
        diffoscope --no-progress --text "$out/$file.diffoscope.txt" "dist/$file" "$other/source/dist/$file" >/dev/null || true
        echo "DIFFERENT: $file; diffoscope's report is $out/$file.diffoscope.txt"
        status=1
    fi
done
[ "$status" -eq 0 ] || fail "the rebuild differs from dist/ (above)"
echo "check-rebuild: every file of dist/ rebuilt bit for bit"
