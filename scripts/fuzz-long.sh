#!/usr/bin/env bash
# Builds the libFuzzer targets (build-fuzz, clang-14) and runs each for N
# seconds (default 600): fuzz-long.sh [seconds] [target...]. Targets run one
# after the other; start two copies with different targets to use both cores.
# New inputs go to build-fuzz/corpus/<target>, seeded from the small corpus
# kept in tests/fuzz/corpus/<target>; findings land in build-fuzz/findings.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(nvrwrite replyreader localpeer)
dir=${AUX_NVRAM_FUZZ_BUILD_DIR:-build-fuzz}

scripts/setup.sh
need=()
for p in clang-14 libclang-rt-14-dev; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
    sudo_cmd=()
    [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
    export DEBIAN_FRONTEND=noninteractive
    "${sudo_cmd[@]}" apt-get update -q
    "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${need[@]}"
fi

if [ -z "${AUX_NVRAM_FUZZ_NO_BUILD:-}" ]; then
    CC=clang-14 CXX=clang++-14 cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DAUX_NVRAM_FUZZ=ON >/dev/null
    cmake --build "$dir" -j"$(nproc)" --target fuzz_nvrwrite fuzz_replyreader fuzz_localpeer
fi

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1:halt_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$PWD/tests/fuzz/lsan-thirdparty.supp:print_suppressions=0
mkdir -p "$dir/findings"
status=0
for t in "${targets[@]}"; do
    mkdir -p "$dir/corpus/$t"
    echo "fuzz: $t for $seconds s"
    # The first directory receives new inputs; the seeds stay untouched.
    if ! "$dir/fuzz/fuzz_$t" -max_total_time="$seconds" -max_len=1024 -timeout=10 \
            -rss_limit_mb=2048 -malloc_limit_mb=256 -print_final_stats=1 \
            -artifact_prefix="$dir/findings/$t-" \
            "$dir/corpus/$t" "tests/fuzz/corpus/$t" 2>&1 \
            | grep -v -e propagateSizeHints -e XDG_RUNTIME_DIR >"$dir/findings/$t.log"; then
        status=1
    fi
    grep -E "stat::number_of_executed_units|Done [0-9]+ runs|ERROR|SUMMARY" "$dir/findings/$t.log" || true
done
exit $status
