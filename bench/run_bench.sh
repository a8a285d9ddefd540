#!/usr/bin/env bash
# Times smooth_convert against the plain fscanf/fprintf baseline on one
# large generated input, and checks that both wrote the same file.
#
# usage: run_bench.sh CONVERTER BASELINE GENERATOR WORKDIR [RUNS]
set -euo pipefail

converter=$1 baseline=$2 generator=$3 workdir=$4 runs=${5:-3}
mkdir -p "$workdir"
cd "$workdir"

if [[ ! -s smooth1.txt ]]; then
    echo "generating $workdir/smooth1.txt ..."
    "$generator" smooth1.txt
fi
bytes=$(stat -c %s smooth1.txt)
cat smooth1.txt >/dev/null   # start both programs from a warm page cache

# best wall-clock seconds and largest peak resident set (KiB) over $runs runs
measure() {
    local program=$1 best="" peak=0 line secs kib
    for ((i = 0; i < runs; i++)); do
        rm -f smooth2.txt
        if [[ -x /usr/bin/time ]]; then
            /usr/bin/time -q -f '%e %M' -o time.out "$program"
            read -r secs kib <time.out
        else
            local start end
            start=$(date +%s.%N); "$program"; end=$(date +%s.%N)
            secs=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.2f", b - a }')
            kib=0
        fi
        if [[ -z $best ]] || awk -v a="$secs" -v b="$best" 'BEGIN { exit !(a < b) }'; then
            best=$secs
        fi
        ((kib > peak)) && peak=$kib
    done
    echo "$best $peak"
}

read -r base_secs base_kib < <(measure "$baseline")
mv smooth2.txt baseline-smooth2.txt
read -r conv_secs conv_kib < <(measure "$converter")

if ! cmp -s smooth2.txt baseline-smooth2.txt; then
    echo "bench: the two programs wrote different files" >&2
    exit 1
fi

awk -v bytes="$bytes" -v bs="$base_secs" -v bk="$base_kib" -v cs="$conv_secs" -v ck="$conv_kib" -v runs="$runs" 'BEGIN {
    mb = bytes / 1e6
    printf "input: %.1f MB, best of %d runs each, outputs identical\n\n", mb, runs
    printf "%-16s %9s %10s %14s\n", "program", "seconds", "MB/s", "peak memory"
    printf "%-16s %9.2f %10.1f %11.1f MiB\n", "fscanf baseline", bs, mb / bs, bk / 1024
    printf "%-16s %9.2f %10.1f %11.1f MiB\n", "smooth_convert", cs, mb / cs, ck / 1024
    printf "\nsmooth_convert is %.1fx the speed of the baseline\n", bs / cs
}'
