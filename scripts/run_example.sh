#!/usr/bin/env bash
# Builds the programs and runs the main job on the example gauge network, answering
# the programs' questions from example/answers_*.txt. Everything is written to run/
# (created afresh), so the example files stay as they are.
#  1. run/: the network in the suite's own files (example/): fits the occurrence and
#     the amount model, copies the fitted definitions (.de2) to the model
#     definitions (.def) and simulates from them, continuing the observed record.
#  2. run/csv/: the whole path of a user who keeps the records as CSV tables: imports
#     example/csv (1995-2004), fits both models of example/csv (dependence decaying
#     with distance, gauge co-ordinates as covariates), simulates 100 realisations of
#     the same ten years with no observations to lean on (run/csv/sim/), and writes
#     the validation report with its plots and report.html (run/csv/validation/).
# Installs first what the machine lacks (scripts/install_deps.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install_deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j "$(nproc)" --target amtmodel occmodel dailygen raincsv
bin="$PWD/build"
answers="$PWD/example"

fit_both() {
  for program in occmodel amtmodel; do
    echo "=== $program"
    "$bin/$program/$program" < "$answers/answers_$program.txt"
  done
  cp logistic.de2 logistic.def
  cp gammamdl.de2 gammamdl.def
}

rm -rf run
mkdir run
cp example/siteinfo.def example/gaugvals.dat example/logistic.def example/gammamdl.def example/regions.def run/
(
  cd run
  fit_both
  echo "=== dailygen"
  "$bin/dailygen/dailygen" < "$answers/answers_dailygen.txt"
)

echo
echo "=== raincsv import"
"$bin/raincsv/raincsv" import --sites example/csv/stations.csv --daily example/csv/daily.csv \
  --from 1995 --to 2004 --out run/csv
cp example/csv/logistic.def example/csv/gammamdl.def run/csv/
cd run/csv
fit_both
# The simulation gets an empty data file, so that every day is simulated.
mkdir sim
cp siteinfo.def regions.def logistic.def gammamdl.def sim/
: > sim/gaugvals.dat
echo "=== dailygen: 100 realisations of 1995-2004 (console in run/csv/sim/dailygen.log)"
(cd sim && "$bin/dailygen/dailygen" < "$answers/answers_dailygen_validation.txt" > dailygen.log)
echo "=== raincsv report (wet days as the occurrence model defines them)"
"$bin/raincsv/raincsv" report . sim validation
echo
echo "=== files in run/ and run/csv/validation/:"
ls -l .. validation
