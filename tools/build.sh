#!/usr/bin/env bash
# Configures (Ninja) and builds everything into build/ (or BUILD_DIR).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD_DIR:-$root/build}

generator=()
[[ -f $build/CMakeCache.txt ]] || generator=(-G Ninja)
# SCORLET_WERROR=ON (as CI sets it) turns every compiler warning into an error.
cmake -S "$root" -B "$build" "${generator[@]}" -DSCORLET_WERROR="${SCORLET_WERROR:-OFF}"
cmake --build "$build" -j2
