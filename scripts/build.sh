#!/usr/bin/env bash
# Builds the trees from their presets: build/win (the Windows programs and their tests) and build/native
# (the portable code, the operator tools, fuzzing and the tests, with the sanitizers).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
jobs=${TESSERINE_JOBS:-$(nproc)}
cd "$root"
for tree in win native; do
  [ -f "build/$tree/build.ninja" ] || cmake --preset "$tree" >/dev/null
  cmake --build --preset "$tree" -j "$jobs"
done
