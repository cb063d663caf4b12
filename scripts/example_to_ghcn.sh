#!/usr/bin/env bash
# Writes the example network's gauge records (example/csv) in the form of the daily
# station archive GHCN-Daily, as test data for raincsv import --ghcn: one .dly file
# per gauge (element PRCP, tenths of mm rounded half up from the 0.01 mm of the
# CSV, -9999 for a missing day) and the station list ghcnd-stations.txt. Station IDs
# are "ITE0000" and the gauge code; latitude and longitude are recovered from the
# CSV's km co-ordinates (east and north of lat 46.14861, lon 11.02719 on an
# equirectangular projection with R = 6371 km).
# Usage: scripts/example_to_ghcn.sh OUT_DIR [stations.csv daily.csv]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
out="${1:?usage: example_to_ghcn.sh OUT_DIR [stations.csv daily.csv]}"
stations="${2:-$root/example/csv/stations.csv}"
daily="${3:-$root/example/csv/daily.csv}"
mkdir -p "$out"

# Columns: code,name,x_km,y_km,elevation_km,elevation_m,...
awk -F, 'NR > 1 {
  pi = atan2(0, -1); lat0 = 46.14861; lon0 = 11.02719; r = 6371
  lat = lat0 + $4 / r * 180 / pi
  lon = lon0 + $3 / (r * cos(lat0 * pi / 180)) * 180 / pi
  printf "%-11s %8.4f %9.4f %6.1f %-2s %-30s %-3s %-3s %-5s\n", "ITE0000" $1, lat, lon, $6, "", $2, "", "", ""
}' "$stations" > "$out/ghcnd-stations.txt"

# One record per gauge and month: ID, year, month, PRCP, then 31 days of a 5-column
# value and three flags (measurement and quality blank, source E).
tail -n +2 "$daily" | sort -t, -k1,1 -k2,2n -k3,3n -k4,4n | awk -F, -v out="$out" '
function flush(   d, line) {
  if (key == "") return
  line = sprintf("%-11s%04d%02d%s", "ITE0000" code, year, month, "PRCP")
  for (d = 1; d <= 31; d++) line = line ((d in v) ? sprintf("%5d  E", v[d]) : sprintf("%5d   ", -9999))
  print line > (out "/ITE0000" code ".dly")
  delete v
}
{
  k = $1 "," $2 "," $3
  if (k != key) { flush(); key = k; code = $1; year = $2; month = $3 }
  if ($5 + 0 < 0) v[$4 + 0] = -9999
  else { h = int($5 * 100 + 0.5); v[$4 + 0] = int((h + 5) / 10) }
}
END { flush() }'
