#!/usr/bin/env bash
# With a display, opens Scorlet's main window. Without one (or when the window program is
# not built), exports the bundled sample lesson with scorlet-export into out/sample and
# prints the export log and every CSV file written.
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD_DIR:-$root/build}
window=$build/src/app/scorlet
exporter=$build/src/cli/scorlet-export
sample=$root/examples/fractions-week3.plexa

if [[ -n ${DISPLAY:-}${WAYLAND_DISPLAY:-} ]]; then
    if [[ -x $window ]]; then
        exec "$window"
    fi
    echo "run-main-job.sh: $window is not built; exporting the sample lesson instead" >&2
fi

if [[ ! -x $exporter ]]; then
    echo "run-main-job.sh: $exporter is not built; run tools/build.sh first" >&2
    exit 1
fi

out=${OUTPUT_DIR:-$root/out/sample}
mkdir -p "$out"
rm -f "$out"/*.csv

echo "\$ scorlet-export --output-dir $out $sample"
"$exporter" --output-dir "$out" "$sample"
status=$?

shopt -s nullglob
for csv in "$out"/*.csv; do
    echo
    echo "== $csv"
    cat "$csv"
done
exit $status
