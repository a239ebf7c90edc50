#!/usr/bin/env bash
# The operator's story with rtpbuild: build a patch between two client folders, describe it, apply it
# and get the new folder byte for byte; then see each wrong client or
# damaged patch refused with the engine's error number, and each wrong input refused with a message and
# a non-zero exit code.
#   RtpBuildToolTest.sh WORKDIR TOOL [TOOL_PREFIX_ARGS...]
# TOOL may be a runner followed by the program (the Windows build runs as: wine-run.sh rtpbuild.exe).
set -uo pipefail
work=${1:?usage: RtpBuildToolTest.sh WORKDIR TOOL...}
shift
tool=("$@")

source "$(dirname "${BASH_SOURCE[0]}")/../tool-checks.sh"
same() { diff -r "$1" "$2" >/dev/null; }

# Deterministic bytes: N bytes of a counter pattern mixed with a seed.
bytes() { awk -v n="$1" -v s="$2" 'BEGIN { for (i = 0; i < n; i++) printf "%c", (i * 31 + s * 7 + int(i / 97)) % 251 + 1 }' LC_ALL=C; }

mkdir -p old/bin old/script old/junk new/bin new/script new/data
bytes 60000 1 >old/bin/zav.exe
{ head -c 30000 old/bin/zav.exe; printf 'version 2.12.4536'; tail -c +30018 old/bin/zav.exe; } >new/bin/zav.exe
printf 'build=4526\r\n' >old/common.ini
printf 'build=4536\r\n' >new/common.ini
bytes 5000 2 >old/script/compiled.code
cp old/script/compiled.code new/script/compiled.code
printf 'obsolete' >old/junk/gone.txt
bytes 3000 3 >new/data/new.pak

run --help
check "main help" is 0
check "main help names the commands" has "apply"
for command in build info apply verify; do
  run "$command" --help
  check "$command --help exits 0" is 0
  check "$command --help shows its usage" has "usage: rtpbuild $command"
done
run
check "no command is a usage error" is 2
run frobnicate
check "unknown command is a usage error" is 2
check "unknown command is named" has 'unknown command "frobnicate"'

run build old new p.rtp
check "build succeeds" is 0
check "build counts what it found" has "1 added, 2 patched, 1 deleted, 1 unchanged"
check "build reports the patch size and time" has " bytes in "
check "build prints no progress into a pipe" lacks "comparing the folders"
# On a terminal (made by script(1) natively; the Windows build's runner always pipes) one line moves on.
if [ ${#tool[@]} -eq 1 ] && command -v script >/dev/null; then
  out=$(script -qec "$(printf '%q ' "${tool[@]}" build old new tty.rtp)" /dev/null)
  code=$?
  check "build on a terminal shows its phases on one updating line" has $'\rmatching the new files: '
  out=$(script -qec "$(printf '%q ' "${tool[@]}" build --quiet old new tty.rtp)" /dev/null)
  check "build --quiet shows none" lacks "matching the new files"
fi
cp -r old old-before
run verify old new p.rtp
check "verify accepts the patch" is 0
check "verify says so" has "p.rtp: verified"
check "verify leaves the old folder as it was" same old old-before
run verify old old p.rtp
check "verify against the wrong new folder fails" is 1
check "verify names what differs" has "not in the new folder: data\\new.pak"
run info p.rtp old
check "info succeeds" is 0
check "info shows the format version" has "format version: 7"
check "info lists the deletion first" has "1 delete junk\\gone.txt"
check "info lists the patched file" has "2 patch bin\\zav.exe new 60000/"
check "info shows the cost: every written file staged at once, and the small old ones kept" has "cost: biggest 123032, new 63012, old 60020, files 4"
check "unchanged files are left out" lacks "compiled.code"

cp -r old client
run apply client p.rtp
check "apply succeeds" is 0
check "apply turns the old folder into the new one" same client new
check "apply announces four files" has "6 0x00000004"
check "apply reports the file start" has "7 bin\\zav.exe"
check "apply ends each file at full progress" has "5 0x00048000"
check "apply says what it did" has "9 Added data\\new.pak"

run apply client p.rtp
check "applying twice is refused" is 1
check "the patched client lacks the deleted file" has "3 Error ept15: file not found: an old file of 8 bytes"
cp -r old changed && printf 'X' | dd of=changed/bin/zav.exe bs=1 seek=100 conv=notrunc 2>/dev/null
run apply changed p.rtp
check "a changed client file is error 36" has "3 Error ept36: file does not match (size or CRC-32): bin\\zav.exe"
cp -r old missing && rm missing/common.ini
run apply missing p.rtp
check "a missing client file is error 15" has "3 Error ept15: file not found: an old file of 12 bytes"
check "nothing was written before the check failed" same missing/bin old/bin
run info "$(dirname "${BASH_SOURCE[0]}")/../../engine/fuzz_corpus/format-1-patch"
check "a patch of an earlier format is error 8" has "Error ept8: incompatible patch file version: format version 1"
run apply --abort-at 3 client2 p.rtp
check "a missing client folder is error 15" has "3 Error ept15: file not found: client folder"
cp -r old stopped
run apply --abort-at 3 stopped p.rtp
check "a stop request ends the run" is 1
check "nothing follows the stop" [ "$(grep -c '^[0-9]' <<<"$out")" -eq 3 ]

head -c $(( $(stat -c %s p.rtp) / 2 )) p.rtp >short.rtp
run info short.rtp
check "a truncated patch is refused" is 1
check "a truncated patch is error 9" has "Error ept9: patch file is corrupt"
run apply client short.rtp
check "applying a truncated patch sends error 9" has "3 Error ept9"
{ head -c 8 p.rtp; printf '\010'; tail -c +10 p.rtp; } >v8.rtp
run info v8.rtp
check "another format version is error 8" has "Error ept8: incompatible patch file version: format version 8"
run info nothere.rtp
check "a missing patch is refused" is 1

run build --max-memory 8 old new bad.rtp
check "a memory bound below 16 MiB is a usage error" is 2
run build --max-memory 64 old new little.rtp
check "a build in 64 MiB gives the same patch here" same p.rtp little.rtp
run build --frobnicate 1 old new bad.rtp
check "an unknown option is a usage error" is 2
run build old new
check "a missing output is a usage error" is 2
run build old nothere bad.rtp
check "a missing folder is refused" is 1
check "the missing folder is named" has "no such folder: nothere"
check "nothing is written for a refused build" [ ! -e bad.rtp ]
run build old new nothere/p.rtp
check "an output that cannot be written is refused" is 1

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
