#!/usr/bin/env bash
# Times raincsv on synthetic data: the import of 200 gauges x 40 years (about 2.9
# million CSV rows, in shuffled gauge order) and the validation report on 100
# realisations of 20 gauges x 30 years (daily.dat of 1.1 million records); wall time
# and peak memory from /usr/bin/time -v. Usage: bench/raincsv_bench.sh [build directory].
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
raincsv="$build/raincsv/raincsv"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"

measure() {  # label, command...
  local label=$1
  shift
  /usr/bin/time -v "$@" > out.txt 2> time.txt || { cat out.txt time.txt; exit 1; }
  echo "$label: wall $(grep 'Elapsed (wall clock)' time.txt | awk '{print $NF}'), \
cpu $(awk -F': ' '/User time|System time/ {t += $2} END {printf "%.2f s", t}' time.txt), \
peak memory $(grep 'Maximum resident' time.txt | awk '{print $NF}') kB"
}

# 200 gauges with a quoted name holding a comma, co-ordinates and elevation.
awk 'BEGIN {
  srand(3)
  print "code,name,x_km,y_km,elevation_m"
  for (s = 1; s <= 200; s++) printf "G%03d,\"Gauge %d, valley\",%.3f,%.3f,%d\n", s, s, 300 * rand(), 300 * rand(), 100 + 2000 * rand()
}' > stations.csv

# 1961-2000, one row per gauge and day, gauges of a day in reverse order; 1 % missing.
awk 'BEGIN {
  srand(5)
  print "code,year,month,day,value_mm"
  split("31 28 31 30 31 30 31 31 30 31 30 31", len, " ")
  for (y = 1961; y <= 2000; y++)
    for (m = 1; m <= 12; m++) {
      n = len[m] + (m == 2 && y % 4 == 0)
      for (d = 1; d <= n; d++)
        for (s = 200; s >= 1; s--) {
          r = rand()
          if (r < 0.01) v = "NA"; else if (r < 0.35) v = sprintf("%.2f", -log(1 - rand()) * 5); else v = "0.00"
          printf "G%03d,%d,%d,%d,%s\n", s, y, m, d, v
        }
    }
}' > daily.csv
echo "import input: $(($(wc -l < daily.csv) - 1)) daily rows"
measure "raincsv import" "$raincsv" import --sites stations.csv --daily daily.csv --out obs

# Report: the first 20 gauges as observations (1971-2000) and a synthetic daily.dat
# of 100 realisations of the same 30 years.
head -21 stations.csv > stations20.csv
awk -F, 'NR == 1 || ($1 <= "G020" && $2 >= 1971)' daily.csv > daily20.csv
"$raincsv" import --sites stations20.csv --daily daily20.csv --out obs20 > /dev/null
mkdir sim
cp obs20/siteinfo.def sim/   # the report matches the simulation's gauges by code
awk 'BEGIN {
  srand(9)
  split("31 28 31 30 31 30 31 31 30 31 30 31", len, " ")
  for (r = 1; r <= 100; r++)
    for (y = 1971; y <= 2000; y++)
      for (m = 1; m <= 12; m++) {
        n = len[m] + (m == 2 && y % 4 == 0)
        for (d = 1; d <= n; d++) {
          line = sprintf("%3d %4d %2d %2d ", r, y, m, d)
          common = rand()
          for (s = 1; s <= 20; s++) {
            v = (0.6 * common + 0.4 * rand() < 0.4) ? -log(1 - rand()) * 5 : 0
            line = line sprintf("%6.2f 1 ", v)
          }
          print line
        }
      }
}' > sim/daily.dat
echo "report input: $(wc -l < sim/daily.dat) daily records of 20 gauges"
measure "raincsv report (validation.csv and plots)" "$raincsv" report --threshold 0.3 obs20 sim report
measure "raincsv export daily.dat (21.9 million rows to /dev/null)" sh -c "\"$raincsv\" export sim/daily.dat --sites obs20/siteinfo.def > /dev/null"
