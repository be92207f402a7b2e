#!/usr/bin/env bash
# Runs vseg on a short real clip and compares every output file and the progress lines with the
# checksums recorded from a trusted build. Exit 77 (skipped) when the clip is not available.
#   golden_run.sh VSEG DATA_DIR MANIFEST [--record]
set -euo pipefail
vseg=$1 data=$2 manifest=$3 mode=${4:-}
if [ ! -d "$data/frames" ] || [ ! -d "$data/flows" ]; then
    echo "SKIPPED: the clip $data is missing (set VORADA_SHARED_DIR to the shared data folder)"
    exit 77
fi
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
"$vseg" 0 2 5 1.5 0.001 4 "$data" "$out/run" 2> "$out/stderr"
# The CPU time line varies from run to run; every other line is part of the output.
grep -v "total CPU time" "$out/stderr" > "$out/run/progress.txt"
# Files added beside the defined outputs (run record, tree files) are not part of the comparison.
(cd "$out/run" && find . -type f ! -name run.json ! -path './trees/*' | LC_ALL=C sort | xargs sha256sum) > "$out/actual"
if [ "$mode" = "--record" ]; then
    cp "$out/actual" "$manifest"
    echo "recorded $(wc -l < "$manifest") checksums in $manifest"
    exit 0
fi
if ! diff -u "$manifest" "$out/actual"; then
    echo "FAILED: the output differs from the recorded checksums (lines above)"
    exit 1
fi
echo "all $(wc -l < "$manifest") output files match"
