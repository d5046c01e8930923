#!/usr/bin/env bash
# Builds the tool and the benchmark in Release (build-bench) and runs every
# benchmark case against the simulated board. Prints a table and writes
# bench/results/latest.json. Not part of the test run. Extra arguments go to
# aux-bench (e.g. --only read-1000-paced,idle-10s).
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${AUX_NVRAM_BENCH_BUILD_DIR:-build-bench}
scripts/setup.sh
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DAUX_NVRAM_BUILD_TESTS=OFF \
    -DAUX_NVRAM_BUILD_BENCH=ON >/dev/null
cmake --build "$dir" -j"$(nproc)"
"$dir/bench/aux-bench" --out bench/results/latest.json "$@"
