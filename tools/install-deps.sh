#!/usr/bin/env bash
# Installs, from Debian's archive, whatever the build and the tests need and is not there yet.
# Runs apt-get only when something is missing; uses sudo only when not already root.
set -euo pipefail

packages=(
    cmake
    ninja-build
    g++
    qt6-base-dev     # Qt 6 Core, Gui, Widgets and Test, moc, the offscreen platform plugin
    libgl1-mesa-dev  # OpenGL headers that Qt6Gui's CMake package asks for
    fonts-dejavu-core
)

missing=()
for package in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
    [[ $status == "install ok installed" ]] || missing+=("$package")
done
if ((${#missing[@]} == 0)); then
    exit 0
fi

as_root=(env DEBIAN_FRONTEND=noninteractive)
if [[ $(id -u) -ne 0 ]]; then
    if ! command -v sudo >/dev/null; then
        echo "install-deps.sh: missing ${missing[*]}; run as root to install them" >&2
        exit 1
    fi
    as_root=(sudo env DEBIAN_FRONTEND=noninteractive)
fi
echo "Installing ${missing[*]}"
"${as_root[@]}" apt-get update
"${as_root[@]}" apt-get install -y "${missing[@]}"
