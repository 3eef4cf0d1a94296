#!/usr/bin/env bash
# Builds velmor.exe for 64-bit Windows into build-win/, with a folder build-win/deploy that
# holds it and every DLL it needs, ready to run under Wine or to copy to a Windows PC.
# Needs the host build in build/ for the icon renderer (tools/build.sh run or test).
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
cd "$top"

# The cross compilers, and dpkg-dev for apt-get source (Qt's own sources).
packages=(g++-mingw-w64-x86-64-posix qt6-base-dev-tools dpkg-dev cmake ninja-build)
missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
        missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

qt=$(tools/windows/qt_mingw.sh)
cmake --build build --target velmor_svg_render
cmake -S . -B build-win -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELMOR_WERROR=ON \
    -DCMAKE_TOOLCHAIN_FILE="$top/tools/windows/mingw_toolchain.cmake" \
    -DCMAKE_PREFIX_PATH="$qt" -DCMAKE_FIND_ROOT_PATH="$qt" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DVELMOR_HOST_SVG_RENDER="$top/build/res/velmor_svg_render"
cmake --build build-win

deploy=build-win/deploy
rm -rf "$deploy"
mkdir -p "$deploy/platforms" "$deploy/styles"
cp build-win/velmor.exe "$qt"/bin/Qt6{Core,Gui,Widgets}.dll "$deploy/"
cp /usr/lib/gcc/x86_64-w64-mingw32/12-posix/{libstdc++-6.dll,libgcc_s_seh-1.dll} \
    /usr/x86_64-w64-mingw32/lib/libwinpthread-1.dll "$deploy/"
cp "$qt"/plugins/platforms/{qwindows,qoffscreen}.dll "$deploy/platforms/"
cp "$qt"/plugins/styles/*.dll "$deploy/styles/"
echo "velmor.exe and its DLLs: $deploy"
