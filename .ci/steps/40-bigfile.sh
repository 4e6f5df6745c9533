#!/usr/bin/env bash
# A file just over 4 GiB moved by the built Tessvane, and the result checked
# (bench/bigfile_check.sh; it skips itself when the disk has under 10 GiB free).
set -euo pipefail
cd "$(dirname "$0")/../.."

start=$(date +%s)
bash bench/bigfile_check.sh build/Tessvane build/mklas
echo "40-bigfile: $(($(date +%s) - start)) s"
