#!/usr/bin/env bash
# Installs with apt-get the Debian/Ubuntu packages that a step needs, and only those that are
# missing. Without apt-get (Fedora, Arch) it installs nothing and goes on, so that CMake's own
# messages name what is missing.
# Usage: scripts/install-deps.sh run|test|headless|bench|windows|arm64|armhf|package|release|fresh|
#        wayland [more...]
set -euo pipefail

build=(g++ make cmake freeglut3-dev libgl-dev libgl1-mesa-dri x11-utils)
test=(libgtest-dev libx11-dev xvfb xdotool xauth i3-wm valgrind)
headless=(xvfb xdotool imagemagick xauth)
bench=(xvfb xdotool xauth mesa-utils linux-perf libbenchmark-dev)
# Cross-building for Windows (freeglut's source unpacked, a reproducible zip unzipped), wine on Mesa.
windows=(g++-mingw-w64-x86-64 cmake make dpkg-dev strip-nondeterminism unzip wine wine64 libgl1 libglx-mesa0 libgl1-mesa-dri)
# Building the .deb (dpkg-shlibdeps needs dpkg-dev and file) and checking it as check-package.sh does.
package=(dpkg-dev file lintian desktop-file-utils appstream man-db devscripts)
# Making a release again: git clones the commit, faketime moves the clock, diffoscope compares.
release=(git faketime diffoscope-minimal)
# Making fresh Debian systems.
fresh=(mmdebstrap)
# check-wayland.sh's compositors with Xwayland; breeze draws kwin's title bars, wmctrl closes in mutter.
wayland=(sway xwayland mutter kwin-wayland kwin-style-breeze dbus wmctrl)

wanted=()
for step in "$@"; do
    case "$step" in
    run) wanted+=("${build[@]}") ;;
    test) wanted+=("${build[@]}" "${test[@]}") ;;
    headless) wanted+=("${headless[@]}") ;;
    bench) wanted+=("${build[@]}" "${bench[@]}") ;;
    windows) wanted+=("${windows[@]}") ;;
    # A foreign architecture: its cross compiler and libraries for the .deb, its Mesa and qemu to run it.
    arm64 | armhf) wanted+=("crossbuild-essential-$step" {libglut-dev,libgl-dev,libgl1-mesa-dri}:"$step" qemu-user) ;;
    package) wanted+=("${build[@]}" "${package[@]}") ;;
    release) wanted+=("${release[@]}") ;;
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
[ ${#missing[@]} -gt 0 ] || exit 0

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
# The :ARCH packages come from dpkg's ARCH architecture, which apt-get update then fetches.
foreign=$(printf '%s\n' "${missing[@]}" | sed -n 's/.*://p' | sort -u)
for arch in $(comm -23 - <(dpkg --print-foreign-architectures | sort) <<<"$foreign"); do
    echo "Adding $arch to dpkg's architectures (dpkg --add-architecture $arch), for the $arch packages"
    "${sudo[@]}" dpkg --add-architecture "$arch"
done
echo "Installing with apt-get: ${missing[*]}"
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
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    -o DPkg::Lock::Timeout="$wait" "${missing[@]}" >/dev/null && exit
[ -z "$foreign" ] || echo "install-deps: if apt said \"held broken packages\" or \"generated breaks\", the archive's" \
    "indexes for ${foreign//$'\n'/ } and for this machine disagree: the archive's fault, not helixview's; try again later." >&2
still_busy
