#!/usr/bin/env bash
# Builds the programs and runs the main job on the example gauge network in example/:
# fits the occurrence and the amount model, copies the fitted definitions (.de2) to
# the model definitions (.def) and simulates from them, answering the programs'
# questions from example/answers_*.txt. Everything is written to run/ (created
# afresh), so the example files stay as they are.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j "$(nproc)" --target amtmodel occmodel dailygen
rm -rf run
mkdir run
cp example/siteinfo.def example/gaugvals.dat example/logistic.def example/gammamdl.def example/regions.def run/
cd run
for program in occmodel amtmodel; do
  echo "=== $program"
  "../build/$program/$program" < "../example/answers_$program.txt"
done
cp logistic.de2 logistic.def
cp gammamdl.de2 gammamdl.def
echo "=== dailygen"
../build/dailygen/dailygen < ../example/answers_dailygen.txt
echo
echo "=== files in run/:"
ls -l
