#!/usr/bin/env bash
# Builds the Debian package into build-package/, checks its files and dependencies, installs it
# system-wide with apt-get, runs helixview from PATH on a private virtual display, checks its
# window, and removes the package again. Installs what is missing first (install-deps.sh
# package). Needs root or sudo; refuses to run where helixview is already installed.
# Usage: scripts/check-package.sh
set -euo pipefail
cd "$(dirname "$0")/.."
out=build-package

fail() {
    echo "check-package: $*" >&2
    exit 1
}

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
if dpkg-query -W -f='${Status}' helixview 2>/dev/null | grep -q 'install ok installed'; then
    fail "helixview is already installed here; remove it first (apt-get remove helixview)."
fi

scripts/install-deps.sh package
HELIXVIEW_BUILD_DIR=$out scripts/build.sh -DBUILD_TESTING=OFF -DCMAKE_INSTALL_PREFIX=/usr
rm -f "$out"/helixview_*.deb
(cd "$out" && cpack -G DEB) >"$out/cpack.log" 2>&1 || fail "cpack could not make the package; see $out/cpack.log"
deb=$(ls "$out"/helixview_*.deb)
echo "Package: $deb"

# The files a desktop needs.
contents=$(dpkg-deb -c "$deb" | awk '{ print $6 }')
for f in ./usr/bin/helixview ./usr/share/applications/org.helixview.viewer.desktop \
    ./usr/share/icons/hicolor/128x128/apps/helixview.png; do
    grep -qx "$f" <<<"$contents" || fail "the package lacks $f"
done

# Every library that the binary loads by name comes from a package it depends on.
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
libraries=$(ldd "$out/helixview")
for soname in $(objdump -p "$out/helixview" | awk '$1 == "NEEDED" { print $2 }'); do
    path=$(awk -v lib="$soname" '$1 == lib { print $3 }' <<<"$libraries")
    [ -n "$path" ] || fail "$soname is not found on this system"
    owner=$(dpkg -S "$path" 2>/dev/null || dpkg -S "$(realpath "$path")" 2>/dev/null ||
        dpkg -S "/usr$path" 2>/dev/null) || fail "no package owns $path"
    owner=${owner%%:*}
    grep -Eq "(^|, )$owner( |,|$)" <<<"$depends" || fail "$soname comes from $owner, which Depends lacks"
done

remove() {
    "${sudo[@]}" apt-get remove -y -qq --purge helixview >/dev/null || true
}
trap remove EXIT
echo "Installing $deb with apt-get"
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y "./$deb" >"$out/install.log" 2>&1 ||
    fail "apt-get could not install the package; see $out/install.log"
[ "$(command -v helixview)" = /usr/bin/helixview ] || fail "helixview is not on PATH after installing"
# The installed menu entry passes the freedesktop checks (two main categories are meant).
desktop-file-validate --no-hints /usr/share/applications/org.helixview.viewer.desktop
scripts/with-xvfb.sh scripts/screenshot.sh "$out/installed.png" helixview
scripts/check-picture.sh "$out/installed.png"

remove
trap - EXIT
[ ! -e /usr/bin/helixview ] || fail "/usr/bin/helixview is still there after removing the package"
echo "Package checked: installs, runs from PATH, and removes cleanly"
