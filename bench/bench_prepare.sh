#!/usr/bin/env bash
# Speed of vseg-prepare: wall time of alley_1_half's 10 frames (512x218; frames and both flow
# directions) for each --flow choice, median of RUNS runs; and frames per second on the 320x240
# tree.avi of Debian's opencv-doc. Not run by CTest.
#   bench/bench_prepare.sh            (BUILD=build RUNS=3 DATA=../shared/data/alley_1_half)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${BUILD:-build}
RUNS=${RUNS:-3}
DATA=${DATA:-../shared/data/alley_1_half}
VIDEO=${VIDEO:-/usr/share/doc/opencv-doc/examples/data/tree.avi}
PREPARE=$BUILD/prepare/vseg-prepare
WORK=$BUILD/bench_prepare
mkdir -p "$WORK"

# median of the numbers on standard input
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# wall seconds of one run of vseg-prepare with the given arguments
wall() {
    local start end
    start=$(date +%s.%N)
    "$PREPARE" "$@" >/dev/null 2>&1
    end=$(date +%s.%N)
    echo "$end - $start" | bc -l
}

echo "| input | --flow | frames | median wall (s) | runs (s) | frames/s |"
echo "|---|---|---|---|---|---|"
for flow in fast medium fine; do
    times=()
    for _ in $(seq "$RUNS"); do
        times+=("$(wall "$DATA/frames" "$WORK/alley_$flow" --flow "$flow")")
    done
    m=$(printf '%s\n' "${times[@]}" | median)
    printf '| alley_1_half 512x218 | %s | 10 | %.2f | %s | %.1f |\n' "$flow" "$m" \
        "$(printf '%.2f ' "${times[@]}")" "$(echo "10 / $m" | bc -l)"
done
if [ -f "$VIDEO" ]; then
    for flow in fast medium fine; do
        times=()
        for _ in $(seq "$RUNS"); do
            times+=("$(wall "$VIDEO" "$WORK/tree_$flow" --flow "$flow")")
        done
        m=$(printf '%s\n' "${times[@]}" | median)
        frames=$(ls "$WORK/tree_$flow/frames" | wc -l)
        printf '| %s 320x240 | %s | %d | %.2f | %s | %.1f |\n' "$(basename "$VIDEO")" "$flow" \
            "$frames" "$m" "$(printf '%.2f ' "${times[@]}")" "$(echo "$frames / $m" | bc -l)"
    done
fi
