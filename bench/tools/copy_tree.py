#!/usr/bin/env python3
"""The apply reference of bench-delta.sh: copies a folder with plain 1 MiB reads and writes, as a program
that writes the new files itself would (cp may hand the work to the kernel's copy_file_range instead)."""
import os
import sys

CHUNK = 1 << 20


def copy_tree(source, target):
    for folder, _, files in os.walk(source):
        into = os.path.join(target, os.path.relpath(folder, source))
        os.makedirs(into, exist_ok=True)
        for name in files:
            with open(os.path.join(folder, name), "rb", buffering=0) as src, \
                    open(os.path.join(into, name), "wb", buffering=0) as dst:
                while True:
                    piece = src.read(CHUNK)
                    if not piece:
                        break
                    dst.write(piece)


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit("usage: copy_tree.py SOURCE TARGET")
    copy_tree(sys.argv[1], sys.argv[2])
