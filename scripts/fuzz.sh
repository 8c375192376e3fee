#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and fuzzes one of them, adding what
# it finds to the saved corpus: scripts/fuzz.sh <target> [seconds]
source "$(dirname "$0")/common.sh"

[ $# -ge 1 ] || fail "usage: scripts/fuzz.sh <target> [seconds]"
install_packages $BUILD_PACKAGES $TEST_PACKAGES
dir="$ROOT/build/fuzz"
configure "$dir" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DPICTROVA_FUZZ=ON -DPICTROVA_TESTS=OFF -DPICTROVA_BENCH=OFF
build "$dir" --target "fuzz_$1"
mkdir -p "$ROOT/fuzz/corpus/$1"
say "Fuzzing $1 for ${2:-600} s"
"$dir/fuzz/fuzz_$1" -max_total_time="${2:-600}" "$ROOT/fuzz/corpus/$1"
