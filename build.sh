#!/usr/bin/env bash
# One entry point for a fresh Debian 12 machine: installs what is missing, builds, and
#   ./build.sh test   runs every test
#   ./build.sh run    starts the program (against the built-in emulator when no device is attached)
set -euo pipefail
cd "$(dirname "$0")"

PACKAGES=(g++ make cmake pkg-config libgtest-dev libgmock-dev libbenchmark-dev librtmidi-dev jackd2
          qt6-base-dev fonts-dejavu-core nlohmann-json3-dev)

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

build() {
    cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build build -j"$(nproc)"
}

case "${1:-test}" in
    test)
        install_missing "${PACKAGES[@]}"
        build
        ctest --test-dir build --output-on-failure -j2
        ;;
    run)
        install_missing "${PACKAGES[@]}"
        build
        shift || true
        # A device on the MIDI ports is shown; without one, the built-in emulator.
        if build/cli/qz81kt ports 2>/dev/null | grep -q '^ \* [0-9]*: QZ-81KT'; then
            exec build/cli/qz81kt dump "$@"
        fi
        echo "(no QZ-81KT on the MIDI ports: showing the built-in emulator)"
        exec build/cli/qz81kt --emulate dump "$@"
        ;;
    *)
        echo "usage: $0 [test|run]" >&2
        exit 2
        ;;
esac
