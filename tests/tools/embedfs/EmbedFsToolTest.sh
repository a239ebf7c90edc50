#!/usr/bin/env bash
# The operator's story with the embedfs tool: build an installer from a host and three files, list it,
# verify it against its sources, extract it, and see each wrong input refused with a message and a
# non-zero exit code, leaving no output behind.
#   EmbedFsToolTest.sh WORKDIR TOOL [TOOL_PREFIX_ARGS...]
# TOOL may be a runner followed by the program (the Windows build runs as: wine-run.sh embedfs.exe).
set -uo pipefail
work=${1:?usage: EmbedFsToolTest.sh WORKDIR TOOL...}
shift
tool=("$@")

source "$(dirname "${BASH_SOURCE[0]}")/../tool-checks.sh"

head -c 9000 /dev/zero | tr '\0' 'h' >host.exe
head -c 20000 /dev/zero | tr '\0' 'd' >patchw32.dll
printf '{\\rtf1 notes}' >notes.rtf
head -c 30000 /dev/zero | tr '\0' 'p' >patch.rtp

run --help
check "main help" is 0
check "main help names the commands" has "pack"
for command in pack list extract verify; do
  run "$command" --help
  check "$command --help exits 0" is 0
  check "$command --help shows its usage" has "usage: embedfs $command"
done
run frobnicate
check "unknown command is a usage error" is 2
check "unknown command is named" has 'unknown command "frobnicate"'

run pack host.exe installer.exe patchw32.dll patchnotes.rtf=notes.rtf ZAV.2.12.4526-2.12.4536.rtp=patch.rtp
check "pack succeeds" is 0
check "pack reports" has "packed 3 entries"

run list installer.exe
check "list succeeds" is 0
# Directory: 4 + (9+12) + (9+14) + (9+27) = 84 bytes after the 9000-byte host; data at 9084 = 0x237C.
check "list shows the layout" has "3 entries; directory at 0x2328, data at 0x237C"
check "list shows entry 0" grep -qE '^ +0 +patchw32\.dll +20000 +0x0000237C$' <<<"$out"
check "list shows entry 1" grep -qE '^ +1 +patchnotes\.rtf +13 +0x0000719C$' <<<"$out"
check "list shows entry 2" grep -qE '^ +2 +ZAV\.2\.12\.4526-2\.12\.4536\.rtp +30000 +0x000071A9$' <<<"$out"

run verify installer.exe patchw32.dll=patchw32.dll PATCHNOTES.RTF=notes.rtf ZAV.2.12.4526-2.12.4536.rtp=patch.rtp
check "verify against the sources succeeds" is 0
check "verify says OK" has "OK:"
cp patch.rtp patch2.rtp && printf 'q' | dd of=patch2.rtp bs=1 seek=777 conv=notrunc 2>/dev/null
run verify installer.exe ZAV.2.12.4526-2.12.4536.rtp=patch2.rtp
check "verify finds a changed byte" is 1
check "verify names the byte" has "differs from \"patch2.rtp\" at byte 777"

mkdir out
run extract -C out installer.exe
check "extract succeeds" is 0
check "extracted engine" cmp -s out/patchw32.dll patchw32.dll
check "extracted notes" cmp -s out/patchnotes.rtf notes.rtf
check "extracted patch" cmp -s out/ZAV.2.12.4526-2.12.4536.rtp patch.rtp
run extract -C out installer.exe patchw32.dll
check "extract refuses to overwrite" is 1
check "extract names --force" has "--force"
rm -f out/patchnotes.rtf
run extract -C out --force installer.exe PATCHNOTES.RTF
check "extract by name ignoring case" is 0
check "extracted by name" cmp -s out/patchnotes.rtf notes.rtf

cp host.exe plain.exe
run list plain.exe
check "a file without archive fails" is 1
check "and says why" has "no \"EmbedFs 1.0\" trailer"

run pack --pad-to 0x110000 host.exe padded.exe patchw32.dll
check "pack with padding" is 0
run list padded.exe
check "padded directory at 0x110000" has "directory at 0x110000, data at 0x110019"

rm -f refused.exe
run pack host.exe refused.exe sub/name=patchw32.dll
check "a name with a folder is refused" is 1
check "the folder refusal is explained" has "folder separator"
run pack host.exe refused.exe a.dll=patchw32.dll A.DLL=notes.rtf
check "case-equal names are refused" is 1
check "the case refusal names both" has '"a.dll" and "A.DLL"'
run pack host.exe refused.exe данные.txt=patchw32.dll ДАННЫЕ.TXT=notes.rtf
check "names equal ignoring Cyrillic case are refused" is 1
check "the Cyrillic case refusal says why" has "equal ignoring case"
run pack host.exe refused.exe Con.txt=patchw32.dll
check "a device name is refused" is 1
check "the device refusal is explained" has "device name"
head -c 100 /dev/zero >tiny.exe
run pack tiny.exe refused.exe notes.rtf
check "a result under 8192 bytes is refused" is 1
check "padding is advised" has "pad the host to at least"
run pack host.exe refused.exe missing.bin
check "a missing file is refused" is 1
check "the missing file is named" has "missing.bin"
run pack --pad-to banana host.exe refused.exe
check "a bad padding length is a usage error" is 2
run pack host.exe
check "pack without output is a usage error" is 2
check "no refused output was left" test ! -e refused.exe -a ! -e refused.exe.partial

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
