#!/usr/bin/env bash
# Checks the release's Windows build, the helixview.exe that users download: unzips
# dist/helixview-VERSION-win64.zip (scripts/release.sh makes it) into build-windows/release/, checks
# what only the .exe has (a console program, Windows' own DLLs only, the kernel's Sleep and the 1 ms
# timer tick), then runs the end-to-end tests, built natively in build/, against it under wine on a
# private virtual display. Its symbols are read from the release's unstripped build in
# build-release/, which strip turns into the zip's .exe byte for byte. Installs what is missing
# with apt-get (install-deps.sh windows test); wine keeps its prefix in build-windows/wine, and the
# trace of the timer calls in build-windows/relay.log.
set -euo pipefail
cd "$(dirname "$0")/.."
out=$PWD/build-windows
exe=$out/release/helixview.exe
built=$(echo build-release/helixview-*/build-windows/helixview)
export WINEPREFIX=$out/wine WINEARCH=win64 WINEDEBUG=-all
# No .NET or HTML engine: the first start would offer to download them.
export WINEDLLOVERRIDES="mscoree,mshtml="

fail() {
    echo "check-windows: $*" >&2
    exit 1
}

# Run under xvfb-run: the calls that set the timer tick, then the tests.
on_display() {
    # wine's own processes, left running by a failed check.
    trap 'wineserver -k' EXIT
    # wine fills its prefix on the first start, and once (in CI, under load) left it without its
    # system DLLs, so that every start after failed: then it is made again, once.
    for try in 1 2; do
        wineboot --init >/dev/null 2>&1 || true
        wineserver -w
        [ ! -f "$WINEPREFIX/drive_c/windows/system32/kernel32.dll" ] || break
        [ "$try" = 1 ] || fail "wine could not set up its prefix in $WINEPREFIX (no kernel32.dll)"
        echo "check-windows: wine left $WINEPREFIX without its system DLLs; making it again"
        rm -rf "$WINEPREFIX"
    done
    # A start and a close with wine's trace of calls into winmm's timer functions.
    wine reg add 'HKCU\Software\Wine\Debug' /v RelayInclude /d 'winmm.timeBeginPeriod;winmm.timeEndPeriod' /f >/dev/null
    WINEDEBUG=+relay wine "$exe" 2>"$out/relay.log" &
    local viewer=$!
    timeout 60 xdotool search --sync --onlyvisible --name '^simple$' >/dev/null ||
        fail "no window titled \"simple\" appeared under wine"
    # Without /f, taskkill asks the window to close, as its close button does.
    wine taskkill /im helixview.exe >/dev/null
    wait "$viewer" || fail "helixview.exe ended with status $? on a close request"
    # freeglut asks for the tick too; the program's own call returns into keepPace, and each call
    # has its end.
    local begins ends callers=''
    begins=$(sed -n 's/.*Call winmm\.timeBeginPeriod(00000001) ret=\([0-9a-f]*\)$/\1/p' "$out/relay.log")
    ends=$(grep -c 'Call winmm\.timeEndPeriod(00000001)' "$out/relay.log") || true
    for ret in $begins; do
        callers+=" $(x86_64-w64-mingw32-nm -n -C "$built/helixview.exe" |
            awk -v ret="$(printf %016x "0x$ret")" '$2 ~ /^[Tt]$/ && $1 <= ret { f = $3 } END { print f }')"
    done
    grep -qw 'keepPace()' <<<"$callers" || fail "helixview.exe's own code did not call timeBeginPeriod(1); see $out/relay.log"
    [ "$ends" -eq "$(wc -w <<<"$begins")" ] || fail "$ends timeEndPeriod(1) calls for timeBeginPeriod(1) from$callers"
    echo "helixview.exe: timeBeginPeriod(1) from$callers; as many timeEndPeriod(1) on closing"

    # -display: freeglut on Windows takes DISPLAY for a monitor's name. Left out, as wine makes
    # them different (see HACKING.md): the window's place, an unopenable display, the input storm.
    export HELIXVIEW_COMMAND="wine $exe -display \\\\.\\DISPLAY1" HELIXVIEW_FRAMED=wine
    # wine's first start of a program takes seconds: the tests' limits are twice their own.
    export HELIXVIEW_SLOWNESS=2
    build/tests/e2e_test
    build/tests/abuse_test --gtest_filter='-Viewer.DisplayThatCannotBeOpened*:Viewer.InputStorm*'
}

if [ "${1:-}" = --on-display ]; then
    on_display
    exit
fi
zip=$(ls dist/helixview-*-win64.zip) || fail "no Windows zip: make the release first (scripts/release.sh)"
scripts/install-deps.sh windows test
scripts/build.sh -DBUILD_TESTING=ON
rm -rf "$out/release"
mkdir -p "$out"
unzip -q -j "$zip" -d "$out/release"
# strip dates the .exe by SOURCE_DATE_EPOCH, the release commit's time.
commit=$(git get-tar-commit-id < <(zcat dist/helixview-*.tar.gz))
SOURCE_DATE_EPOCH=$(git log -1 --format=%ct "$commit") x86_64-w64-mingw32-strip -o "$out/stripped.exe" "$built/helixview.exe" &&
    cmp -s "$out/stripped.exe" "$exe" || fail "$built is not the build of $zip's helixview.exe; make the release again"

headers=$(x86_64-w64-mingw32-objdump -p "$exe")
subsystem=$(awk '$1 == "Subsystem" { print $2, $3, $4 }' <<<"$headers")
[ "${subsystem%% *}" = 00000003 ] || fail "helixview.exe is not a console program (subsystem $subsystem)"
echo "helixview.exe: subsystem $subsystem"
# Windows' own DLLs only: no C++ runtime, threads library or GLUT to ship beside it.
dlls=$(awk '/DLL Name:/ { print $3 }' <<<"$headers" | xargs)
grep -Eiq 'lib|glut' <<<"$dlls" && fail "helixview.exe needs a DLL that Windows does not have: $dlls"
echo "helixview.exe: loads $dlls"

# The frame delay is the kernel's Sleep, not one of the program's own or nanosleep, with the timer
# tick that the program's code asks for. The imports are read as "DLL function" lines.
imports=$(awk '/DLL Name:/ { dll = $3; next } /^$/ { dll = "" }
    dll != "" && NF == 3 && $1 ~ /^[0-9a-f]+$/ { print dll, $3 }' <<<"$headers")
for import in 'KERNEL32.dll Sleep' 'WINMM.dll timeBeginPeriod' 'WINMM.dll timeEndPeriod'; do
    grep -qx "$import" <<<"$imports" || fail "helixview.exe does not import ${import#* } from ${import% *}"
done
core=$(x86_64-w64-mingw32-nm "$built/libhelixview_core.a")
grep -Eq ' T Sleep$' <<<"$core" && fail "the program's code defines a Sleep of its own"
grep -q nanosleep <<<"$core$(x86_64-w64-mingw32-nm "$built/helixview.exe")" && fail "the Windows build uses nanosleep"
echo "helixview.exe: the frame delay is KERNEL32.dll's Sleep, on the timer tick set by WINMM.dll"

# -noreset: the end-to-end tests start a viewer after another has left.
xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" "$0" --on-display
echo "Windows build checked: helixview.exe of $zip"
