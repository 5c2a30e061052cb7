#!/usr/bin/env bash
# Checks the release's Debian source package (build-release/helixview_VERSION.dsc, which
# scripts/release.sh makes, with its packages' build logs) as Debian checks a package: sbuild
# builds it in unstable with the build-time tests and runs unstable's lintian on the source and the
# package; this machine's lintian reads the release's own packages; blhc reads every build log
# (unstable's, and the release's Debian 12, 13 and cross builds) for compiler and linker lines
# without Debian's hardening flags; autopkgtest runs debian/tests against the unstable package on
# a fresh unstable system and against the release's amd64 one on a fresh Debian 12; piuparts
# installs and purges the unstable package in a fresh minimal unstable system; reprotest builds
# the source twice with every variation that works here and compares the packages. Prints a table
# of each step, its verdict and time; each step's log is in build-debian/logs/, the unstable build
# in build-debian/unstable/. Needs root. Installs what it needs (install-deps.sh debian run).
# Usage: scripts/check-debian.sh
set -euo pipefail
cd "$(dirname "$0")/.."
out=$PWD/build-debian
logs=$out/logs
table=$logs/table
# sbuild.sh's build user, who also runs the autopkgtest systems.
user=helixview-build
home=/home/$user

fail() {
    echo "check-debian: $*" >&2
    exit 1
}

