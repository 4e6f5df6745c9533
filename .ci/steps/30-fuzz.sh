#!/usr/bin/env bash
# Coverage-guided fuzzing: the libFuzzer targets of tests/fuzz, built with
# clang, AddressSanitizer and UndefinedBehaviorSanitizer in build-fuzz. First
# every seed (made by the project's generator) and every committed regression
# input is replayed; then each target is fuzzed for TESSVANE_FUZZ_SECONDS
# (default 60), two at a time on the two cores. Any crash, sanitizer report or
# failed check fails the step; the input that caused it is kept in
# build-fuzz/fuzz-artifacts/ and printed in base64, ready to become a file of
# tests/fuzz/regressions/<target>/.
# packages: clang libclang-rt-14-dev
set -euo pipefail
cd "$(dirname "$0")/../.."

start=$(date +%s)
seconds=${TESSVANE_FUZZ_SECONDS:-60}
build=build-fuzz
work=$(mktemp -d "${TMPDIR:-/tmp}/tessvane-fuzz-step.XXXXXX")
trap 'rm -rf "$work"' EXIT

# Only the fuzz targets: the rest of the build is the other steps' business.
CC=clang CXX=clang++ cmake -S . -B "$build" -DTESSVANE_BUILD_FUZZ=ON -DTESSVANE_BUILD_TESTS=ON
cmake --build "$build" -j2 --target fuzz_targets

ctest --test-dir "$build" -R '^fuzz_' --output-on-failure

artifacts="$build/fuzz-artifacts"
rm -rf "$artifacts"
mkdir -p "$artifacts"

fuzz() {
  local target=$1
  local corpora=("$work/corpus-$target" "$build/tests/fuzz/seeds/$target")
  [ -d "tests/fuzz/regressions/$target" ] && corpora+=("tests/fuzz/regressions/$target")
  mkdir -p "$work/corpus-$target" "$work/tmp-$target"
  TMPDIR="$work/tmp-$target" "$build/tests/fuzz/fuzz_$target" -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix="$artifacts/$target-" "${corpora[@]}" >"$work/$target.log" 2>&1
}

targets=(las_checks tool_run header_refresh arg_checks)
failed=0
for ((i = 0; i < ${#targets[@]}; i += 2)); do
  pids=()
  for target in "${targets[@]:i:2}"; do
    fuzz "$target" &
    pids+=("$!")
  done
  for j in "${!pids[@]}"; do
    target=${targets[i + j]}
    if wait "${pids[$j]}"; then
      echo "fuzz_$target: $(grep -E '^(#[0-9]+[[:space:]]+DONE|Done [0-9]+ runs)' "$work/$target.log" | tr '\n' ' ')"
    else
      failed=1
      echo "fuzz_$target: FAILED"
      grep -v -E '^#[0-9]+[[:space:]]+(NEW|REDUCE|pulse)' "$work/$target.log" | tail -60
    fi
  done
done

for crash in "$artifacts"/*; do
  [ -e "$crash" ] || continue
  echo "=== $crash (base64)"
  base64 "$crash"
done
echo "30-fuzz: $(($(date +%s) - start)) s"
exit "$failed"
