#!/usr/bin/env bash
# Makes the release files of the checked-out commit in dist/: its source, helixview-VERSION.tar.gz,
# and the Debian source package made from it, helixview_VERSION.dsc with its .tar.xz; the Debian
# packages, helixview_VERSION_ARCH.deb, built from that source package by sbuild as Debian's build
# daemons build them (scripts/sbuild.sh): amd64 and the cross-built arm64 and armhf for Debian 12,
# riscv64 for Debian 13; the Windows build, helixview-VERSION-win64.zip; and SHA256SUMS. Everything
# is built from the source archive (in build-release/), so uncommitted changes are in none of the
# files, and the same commit gives the same bytes in any folder, at any time, by any user: dates
# are the commit's (SOURCE_DATE_EPOCH) or debian/changelog's, paths are relative to the source.
# The packages' build logs, .changes and .buildinfo stay in build-release/deb-ARCH/ for
# check-debian.sh. Needs root (sbuild.sh's build user). Installs what is missing first
# (install-deps.sh debian; the Windows build its own). dist/ and build-release/ are made anew.
# Usage: scripts/release.sh
set -euo pipefail
cd "$(dirname "$0")/.."
# As dpkg-buildpackage does: the modes of the files made do not depend on the caller's umask.
umask 022

fail() {
    echo "release: $*" >&2
    exit 1
}

commit=$(git rev-parse HEAD)
SOURCE_DATE_EPOCH=$(git log -1 --format=%ct "$commit")
export SOURCE_DATE_EPOCH
version=$(git show "$commit:CMakeLists.txt" | sed -n 's/^project(helixview VERSION \([0-9.]*\) .*/\1/p')
[ -n "$version" ] || fail "CMakeLists.txt's project() names no version"
name=helixview-$version
git diff --quiet HEAD || echo "release: uncommitted changes are left out; this is $commit"
echo "Release $version of $commit into dist/"

# A row per Debian package: its architecture and the suite it is built in. Debian 13 is the first
# release with riscv64.
debs="amd64 bookworm
arm64 bookworm
armhf bookworm
riscv64 trixie"
scripts/install-deps.sh debian
rm -rf build-release dist
mkdir build-release dist

# The source as distributions take it: the commit's files under helixview-VERSION/, dated by the
# commit, modes as git has them (whatever the user's tar.umask).
git -c tar.umask=022 archive --format=tar --prefix="$name/" "$commit" | gzip -9n >"dist/$name.tar.gz"
tar -xzf "dist/$name.tar.gz" -C build-release
src=$PWD/build-release/$name
# Debian's source package of that tree (debian/source/format: native), before anything is built in it.
(cd build-release && dpkg-source -b "$name") >build-release/dpkg-source.log ||
    fail "dpkg-source could not make the source package; see build-release/dpkg-source.log"
dsc=build-release/helixview_$version.dsc
dcmd cp "$dsc" dist/

# The Debian packages, two builds at a time: most of a build is unpacking the chroot and
# installing its build dependencies, which leaves the other core free. The amd64 build runs the
# tests, the cross builds cannot.
while read -r arch suite; do
    echo "$suite $arch $dsc build-release/deb-$arch"
done <<<"$debs" | xargs -P 2 -L 1 scripts/sbuild.sh ||
    fail "a Debian package failed to build (its log is named above)"
while read -r arch _; do
    cp "build-release/deb-$arch/helixview_${version}_$arch.deb" dist/
done <<<"$debs"

# The Windows build: the .exe, the licence and a read-me for Windows users, zipped by CPack in the
# cross build. The compilers write source paths relative to the source folder.
CFLAGS="-ffile-prefix-map=$src/=" CXXFLAGS="-ffile-prefix-map=$src/=" "$src/scripts/build-windows.sh" >build-release/win64.log 2>&1 ||
    fail "the Windows build failed; see build-release/win64.log"
cp "$src/build-windows/helixview/$name-win64.zip" dist/

(cd dist && sha256sum -- helixview*) >dist/SHA256SUMS
ls -l dist
cat dist/SHA256SUMS
