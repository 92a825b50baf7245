#!/usr/bin/env bash
# Installs, from Debian's archive, what the Windows build, its tests and its packages need and
# is not there yet: the MinGW-w64 compiler (posix threads), Wine, the host's moc and rcc,
# NSIS, pefile, and the virtual X display for trying the window. Uses sudo only when not root.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
bash "$root/tools/install-deps.sh"

packages=(
    g++-mingw-w64-x86-64-posix
    binutils-mingw-w64-x86-64
    wine
    wine64
    qt6-base-dev-tools # moc, rcc and uic of the Qt we build with on Linux
    nsis
    python3-pefile
    xvfb
    xauth
    x11-utils # xwininfo, to find the window
    locales   # Unix locales, from which Wine takes a process's code page
)
missing=()
for package in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
    [[ $status == "install ok installed" ]] || missing+=("$package")
done
# Wine takes a program's ANSI code page from its Unix locale: the tests try Cyrillic (1251) and
# Japanese (932) besides the default, Western European (1252).
locales=()
for locale in ru_RU ja_JP; do
    locale -a 2>/dev/null | grep -qx "$locale.utf8" || locales+=("$locale")
done
((${#missing[@]} + ${#locales[@]} == 0)) && exit 0

as_root=(env DEBIAN_FRONTEND=noninteractive)
if [[ $(id -u) -ne 0 ]]; then
    if ! command -v sudo >/dev/null; then
        echo "install-deps.sh: missing ${missing[*]} ${locales[*]}; run as root to install them" >&2
        exit 1
    fi
    as_root=(sudo env DEBIAN_FRONTEND=noninteractive)
fi
if ((${#missing[@]} > 0)); then
    echo "Installing ${missing[*]}"
    "${as_root[@]}" apt-get update
    # Wine's recommendations (fonts, sound, printing) are not needed for a headless run.
    "${as_root[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
fi
for locale in "${locales[@]}"; do
    echo "Making the locale $locale.UTF-8"
    "${as_root[@]}" localedef -i "$locale" -f UTF-8 "$locale.UTF-8"
done
