#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, address and undefined-behaviour sanitizers) and runs each
# for FUZZ_SECONDS (30) on its seed corpus in tests/fuzz/corpus/<target>, one after the other
# (FUZZ_TARGETS="fuzz_rle fuzz_bitstream" limits the run to those).
# Any crash, sanitizer report, timeout or memory blow-up fails the script; the input that caused
# it is kept under $FUZZ_BUILD/fuzz-artifacts/<target>/. The seed corpora are never modified.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${FUZZ_SECONDS:-30}
build=${FUZZ_BUILD:-build-fuzz}
jobs=${JOBS:-$(nproc)}

./scripts/install-deps.sh --fuzz
CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DVORADA_FUZZ=ON \
    -DVORADA_BUILD_BENCH=OFF >/dev/null

targets=()
for source in tests/fuzz/fuzz_*.cpp; do
    targets+=("$(basename "$source" .cpp)")
done
if [ -n "${FUZZ_TARGETS:-}" ]; then
    read -r -a targets <<<"$FUZZ_TARGETS"
fi
# Leaks inside third-party decoders that this library cannot mend are listed there.
export LSAN_OPTIONS="suppressions=$PWD/tests/fuzz/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
cmake --build "$build" -j "$jobs" --target "${targets[@]}"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failed=()
for target in "${targets[@]}"; do
    corpus=tests/fuzz/corpus/$target
    if [ ! -d "$corpus" ]; then
        echo "$target: no seed corpus in $corpus" >&2
        failed+=("$target")
        continue
    fi
    mkdir -p "$scratch/$target"
    artifacts=$build/fuzz-artifacts/$target
    rm -rf "$artifacts"
    mkdir -p "$artifacts"
    # New inputs go to the scratch directory (the first one given), never into the repository.
    if "$build/tests/fuzz/$target" "$scratch/$target" "$corpus" -max_total_time="$seconds" \
        -timeout=10 -rss_limit_mb=2048 -artifact_prefix="$artifacts/" -print_final_stats=1 \
        >"$scratch/$target.log" 2>&1; then
        echo "$target: $(grep -o 'number_of_executed_units: [0-9]*' "$scratch/$target.log" |
            awk '{print $2}') executions, no findings"
    else
        echo "$target: FAILED; input kept in $artifacts" >&2
        tail -n 40 "$scratch/$target.log" >&2
        failed+=("$target")
    fi
done
if [ ${#failed[@]} -ne 0 ]; then
    echo "fuzz smoke failed: ${failed[*]}" >&2
    exit 1
fi
