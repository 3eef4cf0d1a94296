#!/usr/bin/env bash
# Checks the Windows build under Wine, in a prefix of its own (build-win/wineprefix):
#   1. the Windows test programs (CTest runs them through Wine);
#   2. the installer, silently: the program and its Start-menu entry where they belong;
#   3. the installed velmor.exe on a real X server against the virtual camera, as an
#      operator works it, and on hostile registry values; COM1 mapped to COM7, the Serial
#      ports dialog, the ways out, and the zip started in a prefix of its own;
#   3b. the frame benchmark on a port mapped to the virtual camera's line (a figure), and
#       how late the stop follows a held key's release (a figure);
#   4. the uninstaller, silently: nothing of the program left behind;
#   5. the portable zip holds the same files as the installed tree;
#   6. velmor.exe's manifest, read back out of it, and the third-party notices;
#   7. the Windows desk table: packages signed with a throwaway certificate, every .exe and
#      .dll verified; the installer and uninstaller refusing while velmor.exe runs; the
#      uninstall entry; the version blocks; a line set up and hung up on a pseudo-terminal.
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
for f in "$app/velmor.exe" "$app/Uninstall.exe" "$app/platforms/qwindows.dll" "$menu/Velmor.lnk" \
    "$app/THIRD-PARTY-NOTICES.txt"; do
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

# How late the stop follows a held key's release, over ten holds: a figure to read, beside
# the Linux one of tests/x11_hold_arrow_key.py.
xvfb-run -a -s "-noreset -screen 0 1024x768x24" python3 tests/wine_stop_latency.py "$app/velmor.exe" 10

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

fail() {
    echo "$*" >&2
    exit 1
}

# The manifest Windows reads before the program starts: well-formed, or Windows refuses to
# start it at all.
manifest=$(wrestool -x --raw --type=24 --name=1 build-win/deploy/velmor.exe)
python3 -c 'import sys, xml.dom.minidom; xml.dom.minidom.parseString(sys.stdin.buffer.read())' \
    <<<"$manifest" || fail "manifest: not well-formed XML: $manifest"
while IFS='|' read -r what pattern; do
    grep -qE "$pattern" <<<"$manifest" || fail "manifest: no $what in: $manifest"
done <<'EOF'
asInvoker level|<requestedExecutionLevel level="asInvoker"
Windows 10/11 entry|<supportedOS Id="\{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a\}"/>
per-monitor v2 DPI awareness|<dpiAwareness [^>]*>PerMonitorV2, PerMonitor<
per-monitor fallback for older Windows|<dpiAware [^>]*>true/pm<
EOF
echo "manifest: asInvoker, Windows 10/11, per-monitor v2 DPI awareness"

# Every DLL shipped is named in the notices, and the licence texts they name are the ones
# shipped, none of them empty.
notices=build-win/deploy/THIRD-PARTY-NOTICES.txt
while read -r dll; do
    grep -qF "$dll" "$notices" || fail "notices: $dll is shipped but not named"
done < <(cd build-win/deploy && find . -name '*.dll' | sed 's|^\./||; s|/|\\|g')
named=$(grep -oE 'licenses(\\[^\\ ),]+)+' "$notices" | sed 's/\.$//; s|\\|/|g' | sort -u)
shipped=$(cd build-win/deploy && find licenses -type f | sort)
if [ "$named" != "$shipped" ]; then
    diff <(echo "$named") <(echo "$shipped") >&2 || true
    fail "notices: the licence texts named are not those shipped"
fi
while read -r text; do
    [ -s "build-win/deploy/$text" ] || fail "notices: $text is empty"
done <<<"$shipped"
echo "notices: THIRD-PARTY-NOTICES.txt and $(wc -l <<<"$shipped") licence texts"

# What Wine forgives and a Windows desk does not, as one table, on packages signed with a
# throwaway certificate and installed: each row names a check below and says what it shows.
# A build made without a certificate carries no signature.
if [ -z "${VELMOR_SIGN_PFX:-}" ] && osslsigncode verify -in "$installer" >/dev/null 2>&1; then
    fail "signing: $installer has a signature, though no certificate was given"
fi
signing=$(mktemp -d)
trap 'rm -rf "$signing"' EXIT
openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj "/CN=Velmor signing check" \
    -addext extendedKeyUsage=codeSigning -keyout "$signing/key.pem" -out "$signing/cert.pem" \
    2>/dev/null
VELMOR_SIGN_PASSWORD=$(openssl rand -hex 12)
export VELMOR_SIGN_PASSWORD
openssl pkcs12 -export -inkey "$signing/key.pem" -in "$signing/cert.pem" \
    -out "$signing/cert.pfx" -passout env:VELMOR_SIGN_PASSWORD
# No time-stamp server here: signing without one must be asked for.
cp build-win/deploy/velmor.exe "$signing/unasked.exe"
if VELMOR_SIGN_PFX=$signing/cert.pfx VELMOR_SIGN_TIMESTAMP_URL='' \
    tools/windows/sign.sh "$signing/unasked.exe" 2>"$signing/refusal"; then
    fail "signing: signed with no time-stamp though not asked to"
fi
grep -q "time-stamp" "$signing/refusal" || fail "signing: refused without saying why: $(cat "$signing/refusal")"
echo "signing: with no time-stamp server and not asked to sign so all the same, refused"
VELMOR_SIGN_PFX=$signing/cert.pfx VELMOR_SIGN_TIMESTAMP_URL='' VELMOR_SIGN_NO_TIMESTAMP=1 \
    cpack --config build-win/CPackConfig.cmake -G "NSIS;ZIP" -B "$signing/packages" >/dev/null
