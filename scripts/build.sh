#!/usr/bin/env bash
# Builds the trees from their presets: build/win (the Windows programs and their tests), build/native
# (the portable code, the operator tools, fuzzing and the tests, with the sanitizers) and, on kernels
# that cannot execute 32-bit programs, build/win64.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
jobs=${TESSERINE_JOBS:-$(nproc)}
cd "$root"
trees=(win native)
# Where Wine's 32-bit loader cannot start (no IA-32 emulation in the kernel), the Windows suite runs in an
# x64 build of the same sources under 64-bit Wine (scripts/setup.sh installs it there).
[ "$("$root/scripts/windows-tree.sh")" = win64 ] && trees+=(win64)
for tree in "${trees[@]}"; do
  [ -f "build/$tree/build.ninja" ] || cmake --preset "$tree" >/dev/null
  cmake --build --preset "$tree" -j "$jobs"
done
