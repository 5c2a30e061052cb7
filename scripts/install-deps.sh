#!/usr/bin/env bash
# Installs with apt-get the Debian/Ubuntu packages that a step needs, and only those that are
# missing. The build's and the tests' packages are debian/control's Build-Depends, which apt-get
# build-dep reads (the tests' ones are those marked <!nocheck>); the other steps' are listed here.
# Without apt-get (Fedora, Arch) it installs nothing and goes on, so that CMake's own messages name
# what is missing.
# Usage: scripts/install-deps.sh run|test|headless|bench|windows|debian|fresh|wayland [more...]
set -euo pipefail
cd "$(dirname "$0")/.."

# Beside the build's own packages: the compilers, Mesa's drivers, which draw the window, and
# xdpyinfo, with which run.sh asks whether there is a display to open it on.
run=(build-essential libgl1-mesa-dri x11-utils)
headless=(xvfb xdotool imagemagick xauth)
bench=(xvfb xdotool xauth mesa-utils linux-perf libbenchmark-dev)
# Cross-building for Windows (freeglut's source unpacked, a reproducible zip unzipped), wine on Mesa.
windows=(g++-mingw-w64-x86-64 cmake make dpkg-dev strip-nondeterminism unzip wine wine64 libgl1 libglx-mesa0 libgl1-mesa-dri)
# Building and checking the Debian packages as Debian does (release.sh, check-debian.sh): sbuild
# and mmdebstrap's chroots with uidmap's subordinate ids, dcmd and dpkg-source for the source
# package; lintian, autopkgtest, piuparts, blhc; reprotest, with disorderfs, faketime and
# locales-all for its variations, diffoscope to show a difference.
debian=(sbuild mmdebstrap uidmap devscripts dpkg-dev xz-utils lintian autopkgtest piuparts blhc
    reprotest disorderfs faketime locales-all diffoscope-minimal)
# Making fresh Debian systems.
fresh=(mmdebstrap)
# check-wayland.sh's compositors with Xwayland; breeze draws kwin's title bars, wmctrl closes in
# mutter, pidwait (procps) waits for a compositor's processes to end.
wayland=(sway xwayland mutter kwin-wayland kwin-style-breeze dbus wmctrl procps)

wanted=()
# The build's packages (apt-get build-dep), with the tests' unless the nocheck profile is named.
builddeps=
for step in "$@"; do
    case "$step" in
    run) wanted+=("${run[@]}") && builddeps=${builddeps:-nocheck} ;;
    test) wanted+=("${run[@]}") && builddeps=all ;;
    headless) wanted+=("${headless[@]}") ;;
    bench) wanted+=("${run[@]}" "${bench[@]}") && builddeps=${builddeps:-nocheck} ;;
    windows) wanted+=("${windows[@]}") ;;
    debian) wanted+=("${debian[@]}") ;;
    fresh) wanted+=("${fresh[@]}") ;;
    wayland) wanted+=("${wayland[@]}") ;;
    *) echo "install-deps: unknown step '$step'" >&2 && exit 2 ;;
    esac
done
if ! command -v apt-get >/dev/null; then
    echo "install-deps: no apt-get, nothing installed; the README's \"Building by hand\" lists the packages" >&2
    exit 0
fi

# Each package once, and only if dpkg does not have it installed.
missing=()
for pkg in $(printf '%s\n' "${wanted[@]}" | sort -u); do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
done
# Which of debian/control's Build-Depends are missing, as dpkg-checkbuilddeps says (from dpkg-dev,
# which comes with the compilers); with the nocheck profile, those of the tests are left out.
profile=()
[ "$builddeps" != nocheck ] || profile=(-P nocheck)
if [ -n "$builddeps" ] && command -v dpkg-checkbuilddeps >/dev/null && unmet=$(dpkg-checkbuilddeps "${profile[@]}" 2>&1); then
    builddeps=
elif [ -n "$builddeps" ]; then
    without=" but those of the tests"
    missing+=("debian/control's Build-Depends${profile[*]:+$without}${unmet:+ (${unmet##*dependencies: })}")
fi
[ ${#missing[@]} -gt 0 ] || exit 0

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
echo "Installing with apt-get: $(printf '%s, ' "${missing[@]}" | sed 's/, $//')"
# A fresh desktop's updates or software centre may be using apt: wait for it this long.
wait=${HELIXVIEW_APT_WAIT:-600}
# Who holds dpkg's lock or apt's lists lock, as "apt-get (process 812)"; fails if neither is held.
holder() {
    "${sudo[@]}" lslocks -nr -o COMMAND,PID,PATH | awk '!held && $3 ~ "^/var/lib/(dpkg/lock|apt/lists/lock)" {
        print $1 " (process " $2 ")"; held = 1 } END { exit !held }'
}
still_busy() {
    ! who=$(holder) || echo "install-deps: apt is still busy after $wait seconds: $who holds its" \
        "lock. Let it finish, then run this again (HELIXVIEW_APT_WAIT=SECONDS waits longer)." >&2
    exit 1
}
if who=$(holder); then echo "install-deps: apt is busy: waiting for $who, at most $wait seconds"; fi
# apt-get update waits for no lock, and its new caches break an apt-get that is reading the old
# ones (seen on Debian 13): it waits until apt is idle. apt-get install waits for dpkg's lock itself.
for ((i = 0; i < wait; i++)); do holder >/dev/null || break; sleep 1; done
! holder >/dev/null || still_busy
"${sudo[@]}" apt-get update -qq || ! holder >/dev/null || still_busy
apt=("${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -y -qq --no-install-recommends -o DPkg::Lock::Timeout="$wait")
[ -z "$builddeps" ] || "${apt[@]}" build-dep "${profile[@]}" ./ >/dev/null || still_busy
[ -z "$builddeps" ] || unset 'missing[-1]'
[ ${#missing[@]} -eq 0 ] || "${apt[@]}" install "${missing[@]}" >/dev/null || still_busy
