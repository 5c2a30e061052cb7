#!/usr/bin/env bash
# Makes the release files of the checked-out commit in dist/: its source, helixview-VERSION.tar.gz;
# the Debian packages, helixview_VERSION_ARCH.deb for amd64, arm64 and armhf; the Windows
# build, helixview-VERSION-win64.zip; and SHA256SUMS. Everything is built from the source archive
# (in build-release/), so uncommitted changes are in none of the files, and the same commit gives
# the same bytes in any folder, at any time, by any user: dates are the commit's
# (SOURCE_DATE_EPOCH), paths are relative to the source.
# Installs what is missing first (install-deps.sh package arm64 armhf; the Windows build its
# own). dist/ and build-release/ are made anew. Usage: scripts/release.sh
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

cross=(arm64 armhf)
scripts/install-deps.sh package "${cross[@]}"
rm -rf build-release dist
mkdir build-release dist

# The source as distributions take it: the commit's files under helixview-VERSION/, dated by the
# commit, modes as git has them (whatever the user's tar.umask).
git -c tar.umask=022 archive --format=tar --prefix="$name/" "$commit" | gzip -9n >"dist/$name.tar.gz"
tar -xzf "dist/$name.tar.gz" -C build-release
src=$PWD/build-release/$name
# The compilers write source paths relative to the source folder, in both builds.
export CFLAGS="-ffile-prefix-map=$src/=" CXXFLAGS="-ffile-prefix-map=$src/="

# The Debian packages, as check-package.sh checks them: amd64, and arm64 and armhf (Raspberry Pi OS
# 64-bit, 32-bit) cross-built with cmake/GNU-TYPE.cmake; each stays in build-release/ by its log.
make_deb() {
    local dir=$PWD/build-release/$1
    shift
    HELIXVIEW_BUILD_DIR=$dir "$src/scripts/build.sh" -DBUILD_TESTING=OFF -DCMAKE_INSTALL_PREFIX=/usr "$@" >"$dir.log" &&
        (cd "$dir" && cpack -G DEB) >>"$dir.log" 2>&1 || fail "the Debian package failed to build; see $dir.log"
    cp "$dir"/helixview_"$version"_*.deb dist/
}
make_deb deb
for arch in "${cross[@]}"; do
    make_deb "deb-$arch" -DCMAKE_TOOLCHAIN_FILE="$src/cmake/$(dpkg-architecture -a "$arch" -q DEB_HOST_GNU_TYPE 2>/dev/null).cmake"
done

# The Windows build: the .exe, the licence and a read-me for Windows users, zipped by CPack in the
# cross build.
"$src/scripts/build-windows.sh" >build-release/win64.log 2>&1 ||
    fail "the Windows build failed; see build-release/win64.log"
cp "$src/build-windows/helixview/$name-win64.zip" dist/

(cd dist && sha256sum -- helixview*) >dist/SHA256SUMS
ls -l dist
cat dist/SHA256SUMS
