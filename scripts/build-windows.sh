#!/usr/bin/env bash
# Cross-builds helixview.exe for 64-bit Windows with MinGW-w64, over freeglut built statically from
# Debian's source package, and packs it with LICENSE.txt and README.txt into a zip that the same
# commit makes byte for byte the same (SOURCE_DATE_EPOCH). Installs what is missing with apt-get
# (install-deps.sh windows). Into build-windows/: freeglut/ (kept for the next run), then
# helixview/helixview.exe and helixview/helixview-VERSION-win64.zip.
set -euo pipefail
cd "$(dirname "$0")/.."
out=$PWD/build-windows
toolchain=$PWD/cmake/mingw-w64-x86_64.cmake
freeglut=$out/freeglut

fail() {
    echo "build-windows: $*" >&2
    exit 1
}

# The zip keeps local times: the same in every time zone.
SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}
export SOURCE_DATE_EPOCH TZ=UTC
scripts/install-deps.sh windows

# apt-get source through a private copy of the machine's Debian (or Ubuntu) entries turned into
# deb-src ones, with its own lists: the machine's apt sources and lists are left as they are.
fetch_freeglut_source() {
    local apt_dir=$out/apt
    rm -rf "$apt_dir" "$out/src"
    mkdir -p "$apt_dir/sources" "$apt_dir/lists/partial" "$apt_dir/cache" "$out/src"
    if [ -f /etc/apt/sources.list ]; then
        sed -n 's/^deb /deb-src /p' /etc/apt/sources.list >"$apt_dir/sources/main.list"
    fi
    for f in /etc/apt/sources.list.d/debian.sources /etc/apt/sources.list.d/ubuntu.sources; do
        [ -f "$f" ] && sed 's/^Types:.*/Types: deb-src/' "$f" >"$apt_dir/sources/$(basename "$f")"
    done
    # On the real clock even when the build's is moved (faketime): apt takes the archive's signed
    # lists for expired otherwise, and dpkg-source cannot date the files it unpacks.
    local apt=(env -u LD_PRELOAD -u FAKETIME apt-get -q -o Dir::Etc::SourceList=/dev/null -o "Dir::Etc::SourceParts=$apt_dir/sources"
        -o "Dir::State::Lists=$apt_dir/lists" -o "Dir::Cache=$apt_dir/cache"
        -o "APT::Sandbox::User=$(id -un)")
    {
        "${apt[@]}" update && (cd "$out/src" && "${apt[@]}" source freeglut)
    } >"$out/apt-source.log" 2>&1 || fail "apt-get source freeglut failed; see $out/apt-source.log"
}

# Installed last, so its package file only exists once the whole build has succeeded.
if [ ! -f "$freeglut/lib/cmake/FreeGLUT/FreeGLUTConfig.cmake" ]; then
    echo "Fetching freeglut's Debian source and cross-building it into $freeglut"
    fetch_freeglut_source
    rm -rf "$out/freeglut-build"
    {
        cmake -S "$out"/src/freeglut-*/ -B "$out/freeglut-build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
            -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$freeglut" \
            -DFREEGLUT_BUILD_STATIC_LIBS=ON -DFREEGLUT_BUILD_SHARED_LIBS=OFF \
            -DFREEGLUT_BUILD_DEMOS=OFF -DFREEGLUT_REPLACE_GLUT=ON &&
            cmake --build "$out/freeglut-build" --parallel "$(nproc)" &&
            cmake --install "$out/freeglut-build"
    } >"$out/freeglut-build.log" 2>&1 || fail "building freeglut failed; see $out/freeglut-build.log"
fi

cmake -S . -B "$out/helixview" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_PREFIX_PATH="$freeglut" \
    -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DCMAKE_COMPILE_WARNING_AS_ERROR=ON >/dev/null
cmake --build "$out/helixview" --parallel "$(nproc)"
rm -f "$out"/helixview/helixview-*-win64.zip
(cd "$out/helixview" && cpack -G ZIP) >"$out/cpack.log" 2>&1 || fail "cpack could not make the zip; see $out/cpack.log"
zip=$(ls "$out"/helixview/helixview-*-win64.zip)
# CPack stores the builder's user and group ids, and the files in the order the file system lists
# them: strip-nondeterminism sorts the entries and clears the ids (and sets the same dates again).
strip-nondeterminism --type zip --timestamp "$SOURCE_DATE_EPOCH" "$zip" >/dev/null
echo "Built $out/helixview/helixview.exe and $zip"
