#!/usr/bin/env bash
# Keeps the licence texts of the Qt that qt_mingw.sh builds, taken from Debian's own source
# package of the same version, in a cache folder of their own beside the Qt build, so a
# machine that has the built Qt but not the texts fetches only these. Prints the folder.
#   qt_licences.sh CACHE     CACHE: the folder that holds the Qt build's own folder
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
version=$(dpkg-query -W -f='${Version}' qt6-base-dev-tools)
folder=$1/qt6-base-$version-licences
if [ -f "$folder/.complete" ]; then
    echo "$folder"
    exit 0
fi
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# apt fetches as its own user, who must be able to write here.
chmod 755 "$work"
cd "$work"
# The archive's source entries mirror its binary ones; apt-get source needs them.
if ! apt-get source --print-uris qt6-base >/dev/null 2>&1; then
    sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources |
        $sudo tee /etc/apt/sources.list.d/velmor-src.sources >/dev/null
    $sudo apt-get update -qq
fi
# The archives only: the texts are read out of them, nothing is unpacked or built.
apt-get source --download-only -qq "qt6-base=$version" >&2
# Made aside and moved into place whole: another build may be making the same folder.
new=$(mktemp -d "$folder.XXXXXX")
python3 "$here/third_party_notices.py" gather qt6-base_*.orig.tar.* qt6-base_*.debian.tar.* "$new"
touch "$new/.complete"
chmod 755 "$new"
if [ -f "$folder/.complete" ]; then
    rm -rf "$new"
else
    rm -rf "$folder"
    mv -T "$new" "$folder"
fi
echo "$folder"
