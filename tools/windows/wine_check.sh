#!/usr/bin/env bash
# Checks the Windows build under Wine, in a prefix of its own (build-win/wineprefix):
#   1. the Windows test programs (CTest runs them through Wine);
#   2. the installer, silently: the program and its Start-menu entry where they belong;
#   3. the installed velmor.exe on a real X server against the virtual camera, as an
#      operator works it, and on hostile registry values; COM1 mapped to COM7, the Serial
#      ports dialog, the ways out, and the zip started in a prefix of its own;
#   3b. the frame benchmark on a port mapped to the virtual camera's line (a figure);
#   4. the uninstaller, silently: nothing of the program left behind;
#   5. the portable zip holds the same files as the installed tree.
# Needs the host build (build/) and tools/windows/build_velmor.sh first.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
cd "$top"

export WINEPREFIX=$top/build-win/wineprefix WINEARCH=win64 WINEDEBUG=-all
# No Mono or Gecko prompts: the program needs neither.
export WINEDLLOVERRIDES="mscoree,mshtml="
installer=$(ls build-win/velmor-*-win64.exe)
zip=$(ls build-win/velmor-*-win64.zip)
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wineboot -i >/dev/null 2>&1 || true
    wineserver -w
fi

ctest --test-dir build-win --output-on-failure

app="$WINEPREFIX/drive_c/Program Files/Velmor"
menu="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Velmor"
wine "$installer" /S
wineserver -w
for f in "$app/velmor.exe" "$app/Uninstall.exe" "$app/platforms/qwindows.dll" "$menu/Velmor.lnk"; do
    [ -f "$f" ] || { echo "installer: $f is missing" >&2; exit 1; }
done
echo "installer: $(du -sh "$app" | cut -f1) in C:\\Program Files\\Velmor, Start menu entry Velmor"

xvfb-run -a -s "-noreset -screen 0 1024x768x24" \
    python3 tests/wine_end_to_end.py "$app/velmor.exe" build/vcam/velmor-vcam build/tests/keypad_layout \
    "$zip"

# Frame timing under Wine, beside the Linux figure of build/bench/velmor_bench: a figure to
# read, never a pass or fail on time.
bench=$(mktemp -d)
build/vcam/velmor-vcam --headless --link "$bench/line" >"$bench/frames" 2>/dev/null &
vcam=$!
wine reg add 'HKLM\Software\Wine\Ports' /v COM9 /d "$bench/line" /f >/dev/null 2>&1
wineserver -k
WINEPATH="Z:$top/build-win/deploy" wine build-win/velmor_bench.exe 300 COM9
wine reg delete 'HKLM\Software\Wine\Ports' /v COM9 /f >/dev/null 2>&1
wineserver -k
kill $vcam
wait $vcam || true
echo "benchmark: the virtual camera decoded $(grep -c good "$bench/frames") good frames"
rm -rf "$bench"

wine "$app/Uninstall.exe" /S
wineserver -w
if [ -e "$app" ] || [ -e "$menu" ]; then
    echo "uninstaller: left $(find "$app" "$menu" 2>/dev/null | head -5)" >&2
    exit 1
fi
echo "uninstaller: the program folder and the Start menu entry are gone"

# The zip unpacks to one folder with the same files the installer put in place (less the
# uninstaller it writes itself).
listing=$(unzip -Z1 "$zip" | grep -v '/$' | sed 's|^[^/]*/||' | sort)
expected=$(cd build-win/deploy && find . -type f | sed 's|^\./||' | sort)
if [ "$listing" != "$expected" ]; then
    diff <(echo "$expected") <(echo "$listing") >&2 || true
    echo "zip: not the install tree" >&2
    exit 1
fi
echo "zip: $(echo "$listing" | wc -l) files, the install tree"
