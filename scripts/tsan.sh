#!/usr/bin/env bash
# Builds the view tests with ThreadSanitizer in a folder of their own and runs
# the thumbnail loader's tests: scripts/tsan.sh [gtest filter]
source "$(dirname "$0")/common.sh"

install_packages $BUILD_PACKAGES $TEST_PACKAGES
dir="$ROOT/build/tsan"
export CCACHE_BASEDIR="$ROOT"
configure "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g" \
  -DCMAKE_CXX_FLAGS=-fsanitize=thread -DCMAKE_C_FLAGS=-fsanitize=thread \
  -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread -DPICTROVA_TESTS=ON -DPICTROVA_BENCH=OFF
build "$dir" --target pictrova_views_tests
say "Running the loader under ThreadSanitizer"
export QT_QPA_PLATFORM=offscreen
export TSAN_OPTIONS="halt_on_error=1:suppressions=$ROOT/tests/tsan.supp"
"$dir/tests/pictrova_views_tests" --gtest_filter="${1:-TLoader*:Starter*:MView.*}" || fail "ThreadSanitizer"
say "No data race found"
