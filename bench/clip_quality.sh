#!/usr/bin/env bash
# Clip mode against the whole-video run on alley_1_half frames 0-9: each clip length is scored
# against the ground truth at 100 and 20 regions (UE_np, ASA, BR2d, mean region duration) beside
# the default run, with the CPU time (user + system, child processes included) of each run.
# Not run by CTest; a run takes about half a minute.
#   bench/clip_quality.sh [CLIP_FRAMES ...] [-- EXTRA_VSEG_OPTIONS]   (BUILD=build SHARED=../shared)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${BUILD:-build}
SHARED=${SHARED:-../shared}
DATA=$SHARED/data/alley_1_half
WORK=${WORK:-$BUILD/clip_quality}
lengths=()
while [ $# -gt 0 ] && [ "$1" != "--" ]; do lengths+=("$1"); shift; done
[ $# -gt 0 ] && shift
extra=("$@")
[ ${#lengths[@]} -gt 0 ] || lengths=(5 3 2)
mkdir -p "$WORK"

# run NAME OPTIONS...: one vseg run into $WORK/NAME; its CPU seconds into $WORK/NAME.cpu
run() {
    local name=$1
    shift
    rm -rf "${WORK:?}/$name"
    /usr/bin/time -f "%U %S" -o "$WORK/$name.time" \
        "$BUILD/driver/vseg" 0 9 5 1.5 0.001 4 "$DATA" "$WORK/$name" "$@" 2>"$WORK/$name.stderr"
    awk '{ printf "%.1f\n", $1 + $2 }' "$WORK/$name.time" >"$WORK/$name.cpu"
}

run default
for n in "${lengths[@]}"; do
    run "clips$n" --clip-frames "$n" "${extra[@]}"
done

names=(default)
for n in "${lengths[@]}"; do names+=("clips$n"); done
for name in "${names[@]}"; do
    /usr/bin/python3 "$SHARED/tools/seg_metrics.py" --gt "$DATA/gt" --no-table \
        "$WORK/$name/segmentations/100" "$WORK/$name/segmentations/20" >"$WORK/$name.metrics"
done
/usr/bin/python3 - "$WORK" "${names[@]}" <<'PY'
import json, sys
work, names = sys.argv[1], sys.argv[2:]
def metrics(name):
    rows = [json.loads(line) for line in open(f"{work}/{name}.metrics")]
    return {r["name"]: r for r in rows}
base = metrics("default")
print("| run | CPU s | UE_np 100 | ASA 100 | BR2d 100 | duration 100 | UE_np 20 | ASA 20 | BR2d 20 |")
print("|---|---|---|---|---|---|---|---|---|")
for name in names:
    m = metrics(name)
    cells = [name, open(f"{work}/{name}.cpu").read().strip()]
    for level in ("100", "20"):
        r, b = m[level], base[level]
        keys = ("ue_np", "asa", "br2d", "mean_temporal_extent") if level == "100" else ("ue_np", "asa", "br2d")
        for key in keys:
            text = "%.4f" % r[key] if key != "mean_temporal_extent" else "%.2f" % r[key]
            if name != "default" and key != "mean_temporal_extent":
                text += " (%+.4f)" % (r[key] - b[key])
            cells.append(text)
    print("| " + " | ".join(cells) + " |")
PY
