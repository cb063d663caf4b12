#!/usr/bin/env bash
# Times both fitting programs on the synthetic network of make_network.sh (200
# gauges, 40 years, about 2.9 million site-days, 10-covariate models): wall and CPU
# time and peak memory from /usr/bin/time -v, the residual listing on its own, the
# passes over the design store (bench/store_bench), and, when R is installed, the
# ratio of each whole run to R's glm fitting the same site-days already in memory.
# Usage: bench/fit_bench.sh [build directory] (default build).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"

# Occurrence with the weather-state structure: its dependence step is a few passes
# over the store, so the run stays a measure of the fit (the latent correlations of
# 20,000 pairs are timed by dep_bench.sh).
bash "$root/bench/make_network.sh" "   10    0.5000   21    1    0"
echo "data: $(wc -l < gaugvals.dat) records"

# Each program twice: once declining the residual listing (the whole run the targets
# speak of: data pass, fit, results, updated definition, residual analysis), once
# writing it, with the console time-stamped to time the listing alone.
stamp() { perl -MTime::HiRes=time -e 'printf "%.3f", time'; }
for prog in occmodel amtmodel; do
  printf '\n\nN\n' | /usr/bin/time -v "$build/$prog/$prog" > "$prog.out" 2> "$prog.time"
  wall=$(awk -F': ' '/Elapsed \(wall clock\)/ { n = split($2, t, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + t[i]; print s }' "$prog.time")
  cpu=$(awk -F': ' '/User time|System time/ { s += $2 } END { print s }' "$prog.time")
  echo "$prog: $(grep -m1 'Number of observations' "$prog.out" | sed 's/  */ /g'), \
$(grep -c '^Beginning iteration' "$prog.out") iterations, \
wall $wall s, CPU $cpu s, \
peak memory $(grep 'Maximum resident' "$prog.time" | awk '{print $NF}') kB"
  eval "${prog}_wall=$wall ${prog}_cpu=$cpu"
  rm -f ./*.res ./*.de2 ./cor_*.dat ./res_*.dat
  start=$(stamp)
  "$build/$prog/$prog" < /dev/null | perl -MTime::HiRes=time -ne 'BEGIN { $| = 1 } print time, " ", $_; END { print time, " end\n" }' > "$prog.stamped"
  asked=$(grep -m1 'Generate' "$prog.stamped" | cut -d' ' -f1)
  ended=$(tail -1 "$prog.stamped" | cut -d' ' -f1)
  echo "  residual listing ($(($(wc -l < res_*.dat) - 1)) lines): $(echo "$ended - $asked" | bc | xargs printf '%.2f') s wall"
  rm -f ./*.res ./*.de2 ./cor_*.dat ./res_*.dat
done

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
