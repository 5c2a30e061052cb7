#!/usr/bin/env bash
# Checks which apt entries scripts/check-fresh.sh derives for a fresh Debian system from apt
# configurations written here: deb822 and one-line files, entries it must skip, and a
# configuration with no Debian release in it. Needs no root and no network.
# Usage: tests/check_fresh_sources_test.sh
set -euo pipefail
script=$(cd "$(dirname "$0")/.." && pwd)/scripts/check-fresh.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

# check NAME RELEASE EXPECTED: the entries derived from $work/NAME for RELEASE, as
# "debootstrap MIRROR KEYRING" and then "URI SUITE" lines, are EXPECTED.
check() {
    local got
    got=$("$script" --apt-dir "$work/$1" --print-sources "$2" | awk '
        /^# debootstrap:/ { sub(/,$/, "", $3); print "debootstrap", $3, $5 }
        /^URIs:/ { uri = $2 }
        /^Suites:/ { print uri, $2 }')
    if [ "$got" = "$3" ]; then
        echo "ok: $1, Debian $2"
    else
        printf 'FAILED: %s, Debian %s\n--- expected\n%s\n--- got\n%s\n' "$1" "$2" "$3" "$got"
        failures=$((failures + 1))
    fi
}
touch "$work/archive.gpg" "$work/list.gpg"

# deb822: several URIs and suites in one paragraph, deb-src beside deb, a disabled paragraph, a key
# given inline, backports left out; the main suite's Signed-By file goes to debootstrap.
mkdir -p "$work/deb822/sources.list.d"
cat >"$work/deb822/sources.list.d/debian.sources" <<EOF
# comment
Types: deb deb-src
URIs: http://archive.test/debian http://second.test/debian
Suites: bookworm bookworm-updates bookworm-backports
Components: main contrib
Signed-By: $work/archive.gpg

Types: deb
Enabled: no
URIs: http://disabled.test/debian
Suites: bookworm

types: deb
uris: http://security.test/debian-security
suites: bookworm-security
Signed-By:
 -----BEGIN PGP PUBLIC KEY BLOCK-----
 .
 -----END PGP PUBLIC KEY BLOCK-----
EOF
expected="debootstrap http://archive.test/debian $work/archive.gpg
http://archive.test/debian trixie
http://archive.test/debian trixie-updates
http://second.test/debian trixie
http://second.test/debian trixie-updates
http://security.test/debian-security trixie-security"
check deb822 13 "$expected"
check deb822 12 "${expected//trixie/bookworm}"

# One-line lists: options with signed-by, comments, deb-src and other releases' entries skipped.
mkdir -p "$work/lines/sources.list.d"
cat >"$work/lines/sources.list" <<EOF
# deb http://commented.test/debian bookworm main
deb-src http://source.test/debian bookworm main
deb [arch=amd64 signed-by=$work/list.gpg] http://lines.test/debian bookworm main
deb http://lines.test/debian-security bookworm-security main
deb http://old.test/debian bullseye main
EOF
echo "deb http://lines.test/debian bookworm-updates main" >"$work/lines/sources.list.d/updates.list"
check lines 13 "debootstrap http://lines.test/debian $work/list.gpg
http://lines.test/debian trixie
http://lines.test/debian trixie-updates
http://lines.test/debian-security trixie-security"

# No Debian release among the entries: a plain error, not an empty list.
mkdir -p "$work/none"
echo "deb http://archive.test/debian stable main" >"$work/none/sources.list"
if message=$("$script" --apt-dir "$work/none" --print-sources 13 2>&1); then
    echo "FAILED: none: derived entries from a configuration without a release: $message"
    failures=$((failures + 1))
elif ! grep -q "no Debian release's entry" <<<"$message"; then
    echo "FAILED: none: unclear error: $message"
    failures=$((failures + 1))
else
    echo "ok: none"
fi

[ "$failures" -eq 0 ]
