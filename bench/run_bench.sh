#!/usr/bin/env bash
# Times smooth_convert against the plain fscanf/fprintf baseline on one
# large generated input, and checks that both wrote the same file.
#
# usage: run_bench.sh CONVERTER BASELINE GENERATOR WORKDIR [RUNS]
set -euo pipefail

converter=$1 baseline=$2 generator=$3 workdir=$4 runs=${5:-5}
mkdir -p "$workdir"
cd "$workdir"

# (made again whenever the generator has been rebuilt)
if [[ ! -s smooth1.txt || "$generator" -nt smooth1.txt ]]; then
    echo "generating $workdir/smooth1.txt ..."
    "$generator" smooth1.txt
fi
bytes=$(stat -c %s smooth1.txt)
cat smooth1.txt >/dev/null   # start both programs from a warm page cache

# One timed run: prints wall-clock seconds and peak resident set (KiB).
time_one() {
    local program=$1 secs kib start end
    rm -f smooth2.txt
    if [[ -x /usr/bin/time ]]; then
        /usr/bin/time -q -f '%e %M' -o time.out "$program"
        read -r secs kib <time.out
    else
        start=$(date +%s.%N); "$program"; end=$(date +%s.%N)
        secs=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.2f", b - a }')
        kib=0
    fi
    echo "$secs $kib"
}

# The two programs take turns, so that a change in the machine's speed
# during the run (other work, frequency scaling) touches both alike; each
# keeps its best time and its largest peak.
base_secs="" conv_secs="" base_kib=0 conv_kib=0
less() { awk -v a="$1" -v b="$2" 'BEGIN { exit !(a < b) }'; }
for ((i = 0; i < runs; i++)); do
    read -r secs kib < <(time_one "$baseline")
    mv smooth2.txt baseline-smooth2.txt
    if [[ -z $base_secs ]] || less "$secs" "$base_secs"; then base_secs=$secs; fi
    ((kib > base_kib)) && base_kib=$kib
    read -r secs kib < <(time_one "$converter")
    if [[ -z $conv_secs ]] || less "$secs" "$conv_secs"; then conv_secs=$secs; fi
    ((kib > conv_kib)) && conv_kib=$kib
done

if ! cmp -s smooth2.txt baseline-smooth2.txt; then
    echo "bench: the two programs wrote different files" >&2
    exit 1
fi

awk -v bytes="$bytes" -v bs="$base_secs" -v bk="$base_kib" -v cs="$conv_secs" -v ck="$conv_kib" -v runs="$runs" 'BEGIN {
    mb = bytes / 1e6
    printf "input: %.1f MB, best of %d alternating runs each, outputs identical\n\n", mb, runs
    printf "%-16s %9s %10s %14s\n", "program", "seconds", "MB/s", "peak memory"
    printf "%-16s %9.2f %10.1f %11.1f MiB\n", "fscanf baseline", bs, mb / bs, bk / 1024
    printf "%-16s %9.2f %10.1f %11.1f MiB\n", "smooth_convert", cs, mb / cs, ck / 1024
    printf "\nsmooth_convert is %.1fx the speed of the baseline\n", bs / cs
}'
