#!/usr/bin/env bash
# Peak memory of scorlet-export on the densest documents of each kind: generates every shape
# of plexagen (and a realistic document) at several sizes, exports each once under
# /usr/bin/time -v and prints file size, peak resident memory, its ratio to the file, wall
# time and whether the document was accepted or refused.
#
#   tools/memory-shapes.sh                 every shape at 10, 50 and 100 MB
#   SHAPES="polls empty-pages" SIZES_MB="10" tools/memory-shapes.sh
#   OPTIONS="none;--layout moodle;--require-id --report" tools/memory-shapes.sh
#
# Environment: SIZES_MB="10 50 100", SHAPES (default: all of `plexagen --help` and
# "realistic"), OPTIONS (sets of scorlet-export options separated by ";", each measured on
# every document; "none" for none, the default; --report gets a file of its own),
# SKIP="" (shape@MB pairs left out), BUILD_DIR=build-release,
# SKIP_BUILD=1 to use an existing build, EXPORTER=path to measure another scorlet-export (for
# example one built from an older commit) with this tree's plexagen, FORMAT=markdown for a
# table to paste, TIME_LIMIT=600 seconds per export.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
case ${1:-} in
-h | --help)
    sed -n '2,18p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'
    exit 0
    ;;
"") ;;
*)
    echo "memory-shapes.sh: unknown argument $1" >&2
    exit 2
    ;;
esac

SIZES_MB=${SIZES_MB:-"10 50 100"}
SKIP=${SKIP-}
FORMAT=${FORMAT:-text}
TIME_LIMIT=${TIME_LIMIT:-600}
BUILD_DIR=${BUILD_DIR:-build-release}
case $BUILD_DIR in /*) build=$BUILD_DIR ;; *) build=$root/$BUILD_DIR ;; esac

if [[ ! -x /usr/bin/time ]]; then
    echo "memory-shapes.sh: /usr/bin/time is missing; install the package 'time'" >&2
    exit 2
fi
if [[ ${SKIP_BUILD:-0} != 1 ]]; then
    echo "== building (Release) in $build" >&2
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DSCORLET_BUILD_GUI=OFF \
        -DSCORLET_BUILD_TESTS=OFF >/dev/null
    cmake --build "$build" --target scorlet-export plexagen -j 2 >/dev/null
fi
exporter=${EXPORTER:-$build/src/cli/scorlet-export}
generator=$build/tools/plexagen/plexagen
for program in "$exporter" "$generator"; do
    if [[ ! -x $program ]]; then
        echo "memory-shapes.sh: $program was not built" >&2
        exit 2
    fi
done
if [[ -z ${SHAPES:-} ]]; then
    SHAPES="realistic $("$generator" --help | awk '/^  [a-z]/ { print $1 }' | tr '\n' ' ')"
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/scorlet-shapes.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/out"

echo "== $exporter, $(nproc) CPU(s), load average $(cut -d' ' -f1-3 /proc/loadavg)" >&2
OPTIONS=${OPTIONS:-none}
IFS=';' read -r -a option_sets <<<"$OPTIONS"

if [[ $FORMAT == markdown ]]; then
    echo "| shape | options | file | peak RSS | RSS / file | wall | outcome |"
    echo "|---|---|---:|---:|---:|---:|---|"
else
    printf '%-18s %-28s %9s %10s %9s %9s  %s\n' shape options "file MB" "peak MB" RSS/file \
        "wall s" outcome
fi

for shape in $SHAPES; do
    for mb in $SIZES_MB; do
        if [[ " $SKIP " == *" $shape@$mb "* ]]; then
            continue
        fi
        doc=$work/$shape-$mb.plexa
        bytes=$((mb * 1000000))
        if [[ $shape == realistic ]]; then
            # About 102 bytes per response in plexagen's documents.
            "$generator" --responses $((bytes / 102)) --output "$doc" 2>/dev/null
        else
            "$generator" --shape "$shape" --bytes "$bytes" --output "$doc" 2>/dev/null
        fi
        size=$(stat -c %s "$doc")
        for option_set in "${option_sets[@]}"; do
            read -r -a words <<<"$option_set"
            options=()
            for word in "${words[@]}"; do
                case $word in
                none) ;;
                --report) options+=(--report "$work/report.json") ;;
                *) options+=("$word") ;;
                esac
            done
            shown=$(echo $option_set)
            status=0
            timeout "$TIME_LIMIT" /usr/bin/time -v -o "$work/time.txt" "$exporter" \
                "${options[@]}" --output-dir "$work/out" "$doc" >"$work/stdout.txt" \
                2>"$work/stderr.txt" || status=$?
            rm -f "$work"/out/* "$work/report.json"
            rss_kb=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$work/time.txt" \
                2>/dev/null)
            wall=$(awk '/Elapsed \(wall clock\)/ { n = split($NF, t, ":"); s = 0;
                for (i = 1; i <= n; ++i) s = s * 60 + t[i]; print s }' "$work/time.txt" 2>/dev/null)
            if grep -q '^FAILED to open plexa' "$work/stdout.txt"; then
                # The reason after "Cannot open Plexa document <path>: ".
                reason=$(grep -m1 'Cannot open Plexa document' "$work/stderr.txt" |
                    sed 's/.*Cannot open Plexa document [^:]*: //')
                outcome="refused: $reason"
            elif [[ $status == 0 ]]; then
                outcome=accepted
            elif [[ $status == 1 && $(tail -n 1 "$work/stdout.txt") == "-------------------------" ]]
            then
                # Exported to the end; files that could not be written or students without an
                # id make the status 1.
                outcome="exported, exit 1"
            elif [[ $status == 124 ]]; then
                outcome="stopped after ${TIME_LIMIT}s"
            else
                outcome="failed with status $status: $(tail -n 1 "$work/stderr.txt")"
            fi
            awk -v shape="$shape" -v options="$shown" -v b="$size" -v kb="${rss_kb:-0}" \
                -v wall="${wall:-0}" -v outcome="$outcome" -v format="$FORMAT" 'BEGIN {
                if (format == "markdown")
                    printf "| %s | %s | %.1f MB | %.1f MB | %.2f | %.2f s | %s |\n",
                        shape, options, b / 1e6, kb * 1024 / 1e6, kb * 1024 / b, wall, outcome
                else
                    printf "%-18s %-28s %9.1f %10.1f %9.2f %9.2f  %s\n",
                        shape, options, b / 1e6, kb * 1024 / 1e6, kb * 1024 / b, wall, outcome }'
        done
        rm -f "$doc"
    done
done
