#!/usr/bin/env bash
# The installer's figures (not a test): builds what it needs, packs installers, drives them under the Wine
# harness of build/win and prints one table (bench/tools/figures.py). Every figure is the median of
# several runs in one prefix, after a warm-up run that is not counted; a ratio is the median of the ratios
# of runs taken in pairs.
#   scripts/bench.sh [--runs N] [--files N] [--installer-build DIR] [--keep] [SIZE_MIB]
#     SIZE_MIB            the patch entry extracted, and the one big file patched (1024)
#     --runs N            counted runs of each figure (5)
#     --files N           files of the many-files patch, every one changed (20000)
#     --installer-build   a Windows build tree whose bin/Tesserine.exe is measured (the harness's tree);
#                         everything else (driver, engine, tools) comes from this tree
#     --keep              keep the work folder (build/bench-installer, or $TESSERINE_BENCH_DIR)
# Before each run the page cache is written out (sync), so one run's writes do not land in the next one.
# Rows: 1. extraction through the installer, from the start button to the engine's entry (an engine that
# returns at once), against a bare 8092-byte ReadFile/WriteFile loop and CopyFileW on the same bytes, with
# the dialog's latency meanwhile and the installer's peak memory; 2. the patch run through the installer
# against the engine alone (engine_bench, no-op callback) on the same patch, for one big file and for many
# small ones; 3. the engine's peak private memory on the big file; 4. start-up to a visible welcome page
# against a minimal dialog program.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
usage() { echo "usage: bench.sh [--runs N] [--files N] [--installer-build DIR] [--keep] [SIZE_MIB]" >&2; exit 2; }
win=$root/build/win
runs=5 files=20000 size_mib=1024 installer_build=$win keep=no
while [ $# -gt 0 ]; do
  case $1 in
    --runs) runs=${2:-}; shift 2 || usage ;;
    --files) files=${2:-}; shift 2 || usage ;;
    --installer-build) installer_build=${2:-}; shift 2 || usage ;;
    --keep) keep=yes; shift ;;
    -*) usage ;;
    *) size_mib=$1; shift ;;
  esac
done
for n in "$runs" "$files" "$size_mib"; do [[ $n =~ ^[0-9]+$ ]] && [ "$n" -gt 0 ] || usage; done
[ "$files" -gt 1 ] || usage
jobs=${TESSERINE_JOBS:-2}
work=${TESSERINE_BENCH_DIR:-$root/build/bench-installer}
native=$root/build/bench
installer_build=$(cd "$installer_build" && pwd)

"$root/scripts/setup.sh" >/dev/null
(cd "$root" && { [ -f "$win/build.ninja" ] || cmake --preset win >/dev/null; } &&
  { [ -f "$native/build.ninja" ] || cmake --preset bench >/dev/null; })
ninja -C "$win" -j "$jobs" Tesserine patchw32_stamp patchw32_instant engine_bench installer_bench copy_bench \
  e2e_fixture keepalive recorder >/dev/null
ninja -C "$native" -j "$jobs" rtpbuild embedfs >/dev/null
if [ "$installer_build" != "$win" ]; then
  [ -f "$installer_build/build.ninja" ] && ninja -C "$installer_build" -j "$jobs" Tesserine >/dev/null
fi
tesserine=$installer_build/bin/Tesserine.exe
[ -f "$tesserine" ] || { echo "bench.sh: no $tesserine" >&2; exit 1; }

harness_was_up=no
[ -f "$win/wine/keepalive.pid" ] && kill -0 "$(cat "$win/wine/keepalive.pid")" 2>/dev/null && harness_was_up=yes
cleanup() {
  [ "$keep" = yes ] || rm -rf "$work"
  [ "$harness_was_up" = yes ] || "$root/scripts/wine-env.sh" down "$win" >/dev/null 2>&1 || true
}
trap cleanup EXIT
rm -rf "$work"
mkdir -p "$work"

winpath() { printf 'Z:%s' "${1//\//\\}"; }
wine_run() { "$root/scripts/wine-run.sh" "$@" 2>>"$work/wine-stderr.txt" | tr -d '\r'; }
clients() { python3 "$root/bench/tools/make_clients.py" "$@"; }

# An installer carrying the engine variant ENGINE and the patch PATCH.
pack() {
  "$native/bin/embedfs" pack "$tesserine" "$1" "patchw32.dll=$win/bin/$2" \
    "patchnotes4536.rtf=$root/tests/data/patchnotes4536.rtf" "ZAV.2.12.4526-2.12.4536.rtp=$3" >/dev/null
}

extract_installer() {
  sync
  wine_run "$win/bin/installer_bench.exe" extract "$(winpath "$1/installer.exe")" \
    "$(winpath "$1/client")" "$(winpath "$1/stamps.txt")" >>"$1/installer.txt"
}
extract_copy() {
  sync
  wine_run "$win/bin/copy_bench.exe" "$(winpath "$1/patch.bin")" >>"$1/copy.txt"
}

