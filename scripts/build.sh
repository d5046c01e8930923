#!/usr/bin/env bash
# Configures and builds into build/ (or the directory given as $1); further
# arguments name the targets to build (all of them when none are named).
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
shift || true
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
targets=()
[ $# -gt 0 ] && targets=(--target "$@")
cmake --build "$dir" -j"$(nproc)" "${targets[@]}"
