#!/usr/bin/env bash
# shellcheck disable=SC2016 # the hooks and apt's format are expanded by mmdebstrap's shell and apt
# Checks the README's two Quick start commands on freshly made Debian 12 (bookworm), Debian 13
# (trixie) and Debian testing systems. For each release mmdebstrap makes a minimal system
# (--variant=minbase) from the Debian archive that this machine's apt uses; the commit under test
# (HEAD, as a `git archive` tarball: uncommitted changes are not part of it, and it has no .git) is
# unpacked in it, and ./scripts/run.sh and then ./scripts/test.sh run there exactly as written,
# from a login shell with no display: once as root and once, on another fresh system, as a user
# with passwordless sudo. Prints a table of release, command, user, result and time, and exits
# non-zero if a command failed on Debian 12 or 13. Testing's rows are informational: testing breaks
# now and then for reasons outside the project.
# Needs root, for mmdebstrap --mode=unshare (installed with apt-get when missing). Output goes to
# build-fresh/: the source tarball, and in logs/RELEASE-USER/ each command's log, mmdebstrap's log
# and, for a failed command, a folder of CTest's logs and the tests' reports.
# Usage: scripts/check-fresh.sh [--releases 12,13,testing]
set -euo pipefail
cd "$(dirname "$0")/.."
out=$PWD/build-fresh
user=tester
# No command may take longer than this (seconds): a hung run fails instead of stalling CI.
limit=900

fail() {
    echo "check-fresh: $*" >&2
    exit 1
}

releases=12,13,testing
while [ $# -gt 0 ]; do
    case "$1" in
    --releases) releases=${2:?--releases needs a list such as 12,13} && shift 2 ;;
    *) fail "unknown argument '$1' (usage: check-fresh.sh [--releases 12,13,testing])" ;;
    esac
