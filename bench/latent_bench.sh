#!/usr/bin/env bash
# The latent-Gaussian dependence step side by side with an earlier build, on the
# 200-gauge, 40-year network of make_network.sh with realistically dependent gauges
# (latent_rain: latent correlations 0.5-0.95 falling with distance) and the
# exponential correlation structure: processor (user + sys) and wall time of the
# step alone and of the whole occmodel run, the whole run with structure 0 and the
# ratio of the two, the whole amtmodel run with its residual analysis, and how far
# the two builds' outputs lie apart. Build the earlier code from git first, e.g.
#   git worktree add /tmp/base 34628f3 && cmake -S /tmp/base -B /tmp/base/build \
#     -DCMAKE_BUILD_TYPE=Release && cmake --build /tmp/base/build --target depest_bench
# Usage: bench/latent_bench.sh [build directory] [earlier build directory]
# REPEAT=n (default 5) runs every case n times, the builds alternating, and reports
# the least and the median of each time (the machine is shared: the least is the
# steadier figure, the median the usual one).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
base="${2:-}"
[ -n "$base" ] && base="$(cd "$base" && pwd)"
repeat="${REPEAT:-5}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

mkdir "$work/net"
cd "$work/net"
bash "$root/bench/make_network.sh" "   10    0.0100    3    1    0"
"$build/bench/latent_rain"
grep -v '^   10' logistic.def > logistic0.def

# run <label> <build> <program> <definition> <answers>: one run in a fresh copy,
# its times appended to <label>.times as "step-cpu step-wall whole-cpu whole-wall".
run() {
  local dir="$work/$1"
  rm -rf "$dir"
  mkdir "$dir"
  cp siteinfo.def gaugvals.dat gammamdl.def "$dir/"
  cp "$4" "$dir/logistic.def"
  ( cd "$dir" && printf "$5" | /usr/bin/time -f "%U %S %e" -o time.txt "$2/bench/depest_bench" "$3" > out.txt 2> err.txt )
  local step
  step="$(sed -n 's/.*dependence step: wall \([0-9.]*\) s, processor \([0-9.]*\) s/\2 \1/p' "$dir/err.txt")"
  echo "$step $(awk '{print $1 + $2, $3}' "$dir/time.txt")" >> "$work/$1.times"
}

# least and median of column $2 of file $1
stat() { sort -n -k"$2" "$1" | awk -v c="$2" '{v[NR] = $c} END {printf "%.2f/%.2f", v[1], v[int((NR + 1) / 2)]}'; }

builds="new ${base:+base}"
for _ in $(seq "$repeat"); do
  for b in $builds; do
    dir="$build"
    [ "$b" = base ] && dir="$base"
    run "$b-occ-latent" "$dir" occmodel logistic.def 'Y\n\nN\n'
    run "$b-occ-independent" "$dir" occmodel logistic0.def '\n\nN\n'
    run "$b-amt-residuals" "$dir" amtmodel logistic.def 'Y\n\nY\nY\n'
  done
done

echo "least/median of $repeat runs, seconds"
printf '%-22s %-12s %-12s %-12s %-12s\n' run "step CPU" "step wall" "whole CPU" "whole wall"
for b in $builds; do
  for c in occ-latent occ-independent amt-residuals; do
    f="$work/$b-$c.times"
    printf '%-22s %-12s %-12s %-12s %-12s\n' "$b-$c" "$(stat "$f" 1)" "$(stat "$f" 2)" "$(stat "$f" 3)" "$(stat "$f" 4)"
  done
  # latent over independent, from the least and from the median times
  lat="$work/$b-occ-latent.times" ind="$work/$b-occ-independent.times"
  for col in 3 4; do
    paste -d' ' <(sort -n -k"$col" "$lat" | awk -v c="$col" '{print $c}') \
                <(sort -n -k"$col" "$ind" | awk -v c="$col" '{print $c}')
  done | awk -v n="$repeat" -v b="$b" '
    {r[NR] = $1 / $2}
    END {m = int((n + 1) / 2)
         printf "%s: latent run / structure-0 run: CPU %.2f (least) %.2f (median), wall %.2f %.2f\n",
                b, r[1], r[m], r[n + 1], r[n + m]}'
done
if [ -n "$base" ]; then
  paste <(awk 'NR > 1 {print $3}' "$work/base-occ-latent/cor_logi.dat") \
        <(awk 'NR > 1 {print $3}' "$work/new-occ-latent/cor_logi.dat") |
    awk '{d = $2 - $1; s += d; if (d != 0) k++; if (NR == 1 || d < lo) lo = d; if (NR == 1 || d > hi) hi = d}
         END {printf "latent correlations, new - earlier: %d of %d differ, mean %.4f, from %.4f to %.4f\n",
                     k, NR, s / NR, lo, hi}'
  for f in gammamdl.res cor_gamm.dat res_gamm.dat; do
    cmp -s "$work/base-amt-residuals/$f" "$work/new-amt-residuals/$f" &&
      echo "amtmodel $f: identical" || echo "amtmodel $f: differs"
  done
fi
