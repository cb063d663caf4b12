#!/usr/bin/env bash
# Writes siteinfo.def of a synthetic benchmark network into the current directory:
# 38 header lines, the attribute count and names (eastings, northings, elevation),
# then a name line and a data line (code, region, X, Y, elevation) per gauge, the
# gauges scattered over a square at elevations 0.1-1 km.
# Usage: bench/synthetic_sites.sh gauges side-in-km regions
set -euo pipefail
awk -v n="$1" -v side="$2" -v regions="$3" 'BEGIN {
  for (i = 1; i <= 38; i++) print "Synthetic benchmark network, line " i
  print "    3"
  printf "%-70s\n%-70s\n%-70s\n", "Eastings (km)", "Northings (km)", "Elevation (km)"
  print "Sites:"
  srand(11)
  for (s = 1; s <= n; s++) {
    printf "%-70s\n", "Benchmark gauge " s
    printf "B%03d%5d%10.3f%10.3f%10.3f\n", s, 1 + s % regions, side * rand(), side * rand(), 0.1 + 0.9 * rand()
  }
}' > siteinfo.def
