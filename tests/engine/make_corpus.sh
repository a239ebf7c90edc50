#!/usr/bin/env bash
# Writes the seed corpus of the fuzzers into fuzz_corpus/: small patches of every operation made by
# rtpbuild (their small streams held in the directory), one of text edited every few words, one whose
# difference stream is coded in two parts, one whose literals are coded after the old space in two parts,
# one whose differences are coded by the old bytes around them, a header of another version, an engine
# command line, a commit journal and a keep file.
# "format-N-..." there are patches of earlier formats, kept as they were written: the first is another
# version to a reader, the others still apply ("format-2-after-old" codes its literals after the old
# space). Run it again after changing the format:
#   make_corpus.sh BUILD/bin/rtpbuild
set -euo pipefail
tool=$(realpath "${1:?usage: make_corpus.sh RTPBUILD}")
here=$(cd "$(dirname "$0")" && pwd)
out=$here/fuzz_corpus
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
"$tool" build --quiet old new "$out/all-operations" >/dev/null
"$tool" build --quiet old old "$out/empty" >/dev/null
# Text edited every few words.
mkdir -p text-old text-new
awk 'BEGIN { for (i = 0; i < 4000; i++) printf "w%d%s", (i * 7919) % 3001, i % 7 ? " " : "\n" }' >text-old/a.txt
awk '{ for (i = 1; i <= NF; i++) printf "%s ", (i % 4 ? $i : "e" i) ; print "" }' text-old/a.txt >text-new/a.txt
"$tool" build --quiet text-old text-new "$out/after-old" >/dev/null
# A file of 3.2 MB changed every 16 bytes: its difference stream is large enough to be coded in two parts.
mkdir -p big-old big-new
LC_ALL=C awk 'BEGIN { for (i = 0; i < 3200000; i++) printf "%c", (i * 7919 % 65521) % 251 + 1 }' >big-old/big.dat
LC_ALL=C awk 'BEGIN { for (i = 0; i < 3200000; i++) printf "%c", (i * 7919 % 65521) % 251 + 1 + (i % 16 == 5) }' \
  >big-new/big.dat
"$tool" build --quiet big-old big-new "$out/two-parts" >/dev/null
# Calls whose 16-bit targets moved by 40 where their high byte says so: differences the old bytes tell.
mkdir -p calls-old calls-new
for side in old new; do
  LC_ALL=C awk -v side=$side 'BEGIN { s = 7; for (i = 0; i < 800; i++) { s = s * 75 % 65537; t = s % 65536
    if (side == "new" && int(t / 256) % 4 == 1) t = (t + 40) % 65536
    printf "%c%c%c%c", 232, t % 256, int(t / 256), i % 3 } }' >calls-$side/a.bin
done
"$tool" build --quiet calls-old calls-new "$out/differences" >/dev/null
# 2.2 MB of 10-byte pieces of a random old file, each followed by a byte: too short for covers, they are
# literals that compress only after the old space, and come to more than 2 MiB, so in two parts.
mkdir -p pieces-old pieces-new
LC_ALL=C awk 'BEGIN { s = 1; for (i = 0; i < 65536; i++) { s = (s * 1103515245 + 12345) % 2147483648
  b[i] = sprintf("%c", int(s / 65536) % 255 + 1); printf "%s", b[i] >"pieces-old/a.bin" }
  for (n = 0; n < 200000; n++) { k = n % 900; for (j = 0; j < 10; j++) printf "%s", b[k * 4657 % 65000 + j] \
    >"pieces-new/a.bin"; printf "%c", 33 + k % 50 >"pieces-new/a.bin" } }'
"$tool" build --quiet pieces-old pieces-new "$out/after-old-in-parts" >/dev/null
{ head -c 8 "$out/empty"; printf '\010'; tail -c +10 "$out/empty"; } >"$out/version-8"
printf '"C:\\Games\\ZAV" "C:\\Temp\\s1.1\\zav.2.12.4526-2.12.4536.rtp' >"$out/command-line"
printf 'TPJ1\0\0\0\0\020\002\001\007zav.exe\002\004gone\0\0\0\0' >"$out/journal"
# A keep file of two records (entry, size, CRC-32C, bytes), their sums left 0 as in a damaged one.
printf 'TPK1\0\0\0\0\014\0\0\0\0\0\0\0\0\0\0\0build=4526\r\n\001\0\0\0\004\0\0\0\0\0\0\0\0\0\0\0gone' >"$out/keep"
ls -l "$out"
