#!/usr/bin/env bash
# Cross-builds Scorlet for 64-bit Windows with MinGW-w64 into build-windows/ (or BUILD_DIR):
# scorlet.exe (GUI subsystem), scorlet-export.exe (console) and every test program, Release,
# from the same CMake files as the Linux build. The Qt and MinGW DLLs and the platform
# plugins are put beside the programs, so that each runs from there, under Wine or on Windows.
# The Qt for Windows: see tools/windows/paths.sh.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/paths.sh"
build=${BUILD_DIR:-$source_root/build-windows}

bash "$here/install-deps.sh"

generator=()
[[ -f $build/CMakeCache.txt ]] || generator=(-G Ninja)
cmake -S "$source_root" -B "$build" "${generator[@]}" \
    -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$windows_toolchain" \
    -DCMAKE_PREFIX_PATH="$windows_qt" \
    -DQT_HOST_PATH=/usr \
    -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DCMAKE_CROSSCOMPILING_EMULATOR="$here/wine.sh" \
    -DSCORLET_WERROR="${SCORLET_WERROR:-OFF}"
cmake --build "$build" -j2
bash "$here/deploy.sh" "$build" platforms/qwindows.dll platforms/qoffscreen.dll \
    styles/qwindowsvistastyle.dll
