#!/usr/bin/env bash
# Joins the blocks written by sim_blocks.sh into one tidy CSV on standard output:
#
#   sim_merge.sh OUT_DIR > daily.csv
#
# columns realisation,date,code,value_mm,observed (one row per realisation, gauge and
# day; see raincsv export), the blocks in the order of OUT_DIR/blocks.txt (the order
# of the seeds given to sim_blocks.sh), their realisations renumbered 1..N. The same
# list of seeds therefore gives the same file. RAINCSV names the exporter (default:
# the build tree beside this script).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
RAINCSV="${RAINCSV:-$here/../build/raincsv/raincsv}"

fail() { echo "sim_merge.sh: $*" >&2; exit 1; }
[ $# -eq 1 ] || { sed -n '2,10p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2; }
out="$1"
[ -f "$out/blocks.txt" ] || fail "no $out/blocks.txt: run sim_blocks.sh first"
[ -x "$RAINCSV" ] || fail "no exporter at $RAINCSV (set RAINCSV)"

offset=0
header=1
while read -r index seed reals; do
  dir="$out/$(printf 'block%04d' "$index")"
  [ -f "$dir/daily.dat" ] || fail "block $index (seed $seed) has no daily.dat"
  "$RAINCSV" export "$dir/daily.dat" --sites "$dir/siteinfo.def" |
    awk -F, -v OFS=, -v off="$offset" -v header="$header" -v reals="$reals" -v block="$index" '
      NR == 1 { if (header) print; next }
      $1 < 1 || $1 > reals { print "sim_merge.sh: block " block " holds realisation " $1 > "/dev/stderr"; exit 1 }
      { $1 += off; print }'
  offset=$((offset + reals))
  header=0
done < "$out/blocks.txt"
