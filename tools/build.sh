#!/usr/bin/env bash
# Configures (Ninja) and builds everything into build/ (or BUILD_DIR).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD_DIR:-$root/build}

generator=()
[[ -f $build/CMakeCache.txt ]] || generator=(-G Ninja)
cmake -S "$root" -B "$build" "${generator[@]}"
cmake --build "$build" -j2
