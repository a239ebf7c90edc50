#!/usr/bin/env bash
# Writes the seed corpus of the patch fuzzers into patch_parse_fuzz_corpus/: small patches of every
# operation and notice made by rtpbuild (format version 2, "-v2" names), a header of another version, an
# engine command line, a commit journal, a keep file and a recipe. The version-1 patches there were written by the first builder and
# are kept as they are: they prove that version 1 still reads. Run it again after changing the format:
#   make_corpus.sh BUILD/bin/rtpbuild
set -euo pipefail
tool=$(realpath "${1:?usage: make_corpus.sh RTPBUILD}")
here=$(cd "$(dirname "$0")" && pwd)
out=$here/patch_parse_fuzz_corpus
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

mkdir -p old/bin old/junk new/bin new/data
awk 'BEGIN { for (i = 0; i < 2000; i++) printf "%c", (i * 37) % 251 + 1 }' >old/bin/zav.exe
{ head -c 900 old/bin/zav.exe; printf 'patched!'; tail -c +909 old/bin/zav.exe; } >new/bin/zav.exe
printf 'build=4526\r\n' >old/common.ini
printf 'build=4536\r\n' >new/common.ini
printf 'gone' >old/junk/gone.txt
printf 'a new file' >new/data/new.pak

mkdir -p "$out"
"$tool" build old new "$out/all-operations-v2" >/dev/null
"$tool" build --announce 7 --biggest 52428800 --file-delay common.ini:5 --at before:common.ini \
  --notify-warning w1 --notify-warning2 w2 --notify-warning4 w4 --notify-detail d --notify 5:0x9000 \
  --at end --notify-locked 26 --notify-locked 28 --notify 99 --pause 1 --notify-error 36 \
  old new "$out/notices-v2"
"$tool" build --announce none old old "$out/empty-v2"
{ head -c 8 "$out/empty-v2"; printf '\003'; tail -c +10 "$out/empty-v2"; } >"$out/version-3"
printf '"C:\\Games\\ZAV" "C:\\Temp\\s1.1\\zav.2.12.4526-2.12.4536.rtp' >"$out/command-line"
printf 'TPJ1\0\0\0\0\020\002\001\007zav.exe\002\004gone\0\0\0\0' >"$out/journal"
# A keep file of two records (entry, size, CRC-32C, bytes), their sums left 0 as in a damaged one.
printf 'TPK1\0\0\0\0\014\0\0\0\0\0\0\0\0\0\0\0build=4526\r\n\001\0\0\0\004\0\0\0\0\0\0\0\0\0\0\0gone' >"$out/keep"
printf 'biggest 52428800\nat end\nnotify-error-text Exception ept36\n# comment\r\nnotify 6:3\n' >"$out/recipe"
ls -l "$out"
