#!/usr/bin/env bash
# Builds the libFuzzer targets with clang, fuzzes one of them, and merges what
# it found into the saved corpus, minimised: scripts/fuzz.sh <target> [seconds]
# FUZZ_BUILD_DIR chooses the build folder (default build/fuzz). An input that
# takes more than FUZZ_TIMEOUT seconds (default 5) or a gigabyte is a finding:
# no input of the corpus needs a tenth of either, and a small file that costs
# that much freezes the program or takes its memory. Metafiles default to 30
# s: their drawing budgets allow about a second of work in a release build on
# the tall strip the target draws, and the fuzzing build's sanitizer and
# coverage make that work 25 times slower.
source "$(dirname "$0")/common.sh"

[ $# -ge 1 ] || fail "usage: scripts/fuzz.sh <target> [seconds]"
install_packages $BUILD_PACKAGES $TEST_PACKAGES
dir="${FUZZ_BUILD_DIR:-$ROOT/build/fuzz}"
configure "$dir" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DPICTROVA_FUZZ=ON -DPICTROVA_TESTS=OFF -DPICTROVA_BENCH=OFF
build "$dir" --target "fuzz_$1"
corpus="$ROOT/fuzz/corpus/$1"
work="$dir/work-$1"
rm -rf "$work"; mkdir -p "$work" "$corpus"
timeout=5
[ "$1" = metafile ] && timeout=30
say "Fuzzing $1 for ${2:-600} s"
export QT_QPA_PLATFORM=offscreen
"$dir/fuzz/fuzz_$1" -max_total_time="${2:-600}" -timeout="${FUZZ_TIMEOUT:-$timeout}" -rss_limit_mb=1024 \
  -malloc_limit_mb=512 "$work" "$corpus" \
  || fail "the fuzzer found a crash (see above; the input was saved in the current folder)"
say "Minimising the corpus"
merged="$dir/merged-$1"
rm -rf "$merged"; mkdir -p "$merged"
"$dir/fuzz/fuzz_$1" -merge=1 "$merged" "$corpus" "$work" >/dev/null 2>&1 || fail "corpus merge"
rm -rf "$corpus"; mkdir -p "$corpus"; cp "$merged"/* "$corpus"/
say "Corpus of $1: $(ls "$corpus" | wc -l) inputs"
