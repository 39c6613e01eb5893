#!/usr/bin/env bash
# One entry point for a fresh Debian 12 machine: installs what is missing, builds, and
#   ./build.sh test   runs every test
#   ./build.sh deps   only installs what the build and the tests need
#   ./build.sh run    starts the panel qz81kt-dxp (with the built-in emulator when no device is attached)
#   ./build.sh screenshot   remakes docs/panel.png (the real window under Xvfb)
#   ./build.sh package      builds the Debian package build/qz81kt-dxp_<version>_amd64.deb
#   ./build.sh artwork      renders resources/*.png from their SVG sources
set -euo pipefail
cd "$(dirname "$0")"

PACKAGES=(g++ make cmake ninja-build lld pkg-config libgtest-dev libgmock-dev libbenchmark-dev librtmidi-dev jackd2 libasio-dev libavahi-client-dev
          qt6-base-dev libfontconfig-dev fonts-dejavu-core nlohmann-json3-dev libcli11-dev scdoc libcpp-httplib-dev libssl-dev
          chromium)
SCREENSHOT_PACKAGES=(xvfb xauth xdotool imagemagick)
ARTWORK_PACKAGES=(librsvg2-bin optipng)
# cpack's computed dependencies need dpkg-shlibdeps and file.
PACKAGE_PACKAGES=(dpkg-dev file)

install_missing() {
    local missing=()
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    echo "Installing: ${missing[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# The end-to-end tests' Ember+ consumer and browser driver come from npm
# (tests/e2e/ember/package-lock.json, tests/e2e/web/package-lock.json); the browser is
# Debian's chromium, never one a tool downloads.
ember_consumer() {
    command -v node >/dev/null && command -v npm >/dev/null || install_missing nodejs npm
    npm ci --prefix tests/e2e/ember --no-audit --no-fund --loglevel=error >/dev/null
    PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 npm ci --prefix tests/e2e/web --no-audit --no-fund --loglevel=error >/dev/null
}

build() {
    # Ninja for a new tree (it keeps both cores busy across targets); a tree configured
    # before keeps its generator.
    local generator=()
    [ -f build/CMakeCache.txt ] || generator=(-G Ninja)
    cmake -S . -B build "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build build -j"$(nproc)"
}

case "${1:-test}" in
    deps)
        install_missing "${PACKAGES[@]}"
        ember_consumer
        ;;
    test)
        install_missing "${PACKAGES[@]}"
        ember_consumer
        build
        ctest --test-dir build --output-on-failure -j2
        ;;
    run)
        install_missing "${PACKAGES[@]}"
        build
        shift || true
        emulate=(--emulate)
        # A device on the MIDI ports is preselected; without one, the built-in emulator.
        if build/cli/qz81kt ports 2>/dev/null | grep -q '^ \* [0-9]*: QZ-81KT'; then
            emulate=()
        fi
        if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
            echo "(no display: neither DISPLAY nor WAYLAND_DISPLAY is set; showing the device with qz81kt ${emulate[*]} dump instead)"
            exec build/cli/qz81kt "${emulate[@]}" dump "$@"
        fi
        exec build/app/qz81kt-dxp "${emulate[@]}" "$@"
        ;;
    screenshot)
        install_missing "${PACKAGES[@]}" "${SCREENSHOT_PACKAGES[@]}"
        build
        exec bash docs/make-panel-screenshot.sh build/app/qz81kt-dxp docs/panel.png
        ;;
    package)
        install_missing "${PACKAGES[@]}" "${PACKAGE_PACKAGES[@]}"
        build
        cd build && exec cpack -G DEB
        ;;
    artwork)
        install_missing "${ARTWORK_PACKAGES[@]}"
        exec sh resources/art/render.sh
        ;;
    *)
        echo "usage: $0 [test|run|package|screenshot|artwork|deps]" >&2
        exit 2
        ;;
esac
