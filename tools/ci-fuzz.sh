#!/usr/bin/env bash
# CI: builds the libFuzzer targets with clang++ (ASan, UBSan, LeakSanitizer), replays the
# committed seeds and the inputs that once failed, then fuzzes each target for a while.
# Any crash, leak, timeout, out-of-memory or sanitizer report fails the script; the input
# that caused it is kept under the build folder's artifacts/.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD_DIR:-$root/build-fuzz}
seconds=${FUZZ_SECONDS:-60}

bash "$root/tools/install-deps.sh"
missing=()
for package in clang-14 libclang-rt-14-dev; do
    status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
    [[ $status == "install ok installed" ]] || missing+=("$package")
done
if ((${#missing[@]} > 0)); then
    as_root=(env DEBIAN_FRONTEND=noninteractive)
    [[ $(id -u) -eq 0 ]] || as_root=(sudo env DEBIAN_FRONTEND=noninteractive)
    "${as_root[@]}" apt-get update
    "${as_root[@]}" apt-get install -y "${missing[@]}"
fi

cmake -S "$root" -B "$build" -G Ninja \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=clang++-14 \
    -DSCORLET_FUZZ=ON \
    -DSCORLET_BUILD_GUI=OFF \
    -DSCORLET_BUILD_TESTS=OFF
cmake --build "$build" --target fuzz_document fuzz_export --parallel "$(nproc)"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
seeds=$root/fuzz/corpus
replayed=("$seeds")
regressions=$root/tests/hostile/data/regressions
[[ -d $regressions ]] && replayed+=("$regressions")

for target in fuzz_document fuzz_export; do
    program=$build/fuzz/$target
    echo "== $target: replay"
    "$program" -runs=0 "${replayed[@]}"

    # New inputs go to a scratch corpus so that the committed seeds stay as they are.
    corpus=$build/corpus/$target
    artifacts=$build/artifacts/$target/
    mkdir -p "$corpus" "$artifacts"
    echo "== $target: fuzzing for ${seconds}s"
    log=$build/$target.log
    status=0
    "$program" "$corpus" "$seeds" \
        -dict="$root/fuzz/plexa.dict" \
        -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=20000 \
        -artifact_prefix="$artifacts" -print_final_stats=1 \
        -error_exitcode=77 -timeout_exitcode=78 >"$log" 2>&1 || status=$?
    if ((status != 0)); then
        cat "$log"
        echo "ci-fuzz.sh: $target failed with status $status; input kept in $artifacts" >&2
        ls -l "$artifacts" >&2
        exit 1
    fi
    grep -E '^(Done|stat::)' "$log" || tail -n 5 "$log"
done
echo "ci-fuzz.sh: no findings"
