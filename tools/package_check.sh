#!/usr/bin/env bash
# Builds the .deb from an existing build tree and checks it the way a user meets it:
# the desktop entry and AppStream data validate, lintian finds no error or warning, and the
# package installs, starts and purges without leaving anything of it behind in /usr.
#   tools/package_check.sh [build-dir]      (default: build)
# Installing needs root, or sudo. The check never installs over a velmor package that is
# already on the machine: it stops and says so instead.
set -euo pipefail

top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(cd "${1:-$top/build}" && pwd)
work=$(mktemp -d)
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
installed=0

fail() {
    echo "package check: FAILED: $*" >&2
    exit 1
}

cleanup() {
    if [ "$installed" -eq 1 ]; then
        $sudo dpkg --purge velmor >/dev/null 2>&1 || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

is_installed() {
    dpkg-query -W -f='${Status}' velmor 2>/dev/null | grep -q "install ok installed"
}

# Tags accepted on purpose: a package of our own closes no Debian bug.
lintian_accepted=initial-upload-closes-no-bugs

echo "== package"
rm -rf "$build/package"
cpack --config "$build/CPackConfig.cmake" -B "$build/package" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log" >&2; fail "cpack"; }
debs=("$build"/package/velmor_*.deb)
{ [ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ]; } || fail "expected one velmor_*.deb in $build/package"
deb=${debs[0]}
echo "$deb"
dpkg-deb -f "$deb" Package Version Depends

echo "== desktop entry and AppStream data"
dpkg-deb -x "$deb" "$work/root"
desktops=("$work"/root/usr/share/applications/*.desktop)
[ -f "${desktops[0]}" ] || fail "no desktop entry in the package"
desktop-file-validate "${desktops[@]}" || fail "desktop-file-validate"
appstreamcli validate-tree --no-net "$work/root" || fail "appstreamcli validate-tree"
# The newest release in the AppStream data is the packaged version.
version=$(dpkg-deb -f "$deb" Version)
release=$(grep -o -m1 '<release version="[^"]*"' "$work"/root/usr/share/metainfo/*.metainfo.xml |
    cut -d'"' -f2)
[ "$release" = "${version%-*}" ] ||
    fail "AppStream's newest release is '$release', the package is $version"

echo "== lintian"
lintian --display-info --fail-on error,warning --suppress-tags "$lintian_accepted" "$deb" ||
    fail "lintian reports errors or warnings"

echo "== install"
if is_installed; then
    fail "a velmor package is already installed here; remove it first (dpkg --purge velmor)"
fi
installed=1
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "$deb" ||
    fail "apt-get install"
is_installed || fail "velmor is not installed after apt-get install"

echo "== run"
for program in "$work"/root/usr/bin/*; do
    if ldd "/usr/bin/$(basename "$program")" | grep "not found"; then
        fail "/usr/bin/$(basename "$program") misses libraries"
    fi
done
# Start the installed program offscreen on an empty profile. It has started once the
# camera-type handler has stored CAMTYPE, which its window does while it sets itself up;
# it must then still be running, waiting for the operator.
profile="$work/config"
mkdir -p "$profile"
XDG_CONFIG_HOME="$profile" QT_QPA_PLATFORM=offscreen /usr/bin/velmor >"$work/run.log" 2>&1 &
pid=$!
conf="$profile/PC-ZORVIK/velmor.conf"
for _ in $(seq 300); do
    grep -q '^CAMTYPE=0' "$conf" 2>/dev/null && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
done
if ! kill -0 "$pid" 2>/dev/null; then
    wait "$pid" && status=0 || status=$?
    cat "$work/run.log" >&2
    fail "velmor ended by itself (status $status)"
fi
kill "$pid"
wait "$pid" || true
grep -q '^CAMTYPE=0' "$conf" 2>/dev/null || fail "velmor did not write its profile $conf"
echo "velmor started and wrote $conf"

echo "== purge"
$sudo dpkg --purge velmor
installed=0
is_installed && fail "velmor is still installed after dpkg --purge"
dpkg-deb --fsys-tarfile "$deb" | tar -t | sed 's|^\./|/|' >"$work/files"
left=()
while read -r path; do
    case "$path" in */) continue ;; esac
    [ -e "$path" ] && left+=("$path")
done <"$work/files"
while read -r path; do
    left+=("$path")
done < <(find /usr -path /usr/local -prune -o -iname '*velmor*' -print)
if [ ${#left[@]} -gt 0 ]; then
    printf '  %s\n' "${left[@]}" >&2
    fail "left behind after purge"
fi
echo "package check: ok"