# Row 1: a patch entry of SIZE_MIB random bytes, an engine that returns at once, a client of build 4526.
measure_extraction() {
  local dir=$work/extract i
  mkdir -p "$dir/client"
  head -c $((size_mib * 1048576)) /dev/urandom >"$dir/patch.bin"
  printf 'build=4526\r\n' >"$dir/client/common.ini"
  printf 'MZ' >"$dir/client/zav.exe"
  pack "$dir/installer.exe" patchw32_instant.dll "$dir/patch.bin"
  : >"$dir/installer.txt"
  : >"$dir/copy.txt"
  local installer=(extract_installer "$dir") copy=(extract_copy "$dir")
  for i in $(seq 0 "$runs"); do
    echo "run $i" | tee -a "$dir/installer.txt" >>"$dir/copy.txt"
    if [ $((i % 2)) -eq 0 ]; then "${installer[@]}"; "${copy[@]}"; else "${copy[@]}"; "${installer[@]}"; fi
  done
  rm -f "$dir/patch.bin" "$dir/installer.exe"
}

run_installer() {
  rm -rf "$1/client" && cp -r "$1/old" "$1/client" && sync
  wine_run "$win/bin/installer_bench.exe" run "$(winpath "$1/installer.exe")" \
    "$(winpath "$1/client")" "$(winpath "$1/stamps.txt")" >>"$1/installer.txt"
  diff -r -q "$1/client" "$1/new" >/dev/null || { echo "bench.sh: the installer did not patch $1" >&2; exit 1; }
}
run_engine() {
  rm -rf "$1/client" && cp -r "$1/old" "$1/client" && sync
  wine_run "$win/bin/engine_bench.exe" "$(winpath "$win/bin/patchw32_stamp.dll")" \
    "$(winpath "$1/client")" "$(winpath "$1/patch.rtp")" >>"$1/engine.txt"
  diff -r -q "$1/client" "$1/new" >/dev/null || { echo "bench.sh: the engine did not patch $1" >&2; exit 1; }
}

# Row 2: one patch of the case in DIR (old, new) applied to a fresh copy of the old client, by the
# installer and by the engine alone, in turns.
measure_run() {
  local dir=$1 i
  "$native/bin/rtpbuild" build "$dir/old" "$dir/new" "$dir/patch.rtp" >/dev/null
  pack "$dir/installer.exe" patchw32_stamp.dll "$dir/patch.rtp"
  : >"$dir/installer.txt"
  : >"$dir/engine.txt"
  for i in $(seq 0 "$runs"); do
    echo "run $i" | tee -a "$dir/installer.txt" >>"$dir/engine.txt"
    if [ $((i % 2)) -eq 0 ]; then run_installer "$dir"; run_engine "$dir"; else run_engine "$dir"; run_installer "$dir"; fi
  done
  rm -rf "$dir/client" "$dir/old" "$dir/new"
}

# Row 4: the one-file case's installer (its patch is small) and the driver's fixture dialog, in turns.
measure_startup() {
  local dir=$work/startup i
  mkdir -p "$dir"
  : >"$dir/installer.txt"
  : >"$dir/fixture.txt"
  for i in $(seq 0 "$runs"); do
    echo "run $i" | tee -a "$dir/installer.txt" >>"$dir/fixture.txt"
    wine_run "$win/bin/installer_bench.exe" startup "$(winpath "$work/one_file/installer.exe")" \
      >>"$dir/installer.txt"
    wine_run "$win/bin/installer_bench.exe" startup "$(winpath "$win/bin/e2e_fixture.exe")" >>"$dir/fixture.txt"
  done
}

"$root/scripts/wine-env.sh" up "$win" </dev/null >>"$work/harness.log" 2>&1
[ "$("$root/scripts/emulator.sh" mode)" = native ] ||
  echo "bench.sh: every figure is of 32-bit programs under qemu-i386 (this kernel cannot execute 32-bit programs): ratios hold between them" >&2
echo "measuring: extraction of $size_mib MiB" >&2
measure_extraction
echo "measuring: patch run, one $size_mib MiB file" >&2
mkdir -p "$work/one_file"
clients one "$work/one_file" "$size_mib"
measure_run "$work/one_file"
echo "measuring: patch run, $files files" >&2
clients small "$work/small_files" "$files"
measure_run "$work/small_files"
echo "measuring: start-up" >&2
measure_startup

python3 "$root/bench/tools/figures.py" installer "$work" --runs "$runs" --files "$files" --size-mib "$size_mib" \
  --installer "$tesserine" --prefix "$win/wine"
