#!/usr/bin/env bash
# Checks the release's Debian packages (dist/helixview_VERSION_ARCH.deb, which scripts/release.sh
# makes) as a distribution would: the files each holds; lintian, appstreamcli, desktop-file-validate,
# man and hardening-check on them, failing on any error or warning they report; that it depends on
# the package of every library the binary loads; that its helixview passes the end-to-end tests on a
# virtual display, a foreign one under qemu with its Mesa; that armhf's refuses an ARMv6. Nothing is
# installed here; each is unpacked in build-package/ARCH/. Installs the checking and test tools and
# the foreign architectures' libraries if missing (install-deps.sh package test arm64 armhf).
# Usage: scripts/check-package.sh [ARCH...]
set -euo pipefail
cd "$(dirname "$0")/.."

fail() {
    echo "check-package: $*" >&2
    exit 1
}

# A row per architecture: how its program runs here (-: as it is, else under qemu as its default
# or the named processor), and the instruction that starts main with control-flow protection.
platforms="amd64 - endbr64
arm64 default paciasp
armhf cortex-a7 none: GCC 12 has none for 32-bit Arm (it refuses -fcf-protection, -mbranch-protection)"
awk '$2 != "-" { print $1 }' <<<"$platforms" | xargs scripts/install-deps.sh package test
app_id=org.helixview.viewer
rm -rf build-package
mkdir build-package
# The end-to-end tests, built here, run against each package's helixview.
scripts/build.sh -DBUILD_TESTING=ON >/dev/null

check() {
    local arch=$1 deb root=build-package/$1 binary report built=build-release/deb/helixview cpu cf
    local objdump=objdump run=() hardening=(hardening-check) multiarch depends soname owner started=$SECONDS
    read -r _ cpu cf < <(grep "^$arch " <<<"$platforms") || fail "no row for $arch in the table"
    multiarch=$(dpkg-architecture -a "$arch" -q DEB_HOST_MULTIARCH 2>/dev/null)
    [ "$cpu" = - ] || run=("qemu-${multiarch%%-*}") built=build-release/deb-$arch/helixview objdump=$multiarch-objdump
    [[ $cpu == [-d]* ]] || run+=(-cpu "$cpu")
    deb=$(ls dist/helixview_*_"$arch".deb) || fail "no $arch package: make the release first (scripts/release.sh)"
    echo "Checking $deb"
    dpkg-deb -x "$deb" "$root"
    binary=$root/usr/bin/helixview

    # The files a desktop, a software centre and a distribution need.
    for f in usr/bin/helixview usr/share/applications/$app_id.desktop \
        usr/share/icons/hicolor/128x128/apps/helixview.png usr/share/metainfo/$app_id.metainfo.xml \
        usr/share/man/man1/helixview.1.gz usr/share/doc/helixview/copyright \
        usr/share/doc/helixview/changelog.gz; do
        [ -f "$root/$f" ] || fail "the package lacks /$f"
    done

    # Debian's own checker, with every tag it has; an info tag fails too, as one may stay only with
    # an override that says why.
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

    # hardening-check's control-flow test knows only x86's marker on the binary, which Debian 12's C
    # library start files keep the linker from setting. There, and always on Arm, the start of main
    # in the unstripped build stands in: endbr64 on x86, paciasp (also a branch target) on arm64.
    [[ $cf != none:* ]] || { echo "Control-flow protection: none. ${cf#none: }" && hardening+=(--nocfprotection); }
    if [[ $cf != none:* ]] && { [ "$arch" != amd64 ] || ! readelf -n "$(c++ -print-file-name=Scrt1.o)" | grep -q 'x86 feature: IBT, SHSTK'; }; then
        [ "$(readelf -n "$built" 2>/dev/null | grep 'Build ID')" = "$(readelf -n "$binary" | grep 'Build ID')" ] ||
            fail "$built is not the unstripped binary of this package; make the release again"
        "$objdump" -d --disassemble=main "$built" | grep -m1 -E '^ +[0-9a-f]+:' | grep -qw "$cf" ||
            fail "helixview was built without control-flow protection (main does not start with $cf)"
        echo "Control-flow protection: main starts with $cf; not marked on the binary, which" \
            "hardening-check reads only for x86 and Debian 12's C library start files keep unmarked"
        hardening+=(--nocfprotection)
    fi
    "${hardening[@]}" "$binary" || fail "hardening-check found protection missing (above)"

    # Every library that the binary loads by name comes from a package it depends on: the package of
    # the binary's architecture that holds it in that architecture's library folder, whether under
    # /lib or /usr/lib, so the pattern takes both.
    depends=$(dpkg-deb -f "$deb" Depends)
    echo "Depends: $depends"
    for soname in $(objdump -p "$binary" 2>/dev/null | awk '$1 == "NEEDED" { print $2 }'); do
        owner=$(dpkg -S "*/lib/$multiarch/$soname" 2>/dev/null | head -n1) || fail "no $arch package on this system holds $soname"
        owner=${owner%%:*}
        grep -Eq "(^|, )${owner//+/\\+}( |,|$)" <<<"$depends" || fail "$soname comes from $owner, which Depends lacks"
    done

    # The packaged program opens its window with the helix and spins; a foreign one, started through
    # qemu with its architecture's Mesa software renderer, also takes the abuse tests. check-fresh.sh
    # installs, runs and purges the packages on fresh systems.
    [ -z "${run[*]}" ] || echo "Under ${run[*]}: $("${run[0]}" --version | sed -n 1p), Mesa" \
        "$(dpkg-query -W -f '${Version}' "libgl1-mesa-dri:$arch")"
    HELIXVIEW_COMMAND="${run[*]} $binary" xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" build/tests/e2e_test \
        --gtest_filter='Viewer.OpensTheHelix*:Viewer.MiddleClick*'
    [ -z "${run[*]}" ] ||
        HELIXVIEW_COMMAND="${run[*]} $binary" xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" build/tests/abuse_test
    # Debian's armhf code dies at once on an ARMv6 (qemu's arm1176: Pi 1, Zero), where uname -m says
    # armv6l: the package's preinst, run as dpkg runs it, must pass here and refuse there.
    if [ "$arch" = armhf ]; then
        { (ulimit -c 0 && qemu-arm -cpu arm1176 "$binary") 2>&1 || true; } 2>&1 | grep 'Illegal instruction' >/dev/null ||
            fail "helixview did not die at once on an ARMv6 (qemu-arm -cpu arm1176)"
        mkdir "$root/v6" && printf '#!/bin/sh\necho armv6l\n' >"$root/v6/uname" && chmod +x "$root/v6/uname"
        dpkg-deb -e "$deb" "$root/DEBIAN" && "$root/DEBIAN/preinst" install && echo "On an ARMv6 (it dies there), the preinst says:" &&
            ! PATH=$root/v6:$PATH "$root/DEBIAN/preinst" install || fail "the preinst refused $(uname -m) or let an ARMv6 pass"
    fi
    echo "Package checked: $deb, in $((SECONDS - started)) s"
}

for arch in ${*:-$(cut -d' ' -f1 <<<"$platforms")}; do
    check "$arch"
done
