#!/usr/bin/env bash
# Prints the preset of the Windows tree that Wine can run here: "win" (the product's 32-bit programs), or
# "win64" (the same sources built for x64) on a kernel that cannot execute 32-bit programs but has 64-bit
# Wine. Exits 1, printing nothing, when Wine can run neither.
if wine --version >/dev/null 2>&1; then
  echo win
elif /usr/lib/wine/wine64 --version >/dev/null 2>&1; then
  echo win64
else
  exit 1
fi
