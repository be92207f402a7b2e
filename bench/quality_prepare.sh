#!/usr/bin/env bash
# Quality of vseg-prepare's flows for each --flow choice on alley_1_half: forward-backward
# consistency of the flows, then the whole chain (frames alone -> vseg-prepare -> vseg with the
# README's numbers) scored against the ground truth at the 100 level. Needs python3-opencv for
# the shared tools; each vseg run takes about 20 s. Not run by CTest.
#   bench/quality_prepare.sh [fast medium fine]   (BUILD=build SHARED=../shared)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${BUILD:-build}
SHARED=${SHARED:-../shared}
DATA=$SHARED/data/alley_1_half
WORK=$BUILD/quality_prepare
flows=("$@")
[ ${#flows[@]} -gt 0 ] || flows=(fast medium fine)
mkdir -p "$WORK"

for flow in "${flows[@]}"; do
    out=$WORK/$flow
    "$BUILD/prepare/vseg-prepare" "$DATA/frames" "$out" --flow "$flow" >/dev/null 2>&1
    echo "== --flow $flow"
    /usr/bin/python3 "$SHARED/tools/flow_consistency.py" "$out"
    "$BUILD/driver/vseg" 0 9 5 1.5 0.001 4 "$out" "$out/segmentation" 2>"$out/vseg.stderr"
    /usr/bin/python3 "$SHARED/tools/seg_metrics.py" --gt "$DATA/gt" --no-table \
        "$out/segmentation/segmentations/100"
done
