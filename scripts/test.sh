#!/bin/bash
# Installs what the tests need, then builds and runs the whole test suite twice: once plain and
# optimized (RelWithDebInfo, where the compiler's flow analysis finds what a debug build does not
# see) and once unoptimized with AddressSanitizer and UndefinedBehaviorSanitizer; then runs every
# fuzz target for 20 seconds from its corpus, so an input that once crashed cannot crash again
# unnoticed (ZUVIAN_FUZZ_SECONDS changes the time, 0 skips the step). Run as root on Debian 12
# (the raw socket tests create a veth pair and need root).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/install-deps.sh" test fuzz

jobs=$(nproc 2>/dev/null || echo 2)
status=0
for variant in plain sanitize; do
  build="$top/build-test-$variant"
  sanitize=OFF
  type=RelWithDebInfo
  if [ "$variant" = sanitize ]; then
    sanitize=ON
    type=Debug
  fi
  echo "=== $variant build ($type) ==="
  cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=$type -DZUVIAN_SANITIZE=$sanitize
  cmake --build "$build" -j"$jobs"
  echo "=== $variant tests ==="
  log="$build/test-output.log"
  if ! (cd "$build" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure --no-tests=error) 2>&1 | tee "$log"; then
    status=1
  fi
  # A skipped test hides a missing check, so in CI it counts as a failure.
  if [ -n "${CI:-}" ] && grep -q '\[  SKIPPED \]' "$build"/Testing/Temporary/LastTest.log 2>/dev/null; then
    echo "Skipped tests in the $variant run count as failures in CI:"
    grep '\[  SKIPPED \]' "$build"/Testing/Temporary/LastTest.log | sort -u
    status=1
  fi
done

fuzz_seconds="${ZUVIAN_FUZZ_SECONDS:-20}"
if [ "$fuzz_seconds" != 0 ]; then
  echo "=== fuzz targets (${fuzz_seconds} s each) ==="
  if ! "$top/scripts/fuzz.sh" "$fuzz_seconds"; then
    status=1
  fi
fi
exit $status
