#!/usr/bin/env bash
# The Windows check: every core source and the runner's library, as CMake
# lists them, compiled for 64-bit Windows by Debian's mingw-w64 cross compiler
# with the warnings as errors; then the Windows test program run under Wine.
# Nothing is linked against curl, OpenSSL, SQLite or iconv: Debian has no
# Windows builds of them (docs/windows.md says what this leaves unchecked).
set -euo pipefail
cd "$(dirname "$0")/.."
JOBS="${JOBS:-2}"
build=build-windows-check

cmake --preset windows-check >/dev/null
cmake --build --preset windows-check -j "$JOBS"

# Every compile command CMake wrote for the project's sources, also those of
# programs that cannot be linked here (the runner's main), and a count of
# them, so that a core file left out would show.
python3 - "$build/compile_commands.json" > "$build/windows-objects.txt" <<'PY'
import json, os, shlex, sys
root = os.getcwd()
entries = [e for e in json.load(open(sys.argv[1])) if os.path.relpath(e["file"], root).startswith("src/")]
folders = {}
for e in entries:
    folders.setdefault(os.path.relpath(e["file"], root).split("/")[1], set()).add(e["file"])
    words = shlex.split(e["command"])
    print(e.get("output") or words[words.index("-o") + 1])
print("compiled for Windows: %d sources (%s)" % (sum(len(v) for v in folders.values()),
      ", ".join("%s %d" % (k, len(v)) for k, v in sorted(folders.items()))), file=sys.stderr)
PY
mapfile -t objects < "$build/windows-objects.txt"
ninja -C "$build" "${objects[@]}" >/dev/null

if [ ! -x /usr/lib/wine/wine64 ]; then
  echo "check-windows: Wine is missing (scripts/install-deps.sh installs wine64)" >&2
  exit 1
fi
status=0
ctest --preset windows-check || status=$?
# Wine's server lingers for a few seconds after its last program; wait it out.
WINEPREFIX="$PWD/$build/wine" /usr/lib/wine/wineserver -w || true
exit $status
