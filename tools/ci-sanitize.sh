#!/usr/bin/env bash
# CI: the whole test suite once more, built with AddressSanitizer, LeakSanitizer and
# UndefinedBehaviorSanitizer (GCC). Any report stops the program that made it, and so fails
# its test and this script.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD_DIR:-$root/build-asan}

bash "$root/tools/install-deps.sh"

cmake -S "$root" -B "$build" -G Ninja \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=g++ \
    -DSCORLET_SANITIZE=ON \
    -DSCORLET_WERROR="${SCORLET_WERROR:-OFF}"
cmake --build "$build" --parallel "$(nproc)"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1:check_initialization_order=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export QT_QPA_PLATFORM=offscreen

cd "$build"
ctest -j"$(nproc)" --output-on-failure --timeout 900
