#!/usr/bin/env bash
# The engine's figures (not a test): builds what it needs, makes two clients, builds a patch
# for each with the native rtpbuild and applies it three times with patchw32.dll under Wine (loaded as
# the installer loads it) and natively, then prints the medians, one "key value" a line
# (bench/tools/figures.py).
#   scripts/bench-engine.sh [SIZE_MIB]      SIZE_MIB: the one big file of the first client (1024)
# Cases: one_file (a SIZE_MIB file with scattered edits, an insertion and a tail, beside two small
# files) and many_files (20,000 small files: 2,000 changed, 500 deleted, 500 added).
# Keys: CASE.build_seconds and CASE.build_peak_rss_mib (rtpbuild build), CASE.patch_bytes,
# CASE.apply_seconds, CASE.apply_peak_private_mib and CASE.apply_peak_working_set_mib (the whole
# process running patchw32.dll under Wine; CASE.apply_start_private_mib is its share before the engine
# runs), CASE.loop_seconds (copy_bench's bare 8092-byte loop copying the files the patch writes under
# Wine, after each run) and CASE.apply_over_loop (the median of those pairs' ratios), the same for the
# loop that flushes each file it wrote (CASE.flushed_loop_seconds, CASE.apply_over_flushed_loop: the
# reference, since the engine puts every file it writes on the disk), CASE.native_apply_seconds and
# CASE.native_apply_peak_rss_mib, CASE.native_copy_seconds (a plain copy of the same files with 1 MiB
# reads and writes, bench/tools/copy_tree.py, after each native run) and CASE.native_apply_over_copy,
# the same for a copy that syncs each file (CASE.native_synced_copy_seconds,
# CASE.native_apply_over_synced_copy: the reference), CASE.verified (the patched client equals the new
# one).
#
#   scripts/bench-engine.sh --scale [GIB]   the scale row alone (not the two cases above): a client of
#     today's size (make_clients.py scale: a GIB GiB packed file, 6 unless given, with random edits, and
#     100,000 small files, 5 % changed, with additions and deletions), built once with the default memory
#     and once with --max-memory 2048, applied once natively and once under Wine. Keys scale.*: files,
#     changed_bytes, build_seconds and build_peak_rss_mib (and build_limited_*), patch_bytes (and
#     patch_limited_bytes), patch_over_changed, native_apply_seconds, native_apply_peak_rss_mib,
#     native_synced_copy_seconds, native_apply_over_synced_copy, apply_peak_private_mib (Wine), verified.
#     It needs about 4 times GIB of free disk.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
scale=no
if [ "${1:-}" = --scale ]; then
  scale=yes
  shift
fi
size_mib=${1:-1024}
[ "$scale" = no ] || size_mib=${1:-6}
[[ $size_mib =~ ^[0-9]+$ ]] && [ "$size_mib" -gt 0 ] ||
  { echo "usage: bench-engine.sh [SIZE_MIB] | bench-engine.sh --scale [GIB]" >&2; exit 2; }
jobs=${TESSERINE_JOBS:-2}
work=${TESSERINE_BENCH_DIR:-$root/build/bench-engine}
win=$root/build/win
native=$root/build/bench

# Figures come from optimised code without sanitizers: the native programs from the bench preset's tree.
"$root/scripts/setup.sh"
(cd "$root" && { [ -f "$win/build.ninja" ] || cmake --preset win >/dev/null; } &&
  { [ -f "$native/build.ninja" ] || cmake --preset bench >/dev/null; })
ninja -C "$win" -j "$jobs" patchw32 engine_bench copy_bench >/dev/null
ninja -C "$native" -j "$jobs" rtpbuild engine_bench >/dev/null

harness_was_up=no
[ -f "$win/wine/keepalive.pid" ] && kill -0 "$(cat "$win/wine/keepalive.pid")" 2>/dev/null && harness_was_up=yes
cleanup() {
  # The scale row's client stays when the run is stopped, for the next run to use (it removes it itself).
  [ "$scale" = yes ] || rm -rf "$work"
  [ "$harness_was_up" = yes ] || "$root/scripts/wine-env.sh" down "$win" >/dev/null 2>&1 || true
}
trap cleanup EXIT
[ "$scale" = yes ] || rm -rf "$work"
mkdir -p "$work"

winpath() { printf 'Z:%s' "${1//\//\\}"; }
clients() { python3 "$root/bench/tools/make_clients.py" "$@"; }