done
declare -A suite_of=([12]=bookworm [13]=trixie [testing]=testing)
for release in ${releases//,/ }; do
    [ -n "${suite_of[$release]:-}" ] || fail "unknown release '$release' (12, 13 or testing)"
done

[ "$(id -u)" -eq 0 ] || fail "needs root for mmdebstrap --mode=unshare; run it with sudo."
if ! command -v mmdebstrap >/dev/null; then
    echo "Installing with apt-get: mmdebstrap"
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends mmdebstrap \
        >/dev/null || fail "could not install mmdebstrap with apt-get."
fi

# The Debian archive and its security archive, as this machine's apt names them.
site_of() {
    apt-get indextargets --format '$(SITE)' "Label: $1" 'Created-By: Packages' | sed -n 1p
}
archive=$(site_of Debian)
security=$(site_of Debian-Security)
[ -n "$archive" ] || fail "this machine's apt uses no Debian archive to make the systems from."

# A release's apt entries. A stable release also gets its updates and security suites; testing
# gets neither, as on a fresh testing machine.
sources() {
    echo "deb $archive $1 main"
    [ "$1" != testing ] || return 0
    echo "deb $archive $1-updates main"
    [ -z "$security" ] || echo "deb $security $1-security main"
}

version=$(sed -n 's/^project(helixview VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
src=helixview-$version
rm -rf "$out/logs"
mkdir -p "$out/logs"
git archive --format=tar.gz --prefix="$src/" -o "$out/$src.tar.gz" HEAD

# What runs in each system once it is made (a customize hook, POSIX sh, the system's root in $1):
# the two commands in turn as $AS from a login shell in the unpacked source, each within the time
# limit; each one's log and a line "COMMAND STATUS SECONDS LOG" go to /fresh in the system, and for
# a failed command also CTest's logs and the tests' reports.
run_hook='
mkdir "$1/fresh"
chroot "$1" runuser -u "$AS" -- tar -C "$HOME_IN" -xzf "$HOME_IN/$SRC.tar.gz"
for command in ./scripts/run.sh ./scripts/test.sh; do
    log=$1/fresh/${command#./scripts/}.log
    started=$(date +%s)
    status=0
    env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin TERM=dumb timeout --kill-after=30 "$LIMIT" \
        chroot "$1" runuser -l "$AS" -c "cd $SRC && $command" >"$log" 2>&1 </dev/null || status=$?
    if [ "$status" -eq 0 ] && [ "$command" = ./scripts/run.sh ] &&
        [ ! -s "$1$HOME_IN/$SRC/build/helixview.png" ]; then
        echo "check-fresh: run.sh left no screenshot in build/helixview.png" >>"$log"
        status=1
    fi
    if [ "$status" -ne 0 ]; then
        reports=$1/fresh/${command#./scripts/}
        mkdir "$reports"
        cd "$1$HOME_IN/$SRC" && cp --parents build*/Testing/Temporary/LastTest*.log "$reports"
        cp -r "$1"/tmp/helixview-* "$reports"
    fi
    echo "$command $status $(($(date +%s) - started)) ${command#./scripts/}" >>"$1/fresh/results"
done
'

# Makes a fresh system of a release for root or the user, and runs the two commands in it.
check() {
    local release=$1 as=$2 suite logs home=/root options=() mirrors=()
    suite=${suite_of[$release]}
    logs=$out/logs/$release-$as
    mkdir -p "$logs"
    if [ "$as" != root ]; then
        home=/home/$as
        options+=(--include=sudo
            --customize-hook="chroot \"\$1\" useradd --create-home --shell /bin/bash $as"
            --customize-hook="echo '$as ALL=(ALL) NOPASSWD: ALL' >\"\$1/etc/sudoers.d/$as\""
            --customize-hook="chmod 440 \"\$1/etc/sudoers.d/$as\"")
    fi
    # Testing's Release files may have expired on an archive mirror that is a few weeks old.
    [ "$release" != testing ] || options+=(--aptopt='Acquire::Check-Valid-Until "false"')
    mapfile -t mirrors < <(sources "$suite")
    # The system is a fresh machine's: mmdebstrap's own apt settings and its guard against
    # starting services go; /etc/hosts and /tmp/.X11-unix are what an installed, booted Debian has.
    AS=$as HOME_IN=$home SRC=$src LIMIT=$limit mmdebstrap --mode=unshare --variant=minbase \
        --skip=chroot/policy-rc.d,chroot/start-stop-daemon,cleanup \
        "${options[@]}" \
        --customize-hook='rm "$1/etc/apt/apt.conf.d/00mmdebstrap"' \
        --customize-hook='printf "127.0.0.1\tlocalhost\n127.0.1.1\t%s\n" \
            "$(cat "$1/etc/hostname")" >"$1/etc/hosts"' \
        --customize-hook='mkdir -m 1777 "$1/tmp/.X11-unix"' \
        --customize-hook="copy-in $out/$src.tar.gz $home" \
        --customize-hook="$run_hook" \
        --customize-hook="sync-out /fresh $logs" \
        "$suite" /dev/null "${mirrors[@]}" >"$logs/mmdebstrap.log" 2>&1 </dev/null
}

# Minutes and seconds.
duration() {
    printf '%dm%02ds' $(($1 / 60)) $(($1 % 60))
}

# Runs check and writes its rows of the table to the logs folder.
run_one() {
    local release=$1 as=$2 logs=$out/logs/$1-$2 started=$SECONDS name="Debian $1" who=$2
    local command status seconds log
    echo "$name as $as: started (logs: $logs/)"
    [ "$release" != testing ] || name="Debian testing (informational)"
    [ "$as" = root ] || who="$as (sudo)"
    check "$release" "$as" || echo "(mmdebstrap) 1 $((SECONDS - started)) mmdebstrap" >>"$logs/results"
    while read -r command status seconds log; do
        echo "| $name | \`$command\` | $who | $([ "$status" -eq 0 ] && echo ok || echo FAIL) |" \
            "$(duration "$seconds") |" >>"$logs/rows"
        [ "$status" -eq 0 ] && continue
        echo "---- Debian $release as $as: end of $logs/$log.log ----"
        tail -n 30 "$logs/$log.log"
    done <"$logs/results"
    echo "Debian $release as $as: done in $(duration $((SECONDS - started)))"
}

# Systems run side by side, one more than the machine has cores: alone, one uses little more than
# half of two cores (dpkg, tests that wait for the display, one-file compiles). mmdebstrap makes
# them in $TMPDIR; in memory when /dev/shm has room for them (about 1.5 GB each), where dpkg's
# syncs cost nothing.
at_once=$(($(nproc) + 1))
shm_free=$(df --output=avail -k /dev/shm | tail -n 1)
if [ -z "${TMPDIR:-}" ] && [ "$shm_free" -gt $((at_once * 2000000)) ]; then
    export TMPDIR=/dev/shm
fi
echo "Checking the Quick start commands on fresh Debian systems, $at_once at a time," \
    "made in ${TMPDIR:-/tmp}"
echo "Commit under test: $(git log -1 --format='%h %s')"
if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
    echo "(uncommitted changes are not part of the check)"
fi
echo "Archive: $archive"
for release in ${releases//,/ }; do
    for as in root "$user"; do
        while [ "$(jobs -pr | wc -l)" -ge "$at_once" ]; do wait -n || true; done
        run_one "$release" "$as" &
    done
done
wait

echo
echo "Quick start commands on fresh Debian systems (commit $(git rev-parse --short=12 HEAD));"
echo "Debian 12 and 13 decide the result, testing is informational:"
echo
echo "| Release | Command | User | Result | Time |"
echo "|---|---|---|---|---|"
failed=0
for release in ${releases//,/ }; do
    for as in root "$user"; do
        cat "$out/logs/$release-$as/rows"
        if [ "$release" != testing ] && grep -q '| FAIL |' "$out/logs/$release-$as/rows"; then
            failed=1
        fi
    done
done
echo
echo "Total: $(duration "$SECONDS"); logs in $out/logs/"
exit "$failed"
