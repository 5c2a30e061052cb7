#!/usr/bin/env bash
# Checks the release's Debian package (dist/helixview_VERSION_amd64.deb, which scripts/release.sh
# makes) as a distribution would: the files it holds; lintian, appstreamcli, desktop-file-validate,
# man and hardening-check on them, failing on any error or warning they report; that it depends on
# the package of every library the binary loads; and that its helixview passes the end-to-end
# tests on a virtual display. Nothing of it is installed here; it is unpacked in build-package/.
# Installs the checking and test tools if missing (install-deps.sh package test).
set -euo pipefail
cd "$(dirname "$0")/.."

fail() {
    echo "check-package: $*" >&2
    exit 1
}

deb=$(ls dist/helixview_*_amd64.deb) || fail "make the release first: scripts/release.sh"
scripts/install-deps.sh package test
root=build-package
rm -rf "$root"
dpkg-deb -x "$deb" "$root"
binary=$root/usr/bin/helixview
app_id=org.helixview.viewer

# The files a desktop, a software centre and a distribution need.
for f in usr/bin/helixview usr/share/applications/$app_id.desktop \
    usr/share/icons/hicolor/128x128/apps/helixview.png usr/share/metainfo/$app_id.metainfo.xml \
    usr/share/man/man1/helixview.1.gz usr/share/doc/helixview/copyright \
    usr/share/doc/helixview/changelog.gz; do
    [ -f "$root/$f" ] || fail "the package lacks /$f"
done

# Debian's own checker, with every tag it has; an info tag fails too, as one may stay only with an
# override that says why.
lintian --pedantic --display-info --fail-on error,warning,info "$deb" || fail "lintian's tags are above"
echo "lintian --pedantic: no tags"
# --no-net: the screenshot and home page are on the web, which this check does not reach. It
# fails on errors and warnings.
appstreamcli validate --pedantic --no-net "$root/usr/share/metainfo/$app_id.metainfo.xml" ||
    fail "appstreamcli's errors or warnings are above"

# These two fail on errors only, or not at all: any output is a fault. --no-hints: the two main
# categories are meant.
report=$(desktop-file-validate --no-hints "$root/usr/share/applications/$app_id.desktop" 2>&1) || true
[ -z "$report" ] || fail "desktop-file-validate: $report"
echo "desktop-file-validate: no errors or warnings"
report=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$root/usr/share/man/man1/helixview.1.gz" 2>&1 >/dev/null) ||
    fail "man could not show helixview.1: $report"
[ -z "$report" ] || fail "man --warnings on helixview.1: $report"
echo "man --warnings: none on helixview.1"

# hardening-check's control-flow test wants x86's marker on the binary, which Debian 12's C library
# start files keep the linker from setting: there, main's endbr64 in the unstripped build stands in.
hardening=(hardening-check)
if ! readelf -n "$(c++ -print-file-name=Scrt1.o)" | grep -q 'x86 feature: IBT, SHSTK'; then
    built=build-release/deb/helixview
    [ "$(readelf -n "$built" 2>/dev/null | grep 'Build ID')" = "$(readelf -n "$binary" | grep 'Build ID')" ] ||
        fail "$built is not the unstripped binary of this package; make the release again"
    objdump -d --disassemble=main "$built" | grep -q endbr64 ||
        fail "helixview was built without control-flow protection (main does not start with endbr64)"
    echo "Control-flow protection: in helixview's code; not marked on the binary, as this system's" \
        "C library start files lack the marker"
    hardening+=(--nocfprotection)
fi
"${hardening[@]}" "$binary" || fail "hardening-check found protection missing (above)"

# Every library that the binary loads by name comes from a package it depends on. dpkg knows each
# file under /lib or /usr/lib, whichever its package ships, so the pattern takes both.
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for soname in $(objdump -p "$binary" | awk '$1 == "NEEDED" { print $2 }'); do
    path=$(ldd "$binary" | awk -v lib="$soname" '$1 == lib { print $3 }')
    [ -n "$path" ] || fail "$soname is not found on this system"
    owner=$(dpkg -S "*${path#/usr}" 2>/dev/null | head -n1) || fail "no package owns $path"
    owner=${owner%%:*}
    grep -Eq "(^|, )$owner( |,|$)" <<<"$depends" || fail "$soname comes from $owner, which Depends lacks"
done

# The packaged program opens its window with the helix and spins: the end-to-end tests, built in
# build/, run against it. check-fresh.sh installs, runs and purges it on fresh systems.
scripts/build.sh -DBUILD_TESTING=ON >/dev/null
HELIXVIEW_COMMAND=$binary xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" build/tests/e2e_test \
    --gtest_filter='Viewer.OpensTheHelix*:Viewer.MiddleClick*'
echo "Package checked: $deb"
