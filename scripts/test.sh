#!/usr/bin/env bash
# Runs every test: installs what is missing, builds the trees, runs the native suite, then the Windows
# suite under the Wine harness, and shuts the harness down again.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/build.sh" || { echo "build failed"; exit 1; }
cd "$root"

log=$(mktemp -d)
trap 'rm -rf "$log"' EXIT

echo "== native tests"
ctest --preset native --output-junit "$log/native.xml"
native=$?

echo "== Windows tests under Wine ($("$root/scripts/emulator.sh" mode) 32-bit execution)"
reruns=$root/build/win/wine/reruns.log
rm -f "$reruns"
"$root/scripts/wine-env.sh" up "$root/build/win" >/dev/null
ctest --preset win --output-junit "$log/win.xml"
win=$?
"$root/scripts/wine-env.sh" down "$root/build/win"
if [ -s "$reruns" ]; then
  echo "programs run a second time after failing without any output: $(wc -l <"$reruns")"
  cat "$reruns"
fi

# One closing line for both suites, from CTest's own result files.
python3 "$root/scripts/test-total.py" "$log/native.xml" "$log/win.xml" && [ "$native" -eq 0 ] && [ "$win" -eq 0 ]
