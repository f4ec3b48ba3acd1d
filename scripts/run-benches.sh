#!/usr/bin/env bash
# Runs every benchmark in DIR (bench_*: among them bench_orders, bench_order_list
# and bench_desktop_memory for large sellers) and the whole-process timing scripts.
set -euo pipefail
dir=${1:-build/bin}
shopt -s nullglob
for b in "$dir"/bench_*; do
  [ -x "$b" ] || continue
  echo "== $(basename "$b")"
  "$b" --benchmark_min_time=0.2
done
for s in bench/*.sh; do
  echo "== $s"
  bash "$s" "$dir"
done
