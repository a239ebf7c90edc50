#!/usr/bin/env bash
# Builds both trees: build/win (the Windows programs and their tests) and build/native (the rules that
# need no Windows, the operator tools, fuzzing and benchmarks).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
jobs=${TESSERINE_JOBS:-$(nproc)}

if [ ! -f "$root/build/win/build.ninja" ]; then
  cmake -S "$root" -B "$root/build/win" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" >/dev/null
fi
if [ ! -f "$root/build/native/build.ninja" ]; then
  cmake -S "$root" -B "$root/build/native" -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
fi
ninja -C "$root/build/win" -j "$jobs"
ninja -C "$root/build/native" -j "$jobs"
