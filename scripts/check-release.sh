#!/usr/bin/env bash
# Checks that the release is reproducible: makes it twice from the checked-out commit, first here
# as this user with umask 022, then in a clone in another folder as another user (nobody), with
# umask 077 and the clock 400 days ahead (faketime), and compares the two SHA256SUMS. Where they
# differ, diffoscope shows where the bytes do. The first build's files stay in dist/; the clone
# is removed. Installs what is missing first (install-deps.sh package release). Needs root, to be
# another user. Usage: scripts/check-release.sh
set -euo pipefail
cd "$(dirname "$0")/.."

fail() {
    echo "check-release: $*" >&2
    exit 1
}

[ "$(id -u)" -eq 0 ] || fail "needs root, to make the second build as another user"
scripts/install-deps.sh package release
commit=$(git rev-parse HEAD)

echo "First build: $PWD, user $(id -un), umask 022, $(date -u '+%F %T')"
(umask 022 && scripts/release.sh) || fail "the first build failed (above)"

umask 077
other=$(mktemp -d /tmp/helixview-other-build.XXXXXX)
trap 'rm -rf "$other"' EXIT
git clone -q --no-checkout . "$other/src"
git -C "$other/src" checkout -q --detach "$commit"
chown -R nobody:nogroup "$other"
echo "Second build: $other/src, user nobody, umask 077, $(faketime -f +400d date -u '+%F %T')"
setpriv --reuid=nobody --regid=nogroup --clear-groups --reset-env \
    env HOME="$other" faketime -f +400d "$other/src/scripts/release.sh" ||
    fail "the second build failed (above)"

if diff -u dist/SHA256SUMS "$other/src/dist/SHA256SUMS"; then
    echo "Reproducible: both builds gave the same bytes:"
    cat dist/SHA256SUMS
    exit 0
fi
while read -r _ file; do
    echo "diffoscope dist/$file (first build, left) against the second build's (right):"
    diffoscope --no-progress "dist/$file" "$other/src/dist/$file" || true
done < <(diff dist/SHA256SUMS "$other/src/dist/SHA256SUMS" | sed -n 's/^< //p')
fail "the two builds of $commit differ (above)"
