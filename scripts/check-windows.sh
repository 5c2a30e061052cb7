#!/usr/bin/env bash
# Cross-builds helixview.exe for 64-bit Windows and checks it under wine on a private virtual
# display: a console program, its "simple" window and picture, a click that starts and stops the
# spin, and the frame delay through the Windows kernel's Sleep.
# Installs what is missing with apt-get (MinGW-w64, wine, Xvfb, ImageMagick: install-deps.sh
# windows) and cross-builds freeglut from Debian's source package. Everything goes to
# build-windows/: the program is build-windows/helixview/helixview.exe; freeglut and the wine
# prefix are kept there, so a second run skips them. Usage: scripts/check-windows.sh
set -euo pipefail
cd "$(dirname "$0")/.."
out=$PWD/build-windows
toolchain=$PWD/cmake/mingw-w64-x86_64.cmake
freeglut=$out/freeglut
exe=$out/helixview/helixview.exe

export WINEPREFIX=$out/wine WINEARCH=win64 WINEDEBUG=-all
# No .NET or HTML engine: the first start would offer to download them.
export WINEDLLOVERRIDES="mscoree,mshtml="

fail() {
    echo "check-windows: $*" >&2
    exit 1
}

# Microseconds since the epoch, and seconds since such a moment with one decimal.
now() {
    echo "${EPOCHREALTIME/./}"
}
seconds_since() {
    local tenths=$((($(now) - $1) / 100000))
    echo "$((tenths / 10)).$((tenths % 10))"
}

