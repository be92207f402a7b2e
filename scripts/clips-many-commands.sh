#!/usr/bin/env bash
# Runs one clip-mode segmentation three ways and checks that they write the same output:
#   jobs      one command, --jobs J
#   parallel  GNU parallel -j J of one --clip I command per clip, then --join
#   slurm     an sbatch array of --clip I tasks and a join that waits for them (only when sbatch is
#             on PATH and a Slurm controller answers)
# Each output is compared with that of --jobs by diff -r (run.json, which records times and the
# command line, apart). Prints one line per way with its wall time; exits 1 on any difference or
# failed run.
#   clips-many-commands.sh VSEG INPUT_DIR FIRST LAST CLIP_FRAMES WORK_DIR [VSEG_OPTION...]
# VSEG_OPTIONs default to "--png none". WORK_DIR gets one output folder per way and logs/; for
# Slurm on more than one node it, INPUT_DIR and VSEG must be at the same paths on every node.
# JOBS (2) clips run at once; NICE (0) is the niceness of every vseg; CLIP_MEM (2G) and JOIN_MEM
# (4G) are what the Slurm tasks ask for; SBATCH_PARTITION and the other SBATCH_* variables of
# sbatch apply.
set -euo pipefail

if [ $# -lt 6 ]; then
    sed -n '2,16s/^# \{0,1\}//p' "$0" >&2
    exit 2
fi
vseg=$(realpath "$1")
input=$(realpath "$2")
first=$3
last=$4
clip_frames=$5
mkdir -p "$6"
work=$(realpath "$6")
shift 6
options=("$@")
if [ ${#options[@]} -eq 0 ]; then
    options=(--png none)
fi
jobs=${JOBS:-2}
nice=${NICE:-0}
mkdir -p "$work/logs"

run_vseg() {
    nice -n "$nice" "$vseg" "$@"
}

# The arguments of every command of the run, output folder $1.
arguments() {
    printf '%s\n' "$first" "$last" 5 1.5 0.001 4 "$input" "$1" --clip-frames "$clip_frames" \
        "${options[@]}"
}

# The number of clips: vseg refuses a clip index past the plan and names the count. The index is
# the largest vseg accepts, so no plan reaches it; nothing is written.
clip_count() {
    local message
    message=$("$vseg" "${jobs_args[@]}" --clip 9999999999999999999 2>&1 >/dev/null || true)
    if [[ $message =~ the\ plan\ has\ ([0-9]+)\ clips ]]; then
        echo "${BASH_REMATCH[1]}"
    else
        echo "Cannot count the clips: ${message:-vseg accepted clip 9999999999999999999}" >&2
        return 1
    fi
}

# Waits for Slurm job $1 to end and prints its final state (COMPLETED when it succeeded). Polls:
# sbatch --wait checks ever more rarely and may return half a minute late.
wait_for_job() {
    local state
    while :; do
        state=$(scontrol show job -o "$1" 2>/dev/null | grep -o 'JobState=[A-Z_]*' || true)
        state=${state#JobState=}
        if [ -z "$state" ]; then
            # Forgotten by the controller: only accounting, if any, knows the end.
            state=$(sacct -n -P -X -j "$1" -o State 2>/dev/null | head -1 || true)
            echo "${state:-UNKNOWN}"
            return
        fi
        case $state in
        PENDING | CONFIGURING | RUNNING | COMPLETING | SUSPENDED | REQUEUED | RESIZING | SIGNALING | STAGE_OUT)
            sleep 1 ;;
        *)
            echo "$state"
            return ;;
        esac
    done
}

now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.1f s", b - a }'; }

# Whether folder $1 is a complete run that writes what --jobs wrote; prints the differences.
same_as_jobs() {
    if [ ! -f "$1/run.json" ]; then
        echo "  $1 has no run.json: the run did not finish"
        return 1
    fi
    diff -r --exclude=run.json "$work/jobs" "$1" | head -20 | sed 's/^/  /'
    diff -rq --exclude=run.json "$work/jobs" "$1" >/dev/null
}

mapfile -t jobs_args < <(arguments "$work/jobs")
mapfile -t parallel_args < <(arguments "$work/parallel")
mapfile -t slurm_args < <(arguments "$work/slurm")
clips=$(clip_count)
echo "$clips clips of at most $clip_frames frames, frames $first-$last of $input, $jobs at once"
status=0
rm -rf "$work/jobs" "$work/parallel" "$work/slurm"

start=$(now)
if ! run_vseg "${jobs_args[@]}" --jobs "$jobs" 2>"$work/logs/jobs.log"; then
    echo "jobs: failed, see $work/logs/jobs.log"
    exit 1
fi
echo "jobs: $(elapsed "$start")"

start=$(now)
if parallel -q -j "$jobs" --joblog "$work/logs/parallel.joblog" nice -n "$nice" "$vseg" \
    "${parallel_args[@]}" --clip {} ::: $(seq 0 $((clips - 1))) 2>"$work/logs/parallel.log" &&
    run_vseg "${parallel_args[@]}" --join 2>>"$work/logs/parallel.log"; then
    if same_as_jobs "$work/parallel"; then
        echo "parallel: $(elapsed "$start"), same as jobs"
    else
        echo "parallel: $(elapsed "$start"), DIFFERENT from jobs"
        status=1
    fi
else
    echo "parallel: failed, see $work/logs/parallel.log"
    status=1
fi

if ! command -v sbatch >/dev/null || ! scontrol ping >/dev/null 2>&1; then
    echo "slurm: skipped, no Slurm controller answers"
    exit $status
fi
# The wrapped commands run under /bin/sh: every word quoted.
quoted=$(printf '%q ' nice -n "$nice" "$vseg" "${slurm_args[@]}")
start=$(now)
array=$(sbatch --parsable --job-name=vseg-clips --array="0-$((clips - 1))%$jobs" \
    --mem="${CLIP_MEM:-2G}" --output="$work/logs/slurm-clip-%a.log" \
    --wrap "exec $quoted --clip \$SLURM_ARRAY_TASK_ID")
array=${array%%;*}
# A failed clip cancels the join instead of leaving it pending for ever.
join=$(sbatch --parsable --job-name=vseg-join --dependency="afterok:$array" \
    --kill-on-invalid-dep=yes --mem="${JOIN_MEM:-4G}" --output="$work/logs/slurm-join.log" \
    --wrap "exec $quoted --join")
join=${join%%;*}
state=$(wait_for_job "$join")
if [ "$state" = COMPLETED ]; then
    if same_as_jobs "$work/slurm"; then
        echo "slurm: $(elapsed "$start"), same as jobs"
    else
        echo "slurm: $(elapsed "$start"), DIFFERENT from jobs"
        status=1
    fi
else
    echo "slurm: join $join ended $state, see $work/logs/slurm-*.log"
    status=1
fi
exit $status
