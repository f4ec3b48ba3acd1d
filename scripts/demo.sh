#!/usr/bin/env bash
# The demo: starts the sandbox marketplace and runs Quillmere against it.
set -euo pipefail
bin=${1:-build/bin}
echo "Quillmere demo: the pieces are being assembled."
ls "$bin"
