#!/usr/bin/env bash
# Times the simulation program on a synthetic network of 20 gauges: 100 realisations
# of 30 years (21.9 million site-days), no observations, daily values written to
# daily.dat, once with independent occurrence and once with latent Gaussian
# occurrence under an exponential distance decay. Reports site-days per second and
# peak memory (/usr/bin/time -v). Usage: bench/sim_bench.sh [build directory]
# [realisations] (defaults build and 100). PROFILE="perf record -o FILE" runs the
# program under a profiler.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
nreal="${2:-100}"
# SIM_BENCH_DIR=DIR keeps the run's files in DIR (for benchmarks of its outputs).
if [ -n "${SIM_BENCH_DIR:-}" ]; then
  work="$SIM_BENCH_DIR"
  mkdir -p "$work"
else
  work="$(mktemp -d)"
  trap 'rm -rf "$work"' EXIT
fi
cd "$work"

bash "$root/bench/synthetic_sites.sh" 20 100 2
{ for i in $(seq 1 19); do echo "Benchmark regions, line $i"; done
  printf '%5d%-60s\n' 0 "Benchmark network" 1 "West" 2 "East"; } > regions.def
: > gaugvals.dat  # no observations: every site-day is simulated

header() { for i in $(seq 1 47); do echo "Benchmark model header line $i"; done; echo "$1"; }
model() {  # $1 occurrence structure line, $2 amount structure line
  { header "Benchmark occurrence model"
    cat <<'DEF'
    0   -0.8000    0    0    0 Constant
    1    0.3000    3    0    0 Elevation
    4    0.3000   21    0    0 cos
    4    0.1000   22    0    0 sin
    4    1.2000    1    3    0 own wet yesterday
    4    0.8000    1   13    0 mean wet yesterday
    8    0.3000    1    3    0
DEF
    echo "$1"
  } > logistic.def
  { header "Benchmark amounts model"
    cat <<'DEF'
    0    1.2000    0    0    0 Constant
    1    0.2000    3    0    0 Elevation
    4    0.2000   21    0    0 cos
    4   -0.1000   22    0    0 sin
    4    0.1000    1    2    0 ln(1+own yesterday)
    8    0.3000    1    3    0
    9    0.8000    0    0    0
DEF
    echo "$2"
  } > gammamdl.def
}

# Continue past the four listings, 2001-2030, option 3 with the entire area only,
# daily output of every realisation, seed.
answers() { printf '\n\n\n\n200101\n203012\n%s\n3\n0\n0\n4711\n' "$nreal"; }
sitedays=$((20 * nreal * 10957))

run() {  # $1 label
  rm -f daily.dat monthly.dat mdlspec.txt
  answers | ${PROFILE:-} /usr/bin/time -v "$build/dailygen/dailygen" > dailygen.out 2> dailygen.time || {
    tail -20 dailygen.out; exit 1; }
  local wall secs cpu
  wall=$(grep 'Elapsed (wall clock)' dailygen.time | awk '{print $NF}')
  secs=$(echo "$wall" | awk -F: '{ s = 0; for (i = 1; i <= NF; i++) s = s * 60 + $i; print s }')
  cpu=$(awk -F: '/User time|System time/ { s += $2 } END { print s }' dailygen.time)
  echo "$1: $sitedays site-days, wall $wall, \
$(awk -v n="$sitedays" -v s="$secs" 'BEGIN { printf "%.2f", n / s / 1e6 }') M site-days/s \
($(awk -v n="$sitedays" -v s="$cpu" 'BEGIN { printf "%.2f", n / s / 1e6 }') M per CPU second), \
peak memory $(grep 'Maximum resident' dailygen.time | awk '{print $NF}') kB, \
daily.dat $(du -m daily.dat | cut -f1) MB"
}

model "   10    0.0000    0    0    0" "   10    0.0000    0    0    0"
run "independent occurrence"
model "   10    0.0200    3    1    0" "   10    0.0300    3    1    0"
run "latent Gaussian occurrence (exp. decay)"
