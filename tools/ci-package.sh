#!/usr/bin/env bash
# CI: builds the Debian package in build-pkg/ (Release, no tests), checks it with lintian and
# its programs' hardening, installs it, checks the installed programs, their version, desktop
# entry, AppStream metadata, icons and manual pages, compiles the Windows resources with
# windres, and removes the package again. Runs as root (or through
# sudo) on Debian 12; installs only the tools that are missing. Exits non-zero on any failure.
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."
source_dir=$PWD
build_dir=$source_dir/build-pkg
app_id=com.zentriq.Scorlet
started=$SECONDS

step() { printf '\n== %s\n' "$*"; }
fail() {
    echo "ci-package.sh: $*" >&2
    exit 1
}

as_root=(env DEBIAN_FRONTEND=noninteractive)
if [[ $(id -u) -ne 0 ]]; then
    command -v sudo >/dev/null || fail "run as root: the package is installed and removed"
    as_root=(sudo env DEBIAN_FRONTEND=noninteractive)
fi

step "Tools"
bash tools/install-deps.sh
tools=(
    dpkg-dev                  # dpkg-shlibdeps, for the package's dependencies
    desktop-file-utils        # desktop-file-validate
    appstream                 # appstreamcli
    binutils                  # strings, for the version in the window title
    binutils-mingw-w64-x86-64 # x86_64-w64-mingw32-windres
    cpp                       # windres's preprocessor
    groff-base                # checks the manual pages
    file
    lintian
)
missing=()
for package in "${tools[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
    [[ $status == "install ok installed" ]] || missing+=("$package")
