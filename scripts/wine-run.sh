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
# A program that fails without printing anything never got to run its own code to the first flush (Wine
# could not start it, or it died at once): it runs once more, and the rerun is written to
# BUILD/wine/reruns.log, which scripts/test.sh reports. Anything that printed keeps its result.
out=$(mktemp) err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT
code=0
"$TESSERINE_WINE" "$@" >"$out" 2>"$err" || code=$?
if [ "$code" -ne 0 ] && [ ! -s "$out" ] && [ ! -s "$err" ]; then
  echo "$(date +%T) exit $code without output, run again: $*" >>"$build/wine/reruns.log"
  echo "wine-run: exit $code without output; running it once more" >&2
  rm -f "$out" "$err"
  trap - EXIT
  exec "$TESSERINE_WINE" "$@"
fi
cat "$out"
cat "$err" >&2
exit "$code"
