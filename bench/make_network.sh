#!/usr/bin/env bash
# Writes the synthetic benchmark network into the current directory: 200 gauges over
# 40 years (about 2.9 million site-days), siteinfo.def, gaugvals.dat and 10-covariate
# models logistic.def and gammamdl.def. Usage: bench/make_network.sh [occurrence
# structure line] (default: constant inter-site correlation 0.3).
set -euo pipefail
occ_structure="${1:-   10    0.3000    2    1    0}"

# Sites: 200 gauges over 300 km square in 3 regions.
bash "$(dirname "$0")/synthetic_sites.sh" 200 300 3

# Daily values 1961-2000: occurrence depends on the season and yesterday, amounts
# are exponential with a seasonal mean; 1 % of values missing.
awk 'BEGIN {
  srand(7)
  split("31 28 31 30 31 30 31 31 30 31 30 31", len, " ")
  for (y = 1961; y <= 2000; y++)
    for (m = 1; m <= 12; m++) {
      n = len[m] + (m == 2 && y % 4 == 0)
      for (d = 1; d <= n; d++) {
        season = cos(6.2832 * ((m - 1) * 30.5 + d) / 365)
        for (s = 1; s <= 200; s++) {
          p = 0.25 + 0.1 * season + 0.3 * wet[s]
          if (rand() < 0.01) { v = -1; wet[s] = 0 }
          else if (rand() < p) { v = -log(1 - rand()) * (4 + 2 * season); if (v < 0.1) v = 0.1; wet[s] = 1 }
          else { v = 0; wet[s] = 0 }
          printf "%4d%2d%2dB%03d%6.2f\n", y, m, d, s, v
        }
      }
    }
}' > gaugvals.dat

header() { for i in $(seq 1 46); do echo "Benchmark model header line $i"; done; echo "line 47"; echo "$1"; }
{ header "Benchmark occurrence model"
  cat <<'DEF'
    0    0.0000    0    0    0 Constant
    1    0.0000    1    0    0 Eastings
    1    0.0000    2    0    0 Northings
    1    0.0000    3    0    0 Elevation
    2    0.0000    1    0    0 Trend
    4    0.0000   21    0    0 cos
    4    0.0000   22    0    0 sin
    4    0.0000   23    0    0 half-year cos
    4    0.0000   24    0    0 half-year sin
    4    0.0000    1    3    0 own wet yesterday
    4    0.0000    1   13    0 mean wet yesterday
DEF
  echo "$occ_structure"
} > logistic.def
{ header "Benchmark amounts model"
  cat <<'DEF'
    0    1.0000    0    0    0 Constant
    1    0.0000    1    0    0 Eastings
    1    0.0000    2    0    0 Northings
    1    0.0000    3    0    0 Elevation
    2    0.0000    1    0    0 Trend
    4    0.0000   21    0    0 cos
    4    0.0000   22    0    0 sin
    4    0.0000   23    0    0 half-year cos
    4    0.0000   24    0    0 half-year sin
    4    0.0000    1    2    0 ln(1+own yesterday)
    4    0.0000    1   13    0 mean wet yesterday
    9    1.0000    0    0    0
   10    0.3000    2    1    0
DEF
} > gammamdl.def
