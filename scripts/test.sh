#!/usr/bin/env bash
# Installs what is missing, builds everything with AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs every test (unit tests, fuzz corpus
# replays, the smoke test of the real program under a virtual display).
source "$(dirname "$0")/common.sh"

install_packages $BUILD_PACKAGES $TEST_PACKAGES
dir="$ROOT/build/test"
export CCACHE_BASEDIR="$ROOT"
configure "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g" \
  -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -g" -DPICTROVA_SANITIZE=ON -DPICTROVA_TESTS=ON -DPICTROVA_BENCH=ON
build "$dir"

say "Running the tests"
export ASAN_OPTIONS="detect_leaks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$ROOT/tests/lsan.supp:print_suppressions=0"
export QT_QPA_PLATFORM=offscreen
jobs=$(nproc)
cd "$dir"
ctest --output-on-failure --timeout 600 -j "$jobs" || fail "tests"
say "All tests passed"
