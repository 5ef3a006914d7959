#!/usr/bin/env bash
# Builds and runs every test: the normal build, the whole suite under AddressSanitizer +
# UndefinedBehaviorSanitizer, the realtime tests under ThreadSanitizer, and short fuzz runs.
# Ends with the normal build's ctest summary.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
"$root/scripts/setup.sh"

jobs=$(nproc)
ctest_args=(--output-on-failure --timeout 600 --parallel "$jobs")
werror=-DBREVALO_WERROR=ON

step() { printf '\n==== %s ====\n' "$*"; }

step "ThreadSanitizer build (realtime tests)"
"$root/scripts/build.sh" build-tsan $werror -DBREVALO_SANITIZE=thread -DBREVALO_BENCH=OFF
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$root/scripts/tsan.supp" \
  "$root/scripts/test-env.sh" ctest --test-dir build-tsan "${ctest_args[@]}"

step "AddressSanitizer + UndefinedBehaviorSanitizer build (whole suite)"
"$root/scripts/build.sh" build-asan $werror -DBREVALO_SANITIZE=address -DBREVALO_BENCH=OFF
ASAN_OPTIONS="detect_leaks=1 abort_on_error=1" UBSAN_OPTIONS="print_stacktrace=1 halt_on_error=1" \
  "$root/scripts/test-env.sh" ctest --test-dir build-asan "${ctest_args[@]}"

if ls fuzz/*.cmake >/dev/null 2>&1; then
  step "Fuzz targets (clang libFuzzer, short runs)"
  CC=clang CXX=clang++ "$root/scripts/build.sh" build-fuzz $werror -DBREVALO_FUZZ=ON \
    -DBREVALO_TESTS=OFF -DBREVALO_BENCH=OFF
  "$root/scripts/test-env.sh" ctest --test-dir build-fuzz -L fuzz --output-on-failure --timeout 300
fi

step "Normal build (whole suite)"
"$root/scripts/build.sh" build $werror
"$root/scripts/test-env.sh" ctest --test-dir build "${ctest_args[@]}"
