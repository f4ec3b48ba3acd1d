#!/usr/bin/env bash
# Runs every benchmark in DIR (bench_*: among them bench_orders, bench_order_list
# and bench_desktop_memory for large sellers) and the whole-process timing
# scripts. One that fails does not stop the others: each is run, and the end
# names those that failed (exit 1 when any did).
set -uo pipefail
dir=${1:-build/bin}
shopt -s nullglob
failed=()
for b in "$dir"/bench_*; do
  [ -x "$b" ] || continue
  echo "== $(basename "$b")"
  "$b" --benchmark_min_time=0.2 || failed+=("$(basename "$b")")
done
for s in bench/*.sh; do
  echo "== $s"
  bash "$s" "$dir" || failed+=("$s")
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "== failed: ${failed[*]}"
  exit 1
fi
echo "== every benchmark ran"
