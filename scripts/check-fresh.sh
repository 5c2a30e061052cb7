#!/usr/bin/env bash
# shellcheck disable=SC2016 # the hooks and apt's format are expanded by mmdebstrap's shell and apt
# Checks the README's commands on fresh Debian 11, 12, 13 and testing systems that mmdebstrap makes
# from this machine's archive, in the release's tarball unpacked: run.sh then test.sh as written, as
# root (run.sh while apt-get is busy) and as a user with sudo; on Debian 11 the package built with
# Debian's tools, installed, tested and purged; the foreign architectures' packages (arm64, armhf on
# 12, riscv64 on 13) installed, tested through qemu and purged; check-wayland.sh on 13. Prints a
# table; 11, 12 and 13 decide the result, testing's rows are informational. Needs root. Installs
# what it needs (install-deps.sh fresh test); logs go to build-fresh/logs/RELEASE-USER/ (HACKING.md).
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
# The commands of each kind of system, one a line: the Quick start's two for root and the user; on
# Debian 11 the user builds the project's own package with Debian's tools, installs it, runs the
# end-to-end tests of that build against it (each test on a display of its own) and purges it.
declare -A commands_of=([root]='./scripts/run.sh
./scripts/test.sh' [wayland]=./scripts/check-wayland.sh [package]='sudo apt-get build-dep ./
dpkg-buildpackage -b -us -uc
sudo apt-get install ../helixview_*.deb
cd obj-x86_64-linux-gnu && HELIXVIEW_COMMAND=/usr/bin/helixview ctest -L e2e --output-on-failure
sudo apt-get purge helixview')
commands_of[$user]=${commands_of[root]}
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
# The foreign architectures, a row each: the Debian release whose system installs its package, and
# the command that runs its programs there. qemu-arm's default is an ARMv8: armhf runs as a Cortex-A7,
# the Pi 2's core.
foreign="arm64 12 qemu-aarch64
armhf 12 qemu-arm -cpu cortex-a7
riscv64 13 qemu-riscv64"
while read -r arch release _; do
    [[ ,$releases, != *,$release,* ]] || ls dist/helixview_*_"$arch".deb >/dev/null 2>&1 ||
        fail "no $arch package in dist/ for Debian $release's row: make the release first (scripts/release.sh)"
done <<<"$foreign"
[ "$(zcat "$tarball" | git get-tar-commit-id)" = "$(git rev-parse HEAD)" ] ||
    fail "dist/ holds the release of another commit: make it again with scripts/release.sh"
src=$(basename "$tarball" .tar.gz)
# The package's systems run the end-to-end tests built here; GoogleTest is linked in.
scripts/build.sh -DBUILD_TESTING=ON >/dev/null
rm -rf "$out/logs"
mkdir -p "$out/logs"

# The package's paths, as dpkg -L listed them in /fresh/files once it was installed, that remain
# after its purge and that no other package holds: what it left behind. POSIX sh, in the system.
left_behind='grep -Fvx /. /fresh/files | while read -r path; do
    if { [ -e "$path" ] || [ -L "$path" ]; } && ! dpkg -S "$path" >/dev/null 2>&1; then
        echo "left behind: $path"
    fi
done'

# What runs in each system once it is made (a customize hook, POSIX sh, the system's root in $1):
# the commands, one a line, in turn as $AS from a login shell in the unpacked source, each within
# the time limit and given $ANSWER (a user's "y" to apt-get's question) or nothing on its input;
# each one's log and a line "STATUS SECONDS LOG COMMAND" go to /fresh in the system.
run_hook='
mkdir "$1/fresh"
chroot "$1" runuser -u "$AS" -- tar -C "$HOME_IN" -xzf "$HOME_IN/$SRC.tar.gz"
printf "%s\n" "$COMMANDS" | while IFS= read -r command; do
    # The log is named after the command: run.sh.log, sudo-apt-get-build-dep.log.
    name=$(printf %s "${command#./scripts/}" | sed "s/[^A-Za-z0-9.]\{1,\}/-/g; s/[-.]\{2,\}/-/g; s/^[-.]*//; s/[-.]*\$//" | cut -c1-40)
    log=$1/fresh/$name.log
    busy=
    # As on a fresh desktop installing its updates: run.sh as root starts while apt-get is busy.
    if [ "$AS" = root ] && [ "$command" = ./scripts/run.sh ]; then
        env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin DEBIAN_FRONTEND=noninteractive \
            chroot "$1" apt-get install -y g++ >"$log.apt" 2>&1 </dev/null &
        busy=$!
        until ! kill -0 "$busy" || chroot "$1" lslocks -nro PATH | grep -qx /var/lib/dpkg/lock-frontend; do
            sleep 0.1
        done
    fi
    started=$(date +%s)
    status=0
    { [ -z "$ANSWER" ] || echo "$ANSWER"; } | env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin TERM=dumb \
        timeout --kill-after=30 "$LIMIT" chroot "$1" runuser -l "$AS" -c "cd $SRC && $command" >"$log" 2>&1 ||
        status=$?
    if [ "$status" -eq 0 ] && [ "$command" = ./scripts/run.sh ] &&
        [ ! -s "$1$HOME_IN/$SRC/build/helixview.png" ]; then
        echo "check-fresh: run.sh left no screenshot in build/helixview.png" >>"$log"
        status=1
    fi
    if [ -n "$busy" ] && { ! wait "$busy" || ! grep -q "^install-deps: apt is busy" "$log"; }; then
        echo "check-fresh: run.sh did not wait for apt-get installing g++ (${log##*/}.apt)" >>"$log"
        status=1
    fi
    # The files of the installed package, and once it is purged, what it left behind.
    case $status$command in
    "0sudo apt-get install ../"*) chroot "$1" dpkg -L helixview >"$1/fresh/files" ;;
    "0sudo apt-get purge "*)
        found=$(chroot "$1" sh -c "$LEFT_BEHIND")
        [ -z "$found" ] || { echo "$found" >>"$log" && status=1; } ;;
    esac
    # A failed command names logs of the source folder, which goes with the system: the logs of
    # test.sh and CTest, of check-wayland and its compositors (build*/*.log, with the output of
    # the tests in them), and the files the tests wrote to /tmp are kept beside its log.
    if [ "$status" -ne 0 ]; then
        mkdir -p "$1/fresh/$name/tmp"
        (cd "$1$HOME_IN/$SRC" && for f in build*/*.log build*/Testing/Temporary/LastTest*.log \
            obj-*/Testing/Temporary/LastTest*.log; do
            [ ! -f "$f" ] || cp --parents "$f" "$1/fresh/$name"
        done)
        find "$1/tmp" -maxdepth 1 -name "helixview-*" -size +0 -exec cp -r {} "$1/fresh/$name/tmp" \;
        echo "check-fresh: the logs named above (under $SRC/) and the files of the tests in /tmp are" \
            "kept under the same paths in $LOGS/$name/" >>"$log"
    fi
    echo "$status $(($(date +%s) - started)) $name $command" >>"$1/fresh/results"
