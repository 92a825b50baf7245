#!/usr/bin/env bash
# Runs a Windows program under Wine as the tests want it: quietly, in the Wine prefix
# WINEPREFIX (by default a throw-away one of this user's under the temporary folder), without
# the Mono and Gecko installers that a new prefix would otherwise offer. CMake puts it in front
# of every test program of a Windows build (CMAKE_CROSSCOMPILING_EMULATOR).
set -euo pipefail
export WINEPREFIX=${WINEPREFIX:-${TMPDIR:-/tmp}/scorlet-wine-$(id -u)}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=;winemenubuilder.exe=d}
# A QtTest program without a console window, as under Wine when its streams are pipes (CTest),
# sends its results to the debugger's output, where nobody sees them: a test program writes them
# into a file here, which is then printed.
if [[ ${1##*/} == tst_*.exe ]]; then
    results=$(mktemp "${TMPDIR:-/tmp}/scorlet-test.XXXXXX")
    trap 'rm -f "$results"' EXIT
    status=0
    # Wine's drive Z: is the Unix root.
    wine "$@" -o "Z:${results//\//\\},txt" || status=$?
    cat "$results"
    exit "$status"
fi
exec wine "$@"
