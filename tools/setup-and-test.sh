#!/usr/bin/env bash
# Fresh Debian 12 to a full test run: installs what is missing, builds, runs every test
# headless and ends with CTest's summary.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD_DIR:-$root/build}

bash "$root/tools/install-deps.sh"
BUILD_DIR=$build bash "$root/tools/build.sh"
cd "$build"
QT_QPA_PLATFORM=offscreen ctest -j2 --output-on-failure
