#!/bin/bash
# Builds the fuzz targets (CMake option ZUVIAN_FUZZ: clang, libFuzzer, ASan and UBSan) in
# build-fuzz/ and runs each target in turn, starting from its seed corpus in fuzz/corpus/<target>.
#
#   scripts/fuzz.sh              30 seconds per target
#   scripts/fuzz.sh 120          120 seconds per target
#   scripts/fuzz.sh --runs N     N executions per target
#   scripts/fuzz.sh 30 fuzz_sii  only the named targets
#
# New inputs the fuzzer finds go to build-fuzz/corpus/<target>, crashes to
# build-fuzz/artifacts/<target>/. Exits non-zero when a target crashed, hung (10 s per input),
# leaked or ran out of memory; a crash input belongs in fuzz/corpus/<target> once it is fixed.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build-fuzz"

limit="-max_total_time=30"
if [ "${1:-}" = "--runs" ]; then
  limit="-runs=${2:?--runs needs a count}"
  shift 2
elif [ -n "${1:-}" ] && [ "${1#-}" = "$1" ] && [ -z "${1//[0-9]/}" ]; then
  limit="-max_total_time=$1"
  shift
fi

cmake -S "$top" -B "$build" -DZUVIAN_FUZZ=ON -DZUVIAN_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for src in "$top"/fuzz/fuzz_*.cpp; do
    targets+=("$(basename "$src" .cpp)")
  done
fi
cmake --build "$build" -j2 --target "${targets[@]}"

# A smaller quarantine keeps the resident size of a long run well below libFuzzer's limit.
export ASAN_OPTIONS="${ASAN_OPTIONS:-quarantine_size_mb=64}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1}"
export QT_QPA_PLATFORM=offscreen

status=0
summary=""
for t in "${targets[@]}"; do
  work="$build/corpus/$t"
  artifacts="$build/artifacts/$t"
  mkdir -p "$work" "$artifacts"
  log="$build/$t.log"
  echo "=== $t ($limit) ==="
  if (cd "$build" && "./$t" "$limit" -timeout=10 -print_final_stats=1 \
        -artifact_prefix="$artifacts/" "$work" "$top/fuzz/corpus/$t") >"$log" 2>&1; then
    result=ok
  else
    result=FAILED
    status=1
    grep -E "ERROR|SUMMARY|runtime error|Test unit written" "$log" | head -20 || true
  fi
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  echo "$t: $result, ${execs:-?} executions (log: $log)"
  summary+="$t: $result, ${execs:-?} executions"$'\n'
done
echo "=== fuzz summary ==="
printf "%s" "$summary"
exit $status
