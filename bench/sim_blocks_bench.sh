#!/usr/bin/env bash
# Times 200 realisations of the 20-gauge example network over 30 years (2005-2034,
# 43.8 million site-days) run as blocks through scripts/sim_blocks.sh: the same
# blocks one after the other (-j 1) and on two cores (-j 2), then the merge into one
# CSV. Prints wall times and the speed-up, and checks that both ways gave the same
# files. Usage: bench/sim_blocks_bench.sh [build directory] [blocks] (defaults build
# and 2; the 200 realisations are split evenly).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
blocks="${2:-2}"
export DAILYGEN="$build/dailygen/dailygen" RAINCSV="$build/raincsv/raincsv"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"

reals=$((200 / blocks))
seeds=$(seq 1001 $((1000 + blocks)))
seconds() { local t0 t1; t0=$(date +%s.%N); "$@" > /dev/null; t1=$(date +%s.%N); echo "$t1 - $t0" | bc; }

one=$(seconds "$root/scripts/sim_blocks.sh" -j 1 "$root/example" seq 200501 203412 "$reals" $seeds)
two=$(seconds "$root/scripts/sim_blocks.sh" -j 2 "$root/example" par 200501 203412 "$reals" $seeds)
diff -r seq par > /dev/null || { echo "the parallel blocks differ from the sequential ones" >&2; exit 1; }
merge=$(seconds sh -c "'$root/scripts/sim_merge.sh' par > merged.csv")
sitedays=$((blocks * reals * 20 * 10957))
echo "$blocks blocks x $reals realisations, 20 gauges, 2005-2034 ($sitedays site-days):"
echo "  one core (-j 1):  $(printf '%.2f' "$one") s, $(echo "$sitedays / $one / 1000000" | bc -l | xargs printf '%.2f') M site-days/s"
echo "  two cores (-j 2): $(printf '%.2f' "$two") s, $(echo "$sitedays / $two / 1000000" | bc -l | xargs printf '%.2f') M site-days/s"
echo "  speed-up $(echo "$one / $two" | bc -l | xargs printf '%.2f'); files identical"
echo "  merge into one CSV ($(($(wc -l < merged.csv) - 1)) rows, $(du -m merged.csv | cut -f1) MB): $(printf '%.2f' "$merge") s"