done
'

# What runs in a foreign architecture's system (bash, as root, in /root with the .deb, e2e_test,
# abuse_test and own-display.sh): each step within the time limit, the others only if the install
# passed; its log and a line "STATUS SECONDS LOG COMMAND" go to /fresh, with the package's files as
# dpkg -L lists them. The tests get a display of their own as CTest gives them one.
package_check=$(
    cat <<'EOF'
export DEBIAN_FRONTEND=noninteractive
install_deb() { apt-get update && apt-get install -y "./$DEB" && dpkg -L helixview >/fresh/files; }
# qemu runs the viewer several times slower: the tests' limits are four times their own.
on_display() {
    HELIXVIEW_SLOWNESS=4 HELIXVIEW_COMMAND="$QEMU $(command -v helixview)" ./own-display.sh "$@"
}
# The two tests that prove the window, the first picture and the spin; the twelve starts under i3
# prove nothing more about the architecture. The tests are this machine's (amd64) programs, which
# load amd64's X Damage library.
e2e_tests() {
    apt-get install -y xvfb xdotool qemu-user libxdamage1 && echo "Under $(${QEMU%% *} --version | sed -n 1p), Mesa" \
        "$(dpkg-query -W -f '${Version}' "libgl1-mesa-dri:$ARCH")" && on_display ./e2e_test \
        --gtest_filter='Viewer.OpensTheHelix*:Viewer.MiddleClick*'
}
# Less the display that cannot be opened: that test starts the build's own helixview, by its path
# on this machine, which the system lacks, not the command under test.
abuse_tests() { on_display ./abuse_test --gtest_filter='-Viewer.DisplayThatCannotBeOpened*'; }
# Debian's armhf code dies at once on an ARMv6 (qemu's arm1176: the Pi 1's core, the Zero's), in the
# dynamic loader; qemu names the signal.
armv6_dies() {
    (ulimit -c 0 && exec qemu-arm -cpu arm1176 /usr/bin/helixview) >armv6.log 2>&1
    cat armv6.log && grep -q 'Illegal instruction' armv6.log
}
# The package's own preinst, run as dpkg runs it: it passes here, and refuses where uname -m says
# armv6l, as on those Pis.
armv6_preinst() {
    dpkg-deb -e "$DEB" control && ./control/preinst install || return
    mkdir -p v6 && printf '#!/bin/sh\necho armv6l\n' >v6/uname && chmod +x v6/uname
    echo "With uname -m answering armv6l, the preinst says:"
    ! PATH=$PWD/v6:$PATH ./control/preinst install
}
purge_deb() {
    apt-get purge -y helixview || return
    ! sh -c "$LEFT_BEHIND" | grep .
}
step() {
    local started=$SECONDS status=0
    timeout --kill-after=30 "$LIMIT" bash -c "$1" >"/fresh/$1.log" 2>&1 </dev/null || status=$?
    echo "$status $((SECONDS - started)) $1 $2" >>/fresh/results
    return "$status"
}
export -f install_deb on_display e2e_tests abuse_tests armv6_dies armv6_preinst purge_deb
cd /root
if step install_deb "apt-get install ./$DEB"; then
    step e2e_tests "$QEMU helixview (end-to-end tests)" || true
    step abuse_tests "$QEMU helixview (abuse tests)" || true
    if [ "$ARCH" = armhf ]; then
        step armv6_dies "qemu-arm -cpu arm1176 helixview: Illegal instruction, an ARMv6's" || true
        step armv6_preinst "preinst install: passes here, refuses where uname -m says armv6l" || true
    fi
    step purge_deb "apt-get purge helixview" || true
fi
EOF
)

