#!/usr/bin/env bash
# Installs the Debian/Ubuntu packages that a step needs, and only those that are missing. On
# Fedora, Arch and openSUSE (no apt-get) it installs nothing: it goes on when what the build and
# the tests need is there, and otherwise prints the install command for that system and stops.
# Usage: scripts/install-deps.sh run|test|memcheck|headless|bench|windows|package|release [more...]
set -euo pipefail

build=(g++ make cmake freeglut3-dev libgl-dev libgl1-mesa-dri x11-utils)
test=(libgtest-dev libx11-dev xvfb xdotool xauth i3-wm)
memcheck=(valgrind)
headless=(xvfb xdotool imagemagick xauth)
bench=(xvfb xdotool xauth libx11-dev mesa-utils linux-perf libbenchmark-dev)
# Cross-building for Windows and running the result under wine on Mesa; dpkg-dev unpacks freeglut's
# source, strip-nondeterminism makes the zip the same on every build.
windows=(g++-mingw-w64-x86-64 cmake make dpkg-dev strip-nondeterminism wine wine64 libgl1 libglx-mesa0 libgl1-mesa-dri)
# Building the .deb (dpkg-shlibdeps needs dpkg-dev and file) and checking it: lintian, the desktop
# entry, the AppStream metadata, the manual page, and hardening-check (devscripts).
package=(dpkg-dev file lintian desktop-file-utils appstream man-db devscripts)
# Checking that a release is the same when made again: git clones the commit, faketime moves the
# clock, diffoscope shows where two files differ.
release=(git faketime diffoscope-minimal)

# Without apt-get: look for the tools and headers themselves. Each need is a command or a header.
other_system() {
    local needs=() step
    for step in "$@"; do
        case "$step" in
        run) needs+=(cmd:c++ cmd:cmake hdr:GL/gl.h hdr:GL/glut.h) ;;
        test) needs+=(cmd:c++ cmd:cmake hdr:GL/gl.h hdr:GL/glut.h hdr:gtest/gtest.h hdr:X11/Xlib.h
            cmd:Xvfb cmd:xdotool cmd:xauth cmd:i3) ;;
        memcheck) needs+=(cmd:valgrind) ;;
        headless) needs+=(cmd:Xvfb cmd:xdotool cmd:xauth cmd:import) ;;
        bench | windows | package | release)
            echo "install-deps: the '$step' step works on Debian and Ubuntu only (it needs apt-get)." >&2
            exit 1
            ;;
        *)
            echo "install-deps: unknown step '$step' (run, test, memcheck, headless, bench, windows, package or release)" >&2
            exit 2
            ;;
        esac
    done
    local absent=() need
    for need in $(printf '%s\n' "${needs[@]}" | awk '!seen[$0]++'); do
        case "$need" in
        cmd:*) command -v "${need#cmd:}" >/dev/null || absent+=("${need#cmd:}") ;;
        hdr:*) c++ -E -x c++ - <<<"#include <${need#hdr:}>" >/dev/null 2>&1 || absent+=("<${need#hdr:}>") ;;
        esac
    done
    [ ${#absent[@]} -eq 0 ] && return 0

    # The same packages by other names, per package manager.
    local id="" like="" install run_pkgs=() test_pkgs=() memcheck_pkgs=() headless_pkgs=()
    if [ -r /etc/os-release ]; then
        # shellcheck disable=SC1091 # the system's own file
        id=$(. /etc/os-release && echo "${ID:-}")
        # shellcheck disable=SC1091
        like=$(. /etc/os-release && echo "${ID_LIKE:-}")
    fi
    case " $id $like " in
    *" fedora "* | *" rhel "*)
        install="dnf install"
        run_pkgs=(gcc-c++ make cmake freeglut-devel mesa-libGL-devel mesa-dri-drivers xdpyinfo)
        test_pkgs=(gtest-devel libX11-devel xorg-x11-server-Xvfb xdotool xorg-x11-xauth i3)
        memcheck_pkgs=(valgrind)
        headless_pkgs=(xorg-x11-server-Xvfb xdotool ImageMagick xorg-x11-xauth)
        ;;
    *" arch "*)
        install="pacman -S --needed"
        run_pkgs=(gcc make cmake freeglut mesa xorg-xdpyinfo)
        test_pkgs=(gtest libx11 xorg-server-xvfb xdotool xorg-xauth i3-wm)
        memcheck_pkgs=(valgrind)
        headless_pkgs=(xorg-server-xvfb xdotool imagemagick xorg-xauth)
        ;;
    *" suse "* | *" opensuse "*)
        install="zypper install"
        run_pkgs=(gcc-c++ make cmake freeglut-devel Mesa-libGL-devel Mesa-dri xdpyinfo)
        test_pkgs=(gtest libX11-devel xorg-x11-server-Xvfb xdotool xauth i3)
        memcheck_pkgs=(valgrind)
        headless_pkgs=(xorg-x11-server-Xvfb xdotool ImageMagick xauth)
        ;;
    *)
        echo "install-deps: missing ${absent[*]}. This script knows the package names of Debian, Ubuntu," \
            "Fedora, Arch and openSUSE, not of this system (${id:-no /etc/os-release}): install by hand" \
            "a C++17 compiler, CMake 3.18 or later, the OpenGL and freeglut headers, and for the tests" \
            "GoogleTest, Xvfb, xdotool, xauth and the i3 window manager." >&2
        exit 1
        ;;
    esac
    local pkgs=()
    for step in "$@"; do
        case "$step" in
        run) pkgs+=("${run_pkgs[@]}") ;;
        test) pkgs+=("${run_pkgs[@]}" "${test_pkgs[@]}") ;;
        memcheck) pkgs+=("${memcheck_pkgs[@]}") ;;
        headless) pkgs+=("${headless_pkgs[@]}") ;;
        esac
    done
    echo "install-deps: missing ${absent[*]}. Install them with:" >&2
    echo "  sudo $install $(printf '%s\n' "${pkgs[@]}" | awk '!seen[$0]++' | xargs)" >&2
    exit 1
}
if ! command -v apt-get >/dev/null; then
    other_system "$@"
    exit 0
fi

wanted=()
for step in "$@"; do
    case "$step" in
    run) wanted+=("${build[@]}") ;;
    test) wanted+=("${build[@]}" "${test[@]}") ;;
    memcheck) wanted+=("${memcheck[@]}") ;;
    headless) wanted+=("${headless[@]}") ;;
    bench) wanted+=("${build[@]}" "${bench[@]}") ;;
    windows) wanted+=("${windows[@]}" "${headless[@]}") ;;
    package) wanted+=("${build[@]}" "${package[@]}" "${headless[@]}") ;;
    release) wanted+=("${release[@]}") ;;
    *)
        echo "install-deps: unknown step '$step' (run, test, memcheck, headless, bench, windows, package or release)" >&2
        exit 2
        ;;
    esac
done

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
if ! "${sudo[@]}" apt-get update -qq; then
    echo "install-deps: apt-get update failed; check the network and the package sources." >&2
    exit 1
fi
if ! "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null; then
    echo "install-deps: could not install: ${missing[*]}" >&2
    exit 1
fi
