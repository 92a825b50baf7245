#!/usr/bin/env bash
# Window benchmark: exports one generated Plexa document (a million responses by default)
# from the main window, under the offscreen platform, and with scorlet-export, alternating
# the two, and prints both times side by side. Both write the CSV files next to the
# document. The window's time runs from the click until the export slot returned and until
# the window had drawn the result; scorlet-export's is the whole process.
#
#   tools/window-benchmark.sh
#
# Environment: RESPONSES=1000000, RUNS=5, SEED=1, BUILD_DIR=build-window-bench,
# SKIP_BUILD=1 to use an existing build, STRICT=1 to exit with 3 when the window takes more
# than 1.3 times as long as scorlet-export.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
for arg in "$@"; do
    case $arg in
    -h | --help)
        sed -n '2,13p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'
        exit 0
        ;;
    *)
        echo "window-benchmark.sh: unknown argument $arg" >&2
        exit 2
        ;;
    esac
done

RESPONSES=${RESPONSES:-1000000}
RUNS=${RUNS:-5}
SEED=${SEED:-1}
BUILD_DIR=${BUILD_DIR:-build-window-bench}
case $BUILD_DIR in /*) build=$BUILD_DIR ;; *) build=$root/$BUILD_DIR ;; esac
for value in "$RESPONSES" "$RUNS"; do
    if ! [[ $value =~ ^[1-9][0-9]*$ ]]; then
        echo "window-benchmark.sh: RESPONSES and RUNS must be positive numbers" >&2
        exit 2
    fi
done

if [[ ${SKIP_BUILD:-0} != 1 ]]; then
    echo "== building (Release) in $build"
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DSCORLET_BUILD_TESTS=OFF >/dev/null
    cmake --build "$build" --target scorlet-export plexagen scorlet_window_bench \
        -j "$(nproc)" >/dev/null
fi
exporter=$build/src/cli/scorlet-export
window=$build/src/app/scorlet_window_bench
generator=$build/tools/plexagen/plexagen
for program in "$exporter" "$window" "$generator"; do
    if [[ ! -x $program ]]; then
        echo "window-benchmark.sh: $program was not built" >&2
        exit 2
    fi
done

echo "== $(nproc) CPU(s), load average $(cut -d' ' -f1-3 /proc/loadavg) (other work on the machine slows the wall times)"
work=$(mktemp -d "${TMPDIR:-/tmp}/scorlet-window-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
doc=$work/bench.plexa
"$generator" --responses "$RESPONSES" --seed "$SEED" --output "$doc" 2>/dev/null
echo "== $RESPONSES responses: $(awk -v b="$(stat -c %s "$doc")" 'BEGIN { printf "%.1f MB", b / 1e6 }'), $RUNS run(s) of each, alternating"

median() { # numbers on stdin, one a line
    sort -g | awk '{ v[NR] = $1 } END {
        if (NR == 0) { print "nan"; exit }
        if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
range() { # numbers on stdin, one a line
    sort -g | awk 'NR == 1 { lo = $1 } { hi = $1 } END { printf "%.0f-%.0f", lo, hi }'
}

export QT_QPA_PLATFORM=offscreen
: >"$work/exporter.txt"
: >"$work/window.txt"
stderr_lines=0
for ((run = 1; run <= RUNS; run++)); do
    TIMEFORMAT='%3R'
    { time "$exporter" "$doc" >/dev/null 2>"$work/exporter-err.txt"; } 2>>"$work/exporter.txt"
    if [[ -s $work/exporter-err.txt ]]; then
        echo "window-benchmark.sh: scorlet-export wrote to standard error:" >&2
        head -n 5 "$work/exporter-err.txt" >&2
        exit 1
    fi
    # The window's standard error goes to a file, as a desktop session sends it to a log.
    if ! "$window" "$doc" >>"$work/window.txt" 2>"$work/window-err.txt"; then
        echo "window-benchmark.sh: the window's export failed:" >&2
        grep -v '^\[' "$work/window-err.txt" | head -n 5 >&2
        exit 1
    fi
    stderr_lines=$(wc -l <"$work/window-err.txt")
done

exporter_ms=$(awk '{ print $1 * 1000 }' "$work/exporter.txt" | median)
exporter_range=$(awk '{ print $1 * 1000 }' "$work/exporter.txt" | range)
slot_ms=$(awk '{ print $2 }' "$work/window.txt" | median)
slot_range=$(awk '{ print $2 }' "$work/window.txt" | range)
shown_ms=$(awk '{ print $3 }' "$work/window.txt" | median)
shown_range=$(awk '{ print $3 }' "$work/window.txt" | range)
ratio=$(awk -v w="$shown_ms" -v e="$exporter_ms" 'BEGIN { printf "%.2f", w / e }')

echo
echo "== load average at the end $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-44s %10s %11s\n' "median of $RUNS run(s)" "wall ms" "range"
printf '%-44s %10.1f %11s\n' "scorlet-export, whole process" "$exporter_ms" "$exporter_range"
printf '%-44s %10.1f %11s\n' "window, click until the export slot returned" "$slot_ms" "$slot_range"
printf '%-44s %10.1f %11s\n' "window, click until the result was drawn" "$shown_ms" "$shown_range"
echo "window standard error: $stderr_lines line(s) in the last run"
echo
if awk -v x="$ratio" 'BEGIN { exit !(x <= 1.3) }'; then
    echo "  met      window ${ratio}x scorlet-export <= 1.3x"
else
    echo "  NOT met  window ${ratio}x scorlet-export <= 1.3x"
    [[ ${STRICT:-0} == 1 ]] && exit 3
fi
exit 0
