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

echo "== Windows tests under Wine"
# Wine runs 32-bit Windows programs as 32-bit Linux processes. A kernel that cannot execute those (no
# IA-32 emulation) runs the same tests built for x64 under 64-bit Wine instead, and says so; with neither,
# the suite is reported as not run, not counted as a pass.
win=0
run_windows_suite() {
  local reruns=$root/build/$1/wine/reruns.log
  rm -f "$reruns"
  "$root/scripts/wine-env.sh" up "$root/build/$1" >/dev/null
  ctest --preset "$1" --output-junit "$log/win.xml"
  win=$?
  "$root/scripts/wine-env.sh" down "$root/build/$1"
  if [ -s "$reruns" ]; then
    echo "programs run a second time after failing without any output: $(wc -l <"$reruns")"
    cat "$reruns"
  fi
}
tree=$("$root/scripts/windows-tree.sh")
if [ "$tree" = win ]; then
  run_windows_suite win
elif [ "$tree" = win64 ]; then
  echo "this kernel cannot execute 32-bit programs: the Windows suite runs built for x64, under 64-bit Wine"
  run_windows_suite win64
else
  echo "SKIPPED: Wine cannot run here (neither 32-bit nor 64-bit); the Windows tree was built, its tests did not run"
fi

# One closing line for both suites, from CTest's own result files.
python3 "$root/scripts/test-total.py" "$log/native.xml" "$log/win.xml" && [ "$native" -eq 0 ] && [ "$win" -eq 0 ]
