#!/usr/bin/env bash
# Checks the release's Debian package (dist/helixview_VERSION_amd64.deb, which scripts/release.sh
# makes) as a distribution would: the files it holds; lintian, appstreamcli, desktop-file-validate,
# man and hardening-check on them, failing on any error or warning they report; that it depends on
# the package of every library the binary loads; and that its helixview opens its window with the
# helix on a private virtual display. It installs nothing of the package on this machine; the
# unpacked package and the screenshot go to build-package/. Installs the checking tools if missing
# (install-deps.sh package). Usage: scripts/check-package.sh [DEB]
set -euo pipefail
cd "$(dirname "$0")/.."
out=build-package

fail() {
    echo "check-package: $*" >&2
    exit 1
}

deb=${1:-$(ls dist/helixview_*_amd64.deb 2>/dev/null || true)}
[ -f "$deb" ] || fail "no package to check: make the release first (scripts/release.sh), or name a .deb"
echo "Package: $deb"
scripts/install-deps.sh package
rm -rf "$out"
mkdir "$out"
# The binary as built, before CPack stripped it, for what needs its symbols: the same build, as
# the build ID shows.
built=build-release/deb/helixview
build_id() {
    readelf -n "$1" | awk '/Build ID/ { print $3 }'
}

# The files a desktop, a software centre and a distribution need.
app_id=org.helixview.viewer
contents=$(dpkg-deb -c "$deb" | awk '{ print $6 }')
for f in ./usr/bin/helixview ./usr/share/applications/$app_id.desktop \
    ./usr/share/icons/hicolor/128x128/apps/helixview.png ./usr/share/metainfo/$app_id.metainfo.xml \
    ./usr/share/man/man1/helixview.1.gz ./usr/share/doc/helixview/copyright \
    ./usr/share/doc/helixview/changelog.gz; do
    grep -qx "$f" <<<"$contents" || fail "the package lacks $f"
done

# Debian's own checker, with every tag it has; an info tag fails too, as one may stay only with an
# override that says why.
lintian --pedantic --display-info --fail-on error,warning,info "$deb" ||
    fail "lintian found the errors, warnings or info tags above in $deb"
echo "lintian --pedantic: no tags"

# The rest is checked on the package's own files.
root=$out/deb-root
dpkg-deb -x "$deb" "$root"
binary=$root/usr/bin/helixview

# --no-net: the screenshot and home page are on the web, which this check does not reach; the
# validator would report them unreachable. It fails on errors and warnings.
echo "appstreamcli validate:"
appstreamcli validate --pedantic --no-net "$root/usr/share/metainfo/$app_id.metainfo.xml" ||
    fail "appstreamcli found the errors or warnings above in $app_id.metainfo.xml"

# It reports warnings but fails only on errors: any output is a fault. --no-hints: the two main
# categories are meant.
report=$(desktop-file-validate --no-hints "$root/usr/share/applications/$app_id.desktop" 2>&1) ||
    fail "desktop-file-validate: $report"
[ -z "$report" ] || fail "desktop-file-validate: $report"
echo "desktop-file-validate: no errors or warnings"

report=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$root/usr/share/man/man1/helixview.1.gz" 2>&1 >/dev/null) ||
    fail "man could not show helixview.1: $report"
[ -z "$report" ] || fail "man --warnings on helixview.1: $report"
echo "man --warnings: none on helixview.1"

# hardening-check's control-flow test looks for x86's marker, which the linker sets only when every
# object linked has it. Where the C library's start files lack it (Debian 12's do), no program
# shows it: there, check that helixview's own code has it (main starts with the landing
# instruction that -fcf-protection adds) and leave that test out.
hardening=(hardening-check)
if [ "$(dpkg --print-architecture)" != amd64 ]; then
    hardening+=(--nocfprotection)
elif ! readelf -n "$(c++ -print-file-name=Scrt1.o)" | grep -q 'x86 feature: IBT, SHSTK'; then
    if [ ! -x "$built" ] || [ "$(build_id "$built")" != "$(build_id "$binary")" ]; then
        fail "$built, the unstripped binary of this package, is not there; make the release again"
    fi
    objdump -d --disassemble=main "$built" | grep -q endbr64 ||
        fail "helixview was built without control-flow protection (main does not start with endbr64)"
    echo "Control-flow protection: in helixview's code; not marked on the binary, as this system's" \
        "C library start files lack the marker"
    hardening+=(--nocfprotection)
fi
"${hardening[@]}" "$binary" || fail "hardening-check found protection missing (above)"

# Every library that the binary loads by name comes from a package it depends on.
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
libraries=$(ldd "$binary")
for soname in $(objdump -p "$binary" | awk '$1 == "NEEDED" { print $2 }'); do
    path=$(awk -v lib="$soname" '$1 == lib { print $3 }' <<<"$libraries")
    [ -n "$path" ] || fail "$soname is not found on this system"
    owner=$(dpkg -S "$path" 2>/dev/null || dpkg -S "$(realpath "$path")" 2>/dev/null ||
        dpkg -S "/usr$path" 2>/dev/null) || fail "no package owns $path"
    owner=${owner%%:*}
    grep -Eq "(^|, )$owner( |,|$)" <<<"$depends" || fail "$soname comes from $owner, which Depends lacks"
done

# The packaged program opens its window with the helix. Installing it with apt-get, running it from
# PATH and purging it are checked on fresh systems, not on this machine.
scripts/with-xvfb.sh scripts/screenshot.sh "$out/packaged.png" "$binary"
scripts/check-picture.sh "$out/packaged.png"
echo "Package checked: $deb"
