#!/usr/bin/env bash
# Times both fitting programs on the synthetic network of make_network.sh (200
# gauges, 40 years, 10-covariate models): wall time and peak memory
# from /usr/bin/time -v. Usage: bench/fit_bench.sh [build directory] (default build).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"

bash "$root/bench/make_network.sh"
echo "data: $(wc -l < gaugvals.dat) records"

for prog in occmodel amtmodel; do
  /usr/bin/time -v "$build/$prog/$prog" < /dev/null > "$prog.out" 2> "$prog.time"
  echo "$prog: $(grep -m1 'Number of observations' "$prog.out" | sed 's/  */ /g'), \
$(grep -c '^Beginning iteration' "$prog.out") iterations, \
wall $(grep 'Elapsed (wall clock)' "$prog.time" | awk '{print $NF}'), \
peak memory $(grep 'Maximum resident' "$prog.time" | awk '{print $NF}') kB"
done
