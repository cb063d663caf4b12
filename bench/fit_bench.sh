#!/usr/bin/env bash
# Times both fitting programs on the synthetic network of make_network.sh (200
# gauges, 40 years, about 2.9 million site-days, 10-covariate models): wall and CPU
# time and peak memory from /usr/bin/time -v, the residual listing on its own, runs
# on one core, a run with the weather-state structure, runs on half the years and
# half the gauges, the passes over the design store (bench/store_bench) on one core
# and on all, and, when R is installed, the ratio of each whole run to R's glm
# fitting the same site-days already in memory.
# Usage: bench/fit_bench.sh [build directory] (default build).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"

# The whole runs the targets speak of: read, design store, fit, results, updated
# definition, residual analysis, with the residual listing declined. Occurrence with
# independent sites, so the run is the fit; the dependence step is timed by its own
# lines below and by dep_bench.sh.
bash "$root/bench/make_network.sh" "   10    0.0000    0    1    0"
echo "data: $(wc -l < gaugvals.dat) records"

# One run: wall and CPU seconds and peak memory (kB) into <prog>.time.
run() {
  local prog=$1
  rm -f ./*.res ./*.de2 ./cor_*.dat ./res_*.dat
  printf '\n\nN\n' | /usr/bin/time -v "$build/$prog/$prog" > "$prog.out" 2> "$prog.time"
  wall=$(awk -F': ' '/Elapsed \(wall clock\)/ { n = split($2, t, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + t[i]; print s }' "$prog.time")
  cpu=$(awk -F': ' '/User time|System time/ { s += $2 } END { print s }' "$prog.time")
  mem=$(grep 'Maximum resident' "$prog.time" | awk '{print $NF}')
}

# Each program twice: once declining the residual listing, once writing it, with the
# console time-stamped to time the listing alone.
stamp() { perl -MTime::HiRes=time -e 'printf "%.3f", time'; }
for prog in occmodel amtmodel; do
  run "$prog"
  echo "$prog: $(grep -m1 'Number of observations' "$prog.out" | sed 's/  */ /g'), \
$(grep -c '^Beginning iteration' "$prog.out") iterations, wall $wall s, CPU $cpu s, peak memory $mem kB"
  eval "${prog}_wall=$wall ${prog}_cpu=$cpu"
  rm -f ./*.res ./*.de2 ./cor_*.dat ./res_*.dat
  "$build/$prog/$prog" < /dev/null | perl -MTime::HiRes=time -ne 'BEGIN { $| = 1 } print time, " ", $_; END { print time, " end\n" }' > "$prog.stamped"
  asked=$(grep -m1 'Generate' "$prog.stamped" | cut -d' ' -f1)
  ended=$(tail -1 "$prog.stamped" | cut -d' ' -f1)
  echo "  residual listing ($(($(wc -l < res_*.dat) - 1)) lines): $(echo "$ended - $asked" | bc | xargs printf '%.2f') s wall"
  rm -f ./*.res ./*.de2 ./cor_*.dat ./res_*.dat
done

# On one core, and occmodel with the weather-state structure, whose estimation passes
# over the fitted values many times.
for prog in occmodel amtmodel; do
  RAINGLM_THREADS=1 run "$prog"
  echo "$prog on one core: wall $wall s, CPU $cpu s, peak memory $mem kB"
done
sed -i 's/^   10    0.0000    0    1    0$/   10    0.5000   21    1    0/' logistic.def
run occmodel
echo "occmodel with the weather-state structure: wall $wall s, CPU $cpu s, peak memory $mem kB"
sed -i 's/^   10    0.5000   21    1    0$/   10    0.0000    0    1    0/' logistic.def

# Scaling: half the site-days (the first 20 years), then half the gauges (the first
# 100 of every day): time should halve, memory stay.
cp gaugvals.dat all.dat
awk '$0 < "1981"' all.dat > gaugvals.dat
run occmodel
echo "occmodel on half the years: wall $wall s (ratio $(echo "$wall / $occmodel_wall" | bc -l | xargs printf '%.2f')), peak memory $mem kB"
awk 'substr($0, 10, 3) + 0 <= 100' all.dat > gaugvals.dat
run occmodel
echo "occmodel on half the gauges: wall $wall s (ratio $(echo "$wall / $occmodel_wall" | bc -l | xargs printf '%.2f')), peak memory $mem kB"
mv all.dat gaugvals.dat

echo "design store passes (build/bench/store_bench, 2.9 million records of 10 columns):"
"$build/bench/store_bench" | sed 's/^/  /'

# R's glm on the same site-days and the same kinds of covariates, the design already
# in memory: only the glm call is timed.
if command -v Rscript > /dev/null; then
  cat > glm_time.R <<'RCODE'
sl <- readLines("siteinfo.def")
first <- which(sl == "Sites:") + 1
dl <- sl[seq(first + 1, length(sl), by = 2)]
east <- as.numeric(substr(dl, 10, 19)); north <- as.numeric(substr(dl, 20, 29)); elev <- as.numeric(substr(dl, 30, 39))
g <- readLines("gaugvals.dat")
ns <- length(dl); nd <- length(g) / ns              # every site on every day, in site order
val <- matrix(as.numeric(substr(g, 13, 18)), nrow = ns)
day1 <- g[seq(1, length(g), by = ns)]
yr <- as.integer(substr(day1, 1, 4))
date <- as.Date(sprintf("%s-%s-%s", yr, substr(day1, 5, 6), substr(day1, 7, 8)))
doy <- as.numeric(date - as.Date(sprintf("%04d-01-01", yr))) + 1
prev <- cbind(NA, val[, -nd])
share <- colSums(prev > 0, na.rm = TRUE) / colSums(prev >= 0, na.rm = TRUE)
site <- rep(seq_len(ns), nd); day <- rep(seq_len(nd), each = ns)
d <- data.frame(v = as.vector(val), p = as.vector(prev), east = east[site], north = north[site], elev = elev[site],
                trend = 0.1 * (yr[day] - 1950), c1 = cos(2 * pi * doy[day] / 365.25), s1 = sin(2 * pi * doy[day] / 365.25),
                c2 = cos(4 * pi * doy[day] / 365.25), s2 = sin(4 * pi * doy[day] / 365.25), share = share[day])
d <- d[!is.na(d$p) & d$p >= 0 & d$v >= 0, ]
occ <- transform(d, y = as.numeric(v > 0), own = as.numeric(p > 0))
amt <- transform(d[d$v > 0, ], y = v, own = log1p(p))
f <- y ~ east + north + elev + trend + c1 + s1 + c2 + s2 + own + share
t1 <- system.time(glm(f, binomial, occ))
t2 <- system.time(glm(f, Gamma(link = "log"), amt))
cat(sprintf("occmodel %.2f %.2f %d\namtmodel %.2f %.2f %d\n", t1[["elapsed"]], t1[["user.self"]] + t1[["sys.self"]],
            nrow(occ), t2[["elapsed"]], t2[["user.self"]] + t2[["sys.self"]], nrow(amt)))
RCODE
  Rscript glm_time.R > glm.txt
  while read -r prog gwall gcpu n; do
    pwall="${prog}_wall" pcpu="${prog}_cpu"
    echo "$prog against R glm on $n site-days in memory ($gwall s wall, $gcpu s CPU): \
whole run / glm fit = $(echo "${!pwall} / $gwall" | bc -l | xargs printf '%.2f') wall, \
$(echo "${!pcpu} / $gcpu" | bc -l | xargs printf '%.2f') CPU (target 0.2)"
  done < glm.txt
else
  echo "R is not installed: no comparison with its glm"
fi