# Makes a fresh system of a release for root, the user or a foreign architecture's package, and
# runs its check.
check() {
    local release=$1 as=$2 suite logs home=/root login=root answer='' options=() mirrors=() hooks=() package='' qemu='' arch=''
    suite=${suite_of[$release]}
    logs=$out/logs/$release-$as
    mkdir -p "$logs"
    if [[ $as == package-* ]]; then
        arch=${as#package-}
        package=$(cd dist && ls helixview_*_"$arch".deb) qemu=$(sed -n "s/^$arch [^ ]* //p" <<<"$foreign")
        options+=("--architectures=amd64,$arch")
        hooks=(--customize-hook="copy-in $PWD/dist/$package $PWD/build/tests/e2e_test $PWD/build/tests/abuse_test $PWD/tests/own-display.sh /root"
            --customize-hook='mkdir "$1/fresh" && env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root \
                TERM=dumb LIMIT="$LIMIT" DEB="$DEB" QEMU="$QEMU" ARCH="$ARCH" LEFT_BEHIND="$LEFT_BEHIND" \
                chroot "$1" bash -c "$PACKAGE_CHECK"')
    elif [ "$as" = "$user" ] || [ "$as" = package ]; then
        home=/home/$user login=$user
        options+=(--include=sudo
            --customize-hook="chroot \"\$1\" useradd --create-home --shell /bin/bash $user"
            --customize-hook="echo '$user ALL=(ALL) NOPASSWD: ALL' >\"\$1/etc/sudoers.d/$user\""
            --customize-hook="chmod 440 \"\$1/etc/sudoers.d/$user\"")
    fi
    # The user answers apt-get's question, "Do you want to continue? [Y/n]".
    [ "$as" != package ] || answer=y
    [[ $as == package-* ]] || hooks=(--customize-hook="copy-in $PWD/$tarball $home"
        --customize-hook="$run_hook")
    # Testing's Release files may have expired on an archive mirror that is a few weeks old.
    [ "$release" != testing ] || options+=(--aptopt='Acquire::Check-Valid-Until "false"')
    # Foreign libraries must match their amd64 twins' versions (Multi-Arch: same), and a mirror may
    # serve one architecture's security index behind another's (seen: armhf): no security suite there.
    mapfile -t mirrors < <(sources "$suite")
    [[ $as != package-* ]] || mapfile -t mirrors < <(sources "$suite" | grep -v -- -security)
    # The system is a fresh machine's: mmdebstrap's own apt settings and its guard against
    # starting services go; /etc/hosts and /tmp/.X11-unix are what an installed, booted Debian has.
    LOGS=$logs AS=$login ANSWER=$answer COMMANDS=${commands_of[$as]:-} HOME_IN=$home SRC=$src \
        LIMIT=$limit DEB=$package QEMU=$qemu ARCH=$arch PACKAGE_CHECK=$package_check LEFT_BEHIND=$left_behind mmdebstrap --mode=unshare --variant=minbase \
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
    echo "$name as $as: started (logs: $logs/)"
    [ "$release" != testing ] || name="Debian testing (informational)"
    [ "$as" != "$user" ] && [ "$as" != package ] || who="$user (sudo)"
    [[ $as != package-* && $as != wayland ]] || who=root
    check "$release" "$as" || echo "1 $((SECONDS - started)) mmdebstrap (mmdebstrap)" >>"$logs/results"
    while read -r status seconds log command; do
        echo "| $name | \`$command\` | $who | $([ "$status" -eq 0 ] && echo ok || echo FAIL) |" \
            "$(duration "$seconds") |" >>"$logs/rows"
        [ "$status" -eq 0 ] && continue
        echo "---- Debian $release as $as: $logs/$log.log ----"
        # The failed tests' assertions stand far above the end of a build's log: they come first.
        grep -A 12 -e ': Failure$' "$logs/$log.log" | head -n 80 || true
        echo "---- its last 30 lines ----"
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
echo "Checking the README's commands and dist/helixview_*.deb on fresh Debian systems," \
    "$at_once at a time, made in ${TMPDIR:-/tmp}"
echo "Commit under test: $(git log -1 --format='%h %s')"
git diff --quiet HEAD || echo "(uncommitted changes are not part of the release under test)"
echo "Archive: $archive"
# The systems of a release: root's and the user's, its foreign architectures' packages, and on
# Debian 13 the Wayland check.
systems() {
    echo root "$user"
    [ "$1" != 11 ] || echo package
    awk -v r="$1" '$2 == r { print "package-" $1 }' <<<"$foreign"
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
echo "The README's commands (commit $(git rev-parse --short=12 HEAD)) and dist/helixview_*.deb on"
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
