#!/usr/bin/env bash
# Builds velmor.exe and the Windows test programs for 64-bit Windows into build-win/, the
# install tree build-win/deploy (velmor.exe with every DLL it needs), and from it the
# installer and the portable zip, build-win/velmor-<version>-win64.{exe,zip}.
# Needs the host build in build/ for the icon renderer (tools/build.sh does it first).
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
cd "$top"

qt=$(tools/windows/qt_mingw.sh)
cmake --build build --target velmor_svg_render
deploy=$top/build-win/deploy
# The test programs run under Wine, in a prefix of the build's own, finding the DLLs and
# the platform plugins in the install tree (made below, before they run).
wine_env="WINEPREFIX=$top/build-win/wineprefix;WINEDEBUG=-all;WINEDLLOVERRIDES=mscoree,mshtml="
wine_env+=";WINEPATH=Z:$deploy;QT_PLUGIN_PATH=Z:$deploy"
cmake -S . -B build-win -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELMOR_WERROR=ON \
    -DCMAKE_TOOLCHAIN_FILE="$top/tools/windows/mingw_toolchain.cmake" \
    -DCMAKE_PREFIX_PATH="$qt" -DCMAKE_FIND_ROOT_PATH="$qt" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DVELMOR_HOST_SVG_RENDER="$top/build/res/velmor_svg_render" \
    -DCMAKE_CROSSCOMPILING_EMULATOR=wine -DVELMOR_WINE_ENV="$wine_env"
cmake --build build-win
# Qt's test library, which nothing installed needs, beside the test programs.
cp "$qt/bin/Qt6Test.dll" build-win/

rm -rf "$deploy"
cmake --install build-win --prefix "$deploy" --strip
(cd build-win && cpack -G "NSIS;ZIP" >/dev/null)
ls -l build-win/velmor-*-win64.exe build-win/velmor-*-win64.zip
