#!/usr/bin/env bash
# Builds the example network in example/ from the Trentino gauge records
# (../shared/data/trentino, see its PROVENANCE.md): 20 gauges, 1995-2004.
# Gauge-months suspected of a one-day date shift in the source are set missing.
# Usage: bash scripts/make_trentino_example.sh [path/to/trentino]
set -euo pipefail
cd "$(dirname "$0")/.."
src=${1:-../shared/data/trentino}
out=example

{
  echo "Example network: daily precipitation at 20 gauges in Trentino (north-east Italian Alps)."
  echo "Source: Meteotrentino, Fondazione Edmund Mach, Provincia Autonoma di Bolzano, ARPA Lombardia,"
  echo "ARPA Veneto, as compiled in a published research data set (see example/README.md)."
  for i in $(seq 4 38); do echo "."; done
  echo "    3"
  printf '%-70s\n' "Eastings (km)" "Northings (km)" "Elevation (km)"
  echo "Gauges:"
  tr -d '\r' < "$src/stations.csv" | awk -F, 'NR > 1 {
    printf "%-70s\n", $2
    printf "%-4s%5d%10.3f%10.3f%10.3f\n", $1, 1, $3, $4, $5 / 1000
  }' 
} > "$out/siteinfo.def"

# Gauge order of the site file; records within a day follow it.
awk -F, 'NR == FNR { if (FNR > 1) suspect[$1 "," $2 "," $3] = 1; next }
         FNR > 1 && $2 >= 1995 && $2 <= 2004 {
           v = $5 + 0
           if (($1 "," $2 "," $3) in suspect) v = -1
           printf "%4d%2d%2d%-4s%6.2f\n", $2, $3, $4, $1, v
         }' "$src/suspect_shift_months.csv" "$src/daily.csv" | tr -d '\r' | LC_ALL=C sort -s -t'|' -k1.1,1.8 > "$out/gaugvals.dat"
