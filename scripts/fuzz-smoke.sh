#!/usr/bin/env bash
# CI step: builds the libFuzzer targets and runs each for about 10 s on the
# seed corpus kept in tests/fuzz/corpus (about 30 s in all).
set -euo pipefail
cd "$(dirname "$0")/.."
exec scripts/fuzz-long.sh "${AUX_NVRAM_FUZZ_SMOKE_SECONDS:-10}"
