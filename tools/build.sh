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
# Each phase keeps its output in build/logs/<phase>.log and shows its progress; test and
# windows end with a table of the phases (tools/phase.sh).
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
# shellcheck source=tools/phase.sh
source tools/phase.sh

# Build: compiler, CMake, Ninja, Qt 6 with its serial port and SVG modules, the XCB XKB
# library through which the window asks X11 for held keys' repeats as presses alone, and
# Boost's headers for the remote keypad's HTTP and WebSocket (Beast on Asio: header-only, the
# same library for the Windows build, where Qt is built without Qt Network and Qt's WebSockets
# cannot be built at all; Beast brings its own sockets).
packages=(g++ cmake ninja-build pkg-config qt6-base-dev qt6-serialport-dev qt6-svg-dev
    libgl-dev qt6-qpa-plugins fonts-dejavu-core libxcb-xkb-dev libboost-dev)
# Tests: a real X server and a typist for the held-key test, Python to drive it, and its X
# library for the start-up benchmark, which watches the server for the window; for the
# package check, dpkg-shlibdeps and file (CPack's dependency list), the desktop-entry and
# AppStream validators, lintian, and debootstrap for the throwaway root the package is
# installed into (the host's own /usr is never touched); clang and its runtime (libFuzzer,
# sanitizers) for the fuzz targets; ser2net, a serial server nobody here wrote, for the
# network line's tests (started on loopback ports with a configuration of their own); curl
# and Python's websockets, the remote keypad's clients that nobody here wrote; Chromium, its
# WebDriver and Python's Selenium, the real browser the keypad page is tested in (headless).
if [ "$mode" = test ]; then
    packages+=(xvfb xauth xdotool python3 python3-xlib dpkg-dev file desktop-file-utils appstream
        lintian debootstrap clang libclang-rt-14-dev ser2net curl python3-websockets
        chromium chromium-driver python3-selenium)
fi
# Windows: the MinGW-w64 cross compilers (the posix flavour, for Qt's threads), Debian's Qt
# tools of the host's Qt version and dpkg-dev to fetch Qt's sources (and their licence
# texts), NSIS for the installer, osslsigncode to sign the program and the installer when a
# certificate is given (VELMOR_SIGN_PFX), Wine to run it all, and an X server with a typist
# for the window; for the checks, openssl for a throwaway signing certificate and icoutils'
# wrestool to read the manifest back out of velmor.exe; curl, the remote keypad's client.
windows=${VELMOR_WINDOWS:-1}
if [ "$mode" = windows ] || { [ "$mode" = test ] && [ "$windows" != 0 ]; }; then
    packages+=(g++-mingw-w64-x86-64-posix qt6-base-dev-tools dpkg-dev nsis osslsigncode wine
        wine64 unzip xvfb xauth xdotool python3 openssl icoutils curl)
fi

sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo

missing_packages() {
    local package
    for package in "${packages[@]}"; do
        if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
            echo "$package"
        fi
    done
}

# apt's "Setting up" lines, counted against what it is about to install, are the phase's
# steps.
install_packages() {
    local total
    if [ $# -eq 0 ]; then
        echo "all ${#packages[@]} packages are installed"
        return 0
    fi
    echo "Installing: $*"
    $sudo apt-get update -qq
    total=$(apt-get install -s --no-install-recommends "$@" | grep -c '^Inst ' || true)
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "$@" |
        awk -v total="$total" '/^Setting up / { printf "[%d/%d] ", ++n, total } { print; fflush() }'
}

packages_phase() {
    local missing
    mapfile -t missing < <(missing_packages)
    if [ ${#missing[@]} -gt 0 ]; then
        echo "${#missing[@]} packages to install: ${missing[*]}"
        # Asked here, before the log takes apt's output, so that the prompt is seen.
        [ -z "$sudo" ] || sudo -v
    fi
    phase_run packages install_packages "${missing[@]}"
}

build_host() {
    cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMOR_WERROR=ON
    cmake --build build
}

# A short run of every libFuzzer target, built with clang in a directory of its own.
fuzz() {
    CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DVELMOR_WERROR=ON -DVELMOR_FUZZ=ON
    cmake --build build-fuzz
    ctest --test-dir build-fuzz --output-on-failure
}

qt_windows_phase() {
    local prefix
    prefix=$(tools/windows/qt_mingw.sh --folder)
    if [ -f "$prefix/.complete" ]; then
        echo "Qt for Windows was built by an earlier run and is kept in $prefix."
    else
        echo "Qt for Windows is built once and then kept in $prefix for later runs;"
        echo "on this machine's $(nproc) cores that takes about $(tools/windows/qt_mingw.sh --minutes) minutes."
    fi
    phase_run qt-windows tools/windows/qt_mingw.sh
}

windows_phases() {
    qt_windows_phase
    phase_run windows-build tools/windows/build_velmor.sh
    phase_run wine-checks tools/windows/wine_check.sh
}

# The keypad writes to the virtual camera: velmor-vcam makes a pseudo-terminal and a link to
# it, and COM1 of a profile kept under build/ (never the user's own) names the link. Closing
# either window ends both.
run_keypad() {
    local profile=$top/build/run-profile line conf vcam keypad
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
    # shellcheck disable=SC2064
    trap "kill $vcam $keypad 2>/dev/null" EXIT INT TERM
    wait -n $vcam $keypad || true
    kill $vcam $keypad 2>/dev/null || true
    wait || true
}

case "$mode" in
    run)
        phase_plan packages packages build build
        packages_phase
        phase_run build build_host
        if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
            echo "No display: start Velmor from a desktop session (build/velmor)." >&2
            exit 1
        fi
        run_keypad
        ;;
    windows)
        phase_plan packages packages build build qt-windows "Qt for Windows" \
            windows-build "Windows build" wine-checks "Wine checks"
        packages_phase
        phase_run build build_host
        windows_phases
        phase_summary
        ;;
    test)
        phase_plan packages packages build build tests tests fuzzing fuzzing \
            package-check "package check" qt-windows "Qt for Windows" \
            windows-build "Windows build" wine-checks "Wine checks"
        packages_phase
        phase_run build build_host
        phase_run tests ctest --test-dir build --output-on-failure
        phase_run fuzzing fuzz
        # The .deb from this build tree: validators, lintian, then install, start and purge
        # in a throwaway root.
        phase_run package-check tools/package_check.sh build
        if [ "$windows" != 0 ]; then
            windows_phases
        else
            for id in qt-windows windows-build wine-checks; do phase_skip "$id" VELMOR_WINDOWS=0; done
        fi
        phase_summary
        ;;
esac
