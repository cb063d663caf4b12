#!/usr/bin/env bash
# Times raincsv export of a simulation of bench/sim_bench.sh (20 gauges, latent
# occurrence and correlated amounts, 100 realisations of 30 years, 21.9 million
# site-days) to NetCDF against the CSV export: wall and CPU time, peak memory and
# file size; with Python's netCDF4, also the time to read one gauge's series of every
# realisation and one realisation of every gauge from the NetCDF file.
# Usage: bench/netcdf_bench.sh [build directory].
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
raincsv="$build/raincsv/raincsv"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

SIM_BENCH_DIR="$work" GAUGES=20 SCHEMES=corr REPEAT=1 bash "$root/bench/sim_bench.sh" "$build" "" 21.9 > "$work/sim.txt"
cd "$work"

measure() {  # label, output file, command...
  local label=$1 file=$2
  shift 2
  /usr/bin/time -v "$@" > out.txt 2> time.txt || { cat out.txt time.txt; exit 1; }
  echo "$label: wall $(grep 'Elapsed (wall clock)' time.txt | awk '{print $NF}'), \
cpu $(awk -F': ' '/User time|System time/ {t += $2} END {printf "%.2f s", t}' time.txt), \
peak memory $(grep 'Maximum resident' time.txt | awk '{print $NF}') kB, \
$file $(du -m "$file" | cut -f1) MB"
}

echo "daily.dat: $(wc -l < daily.dat) records, $(du -m daily.dat | cut -f1) MB"
measure "export to CSV" daily.csv sh -c "\"$raincsv\" export daily.dat --sites siteinfo.def > daily.csv"
measure "export to NetCDF" daily.nc "$raincsv" export daily.dat --sites siteinfo.def --netcdf daily.nc
measure "monthly.dat to NetCDF" monthly.nc "$raincsv" export monthly.dat --netcdf monthly.nc
gzip -1 -c daily.csv > daily.csv.gz
echo "daily.csv compressed by gzip -1: $(du -m daily.csv.gz | cut -f1) MB"

if /usr/bin/python3 -c 'import netCDF4' 2>/dev/null; then
  /usr/bin/python3 - <<'PY'
import time
import netCDF4
ds = netCDF4.Dataset("daily.nc")
pr = ds["pr"]
t = time.process_time(); g = pr[:, :, 7]; a = time.process_time() - t
t = time.process_time(); r = pr[:, 41, :]; b = time.process_time() - t
t = time.process_time(); w = pr[:, :, :]; c = time.process_time() - t
print(f"read with netCDF4: one gauge, every realisation {g.shape} {a:.2f} s CPU; "
      f"one realisation, every gauge {r.shape} {b:.2f} s; everything {w.shape} {c:.2f} s")
PY
fi
