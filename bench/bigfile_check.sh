#!/usr/bin/env bash
# Moves a LAS file just over 4 GiB with the built Tessvane and checks the
# result: its size, its header (record count, Z bounds) and its records, in
# samples at the start, the middle, past the 4 GiB mark and at the end, and
# then all of them at once (every record equal to the first).
#
#   bench/bigfile_check.sh [TESSVANE [MKLAS [FOLDER]]]
#
# Defaults: build/Tessvane, build/mklas, and a fresh folder under $TMPDIR (or
# /tmp). The input is sparse (a header and a hole: every record zero, so
# every point at the offset); the output is real data, about 4.3 GB, so the
# check skips itself with a message when the folder's file system has less
# than 10 GiB free. Everything it makes is removed afterwards.
set -euo pipefail

tessvane=$(realpath "${1:-build/Tessvane}")
mklas=$(realpath "${2:-build/mklas}")
parent=${3:-${TMPDIR:-/tmp}}
for program in "$tessvane" "$mklas"; do
  [ -x "$program" ] || { echo "bigfile_check: $program is not an executable; build first" >&2; exit 2; }
done

needed_kib=$((10 * 1024 * 1024))
free_kib=$(df -Pk "$parent" | awk 'NR == 2 { print $4 }')
if [ "$free_kib" -lt "$needed_kib" ]; then
  echo "bigfile_check: skipped: $parent has $((free_kib / 1024)) MiB free, the check needs 10 GiB"
  exit 0
fi

work=$(mktemp -d "$parent/tessvane-bigfile.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

# Records of format 0 (20 bytes) for 4 GiB and 64 MiB more.
records=$(((4 * 1024 * 1024 * 1024 + 64 * 1024 * 1024 + 19) / 20))
data_bytes=$((records * 20))
expected_size=$((227 + data_bytes))

# A version 1.2 format 0 header from the project's generator (scale 0.01,
# offsets 0, bounds 0), announcing the records; then the hole.
"$mklas" in.las 0 0 2
le32() { printf '\\x%02x\\x%02x\\x%02x\\x%02x' $(($1 & 255)) $(($1 >> 8 & 255)) $(($1 >> 16 & 255)) $(($1 >> 24 & 255)); }
printf "$(le32 "$records")" | dd of=in.las bs=1 seek=107 conv=notrunc status=none
truncate -s "$expected_size" in.las

fail() { echo "bigfile_check: FAILED: $*" >&2; exit 1; }
hex() { od -An -v -tx1 -j "$2" -N "$3" "$1" | tr -d ' \n'; }

echo "bigfile_check: moving $records records ($expected_size bytes) up by 1 m"
start=$(date +%s.%N)
"$tessvane" in.las out.las 0 0 1 0 0 0 > run.txt || { cat run.txt; fail "Tessvane exited with status $?"; }
end=$(date +%s.%N)
grep -q '^Completed in [0-9]*\.[0-9]* seconds$' run.txt || { cat run.txt; fail "no completion line"; }
echo "bigfile_check: Tessvane took $(awk "BEGIN { printf \"%.1f\", $end - $start }") s"

size=$(stat -c %s out.las)
[ "$size" -eq "$expected_size" ] || fail "out.las holds $size bytes, not $expected_size"
[ "$(od -An -tu4 -j 107 -N 4 out.las | tr -d ' ')" -eq "$records" ] || fail "the record count changed"
# Bytes 0-210 as they were; MaxZ and MinZ (211-226) moved from 0 to 1.0.
cmp -n 211 in.las out.las || fail "the header changed before the Z bounds"
one=000000000000f03f
[ "$(hex out.las 211 16)" = "$one$one" ] || fail "Z bounds are $(hex out.las 211 16), not 1.0 and 1.0"

# Each record: X 0, Y 0, Z 100 (1 m at the Z scale of 0.01), every other byte 0.
record=000000000000000064000000$(printf '0%.0s' {1..16})
past_4gib=$(((4 * 1024 * 1024 * 1024 - 227 + 19) / 20))  # the first record wholly past 4 GiB
for i in 0 1 $((records / 2)) $((past_4gib - 1)) "$past_4gib" $((records - 1)); do
  got=$(hex out.las $((227 + i * 20)) 20)
  [ "$got" = "$record" ] || fail "record $i at byte $((227 + i * 20)) is $got, not $record"
done
# All records equal: the record area equals itself shifted by one record.
cmp -i 227:247 -n $((data_bytes - 20)) out.las out.las || fail "not every record equals the first"

finish=$(date +%s.%N)
echo "bigfile_check: passed: $size bytes checked in $(awk "BEGIN { printf \"%.1f\", $finish - $end }") s"
