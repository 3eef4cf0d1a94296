#!/usr/bin/env bash
# Sets up a Debian 12 machine for Velmor, builds it into build/, and then either starts
# the program (run) or runs every test (test).
#   tools/build.sh run      install what is missing, build, start the keypad window writing
#                           to the virtual camera window
#   tools/build.sh test     install what is missing, build, run all tests, check the .deb,
#                           then everything `windows` does (VELMOR_WINDOWS=0 leaves it out)
#   tools/build.sh windows  the Windows build: Qt for Windows (built once, then cached),
#                           velmor.exe, the installer and the zip in build-win/, all checked
#                           under Wine
set -euo pipefail

mode=${1:-}
case "$mode" in
    run | test | windows) ;;
    *)
        echo "usage: $0 run|test|windows" >&2
        exit 2
        ;;
esac

top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$top"

# Build: compiler, CMake, Ninja, Qt 6 with its serial port and SVG modules, and the XCB XKB
# library through which the window asks X11 for held keys' repeats as presses alone.
packages=(g++ cmake ninja-build pkg-config qt6-base-dev qt6-serialport-dev qt6-svg-dev
    libgl-dev qt6-qpa-plugins fonts-dejavu-core libxcb-xkb-dev)
# Tests: a real X server and a typist for the held-key test, Python to drive it, and its X
# library for the start-up benchmark, which watches the server for the window; for the
# package check, dpkg-shlibdeps and file (CPack's dependency list), the desktop-entry and
# AppStream validators, lintian, and debootstrap for the throwaway root the package is
# installed into (the host's own /usr is never touched); clang and its runtime (libFuzzer,
# sanitizers) for the fuzz targets; ser2net, a serial server nobody here wrote, for the
# network line's tests (started on loopback ports with a configuration of their own).
if [ "$mode" = test ]; then
    packages+=(xvfb xauth xdotool python3 python3-xlib dpkg-dev file desktop-file-utils appstream
        lintian debootstrap clang libclang-rt-14-dev ser2net)
fi
# Windows: the MinGW-w64 cross compilers (the posix flavour, for Qt's threads), Debian's Qt
# tools of the host's Qt version and dpkg-dev to fetch Qt's sources (and their licence
# texts), NSIS for the installer, osslsigncode to sign the program and the installer when a
# certificate is given (VELMOR_SIGN_PFX), Wine to run it all, and an X server with a typist
# for the window; for the checks, openssl for a throwaway signing certificate and icoutils'
# wrestool to read the manifest back out of velmor.exe.
windows=${VELMOR_WINDOWS:-1}
if [ "$mode" = windows ] || { [ "$mode" = test ] && [ "$windows" != 0 ]; }; then
    packages+=(g++-mingw-w64-x86-64-posix qt6-base-dev-tools dpkg-dev nsis osslsigncode wine
        wine64 unzip xvfb xauth xdotool python3 openssl icoutils)
fi

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMOR_WERROR=ON
cmake --build build

windows_build() {
    tools/windows/build_velmor.sh
    tools/windows/wine_check.sh
}
if [ "$mode" = windows ]; then
    windows_build
    exit 0
fi

if [ "$mode" = run ]; then
    if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
        echo "No display: start Velmor from a desktop session (build/velmor)." >&2
        exit 1
    fi
    # The keypad writes to the virtual camera: velmor-vcam makes a pseudo-terminal and a
    # link to it, and COM1 of a profile kept under build/ (never the user's own) names the
    # link. Closing either window ends both.
    profile=$top/build/run-profile
    line=$profile/vcam-line
    conf=$profile/PC-ZORVIK/velmor.conf
    mkdir -p "$profile/PC-ZORVIK"
    touch "$conf"
    build/vcam/velmor-vcam --link "$line" &
    vcam=$!
    for _ in $(seq 100); do
        [ -L "$line" ] && break
        sleep 0.05
    done
    awk -v entry="COM1=$line" '
        /^\[/ { if (inPorts && !done) { print entry; done = 1 } inPorts = ($0 == "[Ports]") }
        { if (!(inPorts && /^COM1=/)) print }
        END { if (!done) { if (!inPorts) print "[Ports]"; print entry } }
    ' "$conf" >"$conf.new" && mv "$conf.new" "$conf"
    XDG_CONFIG_HOME=$profile build/velmor &
    keypad=$!
    trap 'kill $vcam $keypad 2>/dev/null' EXIT INT TERM
    wait -n $vcam $keypad || true
    kill $vcam $keypad 2>/dev/null || true
    wait || true
    exit 0
fi

ctest --test-dir build --output-on-failure
# A short run of every libFuzzer target, built with clang in a directory of its own.
CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVELMOR_WERROR=ON -DVELMOR_FUZZ=ON
cmake --build build-fuzz
ctest --test-dir build-fuzz --output-on-failure
# The .deb from this build tree: validators, lintian, then install, start and purge in a
# throwaway root.
tools/package_check.sh build
if [ "$windows" != 0 ]; then
    windows_build
fi
