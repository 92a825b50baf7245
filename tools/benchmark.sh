#!/usr/bin/env bash
# Export benchmark: builds scorlet-export in Release, generates Plexa documents of several
# sizes with plexagen, exports each several times and prints wall time, throughput, peak
# memory and, when the exporter reports it, the time spent in each phase.
#
#   tools/benchmark.sh              sizes 10000 100000 1000000, 5 runs each, targets judged
#   tools/benchmark.sh --smoke      smallest size, one run, no time judgement (for CI)
#
# Environment: SIZES="10000 100000" (responses per document), RUNS=5, SEED=1,
# BUILD_DIR=build-release, SKIP_BUILD=1 to use an existing build, STRICT=1 to exit with 3
# when a target is missed.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
smoke=0
for arg in "$@"; do
    case $arg in
    --smoke) smoke=1 ;;
    -h | --help)
        sed -n '2,12p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'
        exit 0
        ;;
    *)
        echo "benchmark.sh: unknown argument $arg" >&2
        exit 2
        ;;
    esac
done

SIZES=${SIZES:-"10000 100000 1000000"}
RUNS=${RUNS:-5}
SEED=${SEED:-1}
BUILD_DIR=${BUILD_DIR:-build-release}
case $BUILD_DIR in /*) build=$BUILD_DIR ;; *) build=$root/$BUILD_DIR ;; esac

if [[ $smoke == 1 ]]; then
    SIZES=$(printf '%s\n' $SIZES | sort -n | head -n 1)
    RUNS=1
fi
if ! [[ $RUNS =~ ^[1-9][0-9]*$ ]]; then
    echo "benchmark.sh: RUNS must be a positive number" >&2
    exit 2
fi
for n in $SIZES; do
    if ! [[ $n =~ ^[0-9]+$ ]]; then
        echo "benchmark.sh: bad size '$n' in SIZES" >&2
        exit 2
    fi
done

# Peak memory comes from GNU time; install it when we may.
if [[ ! -x /usr/bin/time ]]; then
    if [[ $(id -u) == 0 ]] && command -v apt-get >/dev/null; then
        apt-get install -y -qq time >/dev/null
    else
        echo "benchmark.sh: /usr/bin/time is missing; install the package 'time'" >&2
        exit 2
    fi
fi

if [[ ${SKIP_BUILD:-0} != 1 ]]; then
    echo "== building (Release) in $build"
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DSCORLET_BUILD_GUI=OFF \
        -DSCORLET_BUILD_TESTS=OFF >/dev/null
    cmake --build "$build" --target scorlet-export plexagen -j "$(nproc)" >/dev/null
fi
exporter=$build/src/cli/scorlet-export
generator=$build/tools/plexagen/plexagen
for program in "$exporter" "$generator"; do
    if [[ ! -x $program ]]; then
        echo "benchmark.sh: $program was not built" >&2
        exit 2
    fi
done

echo "== $(nproc) CPU(s), load average $(cut -d' ' -f1-3 /proc/loadavg) (other work on the machine slows the wall times)"
work=$(mktemp -d "${TMPDIR:-/tmp}/scorlet-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/out"

median() { # numbers on stdin, one a line
    sort -g | awk '{ v[NR] = $1 } END {
        if (NR == 0) { print "nan"; exit }
        if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# Lines the exporter writes to standard error that mean the document was not clean.
notice_pattern='error duplicate question\?|error cannot find this question in database|FAILED'

declare -A result_ms result_cpu result_rss result_bytes
failed=0
summary=()
breakdowns=()

for n in $SIZES; do
    doc=$work/bench-$n.plexa
    "$generator" --responses "$n" --seed "$SEED" --output "$doc" 2>/dev/null
    bytes=$(stat -c %s "$doc")
    echo "== $n responses: $(awk -v b="$bytes" 'BEGIN { printf "%.1f MB", b / 1e6 }'), $RUNS run(s)"

    # First run under GNU time: peak memory, exit status and a check for notices.
    if ! /usr/bin/time -v -o "$work/time.txt" "$exporter" --output-dir "$work/out" "$doc" \
        >"$work/stdout.txt" 2>"$work/stderr.txt"; then
        echo "   scorlet-export failed on $n responses:" >&2
        sed 's/^/   /' "$work/stderr.txt" >&2
        failed=1
        continue
    fi
    if grep -Eq "$notice_pattern" "$work/stderr.txt" "$work/stdout.txt"; then
        echo "   the export reported problems:" >&2
        grep -Eh "$notice_pattern" "$work/stderr.txt" "$work/stdout.txt" | head -n 5 | sed 's/^/   /' >&2
        failed=1
    fi
    rss_kb=$(awk -F': *' '/Maximum resident set size/ { print $2 }' "$work/time.txt")

    : >"$work/wall.txt"
    : >"$work/timings.txt"
    for ((run = 1; run <= RUNS; run++)); do
        # Bash's own timer: no extra process between us and the exporter. Wall and CPU
        # (user + system) seconds; CPU time stays meaningful on a busy machine.
        TIMEFORMAT='%3R %3U %3S'
        { time SCORLET_TIMINGS=1 "$exporter" --output-dir "$work/out" "$doc" \
            >/dev/null 2>"$work/stderr.txt"; } 2>>"$work/wall.txt"
        # "timing: <phase> <ms> ms", possibly behind the program's name.
        sed -nE "s/^(.*: )?timing: (.+) ([0-9]+([.][0-9]+)?) ms$/$run\t\2\t\3/p" \
            "$work/stderr.txt" >>"$work/timings.txt"
    done
    ms=$(awk '{ print $1 * 1000 }' "$work/wall.txt" | median)
    cpu_ms=$(awk '{ print ($2 + $3) * 1000 }' "$work/wall.txt" | median)
    spread=$(awk 'NR == 1 || $1 < lo { lo = $1 } NR == 1 || $1 > hi { hi = $1 }
        END { printf "%.0f-%.0f", lo * 1000, hi * 1000 }' "$work/wall.txt")
    result_ms[$n]=$ms
    result_cpu[$n]=$cpu_ms
    result_rss[$n]=$rss_kb
    result_bytes[$n]=$bytes
    summary+=("$(awk -v n="$n" -v b="$bytes" -v ms="$ms" -v sp="$spread" -v cpu="$cpu_ms" \
        -v rss="$rss_kb" 'BEGIN {
        printf "%10d %9.1f %10.1f %11s %9.1f %13.0f %8.1f %10.1f %9.2f",
            n, b / 1e6, ms, sp, cpu, n / (ms / 1000), b / 1e6 / (ms / 1000), rss * 1024 / 1e6,
            rss * 1024 / b }')")

    if [[ -s $work/timings.txt ]]; then
        line=$(printf '%10d ' "$n")
        total=0
        # Phases in the order the exporter reports them, each the median over the runs.
        while IFS= read -r phase; do
            pm=$(awk -F'\t' -v p="$phase" '$2 == p { s[$1] += $3 } END { for (r in s) print s[r] }' \
                "$work/timings.txt" | median)
            total=$(awk -v a="$total" -v b="$pm" 'BEGIN { print a + b }')
            line+=$(printf ' %s %.1f ms |' "$phase" "$pm")
        done < <(awk -F'\t' '!seen[$2]++ { print $2 }' "$work/timings.txt")
        line+=$(awk -v w="$ms" -v t="$total" 'BEGIN { printf " rest of process %.1f ms", w - t }')
        breakdowns+=("$line")
    fi
done

echo
echo "== load average at the end $(cut -d' ' -f1-3 /proc/loadavg)"
echo "Median of $RUNS run(s) of the whole scorlet-export process (wall and CPU time);"
echo "throughput from the wall time; peak RSS from a first, untimed run."
printf '%10s %9s %10s %11s %9s %13s %8s %10s %9s\n' responses "file MB" "wall ms" "wall range" \
    "CPU ms" responses/s MB/s "peak MB" RSS/file
for row in "${summary[@]}"; do
    echo "$row"
done
echo
if [[ ${#breakdowns[@]} -gt 0 ]]; then
    echo "Time per phase (median, as reported with SCORLET_TIMINGS=1):"
    for row in "${breakdowns[@]}"; do
        echo "$row"
    done
else
    echo "Time per phase: not reported by this scorlet-export (no 'timing:' lines with SCORLET_TIMINGS=1)."
fi

if [[ $smoke == 1 ]]; then
    if [[ $failed == 1 ]]; then
        echo "smoke: FAILED"
        exit 1
    fi
    echo "smoke: ok"
    exit 0
fi

echo
echo "Targets:"
missed=0
judge() { # description, condition result (0 met)
    if [[ $2 == 0 ]]; then
        printf '  met      %s\n' "$1"
    else
        printf '  NOT met  %s\n' "$1"
        missed=1
    fi
}
if [[ -n ${result_ms[1000000]:-} ]]; then
    ms=$(printf '%.1f' "${result_ms[1000000]}")
    awk -v ms="$ms" 'BEGIN { exit !(ms <= 500) }' && r=0 || r=1
    judge "1,000,000 responses: median wall $ms ms <= 500 ms (CPU ${result_cpu[1000000]} ms)" $r
    ratio=$(awk -v k="${result_rss[1000000]}" -v b="${result_bytes[1000000]}" 'BEGIN { printf "%.2f", k * 1024 / b }')
    awk -v x="$ratio" 'BEGIN { exit !(x <= 2) }' && r=0 || r=1
    judge "1,000,000 responses: peak RSS ${ratio}x file size <= 2x" $r
fi
if [[ -n ${result_ms[10000]:-} ]]; then
    ms=$(printf '%.1f' "${result_ms[10000]}")
    awk -v ms="$ms" 'BEGIN { exit !(ms <= 30) }' && r=0 || r=1
    judge "10,000 responses: median wall $ms ms <= 30 ms (CPU ${result_cpu[10000]} ms)" $r
fi
if [[ -n ${result_ms[1000000]:-} && -n ${result_ms[100000]:-} ]]; then
    scale=$(awk -v a="${result_ms[1000000]}" -v b="${result_ms[100000]}" 'BEGIN { printf "%.2f", a / b }')
    awk -v x="$scale" 'BEGIN { exit !(x <= 11) }' && r=0 || r=1
    judge "1,000,000 run ${scale}x the 100,000 run <= 11x" $r
fi

if [[ $failed == 1 ]]; then
    exit 1
fi
if [[ $missed == 1 && ${STRICT:-0} == 1 ]]; then
    exit 3
fi
exit 0