unset VELMOR_SIGN_PASSWORD
signed_installer=$(ls "$signing"/packages/velmor-*-win64.exe)
unzip -q "$signing"/packages/velmor-*-win64.zip -d "$signing/zip"
wine "$signed_installer" /S
wineserver -w
[ -f "$app/velmor.exe" ] || fail "signing: the signed installer installed nothing"

# Every installed file, as a list of checksums.
installed() { (cd "$app" && find . -type f -exec md5sum {} + | sort -k2); }
# A Windows process of this name runs in this prefix (Wine's tasklist lists nothing).
running_here() {
    local pid
    for pid in $(pgrep -f "$1"); do
        grep -qzxF "WINEPREFIX=$WINEPREFIX" "/proc/$pid/environ" 2>/dev/null && return 0
    done
    return 1
}
# velmor.exe started from the installed folder, on Qt's screenless platform, and running:
# its guardian is started in main(), after the mutex is made before it.
start_velmor() {
    QT_QPA_PLATFORM=offscreen wine "$app/velmor.exe" >/dev/null 2>&1 &
    velmor=$!
    for _ in $(seq 300); do
        running_here 'velmor-guard\.exe' && return 0
        sleep 0.1
    done
    return 1
}
stop_velmor() {
    wine taskkill /F /IM velmor.exe >/dev/null 2>&1 || true
    wait "$velmor" 2>/dev/null || true
    wineserver -w
}
# The command refuses, silently, while velmor.exe runs: exit code 3, no installed file changed.
refuses_while_running() {
    local before after code=0
    before=$(installed)
    start_velmor || { stop_velmor; echo "velmor.exe did not start"; return 1; }
    "$@" || code=$?
    stop_velmor
    after=$(installed)
    [ "$code" = 3 ] || { echo "exit code $code, not 3"; return 1; }
    [ "$before" = "$after" ] || { diff <(echo "$before") <(echo "$after"); return 1; }
}
installer_refuses() { refuses_while_running wine "$signed_installer" /S; }
# In place (_?=), so that its exit code is its own and not that of a copy it starts; by the
# folder's short name, since NSIS takes _?= only unquoted and Wine quotes a word with spaces.
uninstaller_refuses() {
    local folder
    folder=$(winepath -s 'C:\Program Files\Velmor' 2>/dev/null | tr -d '\r')
    refuses_while_running wine "$app/Uninstall.exe" /S "_?=$folder"
}
uninstall_entry() {
    local key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Velmor' entry
    entry=$(wine reg query "$key" 2>/dev/null | tr -d '\r')
    grep -qE 'EstimatedSize +REG_DWORD +0x[0-9a-f]*[1-9a-f]' <<<"$entry" &&
        grep -qF 'QuietUninstallString    REG_SZ    "C:\Program Files\Velmor\Uninstall.exe" /S' \
            <<<"$entry" || { echo "$entry"; return 1; }
}
all_signed() {
    local file count=0
    while IFS= read -r -d '' file; do
        osslsigncode verify -in "$file" -CAfile "$signing/cert.pem" >"$signing/verify" 2>&1 &&
            grep -q "Subject: /CN=Velmor signing check" "$signing/verify" &&
            grep -q "Timestamp is not available" "$signing/verify" ||
            { echo "$file:"; cat "$signing/verify"; return 1; }
        count=$((count + 1))
    done < <(find "$app" "$signing/zip" "$signed_installer" -type f \
        \( -iname '*.exe' -o -iname '*.dll' \) -print0)
    [ "$count" -ge 20 ] || { echo "only $count files"; return 1; }
}
# A version block's text, UTF-16 as Windows keeps it, holds each of the given words.
version_block_names() {
    wrestool -x --raw --type=16 "$1" | python3 -c '
import sys
block = sys.stdin.buffer.read()
sys.exit(0 if all(w.encode("utf-16-le") in block for w in sys.argv[1:]) else 1)' "${@:2}"
}
version_blocks() {
    version_block_names "$app/velmor-guard.exe" "Velmor stop guardian" "Velmor developers" &&
        version_block_names "$app/velmor.exe" CompanyName "Velmor developers" LegalCopyright \
            "Copyright (C) 2026 Velmor developers"
}
line_on_a_pty() {
    python3 tools/windows/wine_line_check.py build-win/tst_device_win.exe "$top/build-win/deploy"
}

while IFS='|' read -r check what; do
    if ! out=$($check 2>&1); then
        echo "$out" >&2
        fail "windows desk: $what: failed"
    fi
    echo "windows desk: $what"
done <<'EOF'
installer_refuses|the installer, silent, while velmor.exe runs: exit code 3, every installed file the same
uninstaller_refuses|the uninstaller, silent, while velmor.exe runs: exit code 3, every installed file the same
uninstall_entry|the uninstall entry gives EstimatedSize and QuietUninstallString
all_signed|every .exe and .dll, installed, in the zip and the installer, verifies against the throwaway certificate
version_blocks|velmor-guard.exe says "Velmor stop guardian"; velmor.exe names the company and copyright
line_on_a_pty|a line left with XON == XOFF and limits past its queue is set up sanely, its write time-out at the floor; a line that hangs up is lost, and its port let go once the device is closed
EOF

wine "$app/Uninstall.exe" /S
wineserver -w
[ ! -e "$app" ] || fail "signing: the signed uninstaller left $app"
