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

# One run of vseg-prepare with the given arguments; prints "wall cpu" in seconds (cpu = user +
# system of all its threads).
measure() {
    /usr/bin/time -f "%e %U %S" -o "$WORK/time.txt" "$PREPARE" "$@" >/dev/null 2>"$WORK/stderr.txt" ||
        { cat "$WORK/stderr.txt" >&2; exit 1; }
    tail -n 1 "$WORK/time.txt" | awk '{ print $1, $2 + $3 }'
}

# bench LABEL INPUT: one table row per --flow choice
bench() {
    local label=$1 input=$2 flow runs walls cpus m c frames
    for flow in fast medium fine; do
        walls=() cpus=()
        for _ in $(seq "$RUNS"); do
            read -r w c < <(measure "$input" "$WORK/$flow" --flow "$flow" --force)
            walls+=("$w") cpus+=("$c")
        done
        m=$(printf '%s\n' "${walls[@]}" | median)
        c=$(printf '%s\n' "${cpus[@]}" | median)
        frames=$(find "$WORK/$flow/frames" -name 'frame*.png' | wc -l)
        printf '| %s | %s | %d | %.2f | %s| %.2f | %.1f |\n' "$label" "$flow" "$frames" "$m" \
            "$(printf '%.2f ' "${walls[@]}")" "$c" "$(echo "$frames / $m" | bc -l)"
    done
}

echo "| input | --flow | frames | median wall (s) | runs (s) | median CPU (s) | frames/s |"
echo "|---|---|---|---|---|---|---|"
bench "alley_1_half 512x218" "$DATA/frames"
if [ -f "$VIDEO" ]; then
    bench "$(basename "$VIDEO") 320x240" "$VIDEO"
fi