run_case() {
  local name=$1 dir=$work/$1 runs=3 i
  local patch=$dir/patch.rtp
  : >"$dir/build.txt"
  for i in $(seq $runs); do
    /usr/bin/time -f '%e %M' -o "$dir/time.txt" "$native/bin/rtpbuild" build "$dir/old" "$dir/new" "$patch" >/dev/null
    cat "$dir/time.txt" >>"$dir/build.txt"
  done
  : >"$dir/wine.txt"
  : >"$dir/native.txt"
  : >"$dir/loop.txt"
  : >"$dir/copy.txt"
  clients written "$dir"
  local verified=yes
  # Each timed step starts with nothing left to write back: the disk's writeback of the step before
  # would otherwise slow whichever step comes next.
  for i in $(seq $runs); do
    rm -rf "$dir/client" && cp -r "$dir/old" "$dir/client" && sync
    "$root/scripts/wine-run.sh" "$win/bin/engine_bench.exe" "$(winpath "$win/bin/patchw32.dll")" \
      "$(winpath "$dir/client")" "$(winpath "$patch")" >"$dir/run.txt" 2>&1 || { cat "$dir/run.txt" >&2; exit 1; }
    tr -d '\r' <"$dir/run.txt" >>"$dir/wine.txt"
    sync
    "$root/scripts/wine-run.sh" "$win/bin/copy_bench.exe" "$(winpath "$dir/written")" | tr -d '\r' >>"$dir/loop.txt"
    diff -r -q "$dir/client" "$dir/new" >/dev/null || verified=no
    rm -rf "$dir/client" && cp -r "$dir/old" "$dir/client" && sync
    "$native/bin/engine_bench" "$dir/client" "$patch" >>"$dir/native.txt"
    diff -r -q "$dir/client" "$dir/new" >/dev/null || verified=no
    rm -rf "$dir/copy" && sync && python3 "$root/bench/tools/copy_tree.py" --seconds "$dir/written" "$dir/copy" >>"$dir/copy.txt"
    rm -rf "$dir/copy" && sync
    python3 "$root/bench/tools/copy_tree.py" --seconds --sync "$dir/written" "$dir/copy" | sed 's/^copy_/synced_copy_/' >>"$dir/copy.txt"
    rm -rf "$dir/copy"
  done
  rm -rf "$dir/client"
  echo "$verified" >"$dir/verified.txt"
  python3 "$root/bench/tools/figures.py" engine "$dir" "$name"
}

# The scale row: one run of each, the client being several GiB.
scale_case() {
  local dir=$work/scale gib=$1
  # Making the client takes minutes: one left by a run that was stopped is used again.
  if [ ! -f "$dir/made" ]; then
    rm -rf "$dir"
    clients scale "$dir" "$gib"
    clients written "$dir"
    touch "$dir/made"
  fi
  echo "scale.files $(find "$dir/new" -type f | wc -l)"
  echo "scale.changed_bytes $(cat "$dir/changed_bytes")"
  sync
  /usr/bin/time -f '%e %M' -o "$dir/time.txt" "$native/bin/rtpbuild" build --quiet "$dir/old" "$dir/new" "$dir/patch.rtp" >/dev/null
  read -r seconds kib <"$dir/time.txt"
  echo "scale.build_seconds $seconds"
  echo "scale.build_peak_rss_mib $((kib / 1024))"
  /usr/bin/time -f '%e %M' -o "$dir/time.txt" "$native/bin/rtpbuild" build --quiet --max-memory 2048 "$dir/old" \
    "$dir/new" "$dir/limited.rtp" >/dev/null
  read -r seconds kib <"$dir/time.txt"
  echo "scale.build_limited_seconds $seconds"
  echo "scale.build_limited_peak_rss_mib $((kib / 1024))"
  local bytes changed
  bytes=$(stat -c %s "$dir/patch.rtp")
  changed=$(cat "$dir/changed_bytes")
  echo "scale.patch_bytes $bytes"
  echo "scale.patch_limited_bytes $(stat -c %s "$dir/limited.rtp")"
  echo "scale.patch_over_changed $(python3 -c "print(round($bytes / $changed, 3))")"
  local verified=yes
  rm -rf "$dir/client" && cp -r "$dir/old" "$dir/client" && sync
  "$native/bin/engine_bench" "$dir/client" "$dir/patch.rtp" >"$dir/native.txt"
  diff -r -q "$dir/client" "$dir/new" >/dev/null || verified=no
  local applied copy
  applied=$(awk '$1 == "seconds" { print $2 }' "$dir/native.txt")
  echo "scale.native_apply_seconds $applied"
  echo "scale.native_apply_peak_rss_mib $(awk '$1 == "peak_working_set_bytes" { printf "%d", $2 / 1048576 }' "$dir/native.txt")"
  rm -rf "$dir/copy" && sync
  copy=$(python3 "$root/bench/tools/copy_tree.py" --seconds --sync "$dir/written" "$dir/copy" | awk '{ print $2 }')
  rm -rf "$dir/copy"
  echo "scale.native_synced_copy_seconds $copy"
  echo "scale.native_apply_over_synced_copy $(python3 -c "print(round($applied / $copy, 3))")"
  rm -rf "$dir/client" && cp -r "$dir/old" "$dir/client" && sync
  "$root/scripts/wine-run.sh" "$win/bin/engine_bench.exe" "$(winpath "$win/bin/patchw32.dll")" \
    "$(winpath "$dir/client")" "$(winpath "$dir/patch.rtp")" | tr -d '\r' >"$dir/wine.txt"
  echo "scale.apply_peak_private_mib $(awk '$1 == "peak_private_bytes" { printf "%.1f", $2 / 1048576 }' "$dir/wine.txt")"
  diff -r -q "$dir/client" "$dir/new" >/dev/null || verified=no
  echo "scale.verified $verified"
  rm -rf "$dir"
}

if [ "$scale" = yes ]; then
  echo "wine_i386 $("$root/scripts/emulator.sh" mode)"
  scale_case "$size_mib"
  exit 0
fi

echo "runs 3"
# The Wine figures are the 32-bit engine's, run natively or under qemu-i386: a ratio holds only between
# programs run the same way, and the native figures beside them are the engine's own.
echo "wine_i386 $("$root/scripts/emulator.sh" mode)"
echo "size_mib $size_mib"
mkdir -p "$work/one_file" "$work/many_files"
clients one "$work/one_file" "$size_mib"
run_case one_file
rm -rf "$work/one_file"
clients many "$work/many_files"
run_case many_files
