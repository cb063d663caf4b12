#!/usr/bin/env bash
# Times the inter-site dependence step of both fitting programs (wall and processor
# time of that step alone): on the 20-gauge example network as shipped, and on the
# 200-gauge, 40-year network of make_network.sh with a latent exponential
# correlation structure for occurrence, and on the same network with the wet/dry
# weather state for occurrence. Usage: bench/dep_bench.sh [build directory].
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

mkdir "$work/example" "$work/network" "$work/weather"
cd "$work/example"
cp "$root"/example/*.def "$root"/example/gaugvals.dat .
echo "example network (20 gauges, 10 years):"
"$build/bench/depest_bench" occmodel < "$root/example/answers_occmodel.txt" > occ.out
"$build/bench/depest_bench" amtmodel < "$root/example/answers_amtmodel.txt" > amt.out

cd "$work/network"
bash "$root/bench/make_network.sh" "   10    0.0100    3    1    0"
echo "benchmark network (200 gauges, 40 years, latent exponential correlations):"
printf 'Y\n\nN\n' > answers
"$build/bench/depest_bench" occmodel < answers > occ.out
"$build/bench/depest_bench" amtmodel < answers > amt.out

cd "$work/weather"
bash "$root/bench/make_network.sh" "   10    0.5000   21    1    0"
echo "benchmark network with the wet/dry weather state:"
printf '\n\nN\n' | "$build/bench/depest_bench" occmodel > occ.out
