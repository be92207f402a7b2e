#!/usr/bin/env bash
# Two vseg runs with different arguments, let go at the same instant into one output folder,
# round after round; in about half the rounds one of them is killed with SIGKILL at a random
# moment. The folder is the same in every round, so whatever a killed run leaves meets the next.
# After each round, a folder whose run.json says it is complete must hold exactly what a run of
# the arguments run.json names writes alone: the same tree file, the same label files, and the
# same cuts from vseg-cut. Prints the counts and exits 1 if any folder is inconsistent or any run
# failed for another reason than the folder being taken.
#   soak-shared-output.sh [BUILD_DIR] [DATA_DIR] [ROUNDS]    (SOAK_SEED seeds the kills)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
data=${2:-../shared/data/alley_1_half}
rounds=${3:-50}
vseg=$build/driver/vseg
cut=$build/cut/vseg-cut
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
RANDOM=${SOAK_SEED:-1}

settings=("5 1.5 0.001 4" "10 1.5 0.001 2")
levels=901,101,11

# The arguments run.json records, one per line.
recorded_arguments() {
    /usr/bin/python3 -c 'import json, sys; print("\n".join(json.load(open(sys.argv[1]))["arguments"]))' "$1"
}

# Whether folder $1 holds what the run of setting $2 writes alone.
same_as_alone() {
    local out=$1 reference=$work/alone$2 level
    cmp -s "$out/trees/tree.bpt" "$reference/trees/tree.bpt" || return 1
    for level in "$reference"/segmentations/*; do
        cmp -s "$out/segmentations/${level##*/}/frames.sgm" "$level/frames.sgm" || return 1
    done
    rm -rf "$work/check"
    "$cut" "$out" --regions $levels --out "$work/check" --png none 2>/dev/null || return 1
    for level in "$reference"/check/*; do
        cmp -s "$work/check/${level##*/}/frames.sgm" "$level/frames.sgm" || return 1
    done
}

for k in 0 1; do
    # shellcheck disable=SC2086
    "$vseg" 0 1 ${settings[$k]} "$data" "$work/alone$k" --png none 2>/dev/null
    "$cut" "$work/alone$k" --regions $levels --out "$work/alone$k/check" --png none 2>/dev/null
done
if cmp -s "$work/alone0/trees/tree.bpt" "$work/alone1/trees/tree.bpt"; then
    echo "the two settings give the same tree: the soak could not tell them apart" >&2
    exit 1
fi

out=$work/out
complete=0 consistent=0 inconsistent=0 unrecorded=0 refused=0 killed=0 unexpected=0
for round in $(seq 1 "$rounds"); do
    # Both children block reading the gate; two lines written at once let them go together.
    gate=$work/gate
    rm -f "$gate"
    mkfifo "$gate"
    exec 3<>"$gate"
    pids=()
    for k in 0 1; do
        # shellcheck disable=SC2086
        (read -r _ <"$gate" && exec "$vseg" 0 1 ${settings[$k]} "$data" "$out" --png none) \
            2>"$work/errors$k" &
        pids[k]=$!
    done
    printf 'go\ngo\n' >&3
    victim=-1
    if ((RANDOM % 2)); then
        victim=$((RANDOM % 2))
        sleep "$((RANDOM % 30)).$((RANDOM % 10))e-1"
        kill -KILL "${pids[victim]}" 2>/dev/null && killed=$((killed + 1)) || victim=-1
    fi
    for k in 0 1; do
        status=0
        wait "${pids[k]}" 2>/dev/null || status=$?  # (quiet about the killed one)
        if [ "$k" = "$victim" ]; then
            continue
        fi
        if [ "$status" = 1 ] && grep -q "^$out: another program is writing into this folder" \
            "$work/errors$k" && [ "$(wc -l <"$work/errors$k")" = 1 ]; then
            refused=$((refused + 1))
        elif [ "$status" != 0 ]; then
            unexpected=$((unexpected + 1))
            echo "round $round: run $k ended with status $status: $(tail -n 1 "$work/errors$k")"
        fi
    done
    exec 3>&-
    if [ -f "$out/run.json" ]; then
        complete=$((complete + 1))
        k=0
        if [ "$(recorded_arguments "$out/run.json" | sed -n 3p)" = "${settings[1]%% *}" ]; then
            k=1
        fi
        if same_as_alone "$out" "$k"; then
            consistent=$((consistent + 1))
        else
            inconsistent=$((inconsistent + 1))
            echo "round $round: run.json names setting $k, the files are not its own"
        fi
    else
        unrecorded=$((unrecorded + 1))
    fi
done
echo "$rounds rounds: $complete folders recorded complete ($consistent consistent," \
    "$inconsistent inconsistent), $unrecorded without a record; $refused runs refused at once," \
    "$killed killed, $unexpected other failures"
[ "$inconsistent" = 0 ] && [ "$unexpected" = 0 ]
