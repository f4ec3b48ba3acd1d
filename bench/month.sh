#!/usr/bin/env bash
# A simulated month of the headless runner (outside CI): the sandbox, the
# runner and a driver under one clock that runs SPEED times faster than the
# real one (libfaketime; about an hour of real time for 30 days at x720).
# Every process is started by the driver, so all share the clock of the
# faketime wrapper from its start.
#
#   bash bench/month.sh [BIN_DIR] [DAYS] [SPEED]
#
# What it cannot show yet. The program's waits use the monotonic clock
# through pthread_cond_clockwait, which Debian 12's libfaketime (0.9.10) does
# not intercept, so only the wall clock is faked (FAKETIME_DONT_FAKE_MONOTONIC):
# deadlines, trade ages and the reload interval run fast, while the timers keep
# their real periods (at x1440 the pass runs every 2 simulated hours and the
# ten-minute refresh every 10 simulated days). The driver's own waits go
# through select, whose time-out libfaketime does fake.
set -euo pipefail
bin=${1:-build/bin}
days=${2:-30}
speed=${3:-720}
if ! command -v faketime >/dev/null; then
  if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends faketime
fi
here=$(cd "$(dirname "$0")" && pwd)
export FAKETIME_DONT_FAKE_MONOTONIC=1
exec faketime -f "+0 x$speed" python3 "$here/month.py" --bin "$bin" --days "$days"
