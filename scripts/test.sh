#!/usr/bin/env bash
# Installs what the machine lacks for the build and the tests, builds everything
# (Release) and runs every unit and end-to-end test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install_deps.sh --tests
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DRAINGLM_TESTS=ON >/dev/null
cmake --build build -j "$(nproc)"
cd build
ctest --output-on-failure -j "$(nproc)"
