#!/usr/bin/env bash
# Signs Windows program files in place with osslsigncode, when a certificate is given:
#   VELMOR_SIGN_PFX            the certificate and its key, a PKCS#12 (.pfx) file
#   VELMOR_SIGN_PASSWORD       its password, if it has one
#   VELMOR_SIGN_TIMESTAMP_URL  an RFC 3161 time-stamp server; without it, no time-stamp
# Without VELMOR_SIGN_PFX it leaves the files as they are. The packaging runs it on
# velmor.exe, the uninstaller and the installer; --status says which the build will be.
#   sign.sh --status | FILE...
set -euo pipefail

if [ "${1:-}" = --status ]; then
    if [ -n "${VELMOR_SIGN_PFX:-}" ]; then
        echo "signed with $VELMOR_SIGN_PFX${VELMOR_SIGN_TIMESTAMP_URL:+, time-stamped by $VELMOR_SIGN_TIMESTAMP_URL}"
    else
        echo "unsigned: VELMOR_SIGN_PFX is not set"
    fi
    exit 0
fi
[ -n "${VELMOR_SIGN_PFX:-}" ] || exit 0
[ -f "$VELMOR_SIGN_PFX" ] || { echo "sign: no certificate file $VELMOR_SIGN_PFX" >&2; exit 1; }

args=(-pkcs12 "$VELMOR_SIGN_PFX" -h sha256 -n Velmor)
# The password comes in on standard input, never on a command line that others can read.
[ -z "${VELMOR_SIGN_PASSWORD+set}" ] || args+=(-readpass /dev/stdin)
[ -z "${VELMOR_SIGN_TIMESTAMP_URL:-}" ] || args+=(-ts "$VELMOR_SIGN_TIMESTAMP_URL")
for file; do
    # osslsigncode writes a file of its own making, never over one.
    aside=$(mktemp -d "$file.XXXXXX")
    if ! osslsigncode sign "${args[@]}" -in "$file" -out "$aside/signed" >"$aside/log" 2>&1 \
        < <(printf '%s' "${VELMOR_SIGN_PASSWORD:-}"); then
        cat "$aside/log" >&2
        rm -rf "$aside"
        echo "sign: cannot sign $file" >&2
        exit 1
    fi
    chmod --reference="$file" "$aside/signed"
    mv "$aside/signed" "$file"
    rm -rf "$aside"
done
