#!/usr/bin/env bash
# Clip mode at scale: one clip-mode run over every frame of a prepared input, and a default run
# of one clip's length for comparison. Prints wall and CPU time (user + system, every process of
# the run), the peak of the whole process tree's resident memory (sampled every 0.2 s: the clips
# run side by side, so the largest single process understates it), CPU per voxel and the ratios
# the scale measurement asks for.
#   bench/bench_clips.sh VSEG INPUT_DIR [CLIP_FRAMES [JOBS [OUT]]] [-- VSEG_OPTIONS]
# Defaults: 15 frames per clip, 2 jobs, a temporary OUT; options default to --png none.
set -euo pipefail
vseg=$1 input=$2
shift 2
clip_frames=15 jobs=2 out=""
[ $# -gt 0 ] && [ "$1" != "--" ] && { clip_frames=$1; shift; }
[ $# -gt 0 ] && [ "$1" != "--" ] && { jobs=$1; shift; }
[ $# -gt 0 ] && [ "$1" != "--" ] && { out=$1; shift; }
[ "${1:-}" = "--" ] && shift
options=("$@")
[ ${#options[@]} -eq 0 ] && options=(--png none)
if [ -z "$out" ]; then
    out=$(mktemp -d)
    trap 'rm -rf "$out"' EXIT
fi
mkdir -p "$out"

frames=$(ls "$input/frames" | grep -c '^frame[0-9]*\.png$')
size=$(od -An -tu1 -j16 -N8 "$input/frames/$(ls "$input/frames" | grep '^frame' | head -1)" |
       awk '{print $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8}')
width=${size% *} height=${size#* }

# Resident memory of `pid` and all its descendants, summed, in KiB.
tree_rss() {
    ps -e -o pid=,ppid=,rss= | awk -v root="$1" '
        { parent[$1] = $2; rss[$1] = $3 }
        END {
            for (p in parent) {
                q = p
                while (q != root && q in parent && q != parent[q]) q = parent[q]
                if (q == root) total += rss[p]
            }
            print total + 0
        }'
}

# Runs vseg with the given arguments; sets wall, cpu (s) and peak (KiB, whole tree).
measure() {
    local log=$1
    shift
    /usr/bin/time -v -o "$log.time" "$vseg" "$@" 2> "$log.err" &
    local pid=$! now
    peak=0
    while kill -0 "$pid" 2> /dev/null; do
        now=$(tree_rss "$pid")
        [ "$now" -gt "$peak" ] && peak=$now
        sleep 0.2
    done
    wait "$pid" || { echo "vseg failed: $(tail -1 "$log.err")" >&2; exit 1; }
    wall=$(awk -F': ' '/Elapsed \(wall clock\)/ {n = split($2, t, ":"); s = 0;
                       for (i = 1; i <= n; i++) s = s * 60 + t[i]; print s}' "$log.time")
    cpu=$(awk -F': ' '/User time/ {u = $2} /System time/ {s = $2} END {print u + s}' "$log.time")
}

report() {
    local name=$1 voxels=$2
    printf "%-10s %6d frames %8.2f M voxels  wall %8.1f s  cpu %8.1f s  peak %7.2f GiB  " \
        "$name" "$3" "$(echo "$voxels / 1000000" | bc -l)" "$wall" "$cpu" \
        "$(echo "$peak / 1048576" | bc -l)"
    printf "cpu/voxel %6.3f us\n" "$(echo "$cpu * 1000000 / $voxels" | bc -l)"
}

run_voxels=$((width * height * frames))
measure "$out/clips" 0 $((frames - 1)) 5 1.5 0.001 4 "$input" "$out/clips" \
    --clip-frames "$clip_frames" --jobs "$jobs" "${options[@]}"
report clip-mode "$run_voxels" "$frames"
clip_wall=$wall clip_cpu=$cpu
clip_voxels=$((width * height * clip_frames))
measure "$out/one" 0 $((clip_frames - 1)) 5 1.5 0.001 4 "$input" "$out/one" "${options[@]}"
report one-clip "$clip_voxels" "$clip_frames"
echo "cpu per voxel, clip mode / one clip: $(echo "($clip_cpu / $run_voxels) / ($cpu / $clip_voxels)" |
                                          bc -l | cut -c1-5)"
echo "wall / cpu of clip mode: $(echo "$clip_wall / $clip_cpu" | bc -l | cut -c1-5)"
