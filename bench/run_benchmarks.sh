#!/usr/bin/env bash
# Whole-command benchmarks: Tessvane against a plain copy of the same file,
# and the header refresh against a plain read, on files made by the
# project's own generator. Prints medians of interleaved runs, the ratios,
# points per second and peak memory.
#
#   bench/run_benchmarks.sh [BUILD_DIR [WORK_DIR [RECORDS [RUNS]]]]
#
# BUILD_DIR defaults to build (configured and built when needed), WORK_DIR to
# BUILD_DIR/bench-data (the input and output files live there: the same
# filesystem for every command), RECORDS to 10000000, RUNS to 7.
set -euo pipefail

here="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$here/build}"
work="${2:-$build/bench-data}"
records="${3:-10000000}"
runs="${4:-7}"

if [ ! -x "$build/Tessvane" ] || [ ! -x "$build/mklas" ] || [ ! -x "$build/refresh_headers" ]; then
  cmake -S "$here" -B "$build" >/dev/null
  cmake --build "$build" -j2 --target Tessvane mklas refresh_headers >/dev/null
fi
if [ ! -x /usr/bin/time ]; then
  echo "needs GNU time (/usr/bin/time, Debian package 'time')" >&2
  exit 2
fi
mkdir -p "$work"

tessvane="$build/Tessvane"
refresh="$build/refresh_headers"

# One timed run: prints "wall_seconds peak_kib"; the command's own output is
# discarded. Wall time from the nanosecond clock (GNU time rounds to 10 ms),
# peak resident memory from GNU time.
timed() {
  local start end
  start=$(date +%s%N)
  /usr/bin/time -f '%M' -o "$work/.peak" "$@" >/dev/null 2>&1
  end=$(date +%s%N)
  echo "$(awk -v ns="$((end - start))" 'BEGIN { printf "%.4f", ns / 1e9 }') $(tail -n 1 "$work/.peak")"
}

median() { sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }
rate() { awk -v n="$1" -v s="$2" 'BEGIN { printf "%.1f", (s > 0 ? n / s / 1e6 : 0) }'; }

# Runs the named commands in turn, RUNS rounds; leaves medians in $wall_<name> and $peak_<name>.
interleave() {
  local names=("$@") name round
  for name in "${names[@]}"; do : >"$work/$name.times"; done
  for ((round = 0; round < runs; round++)); do
    for name in "${names[@]}"; do
      "cmd_$name" >>"$work/$name.times"
    done
  done
  for name in "${names[@]}"; do
    printf -v "wall_$name" '%s' "$(cut -d' ' -f1 "$work/$name.times" | median)"
    printf -v "peak_$name" '%s' "$(cut -d' ' -f2 "$work/$name.times" | sort -g | tail -n 1)"
  done
}

report() {  # name, label
  local w="wall_$1" p="peak_$1"
  printf '  %-44s median %7.3f s   peak %6d KiB\n' "$2" "${!w}" "${!p}"
}

echo "Tessvane benchmarks: $records records, $runs interleaved runs, files in $work"
echo "machine: $(nproc) cores, $(uname -srm)"

for format in 1 3; do
  in="$work/in-f$format.las"
  if [ ! -s "$in" ] || [ "$(cat "$in.records" 2>/dev/null)" != "$records" ]; then
    "$build/mklas" "$in" "$records" "$format" 2 0 1
    echo "$records" >"$in.records"
  fi
  cat "$in" >/dev/null  # warm the page cache
  eval "cmd_rotate() { timed '$tessvane' '$in' '$work/out.las' 10 20 1 30 500500 4000500; }"
  eval "cmd_translate() { timed '$tessvane' '$in' '$work/out.las' 10 20 1 0 0 0; }"
  eval "cmd_copy() { timed dd if='$in' of='$work/copy.las' bs=1M; }"
  eval "cmd_refresh() { timed '$refresh' '$in'; }"
  eval "cmd_read() { timed sh -c 'cat \"\$0\" >/dev/null' '$in'; }"
  interleave rotate translate copy refresh read

  echo
  echo "point format $format ($(stat -c %s "$in") bytes)"
  report rotate "Tessvane, rotate 30 and translate 10 20 1"
  report translate "Tessvane, translate 10 20 1"
  report copy "dd bs=1M (copy)"
  report refresh "update_header (refresh_headers)"
  report read "cat > /dev/null (read)"
  echo "  rotate / copy     $(ratio "$wall_rotate" "$wall_copy")   ($(rate "$records" "$wall_rotate") M points/s)"
  echo "  translate / copy  $(ratio "$wall_translate" "$wall_copy")   ($(rate "$records" "$wall_translate") M points/s)"
  echo "  refresh / read    $(ratio "$wall_refresh" "$wall_read")   ($(rate "$records" "$wall_refresh") M points/s)"
  rm -f "$work/out.las" "$work/copy.las"
done

# Peak memory must not grow with the number of records.
echo
echo "peak memory by file size (point format 0)"
for n in ${MEMORY_RECORDS:-1000000 50000000}; do
  in="$work/mem-$n.las"
  [ -s "$in" ] || "$build/mklas" "$in" "$n" 0 2 0 1
  move=$(timed "$tessvane" "$in" "$work/out.las" 10 20 1 30 500500 4000500 | cut -d' ' -f2)
  refreshed=$(timed "$refresh" "$in" | cut -d' ' -f2)
  printf '  %9d records: Tessvane %6d KiB, update_header %6d KiB\n' "$n" "$move" "$refreshed"
  rm -f "$work/out.las"
done
