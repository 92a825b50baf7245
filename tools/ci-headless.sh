#!/usr/bin/env bash
# CI: the build for a server that exports in batch: the window left out (SCORLET_BUILD_GUI=OFF),
# Release, everything else built and every test that is built run. Builds into build-release
# (or BUILD_DIR), where tools/benchmark.sh finds scorlet-export and plexagen, so that CI's
# benchmark run needs no build of its own (SKIP_BUILD=1).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD_DIR:-$root/build-release}

bash "$root/tools/install-deps.sh"

generator=()
[[ -f $build/CMakeCache.txt ]] || generator=(-G Ninja)
cmake -S "$root" -B "$build" "${generator[@]}" -DCMAKE_BUILD_TYPE=Release \
    -DSCORLET_BUILD_GUI=OFF -DSCORLET_BUILD_TESTS=ON -DSCORLET_WERROR="${SCORLET_WERROR:-OFF}"
cmake --build "$build" -j2
if [[ -e $build/src/app/scorlet ]]; then
    echo "ci-headless.sh: the window was built although it was left out" >&2
    exit 1
fi

cd "$build"
QT_QPA_PLATFORM=offscreen ctest -j2 --output-on-failure
