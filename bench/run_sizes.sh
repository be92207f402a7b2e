#!/usr/bin/env bash
# Whole runs of vseg on inputs of growing size: median wall time, CPU time (user + system, the
# writer processes included) and peak memory of RUNS runs each.
#   bench/run_sizes.sh VSEG RUNS INPUT_DIR... [-- VSEG_OPTIONS]
# Each INPUT_DIR holds frames/ and flows/; all its frames are used, with 5 1.5 0.001 4.
set -euo pipefail
vseg=$1 runs=$2
shift 2
inputs=()
while [ $# -gt 0 ] && [ "$1" != "--" ]; do inputs+=("$1"); shift; done
[ "${1:-}" = "--" ] && shift
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
median() { sort -g | awk '{v[NR]=$1} END {print (NR%2 ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2)}'; }
printf "%-28s %6s %7s %9s %9s %9s %8s\n" input frames voxels wall_s cpu_s peak_MiB B/voxel
for input in "${inputs[@]}"; do
    frames=$(ls "$input/frames" | grep -c '^frame[0-9]*\.png$')
    size=$(python3 -c "import struct,sys;f=open(sys.argv[1],'rb').read(24);print(*struct.unpack('>II',f[16:24]))" \
           "$input/frames/$(ls "$input/frames" | head -1)")
    voxels=$(( ${size% *} * ${size#* } * frames ))
    : > "$out/wall"; : > "$out/cpu"; : > "$out/peak"
    for _ in $(seq "$runs"); do
        rm -rf "$out/run"
        /usr/bin/time -f "%e %U %S %M" -o "$out/time" "$vseg" 0 $((frames - 1)) 5 1.5 0.001 4 \
            "$input" "$out/run" "$@" 2>/dev/null
        read -r wall user sys peak < "$out/time"
        echo "$wall" >> "$out/wall"
        echo "$user + $sys" | bc >> "$out/cpu"
        echo "$peak" >> "$out/peak"
    done
    wall=$(median < "$out/wall"); cpu=$(median < "$out/cpu"); peak=$(median < "$out/peak")
    printf "%-28s %6d %7.2fM %9.2f %9.2f %9.0f %8.0f\n" "$(basename "$input")" "$frames" \
        "$(echo "$voxels / 1000000" | bc -l)" "$wall" "$cpu" "$(echo "$peak / 1024" | bc -l)" \
        "$(echo "$peak * 1024 / $voxels" | bc -l)"
done
