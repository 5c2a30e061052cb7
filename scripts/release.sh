#!/usr/bin/env bash
# Makes the release files of the checked-out commit in dist/: its source, helixview-VERSION.tar.gz;
# the Debian package, helixview_VERSION_amd64.deb; the Windows build, helixview-VERSION-win64.zip;
# and SHA256SUMS. Everything is built from the source archive (in build-release/), so uncommitted
# changes are in none of the files, and the same commit gives the same bytes in any folder, at any
# time, by any user: dates are the commit's (SOURCE_DATE_EPOCH), paths are relative to the source.
# Installs what is missing first (install-deps.sh package; the Windows build its own). dist/ and
# build-release/ are made anew. Usage: scripts/release.sh
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

scripts/install-deps.sh package
rm -rf build-release dist
mkdir build-release dist

# The source as distributions take it: the commit's files under helixview-VERSION/, dated by the
# commit, modes as git has them (whatever the user's tar.umask).
git -c tar.umask=022 archive --format=tar --prefix="$name/" "$commit" | gzip -9n >"dist/$name.tar.gz"
tar -xzf "dist/$name.tar.gz" -C build-release
src=$PWD/build-release/$name
# The compilers write source paths relative to the source folder, in both builds.
export CFLAGS="-ffile-prefix-map=$src/=" CXXFLAGS="-ffile-prefix-map=$src/="

# The Debian package, as check-package.sh checks it; the build stays in build-release/deb.
HELIXVIEW_BUILD_DIR=$PWD/build-release/deb \
    "$src/scripts/build.sh" -DBUILD_TESTING=OFF -DCMAKE_INSTALL_PREFIX=/usr >build-release/deb.log ||
    fail "the build for the Debian package failed; see build-release/deb.log"
(cd build-release/deb && cpack -G DEB) >>build-release/deb.log 2>&1 ||
    fail "cpack could not make the Debian package; see build-release/deb.log"
cp "build-release/deb/helixview_${version}_amd64.deb" dist/

# The Windows build: the .exe, the licence and a read-me for Windows users, zipped by CPack in the
# cross build.
"$src/scripts/build-windows.sh" >build-release/win64.log 2>&1 ||
    fail "the Windows build failed; see build-release/win64.log"
cp "$src/build-windows/helixview/$name-win64.zip" dist/

(cd dist && sha256sum -- helixview*) >dist/SHA256SUMS
ls -l dist
cat dist/SHA256SUMS
