#!/usr/bin/env bash
# shellcheck disable=SC2016 # the hooks and apt's format are expanded by mmdebstrap's shell and apt
# Checks the README's two Quick start commands and the release's Debian packages on fresh Debian 11,
# 12, 13 and testing systems that mmdebstrap makes from this machine's archive: the release's
# tarball unpacked and run.sh then test.sh run as written, as root (run.sh while apt-get is busy)
# and as a user with sudo; each package installed with apt-get, its end-to-end tests run, purged
# (on Debian 12 the foreign ones too, through qemu); check-wayland.sh on Debian 13. Prints a table;
# 11, 12 and 13 decide the result, testing's rows are informational. Needs root. Installs what it
# needs (install-deps.sh fresh test); logs go to build-fresh/logs/RELEASE-USER/ (see HACKING.md).
# Usage: scripts/check-fresh.sh [--releases 11,12,13,testing]
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

releases=11,12,13,testing
while [ $# -gt 0 ]; do
    case "$1" in
    --releases) releases=${2:?--releases needs a list such as 12,13} && shift 2 ;;
    *) fail "unknown argument '$1' (usage: check-fresh.sh [--releases 11,12,13,testing])" ;;
    esac
done
declare -A suite_of=([11]=bullseye [12]=bookworm [13]=trixie [testing]=testing)
declare -A commands_of=([wayland]=./scripts/check-wayland.sh)
for release in ${releases//,/ }; do
    [ -n "${suite_of[$release]:-}" ] || fail "unknown release '$release' (11, 12, 13 or testing)"
done

[ "$(id -u)" -eq 0 ] || fail "needs root for mmdebstrap --mode=unshare; run it with sudo."
scripts/install-deps.sh fresh test

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

# The release's own files, of the commit under test (git archive writes its id into the tarball).
tarball=$(ls dist/helixview-*.tar.gz) || fail "no source tarball: make the release first (scripts/release.sh)"
deb=$(cd dist && ls helixview_*_amd64.deb) || fail "no .deb: make the release first (scripts/release.sh)"
# The foreign architectures whose packages Debian 12 systems install, and how each runs there.
foreign="arm64 qemu-aarch64
armhf qemu-arm -cpu cortex-a7"
[ "$(ls dist/helixview_*.deb | wc -l)" -gt "$(wc -l <<<"$foreign")" ] || fail "a .deb is missing: make the release first"
[ "$(zcat "$tarball" | git get-tar-commit-id)" = "$(git rev-parse HEAD)" ] ||
    fail "dist/ holds the release of another commit: make it again with scripts/release.sh"
src=$(basename "$tarball" .tar.gz)
# The package's systems run the end-to-end tests built here; GoogleTest is linked in.
scripts/build.sh -DBUILD_TESTING=ON >/dev/null
rm -rf "$out/logs"
mkdir -p "$out/logs"

# What runs in each system once it is made (a customize hook, POSIX sh, the system's root in $1):
# the two commands in turn as $AS from a login shell in the unpacked source, each within the time
# limit; each one's log and a line "STATUS SECONDS LOG COMMAND" go to /fresh in the system, and for
# a failed command also CTest's logs and the tests' reports.
run_hook='
mkdir "$1/fresh"
chroot "$1" runuser -u "$AS" -- tar -C "$HOME_IN" -xzf "$HOME_IN/$SRC.tar.gz"
for command in $COMMANDS; do
    log=$1/fresh/${command#./scripts/}.log
    busy=
    # As on a fresh desktop installing its updates: run.sh as root starts while apt-get is busy.
    if [ "$AS" = root ] && [ "$command" = ./scripts/run.sh ]; then
        env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin DEBIAN_FRONTEND=noninteractive \
            chroot "$1" apt-get install -y g++ >"$log.apt" 2>&1 &
        busy=$!
        until ! kill -0 "$busy" || chroot "$1" lslocks -nro PATH | grep -qx /var/lib/dpkg/lock-frontend; do
            sleep 0.1
        done
    fi
    started=$(date +%s)
    status=0
    env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin TERM=dumb timeout --kill-after=30 "$LIMIT" \
        chroot "$1" runuser -l "$AS" -c "cd $SRC && $command" >"$log" 2>&1 </dev/null || status=$?
    if [ "$status" -eq 0 ] && [ "$command" = ./scripts/run.sh ] &&
        [ ! -s "$1$HOME_IN/$SRC/build/helixview.png" ]; then
        echo "check-fresh: run.sh left no screenshot in build/helixview.png" >>"$log"
        status=1
    fi
    if [ -n "$busy" ] && { ! wait "$busy" || ! grep -q "^install-deps: apt is busy" "$log"; }; then
        echo "check-fresh: run.sh did not wait for apt-get installing g++ (${log##*/}.apt)" >>"$log"
        status=1
    fi
    if [ "$status" -ne 0 ]; then
        reports=$1/fresh/${command#./scripts/}
        mkdir "$reports"
        cd "$1$HOME_IN/$SRC" && cp --parents build*/Testing/Temporary/LastTest*.log "$reports"
        cp -r "$1"/tmp/helixview-* "$reports"
    fi
    echo "$status $(($(date +%s) - started)) ${command#./scripts/} $command" >>"$1/fresh/results"
done
'

# What runs in the package's system (bash, as root, in /root with the .deb and e2e_test): each
# step within the time limit, and only if the one before passed; its log and a line "STATUS
# SECONDS LOG COMMAND" go to /fresh, with the package's files as dpkg -L lists them. The display
# has a network namespace of its own: X's abstract sockets are the machine's, shared with its X servers.
package_check=$(
    cat <<'EOF'
export DEBIAN_FRONTEND=noninteractive
install_deb() { apt-get update && apt-get install -y "./$DEB" && dpkg -L helixview >/fresh/files; }
run_helixview() {
    apt-get install -y xvfb xauth xdotool ${QEMU:+qemu-user} && HELIXVIEW_COMMAND="$QEMU $(command -v helixview)" \
        unshare --net xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" ./e2e_test \
        --gtest_filter='Viewer.OpensTheHelix*:Viewer.MiddleClick*'
}
# A path of the package that remains and that no other package holds was left behind.
purge_deb() {
    apt-get purge -y helixview || return
    ! grep -Fvx /. /fresh/files | while read -r path; do
        [ ! -e "$path" ] || dpkg -S "$path" >/dev/null 2>&1 || echo "left behind: $path"
    done | grep .
}
step() {
    local started=$SECONDS status=0
    timeout --kill-after=30 "$LIMIT" bash -c "$1" >"/fresh/$1.log" 2>&1 </dev/null || status=$?
    echo "$status $((SECONDS - started)) $1 $2" >>/fresh/results
    return "$status"
}
export -f install_deb run_helixview purge_deb
cd /root
step install_deb "apt-get install ./$DEB" && step run_helixview "${QEMU:+$QEMU }helixview (end-to-end tests)" &&
    step purge_deb "apt-get purge helixview"
true
EOF
)

# Makes a fresh system of a release for root, the user or one of the packages, and runs its check.
check() {
    local release=$1 as=$2 suite logs home=/root options=() mirrors=() hooks=() package=$deb qemu=''
    suite=${suite_of[$release]}
    logs=$out/logs/$release-$as
    mkdir -p "$logs"
    if [[ $as == package* ]]; then
        [ "$as" = package ] || package=$(cd dist && ls helixview_*_"${as#*-}".deb) \
            qemu=$(sed -n "s/^${as#*-} //p" <<<"$foreign") options+=("--architectures=amd64,${as#*-}")
        hooks=(--customize-hook="copy-in $PWD/dist/$package $PWD/build/tests/e2e_test /root"
            --customize-hook='mkdir "$1/fresh" && env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root \
                TERM=dumb LIMIT="$LIMIT" DEB="$DEB" QEMU="$QEMU" chroot "$1" bash -c "$PACKAGE_CHECK"')
    elif [ "$as" != root ] && [ "$as" != wayland ]; then
        home=/home/$as
        options+=(--include=sudo
            --customize-hook="chroot \"\$1\" useradd --create-home --shell /bin/bash $as"
            --customize-hook="echo '$as ALL=(ALL) NOPASSWD: ALL' >\"\$1/etc/sudoers.d/$as\""
            --customize-hook="chmod 440 \"\$1/etc/sudoers.d/$as\"")
    fi
    [[ $as == package* ]] || hooks=(--customize-hook="copy-in $PWD/$tarball $home"
        --customize-hook="$run_hook")
    # Testing's Release files may have expired on an archive mirror that is a few weeks old.
    [ "$release" != testing ] || options+=(--aptopt='Acquire::Check-Valid-Until "false"')
    # Foreign libraries must match their amd64 twins' versions (Multi-Arch: same), and a mirror may
    # serve one architecture's security index behind another's (seen: armhf): no security suite there.
    mapfile -t mirrors < <(sources "$suite")
    [[ $as != package-* ]] || mapfile -t mirrors < <(sources "$suite" | grep -v -- -security)
    # The system is a fresh machine's: mmdebstrap's own apt settings and its guard against
    # starting services go; /etc/hosts and /tmp/.X11-unix are what an installed, booted Debian has.
    AS=${as/wayland/root} COMMANDS=${commands_of[$as]:-./scripts/run.sh ./scripts/test.sh} HOME_IN=$home SRC=$src \
        LIMIT=$limit DEB=$package QEMU=$qemu PACKAGE_CHECK=$package_check mmdebstrap --mode=unshare --variant=minbase \
        --skip=chroot/policy-rc.d,chroot/start-stop-daemon,cleanup \
        "${options[@]}" \
        --customize-hook='rm "$1/etc/apt/apt.conf.d/00mmdebstrap"' \
        --customize-hook='printf "127.0.0.1\tlocalhost\n127.0.1.1\t%s\n" \
            "$(cat "$1/etc/hostname")" >"$1/etc/hosts"' \
        --customize-hook='mkdir -m 1777 "$1/tmp/.X11-unix"' \
        "${hooks[@]}" \
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
    local status seconds log command
    if [ "$as" = package ] && [ "$release" = 11 ]; then
        mkdir -p "$logs" && echo "| $name | \`apt-get install ./$deb\` | root | skipped: the .deb" \
            "needs libglut3.12, Debian 12 and later | |" >"$logs/rows" && return
    fi
    echo "$name as $as: started (logs: $logs/)"
    [ "$release" != testing ] || name="Debian testing (informational)"
    [ "$as" != "$user" ] || who="$as (sudo)"
    [[ $as != package* && $as != wayland ]] || who=root
    check "$release" "$as" || echo "1 $((SECONDS - started)) mmdebstrap (mmdebstrap)" >>"$logs/results"
    while read -r status seconds log command; do
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
echo "Checking the Quick start commands and dist/helixview_*.deb on fresh Debian systems," \
    "$at_once at a time, made in ${TMPDIR:-/tmp}"
echo "Commit under test: $(git log -1 --format='%h %s')"
git diff --quiet HEAD || echo "(uncommitted changes are not part of the release under test)"
echo "Archive: $archive"
# The systems of a release: Debian 12's add the foreign packages, Debian 13's the Wayland check.
systems() {
    echo root "$user" package
    [ "$1" != 12 ] || cut -d' ' -f1 <<<"$foreign" | sed 's/^/package-/'
    [ "$1" != 13 ] || echo wayland
}
for release in ${releases//,/ }; do
    for as in $(systems "$release"); do
        while [ "$(jobs -pr | wc -l)" -ge "$at_once" ]; do wait -n || true; done
        run_one "$release" "$as" &
    done
done
wait

echo
echo "Quick start commands (commit $(git rev-parse --short=12 HEAD)) and dist/helixview_*.deb on"
echo "fresh Debian systems; Debian 11, 12 and 13 decide the result, testing is informational:"
echo
echo "| Release | Command | User | Result | Time |"
echo "|---|---|---|---|---|"
for release in ${releases//,/ }; do
    for as in $(systems "$release"); do cat "$out/logs/$release-$as/rows"; done
done | tee "$out/logs/table"
echo
echo "Total: $(duration "$SECONDS"); logs in $out/logs/"
# Testing's rows are named "Debian testing (informational)".
if grep -q '^| Debian 1[123] |.*| FAIL |' "$out/logs/table"; then
    exit 1
fi
