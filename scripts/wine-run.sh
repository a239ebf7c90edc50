#!/usr/bin/env bash
# CTest's emulator for the Windows tree: runs one Windows program under the tree's Wine harness.
# The build tree is found from the program's path (BUILD/bin/x.exe), or from TESSERINE_WIN_BUILD.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
exe=${1:?usage: wine-run.sh PROGRAM.exe [ARGS...]}
build=${TESSERINE_WIN_BUILD:-$(cd "$(dirname "$exe")/.." && pwd)}
mkdir -p "$build/wine"
# Nothing the harness starts may hold the caller's pipes open (CTest waits for them to close).
"$here/wine-env.sh" up "$build" </dev/null >>"$build/wine/harness.log" 2>&1 || { cat "$build/wine/harness.log" >&2; exit 1; }
eval "$("$here/wine-env.sh" env "$build")"
exec "$TESSERINE_WINE" "$@"
