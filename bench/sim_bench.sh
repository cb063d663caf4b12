#!/usr/bin/env bash
# Times the simulation program on synthetic networks of 20, 100 and 200 gauges, 2001-2030,
# no observations, daily values of every realisation written to daily.dat, with three
# dependence set-ups: independent occurrence and amounts, latent Gaussian occurrence
# (exponential decay with distance) with independent amounts, and latent occurrence
# with amounts correlated the same way. Every run is made side by side with a second
# build (the code before a change, built from git) on the same inputs; the two runs'
# daily.dat and monthly.dat must be byte-identical. Reports million site-days per CPU
# second (user + sys) of each build, their ratio and peak memory (/usr/bin/time -v).
#
# Usage: bench/sim_bench.sh [build] [base build] [site-days per run, millions]
#   build       default build/
#   base build  default none (this build only); e.g. a build of main made with
#               git worktree add /tmp/base <commit> and cmake
#   size        default 2: realisations are chosen so that each run simulates about
#               this many million site-days
# GAUGES="20 200" and SCHEMES="indep latent corr" choose the rows; REPEAT=n (default
# 3) runs each build n times, alternating, and keeps the least CPU time (the machine is
# shared); PROFILE="perf record -o FILE" runs this build under a profiler;
# SIM_BENCH_DIR=DIR keeps the inputs and the last run's daily.dat and monthly.dat of
# this build in DIR (for benchmarks of its outputs).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
base="${2:-}"
[ -n "$base" ] && base="$(cd "$base" && pwd)"
size="${3:-2}"
if [ -n "${SIM_BENCH_DIR:-}" ]; then
  work="$SIM_BENCH_DIR"
  mkdir -p "$work"
else
  work="$(mktemp -d)"
  trap 'rm -rf "$work"' EXIT
fi
cd "$work"

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

network() {  # $1 gauges, spread at the same density as 20 gauges over 100 km square
  bash "$root/bench/synthetic_sites.sh" "$1" "$(awk -v n="$1" 'BEGIN { printf "%d", 100 * sqrt(n / 20) }')" 2
  { for i in $(seq 1 19); do echo "Benchmark regions, line $i"; done
    printf '%5d%-60s\n' 0 "Benchmark network" 1 "West" 2 "East"; } > regions.def
  : > gaugvals.dat  # no observations: every site-day is simulated
}

# Continue past the four listings, 2001-2030, option 3 with the entire area only,
# daily output of every realisation, seed.
answers() { printf '\n\n\n\n200101\n203012\n%s\n3\n0\n0\n4711\n' "$1"; }

run() {  # $1 build, $2 realisations, $3 output directory; prints "cpu peak-kB"
  mkdir -p "$3"
  rm -f daily.dat monthly.dat mdlspec.txt
  answers "$2" | ${4:-} /usr/bin/time -v "$1/dailygen/dailygen" > dailygen.out 2> dailygen.time || {
    tail -20 dailygen.out; exit 1; }
  mv daily.dat monthly.dat "$3/"
  echo "$(awk -F: '/User time|System time/ { s += $2 } END { print s }' dailygen.time)" \
       "$(grep 'Maximum resident' dailygen.time | awk '{print $NF}')"
}

rate() { awk -v n="$1" -v s="$2" 'BEGIN { printf "%.2f", n / s / 1e6 }'; }

printf '%-7s %-34s %12s %12s %7s %9s\n' gauges scheme "M/CPU s" "base M/CPU s" factor "peak kB"
for g in ${GAUGES:-20 100 200}; do
  network "$g"
  nreal=$(awk -v g="$g" -v s="$size" 'BEGIN { r = int(s * 1e6 / (g * 10957) + 0.5); print r < 1 ? 1 : r }')
  sitedays=$((g * nreal * 10957))
  for scheme in ${SCHEMES:-indep latent corr}; do
    case $scheme in
      indep) label="independent"; model "   10    0.0000    0    0    0" "   10    0.0000    0    0    0" ;;
      latent) label="latent occurrence"; model "   10    0.0200    3    1    0" "   10    0.0000    0    0    0" ;;
      corr) label="latent + correlated amounts"; model "   10    0.0200    3    1    0" "   10    0.0300    3    1    0" ;;
    esac
    cpu="" bcpu=""
    for _ in $(seq 1 "${REPEAT:-3}"); do
      read -r c peak < <(run "$build" "$nreal" new "${PROFILE:-}")
      cpu=$(awk -v a="$cpu" -v b="$c" 'BEGIN { print (a == "" || b < a) ? b : a }')
      if [ -n "$base" ]; then
        read -r c _ < <(run "$base" "$nreal" old)
        bcpu=$(awk -v a="$bcpu" -v b="$c" 'BEGIN { print (a == "" || b < a) ? b : a }')
      fi
    done
    if [ -n "$base" ]; then
      cmp -s new/daily.dat old/daily.dat && cmp -s new/monthly.dat old/monthly.dat || {
        echo "$g gauges, $label: outputs differ from the base build"; exit 1; }
      printf '%-7s %-34s %12s %12s %7s %9s\n' "$g" "$label" "$(rate $sitedays "$cpu")" "$(rate $sitedays "$bcpu")" \
        "$(awk -v a="$bcpu" -v b="$cpu" 'BEGIN { printf "%.2f", a / b }')" "$peak"
    else
      printf '%-7s %-34s %12s %12s %7s %9s\n' "$g" "$label" "$(rate $sitedays "$cpu")" - - "$peak"
    fi
  done
done
echo "($size million site-days per run, least CPU time of ${REPEAT:-3} runs, daily.dat written;" \
  "outputs of both builds identical)"
[ -z "${SIM_BENCH_DIR:-}" ] || mv new/daily.dat new/monthly.dat .
