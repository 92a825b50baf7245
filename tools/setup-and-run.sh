#!/usr/bin/env bash
# Fresh Debian 12 to the program at work: installs what is missing, builds, then runs the
# main job (tools/run-main-job.sh).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD_DIR:-$root/build}

bash "$root/tools/install-deps.sh"
BUILD_DIR=$build bash "$root/tools/build.sh"
BUILD_DIR=$build exec bash "$root/tools/run-main-job.sh"
