#!/usr/bin/env bash
# Installs the Debian/Ubuntu packages that a step needs, and only those that are missing. Without
# apt-get (Fedora, Arch, openSUSE) it installs nothing, says what the build needs and goes on, so
# that CMake's own messages name what is missing.
# Usage: scripts/install-deps.sh run|test|memcheck|headless|bench|windows|package|release|fresh [more...]
set -euo pipefail

build=(g++ make cmake freeglut3-dev libgl-dev libgl1-mesa-dri x11-utils)
test=(libgtest-dev libx11-dev xvfb xdotool xauth i3-wm)
memcheck=(valgrind)
headless=(xvfb xdotool imagemagick xauth)
bench=(xvfb xdotool xauth mesa-utils linux-perf libbenchmark-dev)
# Cross-building for Windows and running the result under wine on Mesa; dpkg-dev unpacks freeglut's
# source, strip-nondeterminism makes the zip the same on every build.
windows=(g++-mingw-w64-x86-64 cmake make dpkg-dev strip-nondeterminism wine wine64 libgl1 libglx-mesa0 libgl1-mesa-dri)
# Building the .deb (dpkg-shlibdeps needs dpkg-dev and file) and checking it: lintian, the desktop
# entry, the AppStream metadata, the manual page, and hardening-check (devscripts).
package=(dpkg-dev file lintian desktop-file-utils appstream man-db devscripts)
# Checking that a release is the same when made again: git clones the commit, faketime moves the
# clock, diffoscope shows where two files differ.
release=(git faketime diffoscope-minimal)
# Making fresh Debian systems.
fresh=(mmdebstrap)

wanted=()
for step in "$@"; do
    case "$step" in
    run) wanted+=("${build[@]}") ;;
    test) wanted+=("${build[@]}" "${test[@]}") ;;
    memcheck) wanted+=("${memcheck[@]}") ;;
    headless) wanted+=("${headless[@]}") ;;
    bench) wanted+=("${build[@]}" "${bench[@]}") ;;
    windows) wanted+=("${windows[@]}" "${headless[@]}") ;;
    package) wanted+=("${build[@]}" "${package[@]}") ;;
    release) wanted+=("${release[@]}") ;;
    fresh) wanted+=("${fresh[@]}") ;;
    *)
        echo "install-deps: unknown step '$step' (run, test, memcheck, headless, bench, windows, package, release or fresh)" >&2
        exit 2
        ;;
    esac
done

if ! command -v apt-get >/dev/null; then
    echo "install-deps: no apt-get here, so nothing is installed. The build needs a C++17 compiler," \
        "CMake 3.18 or later and the OpenGL and freeglut headers; the tests also GoogleTest, the X11" \
        "headers, Xvfb with xvfb-run, xdotool, xauth, the i3 window manager and valgrind. The README's" \
        "\"Building by hand\" names the Fedora and Arch packages." >&2
    exit 0
fi

missing=()
for pkg in "${wanted[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
        case " ${missing[*]} " in *" $pkg "*) ;; *) missing+=("$pkg") ;; esac
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null; then
        echo "install-deps: need root or sudo to install: ${missing[*]}" >&2
        exit 1
    fi
    sudo=(sudo)
fi

echo "Installing with apt-get: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
if ! "${sudo[@]}" apt-get update -qq ||
    ! "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null; then
    echo "install-deps: apt-get could not install ${missing[*]} (its messages are above)." >&2
    exit 1
fi
