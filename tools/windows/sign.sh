#!/usr/bin/env bash
# Signs Windows program files in place with osslsigncode, when a certificate is given:
#   VELMOR_SIGN_PFX            the certificate and its key, a PKCS#12 (.pfx) file
#   VELMOR_SIGN_PASSWORD       its password, if it has one
#   VELMOR_SIGN_TIMESTAMP_URL  an RFC 3161 time-stamp server
#   VELMOR_SIGN_NO_TIMESTAMP=1 sign without one all the same (a throwaway build)
# Without VELMOR_SIGN_PFX it leaves the files as they are. With it, it refuses to sign
# without a time-stamp server unless told to: a signature with no time-stamp is valid only
# while the certificate is, and a release signed so stops being trusted the day the
# certificate expires. The packaging runs it on every .exe and .dll, the uninstaller and
# the installer; --status says which the build will be.
#   sign.sh --status | FILE...
set -euo pipefail

if [ "${1:-}" = --status ]; then
    if [ -n "${VELMOR_SIGN_PFX:-}" ]; then
        echo "signed with $VELMOR_SIGN_PFX, ${VELMOR_SIGN_TIMESTAMP_URL:+time-stamped by $VELMOR_SIGN_TIMESTAMP_URL}${VELMOR_SIGN_TIMESTAMP_URL:-with no time-stamp}"
    else
        echo "unsigned: VELMOR_SIGN_PFX is not set"
    fi
    exit 0
fi
[ -n "${VELMOR_SIGN_PFX:-}" ] || exit 0
[ -f "$VELMOR_SIGN_PFX" ] || { echo "sign: no certificate file $VELMOR_SIGN_PFX" >&2; exit 1; }
if [ -z "${VELMOR_SIGN_TIMESTAMP_URL:-}" ] && [ "${VELMOR_SIGN_NO_TIMESTAMP:-}" != 1 ]; then
    echo "sign: no time-stamp server (VELMOR_SIGN_TIMESTAMP_URL): a signature without a" \
        "time-stamp dies with the certificate; set VELMOR_SIGN_NO_TIMESTAMP=1 to sign so" \
        "all the same" >&2
    exit 1
fi

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
