#!/usr/bin/env bash
# Builds the tool and its tests with AddressSanitizer and
# UndefinedBehaviorSanitizer into build-asan and runs the whole test suite
# there. Any sanitizer report fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${AUX_NVRAM_ASAN_BUILD_DIR:-build-asan}
start_seconds=$SECONDS

scripts/setup.sh
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Debug -DAUX_NVRAM_SANITIZE=ON >/dev/null
cmake --build "$dir" -j"$(nproc)"

# Third-party leaks only (Qt's plugins, fontconfig); never our code.
supp="$PWD/scripts/lsan-thirdparty.supp"

export ASAN_OPTIONS=detect_leaks=1:halt_on_error=1:abort_on_error=0:strict_string_checks=1:detect_stack_use_after_return=1:check_initialization_order=1:exitcode=86
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1:exitcode=87
export LSAN_OPTIONS=suppressions=$supp:print_suppressions=0

cd "$dir"
ctest --output-on-failure --parallel 2 --timeout 600
echo "ci-sanitize: passed in $((SECONDS - start_seconds)) s"
