#!/usr/bin/env bash
# Runs a Windows program of the Windows check under Wine, in a Wine prefix of
# the check's own (made on first use), without Wine's debug chatter.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
export WINEPREFIX="${QM_WINEPREFIX:-$here/build-windows-check/wine}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$WINEPREFIX"
exec /usr/lib/wine/wine64 "$@"
