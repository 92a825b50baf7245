#!/usr/bin/env bash
# deploy.sh DIR [PLUGIN...]
# Puts beside the Windows programs in DIR what they need to run from there: the Qt plugins
# named (as platforms/qwindows.dll, relative to Qt's plugins folder), then every DLL that a
# program, library or plugin in DIR imports and that comes with Qt or the MinGW run-time,
# followed through their own imports. DLLs of Windows itself stay out.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/paths.sh"

dir=$1
shift
for plugin in "$@"; do
    mkdir -p "$dir/$(dirname "$plugin")"
    cp -f "$windows_qt/plugins/$plugin" "$dir/$(dirname "$plugin")/"
done

search=("$windows_qt/bin" "${mingw_runtime_dirs[@]}")
declare -A seen=()
queue=()
while IFS= read -r -d '' binary; do
    queue+=("$binary")
done < <(find "$dir" \( -name '*.exe' -o -name '*.dll' \) -print0)
while ((${#queue[@]} > 0)); do
    binary=${queue[0]}
    queue=("${queue[@]:1}")
    while read -r name; do
        key=${name,,}
        [[ -z ${seen[$key]:-} ]] || continue
        seen[$key]=1
        for folder in "${search[@]}"; do
            if [[ -f $folder/$name ]]; then
                cp -f "$folder/$name" "$dir/$name"
                queue+=("$dir/$name")
                break
            fi
        done
    done < <(x86_64-w64-mingw32-objdump -p "$binary" | sed -n 's/^\s*DLL Name: //p')
done
