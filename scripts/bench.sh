#!/usr/bin/env bash
# Builds the benchmarks without sanitizers and runs them: scripts/bench.sh [filter]
source "$(dirname "$0")/common.sh"

# qimgv is the yardstick of bench/folder_peer.sh, run beside this script.
BENCH_PACKAGES="qimgv"
install_packages $BUILD_PACKAGES $TEST_PACKAGES $BENCH_PACKAGES
dir="$ROOT/build/bench"
configure "$dir" -DCMAKE_BUILD_TYPE=Release -DPICTROVA_TESTS=OFF -DPICTROVA_BENCH=ON
build "$dir" --target pictrova_bench
"$dir/bench/pictrova_bench" --benchmark_filter="${1:-.}"
