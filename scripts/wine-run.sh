#!/usr/bin/env bash
# CTest's emulator for the Windows tree: runs one Windows program under the tree's Wine harness.
# The build tree is found from the program's path (BUILD/bin/x.exe), or from TESSERINE_WIN_BUILD.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
exe=${1:?usage: wine-run.sh PROGRAM.exe [ARGS...]}
build=${TESSERINE_WIN_BUILD:-$(cd "$(dirname "$exe")/.." && pwd)}
"$here/wine-env.sh" up "$build"
eval "$("$here/wine-env.sh" env "$build")"
exec wine "$@"
