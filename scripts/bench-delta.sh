#!/usr/bin/env bash
# The engine's patches against open delta tools on real version pairs from the npm registry (not a test).
# For each pair it builds a patch with bsdiff, xdelta3, zstd (on the two folders tarred) and rtpbuild (on
# the two folders), applies each one, times a copy of the new folder that syncs each file as the
# reference, and writes the raw figures to WORK/results/PAIR.txt; bench/tools/delta_table.py turns them
# into one table per pair.
#   scripts/bench-delta.sh [--runs N] [--pairs a,b] [--keep] [--help]
#     --runs N     timed runs of every build and apply; the tables show medians (3)
#     --pairs LIST comma-separated subset of: esbuild-exe swc-dll three-tree three-pak few-bytes (all)
#     --keep       keep the unpacked folders, tars and patches (otherwise only cache/ and results/ stay)
#     --no-build   use rtpbuild (and patchw32, engine_bench) as already built, without building them
# The work folder is build/bench-delta, or TESSERINE_BENCH_DIR. Downloaded tarballs stay in its cache/.
# Exits 1 when the engine's result differs from the new folder, or when no pair could be measured.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
all_pairs=(esbuild-exe swc-dll three-tree three-pak few-bytes)
declare -A pair_versions=(  # NAME OLD_VERSION NEW_VERSION (few-bytes: NEW is synthesized from OLD)
  [esbuild-exe]="@esbuild/win32-ia32 0.28.1 0.28.2"
  [swc-dll]="@swc/core-win32-ia32-msvc 1.10.0 1.10.1"
  [three-tree]="three 0.170.0 0.171.0"
  [three-pak]="three 0.170.0 0.171.0"  # each version packed into one file, its entries in another order
  [few-bytes]="three 0.171.0 0.171.0"
)

usage() { sed -n '2,12s/^# \{0,1\}//p' "$0"; }
die() { echo "bench-delta: $*" >&2; exit 1; }
runs=3 keep=no build=yes pairs=("${all_pairs[@]}")
while [ $# -gt 0 ]; do
  case $1 in
    --runs) [[ ${2:-} =~ ^[1-9][0-9]*$ ]] || die "--runs needs a positive number"; runs=$2; shift 2 ;;
    --pairs) [ -n "${2:-}" ] || die "--pairs needs a list"; IFS=, read -ra pairs <<<"$2"; shift 2 ;;
    --keep) keep=yes; shift ;;
    --no-build) build=no; shift ;;
    --help|-h) usage; exit 0 ;;
    *) usage >&2; exit 2 ;;
  esac
done
for p in "${pairs[@]}"; do [ -n "${pair_versions[$p]:-}" ] || die "unknown pair '$p' (known: ${all_pairs[*]})"; done

work=${TESSERINE_BENCH_DIR:-$root/build/bench-delta}
native=$root/build/bench
win=$root/build/win

# Tools and programs.
"$root/scripts/setup.sh"
missing=()
for p in bsdiff xdelta3 zstd xz-utils; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "bench-delta: installing ${missing[*]}" >&2
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
if [ "$build" = yes ]; then
  (cd "$root" && { [ -f "$native/build.ninja" ] || cmake --preset bench >/dev/null; })
  out=$(ninja -C "$native" rtpbuild 2>&1) || { echo "$out" >&2; die "cannot build rtpbuild in $native"; }
fi
[ -x "$native/bin/rtpbuild" ] || die "no $native/bin/rtpbuild (run without --no-build)"
wine_ok=no
if [ -x /usr/lib/wine/wine64 ]; then
  wine_ok=yes
  [ "$("$root/scripts/emulator.sh" mode)" = native ] ||
    echo "bench-delta: the engine-wine rows run under qemu-i386 (this kernel cannot execute 32-bit programs): set them against each other, not against the native rows"
  if [ "$build" = yes ]; then
    (cd "$root" && { [ -f "$win/build.ninja" ] || cmake --preset win >/dev/null; })
    out=$(ninja -C "$win" patchw32 engine_bench 2>&1) ||
      { echo "$out" >&2; die "cannot build patchw32 and engine_bench in $win"; }
  fi
  for f in patchw32.dll engine_bench.exe; do [ -f "$win/bin/$f" ] || die "no $win/bin/$f (run without --no-build)"; done
else
  echo "bench-delta: wine cannot run here: the engine-wine rows are skipped"
fi

