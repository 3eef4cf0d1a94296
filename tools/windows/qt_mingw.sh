#!/usr/bin/env bash
# Builds Qt's base module for 64-bit Windows (shared, MinGW-w64) from Debian's own source
# package, the same version as the host Qt whose tools (moc, rcc, uic) it uses, and
# installs it into a cache folder that later runs reuse. Prints the folder on stdout
# (with --options, only the feature options it builds with; with --folder, the folder
# without building; with --minutes, about how long a build takes on this machine).
#   VELMOR_QT_WIN_CACHE   parent of the cache folders (default /var/cache/velmor, or
#                         ~/.cache/velmor for a user who cannot write there)
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
version=$(dpkg-query -W -f='${Version}' qt6-base-dev-tools | sed 's/+.*//')
# Only what the installer and the zip ship is built: Qt Core, Gui and Widgets, the Windows
# and offscreen platform plugins and the Vista style (packaging/windows/CMakeLists.txt),
# and Qt Test for the test programs. Off, as nothing shipped loads them: the modules Velmor
# does not link (Network among them: the program's sockets are the platform's own), OpenGL
# with its two modules (the window is drawn by the raster engine), the Direct2D platform
# plugin (direct2d1_1: the direct2d feature itself stays, as Qt Gui's DirectWrite font
# engine, which the Windows platform plugin uses, is built only with it), the GIF and ICO plugins and the PPM and XBM readers (the program reads its own
# PNGs; the icon is in the .exe), and Markdown in rich text. FreeType stays: the offscreen
# plugin needs it. The feature set is part of the key: a change to the options below must
# not reuse a folder built with other ones.
options=(-DFEATURE_tabletevent=OFF -DFEATURE_sql=OFF -DFEATURE_network=OFF
    -DFEATURE_dbus=OFF -DFEATURE_printsupport=OFF -DFEATURE_concurrent=OFF
    -DFEATURE_xml=OFF -DFEATURE_jpeg=OFF -DFEATURE_vulkan=OFF
    -DINPUT_opengl=no -DFEATURE_direct2d1_1=OFF -DFEATURE_gif=OFF -DFEATURE_ico=OFF
    -DFEATURE_imageformat_ppm=OFF -DFEATURE_imageformat_xbm=OFF
    -DFEATURE_textmarkdownreader=OFF -DFEATURE_textmarkdownwriter=OFF)
key=$(printf '%s\n' "${options[@]}" | sha1sum | cut -c1-8)
# The options alone, for the notices that tell how this Qt was built.
if [ "${1:-}" = --options ]; then
    printf '%s\n' "${options[@]}"
    exit 0
fi
# Measured on a two-core build machine; compiling is most of it and spreads over the cores.
minutes_on_two_cores=39
if [ "${1:-}" = --minutes ]; then
    echo $(((minutes_on_two_cores * 2 + $(nproc) / 2) / $(nproc)))
    exit 0
fi
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
default_cache=/var/cache/velmor
if [ -n "$sudo" ] && ! { mkdir -p "$default_cache" 2>/dev/null && [ -w "$default_cache" ]; }; then
    default_cache=${XDG_CACHE_HOME:-$HOME/.cache}/velmor
fi
cache=${VELMOR_QT_WIN_CACHE:-$default_cache}
prefix=$cache/qt-$version-mingw-$key
if [ "${1:-}" = --folder ] || [ -f "$prefix/.complete" ]; then
    echo "$prefix"
    exit 0
fi

# One build at a time into a folder: a second run (another checkout's tests, a CI run beside
# a developer's) waits for the first and then takes what it built.
mkdir -p "$cache"
exec 9>"$prefix.lock"
if ! flock -n 9; then
    echo "Another run is building Qt for Windows into $prefix; waiting for it to end." >&2
    flock 9
fi
if [ -f "$prefix/.complete" ]; then
    echo "$prefix"
    exit 0
fi

work=$cache/qt-$version-mingw-$key.work
rm -rf "$work" "$prefix"
mkdir -p "$work"
cd "$work"
# The archive's source entries mirror its binary ones; apt-get source needs them.
src_list=/etc/apt/sources.list.d/velmor-src.sources
if ! apt-get source --print-uris qt6-base >/dev/null 2>&1; then
    sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources |
        $sudo tee "$src_list" >/dev/null
    $sudo apt-get update -qq
fi
apt-get source -qq "qt6-base=$(dpkg-query -W -f='${Version}' qt6-base-dev-tools)" >&2
src=$(find . -maxdepth 1 -type d -name 'qt6-base-*' | head -1)

start=$(date +%s)
cmake -S "$src" -B build -G Ninja -Wno-dev \
    -DCMAKE_TOOLCHAIN_FILE="$here/mingw_toolchain.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=ON \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DQT_QMAKE_TARGET_MKSPEC=win32-g++ -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF \
    "${options[@]}" >&2
cmake --build build >&2
cmake --install build >&2
echo "Qt for Windows built in $(($(date +%s) - start)) s" >&2
touch "$prefix/.complete"
cd /
rm -rf "$work"
echo "$prefix"
