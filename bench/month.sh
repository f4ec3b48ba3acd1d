#!/usr/bin/env bash
# A simulated month of the headless runner (outside CI): the sandbox, the
# runner and a driver under one clock that runs SPEED times faster than the
# real one (libfaketime; about an hour of real time for 30 days at x720).
# Every process is started by the driver, so all share the clock of the
# faketime wrapper from its start.
#
#   bash bench/month.sh [BIN_DIR] [DAYS] [SPEED] [month.py options...]
#
# e.g. a large shop: bash bench/month.sh build/bin 3 720 --trades-per-day 3000;
# a key's quota: ... --daily-limit 5000 --ban-every-hours 3 --ban-seconds 600.
#
# Both clocks are faked, the wall clock and the monotonic one, so the
# program's timers keep their periods on the accelerated clock too. Its waits
# on the monotonic clock go through pthread_cond_clockwait, which Debian 12's
# libfaketime (0.9.10) does not intercept: monotonic_waits.c, preloaded before
# it, scales those. Time-outs shrink by the same factor (the runner's 10-second
# request limit is 14 ms of real time at x720), so the faults are error and
# reset rates, not latencies.
set -euo pipefail
bin=${1:-build/bin}
days=${2:-30}
speed=${3:-720}
if ! command -v faketime >/dev/null; then
  if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends faketime
fi
here=$(cd "$(dirname "$0")" && pwd)
shim=$(mktemp -d)/monotonic_waits.so
cc -O2 -shared -fPIC -o "$shim" "$here/monotonic_waits.c" -ldl
export LD_PRELOAD=$shim${LD_PRELOAD:+:$LD_PRELOAD}
exec faketime -f "+0 x$speed" python3 "$here/month.py" --bin "$bin" --days "$days" "${@:4}"
