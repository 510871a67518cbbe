#!/bin/bash
# Builds the fuzz targets (CMake option ZUVIAN_FUZZ: clang, libFuzzer, ASan and UBSan) in
# build-fuzz/ and runs each target in turn, starting from its seed corpus in fuzz/corpus/<target>.
#
#   scripts/fuzz.sh              30 seconds per target
#   scripts/fuzz.sh 120          120 seconds per target
#   scripts/fuzz.sh --runs N     N executions per target
#   scripts/fuzz.sh 1200 --runs 10000000
#                                whichever of the two comes first
#   scripts/fuzz.sh 30 fuzz_sii  only the named targets
#
# Every target runs in processes of at most 2 000 000 executions (ZUVIAN_FUZZ_CHUNK to change),
# each going on from the corpus the one before left. New inputs the fuzzer finds go to
# build-fuzz/corpus/<target>, crashes to build-fuzz/artifacts/<target>/, the output of every
# process to build-fuzz/<target>.log (build-fuzz/<target>.<tag>.log with ZUVIAN_FUZZ_TAG=<tag>, so
# that two runs of one target can share the cores and the corpus). Exits non-zero when a target
# crashed, hung (one input running longer than 1 s: no input may cost more; ZUVIAN_FUZZ_TIMEOUT to
# change), leaked or ran out of memory; a crash input belongs in fuzz/corpus/<target> once it is
# fixed.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build-fuzz"

seconds=0
runs=0
while [ $# -gt 0 ]; do
  if [ "$1" = "--runs" ]; then
    runs="${2:?--runs needs a count}"
    shift 2
  elif [ "${1#-}" = "$1" ] && [ -z "${1//[0-9]/}" ]; then
    seconds=$1
    shift
  else
    break
  fi
done
if [ "$seconds" -eq 0 ] && [ "$runs" -eq 0 ]; then
  seconds=30
fi
timeout=${ZUVIAN_FUZZ_TIMEOUT:-1}

cmake -S "$top" -B "$build" -DZUVIAN_FUZZ=ON -DZUVIAN_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for src in "$top"/fuzz/fuzz_*.cpp; do
    targets+=("$(basename "$src" .cpp)")
  done
fi
cmake --build "$build" -j2 --target "${targets[@]}"

# A smaller quarantine keeps the resident size of a long run well below libFuzzer's limit. The
# virtual bus allocates for every frame, and recording each allocation's full stack costs the
# targets a fifth of their speed; a finding is reproduced with full stacks by running its input
# with ASAN_OPTIONS set.
export ASAN_OPTIONS="${ASAN_OPTIONS:-quarantine_size_mb=64:malloc_context_size=2}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1}"
export QT_QPA_PLATFORM=offscreen
chunk=${ZUVIAN_FUZZ_CHUNK:-2000000}

status=0
summary=""
for t in "${targets[@]}"; do
  work="$build/corpus/$t"
  artifacts="$build/artifacts/$t"
  mkdir -p "$work" "$artifacts"
  log="$build/$t${ZUVIAN_FUZZ_TAG:+.$ZUVIAN_FUZZ_TAG}.log"
  : >"$log"
  # In processes of at most $chunk runs each, from the corpus the one before left: the Qt
  # targets' resident size creeps up with ASan's quarantine over millions of runs and would hit
  # libFuzzer's memory limit.
  left=$runs
  execs=0
  result=ok
  started=$SECONDS
  while :; do
    n=$chunk
    if [ "$runs" -gt 0 ] && [ "$left" -lt "$n" ]; then
      n=$left
    fi
    limit=(-runs="$n")
    if [ "$seconds" -gt 0 ]; then
      limit+=(-max_total_time=$(( seconds - (SECONDS - started) )))
    fi
    echo "=== $t (${limit[*]}) ==="
    part="$log.part"
    if ! (cd "$build" && "./$t" "${limit[@]}" -timeout="$timeout" -print_final_stats=1 \
          -artifact_prefix="$artifacts/" "$work" "$top/fuzz/corpus/$t") >"$part" 2>&1; then
      result=FAILED
      status=1
      grep -E "ERROR|SUMMARY|runtime error|Test unit written|timeout" "$part" | head -20 || true
    fi
    got=$(sed -n 's/^stat::number_of_executed_units: *//p' "$part" | tail -1)
    cat "$part" >>"$log"
    rm -f "$part"
    execs=$((execs + ${got:-0}))
    left=$((left - ${got:-0}))
    if [ "$result" != ok ] || [ -z "$got" ] || { [ "$runs" -gt 0 ] && [ "$left" -le 0 ]; } ||
       { [ "$seconds" -gt 0 ] && [ $(( SECONDS - started )) -ge "$seconds" ]; }; then
      break
    fi
  done
  echo "$t: $result, $execs executions (log: $log)"
  summary+="$t: $result, $execs executions"$'\n'
done
echo "=== fuzz summary ==="
printf "%s" "$summary"
exit $status
