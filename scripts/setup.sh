#!/usr/bin/env bash
# Installs what the project needs from Debian 12's packages, only when something is missing.
set -euo pipefail

packages=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev qt6-serialport-dev libgl-dev
    qt6-qpa-plugins fonts-dejavu-core
    # The start-up benchmark waits on its own X server for the first mapped window.
    xvfb libxcb1-dev
)
if [[ " $* " == *" --sanitizers "* ]]; then
    packages+=(clang-14 libclang-rt-14-dev)
fi
# CPack reads the programs' library needs through dpkg-shlibdeps, which needs `file` to find them.
if [[ " $* " == *" --package "* ]]; then
    packages+=(dpkg-dev file)
fi
if [[ " $* " == *" --package-checks "* ]]; then
    packages+=(lintian desktop-file-utils appstream)
fi

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

sudo=()
if [[ $(id -u) -ne 0 ]]; then
    command -v sudo >/dev/null || { echo "setup: run as root or install sudo" >&2; exit 1; }
    sudo=(sudo)
fi
echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
