#!/usr/bin/env bash
# Runs the whole CTest suite of the Windows build (build-windows/ or BUILD_DIR) under Wine, in
# a throw-away Wine prefix, headless (offscreen), and ends with CTest's summary.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source_root=$(cd "$here/../.." && pwd)
build=${BUILD_DIR:-$source_root/build-windows}
[[ -f $build/CTestTestfile.cmake ]] || {
    echo "test.sh: no Windows build in $build; run tools/windows/build.sh first" >&2
    exit 1
}
[[ -n ${WINEPREFIX:-} ]] || source "$here/wineprefix.sh"
cd "$build"
QT_QPA_PLATFORM=offscreen ctest -j2 --output-on-failure
