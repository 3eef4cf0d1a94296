#!/usr/bin/env bash
# Checks the Windows build under Wine, in a prefix of its own (build-win/wineprefix):
#   1. the Windows test programs (CTest runs them through Wine);
#   2. the installer, silently: the program and its Start-menu entry where they belong;
#   3. the installed velmor.exe on a real X server against the virtual camera, as an
#      operator works it, and on hostile registry values;
#   4. the uninstaller, silently: nothing of the program left behind;
#   5. the portable zip holds the same files as the installed tree;
#   6. velmor.exe's manifest, read back out of it, and the third-party notices;
#   7. signing with a throwaway certificate: osslsigncode verifies velmor.exe, the
#      uninstaller and the installer.
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
    python3 tests/wine_end_to_end.py "$app/velmor.exe" build/vcam/velmor-vcam build/tests/keypad_layout

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

# Signing. A build made without a certificate carries no signature. Packages made with a
# throwaway one have velmor.exe, the uninstaller and the installer signed by it, with no
# time-stamp as no server is given, and the signed installer and uninstaller still work.
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
VELMOR_SIGN_PFX=$signing/cert.pfx VELMOR_SIGN_TIMESTAMP_URL='' \
    cpack --config build-win/CPackConfig.cmake -G "NSIS;ZIP" -B "$signing/packages" >/dev/null
unset VELMOR_SIGN_PASSWORD
signed_installer=$(ls "$signing"/packages/velmor-*-win64.exe)
unzip -q -j "$signing"/packages/velmor-*-win64.zip '*/velmor.exe' -d "$signing/zip"
wine "$signed_installer" /S
wineserver -w
while IFS='|' read -r what file; do
    osslsigncode verify -in "$file" -CAfile "$signing/cert.pem" >"$signing/verify" 2>&1 ||
        { cat "$signing/verify" >&2; fail "signing: $file does not verify"; }
    grep -q "Subject: /CN=Velmor signing check" "$signing/verify" ||
        fail "signing: $file is not signed by the throwaway certificate"
    grep -q "Timestamp is not available" "$signing/verify" ||
        fail "signing: $file has a time-stamp, though no server was given"
    echo "signing: $what: $(grep -m1 '^Signature verification' "$signing/verify")"
done <<EOF
the installer|$signed_installer
the installed velmor.exe|$app/velmor.exe
the uninstaller|$app/Uninstall.exe
the zip's velmor.exe|$signing/zip/velmor.exe
EOF
wine "$app/Uninstall.exe" /S
wineserver -w
[ ! -e "$app" ] || fail "signing: the signed uninstaller left $app"
