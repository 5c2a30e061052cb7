#!/usr/bin/env bash
# Checks the Windows build: cross-builds it with build-windows.sh, checks what only the .exe has (a
# console program, Windows' own DLLs only, the kernel's Sleep and the 1 ms timer tick), then runs
# the end-to-end tests, built natively in build/, against it under wine on a private virtual
# display. Installs what is missing with apt-get (install-deps.sh windows test memcheck); the wine
# prefix is kept in build-windows/wine, so a second run skips making it. Usage: scripts/check-windows.sh
set -euo pipefail
cd "$(dirname "$0")/.."
out=$PWD/build-windows
exe=$out/helixview/helixview.exe

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
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        echo "Making the wine prefix in $WINEPREFIX"
        { wineboot -i && wineserver -w; } >"$out/wineboot.log" 2>&1 || fail "wineboot failed; see $out/wineboot.log"
    fi
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
        callers+=" $(x86_64-w64-mingw32-nm -n -C "$exe" |
            awk -v ret="$(printf %016x "0x$ret")" '$2 ~ /^[Tt]$/ && $1 <= ret { f = $3 } END { print f }')"
    done
    grep -qw 'keepPace()' <<<"$callers" || fail "helixview.exe's own code did not call timeBeginPeriod(1); see $out/relay.log"
    [ "$ends" -eq "$(wc -w <<<"$begins")" ] || fail "$ends timeEndPeriod(1) calls for timeBeginPeriod(1) from$callers"
    echo "helixview.exe: timeBeginPeriod(1) from$callers; as many timeEndPeriod(1) on closing"

    # freeglut on Windows takes DISPLAY, the X display's name under wine, for a monitor's name and
    # warns that none has it: -display names wine's first monitor instead. The frame that wine
    # draws moves the window from the top left; HELIXVIEW_FRAMED leaves that check out. Left out
    # too: the message for a display that cannot be opened (X's freeglut, not Windows') and the
    # input storm, of which wine loses button presses at thousands a second (with 3 ms between
    # them, the same storm ends as it should).
    export HELIXVIEW_COMMAND="wine $exe -display \\\\.\\DISPLAY1" HELIXVIEW_FRAMED=1
    build/tests/e2e_test
    build/tests/abuse_test --gtest_filter='-Viewer.DisplayThatCannotBeOpened*:Viewer.InputStorm*'
}

if [ "${1:-}" = --on-display ]; then
    on_display
    exit
fi

scripts/build-windows.sh
scripts/install-deps.sh test memcheck
scripts/build.sh -DBUILD_TESTING=ON

headers=$(x86_64-w64-mingw32-objdump -p "$exe")
subsystem=$(awk '$1 == "Subsystem" { print $2, $3, $4 }' <<<"$headers")
[ "${subsystem%% *}" = 00000003 ] || fail "helixview.exe is not a console program (subsystem $subsystem)"
echo "helixview.exe: subsystem $subsystem"

dlls=$(awk '/DLL Name:/ { print $3 }' <<<"$headers" | xargs)
echo "helixview.exe: loads $dlls"
# Windows' own DLLs only: no C++ runtime, threads library or GLUT to ship beside it.
if grep -Eiq 'lib|glut' <<<"$dlls"; then
    fail "helixview.exe needs a DLL that Windows does not have: $dlls"
fi

# The functions the .exe takes from each DLL, as "DLL function" lines.
imports=$(awk '/DLL Name:/ { dll = $3; next } /^$/ { dll = "" }
    dll != "" && NF == 3 && $1 ~ /^[0-9a-f]+$/ { print dll, $3 }' <<<"$headers")
# The frame delay is the kernel's Sleep, not one of the program's own, with the timer tick that
# the program's code asks for.
for import in 'KERNEL32.dll Sleep' 'WINMM.dll timeBeginPeriod' 'WINMM.dll timeEndPeriod'; do
    grep -qx "$import" <<<"$imports" || fail "helixview.exe does not import ${import#* } from ${import% *}"
done
core=$(x86_64-w64-mingw32-nm "$out/helixview/libhelixview_core.a")
if grep -Eq ' T Sleep$' <<<"$core"; then
    fail "the program's code defines a Sleep of its own"
fi
if x86_64-w64-mingw32-nm "$exe" | grep -q nanosleep || grep -q nanosleep <<<"$core"; then
    fail "the Windows build uses nanosleep"
fi
for call in timeBeginPeriod timeEndPeriod; do
    grep -Eq " U __imp_$call\$" <<<"$core" || fail "the program's code does not call $call"
done
echo "helixview.exe: the frame delay is KERNEL32.dll's Sleep, on the timer tick set by WINMM.dll"

# -noreset: the end-to-end tests start a viewer after another has left.
xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" "$0" --on-display
echo "Windows build checked: $exe"
