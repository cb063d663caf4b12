#!/usr/bin/env bash
# Builds the programs and runs the main job on the example gauge network shipped in
# example/: the programs' questions are answered from example/answers_*.txt.
# Everything is written to run/ (created afresh) so the example files stay clean.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j "$(nproc)" --target amtmodel occmodel dailygen
rm -rf run
mkdir run
cp example/siteinfo.def example/gaugvals.dat example/gammamdl.def example/logistic.def example/regions.def run/
cd run
echo "=== amtmodel"
../build/amtmodel/amtmodel < ../example/answers_amtmodel.txt
echo "=== results in run/:"
ls