harness_was_up=no
[ -f "$win/wine/keepalive.pid" ] && kill -0 "$(cat "$win/wine/keepalive.pid")" 2>/dev/null && harness_was_up=yes
cleanup() {
  local p
  [ "$keep" = yes ] || for p in bin "${pairs[@]}"; do rm -rf "${work:?}/$p"; done
  [ "$wine_ok" = no ] || [ "$harness_was_up" = yes ] || "$root/scripts/wine-env.sh" down "$win" >/dev/null 2>&1 || true
}
trap cleanup EXIT
mkdir -p "$work/cache" "$work/results" "$work/bin"
work=$(cd "$work" && pwd)
# A copy, so that a rebuild of the tree during the run does not change the program measured.
rtpbuild=$work/bin/rtpbuild
cp "$native/bin/rtpbuild" "$rtpbuild"

# fetch NAME VERSION DIR: the package's tarball (from cache/ or npm) unpacked into DIR (DIR/package).
fetch() {
  local tgz
  tgz=$work/cache/$(printf '%s' "${1#@}" | tr / -)-$2.tgz
  if [ ! -s "$tgz" ]; then
    (cd "$work/cache" && npm pack --silent "$1@$2" >/dev/null 2>&1) && [ -s "$tgz" ] || return 1
  fi
  rm -rf "$3" && mkdir -p "$3" && tar -xzf "$tgz" -C "$3"
}
# Changes a few bytes in 3 files of DIR at fixed offsets.
touch_few_bytes() {
  printf 'TESSERINE' | dd of="$1/build/three.module.js" bs=1 seek=40000 conv=notrunc status=none
  printf '\x00\x7f\xff' | dd of="$1/build/three.cjs" bs=1 seek=123456 conv=notrunc status=none
  printf '\x01\x02' | dd of="$1/examples/jsm/libs/rhino3dm/rhino3dm.wasm" bs=1 seek=1000000 conv=notrunc status=none
}
winpath() { printf 'Z:%s' "${1//\//\\}"; }
# timed KEY CMD...: runs CMD and appends "KEY seconds peak_rss_kib" to the pair's raw file. The peak comes
# from /usr/bin/time; so do the seconds, unless under 1 s: then from the shell's clock around it, as %e
# counts in 10 ms steps (a copy of a small folder takes less).
timed() {
  local key=$1 start; shift
  start=$EPOCHREALTIME
  /usr/bin/time -f '%e %M' -o "$dir/time.txt" "$@" >/dev/null 2>"$dir/stderr.txt" ||
    { cat "$dir/stderr.txt" >&2; die "failed: $*"; }
  awk -v k="$key" -v wall="$(awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN { print b - a }')" \
    '{ printf "%s %.4f %s\n", k, ($1 < 1 ? wall : $1), $2 }' "$dir/time.txt" >>"$raw"
}
same() { if "$@" >/dev/null 2>&1; then echo yes; else echo no; fi; }

# single_file_tool TOOL "BUILD COMMAND" "APPLY COMMAND": runs in $dir on old.tar and new.tar, the patch
# being TOOL.patch and the result result.tar (each command a list of words split on spaces).
single_file_tool() {
  local tool=$1 build_cmd apply_cmd ok=yes
  read -ra build_cmd <<<"$2"
  read -ra apply_cmd <<<"$3"
  for _ in $(seq "$runs"); do rm -f "$tool.patch" && timed "$tool.build" "${build_cmd[@]}"; done
  echo "$tool.patch_bytes $(stat -c %s "$tool.patch")" >>"$raw"
  for _ in $(seq "$runs"); do
    rm -f result.tar && timed "$tool.apply" "${apply_cmd[@]}"
    [ "$(same cmp result.tar new.tar)" = yes ] || ok=no
  done
  echo "$tool.verified $ok" >>"$raw"
  rm -f result.tar
}

