#!/usr/bin/env bash
# CI: Scorlet for Windows. Cross-builds it (warnings are errors), runs the whole test suite
# under Wine, checks the programs' resources, makes the zip and the installer, installs the
# installer silently under Wine, exports the sample lesson with the installed scorlet-export and
# compares its CSV files with the Linux build's, uninstalls it and checks that nothing is left,
# runs the zip's scorlet-export from another folder, and tries the window on a virtual display.
# The Linux build's scorlet-export: LINUX_EXPORT, else build-release/ (tools/ci-headless.sh).
# A missing Windows Qt fails the run (tools/windows/paths.sh); nothing is skipped.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/paths.sh"
build=${BUILD_DIR:-$source_root/build-windows}
linux_export=${LINUX_EXPORT:-$source_root/build-release/src/cli/scorlet-export}
started=$SECONDS

step() {
    printf '\n== %s (%d s so far)\n' "$*" "$((SECONDS - started))"
}
fail() {
    echo "ci.sh: $*" >&2
    exit 1
}
[[ -x $linux_export ]] || fail "no Linux scorlet-export at $linux_export to compare with"

step "Tools"
bash "$here/install-deps.sh"

step "Cross-build"
SCORLET_WERROR=${SCORLET_WERROR:-ON} BUILD_DIR=$build bash "$here/build.sh"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")

step "Wine prefix"
source "$here/wineprefix.sh"

step "Every test under Wine"
BUILD_DIR=$build bash "$here/test.sh"

step "Resources"
/usr/bin/python3 "$here/check-resources.py" "$version" "$build/scorlet.exe" \
    "$build/scorlet-export.exe"

step "Packages"
BUILD_DIR=$build bash "$here/package.sh"
packages=$build/packages
zip=$packages/Scorlet-$version-win64.zip
setup=$packages/Scorlet-$version-setup.exe
/usr/bin/python3 "$here/check-resources.py" "$version" "$build/scorlet.exe" \
    "$build/scorlet-export.exe" "$setup"

work=$(mktemp -d)
trap 'rm -rf "$work"; remove_wine_prefix' EXIT
mkdir -p "$work/linux" "$work/installed" "$work/zip" "$work/lesson"
cp "$source_root/examples/fractions-week3.plexa" "$work/lesson/"
"$linux_export" --output-dir "$work/linux" "$work/lesson/fractions-week3.plexa" >/dev/null
same_files() {
    diff -r "$work/linux" "$1" || fail "the CSV files of $2 differ from the Linux build's"
    echo "$2: the same CSV files as the Linux build ($(ls "$1" | wc -l) files)"
}

step "Installer: install silently, export, uninstall"
users=$WINEPREFIX/drive_c/users/$(id -un)
installed=$users/AppData/Local/Programs/Scorlet
shortcut="$users/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Scorlet.lnk"
uninstall_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Scorlet'
wine "$setup" /S
wineserver -w
[[ -f $installed/scorlet.exe && -f $installed/scorlet-export.exe ]] ||
    fail "the installer put no programs into $installed"
[[ -f $shortcut ]] || fail "the installer made no Start-menu entry"
wine reg query "$uninstall_key" /v DisplayVersion | grep -q "$version" ||
    fail "the installer did not register its uninstaller"
echo "installed into the user's programs folder, Start-menu entry and uninstaller registered"
wine "$installed/scorlet-export.exe" --output-dir "Z:$work/installed" \
    "Z:$work/lesson/fractions-week3.plexa" >/dev/null
same_files "$work/installed" "the installed scorlet-export.exe"
wine "$installed/Uninstall.exe" /S
# The uninstaller runs a copy of itself from the temporary folder; wait for it too.
wineserver -w
[[ ! -e $installed ]] || fail "the uninstaller left $(find "$installed" | head -5)"
[[ ! -e $shortcut ]] || fail "the uninstaller left the Start-menu entry"
if wine reg query "$uninstall_key" >/dev/null 2>&1; then
    fail "the uninstaller left its registry entry"
fi
echo "uninstalled: no files, no Start-menu entry, no registry entry left"

step "Zip: runs from wherever it is unpacked"
(cd "$work/zip" && /usr/bin/python3 -m zipfile -e "$zip" .)
mkdir "$work/zip-out"
wine "$work/zip/Scorlet-$version/scorlet-export.exe" --output-dir "Z:$work/zip-out" \
    "Z:$work/lesson/fractions-week3.plexa" >/dev/null
same_files "$work/zip-out" "the zip's scorlet-export.exe"

step "The window on a virtual display"
BUILD_DIR=$build bash "$here/try-window.sh"

echo
echo "ci.sh: Windows build, tests, resources and packages checked in $((SECONDS - started)) s;" \
    "zip $(stat -c %s "$zip") bytes, installer $(stat -c %s "$setup") bytes"