[ "$(id -u)" -eq 0 ] || fail "needs root, for sbuild.sh's build user, piuparts and reprotest; run it with sudo."
dsc=$(ls "$PWD"/build-release/helixview_*.dsc 2>/dev/null) || fail "no source package: make the release first (scripts/release.sh)"
version=$(basename "$dsc" .dsc)
version=${version#helixview_}
# reprotest builds on this machine, with the build dependencies that install-deps.sh run installs.
scripts/install-deps.sh debian run
rm -rf "$out"
mkdir -p "$logs"
# shellcheck disable=SC2016 # apt's format, not the shell's
archive=$(apt-get indextargets --format '$(SITE)' 'Label: Debian' 'Created-By: Packages' | sed -n 1p)
[ -n "$archive" ] || fail "this machine's apt uses no Debian archive to make the systems from"

as_user() {
    setpriv --reuid="$user" --regid="$user" --init-groups --reset-env "$@"
}

# Runs one step with its output in logs/LOG, and adds its verdict and time to the table.
step() {
    local title=$1 log=$logs/$2 started=$SECONDS verdict=passed
    shift 2
    echo "check-debian: $title (log: $log)"
    "$@" >"$log" 2>&1 || verdict="FAILED, see $log"
    printf '%s\t%s\t%s s\n' "$title" "$verdict" "$((SECONDS - started))" >>"$table"
}

# lintian as Debian's archive runs it, every tag shown (info, pedantic and experimental ones too);
# an error or a warning fails.
lintian_options=(-I -E --pedantic --fail-on=error,warning)
build_unstable() {
    scripts/sbuild.sh unstable amd64 "$dsc" "$out/unstable" --run-lintian --lintian-opts="${lintian_options[*]}"
}
# sbuild's exit status leaves lintian out (unless its lintian_require_success is set); its
# summary's "Lintian:" line is lintian's verdict: pass, info (info tags only), or fail, warn or
# error. lintian exits 2 on a --fail-on tag, which sbuild calls a runtime error ("Lintian: error").
# The tags are printed after "Running lintian".
lintian_verdict() {
    local log=$out/unstable/helixview_${version}_amd64.build verdict
    sed -n '/^Running lintian/,/Lintian run/p' "$log"
    verdict=$(sed -n 's/^Lintian: //p' "$log")
    echo "sbuild's summary: Lintian: ${verdict:-none (lintian did not run)}"
    [[ $verdict == pass || $verdict == info ]]
}

# The release's own packages (Debian 12's and Debian 13's, amd64 and cross-built) through this
# machine's lintian: only they hold what is particular to an architecture, such as armhf's preinst.
lintian_release() {
    lintian "${lintian_options[@]}" build-release/deb-*/helixview*.deb
}

# Any line blhc prints is a compiler or linker call without one of Debian's hardening flags: each
# log's architecture is dpkg-buildpackage's, which blhc reads from the log itself. --all asks for
# every flag of hardening=+all (debian/rules' choice), --debian for Debian's compiler defaults.
blhc_logs() {
    local log report status=0
    for log in "$out"/unstable/*.build build-release/deb-*/*.build; do
        if report=$(blhc --debian --all --line-numbers "$log" 2>&1) && [ -z "$report" ]; then
            echo "$log: no report"
        else
            printf '%s:\n%s\n' "$log" "$report"
            status=1
        fi
    done
    return "$status"
}

# debian/tests on a fresh system unpacked from SUITE's sbuild chroot, the packages in FOLDER
# installed there; autopkgtest-virt-unshare needs an unprivileged user with subordinate ids.
autopkgtest_on() {
    local suite=$1 folder=$2 work status=0 tarball=$home/.cache/sbuild/$1-amd64.tar
    [ -f "$tarball" ] || { echo "no $suite system to test on: $tarball is sbuild.sh's (scripts/release.sh)" && return 1; }
    work=$(as_user mktemp -d "$home/autopkgtest.XXXXXX")
    cp "$folder/helixview_${version}_amd64.deb" "$work/"
    dcmd cp "$dsc" "$work/"
    chown -R "$user:" "$work"
    as_user env -C "$work" autopkgtest --apt-upgrade --output-dir=out --summary-file=summary \
        "./helixview_${version}_amd64.deb" "./helixview_$version.dsc" -- unshare --release "$suite" --tarball "$tarball" || status=$?
    cp -r "$work/out" "$logs/autopkgtest-$suite"
    cp "$work/summary" "$logs/autopkgtest-$suite/"
    rm -rf "$work"
    echo "autopkgtest's summary on $suite:"
    cat "$logs/autopkgtest-$suite/summary"
    return "$status"
}

# piuparts' system, made as the unstable chroot is. An expired Release file (the mirror no longer
# updates unstable) is said, and apt told not to check the date, here and in piuparts' apt.
piuparts_base=$out/piuparts-unstable.tar.gz
piuparts_options=()
piuparts_system() {
    local sources="deb $archive unstable main"
    mmdebstrap --variant=minbase unstable "$piuparts_base" "$sources" && return
    grep -q 'Release file for .* is expired' "$logs/piuparts-system.log" || return 1
    echo "check-debian: the archive's unstable Release file has expired: $archive is no longer updated for" \
        "unstable. Making the system with apt's Acquire::Check-Valid-Until false."
    mmdebstrap --variant=minbase --aptopt='Acquire::Check-Valid-Until "false"' unstable "$piuparts_base" "$sources"
}
# /var/cache/debconf/tmp.ci/ is what a dependency's debconf leaves behind, not helixview's.
piuparts_purge() {
    if grep -q 'Check-Valid-Until' "$logs/piuparts-system.log"; then piuparts_options+=(--no-check-valid-until); fi
    piuparts --basetgz="$piuparts_base" --distribution=unstable --mirror="$archive" \
        --ignore=/var/cache/debconf/tmp.ci/ "${piuparts_options[@]}" "$out/unstable/helixview_${version}_amd64.deb"
}

# reprotest builds the source here twice, the second time varying all it can: environment, build
# path, kernel name, ASLR, CPU count, time (faketime), file order (disorderfs), host and domain
# names, home, locale (locales-all), PATH, time zone and umask. Not the user and group: reprotest
# 0.7.23 calls sudo -h localhost, which Debian 12's sudo refuses ("a remote host may only be
# specified when listing privileges"). The tests are left out (nocheck): the unstable build runs
# them, and they change no file of the package. -v logs each variation as it is applied.
# Another user and group built the release's amd64 package (sbuild's, in a Debian 12 chroot of its
# own), so the same bytes there and in reprotest's first build, as root here, show that they too
# leave the package as it is.
reprotest_source() {
    local ours=build-release/deb-amd64/helixview_${version}_amd64.deb
    local theirs=$logs/reprotest/control/source-root/helixview_${version}_amd64.deb
    reprotest -v --variations=+all,-user_group --store-dir="$logs/reprotest" \
        --auto-preset-expr '_.str_replace.build_command("dpkg-buildpackage", "DEB_BUILD_OPTIONS=nocheck dpkg-buildpackage -Pnocheck")' \
        "$dsc" -- null || return
    if cmp "$ours" "$theirs"; then
        echo "Another user and group: the release's $ours, built by sbuild's user, is the same as reprotest's, built by root"
    else
        diffoscope --no-progress "$ours" "$theirs"
        return 1
    fi
}

# Side by side on 2 cores, as each of these steps spends much of its time unpacking, installing
# or waiting on a test's window: the unstable build, with piuparts' system and then autopkgtest
# on Debian 12 beside it; then autopkgtest on unstable, with piuparts and reprotest.
started=$SECONDS
{
    step "piuparts' system (mmdebstrap)" piuparts-system.log piuparts_system
    step "autopkgtest on Debian 12" autopkgtest-bookworm.log autopkgtest_on bookworm build-release/deb-amd64
} &
step "sbuild unstable amd64, with tests" sbuild-unstable.log build_unstable
wait
step "lintian (unstable's, in sbuild)" lintian.log lintian_verdict
step "lintian ($(lintian --print-version)) on the release's packages" lintian-release.log lintian_release
step "blhc on every build log" blhc.log blhc_logs
step "autopkgtest on unstable" autopkgtest-unstable.log autopkgtest_on unstable "$out/unstable" &
{
    step "piuparts install, purge (unstable)" piuparts.log piuparts_purge
    step "reprotest" reprotest.log reprotest_source
}
wait

# What each tool said, from its log: lintian's tags, autopkgtest's summaries, piuparts' and
# reprotest's verdicts, with the variations reprotest applied.
echo
sed -n '/^[EWIPX]: helixview/p' "$logs/lintian.log" "$logs/lintian-release.log"
grep -H "" "$logs"/autopkgtest-*/summary || true
grep -E ' (PASS|FAIL): ' "$logs/piuparts.log" || true
grep -E '^INFO:reprotest:build "experiment|^Reproduction|^No differences|^[0-9a-f]{64} |^Another user' "$logs/reprotest.log" || true
echo
column -t -s $'\t' -N STEP,VERDICT,TIME "$table"
echo "All in $((SECONDS - started)) s; logs in $logs/"
! grep -q FAILED "$table" || fail "a step failed: its log is named in the table"