failed=() measured=()
for pair in "${pairs[@]}"; do
  read -r name old_v new_v <<<"${pair_versions[$pair]}"
  dir=$work/$pair raw=$work/results/$pair.txt
  rm -rf "$dir" "$raw" && mkdir -p "$dir"
  fetch "$name" "$old_v" "$dir/old" || { echo "skipped $pair: could not fetch $name@$old_v"; continue; }
  fetch "$name" "$new_v" "$dir/new" || { echo "skipped $pair: could not fetch $name@$new_v"; continue; }
  old=$dir/old/package new=$dir/new/package label="$name $old_v -> $new_v"
  if [ "$pair" = three-pak ]; then
    python3 "$root/bench/tools/pack_tree.py" "$old" 1 && python3 "$root/bench/tools/pack_tree.py" "$new" 2
    label="$name $old_v -> $new_v, each packed into one file with its entries in another order"
  fi
  if [ "$pair" = few-bytes ]; then
    touch_few_bytes "$new"
    label="$name $old_v -> the same with a few bytes changed in 3 files"
  fi
  echo "bench-delta: $pair ($label), runs: $runs" >&2
  tar --sort=name --mtime=@0 --owner=0 --group=0 -C "$dir/old" -cf "$dir/old.tar" package
  tar --sort=name --mtime=@0 --owner=0 --group=0 -C "$dir/new" -cf "$dir/new.tar" package
  {
    echo "pair $pair"
    echo "label $label"
    echo "runs $runs"
    echo "new_bytes $(find "$new" -type f -printf '%s\n' | awk '{ s += $1 } END { print s + 0 }')"
    echo "new_files $(find "$new" -type f | wc -l)"
    echo "new_tar_bytes $(stat -c %s "$dir/new.tar")"
  } >"$raw"

  cd "$dir"
  single_file_tool bsdiff 'bsdiff old.tar new.tar bsdiff.patch' 'bspatch old.tar result.tar bsdiff.patch'
  single_file_tool xdelta3 'xdelta3 -e -9 -S djw -B 1073741824 -f -s old.tar new.tar xdelta3.patch' \
    'xdelta3 -d -f -s old.tar xdelta3.patch result.tar'
  single_file_tool zstd 'zstd -q -19 --long=30 -f --patch-from=old.tar new.tar -o zstd.patch' \
    'zstd -q -d --long=30 -f --patch-from=old.tar zstd.patch -o result.tar'

  # The engine on the folders: built natively, applied natively and (when it runs) under Wine.
  for _ in $(seq "$runs"); do timed engine.build "$rtpbuild" build "$old" "$new" "$dir/engine.rtp"; done
  echo "engine.patch_bytes $(stat -c %s "$dir/engine.rtp")" >>"$raw"
  ok=yes
  for _ in $(seq "$runs"); do
    rm -rf "$dir/client" && cp -r "$old" "$dir/client"
    timed engine.apply "$rtpbuild" apply "$dir/client" "$dir/engine.rtp"
    [ "$(same diff -r -q "$dir/client" "$new")" = yes ] || ok=no
  done
  echo "engine.verified $ok" >>"$raw"
  if [ "$wine_ok" = yes ]; then
    ok=yes
    for _ in $(seq "$runs"); do
      rm -rf "$dir/client" && cp -r "$old" "$dir/client"
      "$root/scripts/wine-run.sh" "$win/bin/engine_bench.exe" "$(winpath "$win/bin/patchw32.dll")" \
        "$(winpath "$dir/client")" "$(winpath "$dir/engine.rtp")" >"$dir/wine.txt" 2>&1 ||
        { cat "$dir/wine.txt" >&2; die "engine_bench failed under Wine on $pair"; }
      tr -d '\r' <"$dir/wine.txt" | awk '$1 == "seconds" { s = $2 } $1 == "peak_private_bytes" { p = $2 }
        END { printf "engine-wine.apply %s %d\n", s, p / 1024 }' >>"$raw"
      [ "$(same diff -r -q "$dir/client" "$new")" = yes ] || ok=no
    done
    echo "engine-wine.verified $ok" >>"$raw"
    echo "engine-wine.i386 $("$root/scripts/emulator.sh" mode)" >>"$raw"
  else
    echo "engine-wine.skipped wine: cannot run here" >>"$raw"
  fi
  if grep -q '^engine\(-wine\)\?\.verified no' "$raw"; then
    echo "bench-delta: the engine's result differs from the new folder on $pair" >&2
    failed+=("$pair")
  fi

  # The reference: a plain copy of the new folder with 1 MiB reads and writes that syncs each file, as
  # the engine does, once untimed to warm the cache.
  rm -rf "$dir/client" && python3 "$root/bench/tools/copy_tree.py" "$new" "$dir/client"
  for _ in $(seq "$runs"); do
    rm -rf "$dir/client"
    timed copy.apply python3 "$root/bench/tools/copy_tree.py" --sync "$new" "$dir/client"
  done
  rm -rf "$dir/client" "$dir/time.txt" "$dir/stderr.txt"
  cd "$root"
  measured+=("$raw")
done

[ ${#measured[@]} -gt 0 ] || die "no pair could be measured"
echo
python3 "$root/bench/tools/delta_table.py" "${measured[@]}"
echo "raw figures: $work/results"
[ ${#failed[@]} -eq 0 ] || die "engine not verified on: ${failed[*]}"
