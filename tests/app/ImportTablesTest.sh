#!/usr/bin/env bash
# Every shipped Windows binary imports only libraries that Windows maps from its own system section (the
# KnownDLLs), and the installer the common controls, which its manifest binds side by side: the loader
# resolves imports before the program's first line, so any other name would be looked for beside the
# installer first, where a planted copy may wait.
#   ImportTablesTest.sh WINDOWS-BIN-FOLDER
set -uo pipefail
bin=${1:?usage: ImportTablesTest.sh WINDOWS-BIN-FOLDER}
known="advapi32.dll gdi32.dll kernel32.dll msvcrt.dll ole32.dll oleaut32.dll shell32.dll user32.dll"
failures=0
for binary in Tesserine.exe patchw32.dll rtpbuild.exe embedfs.exe; do
  allowed=$known
  [ "$binary" = Tesserine.exe ] && allowed="$known comctl32.dll"
  if [ ! -f "$bin/$binary" ]; then
    echo "FAILED: $bin/$binary is missing (build the Windows tree first)"
    failures=$((failures + 1))
    continue
  fi
  imports=$(i686-w64-mingw32-objdump -p "$bin/$binary" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z')
  echo "$binary: $(echo $imports)"
  for name in $imports; do
    if [[ " $allowed " != *" $name "* ]]; then
      echo "FAILED: $binary imports $name, which is not a KnownDLL"
      failures=$((failures + 1))
    fi
  done
done
[ "$failures" -eq 0 ]
