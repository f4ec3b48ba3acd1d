#!/usr/bin/env bash
# Runs each fuzzer in DIR for SECONDS seconds on a fresh corpus.
set -euo pipefail
dir=${1:-build-fuzz/bin}
secs=${2:-20}
shopt -s nullglob
found=0
for f in "$dir"/fuzz_*; do
  [ -x "$f" ] || continue
  found=1
  corpus=$(mktemp -d)
  echo "== $(basename "$f") for ${secs}s"
  "$f" -max_total_time="$secs" -max_len=65536 -rss_limit_mb=2048 "$corpus" 2>&1 | tail -n 3
  rm -rf "$corpus"
done
[ $found -eq 1 ] || echo "no fuzzers built"
