#!/usr/bin/env bash
# Runs a simulation in blocks of realisations, one dailygen run per seed, side by
# side on the cores of one machine (GNU parallel) or one after the other (-j 1).
#
#   sim_blocks.sh [-j JOBS] INPUT_DIR OUT_DIR START END REALISATIONS SEED...
#
# INPUT_DIR holds the simulation's input files (gaugvals.dat, regions.def,
# siteinfo.def, logistic.def, gammamdl.def and, when the models use them, the
# correlation and external predictor files). Every SEED makes one block: dailygen
# simulates REALISATIONS realisations (at most 999) from START to END (YYYYMM) with
# daily output for every realisation (output option 2) into OUT_DIR/blockNNNN, NNNN
# being the seed's position in the list. OUT_DIR/blocks.txt lists position, seed and
# realisations per block, in list order; sim_merge.sh joins the blocks in that
# order. JOBS defaults to the number of cores. DAILYGEN names the program (default:
# the build tree beside this script).
#
# A block's files depend only on the inputs, the period, its seed and its number of
# realisations, so running the blocks in parallel gives exactly the files that
# running them one after the other gives.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
DAILYGEN="${DAILYGEN:-$here/../build/dailygen/dailygen}"
INPUTS=(gaugvals.dat regions.def siteinfo.def logistic.def gammamdl.def cor_logi.dat cor_gamm.dat
        yr_preds.dat mn_preds.dat dy_preds.dat)

fail() { echo "sim_blocks.sh: $*" >&2; exit 1; }

# One block: position, seed. Its directory is made afresh.
run_block() {
  local in="$1" out="$2" start="$3" end="$4" reals="$5" index="$6" seed="$7"
  local dir f
  dir="$out/$(printf 'block%04d' "$index")"
  rm -rf "$dir"
  mkdir -p "$dir"
  for f in "${INPUTS[@]}"; do
    if [ -e "$in/$f" ]; then ln -s "$in/$f" "$dir/$f"; fi
  done
  # Four listings to continue past, the period, the number of realisations, daily
  # output of every realisation, the seed.
  if ! printf 'Y\nY\nY\nY\n%s\n%s\n%s\n2\n0\n%s\n' "$start" "$end" "$reals" "$seed" |
      (cd "$dir" && "$DAILYGEN") > "$dir/console.txt"; then
    fail "block $index (seed $seed) failed; its console output is in $dir/console.txt"
  fi
}

if [ "${1:-}" = "--one-block" ]; then
  shift
  run_block "$@"
  exit 0
fi

jobs="$(nproc 2>/dev/null || echo 1)"
if [ "${1:-}" = "-j" ]; then
  jobs="${2:-}"
  shift 2 || true
fi
[ $# -ge 6 ] || { sed -n '4,16p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2; }
in="$1" out="$2" start="$3" end="$4" reals="$5"
shift 5
seeds=("$@")

[[ "$jobs" =~ ^[1-9][0-9]*$ ]] || fail "JOBS must be a positive number, not '$jobs'"
[ -d "$in" ] || fail "no input directory $in"
in="$(cd "$in" && pwd)"
for f in gaugvals.dat regions.def siteinfo.def logistic.def gammamdl.def; do
  [ -e "$in/$f" ] || fail "$in/$f is missing"
done
[[ "$start" =~ ^[0-9]{6}$ && "$end" =~ ^[0-9]{6}$ ]] || fail "START and END are months as YYYYMM"
[[ "$reals" =~ ^[1-9][0-9]{0,2}$ ]] || fail "REALISATIONS must be 1 to 999 (three digits in daily.dat)"
declare -A seen=()
for s in "${seeds[@]}"; do
  [[ "$s" =~ ^[1-9][0-9]{0,8}$ ]] && [ "$s" -lt 424967291 ] || fail "a seed must be an integer from 1 to 424967290, not '$s'"
  [ -z "${seen[$s]:-}" ] || fail "seed $s is given twice: its blocks would be identical"
  seen[$s]=1
done
[ -x "$DAILYGEN" ] || fail "no simulation program at $DAILYGEN (set DAILYGEN)"
DAILYGEN="$(cd "$(dirname "$DAILYGEN")" && pwd)/$(basename "$DAILYGEN")"
export DAILYGEN

mkdir -p "$out"
out="$(cd "$out" && pwd)"
: > "$out/blocks.txt"
for i in "${!seeds[@]}"; do echo "$((i + 1)) ${seeds[$i]} $reals" >> "$out/blocks.txt"; done

if [ "$jobs" -eq 1 ]; then
  for i in "${!seeds[@]}"; do run_block "$in" "$out" "$start" "$end" "$reals" "$((i + 1))" "${seeds[$i]}"; done
else
  if ! parallel --version 2>/dev/null | grep -q 'GNU parallel'; then
    fail "GNU parallel is not installed (Debian package 'parallel'); install it, or give -j 1 to run the blocks one after the other"
  fi
  # {#} is the seed's position in the list, whatever order the blocks finish in.
  parallel --will-cite --halt now,fail=1 -j "$jobs" "$0" --one-block "$in" "$out" "$start" "$end" "$reals" '{#}' '{}' \
    ::: "${seeds[@]}"
fi
echo "$(wc -l < "$out/blocks.txt") blocks of $reals realisations in $out"
