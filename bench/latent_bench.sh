#!/usr/bin/env bash
# The latent-Gaussian dependence step side by side with an earlier build, on the
# 200-gauge, 40-year network of make_network.sh with realistically dependent gauges
# (latent_rain: latent correlations 0.5-0.95 falling with distance) and the
# exponential correlation structure: processor and wall time of the step alone and
# of the whole occmodel run, the whole run with structure 0 for scale, the whole
# amtmodel run with its residual analysis, and how far the two builds' latent
# correlations lie apart. Build the earlier code from git first, for example
#   git worktree add /tmp/base 34628f3 && cmake -S /tmp/base -B /tmp/base/build \
#     -DCMAKE_BUILD_TYPE=Release && cmake --build /tmp/base/build --target depest_bench
# Usage: bench/latent_bench.sh [build directory] [earlier build directory]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
base="${2:-}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

mkdir "$work/net"
cd "$work/net"
bash "$root/bench/make_network.sh" "   10    0.0100    3    1    0"
"$build/bench/latent_rain"
grep -v '^   10' logistic.def > logistic0.def

# run <label> <build> <program> <definition> <answers>: one run in a fresh copy.
run() {
  local dir="$work/$1"
  mkdir "$dir"
  cp siteinfo.def gaugvals.dat gammamdl.def "$dir/"
  cp "$4" "$dir/logistic.def"
  ( cd "$dir" && printf "$5" | /usr/bin/time -f "%U %S %e" -o time.txt "$2/bench/depest_bench" "$3" > out.txt 2> err.txt )
  local step total
  step="$(grep 'dependence step' "$dir/err.txt" | sed 's/.*: //')"
  total="$(awk '{printf "whole run: processor %.2f s, wall %.2f s", $1 + $2, $3}' "$dir/time.txt")"
  printf '%-34s %s; %s\n' "$1" "$step" "$total"
}

for b in new ${base:+base}; do
  dir="$build"
  [ "$b" = base ] && dir="$(cd "$base" && pwd)"
  run "$b-occ-latent" "$dir" occmodel logistic.def 'Y\n\nN\n'
  run "$b-occ-independent" "$dir" occmodel logistic0.def '\n\nN\n'
  run "$b-amt-residuals" "$dir" amtmodel logistic.def 'Y\n\nY\nY\n'
done
if [ -n "$base" ]; then
  paste <(awk 'NR > 1 {print $3}' "$work/base-occ-latent/cor_logi.dat") \
        <(awk 'NR > 1 {print $3}' "$work/new-occ-latent/cor_logi.dat") |
    awk '{d = $2 - $1; s += d; if (NR == 1 || d < lo) lo = d; if (NR == 1 || d > hi) hi = d}
         END {printf "latent correlations, new - earlier: mean %.4f, from %.4f to %.4f\n", s / NR, lo, hi}'
  cmp -s "$work/base-amt-residuals/gammamdl.res" "$work/new-amt-residuals/gammamdl.res" &&
    echo "amtmodel results file: identical" || echo "amtmodel results file: differs"
fi
