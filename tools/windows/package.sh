#!/usr/bin/env bash
# Makes the Windows packages from the Windows build (tools/windows/build.sh, build-windows/ or
# BUILD_DIR) into build-windows/packages/ (or OUT_DIR):
#   Scorlet-<version>-win64.zip     both programs, the Qt DLLs and plugins they need, the
#                                   MinGW run-time DLLs, licence, documents and the sample
#                                   lesson, in one folder that runs from wherever it is put;
#   Scorlet-<version>-setup.exe     the same as a per-user NSIS installer (no administrator).
# The version is project()'s, as the build has it.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/paths.sh"
build=${BUILD_DIR:-$source_root/build-windows}
out=${OUT_DIR:-$build/packages}

fail() {
    echo "package.sh: $*" >&2
    exit 1
}

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt" 2>/dev/null || true)
[[ -n $version ]] || fail "no Windows build in $build; run tools/windows/build.sh first"
for program in scorlet.exe scorlet-export.exe; do
    [[ -f $build/$program ]] || fail "$build/$program is missing; run tools/windows/build.sh"
done

name=Scorlet-$version
work=$out/work
stage=$work/$name
rm -rf "$work"
mkdir -p "$stage/docs" "$stage/examples"

# Programs without their symbols, and what they need beside them.
for program in scorlet.exe scorlet-export.exe; do
    x86_64-w64-mingw32-strip --strip-unneeded -o "$stage/$program" "$build/$program"
done
bash "$here/deploy.sh" "$stage" platforms/qwindows.dll styles/qwindowsvistastyle.dll
# Text files with Windows line ends, so that Notepad shows them as lines.
to_crlf() { sed 's/\r*$/\r/' "$1" >"$2"; }
to_crlf "$source_root/LICENSE" "$stage/LICENSE.txt"
to_crlf "$source_root/README.md" "$stage/README.txt"
for doc in csv-files.md gradebooks.md windows.md; do
    to_crlf "$source_root/docs/$doc" "$stage/docs/$doc"
done
cp "$source_root/examples/fractions-week3.plexa" "$stage/examples/"

mkdir -p "$out"
zip=$out/$name-win64.zip
rm -f "$zip"
(cd "$work" && python3 -m zipfile -c "$zip" "$name")
echo "package.sh: $zip ($(stat -c %s "$zip") bytes)"

# The installer installs and removes exactly the staged files.
files=$work/files.nsh
removes=$work/removes.nsh
: >"$files"
: >"$removes"
while IFS= read -r folder; do
    relative=${folder#"$stage"}
    printf 'SetOutPath "$INSTDIR%s"\n' "${relative//\//\\}" >>"$files"
    while IFS= read -r file; do
        printf 'File "%s"\n' "$file" >>"$files"
        printf 'Delete "$INSTDIR%s"\n' "$(printf '%s' "${file#"$stage"}" | tr / '\\')" >>"$removes"
    done < <(find "$folder" -maxdepth 1 -type f | sort)
done < <(find "$stage" -type d | sort)
# Folders last, deepest first; RMDir leaves a folder that is not empty.
while IFS= read -r folder; do
    printf 'RMDir "$INSTDIR%s"\n' "$(printf '%s' "${folder#"$stage"}" | tr / '\\')" >>"$removes"
done < <(find "$stage" -mindepth 1 -type d | sort -r)

setup=$out/$name-setup.exe
makensis -V2 -INPUTCHARSET UTF8 \
    -DVERSION="$version" -DSTAGE="$stage" -DFILES="$files" -DREMOVES="$removes" \
    -DICON="$source_root/packaging/windows/scorlet.ico" -DOUTFILE="$setup" \
    "$source_root/packaging/windows/installer.nsi"
echo "package.sh: $setup ($(stat -c %s "$setup") bytes)"