done
if ((${#missing[@]} > 0)); then
    echo "Installing ${missing[*]}"
    "${as_root[@]}" apt-get update
    "${as_root[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
fi

step "Build (Release) in build-pkg"
cmake -S "$source_dir" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DSCORLET_BUILD_TESTS=OFF -DSCORLET_BUILD_GUI=ON -DCMAKE_INSTALL_PREFIX=/usr
cmake --build "$build_dir"

step "Debian package"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build_dir/CMakeCache.txt")
[[ -n $version ]] || fail "no project version in $build_dir/CMakeCache.txt"
rm -f "$build_dir"/scorlet_*.deb
(cd "$build_dir" && cpack -G DEB)
deb=$(ls "$build_dir"/scorlet_"$version"_*.deb)
dpkg-deb --info "$deb"
[[ $(dpkg-deb -f "$deb" Package) == scorlet ]] || fail "package name is not scorlet"
[[ $(dpkg-deb -f "$deb" Version) == "$version" ]] || fail "package version is not $version"
[[ $(dpkg-deb -f "$deb" Section) == education ]] || fail "package section is not education"
depends=$(dpkg-deb -f "$deb" Depends)
[[ $depends == *libqt6core6* ]] || fail "no Qt dependency: shlibdeps did not run"
# The window needs a platform plugin, which libqt6gui6 only recommends.
[[ $depends == *qt6-qpa-plugins* ]] || fail "the package does not depend on qt6-qpa-plugins"

work=$(mktemp -d)
installed_here=no
cleanup() {
    if [[ $installed_here == yes ]]; then
        echo "Removing the package"
        "${as_root[@]}" apt-get remove -y scorlet >/dev/null ||
            echo "ci-package.sh: could not remove the package scorlet" >&2
    fi
    rm -rf "$work"
}
trap cleanup EXIT

step "lintian"
# Errors and warnings fail; informational and pedantic tags are shown.
lintian --fail-on error,warning --display-info --pedantic "$deb"
echo "lintian: no error, no warning"

mkdir "$work/deb"
dpkg-deb -x "$deb" "$work/deb"

step "Hardened and stripped programs"
for program in scorlet scorlet-export; do
    file="$work/deb/usr/bin/$program"
    # Read whole, not piped into grep -q, which would cut readelf off and fail the pipe.
    dynamic=$(readelf -d "$file")
    segments=$(readelf -lW "$file")
    symbols=$(readelf --dyn-syms -W "$file")
    sections=$(readelf -SW "$file")
    [[ $dynamic == *BIND_NOW* ]] || fail "$program is not linked with -z now"
    [[ $dynamic == *PIE* ]] || fail "$program is not position-independent"
    [[ $segments == *GNU_RELRO* ]] || fail "$program has no read-only relocations"
    [[ $symbols == *__stack_chk_fail* ]] || fail "$program is not built with the stack protector"
    [[ ! $sections =~ \ \.(symtab|comment|debug_[a-z]+)\  ]] || fail "$program is not stripped"
    echo "$program: PIE, relro, bind now, stack protector, stripped"
done

step "Manual pages as packaged"
for page in scorlet scorlet-export; do
    file="$work/deb/usr/share/man/man1/$page.1.gz"
    [[ -f $file ]] || fail "the package lacks $page.1.gz"
    warnings=$(zcat "$file" | groff -man -Tutf8 -ww -z 2>&1)
    [[ -z $warnings ]] || fail "$page.1: $warnings"
    zcat "$file" | grep -q "^\.TH .* \"Scorlet $version\"" || fail "$page.1 is not for Scorlet $version"
    echo "$page.1: formats without warnings"
done

step "Install"
# Without recommends, as a minimal system installs it: the dependencies must be enough.
if dpkg-query -W -f='${Status}' scorlet 2>/dev/null | grep -q "install ok installed"; then
    fail "a package scorlet is installed already; remove it first"
fi
installed_here=yes
"${as_root[@]}" apt-get install -y --no-install-recommends "$deb"

step "Installed files"
for size in 16 32 48 64 128 256; do
    icon=/usr/share/icons/hicolor/${size}x${size}/apps/$app_id.png
    file -b "$icon" | grep -q "PNG image data, $size x $size," || fail "$icon is not a $size px PNG"
done
echo "icons: 16, 32, 48, 64, 128 and 256 px"
if ldd /usr/bin/scorlet /usr/bin/scorlet-export | grep "not found"; then
    fail "an installed program misses a library"
fi
desktop-file-validate /usr/share/applications/$app_id.desktop
echo "desktop-file-validate: no complaints"
appstreamcli validate --no-net /usr/share/metainfo/$app_id.metainfo.xml
grep -qF "<release version=\"$version\"" /usr/share/metainfo/$app_id.metainfo.xml ||
    fail "the AppStream metadata has no release $version"

# The manual pages point to these.
for doc in gradebooks.md csv-files.md examples/fractions-week3.plexa; do
    [[ -s /usr/share/doc/scorlet/$doc ]] || fail "the package lacks /usr/share/doc/scorlet/$doc"
    zcat /usr/share/man/man1/scorlet-export.1.gz | grep -qF "/usr/share/doc/scorlet/$doc" ||
        fail "man scorlet-export does not name /usr/share/doc/scorlet/$doc"
done
echo "documentation: gradebooks.md, csv-files.md and the sample lesson, as the manual names them"

step "One version"
# project() in CMakeLists.txt is the only place that names it; the package, the terminal
# program and the window title (whose version text is a UTF-16 literal in scorlet) must agree.
reported=$(/usr/bin/scorlet-export --version)
echo "scorlet-export --version: $reported"
[[ $reported == "scorlet-export $version" ]] || fail "--version printed \"$reported\", not $version"
title_versions=$(strings -e l /usr/bin/scorlet | grep -E '^Version [0-9]' | sort -u)
echo "scorlet's window title: ${title_versions:-no version}"
[[ $title_versions == "Version $version" ]] ||
    fail "the window title names \"${title_versions//$'\n'/, }\", not Version $version"
latest=$(zcat /usr/share/doc/scorlet/changelog.gz)
[[ ${latest%%$'\n'*} == "scorlet ($version) "* ]] || fail "the changelog's latest entry is not for $version"
echo "package, changelog, scorlet-export and the window title: $version"

step "Installed scorlet-export"
mkdir "$work/out"
/usr/bin/scorlet-export --output-dir "$work/out" examples/*.plexa ||
    fail "the export of the examples ended with status $?"
for document in examples/*.plexa; do
    name=$(basename "$document" .plexa)
    compgen -G "$work/out/$name*.csv" >/dev/null || fail "no CSV file written for $document"
done
find "$work/out" -name '*.csv' -size +0 -print | sort
[[ -n $(find "$work/out" -name '*.csv' -size +0) ]] || fail "every CSV file is empty"

step "Windows resources"
# The build writes the script and the manifest with the version; the icon is in the sources.
windres=(x86_64-w64-mingw32-windres --preprocessor=cpp -I "$build_dir/packaging/windows"
    -I "$source_dir/packaging/windows")
"${windres[@]}" -O coff -i "$build_dir/packaging/windows/scorlet.rc" -o "$work/scorlet_res.o"
# Read back from the object, so that what the linker would get is what is checked.
"${windres[@]}" -i "$work/scorlet_res.o" -O rc >"$work/scorlet_res.rc"
expect_in_resources() {
    grep -qF -- "$1" "$work/scorlet_res.rc" || fail "the compiled resources lack: $1"
}
expect_in_resources '101 14 /* RT_GROUP_ICON */'
expect_in_resources 'Has 15 elements'
for size in 16 32 48 64 256; do
    octal=$(printf '\\%03o' $((size % 256)))
    for bits in 4 24 32; do
        expect_in_resources "\"$octal$octal\\$([[ $bits == 4 ]] && echo 020 || echo 000)\\000\", 1, $bits,"
    done
done
# The version record has to follow the project's version.
expect_in_resources "FILEVERSION ${version//./, }"
expect_in_resources "PRODUCTVERSION ${version//./, }"
expect_in_resources 'BLOCK "080904B0"'
expect_in_resources "VALUE \"FileVersion\", \"$version\""
expect_in_resources "VALUE \"ProductVersion\", \"$version\""
expect_in_resources 'VALUE "OriginalFilename", "scorlet.exe"'
expect_in_resources 'VALUE "Translation", 0x809, 1200'
expect_in_resources '1 24 /* RT_MANIFEST */'
grep -qaF 'level="asInvoker" uiAccess="false"' "$work/scorlet_res.o" ||
    fail "the compiled manifest does not ask for asInvoker without UI access"
grep -qaF "version=\"$version\"" "$work/scorlet_res.o" ||
    fail "the compiled manifest does not name version $version"
echo "scorlet.rc: icon group 101 (15 images), version $version (en-GB), asInvoker manifest"

step "Remove"
"${as_root[@]}" apt-get remove -y scorlet
installed_here=no
[[ ! -e /usr/bin/scorlet-export ]] || fail "/usr/bin/scorlet-export is still there"

echo
echo "ci-package.sh: all checks passed in $((SECONDS - started)) s"
