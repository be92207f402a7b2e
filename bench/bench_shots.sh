#!/usr/bin/env bash
# Shot cuts vseg-prepare finds: none on uncut videos (tree.avi, vtest.avi of Debian's opencv-doc),
# Megamind.avi's cuts at full size and at 320 px, Megamind_bugy.avi (the same film with broken
# frames), and each Megamind shot taken alone (--first/--count), where a cut would be false.
# Prints one table row per run: input, frames, shot segments, cut frames, blank runs. The flow
# does not enter the test, so the fast one is used. Not run by CTest.
#   bench/bench_shots.sh            (BUILD=build)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${BUILD:-build}
DOCS=${DOCS:-/usr/share/doc/opencv-doc/examples/data}
PREPARE=$BUILD/prepare/vseg-prepare
WORK=$BUILD/bench_shots
mkdir -p "$WORK"

# row LABEL INPUT [vseg-prepare options]: one table row from the shots.txt it writes
row() {
    local label=$1 input=$2
    shift 2
    "$PREPARE" "$input" "$WORK/out" --flow fast --force "$@" >/dev/null 2>"$WORK/stderr.txt" ||
        { cat "$WORK/stderr.txt" >&2; exit 1; }
    awk -v label="$label" '
        /^#/ { next }
        { frames = $2 + 1; segments++ }
        $3 == "blank" { blanks = blanks " " $1 "-" $2 }
        $3 == "shot" && previous == "shot" { cuts = cuts " " $1; cut_count++ }
        { previous = $3 }
        END { printf "| %s | %d | %d | %d:%s | %s |\n", label, frames, segments, cut_count,
              cuts, blanks == "" ? "none" : blanks }' "$WORK/out/shots.txt"
}

echo "| input | frames | segments | cuts: before frames | blank frames |"
echo "|---|---|---|---|---|"
row "tree.avi" "$DOCS/tree.avi"
row "vtest.avi" "$DOCS/vtest.avi"
row "Megamind.avi 720x528" "$DOCS/Megamind.avi"
row "Megamind.avi 320 px" "$DOCS/Megamind.avi" --max-side 320
row "Megamind_bugy.avi 320 px" "$DOCS/Megamind_bugy.avi" --max-side 320
# Megamind's shots alone: input frames 1-97, 98-153, 154-199, 200-269 (frame 0 is black).
for shot in "1 97" "98 56" "154 46" "200 70"; do
    read -r first count <<<"$shot"
    row "Megamind.avi from $first, $count frames" "$DOCS/Megamind.avi" --first "$first" \
        --count "$count"
done