# apt-get source through a private copy of the machine's Debian (or Ubuntu) entries turned into
# deb-src ones, with its own lists: the machine's apt sources and lists are left as they are.
fetch_freeglut_source() {
    apt_dir=$(mktemp -d)
    trap 'rm -rf "$apt_dir"' EXIT
    mkdir -p "$apt_dir/sources" "$apt_dir/lists/partial" "$apt_dir/cache"
    if [ -f /etc/apt/sources.list ]; then
        sed -n 's/^deb /deb-src /p' /etc/apt/sources.list >"$apt_dir/sources/main.list"
    fi
    for f in /etc/apt/sources.list.d/debian.sources /etc/apt/sources.list.d/ubuntu.sources; do
        [ -f "$f" ] && sed 's/^Types:.*/Types: deb-src/' "$f" >"$apt_dir/sources/$(basename "$f")"
    done
    if ! grep -qs 'deb-src' "$apt_dir"/sources/*; then
        fail "no Debian or Ubuntu entry in /etc/apt to fetch freeglut's source from."
    fi
    local apt=(apt-get -q -o Dir::Etc::SourceList=/dev/null -o "Dir::Etc::SourceParts=$apt_dir/sources"
        -o "Dir::State::Lists=$apt_dir/lists" -o "Dir::Cache=$apt_dir/cache"
        -o "APT::Sandbox::User=$(id -un)")
    "${apt[@]}" update >"$out/apt-source.log" 2>&1 || fail "apt-get update for deb-src failed; see $out/apt-source.log"
    rm -rf "$out/src" && mkdir -p "$out/src"
    (cd "$out/src" && "${apt[@]}" source freeglut) >>"$out/apt-source.log" 2>&1 ||
        fail "apt-get source freeglut failed; see $out/apt-source.log"
}

# A static freeglut, so the .exe needs no DLL beside it; installed last, so its package file
# only exists once the whole build has succeeded.
build_freeglut() {
    if [ -f "$freeglut/lib/cmake/FreeGLUT/FreeGLUTConfig.cmake" ]; then
        echo "freeglut: $freeglut, kept from an earlier run"
        return
    fi
    echo "Fetching freeglut's Debian source and cross-building it into $freeglut"
    local started
    started=$(now)
    fetch_freeglut_source
    local src
    src=$(find "$out/src" -mindepth 1 -maxdepth 1 -type d -name 'freeglut-*' | head -n1)
    [ -n "$src" ] || fail "apt-get source gave no freeglut folder in $out/src"
    rm -rf "$out/freeglut-build"
    {
        cmake -S "$src" -B "$out/freeglut-build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
            -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$freeglut" \
            -DFREEGLUT_BUILD_STATIC_LIBS=ON -DFREEGLUT_BUILD_SHARED_LIBS=OFF \
            -DFREEGLUT_BUILD_DEMOS=OFF -DFREEGLUT_REPLACE_GLUT=ON &&
            cmake --build "$out/freeglut-build" --parallel "$(nproc)" &&
            cmake --install "$out/freeglut-build"
    } >"$out/freeglut-build.log" 2>&1 || fail "building freeglut failed; see $out/freeglut-build.log"
    echo "freeglut: fetched and built in $(seconds_since "$started") s"
}

# The DLLs the .exe loads, as "DLL function" lines from its import table.
imports() {
    x86_64-w64-mingw32-objdump -p "$exe" | awk '
        /DLL Name:/ { dll = $3; next }
        /^$/ { dll = "" }
        dll != "" && NF == 3 && $1 ~ /^[0-9a-f]+$/ { print dll, $3 }'
}

check_exe() {
    local subsystem
    subsystem=$(x86_64-w64-mingw32-objdump -p "$exe" | awk '$1 == "Subsystem" { print $2, $3, $4 }')
    [ "${subsystem%% *}" = 00000003 ] || fail "helixview.exe is not a console program (subsystem $subsystem)"
    echo "helixview.exe: subsystem $subsystem"

    local dlls
    dlls=$(x86_64-w64-mingw32-objdump -p "$exe" | awk '/DLL Name:/ { printf "%s%s", sep, $3; sep = " " }')
    echo "helixview.exe: loads $dlls"
    # Windows' own DLLs only: no C++ runtime, threads library or GLUT to ship beside it.
    if grep -Eiq 'lib|glut' <<<"$dlls"; then
        fail "helixview.exe needs a DLL that Windows does not have: $dlls"
    fi

    # The frame delay is the kernel's Sleep: imported from KERNEL32.dll, not defined by the
    # program's own code, and no POSIX sleep anywhere in the build.
    imports | grep -x 'KERNEL32.dll Sleep' >/dev/null || fail "helixview.exe does not import Sleep from KERNEL32.dll"
    local core=$out/helixview/libhelixview_core.a
    if x86_64-w64-mingw32-nm -C --defined-only "$core" | grep -w Sleep >/dev/null; then
        fail "the program's code defines a Sleep of its own"
    fi
    if x86_64-w64-mingw32-nm "$core" "$exe" | grep -w nanosleep >/dev/null; then
        fail "the Windows build uses nanosleep"
    fi
    echo "helixview.exe: the frame delay is KERNEL32.dll's Sleep"
}

# Hash of what the window shows now.
snapshot() {
    { xwd -silent -id "$window" 2>/dev/null || true; } | md5sum | cut -d' ' -f1
}

# The hash of the first picture that stays put for half a second.
settled() {
    local last now
    last=$(snapshot)
    for _ in $(seq 40); do
        sleep 0.5
        now=$(snapshot)
        [ "$now" = "$last" ] && break
        last=$now
    done
    echo "$now"
}

# The viewer, and whatever else runs in the wine prefix.
stop_viewer() {
    if [ -n "$viewer_pid" ]; then
        kill "$viewer_pid" 2>/dev/null || true
    fi
    wineserver -k 2>/dev/null || true
}

# Run under with-xvfb.sh: start the .exe under wine and check what it shows.
run_on_display() {
    local started
    trap stop_viewer EXIT

    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        echo "Creating the wine prefix in $WINEPREFIX"
        started=$(now)
        wineboot -i >"$out/wineboot.log" 2>&1 || fail "wineboot failed; see $out/wineboot.log"
        wineserver -w
        echo "wine prefix ready in $(seconds_since "$started") s"
    fi

    # freeglut on Windows takes DISPLAY for the name of a monitor; the X display's name, which wine
    # passes on, names none. Cleared, freeglut uses the primary monitor.
    (cd "$out/helixview" && exec wine cmd /c "set DISPLAY=&& helixview.exe") >"$out/output.txt" 2>&1 &
    window=$(timeout 60 xdotool search --sync --onlyvisible --name '^simple$' | head -n1) || true
    [ -n "$window" ] || fail "no window titled \"simple\" appeared under wine"
    viewer_pid=$(xdotool getwindowpid "$window")

    # The client area; wine puts the frame at the top left, so the client sits below its title bar.
    local geometry
    geometry=$(xwininfo -id "$window" | awk '/Absolute upper-left X/ { x = $4 } /Absolute upper-left Y/ { y = $4 }
        /Width:/ { w = $2 } /Height:/ { h = $2 } END { print w "x" h "+" x "+" y }')
    [ "${geometry%%+*}" = 500x500 ] || fail "the client area is $geometry, not 500x500"
    echo "Window \"simple\": client area $geometry"

    local still
    still=$(settled)
    import -window "$window" "$out/still.png"
    scripts/check-picture.sh "$out/still.png"

    # Spin about Y and count the frames that show, by how often the picture changes.
    xdotool mousemove --window "$window" 250 250 click 2
    local frames=0 last picture elapsed
    last=$still
    started=$(now)
    while [ $(($(now) - started)) -lt 3000000 ]; do
        picture=$(snapshot)
        [ "$picture" != "$last" ] && frames=$((frames + 1))
        last=$picture
    done
    elapsed=$(($(now) - started))
    local tenths_per_s=$((frames * 10000000 / elapsed))
    echo "Spinning: $frames frames seen in $(seconds_since "$started") s" \
        "($((tenths_per_s / 10)).$((tenths_per_s % 10)) frames/s)"
    [ "$frames" -ge 2 ] || fail "the picture did not move after the first click"
    # Sleep(70) in every frame allows at most 14.3 frames a second.
    [ "$tenths_per_s" -le 150 ] || fail "frames come faster than the 70 ms delay allows"

    xdotool mousemove --window "$window" 250 250 click 2
    local stopped
    stopped=$(settled)
    sleep 0.5
    [ "$(snapshot)" = "$stopped" ] || fail "the picture still moves after the second click"
    [ "$stopped" != "$still" ] || fail "the spin left the picture as it was"
    echo "Second click: the picture stops"

    [ ! -s "$out/output.txt" ] || fail "helixview.exe printed something: $(head -c 300 "$out/output.txt")"
}

if [ "${1:-}" = --on-display ]; then
    window=''
    viewer_pid=''
    run_on_display
    exit
fi

scripts/install-deps.sh windows
mkdir -p "$out"
build_freeglut

started=$(now)
cmake -S . -B "$out/helixview" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_PREFIX_PATH="$freeglut" \
    -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DCMAKE_COMPILE_WARNING_AS_ERROR=ON >/dev/null
cmake --build "$out/helixview" --parallel "$(nproc)"
echo "helixview.exe: built in $(seconds_since "$started") s"
check_exe

scripts/with-xvfb.sh "$0" --on-display
echo "Windows build checked: $exe"
