#!/usr/bin/env bash
# Builds velmor.exe and the Windows test programs for 64-bit Windows into build-win/, the
# install tree build-win/deploy (velmor.exe with every DLL it needs), and from it the
# installer and the portable zip, build-win/velmor-<version>-win64.{exe,zip}, with the
# third-party notices; signed when VELMOR_SIGN_PFX is set (see tools/windows/sign.sh).
# Needs the host build in build/ for the icon renderer (tools/build.sh does it first).
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
cd "$top"

qt=$(tools/windows/qt_mingw.sh)
licences=$(tools/windows/qt_licences.sh "$(dirname "$qt")")
cmake --build build --target velmor_svg_render

# The notices name the Debian packages the shipped run-time DLLs come from, and their
# copyright files.
package_of() {
    dpkg -S "$(readlink -f "$(x86_64-w64-mingw32-g++-posix -print-file-name="$1")")" | cut -d: -f1
}
gcc=$(package_of libstdc++-6.dll)
mingw=$(package_of libwinpthread-1.dll)
notices=$top/build-win/notices
mkdir -p "$notices"
python3 tools/windows/third_party_notices.py write "$licences" "$notices" \
    qt="$(dpkg-query -W -f='${Version}' qt6-base-dev-tools)" \
    qt_options="$(tools/windows/qt_mingw.sh --options | tr '\n' ' ')" \
    toolchain=tools/windows/mingw_toolchain.cmake gpl3=/usr/share/common-licenses/GPL-3 \
    gcc="$(dpkg-query -W -f='${Version}' "$gcc")" \
    gcc_source="$(dpkg-query -W -f='${source:Version}' "$gcc")" \
    gcc_copyright="/usr/share/doc/$gcc/copyright" \
    mingw="$(dpkg-query -W -f='${Version}' "$mingw")" \
    mingw_source="$(dpkg-query -W -f='${source:Version}' "$mingw")" \
    mingw_copyright="/usr/share/doc/$mingw/copyright" >/dev/null
deploy=$top/build-win/deploy
# The test programs run under Wine, in a prefix of the build's own, finding the DLLs and
# the platform plugins in the install tree (made below, before they run).
wine_env="WINEPREFIX=$top/build-win/wineprefix;WINEDEBUG=-all;WINEDLLOVERRIDES=mscoree,mshtml="
wine_env+=";WINEPATH=Z:$deploy;QT_PLUGIN_PATH=Z:$deploy"
# Boost's headers (header-only Beast and Asio) from Debian's libboost-dev, through a folder
# that holds a link to them alone, never the host's whole include folder.
boost=$top/build-win/boost-headers
mkdir -p "$boost"
ln -sfn /usr/include/boost "$boost/boost"
cmake -S . -B build-win -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELMOR_WERROR=ON \
    -DCMAKE_TOOLCHAIN_FILE="$top/tools/windows/mingw_toolchain.cmake" \
    -DCMAKE_PREFIX_PATH="$qt" -DCMAKE_FIND_ROOT_PATH="$qt" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DVELMOR_HOST_SVG_RENDER="$top/build/res/velmor_svg_render" -DVELMOR_NOTICES_DIR="$notices" \
    -DCMAKE_CROSSCOMPILING_EMULATOR=wine -DVELMOR_WINE_ENV="$wine_env" \
    -DVELMOR_BOOST_INCLUDE_DIR="$boost"
cmake --build build-win
# Qt's test library, which nothing installed needs, beside the test programs.
cp "$qt/bin/Qt6Test.dll" build-win/

rm -rf "$deploy"
cmake --install build-win --prefix "$deploy" --strip
(cd build-win && cpack -G "NSIS;ZIP" >/dev/null)
ls -l build-win/velmor-*-win64.exe build-win/velmor-*-win64.zip
echo "Windows build: $(tools/windows/sign.sh --status)"
